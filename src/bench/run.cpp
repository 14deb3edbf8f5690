#include "bench/run.h"

#include <sys/stat.h>

#include <cstdio>
#include <limits>
#include <memory>
#include <string>

#include "bench/jpeg_measurement.h"
#include "bench/report.h"
#include "bench/stopwatch.h"
#include "codecs/huffman.h"
#include "codecs/lz77.h"
#include "codecs/lz77_fast.h"
#include "codecs/rice.h"
#include "codecs/rle.h"
#include "platform/memory.h"

namespace tallox {

const char kOpenFailedMessage[] = "Failed to open the input file!";
const char kReadFailedMessage[] = "Failed to read the input file!";
const char kAllocationFailedMessage[] = "Failed to allocate memory!";
const char kTooLargeMessage[] =
    "The input file is too large: at most 4,294,967,295 bytes can be measured!";

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
uint32_t RunLz77Fast(const uint8_t* input, uint8_t* output, uint32_t len, int32_t* workTable) {
    return EncodeLz77Fast(input, output, len, workTable);
}

constexpr CodecDescriptor kCodecTable[] = {
    {"jpeg", "JPEG GDI+\t", &BenchmarkSettings::m_bJpeg, nullptr, false, true},
    {"rle", "RLE\t\t", &BenchmarkSettings::m_bRle, &RunRle, false, true},
    {"huffman", "Huffman\t\t", &BenchmarkSettings::m_bHuffman, &RunHuffman, false, true},
    {"rice", "Rice\t\t", &BenchmarkSettings::m_bRice, &RunRice, false, true},
    {"lz77", "LZ77\t\t", &BenchmarkSettings::m_bLz77, &RunLz77, false, false},
    {"lz77fast", "LZ77 Fast\t\t", &BenchmarkSettings::m_bLz77Fast, &RunLz77Fast, true, false},
};

struct FreeDeleter {
    void operator()(void* block) const { ReleaseBlock(block); }
};
using HeapBlock = std::unique_ptr<uint8_t, FreeDeleter>;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The whole file in a fresh working block, and the work table when the codec needs one; null
// (and the message shown) when they cannot be had.
HeapBlock ReadInput(const std::string& path, bool needsWorkTable, uint32_t& len,
                    HeapBlock& workTable, RunHost& host) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        host.ShowMessage(kOpenFailedMessage);
        return nullptr;
    }
    // A directory or a device opens too, but has no length to read.
    struct stat info {};
    if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
        host.ShowMessage(kReadFailedMessage);
        return nullptr;
    }
    const off_t start = ftello(file.get());
    if (start < 0 || fseeko(file.get(), 0, SEEK_END) != 0) {
        host.ShowMessage(kReadFailedMessage);
        return nullptr;
    }
    const off_t end = ftello(file.get());
    if (end < 0 || fseeko(file.get(), start, SEEK_SET) != 0) {
        host.ShowMessage(kReadFailedMessage);
        return nullptr;
    }
    const uint64_t length = static_cast<uint64_t>(end);
    if (length > std::numeric_limits<uint32_t>::max()) {
        host.ShowMessage(kTooLargeMessage);
        return nullptr;
    }
    // Refused before anything is allocated when the machine could never hold it: an
    // overcommitting heap would hand out the block and fail later, inside the timed loop.
    const uint64_t tableSize = needsWorkTable ? WorkTableSize(length) : 0;
    if (WorkingBlockSize(length) + tableSize > AvailableMemory()) {
        host.ShowMessage(kAllocationFailedMessage);
        return nullptr;
    }
    HeapBlock block(static_cast<uint8_t*>(AllocateBlock(WorkingBlockSize(length))));
    if (needsWorkTable && block) {
        workTable.reset(static_cast<uint8_t*>(AllocateBlock(tableSize)));
    }
    if (!block || (needsWorkTable && !workTable)) {
        host.ShowMessage(kAllocationFailedMessage);
        return nullptr;
    }
    // A file that shrank since its length was taken gives a short read.
    if (std::fread(block.get(), 1, length, file.get()) != length) {
        host.ShowMessage(kReadFailedMessage);
        return nullptr;
    }
    len = static_cast<uint32_t>(length);
    return block;
}

// Measures one lossless codec and appends its row; false when the run must end.
bool MeasureLossless(const CodecDescriptor& codec, const BenchmarkSettings& settings,
                     RunHost& host, std::string& report) {
    uint32_t len = 0;
    HeapBlock workTable;
    const HeapBlock block =
        ReadInput(settings.m_strFilePath, codec.needsWorkTable, len, workTable, host);
    if (!block) {
        return false;
    }
    const uint8_t* input = block.get();
    uint8_t* output = block.get() + len;
    int32_t* table = reinterpret_cast<int32_t*>(workTable.get());
    ProgressControl& progress = host.Progress();
    uint32_t count = 0;

    CStopwatch stopwatch;
    stopwatch.Start(false);
    // Timed: the encoder calls and the progress steps, nothing else.
    for (int32_t i = 0; i < settings.m_nIterations; ++i) {
        count = codec.encode(input, output, len, table);
        progress.StepIt();
    }
    stopwatch.Stop();

    FinishRow(report, host, codec.label, codec.name, settings.m_nIterations,
              stopwatch.GetElapsedSeconds(), len, count, codec.repaint);
    return true;
}

}  // namespace

std::span<const CodecDescriptor> CodecTable() { return kCodecTable; }

uint64_t WorkingBlockSize(uint64_t len) { return len + 2 * ((len * 104 + 50) / 100) + 768; }

uint64_t WorkTableSize(uint64_t len) { return 4 * (65'536 + len); }

void RunBenchmark(const BenchmarkSettings& settings, RunHost& host, Imaging& imaging) {
    if (settings.m_strFileName.empty()) {
        return;
    }
    std::string report;
    host.Push(report);
    host.Repaint();

    // Loaded on every run, JPEG selected or not; released at every end of the run. Whether it
    // decoded is the JPEG measurement's concern.
    const std::unique_ptr<Image> image = imaging.LoadImageFromFile(settings.m_strFilePath);

    uint32_t selected = 0;
    for (const CodecDescriptor& codec : kCodecTable) {
        selected += settings.*codec.selection == 1 ? 1 : 0;
    }
    ProgressControl& progress = host.Progress();
    // The range is the control's 16-bit word: the product is cut to its low 16 bits.
    const uint32_t steps = static_cast<uint32_t>(settings.m_nIterations) * selected;
    progress.SetRange(1, static_cast<uint16_t>(steps));
    progress.SetPos(1);
    progress.SetStep(1);

    report = kReportHeader;
    host.Push(report);
    host.Repaint();

    for (const CodecDescriptor& codec : kCodecTable) {
        if (settings.*codec.selection != 1) {
            continue;
        }
        const bool goOn = codec.encode == nullptr
                              ? MeasureJpeg(settings, image.get(), imaging, host, report)
                              : MeasureLossless(codec, settings, host, report);
        if (!goOn) {
            return;  // the progress position is kept; the image is released
        }
    }
    progress.SetPos(0);
}

}  // namespace tallox
