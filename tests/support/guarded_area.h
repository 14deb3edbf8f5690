// The output areas of the codec tests: prefilled with one byte value, so that a byte an encoder
// writes past its count shows as a changed byte.
#pragma once
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tallox::test {

inline constexpr uint8_t kAreaFill = 0xA5;

// Success when every byte of `area` from `count` up to `end` (the whole area by default) still
// holds kAreaFill; otherwise a failure naming the first one written.
inline ::testing::AssertionResult UntouchedFrom(const std::vector<uint8_t>& area, size_t count,
                                                size_t end = SIZE_MAX) {
    for (size_t i = count; i < area.size() && i < end; ++i) {
        if (area[i] != kAreaFill) {
            return ::testing::AssertionFailure()
                   << "byte " << i << " past the count " << count << " was written";
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace tallox::test
