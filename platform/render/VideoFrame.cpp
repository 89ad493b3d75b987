#include "platform/render/VideoFrame.h"

#include "platform/dshow/Uuids.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMaxDimension = 16384;
constexpr int kPadPixels = 32;

const BITMAPINFOHEADER *VideoHeader(const CMediaType &mt, const RECT **source, LONG *arX, LONG *arY)
{
    if (mt.FormatType() == FORMAT_VideoInfo) {
        const auto *vih = mt.FormatAs<VIDEOINFOHEADER>();
        if (!vih)
            return nullptr;
        *source = &vih->rcSource;
        return &vih->bmiHeader;
    }
    if (mt.FormatType() == FORMAT_VideoInfo2) {
        const auto *vih2 = mt.FormatAs<VIDEOINFOHEADER2>();
        if (!vih2)
            return nullptr;
        *source = &vih2->rcSource;
        *arX = static_cast<LONG>(vih2->dwPictAspectRatioX);
        *arY = static_cast<LONG>(vih2->dwPictAspectRatioY);
        return &vih2->bmiHeader;
    }
    return nullptr;
}

// Bytes of a frame of `rows` rows whose first plane has `stride` bytes a row;
// 0 for an unknown subtype.
size_t FrameBytes(REFGUID subtype, size_t stride, size_t rows)
{
    const size_t chromaRows = (rows + 1) / 2;
    if (subtype == MEDIASUBTYPE_RGB32 || subtype == MEDIASUBTYPE_YUY2)
        return stride * rows;
    if (subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_IYUV || subtype == MEDIASUBTYPE_YV12)
        return stride * rows + 2 * (stride / 2) * chromaRows;
    if (subtype == MEDIASUBTYPE_NV12)
        return stride * rows + stride * chromaRows;
    return 0;
}

} // namespace

bool ParseVideoFormat(const CMediaType &mt, VideoFrameFormat *out)
{
    if (mt.Type() != MEDIATYPE_Video)
        return false;
    const RECT *source = nullptr;
    LONG arX = 0, arY = 0;
    const BITMAPINFOHEADER *bmi = VideoHeader(mt, &source, &arX, &arY);
    if (!bmi || bmi->biWidth <= 0 || bmi->biHeight == 0 || bmi->biWidth > kMaxDimension
        || std::abs(bmi->biHeight) > kMaxDimension)
        return false;
    const bool rgb = mt.Subtype() == MEDIASUBTYPE_RGB32;
    if (rgb && bmi->biBitCount != 32)
        return false;
    if (!rgb && bmi->biHeight < 0)
        return false;  // YUV is always top-down
    VideoFrameFormat f;
    f.subtype = mt.Subtype();
    const int rows = std::abs(bmi->biHeight);
    if (!rgb && (bmi->biWidth % 2 != 0))
        return false;
    f.stride = rgb ? bmi->biWidth * 4 : (mt.Subtype() == MEDIASUBTYPE_YUY2 ? bmi->biWidth * 2 : bmi->biWidth);
    f.frameSize = FrameBytes(f.subtype, static_cast<size_t>(f.stride), static_cast<size_t>(rows));
    if (f.frameSize == 0)
        return false;
    f.codedRows = rows;
    f.bottomUp = rgb && bmi->biHeight > 0;
    // The visible picture: rcSource when it is set and fits, else all of it.
    const bool useSource = source->right > 0 && source->bottom > 0 && source->left == 0
        && source->top == 0 && source->right <= bmi->biWidth && source->bottom <= rows;
    f.width = useSource ? source->right : bmi->biWidth;
    f.height = useSource ? source->bottom : rows;
    if (f.bottomUp)
        f.height = rows;  // rows count from the bottom: cropping would move the picture
    f.aspectX = arX > 0 && arY > 0 ? arX : f.width;
    f.aspectY = arX > 0 && arY > 0 ? arY : f.height;
    *out = f;
    return true;
}

void VideoConverter::SwsDeleter::operator()(SwsContext *ctx) const { sws_freeContext(ctx); }

VideoConverter::VideoConverter() = default;
VideoConverter::~VideoConverter() = default;

QImage VideoConverter::ToRgb32(const VideoFrameFormat &f, const BYTE *data, size_t size)
{
    if (!data || size < f.frameSize || f.width <= 0 || f.height <= 0)
        return {};
    QImage out(f.width, f.height, QImage::Format_RGB32);
    if (out.isNull())
        return {};
    if (f.subtype == MEDIASUBTYPE_RGB32) {
        const int rows = f.codedRows;
        for (int y = 0; y < f.height; ++y) {
            const int srcRow = f.bottomUp ? rows - 1 - y : y;
            const auto *src = reinterpret_cast<const uint32_t *>(data + size_t(srcRow) * f.stride);
            auto *dst = reinterpret_cast<uint32_t *>(out.scanLine(y));
            for (int x = 0; x < f.width; ++x)
                dst[x] = src[x] | 0xFF000000u;  // X8R8G8B8: the spare byte is not alpha
        }
        return out;
    }
    const int rows = f.codedRows;
    const uint8_t *planes[4] = {data, nullptr, nullptr, nullptr};
    int strides[4] = {f.stride, 0, 0, 0};
    AVPixelFormat pix = AV_PIX_FMT_YUV420P;
    const size_t lumaBytes = size_t(f.stride) * size_t(rows);
    if (f.subtype == MEDIASUBTYPE_YUY2) {
        pix = AV_PIX_FMT_YUYV422;
    } else if (f.subtype == MEDIASUBTYPE_NV12) {
        pix = AV_PIX_FMT_NV12;
        planes[1] = data + lumaBytes;
        strides[1] = f.stride;
    } else {
        const size_t chroma = size_t(f.stride / 2) * size_t((rows + 1) / 2);
        const bool yv12 = f.subtype == MEDIASUBTYPE_YV12;
        planes[yv12 ? 2 : 1] = data + lumaBytes;
        planes[yv12 ? 1 : 2] = data + lumaBytes + chroma;
        strides[1] = strides[2] = f.stride / 2;
    }
    m_sws.reset(sws_getCachedContext(m_sws.release(), f.width, f.height, pix, f.width, f.height,
                                     AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr));
    if (!m_sws)
        return {};
    // swscale's vector code writes whole blocks past the row's end (and a
    // row past the last): convert into a padded picture and cut it down.
    QImage padded((f.width + kPadPixels - 1) / kPadPixels * kPadPixels, f.height + 1, QImage::Format_RGB32);
    if (padded.isNull())
        return {};
    uint8_t *dst[4] = {padded.bits(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {static_cast<int>(padded.bytesPerLine()), 0, 0, 0};
    sws_scale(m_sws.get(), planes, strides, 0, f.height, dst, dstStride);
    out = padded.copy(0, 0, f.width, f.height);
    return out;
}
