#include "engine/wire_row.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace tallox {
namespace {

template <size_t N>
void Put(char (&field)[N], const std::string& text) {
    const size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

// The figures, which Row and WireRow hold under the same names and types, copied either way.
template <typename From, typename To>
void CopyFigures(const From& from, To& to) {
    to.yardstick = from.yardstick;
    to.threads = from.threads;
    to.threadsShared = from.threadsShared;
    to.cpuUserSeconds = from.cpuUserSeconds;
    to.cpuSystemSeconds = from.cpuSystemSeconds;
    to.noisy = from.noisy;
    to.ssimulacra2 = from.ssimulacra2;
    to.butteraugliMax = from.butteraugliMax;
    to.butteraugli3Norm = from.butteraugli3Norm;
    to.iterations = from.iterations;
    to.inputBytes = from.inputBytes;
    to.outputBytes = from.outputBytes;
    to.verifiedBytes = from.verifiedBytes;
    to.elapsedSeconds = from.elapsedSeconds;
    to.framesPerSecond = from.framesPerSecond;
    to.ratio = from.ratio;
    to.calls = from.calls;
    to.mbpsMedian = from.mbpsMedian;
    to.mbpsBest = from.mbpsBest;
    to.decodeCalls = from.decodeCalls;
    to.decodeMbpsMedian = from.decodeMbpsMedian;
    to.memoryBytes = from.memoryBytes;
    to.verified = from.verified;
    to.jpeg = from.jpeg;
    to.psnrRgb = from.psnrRgb;
    to.psnrY = from.psnrY;
    to.ssim = from.ssim;
    to.bpp = from.bpp;
    to.mpps = from.mpps;
}

}  // namespace

WireRow ToWire(const Row& row) {
    WireRow w{};
    Put(w.codec, row.codec);
    Put(w.label, row.label);
    Put(w.params, row.params);
    Put(w.library, row.library);
    Put(w.memorySource, row.memorySource);
    w.sampleCount = row.samplesMs.size();
    Put(w.basis, row.basis);
    Put(w.text, row.text);
    Put(w.error, row.error);
    CopyFigures(row, w);
    return w;
}

Row FromWire(const WireRow& w) {
    Row row;
    row.codec = w.codec;
    row.label = w.label;
    row.params = w.params;
    row.library = w.library;
    row.memorySource = w.memorySource;
    row.basis = w.basis;
    row.text = w.text;
    row.error = w.error;
    CopyFigures(w, row);
    return row;
}

}  // namespace tallox
