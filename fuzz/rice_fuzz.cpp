// EncodeRice on arbitrary bytes, the first byte picking the sample type (unsupported ones
// included): the form written decodes to the mapped samples, stays within len + 1 bytes, and
// leaves alone every byte it does not own.
#include <vector>

#include "codecs/working_block.h"
#include "codecs/rice.h"
#include "guarded_output.h"
#include "support/rice_decoder.h"

using namespace tallox;

namespace {

// Six supported types and two unsupported neighbours.
constexpr uint32_t kSampleTypes[] = {Signed8,  Unsigned8,  Signed16, Unsigned16,
                                     Signed32, Unsigned32, 0,        9};

uint32_t BitLength(uint32_t v) { return v == 0 ? 0 : 32 - static_cast<uint32_t>(__builtin_clz(v)); }

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

    const uint32_t width = test::RiceSampleWidth(sampleType);
    const uint32_t samples = width == 0 ? 0 : len / width;
    if (samples == 0) {
        FUZZ_CHECK(count == 0);
        CHECK_UNTOUCHED_FROM(output, 0);
        return 0;
    }
    // The writer never touches a byte past len, in either form.
    CHECK_UNTOUCHED_FROM(output, size_t{len} + 1);
    FUZZ_CHECK(count >= 2 && count <= len + 1);
    const std::optional<test::RiceDecoded> decoded =
        test::DecodeRice(output.Area(), count, len, sampleType);
    FUZZ_CHECK(decoded.has_value());
    const std::vector<uint32_t> values =
        test::MappedSamples(std::vector<uint8_t>(input, input + len), sampleType);
    FUZZ_CHECK(decoded->values == values);
    FUZZ_CHECK(count == (decoded->bits + 7) / 8);
    const uint64_t codedBits = UnboundedCodedBits(values);
    FUZZ_CHECK(decoded->raw == (codedBits >= 8 * (uint64_t{len} + 1)));
    if (decoded->raw) {
        FUZZ_CHECK(count == 1 + samples * width);
    } else {
        // Every code bit of the coded form was kept: none fell past the area.
        FUZZ_CHECK(decoded->bits == codedBits);
        CHECK_UNTOUCHED_FROM(output, count);
        CHECK_TAIL_BITS(output, decoded->bits);
    }
    return 0;
}
