// Arbitrary bytes as a stream of each byte codec of the registry, decoded through the seam as a
// run decodes: the first byte picks the codec, the rest is its stream, decoded into a room of
// fixed size fenced by guards. The decoder refuses it or decodes within the room, and a stream
// it takes decodes the same again on its reused contexts.
//
// With TALLOX_CODEC_SEEDS=FOLDER and TALLOX_SAMPLE=FILE set, the target writes one valid stream
// per codec into FOLDER, its first byte the codec's, and exits: the seeds of fuzz/run.sh.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/codec.h"
#include "engine/input_file.h"
#include "guarded_output.h"

using namespace tallox;

namespace {

constexpr size_t kRoom = 65536;

// The libraries are not instrumented, so little inside a decoder guides the mutations. These
// extra counters, which libFuzzer counts as coverage, tell apart per codec the reasons a stream
// is refused (by its message) and the orders of magnitude of what one decodes to.
constexpr size_t kMaxCodecs = 64;
constexpr size_t kRefusals = 16;
constexpr size_t kSlots = kRefusals + 18;
__attribute__((section("__libfuzzer_extra_counters"))) uint8_t g_outcomes[kMaxCodecs * kSlots];

size_t Outcome(const Result<size_t>& count) {
    if (!count) {
        return std::hash<std::string>{}(count.error().message) % kRefusals;
    }
    size_t order = 0;
    for (size_t n = *count; n > 0; n >>= 1) {
        ++order;
    }
    return kRefusals + order;  // 0 to 17: kRoom is 2^16
}

struct Decoder {
    const CodecEntry* entry;
    std::unique_ptr<CodecInstance> codec;
    WorkingBlock block;
};

// A byte codec at its defaults, prepared for `input`.
Decoder Make(const CodecEntry& entry, std::span<const uint8_t> input) {
    Result<std::unique_ptr<CodecInstance>> made = entry.create(ValuesOf(entry, {}), {});
    FUZZ_CHECK(made.ok());
    Decoder decoder{&entry, std::move(*made), {}};
    FUZZ_CHECK(FillBlock(input, decoder.codec->Layout(input.size()), decoder.block).ok());
    InputShape shape;
    shape.bytes = input.size();
    FUZZ_CHECK(decoder.codec->Prepare(shape, decoder.block).ok());
    return decoder;
}

std::vector<Decoder>& Decoders() {
    static std::vector<Decoder> decoders = [] {
        std::vector<Decoder> made;
        for (const CodecEntry& entry : DefaultRegistry().Entries()) {
            if (!entry.info.yardstick && entry.info.input == CodecInput::Bytes) {
                made.push_back(Make(entry, {}));
            }
        }
        FUZZ_CHECK(made.size() <= kMaxCodecs);
        return made;
    }();
    return decoders;
}

// A piece of the sample encoded by each codec, behind the byte that picks it.
void WriteSeeds(const char* folder, const char* sample) {
    std::vector<uint8_t> piece(kRoom / 2);
    std::FILE* file = std::fopen(sample, "rb");
    FUZZ_CHECK(file != nullptr);
    piece.resize(std::fread(piece.data(), 1, piece.size(), file));
    std::fclose(file);
    const std::vector<Decoder>& decoders = Decoders();
    for (size_t i = 0; i < decoders.size(); ++i) {
        Decoder decoder = Make(*decoders[i].entry, piece);
        Result<std::span<const uint8_t>> encoded =
            decoder.codec->Encode({decoder.block.Input(), piece.size()},
                                  {decoder.block.Output(), decoder.block.OutputBytes()});
        FUZZ_CHECK(encoded.ok());
        const std::string path = std::string(folder) + "/" + decoder.entry->info.name;
        std::FILE* seed = std::fopen(path.c_str(), "wb");
        FUZZ_CHECK(seed != nullptr);
        const auto pick = static_cast<uint8_t>(i);
        FUZZ_CHECK(std::fwrite(&pick, 1, 1, seed) == 1 &&
                   std::fwrite(encoded->data(), 1, encoded->size(), seed) == encoded->size());
        std::fclose(seed);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* folder = std::getenv("TALLOX_CODEC_SEEDS");
    const char* sample = std::getenv("TALLOX_SAMPLE");
    if (folder != nullptr && sample != nullptr) {
        WriteSeeds(folder, sample);
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    std::vector<Decoder>& decoders = Decoders();
    const size_t pick = data[0] % decoders.size();
    CodecInstance& codec = *decoders[pick].codec;
    const std::span<const uint8_t> stream(data + 1, size - 1);
    fuzz::GuardedOutput room(kRoom);
    const Result<size_t> count = codec.Decode(stream, {room.Area(), kRoom});
    CHECK_UNTOUCHED_FROM(room, kRoom);  // the guards
    g_outcomes[pick * kSlots + Outcome(count)] = 1;
    if (!count) {
        return 0;
    }
    FUZZ_CHECK(*count <= kRoom);
    const std::vector<uint8_t> first(room.Area(), room.Area() + *count);
    const Result<size_t> again = codec.Decode(stream, {room.Area(), kRoom});
    FUZZ_CHECK(again.ok() && *again == *count &&
               std::equal(first.begin(), first.end(), room.Area()));
    return 0;
}
