#include "platform/ffmpeg/DvAudio.h"

#include "platform/ffmpeg/FFmpegCommon.h"

#include <algorithm>
#include <cstring>

using namespace ffmpeg;

namespace {

struct Memory {
    const uint8_t *data;
    int64_t size, position;
};

int ReadMemory(void *opaque, uint8_t *buffer, int size)
{
    auto *m = static_cast<Memory *>(opaque);
    const int n = static_cast<int>(std::min<int64_t>(size, m->size - m->position));
    if (n <= 0)
        return AVERROR_EOF;
    std::memcpy(buffer, m->data + m->position, static_cast<size_t>(n));
    m->position += n;
    return n;
}

int64_t SeekMemory(void *opaque, int64_t offset, int whence)
{
    auto *m = static_cast<Memory *>(opaque);
    if ((whence & ~AVSEEK_FORCE) == AVSEEK_SIZE)
        return m->size;
    const int64_t base = whence == SEEK_CUR ? m->position : whence == SEEK_END ? m->size : 0;
    if (base + offset < 0 || base + offset > m->size)
        return AVERROR(EINVAL);
    m->position = base + offset;
    return m->position;
}

bool FirstAudio(AVFormatContext *format, DvFrameAudio *out)
{
    PacketPtr packet = MakePacket();
    while (av_read_frame(format, packet.get()) >= 0) {
        const AVCodecParameters *par = format->streams[packet->stream_index]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->codec_id == AV_CODEC_ID_PCM_S16LE && packet->size > 0) {
            out->rate = par->sample_rate;
            out->channels = par->ch_layout.nb_channels;
            out->samples.resize(static_cast<size_t>(packet->size) / 2);
            std::memcpy(out->samples.data(), packet->data, out->samples.size() * 2);
            return out->rate > 0 && out->channels > 0;
        }
        av_packet_unref(packet.get());
    }
    return false;
}

} // namespace

bool DecodeDvAudio(const uint8_t *frame, size_t size, DvFrameAudio *out)
{
    if (!frame || (size != 120000 && size != 144000))
        return false;
    Memory memory{frame, static_cast<int64_t>(size), 0};
    constexpr int kBuffer = 16 * 1024;
    auto *buffer = static_cast<uint8_t *>(av_malloc(kBuffer));
    IoPtr io(avio_alloc_context(buffer, kBuffer, 0, &memory, ReadMemory, nullptr, SeekMemory));
    if (!io) {
        av_free(buffer);
        return false;
    }
    AVFormatContext *raw = avformat_alloc_context();
    if (!raw)
        return false;
    raw->pb = io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (avformat_open_input(&raw, "", av_find_input_format("dv"), nullptr) < 0)
        return false;  // raw is freed
    FormatPtr format(raw);
    return FirstAudio(format.get(), out);
}

DvStreamInfo DvInfoFromPacks(uint32_t vauxSource, uint32_t aauxSource)
{
    DvStreamInfo info;
    if (vauxSource)
        info.pal = ((vauxSource >> 16) & 0x20) != 0;  // PC3: 50/60
    else if (aauxSource)
        info.pal = ((aauxSource >> 16) & 0x20) != 0;
    if (aauxSource) {
        static const int rates[] = {48000, 44100, 32000};
        const unsigned smp = (aauxSource >> 27) & 0x7;  // PC4 bits 3-5
        info.rate = smp < 3 ? rates[smp] : 48000;
    }
    return info;
}
