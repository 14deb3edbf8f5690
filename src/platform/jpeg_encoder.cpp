#include "platform/jpeg_encoder.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <new>

// After <cstdio>: jpeglib.h uses FILE and size_t without declaring them.
#include <jerror.h>
#include <jpeglib.h>

namespace tallox {
namespace {

// libjpeg reports a fatal error through error_exit, which must not return. It longjmps back
// into Compress or Decompress below, the function that called setjmp; every frame in between is
// either libjpeg's C code or a callback of this file, and none holds an object with a destructor,
// so the jump skips no destructor.
struct ErrorManager {
    jpeg_error_mgr pub;  // first member: libjpeg hands back a pointer to it
    std::jmp_buf escape;
};

constexpr size_t kChunkSize = 16384;

// Compressed bytes gather in a fixed chunk that is appended to the vector whenever it fills,
// and once more at the end; once the vector has grown to the image's size, appending allocates
// nothing.
struct Destination {
    jpeg_destination_mgr pub;  // first member, as above
    std::vector<uint8_t>* jpeg;
    JOCTET chunk[kChunkSize];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->escape, 1);
}

// Warnings do not fail a save, and a benchmark prints nothing of its own on the console.
void OutputMessage(j_common_ptr) {}

Destination* DestinationOf(j_compress_ptr cinfo) {
    return reinterpret_cast<Destination*>(cinfo->dest);
}

// Appends `size` bytes of the chunk to the vector; when memory runs out, ends the save through
// error_exit. No exception may unwind through libjpeg's frames, so the try block is closed
// before the jump.
void Flush(j_compress_ptr cinfo, size_t size) {
    Destination* destination = DestinationOf(cinfo);
    bool written = true;
    try {
        destination->jpeg->insert(destination->jpeg->end(), destination->chunk,
                                  destination->chunk + size);
    } catch (const std::bad_alloc&) {
        written = false;
    }
    if (!written) {
        ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    }
}

void InitDestination(j_compress_ptr cinfo) {
    Destination* destination = DestinationOf(cinfo);
    destination->pub.next_output_byte = destination->chunk;
    destination->pub.free_in_buffer = kChunkSize;
}

// Called when the chunk is full: the whole chunk goes out, whatever free_in_buffer says.
boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    Flush(cinfo, kChunkSize);
    InitDestination(cinfo);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    const size_t used = kChunkSize - DestinationOf(cinfo)->pub.free_in_buffer;
    if (used != 0) {
        Flush(cinfo, used);
    }
}

// Rows handed to libjpeg per call: a whole 4:2:0 row group of 16 lines.
constexpr JDIMENSION kRowsPerCall = 16;

// Plain data only from here to the end of the function: a longjmp lands in the setjmp below.
bool Compress(const uint8_t* rgb, JDIMENSION width, JDIMENSION height, const JpegOptions* options,
              std::vector<uint8_t>* jpeg) {
    jpeg_compress_struct cinfo{};  // mem stays null until creation, for the destroy below
    ErrorManager error;
    Destination destination;
    cinfo.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = ErrorExit;
    error.pub.output_message = OutputMessage;
    destination.jpeg = jpeg;
    if (setjmp(error.escape) != 0) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    destination.pub.init_destination = InitDestination;
    destination.pub.empty_output_buffer = EmptyOutputBuffer;
    destination.pub.term_destination = TermDestination;
    cinfo.dest = &destination.pub;

    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, options->quality, TRUE);
    // The defaults sample luma 2 x 2 against each chroma sample (4:2:0); the chroma components
    // stay at 1 x 1 and luma's factors set the mode.
    cinfo.comp_info[0].h_samp_factor = options->subsampling == Subsampling::k444 ? 1 : 2;
    cinfo.comp_info[0].v_samp_factor = options->subsampling == Subsampling::k420 ? 2 : 1;
    if (options->progressive) {
        jpeg_simple_progression(&cinfo);
    }
    cinfo.optimize_coding = options->optimize ? TRUE : FALSE;
    jpeg_start_compress(&cinfo, TRUE);

    const size_t stride = static_cast<size_t>(width) * 3;
    JSAMPROW rows[kRowsPerCall];
    while (cinfo.next_scanline < height) {
        const JDIMENSION first = cinfo.next_scanline;
        const JDIMENSION count = height - first < kRowsPerCall ? height - first : kRowsPerCall;
        for (JDIMENSION i = 0; i < count; ++i) {
            // libjpeg only reads the rows; its interface has no const.
            rows[i] = const_cast<JSAMPROW>(rgb + (static_cast<size_t>(first) + i) * stride);
        }
        jpeg_write_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

// Sizes the image for the decoded pixels; false when memory runs out. Kept apart from
// Decompress so that no exception can leave a frame libjpeg may longjmp through.
bool Allocate(Image* image, JDIMENSION width, JDIMENSION height) {
    try {
        image->rgb.resize(size_t{width} * height * 3);
    } catch (const std::bad_alloc&) {
        return false;
    }
    image->width = width;
    image->height = height;
    return true;
}

// Plain data only, as in Compress: a longjmp lands in the setjmp below.
bool Decompress(const uint8_t* data, size_t size, Image* image) {
    jpeg_decompress_struct cinfo{};
    ErrorManager error;
    cinfo.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = ErrorExit;
    error.pub.output_message = OutputMessage;
    if (setjmp(error.escape) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (!Allocate(image, cinfo.output_width, cinfo.output_height)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    const size_t stride = size_t{cinfo.output_width} * 3;
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image->rgb.data() + size_t{cinfo.output_scanline} * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace

std::optional<Image> DecodeJpeg(const uint8_t* data, size_t size) {
    std::optional<Image> image(std::in_place);
    if (!Decompress(data, size, &*image)) {
        return std::nullopt;
    }
    return image;
}

bool EncodeJpeg(const Image& image, const JpegOptions& options, std::vector<uint8_t>& jpeg) {
    jpeg.clear();
    // An image whose pixels do not match its size would be read out of bounds.
    // Compared row by row: width * height * 3 may not fit 64 bits.
    const uint64_t rowBytes = static_cast<uint64_t>(image.width) * 3;
    if (image.width == 0 || image.height == 0 || image.rgb.size() % rowBytes != 0 ||
        image.rgb.size() / rowBytes != image.height) {
        return false;
    }
    return Compress(image.rgb.data(), image.width, image.height, &options, &jpeg);
}

}  // namespace tallox
