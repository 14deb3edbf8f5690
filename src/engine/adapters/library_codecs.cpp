#include "engine/adapters/library_codecs.h"

namespace tallox {

void AddLibraryCodecs(CodecRegistry& registry) {
    AddZstdCodecs(registry);
    AddJxlCodecs(registry);
    AddAvifCodecs(registry);
    AddOpenJpegCodecs(registry);
}

}  // namespace tallox
