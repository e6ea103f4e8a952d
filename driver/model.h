// Storage of the model: the problem sizes' limits and the twenty-six
// arrays that the main driver owns for the whole run.  All static, zero at
// program start; every routine views an array packed at its start, with
// the current sizes as leading dimension.
#pragma once

#include <cstdint>

#include "input/limits.h"

namespace model {

// The capacities hold the largest sizes the dialogue accepts.
inline constexpr int32_t kFrame = kMaxLK * kMaxLK;      // kk blocks and frame matrices
inline constexpr int32_t kCoupling = kMaxLK * kMaxLPT;  // kt and tk blocks
inline constexpr int32_t kParams = kMaxLPT * kMaxLPT;   // tt blocks
inline constexpr int32_t kSystem = kMaxNU * kMaxNU;     // complete-system matrices

extern double MS[kSystem], MR[kFrame], Mkk[kFrame], Mkt[kCoupling], Mtk[kCoupling], Mtt[kParams];
extern double CS[kSystem], CR[kFrame], Ckk[kFrame], Ckt[kCoupling], Ctk[kCoupling], Ctt[kParams];
extern double KS[kSystem], KR[kFrame], Kkk[kFrame], Kkt[kCoupling], Ktk[kCoupling], Ktt[kParams];
extern double PHI[kFrame], AE[2 * kFrame];
extern double PC[kMaxLK], PS[kMaxLK], OMEGA[kMaxLK];
static_assert(kMaxLK >= 2, "OMEGA holds the two lowest frequencies");
extern double AC[kMaxLK], AS[kMaxLK], AMP[kMaxLK];

}  // namespace model
