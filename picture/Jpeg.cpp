// JPEG through libjpeg, read from memory. libjpeg reports errors by calling error_exit, which here
// longjmps back instead of ending the process; the functions that call into libjpeg
// (ReadJpegHeader, DecompressJpeg) are plain C-style code without objects that have destructors.
//
// Memory: no marker is saved (jpeg_save_markers is never called), so libjpeg skips application
// data and comments whatever length they declare; everything else it allocates follows from the
// picture's size, which is checked against the limits before decompression starts.
#include <cstdio>  // jpeglib.h uses FILE and size_t without including their headers

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <new>
#include <vector>

#include "picture/PictureDecoders.h"

namespace picture {
namespace {

// A progressive JPEG may hold any number of scans; far more than any real picture has means
// hostile data trying to keep the decoder busy.
constexpr int kMaxScans = 500;

// Working memory beyond the coefficients (see WorkingMemoryBound): one MCU of padding is at most
// 32 pixels deep at 8 bytes a pixel, and the tables and row buffers take well under a megabyte.
constexpr uint64_t kPaddingBytesPerPixelEdge = 32 * 8;
constexpr uint64_t kTablesAndRowsBytes = 1u << 20;

struct JpegErrorManager {
    jpeg_error_mgr Base;  // first member: libjpeg's pointer to it is a pointer to the whole
    jpeg_progress_mgr Progress;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

[[noreturn]] void FailWith(j_common_ptr cinfo, const char *message) {
    auto *manager = reinterpret_cast<JpegErrorManager *>(cinfo->err);
    std::snprintf(manager->Message, sizeof manager->Message, "%s", message);
    std::longjmp(manager->Jump, 1);
}

[[noreturn]] void OnError(j_common_ptr cinfo) {
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    FailWith(cinfo, message);
}

// libjpeg goes on after most corrupt-data warnings, but at a premature end of the data it would
// fill the rest of the picture with grey: such a truncated picture is refused instead.
void OnMessage(j_common_ptr cinfo, int level) {
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        FailWith(cinfo, "JPEG data is truncated");
}

void OnOutputMessage(j_common_ptr) {}  // libjpeg's messages never reach stderr

void OnProgress(j_common_ptr cinfo) {
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
        FailWith(cinfo, "JPEG has too many scans");
}

// libjpeg's working memory for one picture, whose size the limits have already bounded. A
// picture of several scans (progressive) keeps all its coefficients: 2 bytes a sample, at most 4
// samples a pixel, so twice the bytes of the decoded pixels, plus up to one row and one column of
// MCUs (32 pixels deep) of padding. On top of that, room for tables and row buffers. libjpeg never
// allocates more for the coefficients: it has no backing store and refuses the picture instead.
uint64_t WorkingMemoryBound(const jpeg_decompress_struct &cinfo) {
    const uint64_t width = cinfo.image_width;
    const uint64_t height = cinfo.image_height;
    return width * height * 8 + (width + height) * kPaddingBytesPerPixelEdge + kTablesAndRowsBytes;
}

bool ReadJpegHeader(jpeg_decompress_struct *cinfo, JpegErrorManager *manager, const uint8_t *data,
                    unsigned long size) {
    if (setjmp(manager->Jump))
        return false;
    jpeg_mem_src(cinfo, data, size);
    jpeg_read_header(cinfo, TRUE);
    return true;
}

uint32_t CmykPixel(const uint8_t *p, bool inverted) {
    // Adobe's writers store the inks inverted; others store them as they are.
    uint32_t c = p[0], m = p[1], y = p[2], k = p[3];
    if (!inverted) {
        c = 255 - c;
        m = 255 - m;
        y = 255 - y;
        k = 255 - k;
    }
    return PackPixel((c * k + 127) / 255, (m * k + 127) / 255, (y * k + 127) / 255);
}

// Decodes every scanline into `pixels` through `row`, a buffer of one output scanline.
bool DecompressJpeg(jpeg_decompress_struct *cinfo, JpegErrorManager *manager, uint32_t *pixels,
                    uint8_t *row) {
    if (setjmp(manager->Jump))
        return false;
    jpeg_start_decompress(cinfo);
    const size_t width = cinfo->output_width;
    const int components = cinfo->output_components;
    const bool inverted = cinfo->saw_Adobe_marker;
    if (width != cinfo->image_width || (components != 1 && components != 3 && components != 4))
        FailWith(reinterpret_cast<j_common_ptr>(cinfo), "unexpected JPEG output layout");
    while (cinfo->output_scanline < cinfo->output_height) {
        uint32_t *out = pixels + static_cast<size_t>(cinfo->output_scanline) * width;
        JSAMPROW rows[1] = {row};
        if (jpeg_read_scanlines(cinfo, rows, 1) != 1)
            FailWith(reinterpret_cast<j_common_ptr>(cinfo), "JPEG data is truncated");
        for (size_t x = 0; x < width; ++x) {
            const uint8_t *p = row + x * components;
            if (components == 1)
                out[x] = PackPixel(p[0], p[0], p[0]);
            else if (components == 3)
                out[x] = PackPixel(p[0], p[1], p[2]);
            else
                out[x] = CmykPixel(p, inverted);
        }
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

// Owns libjpeg's decompression structure.
class JpegReader {
public:
    JpegReader() {
        cinfo_.err = jpeg_std_error(&manager_.Base);
        manager_.Base.error_exit = OnError;
        manager_.Base.emit_message = OnMessage;
        manager_.Base.output_message = OnOutputMessage;
        manager_.Progress.progress_monitor = OnProgress;
        manager_.Message[0] = '\0';
        // Creation reports failure (out of memory) through error_exit too.
        valid_ = Create(&cinfo_, &manager_);
        if (valid_)
            cinfo_.progress = &manager_.Progress;
    }
    ~JpegReader() {
        if (valid_)
            jpeg_destroy_decompress(&cinfo_);
    }
    JpegReader(const JpegReader &) = delete;
    JpegReader &operator=(const JpegReader &) = delete;

    bool Valid() const { return valid_; }
    jpeg_decompress_struct *Info() { return &cinfo_; }
    JpegErrorManager *Manager() { return &manager_; }
    std::string Error() const {
        return manager_.Message[0] ? "JPEG cannot be decoded: " + std::string(manager_.Message)
                                   : std::string("JPEG cannot be decoded");
    }

private:
    static bool Create(jpeg_decompress_struct *cinfo, JpegErrorManager *manager) {
        if (setjmp(manager->Jump))
            return false;
        jpeg_create_decompress(cinfo);
        return true;
    }

    jpeg_decompress_struct cinfo_{};
    JpegErrorManager manager_{};
    bool valid_ = false;
};

bool ReadHeader(JpegReader &reader, Bytes bytes) {
    if (!reader.Valid() || bytes.size() > ULONG_MAX)
        return false;
    return ReadJpegHeader(reader.Info(), reader.Manager(), bytes.data(),
                          static_cast<unsigned long>(bytes.size()));
}

}  // namespace

bool MeasureJpeg(Bytes bytes, Dimensions &size) {
    JpegReader reader;
    if (!ReadHeader(reader, bytes))
        return false;
    const jpeg_decompress_struct *cinfo = reader.Info();
    if (cinfo->image_width == 0 || cinfo->image_height == 0 || cinfo->image_width > INT32_MAX ||
        cinfo->image_height > INT32_MAX)
        return false;
    size = {static_cast<int32_t>(cinfo->image_width), static_cast<int32_t>(cinfo->image_height)};
    return true;
}

std::unique_ptr<Picture> DecodeJpeg(Bytes bytes, const PictureLimits &limits, std::string &error) {
    JpegReader reader;
    if (!ReadHeader(reader, bytes)) {
        error = reader.Error();
        return nullptr;
    }
    jpeg_decompress_struct *cinfo = reader.Info();
    if (!CheckPictureLimits(cinfo->image_width, cinfo->image_height, limits, error))
        return nullptr;
    switch (cinfo->jpeg_color_space) {
        case JCS_GRAYSCALE:
            cinfo->out_color_space = JCS_GRAYSCALE;
            break;
        case JCS_YCbCr:
        case JCS_RGB:
            cinfo->out_color_space = JCS_RGB;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            cinfo->out_color_space = JCS_CMYK;
            break;
        default:
            error = "JPEG colour space is not supported";
            return nullptr;
    }
    cinfo->mem->max_memory_to_use =
        static_cast<long>(std::min<uint64_t>(WorkingMemoryBound(*cinfo), LONG_MAX));

    auto result = AllocatePicture(cinfo->image_width, cinfo->image_height, limits, error);
    if (!result)
        return nullptr;
    std::vector<uint8_t> row;
    try {
        row.resize(static_cast<size_t>(cinfo->image_width) * 4u);
    } catch (const std::bad_alloc &) {
        error = "not enough memory to decode the JPEG";
        return nullptr;
    }
    if (!DecompressJpeg(cinfo, reader.Manager(), result->Pixels.data(), row.data())) {
        error = reader.Error();
        return nullptr;
    }
    return result;
}

}  // namespace picture
