#pragma once
// Measures the largest single allocation made through operator new in the test program, so that a test
// can show that a size read from input was not trusted for an allocation.
#include <cstddef>

namespace zelto::test {

void ResetLargestAllocation();
std::size_t LargestAllocation();

}  // namespace zelto::test
