// The mixer of the video mixing renderer: places the video stream in the
// output (mirrored when its output rectangle is reversed), blends the
// colour-keyed alpha bitmap over it, and packs the result as a DIB.
//
// Pure functions on values; any thread.
#pragma once

#include "platform/render/Vmr9Interfaces.h"

#include <vector>

struct MixerState {
    VMR9NormalizedRect output{0.f, 0.f, 1.f, 1.f};  // stream 0
    COLORREF background = 0;
    // The alpha bitmap: the copied rSrc part of the caller's bitmap.
    bool bitmapOn = false;
    QImage bitmap;  // Format_RGB32
    VMR9NormalizedRect bitmapDest{0.f, 0.f, 1.f, 1.f};
    float alpha = 1.f;
    bool colorKey = false;
    COLORREF key = 0;
};

// The output picture, the size of `frame`.
QImage ComposePicture(const QImage &frame, const MixerState &mixer);

// BITMAPINFOHEADER (40 bytes, 32 bpp, BI_RGB, bottom-up) followed by the
// pixels, as GetCurrentImage hands them out.
std::vector<BYTE> PackedDib(const QImage &picture);
