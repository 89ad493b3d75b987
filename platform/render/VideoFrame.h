// Uncompressed video frames as the video mixing renderer takes them: the
// layout a media type describes, and the conversion of one frame to a 32-bit
// RGB picture (libswscale for the YUV layouts).
//
// Values; a VideoConverter belongs to one thread at a time.
#pragma once

#include "platform/dshow/MediaType.h"

#include <QImage>

#include <cstddef>
#include <memory>

struct SwsContext;

struct VideoFrameFormat {
    GUID subtype = GUID_NULL;
    int width = 0;        // visible picture
    int height = 0;
    int stride = 0;       // bytes per row of the first plane
    int codedRows = 0;    // rows in the buffer (planes follow these)
    bool bottomUp = false;  // RGB with a positive biHeight
    size_t frameSize = 0;   // bytes a sample must hold
    LONG aspectX = 0;       // picture aspect ratio
    LONG aspectY = 0;
};

// False for anything but video in RGB32, I420/IYUV, YV12, NV12 or YUY2
// with a VIDEOINFOHEADER or VIDEOINFOHEADER2 that makes sense.
bool ParseVideoFormat(const CMediaType &mt, VideoFrameFormat *out);

class VideoConverter {
public:
    VideoConverter();
    ~VideoConverter();
    VideoConverter(const VideoConverter &) = delete;
    VideoConverter &operator=(const VideoConverter &) = delete;

    // The frame as QImage::Format_RGB32, top row first; a null image when
    // `size` is too small for the format. swscale may read a little past
    // the planes: give it kInputPadding more bytes than the frame.
    QImage ToRgb32(const VideoFrameFormat &format, const BYTE *data, size_t size);

    static constexpr size_t kInputPadding = 64;

private:
    struct SwsDeleter {
        void operator()(SwsContext *ctx) const;
    };
    std::unique_ptr<SwsContext, SwsDeleter> m_sws;
};
