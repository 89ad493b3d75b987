// vidstill-probe dv: the recording date and time code of every frame of DV
// clips in both AVI types, both broadcast systems, and on both sides of the
// two-digit year's turn, against the clock the clips were written with.
#include "ProbeSupport.h"
#include "tools/mkmedia/MkMedia.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace probetest;

struct DvClip {
    int type;
    bool pal;
    const char *start;
};

class ProbeDvTest : public ::testing::TestWithParam<DvClip> {
protected:
    QString Make(const DvClip &c, int frames)
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(QString("dv%1%2.avi").arg(c.type).arg(c.pal ? "pal" : "ntsc")).toStdString();
        o.codec = "dv";
        o.frames = frames;
        o.dvType = c.type;
        if (!c.pal) {
            o.width = 720;
            o.height = 480;
            o.rate = {30000, 1001};
        }
        EXPECT_TRUE(mkmedia::ParseDvDateTime(c.start, o.dvStart));
        const auto r = mkmedia::WriteClip(o);
        EXPECT_TRUE(r.ok) << r.error;
        return QString::fromStdString(o.path);
    }
    QTemporaryDir dir;
};

// "N 1 yyyy-mm-dd hh:nn:ss 1 h:mm:ss:ff" for frame n of a clip, as the
// writer stamps it: whole seconds of recording time, non-drop time code.
QString Expected(const DvClip &c, int n)
{
    mkmedia::DvDateTime start;
    mkmedia::ParseDvDateTime(c.start, start);
    const long long elapsed = c.pal ? n / 25 : n * 1001LL / 30000;
    const mkmedia::DvDateTime t = mkmedia::AddSeconds(start, elapsed);
    const int fps = c.pal ? 25 : 30;
    return QString::asprintf("%d 1 %04d-%02d-%02d %02d:%02d:%02d 1 %d:%02d:%02d:%02d", n, t.year, t.month, t.day,
                             t.hour, t.minute, t.second, n / fps / 3600, n / fps / 60 % 60, n / fps % 60, n % fps);
}

TEST_P(ProbeDvTest, EveryFrameHasTheDateAndTimeCodeItWasWrittenWith)
{
    const DvClip c = GetParam();
    const ProbeRun r = Probe({"dv", Make(c, 40)});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 40);
    for (int n = 0; n < lines.size(); ++n)
        EXPECT_EQ(lines[n], Expected(c, n));
}

INSTANTIATE_TEST_SUITE_P(Clips, ProbeDvTest,
                         ::testing::Values(DvClip{1, true, "2009-07-14 13:45:59"},
                                           DvClip{2, true, "2039-12-31 23:59:58"},
                                           DvClip{1, false, "1940-01-01 00:00:00"},
                                           DvClip{2, false, "1999-12-31 23:59:59"}));

TEST(ProbeDv, CountStopsEarlyAndBadFilesFailWithOneLine)
{
    QTemporaryDir dir;
    mkmedia::ClipOptions o;
    o.path = dir.filePath("dv.avi").toStdString();
    o.codec = "dv";
    o.frames = 30;
    ASSERT_TRUE(mkmedia::WriteClip(o).ok);
    const ProbeRun some = Probe({"dv", QString::fromStdString(o.path), "--count", "4"});
    ASSERT_EQ(some.exitCode, 0) << some.err.toStdString();
    EXPECT_EQ(some.out.split('\n', Qt::SkipEmptyParts).size(), 4);

    const QString empty = dir.filePath("empty.avi");
    QFile(empty).open(QIODevice::WriteOnly);
    const QString wav = dir.filePath("tone.wav");
    o.path = wav.toStdString();
    o.codec.clear();
    ASSERT_TRUE(mkmedia::WriteClip(o).ok);
    for (const QStringList &args : {QStringList{"dv", empty}, QStringList{"dv", dir.filePath("none.avi")},
                                    QStringList{"dv", dir.filePath("x.txt")}, QStringList{"dv", wav},
                                    QStringList{"dv", QString::fromStdString(o.path), "--count", "x"}}) {
        const ProbeRun r = Probe(args);
        EXPECT_EQ(r.exitCode, 1) << args.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    }
}

} // namespace
