#include "platform/base/ImageFiles.h"

#include "platform/registry/Registry.h"

#include <QDir>
#include <QSysInfo>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <vector>


// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

namespace {

void SetError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// ---- BMP ---------------------------------------------------------------------------

constexpr int kBmpHeaders = 14 + 40;

void PutU16(char *p, uint16_t v)
{
    p[0] = static_cast<char>(v & 0xFF);
    p[1] = static_cast<char>(v >> 8);
}

void PutU32(char *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void PutBmpHeaders(char *p, int width, int height, uint32_t pixelBytes)
{
    // BITMAPFILEHEADER
    p[0] = 'B';
    p[1] = 'M';
    PutU32(p + 2, kBmpHeaders + pixelBytes);  // bfSize
    PutU32(p + 6, 0);                         // bfReserved1, bfReserved2
    PutU32(p + 10, kBmpHeaders);              // bfOffBits
    // BITMAPINFOHEADER; a positive height means bottom-up rows.
    PutU32(p + 14, 40);
    PutU32(p + 18, static_cast<uint32_t>(width));
    PutU32(p + 22, static_cast<uint32_t>(height));
    PutU16(p + 26, 1);           // biPlanes
    PutU16(p + 28, 24);          // biBitCount
    PutU32(p + 30, 0);           // biCompression: BI_RGB
    PutU32(p + 34, pixelBytes);  // biSizeImage
    PutU32(p + 38, 0);           // biXPelsPerMeter: none said
    PutU32(p + 42, 0);           // biYPelsPerMeter
    PutU32(p + 46, 0);           // biClrUsed
    PutU32(p + 50, 0);           // biClrImportant
}

// ---- JPEG --------------------------------------------------------------------------

// libjpeg's own error handler ends the process; ours jumps back to the call.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings are not for the user's terminal.
void OutputMessage(j_common_ptr)
{
}

// Compressed bytes go into a QByteArray that grows by doubling.
struct MemoryDestination {
    jpeg_destination_mgr pub;
    QByteArray *bytes;
};

constexpr qsizetype kFirstChunk = 64 * 1024;

// No exception may cross libjpeg's C frames: a failed allocation becomes
// libjpeg's own out-of-memory error.
void Grow(j_compress_ptr cinfo, qsizetype used, qsizetype size)
{
    auto *d = reinterpret_cast<MemoryDestination *>(cinfo->dest);
    bool grown = true;
    try {
        d->bytes->resize(size);
    } catch (const std::bad_alloc &) {
        grown = false;
    }
    if (!grown)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
    d->pub.next_output_byte = reinterpret_cast<JOCTET *>(d->bytes->data()) + used;
    d->pub.free_in_buffer = static_cast<size_t>(size - used);
}

// A quarter byte per pixel holds most pictures at high quality: one
// allocation, seldom a second.
void InitDestination(j_compress_ptr cinfo)
{
    const qsizetype guess = qsizetype(cinfo->image_width) * qsizetype(cinfo->image_height) / 4;
    Grow(cinfo, 0, std::max(kFirstChunk, guess));
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo)
{
    const qsizetype used = reinterpret_cast<MemoryDestination *>(cinfo->dest)->bytes->size();
    if (used > std::numeric_limits<qsizetype>::max() / 2)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 2);
    Grow(cinfo, used, used * 2);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    auto *d = reinterpret_cast<MemoryDestination *>(cinfo->dest);
    d->bytes->truncate(d->bytes->size() - static_cast<qsizetype>(d->pub.free_in_buffer));
}

// The pixel layouts libjpeg-turbo reads as they are: no conversion first.
bool JpegInput(QImage::Format format, J_COLOR_SPACE *space, int *components)
{
    switch (format) {
    case QImage::Format_RGB32:  // 0xffRRGGBB: B, G, R, X in memory on little-endian machines
        if (QSysInfo::ByteOrder != QSysInfo::LittleEndian)
            return false;
        *space = JCS_EXT_BGRX;
        *components = 4;
        return true;
    case QImage::Format_RGB888:
        *space = JCS_RGB;
        *components = 3;
        return true;
    case QImage::Format_BGR888:
        *space = JCS_EXT_BGR;
        *components = 3;
        return true;
    default:
        return false;
    }
}

// longjmp leaves this frame: nothing here has a destructor to skip. `rows`
// points to every row of the picture.
bool Compress(jpeg_compress_struct *cinfo, ErrorManager *err, MemoryDestination *dest, const QImage *image,
              JSAMPROW *rows, int quality)
{
    if (setjmp(err->jump)) {
        jpeg_destroy_compress(cinfo);
        return false;
    }
    jpeg_create_compress(cinfo);
    cinfo->dest = &dest->pub;
    cinfo->image_width = static_cast<JDIMENSION>(image->width());
    cinfo->image_height = static_cast<JDIMENSION>(image->height());
    JpegInput(image->format(), &cinfo->in_color_space, &cinfo->input_components);
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);  // baseline tables at any quality
    // 4:2:0 whatever the library's default.
    cinfo->comp_info[0].h_samp_factor = 2;
    cinfo->comp_info[0].v_samp_factor = 2;
    for (int c = 1; c < 3; ++c) {
        cinfo->comp_info[c].h_samp_factor = 1;
        cinfo->comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height)
        jpeg_write_scanlines(cinfo, rows + cinfo->next_scanline, cinfo->image_height - cinfo->next_scanline);
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return true;
}

// ---- files -------------------------------------------------------------------------

bool WriteImageFile(const QString &path, const QByteArray &bytes, QString *error)
{
    if (path.isEmpty()) {
        SetError(error, QStringLiteral("No file name was given"));
        return false;
    }
    const QFileInfo info(path);
    if (!info.absoluteDir().exists()) {
        SetError(error, QStringLiteral("The folder %1 does not exist").arg(info.absolutePath()));
        return false;
    }
    QString reason;
    if (!reg::ReplaceFile(path, bytes, &reason, true)) {
        SetError(error, reason);
        return false;
    }
    return true;
}

}  // namespace

QByteArray EncodeBmp24(const QImage &image)
{
    if (image.isNull())
        return {};
    const int width = image.width();
    const int height = image.height();
    const qint64 stride = (static_cast<qint64>(width) * 3 + 3) & ~qint64(3);
    const qint64 pixelBytes = stride * height;
    if (pixelBytes > std::numeric_limits<uint32_t>::max() - kBmpHeaders)
        return {};
    const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
    if (bgr.isNull())
        return {};
    QByteArray bytes(kBmpHeaders + pixelBytes, '\0');  // padding stays zero
    char *p = bytes.data();
    PutBmpHeaders(p, width, height, static_cast<uint32_t>(pixelBytes));
    for (int y = 0; y < height; ++y)
        std::memcpy(p + kBmpHeaders + stride * y, bgr.constScanLine(height - 1 - y), static_cast<size_t>(width) * 3);
    return bytes;
}

QByteArray EncodeJpeg(const QImage &image, int quality, QString *error)
{
    if (image.isNull()) {
        SetError(error, QStringLiteral("The image is empty"));
        return {};
    }
    J_COLOR_SPACE space = JCS_RGB;
    int components = 3;
    const QImage rgb = JpegInput(image.format(), &space, &components) ? image
                                                                      : image.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull()) {
        SetError(error, QStringLiteral("Not enough memory to convert the image"));
        return {};
    }
    std::vector<JSAMPROW> rows(static_cast<size_t>(rgb.height()));
    for (int y = 0; y < rgb.height(); ++y)
        rows[static_cast<size_t>(y)] = const_cast<JSAMPROW>(rgb.constScanLine(y));
    QByteArray bytes;
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = OutputMessage;
    MemoryDestination dest{};
    dest.pub.init_destination = InitDestination;
    dest.pub.empty_output_buffer = EmptyOutputBuffer;
    dest.pub.term_destination = TermDestination;
    dest.bytes = &bytes;
    if (!Compress(&cinfo, &err, &dest, &rgb, rows.data(), std::clamp(quality, 1, 100))) {
        SetError(error, QStringLiteral("JPEG: ") + QString::fromLocal8Bit(err.message));
        return {};
    }
    return bytes;
}

bool WriteBmp24(const QImage &image, const QString &path, QString *error)
{
    QByteArray bytes;
    try {
        bytes = EncodeBmp24(image);
    } catch (const std::bad_alloc &) {
        // left empty: reported below
    }
    if (bytes.isEmpty()) {
        SetError(error, image.isNull() ? QStringLiteral("The image is empty")
                                       : QStringLiteral("The image is too large for a BMP file"));
        return false;
    }
    return WriteImageFile(path, bytes, error);
}

bool WriteJpeg(const QImage &image, const QString &path, int quality, QString *error)
{
    const QByteArray bytes = EncodeJpeg(image, quality, error);
    return !bytes.isEmpty() && WriteImageFile(path, bytes, error);
}
