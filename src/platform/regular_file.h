// Opening an input for Qt's readers as the byte codecs open it: by its name's bytes, so that a
// name in any encoding is the same file, and only when it is a regular file (a FIFO would
// block, a device not end).
#pragma once
#include <optional>
#include <string>

class QFile;

namespace tallox {

// Opens `path` into `file` for reading; why not, when it cannot: "cannot open: REASON" or "not
// a regular file".
std::optional<std::string> OpenRegularFile(const std::string& path, QFile& file);

}  // namespace tallox
