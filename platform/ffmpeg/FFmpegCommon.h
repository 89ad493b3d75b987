// Shared pieces of the libavformat/libavcodec filters: owners for FFmpeg
// objects, time conversion, and the mapping between FFmpeg's codec
// parameters and the media types the splitter offers and the decoders take.
//
// Pure functions and RAII holders; any thread.
#pragma once

#include "platform/base/WideText.h"
#include "platform/dshow/MediaType.h"
#include "platform/dshow/Uuids.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>
#include <vector>

namespace ffmpeg {

struct FormatCloser {
    void operator()(AVFormatContext *p) const { avformat_close_input(&p); }
};
struct CodecFreer {
    void operator()(AVCodecContext *p) const { avcodec_free_context(&p); }
};
struct PacketFreer {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame *p) const { av_frame_free(&p); }
};
struct SwsFreer {
    void operator()(SwsContext *p) const { sws_freeContext(p); }
};
struct SwrFreer {
    void operator()(SwrContext *p) const { swr_free(&p); }
};

using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;

inline PacketPtr MakePacket() { return PacketPtr(av_packet_alloc()); }
inline FramePtr MakeFrame() { return FramePtr(av_frame_alloc()); }

// 100 ns units, the media graph's time base.
inline constexpr AVRational kHundredNs{1, 10000000};
inline REFERENCE_TIME ToRefTime(int64_t t, AVRational tb) { return av_rescale_q(t, tb, kHundredNs); }
inline int64_t FromRefTime(REFERENCE_TIME t, AVRational tb) { return av_rescale_q(t, kHundredNs, tb); }

// The media type a splitter offers for a stream; false for streams it
// leaves out (subtitles, data, codecs without any identifier).
bool MediaTypeForStream(const AVStream *stream, CMediaType *mt);

// What a decoder needs from a compressed media type.
struct DecoderInput {
    AVCodecID codec = AV_CODEC_ID_NONE;
    std::vector<uint8_t> extradata;
    int width = 0, height = 0;
    REFERENCE_TIME frameDuration = 0;
    int aspectX = 0, aspectY = 0;  // picture aspect; 0 when unknown
    // Audio
    int sampleRate = 0, channels = 0, blockAlign = 0, bitsPerSample = 0, bitRate = 0;
};
// False when the type is not one libavcodec can decode.
bool ParseVideoType(const CMediaType &mt, DecoderInput *in);
bool ParseAudioType(const CMediaType &mt, DecoderInput *in);

// The compressed video and audio subtypes the decoders take (for the
// catalogue), each with the codec that decodes it.
struct SubtypeCodec {
    GUID subtype;
    AVCodecID codec;
};
const std::vector<SubtypeCodec> &VideoSubtypes();
const std::vector<SubtypeCodec> &AudioSubtypes();

} // namespace ffmpeg
