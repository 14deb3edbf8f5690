#include "engine/codec_table.h"

#include "codecs/huffman.h"
#include "codecs/lz77.h"
#include "codecs/lz77_decode.h"
#include "codecs/lz77_fast.h"
#include "codecs/rice.h"
#include "codecs/rle.h"

namespace tallox {
namespace {

uint32_t RunRle(const uint8_t* input, uint8_t* output, uint32_t len, int32_t*) {
    return EncodeRle(input, output, len);
}
uint32_t RunHuffman(const uint8_t* input, uint8_t* output, uint32_t len, int32_t*) {
    return EncodeHuffman(input, output, len);
}
uint32_t RunRice(const uint8_t* input, uint8_t* output, uint32_t len, int32_t*) {
    return EncodeRice(input, output, len, Signed32);
}
uint32_t RunLz77(const uint8_t* input, uint8_t* output, uint32_t len, int32_t*) {
    return EncodeLz77(input, output, len);
}

std::optional<uint32_t> UndoRice(const uint8_t* output, uint32_t count, uint8_t* decoded,
                                 uint32_t len) {
    return DecodeRice(output, count, decoded, len, Signed32);
}

constexpr Codec kCodecs[] = {
    {"jpeg", "JPEG GDI+\t", &BenchmarkSettings::jpeg, nullptr, false, true, nullptr, 0, "JPEG"},
    {"rle", "RLE\t\t", &BenchmarkSettings::rle, &RunRle, false, true, &DecodeRle, 1, "RLE"},
    {"huffman", "Huffman\t\t", &BenchmarkSettings::huffman, &RunHuffman, false, true,
     &DecodeHuffman, 1, "Huffman"},
    {"rice", "Rice\t\t", &BenchmarkSettings::rice, &RunRice, false, true, &UndoRice, 4, "Rice"},
    {"lz77", "LZ77\t\t", &BenchmarkSettings::lz77, &RunLz77, false, false, &DecodeLz77, 1, "LZ77"},
    {"lz77fast", "LZ77 Fast\t\t", &BenchmarkSettings::lz77Fast, &EncodeLz77Fast, true, false,
     &DecodeLz77, 1, "LZ77 Fast"},
};

}  // namespace

std::span<const Codec> CodecTable() { return kCodecs; }

const Codec* FindCodec(std::string_view name) {
    for (const Codec& codec : kCodecs) {
        if (name == codec.name) {
            return &codec;
        }
    }
    return nullptr;
}

}  // namespace tallox
