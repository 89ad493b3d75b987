// Every accepted extension through "LAV Splitter Source" and through the
// system filters its fallback chain names: which named splitter takes which
// container, the streams each reports, and the frames each presents (by the
// index drawn in the picture) from the start and after exact seeks.
#include "ProbeSupport.h"
#include "tools/mkmedia/MkMedia.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <ostream>

namespace {

using namespace probetest;

const char kFileSource[] = "File Source (Async.)";

struct Chain {
    const char *ext;
    // The system filters tried after LAV, in order; the source alone when
    // there is no splitter ("WM ASF Reader").
    std::vector<std::pair<const char *, const char *>> fallbacks;
    // Index into `fallbacks` of the one that takes the default clip, -1 none.
    int taker;
};

void PrintTo(const Chain &c, std::ostream *os) { *os << c.ext; }

const std::vector<std::pair<const char *, const char *>> kMpegChain{
    {kFileSource, "MPEG-2 Splitter"}, {kFileSource, "MPEG-I Stream Splitter"}};
const std::vector<std::pair<const char *, const char *>> kAviChain{{kFileSource, "AVI Splitter"}};
const std::vector<std::pair<const char *, const char *>> kAsfChain{{"WM ASF Reader", ""}};

constexpr int kFrames = 20;

class ChainTest : public ::testing::TestWithParam<Chain> {
protected:
    QString Make(const std::string &name, int audio = -1, const std::string &codec = {})
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(QString::fromStdString(name)).toStdString();
        o.codec = codec;
        o.width = 176;
        o.height = 144;
        o.frames = kFrames;
        o.gop = 8;
        o.audio = audio;
        const auto result = mkmedia::WriteClip(o);
        EXPECT_TRUE(result.ok) << result.error;
        return QString::fromStdString(o.path);
    }

    static QStringList With(QStringList args, const char *source, const char *splitter)
    {
        if (source && *source)
            args << "--source" << source;
        if (splitter && *splitter)
            args << "--splitter" << splitter;
        return args;
    }

    // Every frame from the start, four after a seek into frame 13, and the
    // picture at frame 11, all with their true times and indexes.
    void ExpectFrames(const QString &file, const char *source, const char *splitter)
    {
        const std::string how = std::string(source ? source : "LAV") + " " + (splitter ? splitter : "");
        const ProbeRun all = Probe(With({"frames", file}, source, splitter));
        ASSERT_EQ(all.exitCode, 0) << how << ": " << all.err.toStdString();
        const std::vector<long long> times = Times(all);
        ASSERT_EQ(times.size(), size_t(kFrames)) << how;
        for (int i = 0; i < kFrames; ++i)
            EXPECT_EQ(times[size_t(i)], i * 400000LL) << how << " frame " << i;

        const ProbeRun part = Probe(With({"frames", file, "--from", "5333333", "--count", "4"}, source, splitter));
        ASSERT_EQ(part.exitCode, 0) << how << ": " << part.err.toStdString();
        EXPECT_EQ(Times(part), (std::vector<long long>{5200000, 5600000, 6000000, 6400000})) << how;

        const QString bmp = dir.filePath("still.bmp");
        const ProbeRun grab = Probe(With({"grab", file, "--at", "4400000", "--out", bmp}, source, splitter));
        ASSERT_EQ(grab.exitCode, 0) << how << ": " << grab.err.toStdString();
        EXPECT_EQ(grab.out.trimmed().toLongLong(), 4400000) << how;
        EXPECT_EQ(IndexInBmp(bmp), 11) << how;
    }

    QTemporaryDir dir;
};

QJsonObject Info(const QString &file, const char *source, const char *splitter, int *exitCode)
{
    const ProbeRun r = Probe({"info", file, "--source", source, "--splitter", splitter});
    *exitCode = r.exitCode;
    return QJsonDocument::fromJson(r.out.toUtf8()).object();
}

TEST_P(ChainTest, LavTakesEveryExtensionAndExactlyTheRightSystemFilterTakesItToo)
{
    const Chain c = GetParam();
    const QString file = Make(std::string("clip.") + c.ext);
    int code = -1;
    const QJsonObject lav = Info(file, "LAV Splitter Source", "", &code);
    ASSERT_EQ(code, 0);
    // Audio may run a little past the last picture.
    EXPECT_NEAR(lav["duration"].toDouble(), kFrames * 400000.0, 1000000.0);
    ASSERT_GE(lav["streams"].toArray().size(), 1);
    const QJsonObject video = lav["streams"].toArray()[0].toObject();
    EXPECT_EQ(video["kind"].toString(), "video");
    EXPECT_EQ(video["width"].toInt(), 176);
    EXPECT_EQ(video["frame_duration"].toInteger(), 400000);
    ExpectFrames(file, nullptr, nullptr);

    for (int i = 0; i < int(c.fallbacks.size()); ++i) {
        const auto &[source, splitter] = c.fallbacks[size_t(i)];
        const QJsonObject named = Info(file, source, splitter, &code);
        SCOPED_TRACE(std::string(source) + " + " + splitter);
        if (i != c.taker) {
            EXPECT_EQ(code, 1);
            continue;
        }
        ASSERT_EQ(code, 0);
        EXPECT_EQ(named["source"].toString(), source);
        EXPECT_EQ(named["splitter"].toString(), splitter);
        EXPECT_NEAR(named["duration"].toDouble(), lav["duration"].toDouble(), 400000.0);
        // The same streams, described the same way.
        const QJsonArray a = lav["streams"].toArray(), b = named["streams"].toArray();
        ASSERT_EQ(a.size(), b.size());
        for (int s = 0; s < a.size(); ++s)
            for (const char *key : {"kind", "subtype", "format_text", "size_text", "label"})
                EXPECT_EQ(a[s].toObject()[key], b[s].toObject()[key]) << key;
        ExpectFrames(file, source, splitter);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Extensions, ChainTest,
    ::testing::Values(Chain{"mts", kMpegChain, 0}, Chain{"m2ts", kMpegChain, 0}, Chain{"ts", kMpegChain, 0},
                      Chain{"mpg", kMpegChain, 1}, Chain{"mpeg", kMpegChain, 0}, Chain{"m1v", kMpegChain, 1},
                      Chain{"mp2", kMpegChain, 0}, Chain{"mpe", kMpegChain, 1}, Chain{"vob", kMpegChain, 0},
                      Chain{"m2v", kMpegChain, -1}, Chain{"mkv", kMpegChain, -1}, Chain{"mov", kMpegChain, -1},
                      Chain{"mp4", kMpegChain, -1}, Chain{"3g2", kMpegChain, -1}, Chain{"m4v", kMpegChain, -1},
                      Chain{"avi", kAviChain, 0}, Chain{"ivf", kAviChain, -1}, Chain{"wmv", kAsfChain, 0},
                      Chain{"asf", kAsfChain, 0}),
    [](const auto &info) { return std::string(info.param.ext); });

TEST_F(ChainTest, WaveOpensThroughTheWaveParserOnly)
{
    const QString file = Make("tone.wav");
    int code = -1;
    const QJsonObject o = Info(file, kFileSource, "Wave Parser", &code);
    ASSERT_EQ(code, 0);
    EXPECT_NEAR(o["duration"].toDouble(), kFrames * 400000.0, 1.0);
    ASSERT_EQ(o["streams"].toArray().size(), 1);
    EXPECT_EQ(o["streams"].toArray()[0].toObject()["label"].toString(), "PCM 48000Hz 16bits  stereo");
    for (const char *other : {"AVI Splitter", "MPEG-2 Splitter", "MPEG-I Stream Splitter"}) {
        Info(file, kFileSource, other, &code);
        EXPECT_EQ(code, 1) << other;
    }
    const QString avi = Make("clip.avi");
    Info(avi, kFileSource, "Wave Parser", &code);
    EXPECT_EQ(code, 1);
}

// Type 1: the AVI splitter gives the frames whole on one interleaved pin,
// LAV splits them. Type 2 has its own audio stream either way.
TEST_F(ChainTest, DvTypeOneIsOneInterleavedPinOnlyFromTheAviSplitter)
{
    mkmedia::ClipOptions o;
    o.path = dir.filePath("dv1.avi").toStdString();
    o.codec = "dv";
    o.frames = 10;
    o.dvType = 1;
    ASSERT_TRUE(mkmedia::WriteClip(o).ok);
    int code = -1;
    const QJsonObject avi = Info(QString::fromStdString(o.path), kFileSource, "AVI Splitter", &code);
    ASSERT_EQ(code, 0);
    const QJsonArray pins = avi["streams"].toArray();
    ASSERT_EQ(pins.size(), 1);
    EXPECT_EQ(pins[0].toObject()["kind"].toString(), "interleaved");
    EXPECT_EQ(pins[0].toObject()["subtype"].toString(), "{64737664-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(pins[0].toObject()["format"].toString(), "{05589F84-C356-11CE-BF01-00AA0055595A}");
    EXPECT_EQ(avi["duration"].toInteger(), 10 * 400000);

    const QJsonObject lav = Info(QString::fromStdString(o.path), "LAV Splitter Source", "", &code);
    ASSERT_EQ(code, 0);
    ASSERT_EQ(lav["streams"].toArray().size(), 2);
    EXPECT_EQ(lav["streams"].toArray()[0].toObject()["kind"].toString(), "video");
    EXPECT_EQ(lav["streams"].toArray()[1].toObject()["kind"].toString(), "audio");

    o.path = dir.filePath("dv2.avi").toStdString();
    o.dvType = 2;
    ASSERT_TRUE(mkmedia::WriteClip(o).ok);
    const QJsonObject two = Info(QString::fromStdString(o.path), kFileSource, "AVI Splitter", &code);
    ASSERT_EQ(code, 0);
    ASSERT_EQ(two["streams"].toArray().size(), 2);
    EXPECT_EQ(two["streams"].toArray()[0].toObject()["format_text"].toString(), "DV Type 2");
}

} // namespace
