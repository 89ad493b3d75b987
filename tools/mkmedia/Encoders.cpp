#include "tools/mkmedia/Encoders.h"

#include "tools/mkmedia/FrameIndex.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cmath>

namespace mkmedia {
namespace {

constexpr int kAudioRate = 48000;

std::string AvError(int err)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

AVPixelFormat PickPixelFormat(const AVCodec *codec, int height)
{
    const AVPixelFormat *f = codec->pix_fmts;
    if (!f)
        return AV_PIX_FMT_YUV420P;
    // NTSC DV is 4:1:1; every other encoder here takes 4:2:0.
    if (std::string(codec->name) == "dvvideo")
        return height == 480 ? AV_PIX_FMT_YUV411P : AV_PIX_FMT_YUV420P;
    for (const AVPixelFormat *p = f; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == AV_PIX_FMT_YUV420P)
            return *p;
    return f[0];
}

void TuneEncoder(AVCodecContext *c, const std::string &name)
{
    if (name == "libx264") {
        av_opt_set(c->priv_data, "preset", "veryfast", 0);
        c->thread_count = 1; // B-frame decisions stay the same from run to run
        // The asked number of B-frames, whatever the content: flat pictures
        // would otherwise get none.
        av_opt_set(c->priv_data, "x264-params", "b-adapt=0", 0);
    } else if (name == "libvpx") {
        av_opt_set(c->priv_data, "deadline", "realtime", 0);
        av_opt_set_int(c->priv_data, "cpu-used", 8, 0);
    }
}

} // namespace

std::string VideoEncoder::Open(const VideoSettings &s)
{
    const AVCodec *codec = avcodec_find_encoder_by_name(s.encoder.c_str());
    if (!codec)
        return "no encoder " + s.encoder + " in this libavcodec";
    m_ctx.reset(avcodec_alloc_context3(codec));
    m_packet.reset(av_packet_alloc());
    m_picture.reset(av_frame_alloc());
    if (!m_ctx || !m_packet || !m_picture)
        return "out of memory";
    AVCodecContext *c = m_ctx.get();
    c->width = s.width;
    c->height = s.height;
    c->time_base = AVRational{s.rate.den, s.rate.num};
    c->framerate = AVRational{s.rate.num, s.rate.den};
    c->sample_aspect_ratio = AVRational{s.sar.num, s.sar.den};
    c->pix_fmt = PickPixelFormat(codec, s.height);
    c->gop_size = s.gop;
    c->max_b_frames = s.bframes;
    c->bit_rate = s.bitRate > 0 ? s.bitRate : static_cast<int64_t>(s.width) * s.height * s.rate.num / s.rate.den / 3;
    if (s.globalHeader)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    TuneEncoder(c, s.encoder);
    if (int err = avcodec_open2(c, codec, nullptr); err < 0)
        return "cannot open " + s.encoder + ": " + AvError(err);
    m_picture->format = AV_PIX_FMT_YUV420P;
    m_picture->width = s.width;
    m_picture->height = s.height;
    if (av_frame_get_buffer(m_picture.get(), 0) < 0)
        return "out of memory";
    if (c->pix_fmt != AV_PIX_FMT_YUV420P) {
        m_converted.reset(av_frame_alloc());
        m_sws.reset(sws_getContext(s.width, s.height, AV_PIX_FMT_YUV420P, s.width, s.height,
                                   c->pix_fmt, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!m_converted || !m_sws)
            return "cannot convert pictures for " + s.encoder;
        m_converted->format = c->pix_fmt;
        m_converted->width = s.width;
        m_converted->height = s.height;
        if (av_frame_get_buffer(m_converted.get(), 0) < 0)
            return "out of memory";
    }
    return {};
}

// A moving diagonal ramp gives the encoder motion to predict; the index grid
// is drawn over it.
void VideoEncoder::DrawPicture(int index)
{
    AVFrame *f = m_picture.get();
    for (int y = 0; y < f->height; ++y) {
        uint8_t *row = f->data[0] + static_cast<long>(y) * f->linesize[0];
        for (int x = 0; x < f->width; ++x)
            row[x] = static_cast<uint8_t>(60 + ((x + y + 3 * index) & 127));
    }
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < (f->height + 1) / 2; ++y) {
            uint8_t *row = f->data[p] + static_cast<long>(y) * f->linesize[p];
            for (int x = 0; x < (f->width + 1) / 2; ++x)
                row[x] = static_cast<uint8_t>(p == 1 ? 96 + ((x + index) & 63) : 128 + ((y) & 31));
        }
    DrawFrameIndex(f->data[0], f->linesize[0], f->width, f->height, index);
}

bool VideoEncoder::Encode(int index, const PacketSink &sink)
{
    if (index < 0) {
        if (avcodec_send_frame(m_ctx.get(), nullptr) < 0)
            return false;
        return Drain(sink);
    }
    if (av_frame_make_writable(m_picture.get()) < 0)
        return false;
    DrawPicture(index);
    AVFrame *out = m_picture.get();
    if (m_sws) {
        if (av_frame_make_writable(m_converted.get()) < 0)
            return false;
        sws_scale(m_sws.get(), m_picture->data, m_picture->linesize, 0, m_picture->height,
                  m_converted->data, m_converted->linesize);
        out = m_converted.get();
    }
    out->pts = index;
    out->sample_aspect_ratio = m_ctx->sample_aspect_ratio;
    return avcodec_send_frame(m_ctx.get(), out) >= 0 && Drain(sink);
}

bool VideoEncoder::Drain(const PacketSink &sink)
{
    for (;;) {
        const int err = avcodec_receive_packet(m_ctx.get(), m_packet.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            return true;
        if (err < 0)
            return false;
        const bool ok = sink(m_packet.get());
        av_packet_unref(m_packet.get());
        if (!ok)
            return false;
    }
}

std::string AudioEncoder::Open(const std::string &encoder, bool globalHeader)
{
    const AVCodec *codec = avcodec_find_encoder_by_name(encoder.c_str());
    if (!codec)
        return "no encoder " + encoder + " in this libavcodec";
    m_ctx.reset(avcodec_alloc_context3(codec));
    m_packet.reset(av_packet_alloc());
    if (!m_ctx || !m_packet)
        return "out of memory";
    AVCodecContext *c = m_ctx.get();
    c->sample_rate = kAudioRate;
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&c->ch_layout, 2);
    c->time_base = AVRational{1, kAudioRate};
    c->bit_rate = encoder == "ac3" ? 192000 : 128000;
    if (globalHeader)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int err = avcodec_open2(c, codec, nullptr); err < 0)
        return "cannot open " + encoder + ": " + AvError(err);
    return {};
}

bool AudioEncoder::FillTone(AVFrame *f)
{
    const int channels = f->ch_layout.nb_channels;
    const auto fmt = static_cast<AVSampleFormat>(f->format);
    const bool planar = av_sample_fmt_is_planar(fmt);
    const AVSampleFormat packed = av_get_packed_sample_fmt(fmt);
    if (packed != AV_SAMPLE_FMT_S16 && packed != AV_SAMPLE_FMT_FLT && packed != AV_SAMPLE_FMT_S32)
        return false;
    for (int s = 0; s < f->nb_samples; ++s) {
        const double v = 0.25 * std::sin(2 * M_PI * 440.0 * double(m_sent + s) / kAudioRate);
        for (int ch = 0; ch < channels; ++ch) {
            const int at = planar ? s : s * channels + ch;
            uint8_t *base = f->extended_data[planar ? ch : 0];
            if (packed == AV_SAMPLE_FMT_S16)
                reinterpret_cast<int16_t *>(base)[at] = static_cast<int16_t>(v * 32767);
            else if (packed == AV_SAMPLE_FMT_S32)
                reinterpret_cast<int32_t *>(base)[at] = static_cast<int32_t>(v * 2147483647.0);
            else
                reinterpret_cast<float *>(base)[at] = static_cast<float>(v);
        }
    }
    return true;
}

bool AudioEncoder::EncodeUntil(int64_t samples, const PacketSink &sink)
{
    AVCodecContext *c = m_ctx.get();
    const bool variable = c->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
    while (m_sent < samples) {
        // PCM ends exactly where asked; other encoders take whole frames.
        int chunk = c->frame_size > 0 ? c->frame_size : 1024;
        if (variable && samples - m_sent < chunk)
            chunk = static_cast<int>(samples - m_sent);
        FramePtr f(av_frame_alloc());
        if (!f)
            return false;
        f->format = c->sample_fmt;
        f->sample_rate = c->sample_rate;
        f->nb_samples = chunk;
        if (av_channel_layout_copy(&f->ch_layout, &c->ch_layout) < 0
            || av_frame_get_buffer(f.get(), 0) < 0 || !FillTone(f.get()))
            return false;
        f->pts = m_sent;
        m_sent += chunk;
        if (avcodec_send_frame(c, f.get()) < 0 || !Drain(sink))
            return false;
    }
    return true;
}

bool AudioEncoder::Flush(const PacketSink &sink)
{
    return avcodec_send_frame(m_ctx.get(), nullptr) >= 0 && Drain(sink);
}

bool AudioEncoder::Drain(const PacketSink &sink)
{
    for (;;) {
        const int err = avcodec_receive_packet(m_ctx.get(), m_packet.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            return true;
        if (err < 0)
            return false;
        const bool ok = sink(m_packet.get());
        av_packet_unref(m_packet.get());
        if (!ok)
            return false;
    }
}

} // namespace mkmedia
