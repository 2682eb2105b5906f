#pragma once
// IEEE-754 single precision, the form in which a controller holds a real: conversion from a double by
// rounding to nearest, and the 32-bit pattern.
#include <cstdint>

namespace zelto {

// The single nearest to `value`. A finite value whose nearest single is an infinity (magnitude from
// 2^128 - 2^103 up) does not fit: false. Infinities and NaN pass through unchanged.
bool TryDoubleToSingle(double value, float& single);

uint32_t SingleToBits(float single);
float SingleFromBits(uint32_t bits);

}  // namespace zelto
