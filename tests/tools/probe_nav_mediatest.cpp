// vidstill-probe nav: the program's navigation lands on the exact frame, on
// every container and codec it reads, checked by the index drawn into the
// picture it shows and grabs.
#include "ProbeSupport.h"
#include "tools/mkmedia/MkMedia.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <random>

namespace {

using namespace probetest;

struct NavClip {
    const char *name;
    const char *codec;
    mkmedia::Rational rate;
};

struct Line {
    QString command;
    long long time = -1;
    QString text;
};

std::vector<Line> Lines(const ProbeRun &r)
{
    std::vector<Line> out;
    for (const QString &l : r.out.split('\n', Qt::SkipEmptyParts)) {
        const QStringList f = l.split(' ');
        out.push_back({f.value(0), f.value(1).toLongLong(), f.value(2)});
    }
    return out;
}

class ProbeNavTest : public ::testing::TestWithParam<NavClip> {
protected:
    static constexpr int kFrames = 100;

    QString Make(const NavClip &c)
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(c.name).toStdString();
        o.codec = c.codec;
        o.frames = kFrames;
        o.gop = 25;
        o.width = 160;
        o.height = 120;
        o.rate = c.rate;
        const auto r = mkmedia::WriteClip(o);
        EXPECT_TRUE(r.ok) << r.error;
        return QString::fromStdString(o.path);
    }

    QTemporaryDir dir;
};

// A target, then the picture after each of back=1f fwd=1f back=10f fwd=10f.
TEST_P(ProbeNavTest, LandsOnTheExactFrameAndStepsFromIt)
{
    const NavClip c = GetParam();
    const QString file = Make(c);
    const double frame = 1e7 * c.rate.den / c.rate.num;
    std::mt19937 random(5);
    QStringList commands;
    std::vector<int> expected;
    const auto add = [&](const QString &command, int index) {
        commands << command << "grab=" + dir.filePath(QString("g%1.bmp").arg(expected.size()));
        expected.push_back(index);
    };
    for (int i = 0; i < 50; ++i) {
        const int target = 11 + int(random() % (kFrames - 24));
        add(QString("at=%1").arg(std::llround(target * frame)), target);
        add("back=1f", target - 1);
        add("fwd=1f", target);
        add("back=10f", target - 10);
        add("fwd=10f", target);
    }
    add("start", 0);
    // The end of the range is two frames before the container's end, which
    // may hold a sound tail past the last picture.
    const ProbeRun info = Probe({"info", file});
    const long long duration = info.out.section("\"duration\": ", 1).section(',', 0, 0).toLongLong();
    ASSERT_GT(duration, 0) << info.out.toStdString();
    add("end", std::min<int>(kFrames - 1, int(std::llround((duration - 2 * frame) / frame))));
    const ProbeRun r = Probe(QStringList{"nav", file} + commands, 120000);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto lines = Lines(r);
    ASSERT_EQ(lines.size(), size_t(commands.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        const Line &moved = lines[2 * i];
        SCOPED_TRACE(moved.command.toStdString());
        EXPECT_EQ(std::llround(moved.time / frame), expected[i]);
        EXPECT_EQ(IndexInBmp(dir.filePath(QString("g%1.bmp").arg(i))), expected[i]) << "the picture shown";
    }
}

// The fast path lands on the key frame at or before a typed position, and the
// position given is that of the picture shown (a stream whose leading
// pictures are dropped after the key frame must not say one picture early).
TEST_P(ProbeNavTest, TheFastPathLandsOnAKeyFrameAndSaysWhichOne)
{
    const NavClip c = GetParam();
    if (c.rate.den != 1)
        GTEST_SKIP() << "typed positions count whole frames a second";
    const QString file = Make(c);
    std::mt19937 random(11);
    QStringList commands{"--fast"};
    std::vector<int> targets;
    for (int i = 0; i < 20; ++i) {
        const int target = int(random() % (kFrames - 2));
        const int perSecond = c.rate.num;
        commands << QString("seek=0:00:%1:%2").arg(target / perSecond, 2, 10, QChar('0')).arg(target % perSecond, 2, 10, QChar('0'))
                 << "grab=" + dir.filePath(QString("f%1.bmp").arg(i));
        targets.push_back(target);
    }
    const ProbeRun r = Probe(QStringList{"nav", file} + commands, 60000);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto lines = Lines(r);
    ASSERT_EQ(lines.size(), size_t(commands.size() - 1));
    const double frame = 1e7 * c.rate.den / c.rate.num;
    for (size_t i = 0; i < targets.size(); ++i) {
        SCOPED_TRACE(lines[2 * i].command.toStdString());
        const int said = int(std::llround(lines[2 * i].time / frame));
        const int shown = IndexInBmp(dir.filePath(QString("f%1.bmp").arg(i)));
        EXPECT_EQ(said, shown) << "the position names the picture shown";
        EXPECT_LE(shown, targets[i]);
        // Where the container has an index; MPEG streams are searched by
        // stepping back, which may find an earlier key frame.
        const QString name = QString::fromLatin1(c.name);
        if (!name.endsWith(".ts") && !name.endsWith(".mpg")) {
            EXPECT_GT(shown, targets[i] - 25) << "key frames are at most 25 frames apart";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Clips, ProbeNavTest,
                         ::testing::Values(NavClip{"h264.mp4", "h264", {25, 1}}, NavClip{"h264.mkv", "h264", {25, 1}},
                                           NavClip{"h264.ts", "h264", {25, 1}}, NavClip{"mpeg2.mpg", "mpeg2", {25, 1}},
                                           NavClip{"mpeg2.ts", "mpeg2", {25, 1}}, NavClip{"mpeg4.avi", "mpeg4", {25, 1}},
                                           NavClip{"ntsc.mp4", "h264", {30000, 1001}}),
                         [](const auto &info) {
                             std::string n = info.param.name;
                             std::replace(n.begin(), n.end(), '.', '_');
                             return n;
                         });

TEST(ProbeNav, TypedPositionsPlayAndBadInput)
{
    QTemporaryDir dir;
    mkmedia::ClipOptions o;
    o.path = dir.filePath("clip.mp4").toStdString();
    o.frames = 60;
    o.width = 160;
    o.height = 120;
    ASSERT_TRUE(mkmedia::WriteClip(o).ok);
    const QString file = QString::fromStdString(o.path);
    const ProbeRun r = Probe({"nav", file, "--timing", "seek=0:00:01:07", "play=300", "seek=abc"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto lines = Lines(r);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].time, 32 * 400000);
    EXPECT_EQ(lines[0].text, "0:00:01:07");
    EXPECT_GT(lines[1].time, lines[0].time) << "playing moved on";
    EXPECT_EQ(lines[2].time, 0) << "a text that is no position goes to the start";
    EXPECT_EQ(r.out.split('\n', Qt::SkipEmptyParts)[0].split(' ').size(), 4) << "--timing adds the milliseconds";

    for (const QStringList &args : {QStringList{"nav", file, "fwd=2f"}, QStringList{"nav", file, "jump"},
                                    QStringList{"nav", file, "--slow"}, QStringList{"nav", dir.filePath("none.mp4")},
                                    QStringList{"nav"}}) {
        const ProbeRun bad = Probe(args);
        EXPECT_EQ(bad.exitCode, 1) << args.join(' ').toStdString();
        EXPECT_EQ(bad.err.count('\n'), 1) << bad.err.toStdString();
    }
}

} // namespace
