#!/usr/bin/python3
"""The NumPy peer of varnostik's resonance sweep, for the performance table.

Reads a data file recorded by varnostik, forms the complete system as the
program does (Rayleigh damping of the frame from the two modal ratios, the
damper blocks around it), then sweeps LAMBDA and solves every step, the way
a user would write it with NumPy:

  real     the real system of order 2 NU at every step, numpy.linalg.solve
  complex  the complex system of order NU, CHUNK steps solved at once by one
           stacked numpy.linalg.solve

Run it with OpenBLAS on one thread, so that it is compared core for core:

  OPENBLAS_NUM_THREADS=1 bench/peer_numpy.py DATAFILE [real|complex] [CHUNK]

It prints the time of the sweep alone (reading and the modal analysis not
included) and a checksum of the amplitudes.  Needs Debian's python3-numpy
and libopenblas0-pthread (tools/install-deps --bench).
"""
import re
import sys
import time

import numpy as np

FIELD = 14  # two blanks and a number of twelve characters


def number(text):
    text = text.strip()
    if not text:
        return 0.0
    # Exponents of three digits are written without their letter.
    return float(re.sub(r"(?<=[0-9.])([+-]\d{3})$", r"E\1", text))


class DataFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.lines = f.read().decode("latin-1").splitlines()
        self.pos = 0

    def sizes(self):
        line = self.lines[self.pos]
        self.pos += 1
        return [int(v) for v in line.split()[:3]]

    def row(self, n):
        """One row record: n values, ten to a line."""
        values = []
        while len(values) < n:
            line = self.lines[self.pos]
            self.pos += 1
            take = min(10, n - len(values))
            values += [number(line[k * FIELD + 2:(k + 1) * FIELD]) for k in range(take)]
        return values

    def matrix(self, rows, cols):
        return np.array([self.row(cols) for _ in range(rows)], dtype=float)


def read_system(path):
    d = DataFile(path)
    lk, lt, lpt = d.sizes()
    mr, kr = d.matrix(lk, lk), d.matrix(lk, lk)
    gamma = d.row(2)
    blocks = {}
    for kind in "MCK":
        kk = np.zeros((lk, lk))
        kt = np.zeros((lk, lpt))
        tt = np.zeros((lpt, lpt))
        if lt > 0:
            kk = d.matrix(lk, lk)
            if lpt > 0:
                kt = d.matrix(lk, lpt)
                tt = d.matrix(lpt, lpt)
        blocks[kind] = (kk, kt, kt.T.copy(), tt)
    pc, ps = np.array(d.row(lk)), np.array(d.row(lk))
    lammin, lammax, dlam = d.row(3)

    # Rayleigh damping of the frame from its two lowest modes.
    lower = np.linalg.cholesky(mr)
    inv = np.linalg.inv(lower)
    omega = np.sqrt(np.linalg.eigvalsh(inv @ kr @ inv.T))
    w1, w2 = omega[0], omega[1]
    alpha = (w2 * gamma[0] - w1 * gamma[1]) * w1 * w2 * 2.0 / (w2 * w2 - w1 * w1)
    beta = (w2 * gamma[1] - w1 * gamma[0]) * 2.0 / (w2 * w2 - w1 * w1)
    cr = kr * beta + mr * alpha

    def assemble(frame, kind):
        kk, kt, tk, tt = blocks[kind]
        return np.block([[frame + kk, kt], [tk, tt]])

    ms, cs, ks = assemble(mr, "M"), assemble(cr, "C"), assemble(kr, "K")
    nu = lk + lpt
    p = np.zeros(nu, dtype=complex)
    p[:lk] = pc + 1j * ps
    return lk, ms, cs, ks, p, (lammin, lammax, dlam)


def lambdas(lammin, lammax, dlam):
    """LAMBDA accumulated by repeated addition, as the program does."""
    out = []
    lam = lammin - dlam
    while True:
        lam = dlam + lam
        out.append(lam)
        if not lammax > lam:
            return np.array(out)


def sweep_real(lk, ms, cs, ks, p, lams):
    nu = ms.shape[0]
    rhs = np.concatenate([p.real, p.imag])
    amp = np.empty((len(lams), lk))
    for s, lam in enumerate(lams):
        w = ks - (ms * lam) * lam
        v = cs * lam
        a = np.block([[w, v], [-v, w]])
        x = np.linalg.solve(a, rhs)
        amp[s] = np.hypot(x[:lk], x[nu:nu + lk])
    return amp


def sweep_complex(lk, ms, cs, ks, p, lams, chunk):
    amp = np.empty((len(lams), lk))
    for start in range(0, len(lams), chunk):
        lam = lams[start:start + chunk, None, None]
        # (K - l^2 M - i l C) z = PC + i PS gives z = a + i b.
        a = ks[None] - lam * lam * ms[None] - 1j * lam * cs[None]
        z = np.linalg.solve(a, np.broadcast_to(p, (len(lam), len(p)))[..., None])[..., 0]
        amp[start:start + len(lam)] = np.abs(z[:, :lk])
    return amp


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    variant = sys.argv[2] if len(sys.argv) > 2 else "real"
    chunk = int(sys.argv[3]) if len(sys.argv) > 3 else 256
    lk, ms, cs, ks, p, rng = read_system(sys.argv[1])
    lams = lambdas(*rng)
    start = time.perf_counter()
    if variant == "real":
        amp = sweep_real(lk, ms, cs, ks, p, lams)
    else:
        amp = sweep_complex(lk, ms, cs, ks, p, lams, chunk)
    seconds = time.perf_counter() - start
    print(f"{variant}: {len(lams)} steps of order {2 * ms.shape[0]} in {seconds:.3f} s, "
          f"largest amplitude {amp.max():.6e}")


if __name__ == "__main__":
    main()
