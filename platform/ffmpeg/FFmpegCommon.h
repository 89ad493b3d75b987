// Shared pieces of the libavformat/libavcodec filters: owners for FFmpeg
// objects, time conversion, and the mapping between FFmpeg's codec
// parameters and the media types the splitter offers and the decoders take.
//
// Pure functions and RAII holders; any thread.
#pragma once

#include "platform/base/WideText.h"
#include "platform/dshow/MediaType.h"
#include "platform/dshow/Strmif.h"
#include "platform/dshow/VfwMsgs.h"
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

// A custom reader's context with its buffer; close the format using it first.
struct IoFreer {
    void operator()(AVIOContext *p) const
    {
        if (p)
            av_freep(&p->buffer);
        avio_context_free(&p);
    }
};

using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using IoPtr = std::unique_ptr<AVIOContext, IoFreer>;
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

// A decoder context for `in` with its extradata; null when libavcodec has no
// decoder for it (*hr VFW_E_NO_DECOMPRESSOR) or memory ran out.
CodecPtr AllocDecoder(const DecoderInput &in, HRESULT *hr);

// A packet holding a sample's bytes, no times; null for an empty sample
// (*hr S_OK) or when memory ran out (*hr E_OUTOFMEMORY).
PacketPtr PacketFromSample(IMediaSample *sample, HRESULT *hr);

// Sends one packet (null: drain) and hands every frame that comes out to
// deliver(frame). After a failed delivery the rest are drained, not
// delivered. A corrupt packet is not the end of the stream: only delivery
// failures come back (a decommitted allocator not even those).
template <class Deliver>
HRESULT DecodePacket(AVCodecContext *codec, AVFrame *frame, const AVPacket *packet, Deliver deliver)
{
    int sent = avcodec_send_packet(codec, packet);
    HRESULT result = S_OK;
    for (;;) {
        const int r = avcodec_receive_frame(codec, frame);
        if (r == AVERROR(EAGAIN) && sent == AVERROR(EAGAIN)) {
            sent = avcodec_send_packet(codec, packet);
            continue;
        }
        if (r < 0)
            break;
        const HRESULT hr = result == S_OK ? deliver(frame) : S_OK;
        av_frame_unref(frame);
        if (hr != S_OK)
            result = hr;
    }
    return FAILED(result) && result != VFW_E_NOT_COMMITTED ? result : S_OK;
}

// The compressed video and audio subtypes the decoders take (for the
// catalogue), each with the codec that decodes it.
struct SubtypeCodec {
    GUID subtype;
    AVCodecID codec;
};
const std::vector<SubtypeCodec> &VideoSubtypes();
const std::vector<SubtypeCodec> &AudioSubtypes();

} // namespace ffmpeg
