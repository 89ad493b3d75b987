// Reading generated clips back with libavformat/libavcodec for the tests.
#pragma once

#include "tools/mkmedia/FfmpegPtr.h"
#include "tools/mkmedia/FrameIndex.h"

#include <string>
#include <vector>

struct DecodedClip {
    bool opened = false;
    int width = 0;
    int height = 0;
    AVRational rate{0, 1};
    AVRational sar{0, 1};
    int videoStreams = 0;
    int audioStreams = 0;
    std::vector<int> indices; // frame index of every decoded picture, in output order
    std::vector<std::vector<uint8_t>> videoPackets; // kept when asked (DV packs)
    std::vector<int16_t> pcm; // interleaved samples of the first audio stream when it is 16-bit PCM
    int pcmChannels = 0;
};

// Decodes every video frame of the first video stream.
inline DecodedClip DecodeClip(const std::string &path, bool keepPackets = false)
{
    using namespace mkmedia;
    DecodedClip d;
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return d;
    InputContextPtr in(raw);
    if (avformat_find_stream_info(in.get(), nullptr) < 0)
        return d;
    const AVCodec *codec = nullptr;
    const int vi = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        d.videoStreams += in->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        d.audioStreams += in->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    }
    if (vi < 0 || !codec)
        return d;
    const int ai = av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    const bool pcm = ai >= 0 && in->streams[ai]->codecpar->codec_id == AV_CODEC_ID_PCM_S16LE;
    if (pcm)
        d.pcmChannels = in->streams[ai]->codecpar->ch_layout.nb_channels;
    AVStream *st = in->streams[vi];
    CodecContextPtr dec(avcodec_alloc_context3(codec));
    if (!dec || avcodec_parameters_to_context(dec.get(), st->codecpar) < 0
        || avcodec_open2(dec.get(), codec, nullptr) < 0)
        return d;
    d.opened = true;
    d.width = st->codecpar->width;
    d.height = st->codecpar->height;
    d.rate = av_guess_frame_rate(in.get(), st, nullptr);
    PacketPtr pkt(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    auto drain = [&] {
        while (avcodec_receive_frame(dec.get(), frame.get()) >= 0) {
            d.indices.push_back(ReadFrameIndex(frame.get()));
            d.sar = av_guess_sample_aspect_ratio(in.get(), st, frame.get());
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(in.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == vi) {
            if (keepPackets)
                d.videoPackets.emplace_back(pkt->data, pkt->data + pkt->size);
            avcodec_send_packet(dec.get(), pkt.get());
            drain();
        } else if (pcm && pkt->stream_index == ai) {
            const auto *s = reinterpret_cast<const int16_t *>(pkt->data);
            d.pcm.insert(d.pcm.end(), s, s + pkt->size / 2);
        }
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec.get(), nullptr);
    drain();
    return d;
}

inline std::vector<int> Sequence(int n)
{
    std::vector<int> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<size_t>(i)] = i;
    return v;
}
