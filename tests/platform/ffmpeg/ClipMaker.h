// Writes tiny test clips with libavformat/libavcodec: each frame is flat grey
// with a luma level that encodes its index, so lossy coding keeps it, and
// PictureRenderer reads the index back from a decoded picture.
#pragma once

#include "platform/ffmpeg/FFmpegCommon.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <cstring>
#include <memory>
#include <string>

namespace cliptest {

struct ClipSpec {
    std::string path;
    const char *format = nullptr;  // null: from the extension
    AVCodecID codec = AV_CODEC_ID_MPEG4;
    int frames = 25;
    int width = 176, height = 144;
    AVRational fps{25, 1};
    int gop = 12;
    int bFrames = 0;
    AVRational sar{0, 1};
    bool audio = false;  // adds an MP2 stream
};

inline int LumaFor(int index) { return 16 + index * 8; }
inline int IndexForLuma(int luma) { return (luma - 16 + 4) / 8; }

namespace detail {

struct Writer {
    AVFormatContext *oc = nullptr;
    ffmpeg::CodecPtr video, audio;
    AVStream *vs = nullptr, *as = nullptr;
    ffmpeg::PacketPtr packet = ffmpeg::MakePacket();

    bool Drain(AVCodecContext *enc, AVStream *st, const AVFrame *frame)
    {
        if (avcodec_send_frame(enc, frame) < 0)
            return false;
        while (avcodec_receive_packet(enc, packet.get()) == 0) {
            if (packet->duration <= 0 && enc->codec_type == AVMEDIA_TYPE_VIDEO)
                packet->duration = 1;  // one frame, as encoding tools write it
            av_packet_rescale_ts(packet.get(), enc->time_base, st->time_base);
            packet->stream_index = st->index;
            if (av_interleaved_write_frame(oc, packet.get()) < 0)
                return false;
        }
        return true;
    }
};

inline ffmpeg::CodecPtr OpenVideo(const ClipSpec &spec, AVFormatContext *oc)
{
    const AVCodec *codec = avcodec_find_encoder(spec.codec);
    if (!codec)
        return nullptr;
    ffmpeg::CodecPtr enc(avcodec_alloc_context3(codec));
    enc->width = spec.width;
    enc->height = spec.height;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->time_base = av_inv_q(spec.fps);
    enc->framerate = spec.fps;
    enc->gop_size = spec.gop;
    enc->max_b_frames = spec.bFrames;
    enc->bit_rate = 1500000;
    enc->sample_aspect_ratio = spec.sar;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // Every frame is a new level: no scene-cut key frames, only the GOP's.
    av_opt_set_int(enc.get(), "sc_threshold", 1000000000, AV_OPT_SEARCH_CHILDREN);
    if (avcodec_open2(enc.get(), codec, nullptr) < 0)
        return nullptr;
    return enc;
}

inline ffmpeg::CodecPtr OpenAudio(AVFormatContext *oc)
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_MP2);
    if (!codec)
        return nullptr;
    ffmpeg::CodecPtr enc(avcodec_alloc_context3(codec));
    enc->sample_fmt = AV_SAMPLE_FMT_S16;
    enc->sample_rate = 48000;
    av_channel_layout_default(&enc->ch_layout, 2);
    enc->bit_rate = 128000;
    enc->time_base = AVRational{1, 48000};
    if (oc->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(enc.get(), codec, nullptr) < 0)
        return nullptr;
    return enc;
}

inline AVStream *AddStream(AVFormatContext *oc, AVCodecContext *enc)
{
    AVStream *st = avformat_new_stream(oc, nullptr);
    avcodec_parameters_from_context(st->codecpar, enc);
    st->time_base = enc->time_base;
    st->sample_aspect_ratio = enc->sample_aspect_ratio;
    return st;
}

inline bool WriteVideoFrame(Writer &w, const ClipSpec &spec, int index)
{
    ffmpeg::FramePtr frame = ffmpeg::MakeFrame();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = spec.width;
    frame->height = spec.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return false;
    for (int y = 0; y < spec.height; ++y)
        std::memset(frame->data[0] + y * frame->linesize[0], LumaFor(index), static_cast<size_t>(spec.width));
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < spec.height / 2; ++y)
            std::memset(frame->data[p] + y * frame->linesize[p], 128, static_cast<size_t>(spec.width / 2));
    frame->pts = index;
    return w.Drain(w.video.get(), w.vs, frame.get());
}

inline bool WriteAudioUpTo(Writer &w, int64_t *samplesDone, int64_t until)
{
    const int n = w.audio->frame_size;
    while (*samplesDone < until) {
        ffmpeg::FramePtr frame = ffmpeg::MakeFrame();
        frame->format = AV_SAMPLE_FMT_S16;
        frame->nb_samples = n;
        av_channel_layout_copy(&frame->ch_layout, &w.audio->ch_layout);
        frame->sample_rate = 48000;
        if (av_frame_get_buffer(frame.get(), 0) < 0)
            return false;
        std::memset(frame->data[0], 0, static_cast<size_t>(n) * 4);
        frame->pts = *samplesDone;
        *samplesDone += n;
        if (!w.Drain(w.audio.get(), w.as, frame.get()))
            return false;
    }
    return true;
}

} // namespace detail

// False when the codec or container is missing or writing fails.
inline bool MakeClip(const ClipSpec &spec)
{
    detail::Writer w;
    if (avformat_alloc_output_context2(&w.oc, nullptr, spec.format, spec.path.c_str()) < 0)
        return false;
    struct Free {
        void operator()(AVFormatContext *p) const { avformat_free_context(p); }
    };
    std::unique_ptr<AVFormatContext, Free> owner(w.oc);
    w.video = detail::OpenVideo(spec, w.oc);
    if (!w.video)
        return false;
    w.vs = detail::AddStream(w.oc, w.video.get());
    if (spec.audio) {
        w.audio = detail::OpenAudio(w.oc);
        if (!w.audio)
            return false;
        w.as = detail::AddStream(w.oc, w.audio.get());
    }
    if (avio_open(&w.oc->pb, spec.path.c_str(), AVIO_FLAG_WRITE) < 0)
        return false;
    bool ok = avformat_write_header(w.oc, nullptr) >= 0;
    int64_t audioSamples = 0;
    for (int i = 0; ok && i < spec.frames; ++i) {
        ok = detail::WriteVideoFrame(w, spec, i);
        if (ok && w.audio)
            ok = detail::WriteAudioUpTo(w, &audioSamples, av_rescale(i + 1, 48000LL * spec.fps.den, spec.fps.num));
    }
    ok = ok && w.Drain(w.video.get(), w.vs, nullptr);
    if (ok && w.audio)
        ok = w.Drain(w.audio.get(), w.as, nullptr);
    ok = ok && av_write_trailer(w.oc) >= 0;
    avio_closep(&w.oc->pb);
    return ok;
}

} // namespace cliptest
