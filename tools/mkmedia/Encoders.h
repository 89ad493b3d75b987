// Video and audio encoders of the generator: synthetic pictures carrying their
// index, a stereo tone, and packets handed to a sink (a muxer or the DV writer).
// Owned by one WriteClip call; single thread.
#pragma once

#include "tools/mkmedia/FfmpegPtr.h"
#include "tools/mkmedia/MkMedia.h"

#include <functional>
#include <string>

namespace mkmedia {

// Receives each encoded packet with timestamps in the encoder's time base.
using PacketSink = std::function<bool(AVPacket *)>;

struct VideoSettings {
    std::string encoder; // libavcodec encoder name
    int width = 0;
    int height = 0;
    Rational rate;
    Rational sar;
    int gop = 12;
    int bframes = 0;
    int bitRate = 0; // 0: a third of a bit per pixel
    bool globalHeader = false;
};

class VideoEncoder {
public:
    // Empty string on success, else a one-line reason.
    std::string Open(const VideoSettings &s);
    // Encodes picture `index` (drawn here) or, with index < 0, drains the encoder.
    bool Encode(int index, const PacketSink &sink);
    AVCodecContext *context() const { return m_ctx.get(); }

private:
    bool Drain(const PacketSink &sink);
    void DrawPicture(int index);

    CodecContextPtr m_ctx;
    FramePtr m_picture; // YUV 4:2:0 as drawn
    FramePtr m_converted; // in the encoder's format, when that differs
    SwsPtr m_sws;
    PacketPtr m_packet;
};

class AudioEncoder {
public:
    std::string Open(const std::string &encoder, bool globalHeader);
    // Encodes tone until `samples` samples per channel have been sent.
    bool EncodeUntil(int64_t samples, const PacketSink &sink);
    bool Flush(const PacketSink &sink);
    AVCodecContext *context() const { return m_ctx.get(); }

private:
    bool Drain(const PacketSink &sink);
    bool FillTone(AVFrame *f);

    CodecContextPtr m_ctx;
    PacketPtr m_packet;
    int64_t m_sent = 0;
};

} // namespace mkmedia
