#include "codecs/rice.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "codecs/detail/rice_paths.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define TALLOX_RICE_HAS_LZCNT_PATH 1
#endif

namespace tallox {

namespace {

template <uint32_t kType>
constexpr uint32_t kSampleBytes = kType == Signed8 || kType == Unsigned8     ? 1
                                  : kType == Signed16 || kType == Unsigned16 ? 2
                                                                             : 4;

// Bits up to the highest set one; 2v + 1 is never 0, so no zero test is needed (one bsr or
// lzcnt instruction).
inline uint32_t BitLength(uint32_t v) {
    return 63u - static_cast<uint32_t>(__builtin_clzll(2 * static_cast<uint64_t>(v) + 1));
}

inline uint32_t ZigZag(uint32_t x) { return (x << 1) ^ (0u - (x >> 31)); }

// The mapped value of sample i of a supported type.
template <uint32_t kType>
inline uint32_t Fetch(const uint8_t* input, size_t i) {
    const uint8_t* p = input + i * kSampleBytes<kType>;
    if constexpr (kType == Signed8) {
        return ZigZag(static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(p[0]))));
    } else if constexpr (kType == Unsigned8) {
        return p[0];
    } else if constexpr (kType == Signed16 || kType == Unsigned16) {
        const auto x = static_cast<uint16_t>(p[0] | (p[1] << 8));
        if constexpr (kType == Signed16) {
            return ZigZag(static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(x))));
        }
        return x;
    } else {
        uint32_t x;
        std::memcpy(&x, p, 4);
        if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap32(x);
        if constexpr (kType == Signed32) return ZigZag(x);
        return x;
    }
}

inline void PutBit(RiceBitWriter& writer, uint32_t bit) {
    const uint64_t byte = writer.bitPos >> 3;
    if (byte >= writer.byteLimit) return;
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (writer.bitPos & 7));
    if (bit) {
        writer.base[byte] |= mask;
    } else {
        writer.base[byte] &= static_cast<uint8_t>(~mask);
    }
    ++writer.bitPos;
}

inline void PutBits(RiceBitWriter& writer, uint32_t n, uint64_t value) {
    for (uint32_t i = n; i > 0; --i) PutBit(writer, static_cast<uint32_t>(value >> (i - 1)) & 1u);
}

inline void PutRiceCode(RiceBitWriter& writer, uint32_t v, uint32_t k) {
    const uint64_t q = static_cast<uint64_t>(v) >> k;
    if (q <= 8) {
        for (uint64_t i = 0; i < q; ++i) PutBit(writer, 1);
        PutBit(writer, 0);
    } else {
        // Escape: eight ones, then r = q - 8 as L ones, a zero and r's L - 1 low bits.
        const auto r = static_cast<uint32_t>(q - 8);
        const uint32_t bits = BitLength(r);
        for (uint32_t i = 0; i < 8 + bits; ++i) PutBit(writer, 1);
        PutBit(writer, 0);
        PutBits(writer, bits - 1, r);
    }
    PutBits(writer, k, v);
}

// The writer has filled all len + 1 bytes: the coded stream does not fit.
inline bool WriterFull(const RiceBitWriter& writer, uint32_t len) {
    return (writer.bitPos >> 3) > len;
}

inline void StoreBigEndian64(uint8_t* p, uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
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
    w.pending += n;
    w.acc |= value << (64 - w.pending);
    StoreBigEndian64(w.ptr, w.acc);
    w.ptr += w.pending >> 3;
    w.acc <<= w.pending & ~7u;
    w.pending &= 7;
}

// The same bits as PutRiceCode through the bounded writer.
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
[[gnu::always_inline]] inline uint32_t EncodeTyped(const uint8_t* input, uint8_t* output,
                                                   uint32_t len) {
    constexpr uint32_t width = kSampleBytes<kType>;
    const size_t n = len / width;
    if (n == 0) return 0;

    const size_t m = n < 16 ? n : 16;
    uint32_t sum = 0;
    for (size_t j = 0; j < m; ++j) sum += BitLength(Fetch<kType>(input, j));
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
            const uint32_t v = Fetch<kType>(input, j);
            PutRiceCode(fast, v, k0);
            parameter.Record(j, BitLength(v));
        }
        // From sample 16 on, k is the rounded mean of the ring.
        uint32_t ringSum = parameter.ringSum;
        for (; j < fastEnd && fast.ptr <= ptrEnd; ++j) {
            const uint32_t v = Fetch<kType>(input, j);
            PutRiceCode(fast, v, (ringSum + 8) >> 4);
            const uint32_t bits = BitLength(v);
            ringSum += bits - parameter.ring[j & 15];
            parameter.ring[j & 15] = bits;
        }
        parameter.ringSum = ringSum;
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
        const uint32_t v = Fetch<kType>(input, j);
        PutRiceCode(writer, v, parameter.For(j));
        parameter.Record(j, BitLength(v));
    }
    if (fits && !WriterFull(writer, len)) return static_cast<uint32_t>((writer.bitPos + 7) / 8);

    // Raw form: the mapped values at full width, high byte first, over the coded bytes.
    output[0] = 0;
    uint8_t* out = output + 1;
    for (size_t i = 0; i < n; ++i, out += width) StoreBigEndian<width>(out, Fetch<kType>(input, i));
    return static_cast<uint32_t>(1 + n * width);
}

template <uint32_t kType>
uint32_t EncodePortable(const uint8_t* input, uint8_t* output, uint32_t len) {
    return EncodeTyped<kType>(input, output, len);
}

// Bit lengths are on the path of every sample; where the processor has it, lzcnt computes
// them in one fast instruction instead of a slower bit scan.
#ifdef TALLOX_RICE_HAS_LZCNT_PATH
template <uint32_t kType>
[[gnu::target("lzcnt")]] uint32_t EncodeLzcnt(const uint8_t* input, uint8_t* output, uint32_t len) {
    return EncodeTyped<kType>(input, output, len);
}

bool HasLzcnt() {
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        return __get_cpuid(0x80000001u, &a, &b, &c, &d) != 0 && (c & bit_LZCNT) != 0;
    }();
    return has;
}
#endif

template <uint32_t kType>
uint32_t Encode(const uint8_t* input, uint8_t* output, uint32_t len) {
#ifdef TALLOX_RICE_HAS_LZCNT_PATH
    if (HasLzcnt()) return EncodeLzcnt<kType>(input, output, len);
#endif
    return EncodePortable<kType>(input, output, len);
}

// Calls encode.operator()<type>() for a supported type; 0 for any other.
template <typename Encoder>
uint32_t ForType(uint32_t sampleType, Encoder encode) {
    switch (sampleType) {
        case Signed8:
            return encode.template operator()<Signed8>();
        case Unsigned8:
            return encode.template operator()<Unsigned8>();
        case Signed16:
            return encode.template operator()<Signed16>();
        case Unsigned16:
            return encode.template operator()<Unsigned16>();
        case Signed32:
            return encode.template operator()<Signed32>();
        case Unsigned32:
            return encode.template operator()<Unsigned32>();
        default:
            return 0;
    }
}

}  // namespace

uint32_t SignificantBits(uint32_t v) { return BitLength(v); }

uint32_t FetchMappedSample(const uint8_t* input, uint32_t i, uint32_t sampleType) {
    return ForType(sampleType, [&]<uint32_t kType>() { return Fetch<kType>(input, i); });
}

void WriteBit(RiceBitWriter& writer, uint32_t bit) { PutBit(writer, bit); }

void WriteRiceCode(RiceBitWriter& writer, uint32_t v, uint32_t k) { PutRiceCode(writer, v, k); }

uint32_t EncodeRice(const uint8_t* input, uint8_t* output, uint32_t len, uint32_t sampleType) {
    return ForType(sampleType, [&]<uint32_t kType>() { return Encode<kType>(input, output, len); });
}

namespace detail {

uint32_t EncodeRicePortable(const uint8_t* input, uint8_t* output, uint32_t len,
                            uint32_t sampleType) {
    return ForType(sampleType,
                   [&]<uint32_t kType>() { return EncodePortable<kType>(input, output, len); });
}

}  // namespace detail

}  // namespace tallox
