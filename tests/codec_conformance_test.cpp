// Every byte codec of the registry through the seam as the run drives it: laid out, prepared,
// encoded twice with its reused contexts, decoded under guards, refusing damaged and overlong
// streams; the library codecs' streams read back by their standard tools; the --codecs
// grammar over the library codecs' parameters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/codec.h"
#include "engine/input_file.h"
#include "support/guarded_area.h"
#include "support/temp_folder.h"
#include "support/test_data.h"

namespace tallox {
namespace {

// What a codec's stream format promises about damage: a check over the whole content refuses
// any changed byte; an end marker, length or check refuses a stream cut short. Where neither
// holds, a damaged stream must still decode within its room.
struct DamagePolicy {
    bool refusesChangedBytes;
    bool refusesCutStreams;
};

// Every codec the registry holds must have a row here, so that a new one is judged on purpose.
const std::map<std::string, DamagePolicy> kPolicies = {
    {"rle", {false, false}},     {"huffman", {false, false}},  {"rice", {false, false}},
    {"lz77", {false, false}},    {"lz77fast", {false, false}}, {"zstd", {false, true}},
    {"lz4", {false, true}},      {"lz4hc", {false, true}},     {"brotli", {false, true}},
    {"deflate", {false, false}}, {"zlib", {true, true}},       {"gzip", {true, true}},
    {"xz", {true, true}},
};

constexpr size_t kGuard = 64;

// The settings each codec is checked at: every parameter at its default, the first also at its
// minimum and maximum (and zstd's at a negative level), each further one at its maximum.
std::vector<std::vector<double>> SettingsOf(const CodecEntry& entry) {
    const std::vector<double> defaults = ValuesOf(entry, {});
    std::vector<std::vector<double>> settings = {defaults};
    const std::vector<CodecParameter>& parameters = entry.info.parameters;
    for (size_t i = 0; i < parameters.size(); ++i) {
        std::vector<double> values = defaults;
        values[i] = parameters[i].maximum;
        settings.push_back(values);
        if (i == 0) {
            values[0] = parameters[0].minimum;
            settings.push_back(values);
        }
    }
    if (entry.info.name == "zstd") {
        settings.push_back({-5});
    }
    std::vector<std::vector<double>> unique;
    for (const std::vector<double>& values : settings) {
        if (std::find(unique.begin(), unique.end(), values) == unique.end()) {
            unique.push_back(values);
        }
    }
    return unique;
}

struct Input {
    std::string name;
    std::vector<uint8_t> bytes;
    // The sample image is coded at the first parameter's minimum alone: at the slowest
    // settings (brotli -11, xz -9e) it would take seconds a call.
    bool atEverySetting;
};

std::vector<Input> Inputs() {
    return {{"empty", {}, true},
            {"one byte", {0x42}, true},
            {"zeros", std::vector<uint8_t>(100000, 0), true},
            {"random", test::RandomBytes(65536, 7), true},
            {"sample", test::ReadFileBytes(test::SampleImagePath()), false}};
}

// `encoded` decoded into a room of `room` bytes fenced by guards: the result, with a failure
// when a guard was written.
Result<std::vector<uint8_t>> GuardedDecode(CodecInstance& codec, std::span<const uint8_t> encoded,
                                           size_t room) {
    std::vector<uint8_t> area(room + 2 * kGuard, test::kAreaFill);
    const Result<size_t> count = codec.Decode(encoded, {area.data() + kGuard, room});
    for (size_t i = 0; i < area.size(); ++i) {
        if (i == kGuard) {
            i += room;
        }
        if (i < area.size() && area[i] != test::kAreaFill) {
            ADD_FAILURE() << "the decoder wrote outside its room, at " << i;
            break;
        }
    }
    if (!count) {
        return count.error();
    }
    EXPECT_LE(*count, room);
    const auto first = area.begin() + static_cast<std::ptrdiff_t>(kGuard);
    return std::vector<uint8_t>(first, first + static_cast<std::ptrdiff_t>(*count));
}

// A codec made for `values` and prepared for `input` in a block laid out as it asks.
struct Prepared {
    std::unique_ptr<CodecInstance> codec;
    WorkingBlock block;
};

std::optional<Prepared> Prepare(const CodecEntry& entry, const std::vector<double>& values,
                                const std::vector<uint8_t>& input) {
    Result<std::unique_ptr<CodecInstance>> made = entry.create(values, {});
    if (!made) {
        ADD_FAILURE() << made.error().message;
        return std::nullopt;
    }
    Prepared prepared{std::move(*made), {}};
    const Status filled = FillBlock(input, prepared.codec->Layout(input.size()), prepared.block);
    InputShape shape;
    shape.bytes = input.size();
    const Status ready =
        filled ? prepared.codec->Prepare(shape, prepared.block) : Status(filled.error());
    if (!ready) {
        ADD_FAILURE() << ready.error().message;
        return std::nullopt;
    }
    return prepared;
}

std::vector<const CodecEntry*> ByteCodecs() {
    std::vector<const CodecEntry*> codecs;
    for (const CodecEntry& entry : DefaultRegistry().Entries()) {
        if (!entry.info.yardstick && entry.info.input == CodecInput::Bytes) {
            codecs.push_back(&entry);
        }
    }
    return codecs;
}

TEST(CodecConformance, EveryCodecRoundTripsWithinItsBoundAndRefusesDamage) {
    const std::vector<Input> inputs = Inputs();
    ASSERT_FALSE(inputs.back().bytes.empty()) << "no sample image";
    for (const CodecEntry* entry : ByteCodecs()) {
        const auto policy = kPolicies.find(entry->info.name);
        ASSERT_NE(policy, kPolicies.end()) << entry->info.name << " has no damage policy";
        for (const std::vector<double>& values : SettingsOf(*entry)) {
            for (const Input& input : inputs) {
                if (!input.atEverySetting && !values.empty() &&
                    values[0] != entry->info.parameters.front().minimum) {
                    continue;
                }
                SCOPED_TRACE(entry->info.name + ":" + ParamsText(*entry, values) + " on " +
                             input.name);
                std::optional<Prepared> prepared = Prepare(*entry, values, input.bytes);
                if (!prepared) {
                    continue;
                }
                CodecInstance& codec = *prepared->codec;
                const std::span<const uint8_t> in(prepared->block.Input(), input.bytes.size());
                const std::span<uint8_t> out(prepared->block.Output(),
                                             prepared->block.OutputBytes());
                // Twice: a reused context must give the same stream again.
                Result<std::span<const uint8_t>> first = codec.Encode(in, out);
                ASSERT_TRUE(first) << first.error().message;
                const std::vector<uint8_t> encoded(first->begin(), first->end());
                codec.ResetHeapPeak();
                Result<std::span<const uint8_t>> again = codec.Encode(in, out);
                // The run counts a library's heap through its hooks, contexts included.
                if (entry->info.family != "tallox") {
                    EXPECT_GT(codec.HeapPeak().value_or(0), 0u) << "no heap counted";
                }
                ASSERT_TRUE(again) << again.error().message;
                EXPECT_TRUE(
                    std::equal(again->begin(), again->end(), encoded.begin(), encoded.end()));
                EXPECT_TRUE(again->data() >= out.data() &&
                            again->data() + again->size() <= out.data() + out.size())
                    << "the stream lies outside the output area";

                const size_t len = input.bytes.size();
                const size_t coded = codec.CodedBytes(len);
                for (int pass = 0; pass < 2; ++pass) {  // the decoder reused too
                    Result<std::vector<uint8_t>> decoded = GuardedDecode(codec, encoded, len + 1);
                    ASSERT_TRUE(decoded) << decoded.error().message;
                    EXPECT_TRUE(decoded->size() == coded &&
                                std::equal(decoded->begin(), decoded->end(), in.begin()))
                        << "decodes to other bytes";
                }
                if (coded == 0) {
                    continue;
                }
                // A stream longer than its room is an error, not an overflow.
                if (entry->info.family != "tallox") {
                    EXPECT_FALSE(GuardedDecode(codec, encoded, coded - 1)) << "overlong stream";
                }
                if (entry->info.family != "tallox") {
                    std::vector<uint8_t> longer = encoded;
                    longer.push_back(0);
                    EXPECT_FALSE(GuardedDecode(codec, longer, len + 1)) << "a byte follows";
                }
                const std::vector<uint8_t> cut(encoded.begin(), encoded.end() - 1);
                const Result<std::vector<uint8_t>> fromCut = GuardedDecode(codec, cut, len + 1);
                if (policy->second.refusesCutStreams) {
                    EXPECT_FALSE(fromCut) << "a stream cut short decodes";
                }
                for (const size_t at : {size_t{0}, encoded.size() / 2, encoded.size() - 1}) {
                    std::vector<uint8_t> changed = encoded;
                    changed[at] ^= 0xFF;
                    const Result<std::vector<uint8_t>> fromChanged =
                        GuardedDecode(codec, changed, len + 1);
                    if (policy->second.refusesChangedBytes) {
                        EXPECT_FALSE(fromChanged) << "byte " << at << " changed, and it decodes";
                    }
                }
            }
        }
    }
}

// The decoders of arbitrary bytes: refused or decoded within the room, never past it.
TEST(CodecConformance, DecodersTakeArbitraryBytesWithinTheirRoom) {
    const std::vector<uint8_t> noise = test::RandomBytes(4096, 11);
    for (const CodecEntry* entry : ByteCodecs()) {
        SCOPED_TRACE(entry->info.name);
        std::optional<Prepared> prepared = Prepare(*entry, ValuesOf(*entry, {}), noise);
        ASSERT_TRUE(prepared);
        for (const size_t size : {size_t{0}, size_t{1}, size_t{5}, size_t{18}, noise.size()}) {
            const std::span<const uint8_t> bytes(noise.data(), size);
            static_cast<void>(GuardedDecode(*prepared->codec, bytes, 1000));
        }
    }
}

// Each setting of a library codec writes a stream of its own (a parameter that never reaches
// the library would not), which its standard tool reads back; zlib and raw DEFLATE, which have
// no tool, through Python's zlib. A tool that is not installed is left out.
TEST(CodecConformance, SettingsGiveStreamsOfTheirOwnThatStandardToolsRestore) {
    const std::map<std::string, std::string> tools = {
        {"zstd", "zstd -q -d -c"},
        {"lz4", "lz4 -q -d -c"},
        {"lz4hc", "lz4 -q -d -c"},
        {"brotli", "brotli -d -c"},
        {"gzip", "gzip -d -c"},
        {"xz", "xz -d -c"},
        {"zlib",
         "python3 -c 'import sys, zlib; "
         "sys.stdout.buffer.write(zlib.decompress(open(sys.argv[1], \"rb\").read()))'"},
        {"deflate",
         "python3 -c 'import sys, zlib; sys.stdout.buffer.write("
         "zlib.decompress(open(sys.argv[1], \"rb\").read(), -15))'"},
    };
    const test::TempFolder folder("conformance");
    const std::vector<uint8_t> input = test::ReadFileBytes(test::SampleImagePath());
    std::vector<uint8_t> mixed = test::RandomRuns(60000, 3, 300);
    mixed.insert(mixed.end(), input.begin(), input.begin() + 60000);
    size_t checked = 0;
    for (const CodecEntry* entry : ByteCodecs()) {
        const auto tool = tools.find(entry->info.name);
        if (entry->info.family == "tallox") {
            continue;
        }
        ASSERT_NE(tool, tools.end()) << entry->info.name << " has no standard tool";
        const std::string program = tool->second.substr(0, tool->second.find(' '));
        const bool installed =
            std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
        std::vector<std::vector<uint8_t>> streams;
        for (const std::vector<double>& values : SettingsOf(*entry)) {
            SCOPED_TRACE(entry->info.name + ":" + ParamsText(*entry, values));
            std::optional<Prepared> prepared = Prepare(*entry, values, mixed);
            ASSERT_TRUE(prepared);
            Result<std::span<const uint8_t>> encoded =
                prepared->codec->Encode({prepared->block.Input(), mixed.size()},
                                        {prepared->block.Output(), prepared->block.OutputBytes()});
            ASSERT_TRUE(encoded) << encoded.error().message;
            const std::vector<uint8_t> stream(encoded->begin(), encoded->end());
            EXPECT_EQ(std::find(streams.begin(), streams.end(), stream), streams.end())
                << "the stream of another setting";
            streams.push_back(stream);
            if (!installed) {
                continue;
            }
            const std::filesystem::path file = folder.Write("stream", stream);
            std::FILE* pipe = popen((tool->second + " " + file.string()).c_str(), "r");
            ASSERT_NE(pipe, nullptr);
            std::vector<uint8_t> restored;
            uint8_t chunk[65536];
            for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
                restored.insert(restored.end(), chunk, chunk + n);
            }
            EXPECT_EQ(pclose(pipe), 0);
            EXPECT_TRUE(restored == mixed) << tool->second << " gives other bytes";
            ++checked;
        }
    }
    if (checked == 0) {
        GTEST_SKIP() << "the streams differ, but none of the standard tools is installed";
    }
}

// The --codecs grammar over the library codecs' parameters, and the labels their rows carry.
TEST(CodecConformance, CodecListsAndLabels) {
    struct Case {
        const char* text;
        std::vector<CodecSetting> settings;  // empty: an error containing `error`
        const char* error;
        std::vector<std::string> labels;
    };
    const Case cases[] = {
        {"zstd:1,3,19,lz4,lz4hc:9,brotli:5,deflate:6,xz:6",
         {{"zstd", {1}},
          {"zstd", {3}},
          {"zstd", {19}},
          {"lz4", {1}},
          {"lz4hc", {9}},
          {"brotli", {5}},
          {"deflate", {6}},
          {"xz", {6, 0}}},
         "",
         {"zstd -1\t\t", "zstd -3\t\t", "zstd -19\t", "lz4 a1\t\t", "lz4hc -9\t", "brotli -5\t",
          "deflate -6\t", "xz -6\t\t"}},
        {"zstd:1-19:3",
         {{"zstd", {1}},
          {"zstd", {4}},
          {"zstd", {7}},
          {"zstd", {10}},
          {"zstd", {13}},
          {"zstd", {16}},
          {"zstd", {19}}},
         "",
         {}},
        {"xz:6:extreme=1,xz:0", {{"xz", {6, 1}}, {"xz", {0, 0}}}, "", {"xz -6e\t\t", "xz -0\t\t"}},
        {"lz4:65537,zlib,gzip:0,brotli:0",
         {{"lz4", {65537}}, {"zlib", {6}}, {"gzip", {0}}, {"brotli", {0}}},
         "",
         {"lz4 a65537\t", "zlib -6\t\t", "gzip -0\t\t", "brotli -0\t"}},
        {"snappy:1", {}, "'snappy' is not a codec", {}},
        {"lz4:0", {}, "lz4: acceleration 0 is out of range (1 to 65537", {}},
        {"lz4hc:2", {}, "lz4hc: level 2 is out of range (3 to 12", {}},
        {"brotli:12", {}, "brotli: quality 12 is out of range (0 to 11", {}},
        {"gzip:13", {}, "gzip: level 13 is out of range (0 to 12", {}},
        {"xz:10", {}, "xz: preset 10 is out of range (0 to 9", {}},
        {"xz:6:extreme=2", {}, "xz: extreme 2 is out of range (0 to 1", {}},
        {"deflate:6:extreme=1", {}, "deflate: 'extreme=1' names no parameter", {}},
        {"rle:3", {}, "rle takes no parameter", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Result<std::vector<CodecSetting>> parsed = ParseCodecList(c.text, DefaultRegistry());
        if (c.settings.empty()) {
            ASSERT_FALSE(parsed);
            EXPECT_NE(parsed.error().message.find(c.error), std::string::npos)
                << parsed.error().message;
            continue;
        }
        ASSERT_TRUE(parsed) << parsed.error().message;
        EXPECT_EQ(*parsed, c.settings);
        for (size_t i = 0; i < c.labels.size(); ++i) {
            const CodecSetting& setting = (*parsed)[i];
            EXPECT_EQ(LabelOf(*DefaultRegistry().Find(setting.name), setting.values), c.labels[i]);
        }
    }
}

}  // namespace
}  // namespace tallox
