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

// Whether the image the reader declares fits in the machine's memory as a 24-bit load needs it:
// Qt's decoded image, its 24-bit conversion and the packed copy. A few bytes can declare an
// image of gigabytes, which Qt's reader fills in whatever the file lacks. True when the reader
// declares no size: its own allocation limit then stays the guard.
bool RgbLoadFitsInMemory(QImageReader& reader);

}  // namespace tallox
