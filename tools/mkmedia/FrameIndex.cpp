#include "tools/mkmedia/FrameIndex.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <string>
#include <vector>

namespace mkmedia {
namespace {

constexpr int kCols = 6;
constexpr int kRows = 4;
constexpr int kMarkerCells = 4;
constexpr int kIndexBits = 16;
constexpr uint8_t kWhite = 235;
constexpr uint8_t kBlack = 16;

struct Grid {
    int cell = 0;
    int x0 = 0;
    int y0 = 0;
};

// Cell size from the picture size only, so writer and reader agree.
bool GridFor(int width, int height, Grid &g)
{
    if (width < kMinIndexWidth || height < kMinIndexHeight)
        return false;
    const int fit = std::min(width / (kCols + 2), height / (kRows + 1));
    g.cell = std::max(16, fit / 8 * 8);
    g.x0 = g.cell / 2;
    g.y0 = g.cell / 2;
    return true;
}

int CheckNibble(int index)
{
    return (index ^ (index >> 4) ^ (index >> 8) ^ (index >> 12)) & 0xF;
}

// Cell values in grid order: marker W B W B, index bits (MSB first), check bits.
void CellValues(int index, bool cells[kCols * kRows])
{
    for (int i = 0; i < kMarkerCells; ++i)
        cells[i] = (i % 2) == 0;
    for (int b = 0; b < kIndexBits; ++b)
        cells[kMarkerCells + b] = (index >> (kIndexBits - 1 - b)) & 1;
    const int check = CheckNibble(index);
    for (int b = 0; b < 4; ++b)
        cells[kMarkerCells + kIndexBits + b] = (check >> (3 - b)) & 1;
}

// Mean of the cell's inner half, away from edge ringing.
int CellMean(const uint8_t *luma, int stride, const Grid &g, int i)
{
    const int cx = g.x0 + (i % kCols) * g.cell;
    const int cy = g.y0 + (i / kCols) * g.cell;
    const int q = g.cell / 4;
    long sum = 0;
    long n = 0;
    for (int y = cy + q; y < cy + g.cell - q; ++y)
        for (int x = cx + q; x < cx + g.cell - q; ++x, ++n)
            sum += luma[static_cast<long>(y) * stride + x];
    return n ? static_cast<int>(sum / n) : 0;
}

// 3x5 digit glyphs, one row per 3 bits (MSB left).
constexpr uint16_t kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

// The index in decimal under the grid, for people looking at a grabbed picture;
// left out when it does not fit. Readers never look at it.
void DrawDigits(uint8_t *luma, int stride, int width, int height, const Grid &g, int index)
{
    const int s = std::max(2, g.cell / 4);
    const std::string text = std::to_string(index);
    const int top = g.y0 + kRows * g.cell + s;
    if (top + 5 * s > height || g.x0 + int(text.size()) * 4 * s > width)
        return;
    for (size_t k = 0; k < text.size(); ++k) {
        const int left = g.x0 + int(k) * 4 * s;
        for (int r = 0; r < 5 * s; ++r)
            for (int c = 0; c < 3 * s; ++c) {
                const bool on = (kDigits[text[k] - '0'][r / s] >> (2 - c / s)) & 1;
                luma[static_cast<long>(top + r) * stride + left + c] = on ? kWhite : kBlack;
            }
    }
}

} // namespace

bool DrawFrameIndex(uint8_t *luma, int stride, int width, int height, int index)
{
    Grid g;
    if (!GridFor(width, height, g) || index < 0 || index > 0xFFFF)
        return false;
    bool cells[kCols * kRows];
    CellValues(index, cells);
    for (int i = 0; i < kCols * kRows; ++i) {
        const int cx = g.x0 + (i % kCols) * g.cell;
        const int cy = g.y0 + (i / kCols) * g.cell;
        for (int y = cy; y < cy + g.cell; ++y)
            std::fill_n(luma + static_cast<long>(y) * stride + cx, g.cell, cells[i] ? kWhite : kBlack);
    }
    DrawDigits(luma, stride, width, height, g, index);
    return true;
}

int ReadFrameIndex(const uint8_t *luma, int stride, int width, int height)
{
    Grid g;
    if (!luma || !GridFor(width, height, g))
        return -1;
    int means[kCols * kRows];
    for (int i = 0; i < kCols * kRows; ++i)
        means[i] = CellMean(luma, stride, g, i);
    // Threshold halfway between the marker's white and black cells.
    const int white = (means[0] + means[2]) / 2;
    const int black = (means[1] + means[3]) / 2;
    if (white - black < 64)
        return -1;
    const int threshold = (white + black) / 2;
    int index = 0;
    for (int b = 0; b < kIndexBits; ++b)
        index = (index << 1) | (means[kMarkerCells + b] > threshold ? 1 : 0);
    int check = 0;
    for (int b = 0; b < 4; ++b)
        check = (check << 1) | (means[kMarkerCells + kIndexBits + b] > threshold ? 1 : 0);
    return check == CheckNibble(index) ? index : -1;
}

int ReadFrameIndex(const AVFrame *frame)
{
    if (!frame)
        return -1;
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (!d || (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM))
        || d->comp[0].depth != 8 || d->comp[0].step != 1)
        return -1;
    return ReadFrameIndex(frame->data[0], frame->linesize[0], frame->width, frame->height);
}

int ReadFrameIndexFromDib(const uint8_t *dib, size_t size)
{
    if (!dib || size < 40)
        return -1;
    const auto le32 = [dib](size_t at) {
        return int32_t(uint32_t(dib[at]) | uint32_t(dib[at + 1]) << 8 | uint32_t(dib[at + 2]) << 16
                       | uint32_t(dib[at + 3]) << 24);
    };
    const int32_t headerSize = le32(0), width = le32(4), height = le32(8);
    const int bits = dib[14] | dib[15] << 8;
    const int bytesPerPixel = bits / 8;
    if (headerSize != 40 || width <= 0 || height == 0 || (bits != 24 && bits != 32))
        return -1;
    const int rows = height < 0 ? -height : height;
    const size_t stride = (size_t(width) * size_t(bytesPerPixel) + 3) & ~size_t(3);
    if (size - 40 < stride * size_t(rows))
        return -1;
    // Video-range luma, as the encoder saw it.
    std::vector<uint8_t> luma(size_t(width) * size_t(rows));
    for (int y = 0; y < rows; ++y) {
        const uint8_t *row = dib + 40 + stride * size_t(height > 0 ? rows - 1 - y : y);
        for (int x = 0; x < width; ++x) {
            const uint8_t *px = row + size_t(x) * size_t(bytesPerPixel);
            const double full = 0.114 * px[0] + 0.587 * px[1] + 0.299 * px[2];
            luma[size_t(y) * size_t(width) + size_t(x)] = uint8_t(16.5 + full * 219 / 255);
        }
    }
    return ReadFrameIndex(luma.data(), width, width, rows);
}

} // namespace mkmedia
