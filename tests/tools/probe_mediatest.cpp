// vidstill-probe on generated clips: the streams it reports, the frames the
// renderer presents from the start and after exact seeks (checked against the
// index drawn in the grabbed picture), and clean failures on bad input.
#include "ProbeSupport.h"
#include "tools/mkmedia/MkMedia.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <vector>

namespace {

using namespace probetest;

struct Clip {
    const char *name;
    const char *codec;
    mkmedia::Rational rate;
    int bframes;
    const char *formatText;
};

void PrintTo(const Clip &c, std::ostream *os) { *os << c.name; }

class ProbeTest : public ::testing::TestWithParam<Clip> {
protected:
    QString Make(const Clip &c)
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(c.name).toStdString();
        o.codec = c.codec;
        o.width = 176;
        o.height = 144;
        o.rate = c.rate;
        o.frames = 20;
        o.gop = 8;
        o.bframes = c.bframes;
        o.audio = 0;
        const auto result = mkmedia::WriteClip(o);
        EXPECT_TRUE(result.ok) << result.error;
        return QString::fromStdString(o.path);
    }
    QTemporaryDir dir;
};

// Start time of frame n at the exact rate.
long long FrameTime(const Clip &c, int n)
{
    return std::llround(double(n) * 1e7 * c.rate.den / c.rate.num);
}

// The splitter converts container ticks to 100 ns, which may round the other
// way at 29.97 fps: a frame's time is right within one unit.
void ExpectFrames(const std::vector<long long> &times, const Clip &c, int first, int count)
{
    ASSERT_EQ(times.size(), size_t(count));
    for (int i = 0; i < count; ++i)
        EXPECT_LE(std::llabs(times[size_t(i)] - FrameTime(c, first + i)), 1) << "frame " << first + i;
}

TEST_P(ProbeTest, ReportsStreamsAndPresentsEveryFrameFromTheStartAndAfterExactSeeks)
{
    const Clip c = GetParam();
    const QString file = Make(c);

    const ProbeRun info = Probe({"info", file, "--source", "LAV Splitter Source"});
    ASSERT_EQ(info.exitCode, 0) << info.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(info.out.toUtf8()).object();
    EXPECT_EQ(o["source"].toString(), "LAV Splitter Source");
    EXPECT_EQ(o["splitter"].toString(), "");
    EXPECT_NEAR(o["duration"].toDouble(), double(FrameTime(c, 20)), double(FrameTime(c, 1)));
    const QJsonArray streams = o["streams"].toArray();
    ASSERT_EQ(streams.size(), 1);
    const QJsonObject v = streams[0].toObject();
    EXPECT_EQ(v["kind"].toString(), "video");
    EXPECT_EQ(v["major"].toString(), "{73646976-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(v["width"].toInt(), 176);
    EXPECT_EQ(v["height"].toInt(), 144);
    EXPECT_EQ(v["frame_duration"].toInteger(), c.rate.num == 25 ? 400000 : 333667);
    EXPECT_EQ(v["format_text"].toString().toStdString(), c.formatText);
    EXPECT_TRUE(v["size_text"].toString().startsWith("176x144 - ")) << v["size_text"].toString().toStdString();

    const ProbeRun all = Probe({"frames", file});
    ASSERT_EQ(all.exitCode, 0) << all.err.toStdString();
    ExpectFrames(Times(all), c, 0, 20);

    // A target inside frame 13: exact seeking starts with that frame.
    const long long target = FrameTime(c, 13) + FrameTime(c, 1) / 3;
    const ProbeRun part = Probe({"frames", file, "--from", QString::number(target), "--count", "4"});
    ASSERT_EQ(part.exitCode, 0) << part.err.toStdString();
    ExpectFrames(Times(part), c, 13, 4);

    // Frame 11 comes after a B-frame reordering and far from its key frame.
    const QString bmp = dir.filePath("still.bmp");
    const ProbeRun grab = Probe({"grab", file, "--at", QString::number(FrameTime(c, 11)), "--out", bmp});
    ASSERT_EQ(grab.exitCode, 0) << grab.err.toStdString();
    EXPECT_LE(std::llabs(grab.out.trimmed().toLongLong() - FrameTime(c, 11)), 1);
    EXPECT_EQ(IndexInBmp(bmp), 11);
}

INSTANTIATE_TEST_SUITE_P(
    Clips, ProbeTest,
    ::testing::Values(Clip{"h264.mp4", "h264", {25, 1}, 2, "AVC1 (11x9)"},
                      Clip{"h264.mkv", "h264", {25, 1}, 2, "AVC1 (11x9)"},
                      Clip{"mpeg2.mpg", "mpeg2", {30000, 1001}, 2, "MPEG2 (11x9)"},
                      Clip{"mpeg2.ts", "mpeg2", {25, 1}, 2, "MPEG2 (11x9)"}),
    [](const auto &info) {
        std::string n = info.param.name;
        for (char &ch : n)
            if (ch == '.')
                ch = '_';
        return n;
    });

TEST(ProbeBadInput, FailsWithOneLineForUnreadableFilesAndBadArguments)
{
    QTemporaryDir dir;
    const QString empty = dir.filePath("empty.mp4"), noise = dir.filePath("noise.avi");
    QFile(empty).open(QIODevice::WriteOnly);
    QFile f(noise);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    uint32_t x = 12345;
    QByteArray bytes;
    for (int i = 0; i < 20000; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes.append(char(x >> 24));
    }
    f.write(bytes);
    f.close();
    const QList<QStringList> calls{
        {"info", empty},
        {"frames", noise},
        {"grab", noise, "--at", "0", "--out", dir.filePath("x.bmp")},
        {"info", dir.filePath("missing.mkv")},
        {"frames", noise, "--from", "soon"},
        {"info", noise, "--source", "No Such Filter"},
        {"info", empty, "--splitter", "No Such Splitter"},
        {"grab", empty},
        {"nonsense", empty},
    };
    for (const QStringList &args : calls) {
        const ProbeRun r = Probe(args);
        EXPECT_EQ(r.exitCode, 1) << args.join(' ').toStdString() << ": " << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << args.join(' ').toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << args.join(' ').toStdString() << ": " << r.err.toStdString();
    }
}

} // namespace
