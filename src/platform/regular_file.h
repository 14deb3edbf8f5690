// Opening an input for Qt's readers as the byte codecs open it: by its name's bytes, so that a
// name in any encoding is the same file, and only when it is a regular file (a FIFO would
// block, a device not end).
#pragma once
#include <string>
#include <variant>

class QByteArray;

namespace tallox {

// The whole of the file at `path`, opened as above; why not, when it cannot be read: "cannot
// open: REASON", "not a regular file" or "cannot read: REASON". Qt's readers probe an image's
// format in memory faster than through a file device.
std::variant<QByteArray, std::string> ReadRegularFile(const std::string& path);

}  // namespace tallox
