#include "codecs/rice.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "codecs/detail/big_endian.h"
#include "codecs/detail/check.h"
#include "codecs/detail/rice_code.h"

// Compiled once per SIMD target; the encoder picks the best one the processor runs.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codecs/rice.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
// Bit lengths are on the path of every sample. Highway runs its AVX2 and AVX-512 targets only
// on processors that also have LZCNT, so those targets compute them with it instead of a
// slower bit scan (GCC; other compilers keep the bit scan).
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX2 && HWY_COMPILER_GCC_ACTUAL
#pragma GCC target("lzcnt")
#endif
namespace tallox {
namespace HWY_NAMESPACE {
namespace {

using detail::BitLength;
using detail::FetchMapped;
using detail::RiceBitWriter;

// The writer has filled all len + 1 bytes: the coded stream does not fit.
inline bool WriterFull(const RiceBitWriter& writer, uint32_t len) {
    return (writer.bitPos >> 3) > len;
}

// The low 8 * width bits of v, high byte first.
template <uint32_t width>
inline void StoreBigEndian(uint8_t* p, uint32_t v) {
    if constexpr (width == 1) {
        p[0] = static_cast<uint8_t>(v);
    } else if constexpr (width == 2) {
        p[0] = static_cast<uint8_t>(v >> 8);
        p[1] = static_cast<uint8_t>(v);
    } else {
        if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
        std::memcpy(p, &v, 4);
    }
}

// The coding pass's writer away from the stream's end. Codes gather at the top of a 64-bit
// accumulator; every flush stores all eight bytes at the byte being filled and advances by the
// whole bytes. Stores reach up to eight bytes ahead of the stream, which is sound only while
// the stream is sure to cover them later: each remaining sample adds at least one bit, so 64
// more samples to come do (and a stream cut at the byte limit has written every byte before
// it). Invariants between calls: pending <= 7, and the bits of acc below the top `pending`
// are zero.
struct WordWriter {
    uint8_t* ptr;
    uint64_t acc;
    uint32_t pending;
};

// Appends the low n bits of value, 1 <= n <= 56, then flushes.
[[gnu::always_inline]] inline void Put(WordWriter& w, uint32_t n, uint64_t value) {
    TALLOX_DCHECK(n >= 1 && n <= 56 && w.pending <= 7);
    w.pending += n;
    w.acc |= value << (64 - w.pending);
    detail::StoreBigEndian64(w.ptr, w.acc);
    w.ptr += w.pending >> 3;
    w.acc <<= w.pending & ~7u;
    w.pending &= 7;
}

// The same bits as detail::WriteRiceCode.
[[gnu::always_inline]] inline void PutRiceCode(WordWriter& w, uint32_t v, uint32_t k) {
    const uint64_t q = static_cast<uint64_t>(v) >> k;
    if (q <= 8) {
        // q ones, a zero, the remainder, at most 41 bits: v = q * 2^k + remainder, so adding
        // (2^(q+1) - 2 - q) * 2^k turns the quotient's bits into the prefix.
        const uint64_t code = v + ((((uint64_t{2} << q) - 2 - q)) << k);
        Put(w, static_cast<uint32_t>(q) + 1 + k, code);
        return;
    }
    const uint64_t remainder = v & ((uint64_t{1} << k) - 1);
    const auto r = static_cast<uint32_t>(q - 8);
    const uint32_t bits = BitLength(r);
    Put(w, 8 + bits, (uint64_t{1} << (8 + bits)) - 1);
    const uint64_t mantissa = r ^ (uint64_t{1} << (bits - 1));  // a zero, then r below its top
    if (bits + k <= 56) {
        Put(w, bits + k, mantissa << k | remainder);
    } else {
        Put(w, bits, mantissa);
        Put(w, k, remainder);
    }
}

// The k of sample j from the initial parameter or the ring of the 16 samples before it, whose
// running sum `ringSum` is kept as entries are replaced.
struct Parameter {
    uint32_t k0;
    uint32_t ring[16];
    uint32_t ringSum;

    uint32_t For(size_t j) const { return j < 16 ? k0 : (ringSum + 8) >> 4; }
    void Record(size_t j, uint32_t bits) {
        ringSum += bits - (j < 16 ? 0 : ring[j & 15]);
        ring[j & 15] = bits;
    }
};

template <uint32_t kType>
uint32_t EncodeTyped(const uint8_t* input, uint8_t* output, uint32_t len) {
    constexpr uint32_t width = detail::kRiceSampleBytes<kType>;
    const size_t n = len / width;
    if (n == 0) return 0;

    const size_t m = n < 16 ? n : 16;
    uint32_t sum = 0;
    for (size_t j = 0; j < m; ++j) sum += BitLength(FetchMapped<kType>(input, j));
    uint32_t k0 = static_cast<uint32_t>((sum + m / 2) / m);
    if (k0 == 0) k0 = 1;
    output[0] = static_cast<uint8_t>(k0);

    Parameter parameter{k0, {}, 0};
    WordWriter fast{output + 1, 0, 0};
    size_t j = 0;
    // A code takes at most 72 bits, so with 17 bytes left before the limit no bit is dropped,
    // the fit test cannot fail and every store stays inside; and 64 samples after this one
    // cover what the stores reach ahead.
    const size_t limit = static_cast<size_t>(len) + 1;
    if (n >= 65 && limit >= 1 + 17) {
        const size_t fastEnd = n - 64;
        const uint8_t* const ptrEnd = output + limit - 17;
        const size_t first = fastEnd < 16 ? fastEnd : 16;
        for (; j < first && fast.ptr <= ptrEnd; ++j) {
            const uint32_t v = FetchMapped<kType>(input, j);
            PutRiceCode(fast, v, k0);
            parameter.Record(j, BitLength(v));
        }
        // From sample 16 on, k is the rounded mean of the ring.
        uint32_t ringSum = parameter.ringSum;
        for (; j < fastEnd && fast.ptr <= ptrEnd; ++j) {
            const uint32_t v = FetchMapped<kType>(input, j);
            PutRiceCode(fast, v, (ringSum + 8) >> 4);
            const uint32_t bits = BitLength(v);
            ringSum += bits - parameter.ring[j & 15];
            parameter.ring[j & 15] = bits;
        }
        parameter.ringSum = ringSum;
        // Every store began at or before the last one, which stays inside the area.
        TALLOX_DCHECK(fast.ptr + 8 <= output + limit);
    }

    // The last flush left the pending bits at the top of the byte being filled.
    RiceBitWriter writer{output, 8 * static_cast<uint64_t>(fast.ptr - output) + fast.pending,
                         uint64_t{len} + 1};
    bool fits = true;
    for (; j < n; ++j) {
        if (WriterFull(writer, len)) {
            fits = false;
            break;
        }
        const uint32_t v = FetchMapped<kType>(input, j);
        detail::WriteRiceCode(writer, v, parameter.For(j));
        parameter.Record(j, BitLength(v));
    }
    TALLOX_DCHECK(writer.bitPos <= 8 * writer.byteLimit);
    if (fits && !WriterFull(writer, len)) return static_cast<uint32_t>((writer.bitPos + 7) / 8);

    // Raw form: the mapped values at full width, high byte first, over the coded bytes.
    output[0] = 0;
    uint8_t* out = output + 1;
    for (size_t i = 0; i < n; ++i, out += width)
        StoreBigEndian<width>(out, FetchMapped<kType>(input, i));
    return static_cast<uint32_t>(1 + n * width);
}

}  // namespace

// Returns the size of the form written; 0 for an unsupported type or no whole sample.
uint32_t EncodeRiceTyped(const uint8_t* input, uint8_t* output, uint32_t len, uint32_t sampleType) {
    return detail::ForRiceType(
        sampleType, [&]<uint32_t kType>() { return EncodeTyped<kType>(input, output, len); });
}

}  // namespace HWY_NAMESPACE
}  // namespace tallox
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tallox {

HWY_EXPORT(EncodeRiceTyped);

uint32_t EncodeRice(const uint8_t* input, uint8_t* output, uint32_t len, uint32_t sampleType) {
    return HWY_DYNAMIC_DISPATCH(EncodeRiceTyped)(input, output, len, sampleType);
}

}  // namespace tallox
#endif  // HWY_ONCE
