// EncodeRice on arbitrary bytes, the first byte picking the sample type (unsupported ones
// included): the form written decodes to the samples, stays within len + 1 bytes, and leaves
// alone every byte it does not own. DecodeRice on the same bytes as a stream stays inside its
// output.
#include <cstring>
#include <vector>

#include "codecs/detail/rice_code.h"
#include "codecs/working_block.h"
#include "codecs/rice.h"
#include "guarded_output.h"

using namespace tallox;

namespace {

// Six supported types and two unsupported neighbours.
constexpr uint32_t kSampleTypes[] = {Signed8,  Unsigned8,  Signed16, Unsigned16,
                                     Signed32, Unsigned32, 0,        9};

uint32_t BitLength(uint32_t v) { return v == 0 ? 0 : 32 - static_cast<uint32_t>(__builtin_clz(v)); }

uint32_t Width(uint32_t sampleType) {
    return detail::ForRiceType(sampleType,
                               []<uint32_t kType>() { return detail::kRiceSampleBytes<kType>; });
}

// The mapped value of every whole sample.
std::vector<uint32_t> MappedSamples(const uint8_t* input, uint32_t samples, uint32_t sampleType) {
    std::vector<uint32_t> values(samples);
    detail::ForRiceType(sampleType, [&]<uint32_t kType>() {
        for (uint32_t i = 0; i < samples; ++i) values[i] = detail::FetchMapped<kType>(input, i);
        return 0u;
    });
    return values;
}

// Length of the whole coded form, header included, as if the area had no end: the parameter
// rule and the code lengths worked out apart from the encoder, which must fall back to the raw
// form exactly when this does not fit in len + 1 bytes.
uint64_t UnboundedCodedBits(const std::vector<uint32_t>& values) {
    const size_t m = values.size() < 16 ? values.size() : 16;
    uint32_t sum = 0;
    for (size_t j = 0; j < m; ++j) sum += BitLength(values[j]);
    uint32_t k = static_cast<uint32_t>((sum + m / 2) / m);
    if (k == 0) k = 1;
    uint64_t bits = 8;
    for (size_t j = 0; j < values.size(); ++j) {
        if (j >= 16) {
            sum = 0;
            for (size_t e = j - 16; e < j; ++e) sum += BitLength(values[e]);
            k = (sum + 8) / 16;
        }
        const uint32_t q = k == 32 ? 0 : values[j] >> k;
        // Up to 8 ones and a zero; above that eight ones, then q - 8 Elias-gamma style.
        bits += (q <= 8 ? q + 1 : 8 + 2 * BitLength(q - 8)) + k;
    }
    return bits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size - 1 > UINT32_MAX) return 0;
    const uint32_t sampleType = kSampleTypes[data[0] % std::size(kSampleTypes)];
    const uint8_t* input = data + 1;
    const uint32_t len = static_cast<uint32_t>(size - 1);
    fuzz::GuardedOutput output(WorkingBlockSize(len) - len);
    const uint32_t count = EncodeRice(input, output.Area(), len, sampleType);

    const uint32_t width = Width(sampleType);
    const uint32_t samples = width == 0 ? 0 : len / width;
    // Arbitrary bytes as a stream: whatever it decodes to stays inside the whole samples.
    fuzz::GuardedOutput arbitrary(size_t{samples} * width);
    DecodeRice(input, len, arbitrary.Area(), len, sampleType);
    CHECK_UNTOUCHED_FROM(arbitrary, size_t{samples} * width);
    if (samples == 0) {
        FUZZ_CHECK(count == 0);
        CHECK_UNTOUCHED_FROM(output, 0);
        return 0;
    }
    // The writer never touches a byte past len, in either form.
    CHECK_UNTOUCHED_FROM(output, size_t{len} + 1);
    FUZZ_CHECK(count >= 2 && count <= len + 1);
    std::vector<uint8_t> decoded(size_t{samples} * width);
    FUZZ_CHECK(DecodeRice(output.Area(), count, decoded.data(), len, sampleType) ==
               samples * width);
    FUZZ_CHECK(std::memcmp(decoded.data(), input, decoded.size()) == 0);
    const uint64_t codedBits = UnboundedCodedBits(MappedSamples(input, samples, sampleType));
    const bool raw = output.Area()[0] == 0;
    FUZZ_CHECK(raw == (codedBits >= 8 * (uint64_t{len} + 1)));
    if (raw) {
        FUZZ_CHECK(count == 1 + samples * width);
    } else {
        // Every code bit of the coded form was kept: none fell past the area.
        FUZZ_CHECK(count == (codedBits + 7) / 8);
        CHECK_UNTOUCHED_FROM(output, count);
        CHECK_TAIL_BITS(output, codedBits);
    }
    return 0;
}
