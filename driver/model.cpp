#include "driver/model.h"

namespace model {

double MS[kSystem], MR[kFrame], Mkk[kFrame], Mkt[kCoupling], Mtk[kCoupling], Mtt[kParams];
double CS[kSystem], CR[kFrame], Ckk[kFrame], Ckt[kCoupling], Ctk[kCoupling], Ctt[kParams];
double KS[kSystem], KR[kFrame], Kkk[kFrame], Kkt[kCoupling], Ktk[kCoupling], Ktt[kParams];
double PHI[kFrame], AE[2 * kFrame];
double PC[kMaxLK], PS[kMaxLK], OMEGA[kMaxLK];
double AC[kMaxLK], AS[kMaxLK], AMP[kMaxLK];

}  // namespace model
