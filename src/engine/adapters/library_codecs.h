// The general-purpose compressors people compare against, each through its Debian library:
// the only code that includes those libraries' headers. Each file adds its codecs to the
// registry.
#pragma once

namespace tallox {

class CodecRegistry;

void AddLibraryCodecs(CodecRegistry& registry);

void AddZstdCodecs(CodecRegistry& registry);
void AddLz4Codecs(CodecRegistry& registry);
void AddBrotliCodecs(CodecRegistry& registry);
void AddDeflateCodecs(CodecRegistry& registry);
void AddXzCodecs(CodecRegistry& registry);
void AddPngCodecs(CodecRegistry& registry);
void AddQoiCodecs(CodecRegistry& registry);
void AddWebpCodecs(CodecRegistry& registry);
void AddJpeglsCodecs(CodecRegistry& registry);
void AddJxlCodecs(CodecRegistry& registry);
void AddAvifCodecs(CodecRegistry& registry);
void AddOpenJpegCodecs(CodecRegistry& registry);

}  // namespace tallox
