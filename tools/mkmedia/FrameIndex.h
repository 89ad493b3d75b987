// The frame index drawn into every generated picture and read back from decoded
// pictures. The index is a grid of large black and white cells (a start marker,
// 16 index bits, a 4-bit check) whose cell size follows from the picture size
// alone, so a reader needs nothing but the decoded luma plane. Cells are at
// least 16x16 pixels and are read by their mean luma, which survives lossy coding.
// Pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

struct AVFrame;

namespace mkmedia {

// Smallest picture that can carry an index.
constexpr int kMinIndexWidth = 112;
constexpr int kMinIndexHeight = 80;

// Draws `index` (0..65535) into an 8-bit luma plane (video range: white 235,
// black 16), with the decimal number under it when there is room. Returns
// false when the picture is too small.
bool DrawFrameIndex(uint8_t *luma, int stride, int width, int height, int index);

// Returns the index drawn by DrawFrameIndex, or -1 when the marker or the check
// bits do not match.
int ReadFrameIndex(const uint8_t *luma, int stride, int width, int height);

// Same for a decoded frame in any 8-bit planar YUV or gray format whose first
// plane is luma; -1 for other formats.
int ReadFrameIndex(const AVFrame *frame);

// Same for a packed device-independent bitmap (a 40-byte BITMAPINFOHEADER
// followed by 24- or 32-bit BGR pixels, bottom-up or top-down), as renderers
// hand out their picture; -1 for anything else or a block too short.
int ReadFrameIndexFromDib(const uint8_t *dib, size_t size);

} // namespace mkmedia
