// Video and audio descriptions of media types, the position text and its
// parser, and the aspect fit.
#include "KWPack/uMediaFormats.h"

#include "platform/dshow/Uuids.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <limits>
#include <ostream>

QT_BEGIN_NAMESPACE
// Failures show the text, not UTF-16 units.
inline void PrintTo(const QString &text, std::ostream *os) { *os << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace {

enum class Block { VideoInfo, VideoInfo2, Mpeg2, Mpeg1 };

struct VideoCase {
    const char *what;
    GUID subtype;
    GUID format;
    Block block;
    int32_t width, height;
    REFERENCE_TIME duration;
    DWORD aspectX, aspectY;
    int cut;  // bytes taken off the block's struct size
    // expected
    bool present;
    int32_t code, x, y;
    const char *formatText;
    const char *sizeText;
};

CMediaType MakeVideoType(const VideoCase &c)
{
    CMediaType mt(MEDIATYPE_Video, c.subtype, c.format);
    VIDEOINFOHEADER vih{};
    VIDEOINFOHEADER2 vih2{};
    for (BITMAPINFOHEADER *bmi : {&vih.bmiHeader, &vih2.bmiHeader}) {
        bmi->biWidth = c.width;
        bmi->biHeight = c.height;
        bmi->biBitCount = 24;
        bmi->biCompression = c.subtype.Data1;
    }
    vih.AvgTimePerFrame = vih2.AvgTimePerFrame = c.duration;
    vih2.dwPictAspectRatioX = c.aspectX;
    vih2.dwPictAspectRatioY = c.aspectY;
    switch (c.block) {
    case Block::VideoInfo: mt.SetFormat(vih); break;
    case Block::VideoInfo2: mt.SetFormat(vih2); break;
    case Block::Mpeg2: mt.SetFormat(MPEG2VIDEOINFO{vih2, 0, 0, 0, 0, 0, {0}}); break;
    case Block::Mpeg1: mt.SetFormat(MPEG1VIDEOINFO{vih, 0, 0, {0}}); break;
    }
    mt.AllocFormatBuffer(mt.FormatLength() - c.cut);
    return mt;
}

const GUID kH264 = MEDIASUBTYPE_H264;
const GUID kVI = FORMAT_VideoInfo;
const GUID kVI2 = FORMAT_VideoInfo2;

} // namespace

TEST(MediaFormats, VideoDataFromMediaType)
{
    const VideoCase cases[] = {
        {"H264 16:9", kH264, kVI2, Block::VideoInfo2, 1920, 1080, 400000, 16, 9, 0,
         true, acAspect16x9, 16, 9, "H264 (16x9)", "1920x1080 - 25 fps"},
        {"aspect as pixels", kH264, kVI2, Block::VideoInfo2, 1920, 1080, 400000, 1920, 1080, 0,
         true, acAspect16x9, 1920, 1080, "H264 (16x9)", "1920x1080 - 25 fps"},
        {"4:3 as 720:540", kH264, kVI2, Block::VideoInfo2, 720, 576, 0, 720, 540, 0,
         true, acAspect4x3, 720, 540, "H264 (4x3)", "720x576"},
        {"scope", kH264, kVI2, Block::VideoInfo2, 1280, 544, 0, 235, 100, 0,
         true, acAspectOther, 235, 100, "H264 (235x100)", "1280x544"},
        {"scope reduced", kH264, kVI2, Block::VideoInfo2, 1280, 544, 0, 2350, 1000, 0,
         true, acAspectOther, 235, 100, "H264 (235x100)", "1280x544"},
        {"reduced twice, to the nearest", kH264, kVI2, Block::VideoInfo2, 1280, 544, 0, 23546, 10000, 0,
         true, acAspectOther, 236, 100, "H264 (236x100)", "1280x544"},
        {"huge ratio", kH264, kVI2, Block::VideoInfo2, 8, 8, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0,
         true, acAspectOther, 215, 215, "H264 (215x215)", "8x8"},
        {"one short side is kept", kH264, kVI2, Block::VideoInfo2, 1280, 544, 0, 1280, 544, 0,
         true, acAspectOther, 1280, 544, "H264 (1280x544)", "1280x544"},
        {"DV in VIDEOINFOHEADER", MEDIASUBTYPE_dvsd, kVI, Block::VideoInfo, 720, 576, 400000, 0, 0, 0,
         true, acAspectNone, 0, 0, "DV Type 2", "720x576 - 25 fps"},
        {"DV aspect comes from the frames", MEDIASUBTYPE_DVSD, kVI2, Block::VideoInfo2, 720, 480, 333667, 16, 9, 0,
         true, acAspectNone, 0, 0, "DV Type 2", "720x480 - 29.97 fps"},
        {"DV type 1", MEDIASUBTYPE_dvcp, kVI2, Block::VideoInfo2, 720, 576, 400000, 4, 3, 0,
         true, acAspectNone, 0, 0, "DV Type 1", "720x576 - 25 fps"},
        {"MPEG-2", MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video, Block::Mpeg2, 720, 576, 400000, 4, 3, 0,
         true, acAspect4x3, 4, 3, "MPEG2 (4x3)", "720x576 - 25 fps"},
        {"MPEG-1", MEDIASUBTYPE_MPEG1Payload, FORMAT_MPEGVideo, Block::Mpeg1, 352, 288, 400000, 0, 0, 0,
         true, acAspectNone, 0, 0, "MPEG1", "352x288 - 25 fps"},
        {"RGB", MEDIASUBTYPE_RGB32, kVI, Block::VideoInfo, 320, 240, 0, 0, 0, 0,
         true, acAspectNone, 0, 0, "RGB32", "320x240"},
        // Each reader needs its whole struct; nothing else reads these formats.
        {"short VIDEOINFOHEADER", MEDIASUBTYPE_dvsd, kVI, Block::VideoInfo, 720, 576, 400000, 0, 0, 1,
         false, acAspect4x3, 0, 0, "", ""},
        {"short VIDEOINFOHEADER2", MEDIASUBTYPE_dvsd, kVI2, Block::VideoInfo2, 720, 576, 400000, 16, 9, 1,
         false, acAspect4x3, 0, 0, "", ""},
        {"MPEG-2 without sequence header", MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video, Block::Mpeg2, 720, 576,
         400000, 4, 3, 4, false, acAspect4x3, 0, 0, "", ""},
        {"short MPEG-1", MEDIASUBTYPE_MPEG1Payload, FORMAT_MPEGVideo, Block::Mpeg1, 352, 288, 400000, 0, 0, 1,
         false, acAspect4x3, 0, 0, "", ""},
        {"DV info is not a picture", MEDIASUBTYPE_dvsd, FORMAT_DvInfo, Block::VideoInfo, 720, 576, 400000, 0, 0,
         0, false, acAspect4x3, 0, 0, "", ""},
    };
    for (const VideoCase &c : cases) {
        SCOPED_TRACE(c.what);
        const TVideoData data = VideoDataFromMediaType(MakeVideoType(c));
        EXPECT_EQ(data.VideoPresent, c.present);
        EXPECT_EQ(data.AspectCode, c.code);
        EXPECT_EQ(data.AspectX, c.x);
        EXPECT_EQ(data.AspectY, c.y);
        EXPECT_EQ(data.FormatText, QString::fromLatin1(c.formatText));
        EXPECT_EQ(data.SizeText, QString::fromLatin1(c.sizeText));
        if (c.present) {
            EXPECT_EQ(data.Width, c.width);
            EXPECT_EQ(data.FrameDuration, c.duration);
            EXPECT_EQ(data.BitsPerPixel, 24);
        }
    }
}

TEST(MediaFormats, SubtypeTextWithoutAFourCCSubtype)
{
    CMediaType mt(MEDIATYPE_Video, MEDIASUBTYPE_ARGB32, FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.bmiHeader.biCompression = MAKEFOURCC('M', 'J', 'P', 'G');
    mt.SetFormat(vih);
    EXPECT_EQ(VideoSubtypeText(mt), "MJPG");
    vih.bmiHeader.biCompression = BI_RGB;  // no name, and no zero bytes in the label
    mt.SetFormat(vih);
    EXPECT_EQ(VideoSubtypeText(mt), "");
    mt.AllocFormatBuffer(20);  // too short to hold the bitmap header
    EXPECT_EQ(VideoSubtypeText(mt), "");
    mt.formattype = FORMAT_MPEGVideo;
    EXPECT_EQ(VideoSubtypeText(mt), "MPEG1");
    mt.formattype = FORMAT_None;
    EXPECT_EQ(VideoSubtypeText(mt), "MPEG2");
}

TEST(MediaFormats, FrameRateDropsTrailingZerosInTheUsersLocale)
{
    struct Case {
        REFERENCE_TIME duration;
        const char *english, *german;
    } cases[] = {
        {333667, "29.97", "29,97"}, {417083, "23.98", "23,98"}, {800000, "12.5", "12,5"},
        {400000, "25", "25"},       {5000, "2000", "2000"},  // no grouping
    };
    const QLocale saved;
    for (const auto &[locale, pick] : {std::pair{QLocale::English, 0}, std::pair{QLocale::German, 1}}) {
        QLocale::setDefault(QLocale(locale));
        for (const Case &c : cases) {
            CMediaType mt(MEDIATYPE_Video, kH264, kVI2);
            VIDEOINFOHEADER2 vih{};
            vih.bmiHeader.biWidth = 8;
            vih.bmiHeader.biHeight = 6;
            vih.AvgTimePerFrame = c.duration;
            mt.SetFormat(vih);
            const TVideoData data = VideoDataFromMediaType(mt);
            EXPECT_EQ(data.SizeText, QStringLiteral("8x6 - %1 fps").arg(pick ? c.german : c.english));
            EXPECT_DOUBLE_EQ(data.FrameRate, 1e7 / double(c.duration));
        }
    }
    QLocale::setDefault(saved);
}

TEST(MediaFormats, WaveFormatTagNames)
{
    EXPECT_EQ(WaveFormatTagName(0x0001), "PCM");
    EXPECT_EQ(WaveFormatTagName(0x0050), "MPEG Audio");
    EXPECT_EQ(WaveFormatTagName(0x0059), "LUCENT G.723");
    EXPECT_EQ(WaveFormatTagName(0x0088), "ISIAUDIO ");
    EXPECT_EQ(WaveFormatTagName(0x1401), "ISIAUDIO");
    EXPECT_EQ(WaveFormatTagName(0x1101), "LH_SELP");
    for (uint16_t tag : {0x1102, 0x1103, 0x1104})
        EXPECT_EQ(WaveFormatTagName(tag), "LH_SBC") << tag;
    EXPECT_EQ(WaveFormatTagName(0x7A21), "GSM_AMR");
    EXPECT_EQ(WaveFormatTagName(0x7A22), "GSM_AMR");
    EXPECT_EQ(WaveFormatTagName(0x676F), "OGG_VORBIS1+");
    EXPECT_EQ(WaveFormatTagName(0x0000), "");
    EXPECT_EQ(WaveFormatTagName(0x7A23), "");
    // Every entry is reachable (the lookup relies on the table's order).
    int named = 0;
    for (uint32_t tag = 0; tag <= 0xFFFF; ++tag)
        named += WaveFormatTagName(static_cast<uint16_t>(tag)).isEmpty() ? 0 : 1;
    EXPECT_EQ(named, 144);
}

namespace {
CMediaType AudioType(GUID subtype, WORD tag, WORD channels, DWORD rate, WORD bits, DWORD avgBytes)
{
    CMediaType mt(MEDIATYPE_Audio, subtype, FORMAT_WaveFormatEx);
    mt.SetFormat(WAVEFORMATEX{tag, channels, rate, avgBytes, 4, bits, 0});
    return mt;
}
} // namespace

TEST(MediaFormats, AudioTypeText)
{
    EXPECT_EQ(AudioTypeText(AudioType(FourCCGuid(0x55), 0x55, 2, 44100, 0, 16000)), "MP3");
    EXPECT_EQ(AudioTypeText(AudioType(FourCCGuid(0x161), 0x161, 2, 44100, 0, 16000)), "WMA");
    EXPECT_EQ(AudioTypeText(AudioType(MEDIASUBTYPE_IEEE_FLOAT, 3, 2, 44100, 32, 352800)), "IEEE");
    EXPECT_EQ(AudioTypeText(AudioType(GUID_NULL, 0, 2, 44100, 16, 0)), "Unkn");
    EXPECT_EQ(AudioTypeText(AudioType(GUID_NULL, 0x7A23, 2, 44100, 16, 0)), "");
    // Named subtypes win over the tag.
    EXPECT_EQ(AudioTypeText(AudioType(MEDIASUBTYPE_DOLBY_AC3, 0x2000, 6, 48000, 0, 0)), "DOLBY AC3");
    EXPECT_EQ(AudioTypeText(AudioType(MEDIASUBTYPE_MPEG1AudioPayload, 0x50, 2, 48000, 0, 0)), "MPEG1");
    EXPECT_EQ(AudioTypeText(CMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_DVD_LPCM_AUDIO)), "LPCM");

    CMediaType shortBlock = AudioType(MEDIASUBTYPE_PCM, 1, 2, 48000, 16, 192000);
    shortBlock.AllocFormatBuffer(17);
    EXPECT_EQ(AudioTypeText(shortBlock), "???");
    CMediaType video = AudioType(MEDIASUBTYPE_PCM, 1, 2, 48000, 16, 192000);
    video.majortype = MEDIATYPE_Video;
    EXPECT_EQ(AudioTypeText(video), "???");
}

TEST(MediaFormats, AudioLabels)
{
    struct Case {
        const char *type;
        WAVEFORMATEX wfx;
        const char *label;
    } cases[] = {
        {"PCM", {1, 2, 48000, 192000, 4, 16, 0}, "PCM 48000Hz 16bits  stereo"},
        {"MP3", {0x55, 1, 44100, 16000, 1, 0, 0}, "MP3 44100Hz 128Kb/s mono"},
        {"AC3", {0x2000, 6, 48000, 0, 0, 0, 0}, "AC3 48000Hz 6 channels"},
        {"???", {0, 0, 0, 0, 0, 0, 0}, "??? 0 channels"},
        // A byte rate whose bit rate passes 32 bits is still counted right.
        {"X", {7, 2, 0, 600000000, 0, 0, 0}, "X 4800000Kb/s stereo"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(AudioLabel(QString::fromLatin1(c.type), c.wfx), c.label);

    TframeData data;
    data.AudioTypeText = QStringLiteral("PCM");
    ASSERT_TRUE(ReadAudioData(AudioType(MEDIASUBTYPE_PCM, 1, 2, 48000, 16, 192000), data));
    EXPECT_EQ(data.Channels, 2);
    EXPECT_EQ(data.SamplingRate, 48000);
    EXPECT_EQ(data.BitsPerSample, 16);
    EXPECT_EQ(data.BitRate, 1536000);
    EXPECT_EQ(data.AudioLabel, "PCM 48000Hz 16bits  stereo");

    CMediaType shortBlock = AudioType(MEDIASUBTYPE_PCM, 1, 1, 8000, 8, 8000);
    shortBlock.AllocFormatBuffer(17);
    EXPECT_FALSE(ReadAudioData(shortBlock, data));
    EXPECT_EQ(data.Channels, 2);  // untouched
}

TEST(MediaFormats, PositionText)
{
    constexpr REFERENCE_TIME kSecond = 10'000'000;
    struct Case {
        REFERENCE_TIME position, duration;
        const char *text;
    } cases[] = {
        {0, 400000, "0:00:00:00"},
        {9'999'999, 400000, "0:00:01:00"},    // snaps to the next frame
        {99'999'999, 400000, "0:00:10:00"},
        {399'999, 400000, "0:00:00:01"},
        {3661 * kSecond + 12 * 400000, 400000, "1:01:01:12"},
        {36000 * kSecond, 400000, "10:00:00:00"},
        {15000, 0, "0:00:00:02"},             // no duration counts as 1 ms
        {169'836'503, 333667, "0:00:17:00"},  // last NTSC frame spills into the next second
        {169'836'503 - 333667, 333667, "0:00:16:28"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PositionText(c.position, c.duration), c.text) << c.position << " / " << c.duration;
}

TEST(MediaFormats, PositionFromTextRoundTrips)
{
    for (REFERENCE_TIME d : {REFERENCE_TIME(400000), REFERENCE_TIME(333667), REFERENCE_TIME(417083)}) {
        for (int64_t frame = 0; frame < 200000; frame += 997) {
            const QString text = PositionText(frame * d, d);
            const REFERENCE_TIME back = PositionFromText(text, d);
            EXPECT_EQ(PositionText(back, d), text) << text.toStdString();
            if (d == 400000) {
                EXPECT_EQ(back, frame * d);
            }
        }
    }
}

TEST(MediaFormats, PositionFromOddTexts)
{
    const REFERENCE_TIME d = 400000;
    struct Case {
        const char *text;
        REFERENCE_TIME position;
    } cases[] = {
        {"1:02:03:04", (3600 + 120 + 3) * 10'000'000LL + 4 * d},
        {"12:00:00:00", 12 * 3600 * 10'000'000LL},
        {"", 0},
        {"5", 0},  // too short to hold a field
        {"05", 5 * d},
        {"10:05", 10 * 10'000'000LL + 5 * d},  // "10" is the seconds field here
        {"x:yy:zz:ww", 0},
        {"1:xx:00:05", 3600 * 10'000'000LL + 5 * d},
        {"-1:00:00:00", -3600 * 10'000'000LL},
        {"2147483647:00:00:00", std::numeric_limits<int64_t>::max()},  // saturates
    };
    for (const Case &c : cases)
        EXPECT_EQ(PositionFromText(QString::fromLatin1(c.text), d), c.position) << c.text;
}

TEST(MediaFormats, AspectFit)
{
    struct Case {
        int32_t a, b;
        TRect rect;
        int32_t margin;
        bool relative;
        TRect expected;
    } cases[] = {
        {4, 3, {0, 0, 800, 600}, 0, false, {0, 0, 800, 600}},
        {16, 9, {0, 0, 800, 600}, 0, false, {0, 75, 800, 525}},   // letterbox
        {4, 3, {0, 0, 1000, 600}, 0, false, {100, 0, 900, 600}},  // pillarbox
        // 380 x 280 inside: height 213.75 -> 213, spare 67 -> 33 on top.
        {16, 9, {100, 50, 500, 350}, 10, false, {110, 93, 490, 306}},
        {16, 9, {100, 50, 500, 350}, 10, true, {10, 43, 390, 256}},
        {0, 9, {100, 50, 500, 350}, 10, false, {110, 60, 490, 340}},  // no ratio: the inner box
        {1920, 1080, {0, 0, 3840, 2160}, 0, false, {0, 0, 3840, 2160}},
    };
    for (const Case &c : cases) {
        const TRect r = AspectFit(c.a, c.b, c.rect, c.margin, c.relative);
        EXPECT_EQ(r, c.expected) << c.a << ":" << c.b << " -> " << r.Left << "," << r.Top << ","
                                 << r.Right << "," << r.Bottom;
    }
}
