// The instruction set the SIMD kernels run on here. Every kernel of the codecs is compiled for
// the same targets and dispatches at run time to the best one this processor supports, so one
// name holds for all of them.
#pragma once

namespace tallox {

// "AVX2", "SSE4", "NEON", ... or "EMU128"/"SCALAR" where no vector target applies.
const char* SimdTargetName();

}  // namespace tallox
