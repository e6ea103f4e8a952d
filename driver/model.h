// Storage of the model: the problem sizes' limits and the twenty-six
// arrays that the main driver owns for the whole run.  All static, zero at
// program start; every routine views an array packed at its start, with
// the current sizes as leading dimension.
#pragma once

#include <cstdint>

namespace model {

// The largest sizes the dialogue accepts; the capacities below hold them.
inline constexpr int32_t kMaxLK = 20;
inline constexpr int32_t kMaxLT = 999;
inline constexpr int32_t kMaxLPT = 40;
inline constexpr int32_t kMaxNU = kMaxLK + kMaxLPT;
inline constexpr int32_t kMaxNU2 = 2 * kMaxNU;

inline constexpr int32_t kFrame = kMaxLK * kMaxLK;      // kk blocks and frame matrices
inline constexpr int32_t kCoupling = kMaxLK * kMaxLPT;  // kt and tk blocks
inline constexpr int32_t kParams = kMaxLPT * kMaxLPT;   // tt blocks
inline constexpr int32_t kSystem = kMaxNU * kMaxNU;     // complete-system matrices

extern double MS[kSystem], MR[kFrame], Mkk[kFrame], Mkt[kCoupling], Mtk[kCoupling], Mtt[kParams];
extern double CS[kSystem], CR[kFrame], Ckk[kFrame], Ckt[kCoupling], Ctk[kCoupling], Ctt[kParams];
extern double KS[kSystem], KR[kFrame], Kkk[kFrame], Kkt[kCoupling], Ktk[kCoupling], Ktt[kParams];
extern double PHI[kFrame], AE[2 * kFrame];
extern double PC[kMaxLK], PS[kMaxLK], OMEGA[kMaxLK];
extern double AC[kMaxLK], AS[kMaxLK], AMP[kMaxLK];

}  // namespace model
