// The image load on arbitrary bytes, through the file path a run uses: an image whose size and
// pixel buffer agree, or none; never a crash. The runner caps single allocations at 1 GiB, the
// loader's own limit, so a lying header that slips past it shows as a finding. The same bytes
// go through the pixel codecs' image input, on a machine of 512 MiB so that its refusal of
// images too large for memory keeps its decodes under the runner's cap too.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "guarded_output.h"
#include "platform/image_input.h"
#include "platform/imaging.h"
#include "platform/memory.h"

using namespace tallox;

namespace {

std::string g_path;

// Qt is not instrumented, so nothing inside the decoder guides the mutations. libFuzzer counts
// these extra counters as coverage: one per pair of orders of magnitude of the loaded width and
// height (and one for no image), so an input that loads at a new size counts as new.
constexpr int kOrders = 17;
__attribute__((section("__libfuzzer_extra_counters"))) uint8_t g_outcomes[1 + kOrders * kOrders];
// The image input's outcomes the same way, per channel count (1, 3, 4), and one per kind of
// refusal, the message's words before its colon.
constexpr int kRefusalKinds = 16;
__attribute__((section("__libfuzzer_extra_counters")))
uint8_t g_inputOutcomes[kRefusalKinds + 3 * kOrders * kOrders];

int Order(uint32_t side) {
    int order = 0;
    while (side > 1 && order < kOrders - 1) {
        side >>= 1;
        ++order;
    }
    return order;
}

uint64_t HalfGiB() { return uint64_t{512} << 20; }
constexpr MemorySource kHalfGiB{&std::malloc, &std::free, &HalfGiB};

void DecodeInput(const uint8_t* data, size_t size, const std::optional<Image>& loaded) {
    const ImageResult result = DecodeImageBytes(data, size);
    if (const auto* error = std::get_if<ImageError>(&result)) {
        const std::string& message = error->message;
        FUZZ_CHECK(!message.empty());
        const std::string kind = message.substr(0, message.find(':'));
        g_inputOutcomes[std::hash<std::string>{}(kind) % kRefusalKinds] = 1;
        return;
    }
    const PixelImage& image = std::get<PixelImage>(result);
    FUZZ_CHECK(image.width > 0 && image.height > 0);
    FUZZ_CHECK(image.channels == 1 || image.channels == 3 || image.channels == 4);
    FUZZ_CHECK(image.samples.size() == uint64_t{image.width} * image.height * image.channels);
    const int channelKind = image.channels == 1 ? 0 : image.channels == 3 ? 1 : 2;
    g_inputOutcomes[kRefusalKinds + (channelKind * kOrders + Order(image.width)) * kOrders +
                    Order(image.height)] = 1;
    // Both read Qt's first frame: where both decode, they agree on its size.
    if (loaded) {
        FUZZ_CHECK(loaded->width == image.width && loaded->height == image.height);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static ImagingSession session;
    SetMemorySource(&kHalfGiB);
    const char* folder = std::getenv("TMPDIR");
    g_path = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
             "/tallox_image_fuzz_" + std::to_string(getpid()) + ".bmp";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(g_path.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
    FUZZ_CHECK(std::fclose(file) == 0);

    const std::optional<Image> image = PlatformImaging().Load(g_path);
    std::remove(g_path.c_str());
    if (!image) {
        g_outcomes[0] = 1;
    } else {
        g_outcomes[1 + Order(image->width) * kOrders + Order(image->height)] = 1;
        FUZZ_CHECK(image->width > 0 && image->height > 0);
        FUZZ_CHECK(image->rgb.size() == uint64_t{image->width} * image->height * 3);
        // Within the loader's limit the 24-bit size fits the report's 32-bit reference size.
        FUZZ_CHECK(image->rgb.size() <= (uint64_t{1} << 30));
    }
    DecodeInput(data, size, image);
    return 0;
}
