#include "cli/encode.h"

#include <cstdio>
#include <fstream>
#include <optional>

#include "codecs/rice.h"
#include "engine/codec_table.h"
#include "engine/input_file.h"

namespace tallox {

namespace {

int Fail(const char* message) {
    std::fprintf(stderr, "tallox-cli: %s\n", message);
    return 1;
}

}  // namespace

int RunEncode(const EncodeOptions& options) {
    const Codec* codec = FindCodec(options.codec);
    // The same working block as a measurement: the encoders rely on its output area.
    WorkingBlock block;
    if (const std::optional<InputError> error =
            ReadInput(options.input, codec->needsWorkTable, block)) {
        return Fail(error->message);
    }
    const uint32_t len = block.Length();
    const uint32_t count =
        options.codec == "rice"
            ? EncodeRice(block.Input(), block.Output(), len, options.riceType)
            : codec->encode(block.Input(), block.Output(), len, block.WorkTable());
    std::ofstream out(options.output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(block.Output()), count);
    out.close();
    if (!out) {
        return Fail("Failed to write the output file!");
    }
    return 0;
}

}  // namespace tallox
