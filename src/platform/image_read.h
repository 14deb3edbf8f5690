// Reading an image through Qt so that its pixels depend on the file alone.
#pragma once

class QImage;
class QImageReader;

namespace tallox {

// Reads the reader's next image into `image`, as QImageReader::read does. Qt's bitmap reader
// leaves the pixels a broken run-length stream never reaches as the memory held them, so that
// two reads of one file differ; it fills an image of the bitmap's own size and format that it is
// given, which is handed to it filled with 0 when the reader's allocation limit allows.
bool ReadImage(QImageReader& reader, QImage& image);

}  // namespace tallox
