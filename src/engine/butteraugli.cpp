#include "engine/butteraugli.h"

#include <jxl/butteraugli.h>

#include <memory>

namespace tallox {
namespace {

constexpr uint32_t kMinSide = 8;

struct ApiDeleter {
    void operator()(JxlButteraugliApi* api) const { JxlButteraugliApiDestroy(api); }
};
struct ResultDeleter {
    void operator()(JxlButteraugliResult* result) const { JxlButteraugliResultDestroy(result); }
};

}  // namespace

MetricResult<ButteraugliDistances> Butteraugli(std::span<const uint8_t> reference,
                                               std::span<const uint8_t> distorted, uint32_t width,
                                               uint32_t height) {
    using Result = MetricResult<ButteraugliDistances>;
    const size_t bytes = size_t{width} * height * 3;
    if (reference.size() != bytes || distorted.size() != bytes) {
        return Result::Failed("images of different sizes for Butteraugli");
    }
    // libjxl 0.7 gives a distance of 0 for any image under 8 pixels on a side, however it
    // differs: no figure is better than a false one.
    if (width < kMinSide || height < kMinSide) {
        return Result::Failed("too small for Butteraugli");
    }
    // Without a parallel runner the library computes on the calling thread, so a row's time
    // is the metric's own on one core, like every other figure of the row.
    const std::unique_ptr<JxlButteraugliApi, ApiDeleter> api(JxlButteraugliApiCreate(nullptr));
    if (!api) {
        return Result::Failed("Butteraugli could not start");
    }
    const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    const std::unique_ptr<JxlButteraugliResult, ResultDeleter> result(
        JxlButteraugliCompute(api.get(), width, height, &format, reference.data(), bytes, &format,
                              distorted.data(), bytes));
    if (!result) {
        return Result::Failed("Butteraugli could not compare the images");
    }
    return Result::Of({JxlButteraugliResultGetMaxDistance(result.get()),
                       JxlButteraugliResultGetDistance(result.get(), 3.0f)});
}

}  // namespace tallox
