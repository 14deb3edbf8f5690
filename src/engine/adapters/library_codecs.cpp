#include "engine/adapters/library_codecs.h"

namespace tallox {

void AddLibraryCodecs(CodecRegistry& registry) {
    AddZstdCodecs(registry);
    AddLz4Codecs(registry);
    AddBrotliCodecs(registry);
    AddDeflateCodecs(registry);
    AddXzCodecs(registry);
}

}  // namespace tallox
