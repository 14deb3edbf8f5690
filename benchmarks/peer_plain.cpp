// The plain loops tallox-cli's figures are checked against: a memcpy between two separate
// 64-byte aligned buffers, and zstd and LZ4 called straight through the same shared libraries
// tallox-cli links, a context made once and reused, each call timed on its own with
// CLOCK_MONOTONIC. Prints the median and the best MB/s of the input.
// Usage: peer_plain memcpy|zstd|lz4|lz4hc LEVEL FILE [CALLS]
#define LZ4_HC_STATIC_LINKING_ONLY
#include <lz4.h>
#include <lz4hc.h>
#include <time.h>
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: peer_plain memcpy|zstd|lz4|lz4hc LEVEL FILE [CALLS]\n");
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
    std::printf("%.1f %.1f\n", static_cast<double>(len) / 1e6 / seconds[seconds.size() / 2],
                static_cast<double>(len) / 1e6 / seconds[0]);
    ZSTD_freeCCtx(zstd);
    std::free(source);
    std::free(target);
    return 0;
}
