#include "engine/adapters/library_codecs.h"

namespace tallox {

void AddLibraryCodecs(CodecRegistry& registry) {
    AddZstdCodecs(registry);
    AddPngCodecs(registry);
    AddQoiCodecs(registry);
    AddWebpCodecs(registry);
    AddJpeglsCodecs(registry);
}

}  // namespace tallox
