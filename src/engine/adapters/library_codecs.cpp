#include "engine/adapters/library_codecs.h"

namespace tallox {

void AddLibraryCodecs(CodecRegistry& registry) {
    AddZstdCodecs(registry);
    AddLz4Codecs(registry);
    AddBrotliCodecs(registry);
    AddDeflateCodecs(registry);
    AddXzCodecs(registry);
    AddPngCodecs(registry);
    AddQoiCodecs(registry);
    AddWebpCodecs(registry);
    AddJpeglsCodecs(registry);
    AddJxlCodecs(registry);
    AddAvifCodecs(registry);
    AddOpenJpegCodecs(registry);
}

}  // namespace tallox
