#include "support/test_data.h"

#include <QCryptographicHash>
#include <cctype>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace tallox::test {

std::vector<uint8_t> FromHex(std::string_view hex) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : hex) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        const int digit = std::isdigit(static_cast<unsigned char>(c))
                              ? c - '0'
                              : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        if (digit < 0 || digit > 15) throw std::invalid_argument("not a hex digit");
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument("odd number of hex digits");
    return bytes;
}

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
    return RandomFromAlphabet(size, seed, 256);
}

std::vector<uint8_t> RandomFromAlphabet(size_t size, uint32_t seed, uint32_t alphabet,
                                        uint8_t lowest) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<uint32_t> pick(0, alphabet - 1);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(lowest + pick(rng));
    return bytes;
}

std::vector<uint8_t> RandomRuns(size_t size, uint32_t seed, uint32_t maxRun) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<uint32_t> value(0, 255);
    // Mostly short runs, some long ones, so both literal stretches and long tokens appear.
    std::uniform_int_distribution<uint32_t> shortRun(1, maxRun < 6 ? maxRun : 6);
    std::uniform_int_distribution<uint32_t> anyRun(1, maxRun);
    std::vector<uint8_t> bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        const auto b = static_cast<uint8_t>(value(rng));
        uint32_t run = (rng() % 8 == 0) ? anyRun(rng) : shortRun(rng);
        while (run-- > 0 && bytes.size() < size) bytes.push_back(b);
    }
    return bytes;
}

std::vector<uint8_t> AllValues(uint32_t repeat) {
    std::vector<uint8_t> bytes;
    for (uint32_t v = 0; v < 256; ++v) bytes.insert(bytes.end(), repeat, static_cast<uint8_t>(v));
    return bytes;
}

std::vector<uint8_t> LittleEndian(const std::vector<int64_t>& samples, uint32_t bytesPerSample) {
    std::vector<uint8_t> bytes;
    for (int64_t s : samples) {
        const auto u = static_cast<uint64_t>(s);
        for (uint32_t b = 0; b < bytesPerSample; ++b) {
            bytes.push_back(static_cast<uint8_t>(u >> (8 * b)));
        }
    }
    return bytes;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

std::string Sha256(const void* data, size_t size) {
    return QCryptographicHash::hash(
               QByteArrayView(static_cast<const char*>(data), static_cast<qsizetype>(size)),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

}  // namespace tallox::test
