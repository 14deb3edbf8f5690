// The general-purpose compressors people compare against, each through its Debian library:
// the only code that includes those libraries' headers. Each file adds its codecs to the
// registry.
#pragma once

namespace tallox {

class CodecRegistry;

void AddLibraryCodecs(CodecRegistry& registry);

void AddZstdCodecs(CodecRegistry& registry);
void AddJxlCodecs(CodecRegistry& registry);
void AddAvifCodecs(CodecRegistry& registry);
void AddOpenJpegCodecs(CodecRegistry& registry);

}  // namespace tallox
