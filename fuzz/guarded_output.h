// The output area an encoder writes into under fuzzing, fenced by guard bytes on both sides and
// prefilled with a position-dependent pattern, so that a write outside the area, or inside it
// but past the returned count, shows as a changed byte.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace tallox::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

}  // namespace tallox::fuzz

// Aborts the fuzz run, so libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                   \
    do {                                                                        \
        if (!(condition)) ::tallox::fuzz::Fail(#condition, __FILE__, __LINE__); \
    } while (false)

namespace tallox::fuzz {

class GuardedOutput {
public:
    static constexpr size_t kGuardBytes = 64;

    explicit GuardedOutput(size_t areaSize)
        : m_areaSize(areaSize), m_bytes(areaSize + 2 * kGuardBytes) {
        for (size_t i = 0; i < m_bytes.size(); ++i) m_bytes[i] = PatternAt(i);
    }

    uint8_t* Area() { return m_bytes.data() + kGuardBytes; }
    const uint8_t* Area() const { return m_bytes.data() + kGuardBytes; }

    // The byte the area held at `offset` before the encoder ran.
    static uint8_t AreaPatternAt(size_t offset) { return PatternAt(offset + kGuardBytes); }

    // Both guards intact, and every area byte from `from` on as it was prefilled.
    void CheckUntouchedFrom(size_t from, const char* file, int line) const {
        for (size_t i = 0; i < kGuardBytes; ++i) {
            if (m_bytes[i] != PatternAt(i)) Fail("guard before the output area", file, line);
        }
        for (size_t i = kGuardBytes + m_areaSize; i < m_bytes.size(); ++i) {
            if (m_bytes[i] != PatternAt(i)) Fail("guard after the output area", file, line);
        }
        for (size_t i = from; i < m_areaSize; ++i) {
            if (Area()[i] != AreaPatternAt(i)) Fail("output byte past the count", file, line);
        }
    }

    // The bits of the last byte that a bit stream of `bits` bits leaves unwritten still hold
    // the prefilled pattern (writers set or clear single bits).
    void CheckTailBits(uint64_t bits, const char* file, int line) const {
        const uint32_t used = static_cast<uint32_t>(bits % 8);
        if (used == 0) return;
        const size_t last = static_cast<size_t>(bits / 8);
        const uint8_t mask = static_cast<uint8_t>(0xFFu >> used);
        if ((Area()[last] & mask) != (AreaPatternAt(last) & mask)) {
            Fail("unwritten low bits of the last byte", file, line);
        }
    }

private:
    // Mixed bits that change from byte to byte, so shifted or cleared writes show.
    static uint8_t PatternAt(size_t i) {
        return static_cast<uint8_t>(0xA5u ^ (i * 0x3Bu) ^ (i >> 8));
    }

    size_t m_areaSize;
    std::vector<uint8_t> m_bytes;
};

}  // namespace tallox::fuzz

#define CHECK_UNTOUCHED_FROM(output, from) (output).CheckUntouchedFrom((from), __FILE__, __LINE__)
#define CHECK_TAIL_BITS(output, bits) (output).CheckTailBits((bits), __FILE__, __LINE__)
