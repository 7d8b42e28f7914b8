#include "core/globals.h"

std::atomic<int32_t> gWritingSD{0};
std::atomic<int32_t> gPowerLossStatus{0};
std::atomic<int32_t> gSDFailed{0};
std::atomic<int32_t> gSuccessiveTrg{0};
std::atomic<int32_t> gSuccessiveTrgType{0};
std::atomic<int32_t> gCheckPowerRecovery{1};
