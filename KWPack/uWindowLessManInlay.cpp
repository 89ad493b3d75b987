// The inlay drawn into the overlay bitmap and handed to the mixer, and the
// grab of the picture shown.
#include "uWindowLessMan.h"

#include "platform/dshow/MediaType.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

// Far beyond the panel's 5 pixels; (2b + 1)^2 drawings per line must stay
// cheap whatever a script asks for.
constexpr int kMaxOutline = 20;

COLORREF ColorRef(TColor c) { return static_cast<COLORREF>(QColorToColor(ColorToQColor(c))); }

// The inlay font in pixels, whatever the bitmap's resolution.
QFont InlayQFont(const TFont &font)
{
    QFont f = font.ToQFont();
    const int ppi = font.PixelsPerInch > 0 ? font.PixelsPerInch : 96;
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(font.Size * ppi / 72.0))));
    return f;
}

struct CoTaskMemDeleter {
    void operator()(BYTE *p) const { CoTaskMemFree(p); }
};

void PutWord(QByteArray &out, uint16_t v)
{
    out.append(char(v & 0xFF)).append(char(v >> 8));
}

void PutDword(QByteArray &out, uint32_t v)
{
    PutWord(out, uint16_t(v & 0xFFFF));
    PutWord(out, uint16_t(v >> 16));
}

} // namespace

// ---- the inlay ------------------------------------------------------------------

void TWindowLessMan::SetInlay(bool on)
{
    if (on) {
        InlayMode = 2;
        RebuildInlay();
        return;
    }
    InlayMode = 0;
    if (MixerBitmap) {
        VMR9AlphaBitmap off{};
        off.dwFlags = VMR9AlphaBitmap_Disable;
        MixerBitmap->SetAlphaBitmap(&off);
    }
}

void TWindowLessMan::RefreshInlay()
{
    FramesDrawnMark = FramesDrawn();
    if (InlayMode == 2)
        RebuildInlay();
}

void TWindowLessMan::SetAutoFontSize(bool on)
{
    AutoFontSize = on;
    RefreshInlay();
}

void TWindowLessMan::SetInsertFont(const TFont &v)
{
    FInsertFont = v;
    OverlayFont = v;
    RefreshInlay();
}

void TWindowLessMan::SetInsertBorderWidth(int v)
{
    FInsertBorderWidth = v;
    RefreshInlay();
}

void TWindowLessMan::SetInsertBorderColor(TColor v)
{
    FInsertBorderColor = v;
    RefreshInlay();
}

void TWindowLessMan::SetInsertTransparency(double v)
{
    FInsertTransparency = v;
    RefreshInlay();
}

void TWindowLessMan::SetInsertTransparentColor(TColor v)
{
    FInsertTransparentColor = v;
    RefreshInlay();
}

void TWindowLessMan::SetInsertAntiAliasing(bool v)
{
    FInsertAntiAliasing = v;
    RefreshInlay();
}

void TWindowLessMan::SetInsertAlignLines(TAlignment v)
{
    FInsertAlignLines = v;
    for (TInlayLine &line : InlayLines)
        line.Alignment = v;
    RefreshInlay();
}

void TWindowLessMan::SetInsertPosition(const TPoint &v)
{
    InsertPosition = v;
    RefreshInlay();
}

QFont TWindowLessMan::OverlayQFont() const
{
    return InlayQFont(OverlayFont);
}

QList<TInlayPlacement> TWindowLessMan::PlaceInlayLines(int width, int height) const
{
    const QFontMetrics metrics(OverlayQFont());
    QList<TInlayPlacement> placed;
    const int x0 = static_cast<int>(int64_t(InsertPosition.X) * width / 10000);
    const int y0 = static_cast<int>(int64_t(InsertPosition.Y) * height / 10000);
    const int border = FInsertBorderWidth;
    int y = 0;
    for (int i = 0; i < kInlayLines; ++i) {
        const TInlayLine &line = InlayLines[i];
        if (!line.Enabled)
            continue;
        const int dy = static_cast<int>(std::lround(double(height) * line.VertOffset));
        y = line.Stacked ? y + dy : dy;
        int x = static_cast<int>(std::lround(double(width) * line.HorzOffset));
        const int textWidth = metrics.horizontalAdvance(line.Text);
        if (line.Alignment == taRightJustify)
            x -= textWidth;
        else if (line.Alignment == taCenter)
            x -= textWidth / 2;
        placed.append({i, QPoint(x0 + x + border, y0 + y + border)});
        y += metrics.height();
    }
    return placed;
}

void TWindowLessMan::RebuildInlay()
{
    LONG w = 0, h = 0;
    if (WindowlessControl)
        WindowlessControl->GetNativeVideoSize(&w, &h, nullptr, nullptr);
    if (OverlayBitmap.size() != QSize(w, h))
        OverlayBitmap = w > 0 && h > 0 ? QImage(w, h, QImage::Format_RGB32) : QImage();
    OverlayFont = FInsertFont;
    if (AutoFontSize)
        OverlayFont.Size = std::max(w / 36, h / 28);
    if (!OverlayBitmap.isNull()) {
        OverlayBitmap.fill(ColorToQColor(FInsertTransparentColor));
        QPainter canvas(&OverlayBitmap);
        canvas.setFont(OverlayQFont());
        canvas.setPen(ColorToQColor(OverlayFont.Color));
        for (const TInlayPlacement &p : PlaceInlayLines(w, h))
            DrawOutlinedText(canvas, p.At.x(), p.At.y(), FInsertAntiAliasing, FInsertBorderWidth,
                             FInsertBorderColor, InlayLines[p.Line].Text);
    }
    AlphaBitmap = VMR9AlphaBitmap{};
    AlphaBitmap.dwFlags = VMR9AlphaBitmap_hDC | VMR9AlphaBitmap_SrcColorKey | VMR9AlphaBitmap_FilterMode;
    AlphaBitmap.hdc = &OverlayBitmap;
    AlphaBitmap.rSrc = RECT{0, 0, w, h};
    AlphaBitmap.rDest = VMR9NormalizedRect{0.f, 0.f, 1.f, 1.f};
    AlphaBitmap.fAlpha = static_cast<FLOAT>(std::clamp(FInsertTransparency, 0.0, 1.0));
    AlphaBitmap.clrSrcKey = ColorRef(FInsertTransparentColor);
    AlphaBitmap.dwFilterMode = MixerPref9_PointFiltering;
    if (MixerBitmap)
        MixerBitmap->SetAlphaBitmap(&AlphaBitmap);
}

void TWindowLessMan::DrawOutlinedText(QPainter &canvas, int x, int y, bool antialias, int borderWidth,
                                      TColor borderColor, const QString &text)
{
    const QFont font = canvas.font();
    const QPen pen = canvas.pen();
    QFont sharp = font;
    sharp.setStyleStrategy(QFont::NoAntialias);
    canvas.setBackgroundMode(Qt::TransparentMode);
    canvas.setRenderHint(QPainter::TextAntialiasing, false);
    canvas.setFont(sharp);
    const int baseline = y + QFontMetrics(sharp).ascent();
    const int b = std::min(borderWidth, kMaxOutline);
    bool smooth = false;
    if (b > 0) {
        canvas.setPen(ColorToQColor(borderColor));
        for (int dy = -b; dy <= b; ++dy)
            for (int dx = -b; dx <= b; ++dx)
                if (std::abs(dx) + std::abs(dy) > b)
                    canvas.drawText(x + dx, baseline + dy, text);
        canvas.setPen(pen);
        // Smoothed edges only over an outline: over the key colour they
        // would blend into a fringe that the colour key no longer removes.
        smooth = antialias;
    }
    if (smooth) {
        QFont soft = font;
        soft.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
        canvas.setFont(soft);
        canvas.setRenderHint(QPainter::TextAntialiasing, true);
    }
    canvas.drawText(x, baseline, text);
    canvas.setFont(font);
}

// ---- the grab -------------------------------------------------------------------

QByteArray TWindowLessMan::BmpFileStream(const BYTE *dib)
{
    if (!dib)
        return {};
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib, sizeof h);
    if (h.biSize < sizeof h || h.biWidth <= 0 || h.biHeight == 0 || h.biBitCount == 0 || h.biBitCount > 32)
        return {};
    // The colour table as the pixels' offset needs it: biClrUsed, else a
    // full table for 8 bits or fewer; three masks follow a plain header
    // with bit fields.
    uint64_t entries = h.biClrUsed ? h.biClrUsed : h.biBitCount <= 8 ? (1u << h.biBitCount) : 0;
    if (h.biCompression == BI_BITFIELDS && h.biSize == sizeof h)
        entries += 3;
    const uint64_t stride = (uint64_t(h.biWidth) * h.biBitCount + 31) / 32 * 4;
    const uint64_t image = h.biSizeImage ? h.biSizeImage : stride * uint64_t(std::abs(int64_t(h.biHeight)));
    const uint64_t offBits = 14 + uint64_t(h.biSize) + 4 * entries;
    const uint64_t size = offBits + image;
    if (size > 0x7FFFFFFF)
        return {};
    QByteArray stream;
    stream.reserve(static_cast<qsizetype>(size));
    PutWord(stream, 0x4D42);  // "BM"
    PutDword(stream, static_cast<uint32_t>(size));
    PutWord(stream, 0);
    PutWord(stream, 0);
    PutDword(stream, static_cast<uint32_t>(offBits));
    stream.append(reinterpret_cast<const char *>(dib), static_cast<qsizetype>(size - 14));
    return stream;
}

bool TWindowLessMan::GrabCurrentImage(QImage &bitmap)
{
    if (!WindowlessControl)
        return false;
    BYTE *raw = nullptr;
    if (FAILED(WindowlessControl->GetCurrentImage(&raw)) || !raw)
        return false;
    const std::unique_ptr<BYTE, CoTaskMemDeleter> dib(raw);
    const QByteArray stream = BmpFileStream(dib.get());
    QImage loaded;
    if (stream.isEmpty() || !loaded.loadFromData(stream, "BMP"))
        return false;
    bitmap = std::move(loaded);
    return true;
}
