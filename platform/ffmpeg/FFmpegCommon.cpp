#include "platform/ffmpeg/FFmpegCommon.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace ffmpeg {

namespace {

uint32_t UpperFourCC(uint32_t tag)
{
    uint32_t out = 0;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>((tag >> (8 * i)) & 0xFF);
        out |= static_cast<uint32_t>(std::toupper(c)) << (8 * i);
    }
    return out;
}

const AVCodecTag *const kVideoTags[] = {avformat_get_riff_video_tags(), nullptr};
const AVCodecTag *const kAudioTags[] = {avformat_get_riff_audio_tags(), nullptr};

// The FourCC a Windows splitter names a codec by: the container's tag when
// it stands for that codec (upper case), else the usual AVI tag.
uint32_t VideoFourCC(const AVCodecParameters *par)
{
    const uint32_t upper = UpperFourCC(par->codec_tag);
    if (par->codec_tag && av_codec_get_id(kVideoTags, upper) == par->codec_id)
        return upper;
    if (par->codec_tag && av_codec_get_id(kVideoTags, par->codec_tag) == par->codec_id)
        return par->codec_tag;
    return av_codec_get_tag(kVideoTags, par->codec_id);
}

REFERENCE_TIME FrameDuration(const AVStream *s)
{
    // The container's base rate is exact where the average is computed from
    // a rounded length; the average wins when they disagree (variable rate).
    AVRational rate = s->avg_frame_rate;
    const AVRational base = s->r_frame_rate;
    const bool baseValid = base.num > 0 && base.den > 0;
    if (rate.num <= 0 || rate.den <= 0
        || (baseValid && std::abs(av_q2d(base) / av_q2d(rate) - 1.0) < 0.1))
        rate = base;
    if (rate.num <= 0 || rate.den <= 0)
        return 0;
    return av_rescale(10000000, rate.den, rate.num);
}

void PictureAspect(const AVStream *s, int w, int h, DWORD *ax, DWORD *ay)
{
    AVRational sar = s->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        sar = s->codecpar->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        sar = AVRational{1, 1};
    int num = 0, den = 0;
    av_reduce(&num, &den, int64_t{w} * sar.num, int64_t{h} * sar.den, 1 << 30);
    *ax = static_cast<DWORD>(num);
    *ay = static_cast<DWORD>(den);
}

BITMAPINFOHEADER MakeBitmapHeader(const AVCodecParameters *par, uint32_t fourcc)
{
    BITMAPINFOHEADER bmi{};
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = par->width;
    bmi.biHeight = par->height;
    bmi.biPlanes = 1;
    bmi.biBitCount = 24;
    bmi.biCompression = fourcc;
    bmi.biSizeImage = static_cast<DWORD>(par->width * par->height * 3);
    return bmi;
}

VIDEOINFOHEADER2 MakeVih2(const AVStream *s, uint32_t fourcc)
{
    const AVCodecParameters *par = s->codecpar;
    VIDEOINFOHEADER2 vih{};
    vih.rcSource = {0, 0, par->width, par->height};
    vih.rcTarget = vih.rcSource;
    vih.dwBitRate = static_cast<DWORD>(std::clamp<int64_t>(par->bit_rate, 0, UINT32_MAX));
    vih.AvgTimePerFrame = FrameDuration(s);
    PictureAspect(s, par->width, par->height, &vih.dwPictAspectRatioX, &vih.dwPictAspectRatioY);
    vih.bmiHeader = MakeBitmapHeader(par, fourcc);
    return vih;
}

std::span<const BYTE> Extradata(const AVCodecParameters *par)
{
    if (!par->extradata || par->extradata_size <= 0)
        return {};
    return {par->extradata, static_cast<size_t>(par->extradata_size)};
}

void SetMpeg2VideoType(const AVStream *s, uint32_t fourcc, CMediaType *mt)
{
    const AVCodecParameters *par = s->codecpar;
    MPEG2VIDEOINFO info{};
    info.hdr = MakeVih2(s, fourcc);
    const auto extra = Extradata(par);
    info.cbSequenceHeader = static_cast<DWORD>(extra.size());
    info.dwProfile = par->profile > 0 ? static_cast<DWORD>(par->profile) : 0;
    info.dwLevel = par->level > 0 ? static_cast<DWORD>(par->level) : 0;
    if (par->codec_id == AV_CODEC_ID_H264 && extra.size() > 4)
        info.dwFlags = (extra[4] & 3) + 1;  // NAL length size
    const size_t fixed = offsetof(MPEG2VIDEOINFO, dwSequenceHeader);
    BYTE *p = mt->AllocFormatBuffer(std::max(fixed + extra.size(), sizeof(MPEG2VIDEOINFO)));
    std::memcpy(p, &info, fixed);
    if (!extra.empty())
        std::memcpy(p + fixed, extra.data(), extra.size());
    mt->SetFormatType(FORMAT_MPEG2Video);
}

void SetMpeg1VideoType(const AVStream *s, CMediaType *mt)
{
    MPEG1VIDEOINFO info{};
    const VIDEOINFOHEADER2 v2 = MakeVih2(s, 0);
    info.hdr.rcSource = v2.rcSource;
    info.hdr.rcTarget = v2.rcTarget;
    info.hdr.dwBitRate = v2.dwBitRate;
    info.hdr.AvgTimePerFrame = v2.AvgTimePerFrame;
    info.hdr.bmiHeader = v2.bmiHeader;
    const auto extra = Extradata(s->codecpar);
    info.cbSequenceHeader = static_cast<DWORD>(extra.size());
    const size_t fixed = offsetof(MPEG1VIDEOINFO, bSequenceHeader);
    BYTE *p = mt->AllocFormatBuffer(std::max(fixed + extra.size(), sizeof(MPEG1VIDEOINFO)));
    std::memcpy(p, &info, fixed);
    if (!extra.empty())
        std::memcpy(p + fixed, extra.data(), extra.size());
    mt->SetFormatType(FORMAT_MPEGVideo);
}

bool VideoType(const AVStream *s, CMediaType *mt)
{
    const AVCodecParameters *par = s->codecpar;
    mt->SetType(MEDIATYPE_Video);
    mt->SetTemporalCompression(true);
    mt->SetVariableSize();
    switch (par->codec_id) {
    case AV_CODEC_ID_MPEG1VIDEO:
        mt->SetSubtype(MEDIASUBTYPE_MPEG1Payload);
        SetMpeg1VideoType(s, mt);
        return true;
    case AV_CODEC_ID_MPEG2VIDEO:
        mt->SetSubtype(MEDIASUBTYPE_MPEG2_VIDEO);
        SetMpeg2VideoType(s, 0, mt);
        return true;
    case AV_CODEC_ID_H264:
        if (par->extradata_size > 0 && par->extradata[0] == 1) {
            mt->SetSubtype(MEDIASUBTYPE_AVC1);
            SetMpeg2VideoType(s, MAKEFOURCC('A', 'V', 'C', '1'), mt);
            return true;
        }
        mt->SetSubtype(MEDIASUBTYPE_H264);
        mt->SetFormat(MakeVih2(s, MAKEFOURCC('H', '2', '6', '4')), Extradata(par));
        mt->SetFormatType(FORMAT_VideoInfo2);
        return true;
    case AV_CODEC_ID_DVVIDEO: {
        const VIDEOINFOHEADER2 v2 = MakeVih2(s, MAKEFOURCC('d', 'v', 's', 'd'));
        VIDEOINFOHEADER vih{v2.rcSource, v2.rcTarget, v2.dwBitRate, 0, v2.AvgTimePerFrame, v2.bmiHeader};
        mt->SetSubtype(MEDIASUBTYPE_dvsd);
        mt->SetFormat(vih);
        mt->SetFormatType(FORMAT_VideoInfo);
        return true;
    }
    default:
        break;
    }
    const uint32_t fourcc = VideoFourCC(par);
    if (!fourcc)
        return false;
    mt->SetSubtype(FourCCGuid(fourcc));
    mt->SetFormat(MakeVih2(s, fourcc), Extradata(par));
    mt->SetFormatType(FORMAT_VideoInfo2);
    return true;
}

bool AudioType(const AVStream *s, CMediaType *mt)
{
    const AVCodecParameters *par = s->codecpar;
    const unsigned tag = av_codec_get_tag(kAudioTags, par->codec_id);
    if (!tag || tag > 0xFFFF)
        return false;
    const auto extra = Extradata(par);
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = static_cast<WORD>(tag);
    wfx.nChannels = static_cast<WORD>(par->ch_layout.nb_channels);
    wfx.nSamplesPerSec = static_cast<DWORD>(par->sample_rate);
    wfx.wBitsPerSample = static_cast<WORD>(par->bits_per_coded_sample);
    wfx.nBlockAlign = static_cast<WORD>(par->block_align);
    if (tag == WAVE_FORMAT_PCM && !wfx.nBlockAlign)
        wfx.nBlockAlign = static_cast<WORD>(wfx.nChannels * wfx.wBitsPerSample / 8);
    wfx.nAvgBytesPerSec = tag == WAVE_FORMAT_PCM ? wfx.nSamplesPerSec * wfx.nBlockAlign
                                                 : static_cast<DWORD>(par->bit_rate / 8);
    wfx.cbSize = static_cast<WORD>(std::min<size_t>(extra.size(), 0xFFFF));
    mt->SetType(MEDIATYPE_Audio);
    mt->SetSubtype(FourCCGuid(tag));
    mt->SetFormat(wfx, extra.first(wfx.cbSize));
    mt->SetFormatType(FORMAT_WaveFormatEx);
    if (tag == WAVE_FORMAT_PCM)
        mt->SetSampleSize(wfx.nBlockAlign);
    else
        mt->SetVariableSize();
    return true;
}

std::vector<uint8_t> Bytes(const BYTE *p, size_t n) { return std::vector<uint8_t>(p, p + n); }

// Fills the picture fields shared by every video format block.
void TakeVideoHeader(const RECT &src, REFERENCE_TIME avg, const BITMAPINFOHEADER &bmi,
                     DecoderInput *in)
{
    in->width = bmi.biWidth;
    in->height = std::abs(bmi.biHeight);
    if (src.right > src.left && src.bottom > src.top && in->width == 0) {
        in->width = src.right - src.left;
        in->height = src.bottom - src.top;
    }
    in->frameDuration = avg;
}

} // namespace

bool MediaTypeForStream(const AVStream *stream, CMediaType *mt)
{
    if (!stream || !stream->codecpar)
        return false;
    *mt = CMediaType();
    switch (stream->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
            return false;
        return VideoType(stream, mt);
    case AVMEDIA_TYPE_AUDIO:
        return AudioType(stream, mt);
    default:
        return false;
    }
}

const std::vector<SubtypeCodec> &VideoSubtypes()
{
    static const std::vector<SubtypeCodec> list = [] {
        std::vector<SubtypeCodec> v{{MEDIASUBTYPE_MPEG1Payload, AV_CODEC_ID_MPEG1VIDEO},
                                    {MEDIASUBTYPE_MPEG2_VIDEO, AV_CODEC_ID_MPEG2VIDEO},
                                    {MEDIASUBTYPE_AVC1, AV_CODEC_ID_H264},
                                    {MEDIASUBTYPE_H264, AV_CODEC_ID_H264},
                                    {MEDIASUBTYPE_dvsd, AV_CODEC_ID_DVVIDEO}};
        for (const char *cc : {"MP4V", "FMP4", "XVID", "DIVX", "DX50", "MP42", "MP43", "DIV3",
                               "WMV1", "WMV2", "WMV3", "WVC1", "VP80", "VP90", "MJPG", "HEVC",
                               "H265", "AV01", "mpg1", "mpg2", "MPG1", "MPG2", "h264", "X264",
                               "avc1", "M4S2", "3IV2", "dvsd", "DVSD", "dv25", "dvhd", "FFV1",
                               "HFYU", "tscc"}) {
            const uint32_t tag = MAKEFOURCC(cc[0], cc[1], cc[2], cc[3]);
            const AVCodecID id = av_codec_get_id(kVideoTags, tag);
            if (id != AV_CODEC_ID_NONE && avcodec_find_decoder(id))
                v.push_back({FourCCGuid(tag), id});
        }
        return v;
    }();
    return list;
}

const std::vector<SubtypeCodec> &AudioSubtypes()
{
    static const std::vector<SubtypeCodec> list = [] {
        std::vector<SubtypeCodec> v;
        for (unsigned tag : {0x0001u, 0x0050u, 0x0055u, 0x00FFu, 0x1610u, 0x2000u, 0x0160u,
                             0x0161u, 0x0162u, 0xF1ACu, 0x704Fu, 0x0006u, 0x0007u, 0x0011u}) {
            const AVCodecID id = av_codec_get_id(kAudioTags, tag);
            if (id != AV_CODEC_ID_NONE && avcodec_find_decoder(id))
                v.push_back({FourCCGuid(tag), id});
        }
        return v;
    }();
    return list;
}

bool ParseVideoType(const CMediaType &mt, DecoderInput *in)
{
    if (mt.Type() != MEDIATYPE_Video)
        return false;
    const auto &subs = VideoSubtypes();
    const auto found = std::find_if(subs.begin(), subs.end(),
                                    [&](const SubtypeCodec &s) { return s.subtype == mt.Subtype(); });
    if (found == subs.end())
        return false;
    in->codec = found->codec;
    const auto bytes = mt.FormatBytes();
    if (mt.FormatType() == FORMAT_MPEG2Video) {
        const auto *info = mt.FormatAs<MPEG2VIDEOINFO>();
        if (!info)
            return false;
        const size_t fixed = offsetof(MPEG2VIDEOINFO, dwSequenceHeader);
        const size_t n = std::min<size_t>(info->cbSequenceHeader, bytes.size() - fixed);
        in->extradata = Bytes(bytes.data() + fixed, n);
        TakeVideoHeader(info->hdr.rcSource, info->hdr.AvgTimePerFrame, info->hdr.bmiHeader, in);
        in->aspectX = static_cast<int>(info->hdr.dwPictAspectRatioX);
        in->aspectY = static_cast<int>(info->hdr.dwPictAspectRatioY);
    } else if (mt.FormatType() == FORMAT_MPEGVideo) {
        const auto *info = mt.FormatAs<MPEG1VIDEOINFO>();
        if (!info)
            return false;
        const size_t fixed = offsetof(MPEG1VIDEOINFO, bSequenceHeader);
        const size_t n = std::min<size_t>(info->cbSequenceHeader, bytes.size() - fixed);
        in->extradata = Bytes(bytes.data() + fixed, n);
        TakeVideoHeader(info->hdr.rcSource, info->hdr.AvgTimePerFrame, info->hdr.bmiHeader, in);
    } else if (mt.FormatType() == FORMAT_VideoInfo2) {
        const auto *info = mt.FormatAs<VIDEOINFOHEADER2>();
        if (!info)
            return false;
        in->extradata = Bytes(bytes.data() + sizeof(*info), bytes.size() - sizeof(*info));
        TakeVideoHeader(info->rcSource, info->AvgTimePerFrame, info->bmiHeader, in);
        in->aspectX = static_cast<int>(info->dwPictAspectRatioX);
        in->aspectY = static_cast<int>(info->dwPictAspectRatioY);
    } else if (mt.FormatType() == FORMAT_VideoInfo) {
        const auto *info = mt.FormatAs<VIDEOINFOHEADER>();
        if (!info)
            return false;
        in->extradata = Bytes(bytes.data() + sizeof(*info), bytes.size() - sizeof(*info));
        TakeVideoHeader(info->rcSource, info->AvgTimePerFrame, info->bmiHeader, in);
    } else {
        return false;
    }
    return in->width > 0 && in->height > 0 && in->width <= 16384 && in->height <= 16384;
}

bool ParseAudioType(const CMediaType &mt, DecoderInput *in)
{
    if (mt.Type() != MEDIATYPE_Audio || mt.FormatType() != FORMAT_WaveFormatEx)
        return false;
    const auto *wfx = mt.FormatAs<WAVEFORMATEX>();
    if (!wfx || wfx->nChannels == 0 || wfx->nSamplesPerSec == 0)
        return false;
    const auto &subs = AudioSubtypes();
    const auto found = std::find_if(subs.begin(), subs.end(),
                                    [&](const SubtypeCodec &s) { return s.subtype == mt.Subtype(); });
    if (found == subs.end())
        return false;
    in->codec = found->codec;
    if (wfx->wFormatTag == WAVE_FORMAT_PCM) {
        switch (wfx->wBitsPerSample) {
        case 8: in->codec = AV_CODEC_ID_PCM_U8; break;
        case 16: in->codec = AV_CODEC_ID_PCM_S16LE; break;
        case 24: in->codec = AV_CODEC_ID_PCM_S24LE; break;
        case 32: in->codec = AV_CODEC_ID_PCM_S32LE; break;
        default: return false;
        }
    }
    const auto bytes = mt.FormatBytes();
    const size_t extra = std::min<size_t>(wfx->cbSize, bytes.size() - sizeof(WAVEFORMATEX));
    in->extradata = Bytes(bytes.data() + sizeof(WAVEFORMATEX), extra);
    in->sampleRate = static_cast<int>(wfx->nSamplesPerSec);
    in->channels = wfx->nChannels;
    in->blockAlign = wfx->nBlockAlign;
    in->bitsPerSample = wfx->wBitsPerSample;
    in->bitRate = static_cast<int>(wfx->nAvgBytesPerSec * 8);
    return true;
}

CodecPtr AllocDecoder(const DecoderInput &in, HRESULT *hr)
{
    *hr = E_OUTOFMEMORY;
    const AVCodec *decoder = avcodec_find_decoder(in.codec);
    if (!decoder) {
        *hr = VFW_E_NO_DECOMPRESSOR;
        return nullptr;
    }
    CodecPtr codec(avcodec_alloc_context3(decoder));
    if (!codec)
        return nullptr;
    if (!in.extradata.empty()) {
        const size_t n = in.extradata.size();
        codec->extradata = static_cast<uint8_t *>(av_mallocz(n + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!codec->extradata)
            return nullptr;
        std::memcpy(codec->extradata, in.extradata.data(), n);
        codec->extradata_size = static_cast<int>(n);
    }
    codec->pkt_timebase = kHundredNs;
    *hr = S_OK;
    return codec;
}

PacketPtr PacketFromSample(IMediaSample *sample, HRESULT *hr)
{
    *hr = S_OK;
    BYTE *data = nullptr;
    sample->GetPointer(&data);
    const LONG length = sample->GetActualDataLength();
    if (length <= 0 || !data)
        return nullptr;
    PacketPtr packet = MakePacket();
    if (!packet || av_new_packet(packet.get(), length) < 0) {
        *hr = E_OUTOFMEMORY;
        return nullptr;
    }
    std::memcpy(packet->data, data, static_cast<size_t>(length));
    return packet;
}

} // namespace ffmpeg
