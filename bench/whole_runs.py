#!/usr/bin/env python3
"""Whole runs interleaved, for the performance table: this build of the
program, another build of it (the landed one, say) and the expert's peer,
on the largest model and the typical one, on one thread and on two.

  bench/whole_runs.py PROGRAM OTHER PEER LARGEST TYPICAL [ROUNDS]

LARGEST is the data file of the largest model that bench_sweep names
(scale 1); TYPICAL is examples/rama20t, replayed with examples/rama20t.in.
Prints the shortest and the median time of each, the ratios, and whether
the two builds wrote the same results.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def main():
    program, other, peer, largest, typical = sys.argv[1:6]
    rounds = int(sys.argv[6]) if len(sys.argv) > 6 else 3
    with open(os.path.join(os.path.dirname(os.path.abspath(typical)), "rama20t.in")) as f:
        typical_answers = f.read()
    models = {
        "largest": (largest, "big", "big\nbigw\nbigr\n2\n3\n20 10 1\nx\n"),
        "typical": (typical, "rama20t", typical_answers),
    }
    builds = {"program": program, "other": other}
    work = tempfile.mkdtemp(prefix="varnostik_whole_")
    times = {}

    def run(who, model, threads):
        data, name, answers = models[model]
        folder = os.path.join(work, f"{who}-{model}-{threads}")
        os.makedirs(folder, exist_ok=True)
        shutil.copy(data, os.path.join(folder, name))
        env = dict(os.environ)
        env.pop("VARNOSTIK_THREADS", None)
        if who == "peer":
            env["OPENBLAS_NUM_THREADS"] = "1"
            cmd, given = [peer, name, name[:7] + "w", name[:7] + "r", str(threads), "20", "10", "1"], None
        else:
            env["VARNOSTIK_THREADS"] = str(threads)
            cmd, given = [builds[who]], answers.encode()
        start = time.perf_counter()
        subprocess.run(cmd, cwd=folder, env=env, input=given, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
        return time.perf_counter() - start

    for _ in range(rounds):
        for model in models:
            for threads in (1, 2):
                for who in ("program", "other", "peer"):
                    times.setdefault((model, threads, who), []).append(run(who, model, threads))
    for model in models:
        for threads in (1, 2):
            t = {who: times[(model, threads, who)] for who in ("program", "other", "peer")}
            print(f"{model} on {threads} thread(s): "
                  + ", ".join(f"{who} {min(v):.3f} s (median {statistics.median(v):.3f})" for who, v in t.items())
                  + f"; peer/program {min(t['peer']) / min(t['program']):.2f},"
                  + f" other/program {min(t['other']) / min(t['program']):.2f}")
        one, two = min(times[(model, 1, "program")]), min(times[(model, 2, "program")])
        print(f"{model}: two threads over one {one / two:.2f}")
    for model in models:
        name = models[model][1][:7] + "w"
        for threads in (1, 2):
            with open(os.path.join(work, f"program-{model}-{threads}", name), "rb") as a, \
                 open(os.path.join(work, f"other-{model}-{threads}", name), "rb") as b:
                print(f"{model} on {threads} thread(s): the builds' results the same bytes: {a.read() == b.read()}")
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
