#include "KWPack/uMediaFormats.h"

#include "platform/dshow/Uuids.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace {

constexpr REFERENCE_TIME kUnitsPerSecond = 10'000'000;

int32_t ClampToInt(uint64_t value)
{
    return static_cast<int32_t>(std::min<uint64_t>(value, std::numeric_limits<int32_t>::max()));
}

// FourCC text as a label shows it: a zero byte ends it (BI_RGB has no name).
QString FourCCLabel(uint32_t fourcc)
{
    const std::string text = FourCCText(fourcc);
    return QString::fromLatin1(text.c_str());
}

struct NamedSubtype {
    const GUID &subtype;
    const char *name;
};

const NamedSubtype kRgbSubtypes[] = {
    {MEDIASUBTYPE_RGB24, "RGB24"}, {MEDIASUBTYPE_RGB32, "RGB32"},   {MEDIASUBTYPE_RGB1, "RGB1"},
    {MEDIASUBTYPE_RGB4, "RGB4"},   {MEDIASUBTYPE_RGB8, "RGB8"},     {MEDIASUBTYPE_RGB565, "RGB565"},
    {MEDIASUBTYPE_RGB555, "RGB555"},
};

const NamedSubtype kAudioSubtypes[] = {
    {MEDIASUBTYPE_MPEG2_AUDIO, "MPEG2"},
    {MEDIASUBTYPE_DOLBY_AC3, "DOLBY AC3"},
    {MEDIASUBTYPE_DVD_LPCM_AUDIO, "LPCM"},
    {MEDIASUBTYPE_MPEG1Packet, "MPEG1Packet"},
    {MEDIASUBTYPE_MPEG1Payload, "MPEG1Payload"},
    {MEDIASUBTYPE_MPEG1AudioPayload, "MPEG1"},
};

struct TagName {
    uint16_t tag;
    const char *name;
};

// Sorted by tag. 0x0088 keeps its trailing blank: audio labels were always
// built with it.
const TagName kWaveTags[] = {
    {0x0001, "PCM"},
    {0x0002, "ADPCM"},
    {0x0003, "IEEE_FLOAT"},
    {0x0004, "VSELP"},
    {0x0005, "IBM_CVSD"},
    {0x0006, "ALAW"},
    {0x0007, "MULAW"},
    {0x0008, "DTS"},
    {0x0009, "DRM"},
    {0x0010, "OKI_ADPCM"},
    {0x0011, "DVI_ADPCM"},
    {0x0012, "MEDIASPACE_ADPCM"},
    {0x0013, "SIERRA_ADPCM"},
    {0x0014, "G723_ADPCM"},
    {0x0015, "DIGISTD"},
    {0x0016, "DIGIFIX"},
    {0x0017, "DIALOGIC_OKI_ADPCM"},
    {0x0018, "MEDIAVISION_ADPCM"},
    {0x0019, "HP_CU"},
    {0x0020, "YAMAHA_ADPCM"},
    {0x0021, "SONARC"},
    {0x0022, "DSPGROUP_TRUESPEECH"},
    {0x0023, "ECHOSC1"},
    {0x0024, "AUDIOFILE_AF36"},
    {0x0025, "APTX"},
    {0x0026, "AUDIOFILE_AF10"},
    {0x0027, "PROSODY_1612"},
    {0x0028, "LRC"},
    {0x0030, "DOLBY_AC2"},
    {0x0031, "GSM610"},
    {0x0032, "MSNAUDIO"},
    {0x0033, "ANTEX_ADPCME"},
    {0x0034, "CONTROL_RES_VQLPC"},
    {0x0035, "DIGIREAL"},
    {0x0036, "DIGIADPCM"},
    {0x0037, "CONTROL_RES_CR10"},
    {0x0038, "NMS_VBXADPCM"},
    {0x0039, "CS_IMAADPCM"},
    {0x003A, "ECHOSC3"},
    {0x003B, "ROCKWELL_ADPCM"},
    {0x003C, "ROCKWELL_DIGITALK"},
    {0x003D, "XEBEC"},
    {0x0040, "G721_ADPCM"},
    {0x0041, "G728_CELP"},
    {0x0042, "MSG723"},
    {0x0050, "MPEG Audio"},
    {0x0052, "RT24"},
    {0x0053, "PAC"},
    {0x0055, "MP3"},
    {0x0059, "LUCENT G.723"},
    {0x0060, "CIRRUS"},
    {0x0061, "ESPCM"},
    {0x0062, "VOXWARE"},
    {0x0063, "CANOPUS_ATRAC"},
    {0x0064, "G726_ADPCM"},
    {0x0065, "G722_ADPCM"},
    {0x0066, "DSAT"},
    {0x0067, "DSAT_DISPLAY"},
    {0x0069, "VOXWARE_BYTE_ALIGNED"},
    {0x0070, "VOXWARE_AC8"},
    {0x0071, "VOXWARE_AC10"},
    {0x0072, "VOXWARE_AC16"},
    {0x0073, "VOXWARE_AC20"},
    {0x0074, "VOXWARE_RT24"},
    {0x0075, "VOXWARE_RT29"},
    {0x0076, "VOXWARE_RT29HW"},
    {0x0077, "VOXWARE_VR12"},
    {0x0078, "VOXWARE_VR18"},
    {0x0079, "VOXWARE_TQ40"},
    {0x0080, "SOFTSOUND"},
    {0x0081, "VOXWARE_TQ60"},
    {0x0082, "MSRT24"},
    {0x0083, "G729A"},
    {0x0084, "MVI_MV12"},
    {0x0085, "DF_G726"},
    {0x0086, "DF_GSM610"},
    {0x0088, "ISIAUDIO "},
    {0x0089, "ONLIVE"},
    {0x0091, "SBC24"},
    {0x0092, "DOLBY_AC3_SPDIF"},
    {0x0097, "ZYXEL_ADPCM"},
    {0x0098, "PHILIPS_LPCBB"},
    {0x0099, "PACKED"},
    {0x00FF, "AAC"},
    {0x0100, "RHETOREX_ADPCM"},
    {0x0101, "IRAT"},
    {0x0111, "VIVO_G723"},
    {0x0112, "VIVO_SIREN"},
    {0x0123, "DIGITAL_G723"},
    {0x0125, "SANYO_LD_ADPCM"},
    {0x0130, "SIPROLAB_ACEPLNET"},
    {0x0131, "SIPROLAB_ACELP4800"},
    {0x0132, "SIPROLAB_ACELP8V3"},
    {0x0133, "SIPROLAB_G729"},
    {0x0134, "SIPROLAB_G729A"},
    {0x0135, "SIPROLAB_KELVIN"},
    {0x0140, "G726ADPCM"},
    {0x0150, "QUALCOMM_PUREVOICE"},
    {0x0151, "QUALCOMM_HALFRATE"},
    {0x0155, "TUBGSM"},
    {0x0160, "MSAUDIO1"},
    {0x0161, "WMA"},
    {0x0162, "WMA_Pro"},
    {0x0163, "WMA_Lossless"},
    {0x0170, "UNISYS_NAP_ADPCM"},
    {0x0171, "UNISYS_NAP_ULAW"},
    {0x0172, "UNISYS_NAP_ALAW"},
    {0x0173, "UNISYS_NAP_16K"},
    {0x0200, "CREATIVE_ADPCM"},
    {0x0202, "CREATIVE_FASTSPEECH8"},
    {0x0203, "CREATIVE_FASTSPEECH10"},
    {0x0220, "QUARTERDECK"},
    {0x0300, "FM_TOWNS_SND"},
    {0x0400, "BTV_DIGITAL"},
    {0x0680, "VME_VMPCM"},
    {0x1000, "OLIGSM"},
    {0x1001, "OLIADPCM"},
    {0x1002, "OLICELP"},
    {0x1003, "OLISBC"},
    {0x1004, "OLIOPR"},
    {0x1100, "LH_CODEC"},
    {0x1101, "LH_SELP"},
    {0x1102, "LH_SBC"},
    {0x1103, "LH_SBC"},
    {0x1104, "LH_SBC"},
    {0x1400, "NORRIS"},
    {0x1401, "ISIAUDIO"},
    {0x1500, "SOUNDSPACE_MUSICOMPRESS"},
    {0x181C, "VOXWARE_RT24_Speech"},
    {0x1FC4, "NCTSOFT_ALF2CD"},
    {0x2000, "AC3"},
    {0x2001, "DTS"},
    {0x2002, "14_4"},
    {0x2003, "28_8"},
    {0x2004, "COOK"},
    {0x2005, "DNET"},
    {0x674F, "OGG_VORBIS1"},
    {0x6750, "OGG_VORBIS2"},
    {0x6751, "OGG_VORBIS3"},
    {0x676F, "OGG_VORBIS1+"},
    {0x6770, "OGG_VORBIS2+"},
    {0x6771, "OGG_VORBIS3+"},
    {0x7A21, "GSM_AMR"},
    {0x7A22, "GSM_AMR"},
};

bool IsDvFourCC(REFGUID subtype)
{
    if (!IsFourCCGuid(subtype))
        return false;
    const QString code = FourCCLabel(subtype.Data1).toLower();
    return code == QLatin1String("dvcp") || code == QLatin1String("dvsd");
}

// Readers 1, 4 and 6: VIDEOINFOHEADER has no picture aspect.
void ReadVideoInfo(const VIDEOINFOHEADER &vih, TVideoData &data)
{
    data.Width = vih.bmiHeader.biWidth;
    data.Height = vih.bmiHeader.biHeight;
    data.BitsPerPixel = vih.bmiHeader.biBitCount;
    data.BitRate = vih.dwBitRate;
    data.FrameDuration = vih.AvgTimePerFrame;
    data.AspectX = 0;
    data.AspectY = 0;
}

// Readers 2, 3 and 5; DV (reader 2) takes its aspect from the frames instead.
void ReadVideoInfo2(const VIDEOINFOHEADER2 &vih, bool withAspect, TVideoData &data)
{
    data.Width = vih.bmiHeader.biWidth;
    data.Height = vih.bmiHeader.biHeight;
    data.BitsPerPixel = vih.bmiHeader.biBitCount;
    data.BitRate = vih.dwBitRate;
    data.FrameDuration = vih.AvgTimePerFrame;
    data.AspectX = withAspect ? ClampToInt(vih.dwPictAspectRatioX) : 0;
    data.AspectY = withAspect ? ClampToInt(vih.dwPictAspectRatioY) : 0;
}

bool ReadAnyVideoHeader(const CMediaType &mt, TVideoData &data)
{
    const GUID &format = mt.formattype;
    const auto *vih = mt.FormatAs<VIDEOINFOHEADER>();
    const auto *vih2 = mt.FormatAs<VIDEOINFOHEADER2>();
    if (mt.subtype == MEDIASUBTYPE_dvsd && format == FORMAT_VideoInfo && vih)
        ReadVideoInfo(*vih, data);
    else if (IsDvFourCC(mt.subtype) && format == FORMAT_VideoInfo2 && vih2)
        ReadVideoInfo2(*vih2, false, data);
    else if (format == FORMAT_MPEG2Video && mt.FormatAs<MPEG2VIDEOINFO>())
        ReadVideoInfo2(mt.FormatAs<MPEG2VIDEOINFO>()->hdr, true, data);
    else if (format == FORMAT_VideoInfo && vih)
        ReadVideoInfo(*vih, data);
    else if (format == FORMAT_VideoInfo2 && vih2)
        ReadVideoInfo2(*vih2, true, data);
    else if (format == FORMAT_MPEGVideo && mt.FormatAs<MPEG1VIDEOINFO>())
        ReadVideoInfo(mt.FormatAs<MPEG1VIDEOINFO>()->hdr, data);
    else
        return false;
    return true;
}

int32_t AspectCodeOf(int64_t x, int64_t y)
{
    if (x <= 0 && y <= 0)
        return acAspectNone;
    if (x * 3 == y * 4)
        return acAspect4x3;
    if (x * 9 == y * 16)
        return acAspect16x9;
    return acAspectOther;
}

// Shortest form with at most two decimals, no grouping: "25", "29.97".
QString FrameRateText(double rate)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    QString text = locale.toString(rate, 'f', 2);
    const QString point = locale.decimalPoint();
    if (text.contains(point)) {
        while (text.endsWith(locale.zeroDigit()))
            text.chop(locale.zeroDigit().size());
        if (text.endsWith(point))
            text.chop(point.size());
    }
    return text;
}

void FinishVideoData(const CMediaType &mt, TVideoData &data)
{
    data.SubtypeText = VideoSubtypeText(mt);
    data.AspectCode = AspectCodeOf(data.AspectX, data.AspectY);
    // Keep long ratios short (2350:1000 -> 235:100) without losing precision.
    if (data.AspectCode == acAspectOther) {
        while (data.AspectX > 999 && data.AspectY > 999) {
            data.AspectX = static_cast<int32_t>((int64_t(data.AspectX) + 5) / 10);
            data.AspectY = static_cast<int32_t>((int64_t(data.AspectY) + 5) / 10);
        }
    }
    switch (data.AspectCode) {
    case acAspect4x3: data.FormatText = data.SubtypeText + QLatin1String(" (4x3)"); break;
    case acAspect16x9: data.FormatText = data.SubtypeText + QLatin1String(" (16x9)"); break;
    case acAspectOther:
        data.FormatText = QStringLiteral("%1 (%2x%3)").arg(data.SubtypeText).arg(data.AspectX).arg(data.AspectY);
        break;
    default: data.FormatText = data.SubtypeText; break;
    }
    data.FrameRate = data.FrameDuration > 0 ? double(kUnitsPerSecond) / double(data.FrameDuration) : 0.0;
    data.SizeText = QStringLiteral("%1x%2").arg(data.Width).arg(data.Height);
    if (data.FrameRate > 0)
        data.SizeText += QLatin1String(" - ") + FrameRateText(data.FrameRate) + QLatin1String(" fps");
}

} // namespace

TVideoData VideoDataFromMediaType(const CMediaType &mt)
{
    TVideoData data;
    data.VideoPresent = ReadAnyVideoHeader(mt, data);
    if (data.VideoPresent)
        FinishVideoData(mt, data);
    return data;
}

QString VideoSubtypeText(const CMediaType &mt)
{
    if (IsFourCCGuid(mt.subtype)) {
        const QString code = FourCCLabel(mt.subtype.Data1);
        if (code.compare(QLatin1String("dvcp"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("DV Type 1");
        if (code.compare(QLatin1String("dvsd"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("DV Type 2");
        return code;
    }
    for (const NamedSubtype &rgb : kRgbSubtypes) {
        if (mt.subtype == rgb.subtype)
            return QString::fromLatin1(rgb.name);
    }
    // A block too short for its header gives no name rather than a bad read.
    if (mt.formattype == FORMAT_VideoInfo) {
        const auto *vih = mt.FormatAs<VIDEOINFOHEADER>();
        return vih ? FourCCLabel(vih->bmiHeader.biCompression) : QString();
    }
    if (mt.formattype == FORMAT_VideoInfo2) {
        const auto *vih = mt.FormatAs<VIDEOINFOHEADER2>();
        return vih ? FourCCLabel(vih->bmiHeader.biCompression) : QString();
    }
    if (mt.formattype == FORMAT_MPEGVideo)
        return QStringLiteral("MPEG1");
    return QStringLiteral("MPEG2");
}

QString AudioTypeText(const CMediaType &mt)
{
    const QString unknown = QStringLiteral("???");
    if (mt.majortype != MEDIATYPE_Audio)
        return unknown;
    for (const NamedSubtype &named : kAudioSubtypes) {
        if (mt.subtype == named.subtype)
            return QString::fromLatin1(named.name);
    }
    const auto *wfx = mt.FormatAs<WAVEFORMATEX>();
    if (mt.formattype != FORMAT_WaveFormatEx || !wfx)
        return unknown;
    if (wfx->wFormatTag == 0)
        return QStringLiteral("Unkn");
    return WaveFormatTagName(wfx->wFormatTag).left(4);
}

QString WaveFormatTagName(uint16_t tag)
{
    const auto *end = std::end(kWaveTags);
    const auto *found = std::lower_bound(std::begin(kWaveTags), end, tag,
                                         [](const TagName &entry, uint16_t t) { return entry.tag < t; });
    if (found == end || found->tag != tag)
        return QString();
    return QString::fromLatin1(found->name);
}

QString AudioLabel(const QString &audioTypeText, const WAVEFORMATEX &wfx)
{
    QString label = audioTypeText;
    const uint64_t bitRate = uint64_t(wfx.nAvgBytesPerSec) * 8;
    if (wfx.nSamplesPerSec > 0)
        label += QStringLiteral(" %1Hz").arg(wfx.nSamplesPerSec);
    if (wfx.wBitsPerSample > 0)
        label += QStringLiteral(" %1bits ").arg(wfx.wBitsPerSample);
    else if (bitRate > 0)
        label += QStringLiteral(" %1Kb/s").arg(bitRate / 1000);
    if (wfx.nChannels == 1)
        label += QLatin1String(" mono");
    else if (wfx.nChannels == 2)
        label += QLatin1String(" stereo");
    else
        label += QStringLiteral(" %1 channels").arg(wfx.nChannels);
    return label;
}

bool ReadAudioData(const CMediaType &mt, TframeData &data)
{
    const auto *wfx = mt.FormatAs<WAVEFORMATEX>();
    if (mt.formattype != FORMAT_WaveFormatEx || !wfx)
        return false;
    data.Channels = wfx->nChannels;
    data.SamplingRate = ClampToInt(wfx->nSamplesPerSec);
    data.BitsPerSample = wfx->wBitsPerSample;
    data.BitRate = ClampToInt(uint64_t(wfx->nAvgBytesPerSec) * 8);
    data.AudioLabel = AudioLabel(data.AudioTypeText, *wfx);
    return true;
}

namespace {

// Nearest integer of n / d (d > 0), halves away from zero.
int64_t RoundDiv(int64_t n, int64_t d)
{
    int64_t q = n / d;
    const int64_t r = n % d;
    const int64_t absR = r < 0 ? -r : r;
    if (absR >= d - absR)
        q += n < 0 ? -1 : 1;
    return q;
}

int64_t Saturated(bool negative)
{
    return negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
}

int64_t SatMul(int64_t a, int64_t b)
{
    int64_t out = 0;
    return __builtin_mul_overflow(a, b, &out) ? Saturated((a < 0) != (b < 0)) : out;
}

int64_t SatAdd(int64_t a, int64_t b)
{
    int64_t out = 0;
    return __builtin_add_overflow(a, b, &out) ? Saturated(a < 0) : out;
}

// A field of the position text; 0 when it lies before the start of the text
// or is not a number.
int PositionField(const QString &text, qsizetype fromEnd)
{
    const qsizetype start = text.size() - fromEnd;
    if (start < 0)
        return 0;
    bool ok = false;
    const int value = text.mid(start, 2).toInt(&ok);
    return ok ? value : 0;
}

} // namespace

QString PositionText(REFERENCE_TIME position, REFERENCE_TIME frameDuration)
{
    const int64_t d = frameDuration > 0 ? frameDuration : 10000;
    // Snap to the nearest frame first, so a time a hair before a frame boundary
    // shows that frame.
    const int64_t f = RoundDiv(position, d);
    int64_t g = 0;
    if (__builtin_mul_overflow(f, d, &g))
        g = (position / d) * d;
    int64_t s = g / kUnitsPerSecond;
    int64_t r = g % kUnitsPerSecond;
    // The last frame of a second that spills over into the next one.
    if (kUnitsPerSecond - r < d / 2) {
        r = 0;
        s += 1;
    }
    const int64_t frames = RoundDiv(r, d);
    return QString::asprintf("%lld:%.2lld:%.2lld:%.2lld", static_cast<long long>(s / 3600),
                             static_cast<long long>((s / 60) % 60), static_cast<long long>(s % 60),
                             static_cast<long long>(frames));
}

REFERENCE_TIME PositionFromText(const QString &text, REFERENCE_TIME frameDuration)
{
    bool ok = false;
    int hours = text.size() > 9 ? text.left(text.size() - 9).toInt(&ok) : 0;
    if (!ok)
        hours = 0;
    const int minutes = PositionField(text, 8);
    const int seconds = PositionField(text, 5);
    const int frames = PositionField(text, 2);
    const int64_t totalSeconds = int64_t(hours) * 3600 + int64_t(minutes) * 60 + seconds;
    return SatAdd(SatMul(totalSeconds, kUnitsPerSecond), SatMul(frames, frameDuration));
}

TRect AspectFit(int32_t a, int32_t b, const TRect &rect, int32_t margin, bool relative)
{
    int64_t left = int64_t(rect.Left) + margin;
    int64_t top = int64_t(rect.Top) + margin;
    int64_t right = int64_t(rect.Right) - margin;
    int64_t bottom = int64_t(rect.Bottom) - margin;
    if (a > 0 && b > 0) {
        const int64_t w = right - left;
        const int64_t h = bottom - top;
        if (w * b < h * a) {
            const int64_t height = w * b / a;
            top += (h - height) / 2;
            bottom = top + height;
        } else {
            const int64_t width = h * a / b;
            left += (w - width) / 2;
            right = left + width;
        }
    }
    if (relative) {
        left -= rect.Left;
        right -= rect.Left;
        top -= rect.Top;
        bottom -= rect.Top;
    }
    return TRect{static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right),
                 static_cast<int32_t>(bottom)};
}

namespace {

QString Own(const QString &text) { return QString(text.constData(), text.size()); }

} // namespace

TVideoData Unshared(const TVideoData &data)
{
    TVideoData copy = data;
    for (QString *text : {&copy.SubtypeText, &copy.SizeText, &copy.FormatText})
        *text = Own(*text);
    return copy;
}

TframeData Unshared(const TframeData &data)
{
    TframeData copy = data;
    for (QString *text : {&copy.DateText, &copy.TimeCodeText, &copy.AudioTypeText, &copy.AudioLabel})
        *text = Own(*text);
    return copy;
}
