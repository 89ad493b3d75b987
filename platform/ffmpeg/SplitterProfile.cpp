#include "platform/ffmpeg/SplitterProfile.h"

#include "platform/dshow/Uuids.h"

#include <algorithm>
#include <cstring>

// libavformat names a demuxer by a comma-separated list.
bool DemuxerIs(const AVFormatContext *format, std::string_view wanted)
{
    std::string_view names = format->iformat->name;
    while (!names.empty()) {
        const size_t comma = names.find(',');
        if (names.substr(0, comma) == wanted)
            return true;
        if (comma == std::string_view::npos)
            break;
        names.remove_prefix(comma + 1);
    }
    return false;
}

namespace {

bool AllStreamsAre(const AVFormatContext *format, std::initializer_list<AVCodecID> codecs)
{
    if (format->nb_streams == 0)
        return false;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (std::find(codecs.begin(), codecs.end(), format->streams[i]->codecpar->codec_id) == codecs.end())
            return false;
    return true;
}

uint32_t Le32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }

bool AnyFile(const AVFormatContext *, const std::vector<uint8_t> &) { return true; }

bool AviFile(const AVFormatContext *format, const std::vector<uint8_t> &)
{
    return DemuxerIs(format, "avi");
}

bool Mpeg2File(const AVFormatContext *format, const std::vector<uint8_t> &head)
{
    return DemuxerIs(format, "mpegts") || (DemuxerIs(format, "mpeg") && MpegPackVersion(head) == 2);
}

// MPEG-1 system streams, and MPEG-1 video or audio elementary streams.
bool Mpeg1File(const AVFormatContext *format, const std::vector<uint8_t> &head)
{
    if (DemuxerIs(format, "mpeg"))
        return MpegPackVersion(head) == 1;
    if (DemuxerIs(format, "mpegvideo"))
        return AllStreamsAre(format, {AV_CODEC_ID_MPEG1VIDEO});
    if (DemuxerIs(format, "mp3"))
        return AllStreamsAre(format, {AV_CODEC_ID_MP1, AV_CODEC_ID_MP2});
    return false;
}

bool WaveFile(const AVFormatContext *format, const std::vector<uint8_t> &)
{
    return DemuxerIs(format, "wav");
}

bool AsfFile(const AVFormatContext *format, const std::vector<uint8_t> &)
{
    return DemuxerIs(format, "asf") || DemuxerIs(format, "asf_o");
}

} // namespace

const SplitterProfile &LavSourceProfile()
{
    static const SplitterProfile p{CLSID_LAVSplitterSource, L"LAV Splitter Source", true, false, AnyFile};
    return p;
}

const SplitterProfile &AviSplitterProfile()
{
    static const SplitterProfile p{CLSID_AviSplitter, L"AVI Splitter", false, true, AviFile};
    return p;
}

const SplitterProfile &Mpeg2SplitterProfile()
{
    static const SplitterProfile p{CLSID_MMSPLITTER, L"MPEG-2 Splitter", false, false, Mpeg2File};
    return p;
}

const SplitterProfile &Mpeg1SplitterProfile()
{
    static const SplitterProfile p{CLSID_MPEG1Splitter, L"MPEG-I Stream Splitter", false, false, Mpeg1File};
    return p;
}

const SplitterProfile &WaveParserProfile()
{
    static const SplitterProfile p{CLSID_WAVEParser, L"Wave Parser", false, false, WaveFile};
    return p;
}

const SplitterProfile &AsfReaderProfile()
{
    static const SplitterProfile p{CLSID_WMAsfReader, L"WM ASF Reader", true, false, AsfFile};
    return p;
}

int MpegPackVersion(const std::vector<uint8_t> &head)
{
    for (size_t i = 0; i + 4 < head.size(); ++i) {
        if (head[i] != 0 || head[i + 1] != 0 || head[i + 2] != 1 || head[i + 3] != 0xBA)
            continue;
        if ((head[i + 4] & 0xC0) == 0x40)
            return 2;
        if ((head[i + 4] & 0xF0) == 0x20)
            return 1;
        return 0;
    }
    return 0;
}

bool FindInterleavedDv(const std::vector<uint8_t> &head, DVINFO *info)
{
    std::memset(info, 0, sizeof *info);
    if (head.size() < 12 || std::memcmp(head.data(), "RIFF", 4) != 0 || std::memcmp(head.data() + 8, "AVI ", 4) != 0)
        return false;
    for (size_t i = 12; i + 12 <= head.size(); ++i) {
        if (std::memcmp(&head[i], "strh", 4) != 0 || std::memcmp(&head[i + 8], "iavs", 4) != 0)
            continue;
        const uint64_t size = Le32(&head[i + 4]);
        const uint64_t next = i + 8 + size + (size & 1);
        if (next + 8 + sizeof(DVINFO) <= head.size() && std::memcmp(&head[next], "strf", 4) == 0
            && Le32(&head[next + 4]) >= sizeof(DVINFO))
            std::memcpy(info, &head[next + 8], sizeof(DVINFO));
        return true;
    }
    return false;
}
