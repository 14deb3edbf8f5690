// The plain loops tallox-cli's figures are checked against: a memcpy between two separate
// 64-byte aligned buffers, zstd and LZ4 called straight through the same shared libraries
// tallox-cli links, a context made once and reused, and libwebp's simple calls (lossy encode at
// quality LEVEL, and the decode of that stream) over the pixels of a binary PPM. Each call is
// timed on its own with CLOCK_MONOTONIC. Prints the median and the best MB/s of the input (for
// WebP, of the pixels' RGB bytes).
// Usage: peer_plain memcpy|zstd|lz4|lz4hc|webp|webpdec LEVEL FILE [CALLS]
#define LZ4_HC_STATIC_LINKING_ONLY
#include <lz4.h>
#include <lz4hc.h>
#include <time.h>
#include <webp/decode.h>
#include <webp/encode.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

double Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

char* Aligned(size_t size) { return static_cast<char*>(std::aligned_alloc(64, (size + 63) / 64 * 64)); }

// The width, height and pixels' offset of a binary PPM with MAXVAL 255 and single spaces or
// newlines between its header's fields; zeros when it is not one.
struct Ppm {
    int width = 0;
    int height = 0;
    size_t offset = 0;
};

Ppm ReadPpm(const std::vector<char>& bytes) {
    Ppm ppm;
    int maxval = 0;
    int consumed = 0;
    const std::string head(bytes.data(), std::min<size_t>(bytes.size(), 64));
    if (std::sscanf(head.c_str(), "P6 %d %d %d%n", &ppm.width, &ppm.height, &maxval,
                    &consumed) != 3 || maxval != 255) {
        return {};
    }
    ppm.offset = static_cast<size_t>(consumed) + 1;
    return ppm;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: peer_plain memcpy|zstd|lz4|lz4hc|webp|webpdec LEVEL FILE [CALLS]\n");
        return 2;
    }
    const std::string codec = argv[1];
    const int level = std::atoi(argv[2]);
    std::ifstream file(argv[3], std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    const int calls = argc > 4 ? std::atoi(argv[4]) : 200;
    const size_t len = bytes.size();
    char* source = Aligned(len);
    std::memcpy(source, bytes.data(), len);
    const size_t bound = std::max<size_t>(ZSTD_compressBound(len), LZ4_compressBound(int(len)));
    char* target = Aligned(bound);
    ZSTD_CCtx* zstd = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(zstd, ZSTD_c_compressionLevel, level);
    std::vector<char> lz4State(static_cast<size_t>(std::max(LZ4_sizeofState(), LZ4_sizeofStateHC())));
    std::function<void()> call;
    size_t measured = len;  // the bytes the MB/s are of
    const Ppm ppm = ReadPpm(bytes);
    const auto* pixels = reinterpret_cast<const uint8_t*>(source + ppm.offset);
    uint8_t* webp = nullptr;
    size_t webpSize = 0;
    if (codec == "webp" || codec == "webpdec") {
        if (ppm.width == 0) {
            std::fprintf(stderr, "peer_plain: %s wants a binary PPM\n", argv[3]);
            return 2;
        }
        measured = static_cast<size_t>(ppm.width) * static_cast<size_t>(ppm.height) * 3;
        webpSize = WebPEncodeRGB(pixels, ppm.width, ppm.height, ppm.width * 3,
                                 static_cast<float>(level), &webp);
    }
    if (codec == "memcpy") {
        call = [&] { std::memcpy(target, source, len); };
    } else if (codec == "zstd") {
        call = [&] { ZSTD_compress2(zstd, target, bound, source, len); };
    } else if (codec == "lz4") {
        call = [&] {
            LZ4_compress_fast_extState(lz4State.data(), source, target, int(len), int(bound), level);
        };
    } else if (codec == "lz4hc") {
        call = [&] {
            LZ4_compress_HC_extStateHC(lz4State.data(), source, target, int(len), int(bound), level);
        };
    } else if (codec == "webp") {
        call = [&] {
            uint8_t* output = nullptr;
            WebPEncodeRGB(pixels, ppm.width, ppm.height, ppm.width * 3, static_cast<float>(level),
                          &output);
            WebPFree(output);
        };
    } else if (codec == "webpdec") {
        call = [&] {
            WebPDecodeRGBInto(webp, webpSize, reinterpret_cast<uint8_t*>(target), measured,
                              ppm.width * 3);
        };
    } else {
        std::fprintf(stderr, "peer_plain: unknown codec %s\n", codec.c_str());
        return 2;
    }
    std::vector<double> seconds;
    for (int i = 0; i < calls; ++i) {
        const double start = Now();
        call();
        seconds.push_back(Now() - start);
        asm volatile("" : : "r"(target) : "memory");  // the output is used
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%.1f %.1f\n", static_cast<double>(measured) / 1e6 / seconds[seconds.size() / 2],
                static_cast<double>(measured) / 1e6 / seconds[0]);
    WebPFree(webp);
    ZSTD_freeCCtx(zstd);
    std::free(source);
    std::free(target);
    return 0;
}
