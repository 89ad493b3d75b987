#include "platform/render/VmrMixer.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

QRgb ColorRefToRgb(COLORREF c) { return qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

bool IsWholeOutput(const VMR9NormalizedRect &r)
{
    const auto unit = [](float a, float b) {
        return (a == 0.f && b == 1.f) || (a == 1.f && b == 0.f);
    };
    return unit(r.left, r.right) && unit(r.top, r.bottom);
}

// Pixel column/row of a normalised coordinate.
int Scaled(float v, int size) { return static_cast<int>(std::lround(double(v) * size)); }

QImage PlaceStream(const QImage &frame, const MixerState &m)
{
    const bool mirrorH = m.output.left > m.output.right;
    const bool mirrorV = m.output.top > m.output.bottom;
    QImage pic = (mirrorH || mirrorV) ? frame.mirrored(mirrorH, mirrorV) : frame;
    if (IsWholeOutput(m.output))
        return pic;
    QImage out(frame.size(), QImage::Format_RGB32);
    out.fill(ColorRefToRgb(m.background));
    const int x0 = Scaled(std::min(m.output.left, m.output.right), frame.width());
    const int x1 = Scaled(std::max(m.output.left, m.output.right), frame.width());
    const int y0 = Scaled(std::min(m.output.top, m.output.bottom), frame.height());
    const int y1 = Scaled(std::max(m.output.top, m.output.bottom), frame.height());
    if (x1 > x0 && y1 > y0) {
        QPainter painter(&out);
        painter.drawImage(QRect(x0, y0, x1 - x0, y1 - y0), pic);
    }
    return out;
}

int Blend(int over, int under, float alpha)
{
    return static_cast<int>(std::lround(alpha * over + (1.f - alpha) * under));
}

// Point filtering, as the inlay asks for: each output pixel takes the
// nearest bitmap pixel.
void BlendBitmap(QImage &out, const MixerState &m)
{
    const QImage &bmp = m.bitmap;
    const int x0 = std::max(0, Scaled(m.bitmapDest.left, out.width()));
    const int x1 = std::min(out.width(), Scaled(m.bitmapDest.right, out.width()));
    const int y0 = std::max(0, Scaled(m.bitmapDest.top, out.height()));
    const int y1 = std::min(out.height(), Scaled(m.bitmapDest.bottom, out.height()));
    const int destW = Scaled(m.bitmapDest.right, out.width()) - Scaled(m.bitmapDest.left, out.width());
    const int destH = Scaled(m.bitmapDest.bottom, out.height()) - Scaled(m.bitmapDest.top, out.height());
    if (destW <= 0 || destH <= 0 || bmp.isNull())
        return;
    const int left = Scaled(m.bitmapDest.left, out.width());
    const int top = Scaled(m.bitmapDest.top, out.height());
    const QRgb key = ColorRefToRgb(m.key) & 0xFFFFFF;
    for (int y = y0; y < y1; ++y) {
        const int by = static_cast<int>(int64_t(y - top) * bmp.height() / destH);
        const auto *src = reinterpret_cast<const QRgb *>(bmp.constScanLine(by));
        auto *dst = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = x0; x < x1; ++x) {
            const QRgb b = src[int64_t(x - left) * bmp.width() / destW];
            if (m.colorKey && (b & 0xFFFFFF) == key)
                continue;
            const QRgb v = dst[x];
            dst[x] = qRgb(Blend(qRed(b), qRed(v), m.alpha), Blend(qGreen(b), qGreen(v), m.alpha),
                          Blend(qBlue(b), qBlue(v), m.alpha));
        }
    }
}

} // namespace

QImage ComposePicture(const QImage &frame, const MixerState &mixer)
{
    if (frame.isNull())
        return {};
    QImage out = PlaceStream(frame, mixer);
    if (mixer.bitmapOn && mixer.alpha > 0.f) {
        out.detach();
        BlendBitmap(out, mixer);
    }
    return out;
}

std::vector<BYTE> PackedDib(const QImage &picture)
{
    const QImage img = picture.convertToFormat(QImage::Format_RGB32);
    const size_t rowBytes = size_t(img.width()) * 4;
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = img.width();
    h.biHeight = img.height();  // bottom-up
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(rowBytes * size_t(img.height()));
    std::vector<BYTE> dib(sizeof h + h.biSizeImage);
    std::memcpy(dib.data(), &h, sizeof h);
    BYTE *pixels = dib.data() + sizeof h;
    for (int y = 0; y < img.height(); ++y)
        std::memcpy(pixels + size_t(img.height() - 1 - y) * rowBytes, img.constScanLine(y), rowBytes);
    return dib;
}
