// Fuzz target for the factoring: a matrix of any values (not a number,
// infinities, denormals, pivots that fail anywhere) factored by every
// kernel this processor runs, on a 64-byte boundary and off it, against the
// plain loop: the same failing pivot and the same bits everywhere (two
// values that are not a number count as the same, whatever their payload).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "analysis/solve.h"
#include "tests/reference_decomp.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool same(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int32_t n = 1 + data[0] % 40;
    const bool raw = data[1] & 1;  // raw bit patterns, or small binary fractions
    const std::size_t offset = data[1] >> 1 & 7;
    data += 2;
    size -= 2;
    const std::size_t count = static_cast<std::size_t>(n) * n;
    std::vector<double> a0(count);
    for (std::size_t e = 0; e < count; ++e) {
        if (raw) {
            uint64_t bits = 0;
            for (int k = 0; k < 8; ++k) bits = bits << 8 | data[(e * 8 + k) % size];
            std::memcpy(&a0[e], &bits, sizeof bits);
        } else {
            a0[e] = (static_cast<int>(data[e % size]) - 128) / 8.0;
        }
    }
    std::vector<double> want = a0;
    double dwant = 0;
    int32_t iwant = 0;
    reference_decomp(want.data(), n, dwant, iwant);

    std::vector<double> room(count + 16);
    double* at = room.data();
    while (reinterpret_cast<std::uintptr_t>(at) % 64 != 0) ++at;
    at += offset;
    for (int width : {2, 4, 8}) {
        if (width > solve_kernels::decomp_width()) continue;
        const solve_kernels::kernel_set* set = solve_kernels::kernels_for(width);
        check(set != nullptr);
        for (solve_kernels::decomp_fn kernel : {set->decomp, set->decomp_any}) {
            std::memcpy(at, a0.data(), count * sizeof(double));
            double d = -1;
            int32_t i = -1;
            kernel(at, n, d, i);
            check(i == iwant && same(d, dwant));
            for (std::size_t e = 0; e < count; ++e) check(same(at[e], want[e]));
        }
    }
    return 0;
}
