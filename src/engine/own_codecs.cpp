#include "engine/own_codecs.h"

#include <cstring>
#include <vector>

#include "codecs/huffman.h"
#include "codecs/lz77.h"
#include "codecs/lz77_decode.h"
#include "codecs/lz77_fast.h"
#include "codecs/rice.h"
#include "codecs/rle.h"
#include "codecs/working_block.h"
#include "engine/input_file.h"
#include "platform/imaging.h"
#include "platform/system_info.h"

namespace tallox {

const char kSaveFailedMessage[] = "Failed to save to stream!";
const char kJpegMismatchMessage[] = "The JPEG output does not decode to an image of its size!";

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

constexpr OwnCodec kOwnCodecs[] = {
    {"rle", "RLE\t\t", &RunRle, false, true, &DecodeRle, 1, "RLE"},
    {"huffman", "Huffman\t\t", &RunHuffman, false, true, &DecodeHuffman, 1, "Huffman"},
    {"rice", "Rice\t\t", &RunRice, false, true, &UndoRice, 4, "Rice"},
    {"lz77", "LZ77\t\t", &RunLz77, false, false, &DecodeLz77, 1, "LZ77"},
    {"lz77fast", "LZ77 Fast\t\t", &EncodeLz77Fast, true, false, &DecodeLz77, 1, "LZ77 Fast"},
};

// An own encoder over the working block it was designed for: the output area right behind the
// input, which holds the largest output it can write, so that it checks no bound.
class OwnInstance final : public CodecInstance {
public:
    explicit OwnInstance(const OwnCodec& codec) : codec_(codec) {}

    BlockLayout Layout(uint64_t inputBytes) const override {
        return {OutputAreaSize(inputBytes), true, codec_.needsWorkTable};
    }
    Status Prepare(const InputShape&, WorkingBlock& block) override {
        table_ = block.WorkTable();
        return Ok{};
    }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
        const uint32_t count =
            codec_.encode(input.data(), output.data(), static_cast<uint32_t>(input.size()), table_);
        return std::span<const uint8_t>(output.data(), count);
    }
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        // The room past the input is the decoder's to check, not to fill.
        const auto len = static_cast<uint32_t>(decoded.size() - 1);
        const std::optional<uint32_t> count = codec_.decode(
            encoded.data(), static_cast<uint32_t>(encoded.size()), decoded.data(), len);
        if (!count) {
            return Error{"the stream is malformed"};
        }
        return size_t{*count};
    }
    uint64_t CodedBytes(uint64_t inputBytes) const override {
        return inputBytes / codec_.sampleBytes * codec_.sampleBytes;
    }

private:
    OwnCodec codec_;
    int32_t* table_ = nullptr;
};

// JPEG through the imaging services, which save into a byte vector of their own: every save
// replaces its bytes and keeps its capacity, so that only the first one allocates.
class JpegInstance final : public CodecInstance {
public:
    JpegInstance(Imaging& imaging, const JpegOptions& options)
        : imaging_(imaging), options_(options) {}

    BlockLayout Layout(uint64_t) const override { return {0, false, false}; }
    Status Prepare(const InputShape& shape, WorkingBlock&) override {
        image_ = shape.image;
        // A file that did not decode fails as a refused save would: the first save is where
        // the missing image shows.
        if (image_ == nullptr) {
            return Error{kSaveFailedMessage};
        }
        return Ok{};
    }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t>, std::span<uint8_t>) override {
        if (!imaging_.SaveJpeg(*image_, options_, jpeg_)) {
            return Error{kSaveFailedMessage};
        }
        return std::span<const uint8_t>(jpeg_);
    }
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        // The services decode a vector: the last save's own, or a copy of other bytes.
        const std::optional<Image> image =
            encoded.data() == jpeg_.data() && encoded.size() == jpeg_.size()
                ? imaging_.DecodeJpeg(jpeg_)
                : imaging_.DecodeJpeg(std::vector<uint8_t>(encoded.begin(), encoded.end()));
        if (!image || image->width != image_->width || image->height != image_->height ||
            image->rgb.size() > decoded.size()) {
            return Error{kJpegMismatchMessage};
        }
        std::memcpy(decoded.data(), image->rgb.data(), image->rgb.size());
        return image->rgb.size();
    }

private:
    Imaging& imaging_;
    JpegOptions options_;
    const Image* image_ = nullptr;
    std::vector<uint8_t> jpeg_;
};

// memcpy between two 64-byte aligned blocks: what moving the bytes once costs, the ceiling no
// codec's speed can pass.
class MemcpyInstance final : public CodecInstance {
public:
    BlockLayout Layout(uint64_t inputBytes) const override { return {inputBytes, false, false}; }
    Status Prepare(const InputShape&, WorkingBlock&) override { return Ok{}; }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
        if (!input.empty()) {
            std::memcpy(output.data(), input.data(), input.size());
        }
        return std::span<const uint8_t>(output.data(), input.size());
    }
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        if (!encoded.empty()) {
            std::memcpy(decoded.data(), encoded.data(), encoded.size());
        }
        return encoded.size();
    }
};

}  // namespace

std::span<const OwnCodec> OwnCodecs() { return kOwnCodecs; }

const OwnCodec* FindOwnCodec(std::string_view name) {
    for (const OwnCodec& codec : kOwnCodecs) {
        if (name == codec.name) {
            return &codec;
        }
    }
    return nullptr;
}

CodecEntry MakeOwnEntry(const OwnCodec& codec) {
    CodecEntry entry;
    entry.info.name = codec.name;
    entry.info.displayName = codec.displayName;
    entry.info.family = "tallox";
    entry.info.description = std::string("Tallox's own ") + codec.displayName + " encoder";
    entry.info.reportRow = true;
    entry.info.repaint = codec.repaint;
    entry.create = [codec](const std::vector<double>&,
                           const CodecEnvironment&) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(new OwnInstance(codec));
    };
    const std::string label = codec.label;
    entry.label = [label](const std::vector<double>&) { return label; };
    return entry;
}

CodecEntry MakeJpegEntry() {
    CodecEntry entry;
    entry.info.name = "jpeg";
    entry.info.displayName = "JPEG";
    entry.info.family = "jpeg";
    entry.info.input = CodecInput::Pixels;
    entry.info.lossy = true;
    entry.info.parameters = {{"quality", 1, 100, 50, true, "q", {}},
                             {"subsampling", 420, 444, 420, true, "", {444, 422, 420}},
                             {"progressive", 0, 1, 0, true, "", {}},
                             {"optimize", 0, 1, 0, true, "", {}}};
    entry.info.library = JpegLibraryVersion();
    entry.info.description = "JPEG over the image's RGB pixels (libjpeg-turbo)";
    entry.info.reportRow = true;
    entry.info.timedDecoding = false;
    entry.create =
        [](const std::vector<double>& values,
           const CodecEnvironment& environment) -> Result<std::unique_ptr<CodecInstance>> {
        JpegOptions options;
        options.quality = static_cast<int>(values[0]);
        options.subsampling = values[1] == 444   ? Subsampling::k444
                              : values[1] == 422 ? Subsampling::k422
                                                 : Subsampling::k420;
        options.progressive = values[2] != 0;
        options.optimize = values[3] != 0;
        return std::unique_ptr<CodecInstance>(new JpegInstance(
            environment.imaging != nullptr ? *environment.imaging : PlatformImaging(), options));
    };
    entry.label = [](const std::vector<double>&) { return std::string("JPEG GDI+\t"); };
    return entry;
}

CodecEntry MakeMemcpyEntry() {
    CodecEntry entry;
    entry.info.name = "memcpy";
    entry.info.displayName = "memcpy";
    entry.info.family = "none";
    entry.info.description = "a copy of the input: the yardstick of every speed";
    entry.info.yardstick = true;
    entry.create = [](const std::vector<double>&,
                      const CodecEnvironment&) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(new MemcpyInstance());
    };
    entry.label = [](const std::vector<double>&) { return std::string(); };
    return entry;
}

}  // namespace tallox
