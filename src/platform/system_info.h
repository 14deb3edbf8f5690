// What the machine and the process say about themselves, for a run's context.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace tallox {

struct MachineInfo {
    std::string cpuModel;  // "unknown" when the system does not say
    int logicalCores = 0;
    std::string kernel;  // "Linux 6.1.0-13-amd64"
    uint64_t memoryBytes = 0;
};

MachineInfo QueryMachine();

// The resolution of the monotonic clock the counter reads, in seconds.
double CounterResolutionSeconds();

// The resident set size of this process now, and its high-water mark; nothing where the
// system does not say.
std::optional<uint64_t> ResidentBytes();
std::optional<uint64_t> PeakResidentBytes();
// Resets the high-water mark to the present size; false where the kernel does not allow it.
bool ResetPeakResident();

// The lower-case hex SHA-256 of the file's bytes; empty when it cannot be read.
std::string FileSha256(const std::string& path);

// The versions of the libraries the platform code links: libjpeg-turbo and Qt.
std::string JpegLibraryVersion();
std::string QtVersion();

}  // namespace tallox
