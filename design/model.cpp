#include "design/model.h"

#include <Eigen/Cholesky>
#include <cmath>
#include <cstddef>

#include "design/analysis_link.h"
#include "design/datafile.h"
#include "input/limits.h"

namespace design {

namespace {

void refuse_not_finite(const Description& d, const std::vector<double>& values, const char* what) {
    for (double v : values)
        if (!std::isfinite(v))
            throw Refused(where(d.path, d.frame_line, "frame", std::string(what) + " beyond the range of numbers"));
}

// The frame's modes, refused where the program would stop on them.
FrameModes checked_modes(const Description& d, const std::vector<double>& MR, const std::vector<double>& KR) {
    const int32_t LK = d.LK;
    // Named on the line that gave them.
    const std::string mass_key = d.shear_frame ? "frame.masses" : "frame.mass_matrix";
    const std::string stiffness_key = d.shear_frame ? "frame.stiffnesses" : "frame.stiffness_matrix";
    if (Eigen::LLT<Eigen::MatrixXd>(Eigen::Map<const Eigen::MatrixXd>(MR.data(), LK, LK)).info() != Eigen::Success)
        throw Refused(where(d.path, d.line_of(mass_key), mass_key, "the mass matrix is not positive definite"));
    const FrameModes modes = frame_modes(LK, MR, KR);
    for (int32_t i = 0; i < LK; ++i)
        if (!modes.converged || !std::isfinite(modes.OMEGA[static_cast<std::size_t>(i)]))
            throw Refused(where(d.path, d.line_of(stiffness_key), stiffness_key,
                                "the frame's natural frequencies cannot be computed (a mass or stiffness matrix "
                                "that is not positive definite)"));
    // The proportional damping divides by the difference of the squares of
    // the two lowest frequencies, as it rounds; where that is zero, or the
    // damping matrix overflows, the program would stop.
    const double w1 = modes.OMEGA[0], w2 = modes.OMEGA[1];
    if (w2 * w2 - w1 * w1 == 0.0)
        throw Refused(where(d.path, d.frame_line, "frame",
                            LK >= 2 ? "the two lowest natural frequencies are equal; the proportional damping "
                                      "divides by the difference of their squares"
                                    : "the natural frequency is zero; the proportional damping divides by its "
                                      "square"));
    for (double v : proportional_damping(LK, modes.OMEGA, d.GAMMA1, d.GAMMA2, MR, KR))
        if (!std::isfinite(v))
            throw Refused(where(d.path, d.line_of("frame.damping_ratios"), "frame.damping_ratios",
                                "the proportional damping matrix is beyond the range of numbers"));
    return modes;
}

}  // namespace

DamperBlocks damper_blocks(const Description& d, const std::vector<double>& OMEGA) {
    const std::size_t n = static_cast<std::size_t>(d.LK);
    const std::size_t p = d.tmds.size();
    DamperBlocks b;
    b.Mkk.assign(n * n, 0.0), b.Ckk.assign(n * n, 0.0), b.Kkk.assign(n * n, 0.0);
    b.Mkt.assign(n * p, 0.0), b.Ckt.assign(n * p, 0.0), b.Kkt.assign(n * p, 0.0);
    b.Mtt.assign(p * p, 0.0), b.Ctt.assign(p * p, 0.0), b.Ktt.assign(p * p, 0.0);
    for (std::size_t t = 0; t < p; ++t) {
        const TunedMass& m = d.tmds[t];
        const TmdValues v = tmd_values(m, OMEGA);
        if (!std::isfinite(v.stiffness) || !std::isfinite(v.damping))
            throw Refused(where(d.path, m.line, "tmd[" + std::to_string(t + 1) + "]",
                                "spring or dashpot beyond the range of numbers"));
        const std::size_t j = static_cast<std::size_t>(m.storey - 1);
        b.Mtt[t * p + t] = m.mass;
        b.Kkk[j * n + j] += v.stiffness;
        b.Kkt[t * n + j] = -v.stiffness;
        b.Ktt[t * p + t] = v.stiffness;
        b.Ckk[j * n + j] += v.damping;
        b.Ckt[t * n + j] = -v.damping;
        b.Ctt[t * p + t] = v.damping;
    }
    for (const Dashpot& dp : d.dashpots) {
        const std::size_t j = static_cast<std::size_t>(dp.storey - 1);
        b.Ckk[j * n + j] += dp.damping;
        if (j > 0) {
            b.Ckk[(j - 1) * n + j - 1] += dp.damping;
            b.Ckk[(j - 1) * n + j] -= dp.damping;
            b.Ckk[j * n + j - 1] -= dp.damping;
        }
    }
    return b;
}

Model build_model(const Description& d) {
    const int32_t LK = d.LK;
    const std::size_t n = static_cast<std::size_t>(LK);
    const int32_t LPT = static_cast<int32_t>(d.tmds.size());

    // The frame as recorded, and its modes: a tuned mass's frequency
    // refers to them.
    std::vector<double> MR(d.MR), KR(d.KR);
    for (double& v : MR) v = as_recorded(v);
    for (double& v : KR) v = as_recorded(v);
    refuse_not_finite(d, MR, "a mass");
    refuse_not_finite(d, KR, "a stiffness");
    const FrameModes modes = checked_modes(d, MR, KR);
    const DamperBlocks blocks = damper_blocks(d, modes.OMEGA);

    // The storeys' loads: the forces, or the ground's inertia -M r a_g.
    DataFileContent c;
    c.LK = LK;
    c.LPT = LPT;
    c.LT = LPT + static_cast<int32_t>(d.dashpots.size());
    c.MR = MR;
    c.KR = KR;
    c.GAMMA1 = d.GAMMA1;
    c.GAMMA2 = d.GAMMA2;
    c.dampers = &blocks;
    c.PC = d.PC;
    c.PS = d.PS;
    c.PC.resize(n, 0.0);
    c.PS.resize(n, 0.0);
    if (d.has_ground) {
        for (std::size_t i = 0; i < n; ++i) {
            double Mr = 0.0;
            for (std::size_t j = 0; j < n; ++j) Mr += MR[j * n + i] * d.influence[j];
            c.PC[i] = -Mr * d.ground_cos;
            c.PS[i] = -Mr * d.ground_sin;
        }
        refuse_not_finite(d, c.PC, "the ground's inertia force");
        refuse_not_finite(d, c.PS, "the ground's inertia force");
    }
    if (d.has_sweep) {
        c.LAMMIN = d.from;
        c.LAMMAX = d.to;
        c.DLAM = d.step;
    }

    Model m;
    read_data_file(data_file_text(c), m);
    if (d.has_sweep) {
        if (!(m.DLAM > 0))
            throw Refused(where(d.path, d.line_of("sweep.step"), "sweep.step", "is 0 as the data file records it"));
        if (sweep_lambdas(m.LAMMIN, m.LAMMAX, m.DLAM).empty())
            throw Refused(where(d.path, d.range_line, "sweep",
                                "a range of more than " + std::to_string(kMaxSweepSteps) + " steps"));
    }
    m.plot = d.plot;
    for (const TunedMass& t : d.tmds) m.tmd_storey.push_back(t.storey);
    m.shear_frame = d.shear_frame;
    m.heights = d.heights;
    m.units = d.units;
    m.ground = d.has_ground;
    m.ground_cos = d.ground_cos;
    m.ground_sin = d.ground_sin;
    m.has_sweep = d.has_sweep;
    m.force_psd = d.force_psd;
    m.ground_psd = d.ground_psd;
    m.random_ground = d.random_ground;

    m.OMEGA = modes.OMEGA;
    m.PHI = modes.PHI;
    m.CR = proportional_damping(m.LK, m.OMEGA, m.GAMMA1, m.GAMMA2, m.MR, m.KR);
    m.MS = assemble(m.LK, m.LPT, m.MR, m.Mkk, m.Mkt, m.Mtk, m.Mtt);
    m.CS = assemble(m.LK, m.LPT, m.CR, m.Ckk, m.Ckt, m.Ctk, m.Ctt);
    m.KS = assemble(m.LK, m.LPT, m.KR, m.Kkk, m.Kkt, m.Ktk, m.Ktt);

    m.load_cos = m.PC;
    m.load_sin = m.PS;
    m.load_cos.resize(static_cast<std::size_t>(m.NU), 0.0);
    m.load_sin.resize(static_cast<std::size_t>(m.NU), 0.0);
    if (!d.influence.empty()) {
        m.influence = d.influence;
        for (const TunedMass& t : d.tmds) m.influence.push_back(d.influence[static_cast<std::size_t>(t.storey - 1)]);
    }
    if (d.has_ground) {
        for (std::size_t t = 0; t < d.tmds.size(); ++t) {
            const std::size_t p = d.tmds.size();
            const double mr = m.Mtt[t * p + t] * m.influence[n + t];
            m.load_cos[n + t] = as_recorded(-mr * d.ground_cos);
            m.load_sin[n + t] = as_recorded(-mr * d.ground_sin);
        }
    }
    return m;
}

}  // namespace design
