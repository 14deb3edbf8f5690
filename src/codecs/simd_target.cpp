#include "codecs/simd_target.h"

#include <hwy/targets.h>

namespace tallox {

const char* SimdTargetName() {
    // The lowest bit is the best target, the one every dynamic dispatch picks.
    const int64_t targets = hwy::SupportedTargets() & HWY_TARGETS;
    return hwy::TargetName(targets & -targets);
}

}  // namespace tallox
