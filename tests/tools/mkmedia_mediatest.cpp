// Generated clips decode to exactly their frames, in order, with the asked
// stream parameters; DV files carry the dates and time codes written.
#include "tests/tools/MediaCheck.h"
#include "common/TestSupport.h"
#include "tools/mkmedia/MkMedia.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>

using namespace mkmedia;

namespace {

struct ClipCase {
    const char *name;
    const char *ext;
    const char *codec;
    Rational rate;
    bool checkSar; // false where the codec or container has no way to store it
    int bframes = -1;
};

std::ostream &operator<<(std::ostream &os, const ClipCase &c) { return os << c.name; }

class ClipTest : public ::testing::TestWithParam<ClipCase> {
protected:
    void SetUp() override { av_log_set_level(AV_LOG_ERROR); }
    QTemporaryDir dir;
};

TEST_P(ClipTest, DecodesToItsFramesInOrder)
{
    const ClipCase &c = GetParam();
    ClipOptions o;
    o.path = dir.filePath(QString("clip.") + c.ext).toStdString();
    o.codec = c.codec;
    o.width = 176;
    o.height = 144;
    o.rate = c.rate;
    o.frames = 18;
    o.sar = {12, 11};
    o.bframes = c.bframes;
    const ClipResult r = WriteClip(o);
    ASSERT_TRUE(r.ok) << r.error;

    const DecodedClip d = DecodeClip(o.path);
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.indices, Sequence(18));
    EXPECT_EQ(d.width, 176);
    EXPECT_EQ(d.height, 144);
    EXPECT_EQ(av_cmp_q(d.rate, AVRational{c.rate.num, c.rate.den}), 0)
        << d.rate.num << "/" << d.rate.den;
    if (c.checkSar) {
        EXPECT_EQ(av_cmp_q(d.sar, AVRational{12, 11}), 0) << d.sar.num << ":" << d.sar.den;
    }
    EXPECT_EQ(d.audioStreams, r.audioEncoder.empty() ? 0 : 1);
}

const Rational k25{25, 1}, kNtsc{30000, 1001}, kFilm{24000, 1001};

INSTANTIATE_TEST_SUITE_P(
    Containers, ClipTest,
    ::testing::Values(ClipCase{"mp4_h264_bframes", "mp4", "", k25, true, 3},
                      ClipCase{"mkv_h264_bframes_ntsc", "mkv", "", kNtsc, true, 3},
                      ClipCase{"mov_h264_film", "mov", "", kFilm, true},
                      ClipCase{"m2ts_h264_ntsc", "m2ts", "", kNtsc, true},
                      ClipCase{"mts_h264", "mts", "", k25, true},
                      ClipCase{"mpeg_ps_mpeg2", "mpeg", "", k25, true},
                      ClipCase{"vob_mpeg2_ntsc", "vob", "", kNtsc, true},
                      ClipCase{"mp2_ps_mpeg2", "mp2", "", k25, true},
                      ClipCase{"ts_mpeg2_ntsc", "ts", "", kNtsc, true},
                      ClipCase{"m2v_elementary", "m2v", "", kFilm, true},
                      ClipCase{"mpg_mpeg1_film", "mpg", "", kFilm, false},
                      ClipCase{"mpe_mpeg1", "mpe", "", k25, false},
                      ClipCase{"m1v_elementary_ntsc", "m1v", "", kNtsc, false},
                      ClipCase{"avi_mpeg4", "avi", "", k25, true},
                      ClipCase{"3g2_mpeg4", "3g2", "", k25, true},
                      ClipCase{"m4v_mpeg4_ntsc", "m4v", "", kNtsc, true},
                      ClipCase{"ivf_vp8", "ivf", "", k25, false},
                      ClipCase{"mkv_vp8", "mkv", "vp8", k25, true},
                      ClipCase{"wmv_wmv2", "wmv", "", k25, false},
                      ClipCase{"asf_wmv2_ntsc", "asf", "", kNtsc, false},
                      ClipCase{"avi_h264_bframes", "avi", "h264", k25, true, 2}),
    [](const ::testing::TestParamInfo<ClipCase> &i) { return std::string(i.param.name); });

} // namespace

namespace {

uint32_t Le32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// The parts of a type-1 DV AVI that a reader relies on.
struct RiffDv {
    int strl = 0;
    std::string type, handler;
    uint32_t dvinfoSize = 0;
    uint32_t vauxSrc = 0;
    std::vector<std::vector<uint8_t>> frames;
    uint32_t idxEntries = 0;
};

void WalkRiff(const QByteArray &f, int from, int to, RiffDv &r)
{
    const auto *b = reinterpret_cast<const uint8_t *>(f.constData());
    for (int at = from; at + 8 <= to;) {
        const std::string id(f.constData() + at, 4);
        const uint32_t size = Le32(b + at + 4);
        if (at + 8 + qint64(size) > to)
            return;
        if (id == "LIST") {
            r.strl += std::string(f.constData() + at + 8, 4) == "strl";
            WalkRiff(f, at + 12, at + 8 + int(size), r);
        } else if (id == "strh") {
            r.type.assign(f.constData() + at + 8, 4);
            r.handler.assign(f.constData() + at + 12, 4);
        } else if (id == "strf") {
            r.dvinfoSize = size;
            r.vauxSrc = Le32(b + at + 8 + 16);
        } else if (id == "00db") {
            r.frames.emplace_back(b + at + 8, b + at + 8 + size);
        } else if (id == "idx1") {
            r.idxEntries = size / 16;
        }
        at += 8 + int((size + 1) & ~1u);
    }
}

class DvTest : public ::testing::Test {
protected:
    void SetUp() override { av_log_set_level(AV_LOG_ERROR); }
    QTemporaryDir dir;
};

// Crosses a second, a day and a year boundary on the way.
TEST_F(DvTest, Type1IsOneInterleavedStreamWithAdvancingCodes)
{
    ClipOptions o;
    o.path = dir.filePath("dv1.avi").toStdString();
    o.codec = "dv";
    o.dvType = 1;
    o.frames = 27;
    ASSERT_TRUE(ParseDvDateTime("2038-12-31 23:59:59", o.dvStart));
    const ClipResult r = WriteClip(o);
    ASSERT_TRUE(r.ok) << r.error;

    QFile file(QString::fromStdString(o.path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_TRUE(bytes.startsWith("RIFF"));
    ASSERT_EQ(bytes.mid(8, 4), QByteArray("AVI "));
    RiffDv riff;
    WalkRiff(bytes, 12, int(bytes.size()), riff);
    EXPECT_EQ(riff.strl, 1);
    EXPECT_EQ(riff.type, "iavs");
    EXPECT_EQ(riff.handler, "dvsd");
    EXPECT_EQ(riff.dvinfoSize, 32u);
    EXPECT_NE(riff.vauxSrc, 0u);
    EXPECT_EQ(riff.idxEntries, 27u);
    ASSERT_EQ(riff.frames.size(), 27u);
    for (int i = 0; i < 27; ++i) {
        const auto &frame = riff.frames[size_t(i)];
        ASSERT_EQ(frame.size(), kDvPalFrameSize);
        const DvFrameCodes c = ReadDvCodes(frame.data(), frame.size());
        SCOPED_TRACE(i);
        EXPECT_TRUE(c.pal);
        EXPECT_TRUE(c.structureValid);
        EXPECT_EQ(c.audioRate, 48000);
        EXPECT_EQ(c.audioBits, 16);
        ASSERT_TRUE(c.dateValid && c.timecodeValid);
        const bool next = i >= 25;
        EXPECT_EQ(c.date.year, next ? 2039 : 2038);
        EXPECT_EQ(c.date.month, next ? 1 : 12);
        EXPECT_EQ(c.date.day, next ? 1 : 31);
        EXPECT_EQ(c.date.hour * 3600 + c.date.minute * 60 + c.date.second, next ? 0 : 86399);
        EXPECT_EQ(c.timecode.seconds * 25 + c.timecode.frames, i);
    }
    // libavformat reads type 1 through its own DV demuxer: the pictures are all
    // there, and so is the tone, sample for sample.
    const DecodedClip d = DecodeClip(o.path);
    EXPECT_EQ(d.indices, Sequence(27));
    EXPECT_EQ(d.width, 720);
    EXPECT_EQ(d.height, 576);
    ASSERT_EQ(d.pcmChannels, 2);
    ASSERT_EQ(d.pcm.size(), size_t(27 * 1920 * 2));
    int wrong = 0;
    for (size_t n = 0; n < d.pcm.size() / 2; ++n)
        wrong += d.pcm[2 * n] != DvToneSample(0, long(n)) || d.pcm[2 * n + 1] != DvToneSample(1, long(n));
    EXPECT_EQ(wrong, 0);
}

TEST_F(DvTest, Type2NtscHasSeparateAudioAndCodesInEveryFrame)
{
    ClipOptions o;
    o.path = dir.filePath("dv2.avi").toStdString();
    o.codec = "dv";
    o.rate = {30000, 1001};
    o.frames = 32;
    const ClipResult r = WriteClip(o);
    ASSERT_TRUE(r.ok) << r.error;
    const DecodedClip d = DecodeClip(o.path, true);
    EXPECT_EQ(d.indices, Sequence(32));
    EXPECT_EQ(d.height, 480);
    EXPECT_EQ(d.audioStreams, 1);
    EXPECT_EQ(av_cmp_q(d.sar, AVRational{10, 11}), 0);
    ASSERT_EQ(d.videoPackets.size(), 32u);
    for (int i : {0, 29, 30, 31}) {
        const auto &p = d.videoPackets[size_t(i)];
        const DvFrameCodes c = ReadDvCodes(p.data(), p.size());
        SCOPED_TRACE(i);
        EXPECT_FALSE(c.pal);
        EXPECT_TRUE(c.structureValid);
        ASSERT_TRUE(c.dateValid && c.timecodeValid);
        // 30 frames at 29.97 are 1.001 s: the recording time moves at frame 30.
        EXPECT_EQ(c.date.second, i >= 30 ? 1 : 0);
        EXPECT_EQ(c.timecode.seconds * 30 + c.timecode.frames, i);
    }
}

TEST_F(DvTest, Type1NtscCarriesTheToneInItsFrames)
{
    ClipOptions o;
    o.path = dir.filePath("dvn.avi").toStdString();
    o.codec = "dv";
    o.dvType = 1;
    o.rate = {30000, 1001};
    o.frames = 10;
    const ClipResult r = WriteClip(o);
    ASSERT_TRUE(r.ok) << r.error;
    const DecodedClip d = DecodeClip(o.path);
    EXPECT_EQ(d.indices, Sequence(10));
    ASSERT_EQ(d.pcmChannels, 2);
    ASSERT_EQ(d.pcm.size(), size_t(2 * 8008 * 2)); // 1600 + 4 x 1602 per five frames
    int wrong = 0;
    for (size_t n = 0; n < d.pcm.size() / 2; ++n)
        wrong += d.pcm[2 * n] != DvToneSample(0, long(n)) || d.pcm[2 * n + 1] != DvToneSample(1, long(n));
    EXPECT_EQ(wrong, 0);
}

TEST(MkMediaDefaults, FollowTheExtension)
{
    av_log_set_level(AV_LOG_ERROR);
    QTemporaryDir dir;
    ClipOptions o;
    o.path = dir.filePath("d.mp4").toStdString();
    const ClipResult r = WriteClip(o);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.videoEncoder, "libx264");
    EXPECT_EQ(r.audioEncoder, "aac");
    const DecodedClip d = DecodeClip(o.path);
    EXPECT_EQ(d.indices, Sequence(50));
    EXPECT_EQ(d.width, 320);
    EXPECT_EQ(d.height, 240);
    EXPECT_EQ(av_cmp_q(d.rate, AVRational{25, 1}), 0);

    // WAV is sound only, exactly as long as the frames would have lasted.
    o.path = dir.filePath("d.wav").toStdString();
    o.frames = 30;
    o.rate = {30000, 1001};
    ASSERT_TRUE(WriteClip(o).ok);
    QFile wav(QString::fromStdString(o.path));
    ASSERT_TRUE(wav.open(QIODevice::ReadOnly));
    const QByteArray bytes = wav.readAll();
    const qsizetype data = bytes.indexOf("data");
    ASSERT_GT(data, 0);
    EXPECT_EQ(Le32(reinterpret_cast<const uint8_t *>(bytes.constData()) + data + 4), 48048u * 4);
}

TEST(MkMediaBitRate, TheAskedRateReachesTheEncoder)
{
    av_log_set_level(AV_LOG_ERROR);
    QTemporaryDir dir;
    auto size = [&](const char *name, int bitRate) {
        ClipOptions o;
        o.path = dir.filePath(name).toStdString();
        o.frames = 50;
        o.audio = 0;
        o.bitRate = bitRate;
        const ClipResult r = WriteClip(o);
        EXPECT_TRUE(r.ok) << r.error;
        EXPECT_EQ(DecodeClip(o.path).indices, Sequence(50));
        return QFile(QString::fromStdString(o.path)).size();
    };
    const qint64 low = size("low.mp4", 100'000), high = size("high.mp4", 3'000'000);
    // Two seconds at 100 kbit/s, give or take the headers and the encoder's slack.
    EXPECT_LT(low, 2 * 100'000 / 8 * 2);
    EXPECT_GT(high, 2 * low);
}

TEST(MkMediaRefuses, WhatItCannotWrite)
{
    QTemporaryDir dir;
    auto attempt = [&](const char *name, const char *codec, int audio) {
        ClipOptions o;
        o.path = dir.filePath(name).toStdString();
        o.codec = codec;
        o.audio = audio;
        const ClipResult r = WriteClip(o);
        EXPECT_FALSE(r.ok) << name;
        EXPECT_EQ(r.error.find('\n'), std::string::npos);
        EXPECT_NE(r.error.find(name), std::string::npos) << r.error;
    };
    attempt("a.xyz", "", -1);
    attempt("a.ivf", "", 1);
    attempt("a.mp4", "dv", -1);
    attempt("a.avi", "nosuchcodec", -1);
    attempt("a.wav", "h264", -1);
}

TEST(MkMediaTool, PrintsOneLineOrFailsWithOne)
{
    const QString tool = ToolsDir() + "/mkmedia/mkmedia";
    if (!QFile::exists(tool))
        GTEST_SKIP() << "mkmedia not built";
    QTemporaryDir dir;
    QProcess p;
    p.start(tool, {dir.filePath("t.mp4"), "--size", "176x144", "--frames", "12", "--sar", "16:15",
                   "--rate", "30000/1001", "--bitrate", "300", "--no-audio"});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(p.readAllStandardOutput().count('\n'), 1);
    const DecodedClip d = DecodeClip(dir.filePath("t.mp4").toStdString());
    EXPECT_EQ(d.indices, Sequence(12));
    EXPECT_EQ(av_cmp_q(d.sar, AVRational{16, 15}), 0);
    EXPECT_EQ(d.audioStreams, 0);

    for (const QString &bad : {QStringLiteral("--rate"), QStringLiteral("--bitrate")}) {
        p.start(tool, {dir.filePath("t.mp4"), bad, bad == "--rate" ? "x" : "0"});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_NE(p.exitCode(), 0) << bad.toStdString();
        EXPECT_EQ(p.readAllStandardError().count('\n'), 1);
    }
}

} // namespace
