#include "platform/system_info.h"

#include <fcntl.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <cstdio>
#include <ctime>
#include <fstream>

// After <cstdio>: jconfig.h comes with jpeglib.h, which uses FILE and size_t undeclared.
#include <jpeglib.h>

namespace tallox {
namespace {

#define TALLOX_STRINGIFY(x) #x
#define TALLOX_STRING(x) TALLOX_STRINGIFY(x)

// A "Name:   value kB" line of /proc/self/status, in bytes.
std::optional<uint64_t> StatusBytes(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(name + ":")) {
            unsigned long long kilobytes = 0;
            if (std::sscanf(line.c_str() + name.size() + 1, "%llu", &kilobytes) == 1) {
                return uint64_t{kilobytes} * 1024;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

MachineInfo QueryMachine() {
    MachineInfo machine;
    machine.cpuModel = "unknown";
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.starts_with("model name") && line.find(':') != std::string::npos) {
            machine.cpuModel = line.substr(line.find(':') + 2);
            break;
        }
    }
    machine.logicalCores = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
    utsname names{};
    if (uname(&names) == 0) {
        machine.kernel = std::string(names.sysname) + " " + names.release;
    }
    struct sysinfo info {};
    if (sysinfo(&info) == 0) {
        machine.memoryBytes = static_cast<uint64_t>(info.totalram) * info.mem_unit;
    }
    return machine;
}

double CounterResolutionSeconds() {
    timespec resolution{};
    clock_getres(CLOCK_MONOTONIC, &resolution);
    return static_cast<double>(resolution.tv_sec) + static_cast<double>(resolution.tv_nsec) / 1e9;
}

std::optional<uint64_t> ResidentBytes() { return StatusBytes("VmRSS"); }

std::optional<uint64_t> PeakResidentBytes() { return StatusBytes("VmHWM"); }

bool ResetPeakResident() {
    const int fd = open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written = write(fd, "5", 1) == 1;
    close(fd);
    return written;
}

std::string FileSha256(const std::string& path) {
    QFile file;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0) {
            close(fd);
        }
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) {
        return {};
    }
    return hash.result().toHex().toStdString();
}

std::string JpegLibraryVersion() {
#ifdef LIBJPEG_TURBO_VERSION
    return "libjpeg-turbo " TALLOX_STRING(LIBJPEG_TURBO_VERSION);
#else
    return "libjpeg " TALLOX_STRING(JPEG_LIB_VERSION);
#endif
}

std::string QtVersion() { return qVersion(); }

}  // namespace tallox
