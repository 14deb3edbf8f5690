#pragma once
#include <cstdint>
#include <string>

namespace tallox {

struct EncodeOptions {
    std::string codec;
    std::string input;
    std::string output;
    uint32_t riceType = 7;
    int32_t quality = 50;  // JPEG
};

// Encodes the whole input once into the same working block a measurement uses and writes the
// encoder's output bytes. Returns the exit status (1 with a message on stderr on failure).
int RunEncode(const EncodeOptions& options);

}  // namespace tallox
