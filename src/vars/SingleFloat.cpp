#include "vars/SingleFloat.h"

#include <bit>
#include <cfloat>
#include <cmath>

namespace zelto {

bool TryDoubleToSingle(double value, float& single) {
    if (!std::isfinite(value) || std::fabs(value) <= FLT_MAX) {
        single = static_cast<float>(value);
        return true;
    }
    // Above FLT_MAX: up to half an ulp above it still rounds down to FLT_MAX; the midpoint itself rounds to
    // even, which is the infinity (FLT_MAX has an odd mantissa). Converting such a value with a cast would be
    // undefined, so it is decided here.
    constexpr double kOverflowThreshold = 0x1.ffffffp127;  // 2^128 - 2^103
    if (std::fabs(value) >= kOverflowThreshold) return false;
    single = value < 0 ? -FLT_MAX : FLT_MAX;
    return true;
}

uint32_t SingleToBits(float single) { return std::bit_cast<uint32_t>(single); }
float SingleFromBits(uint32_t bits) { return std::bit_cast<float>(bits); }

}  // namespace zelto
