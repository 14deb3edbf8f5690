#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

namespace tallox {
namespace {

// Opens `path` into `file` for reading; why not, when it cannot: "cannot open: REASON" or "not
// a regular file".
std::optional<std::string> OpenRegularFile(const std::string& path, QFile& file) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return "cannot open: " + std::string(std::strerror(errno));
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return "not a regular file";
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        close(fd);
        return "cannot open: " + file.errorString().toStdString();
    }
    return std::nullopt;
}

}  // namespace

std::variant<QByteArray, std::string> ReadRegularFile(const std::string& path) {
    QFile file;
    if (std::optional<std::string> reason = OpenRegularFile(path, file)) {
        return std::move(*reason);
    }
    try {
        QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            return "cannot read: " + file.errorString().toStdString();
        }
        return bytes;
    } catch (const std::bad_alloc&) {
        return std::string("cannot read: the file does not fit in memory");
    }
}

}  // namespace tallox
