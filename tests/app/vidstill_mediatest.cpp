// The program run as a batch job from the command line, the way scripts and
// the demo use it: each still it saves must be the frame its name says, at the
// size the aspect setting asks, named as the naming settings say; bad input
// ends the run with status 1, a reason on stderr and nothing written.
#include "common/TestSupport.h"
#include "tools/ProbeSupport.h"
#include "tools/mkmedia/FrameIndex.h"
#include "tools/mkmedia/MkMedia.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <cstdint>
extern "C" {
#include <libavutil/log.h>
}
#include <map>
#include <memory>
#include <vector>

namespace {

struct Outcome {
    int exitCode = -1;
    QString err;
};

// Runs the built program with settings, home and config folders of its own.
Outcome Vidstill(const QString &home, const QStringList &args, bool ownHeadless = false)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VIDSTILL_REGISTRY", home + "/HKCU.reg");
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_DATA_HOME", home + "/data");
    env.insert("XDG_RUNTIME_DIR", home);
    env.insert("VIDSTILL_AUDIO", "silent");
    if (ownHeadless) {
        // No display and no platform chosen: the program's own batch setup.
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(name);
    } else {
        env.insert("QT_QPA_PLATFORM", "offscreen");
    }
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VIDSTILL_BIN_DIR "vidstill"), args);
    Outcome r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        r.err = "timed out";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The frame index drawn in a saved still, BMP or JPEG; negative when unreadable.
int IndexInStill(const QString &path)
{
    if (path.endsWith(".bmp"))
        return probetest::IndexInBmp(path);
    QImage img(path, "JPG");
    if (img.isNull())
        return -4;
    img = img.convertToFormat(QImage::Format_Grayscale8);
    return mkmedia::ReadFrameIndex(img.constBits(), static_cast<int>(img.bytesPerLine()), img.width(),
                                   img.height());
}

// The position text of a media time (100 ns units) with frame duration d,
// rounded to whole frames; a time within half a frame of the next second
// belongs to that second.
QString PositionText(int64_t p, int64_t d)
{
    const int64_t n = (p + d / 2) / d;
    const int64_t t = n * d;
    int64_t s = t / 10000000;
    int64_t r = t % 10000000;
    if (10000000 - r < d / 2) {
        r = 0;
        ++s;
    }
    const int64_t ff = (r + d / 2) / d;
    return QString("%1:%2:%3:%4")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QChar('0'))
        .arg(s % 60, 2, 10, QChar('0'))
        .arg(ff, 2, 10, QChar('0'));
}

// The frame of a clip whose position text is `text`, -1 when none is.
int FrameOfPosition(const QString &text, mkmedia::Rational rate, int frames)
{
    const int64_t d = (10000000LL * rate.den + rate.num / 2) / rate.num;
    for (int f = 0; f < frames; ++f) {
        const int64_t p = (10000000LL * rate.den * f + rate.num / 2) / rate.num;
        if (PositionText(p, d) == text)
            return f;
    }
    return -1;
}

QStringList Files(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

class VidstillRun : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        av_log_set_level(AV_LOG_ERROR);
        clips = std::make_unique<QTemporaryDir>();
    }
    static void TearDownTestSuite() { clips.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        out = home.path() + "/out";
        ASSERT_TRUE(QDir().mkpath(out));
    }

    // A clip made once per suite; the result says what was written.
    static mkmedia::ClipResult Clip(const QString &name, mkmedia::ClipOptions o)
    {
        static std::map<QString, mkmedia::ClipResult> made;
        o.path = (clips->path() + "/" + name).toStdString();
        auto it = made.find(name);
        if (it == made.end())
            it = made.emplace(name, mkmedia::WriteClip(o)).first;
        return it->second;
    }
    static QString ClipPath(const QString &name) { return clips->path() + "/" + name; }

    static mkmedia::ClipResult Small()
    {
        mkmedia::ClipOptions o;
        o.width = 176;
        o.height = 144;
        o.rate = {25, 1};
        o.frames = 30;
        o.audio = 0;
        return Clip("small.mp4", o);
    }

    Outcome Go(QStringList args, bool ownHeadless = false)
    {
        args.prepend("/swi_savfold=" + out + "/");
        args << "/quit";
        return Vidstill(home.path(), args, ownHeadless);
    }

    static std::unique_ptr<QTemporaryDir> clips;
    QTemporaryDir home;
    QString out;
};

std::unique_ptr<QTemporaryDir> VidstillRun::clips;

struct Landing {
    const char *name;
    const char *codec;
    int width, height;
    mkmedia::Rational rate;
    int frames, gop, bframes;
    std::vector<const char *> positions;
};

// Every still lands on the frame its position names, in each container and
// codec, on key frames and mid-GOP, saved as BMP and as JPEG.
TEST_F(VidstillRun, StillIsTheFrameItsNameSays)
{
    const std::vector<Landing> cases = {
        {"h264.mp4", "h264", 320, 240, {25, 1}, 100, 25, 2, {"0:00:01:13", "0:00:03:00", "0:00:02:24"}},
        {"h264.mkv", "h264", 352, 288, {25, 1}, 60, 12, 3, {"0:00:00:17", "0:00:02:05"}},
        {"mpeg4.avi", "mpeg4", 320, 240, {25, 1}, 60, 20, 0, {"0:00:01:03", "0:00:00:20"}},
        {"ntsc.ts", "mpeg2", 320, 240, {30000, 1001}, 90, 15, 2, {"0:00:01:07", "0:00:02:00", "0:00:00:22"}},
        {"mpeg2.mpg", "mpeg2", 352, 288, {25, 1}, 60, 12, 2, {"0:00:01:19", "0:00:00:12"}},
        {"dv.avi", "dv", 720, 576, {25, 1}, 40, -1, -1, {"0:00:01:11", "0:00:00:03"}},
    };
    for (const Landing &c : cases) {
        SCOPED_TRACE(c.name);
        mkmedia::ClipOptions o;
        o.codec = c.codec;
        o.width = c.width;
        o.height = c.height;
        o.rate = c.rate;
        o.frames = c.frames;
        o.gop = c.gop;
        o.bframes = c.bframes;
        const mkmedia::ClipResult clip = Clip(c.name, o);
        ASSERT_TRUE(clip.ok) << clip.error;
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        QStringList args{"/swi_o=" + ClipPath(c.name), "/swi_qual=95"};
        int n = 0;
        for (const char *pos : c.positions)
            args << QString("/swi_iex=%1").arg(n++ % 2) << QString("/swi_StrPos=") + pos << "/swi_g";
        const Outcome r = Go(args);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        QStringList expected;
        n = 0;
        for (const char *pos : c.positions)
            expected << "Vidstill_" + QString(pos).replace(':', '.') + (n++ % 2 ? ".jpg" : ".bmp");
        expected.sort();
        ASSERT_EQ(Files(out), expected);
        for (const char *pos : c.positions) {
            const int frame = FrameOfPosition(pos, clip.rate, clip.frames);
            ASSERT_GE(frame, 0) << pos;
            for (const char *ext : {".bmp", ".jpg"}) {
                const QString still = out + "/Vidstill_" + QString(pos).replace(':', '.') + ext;
                if (QFileInfo::exists(still)) {
                    EXPECT_EQ(IndexInStill(still), frame) << pos << ext;
                }
            }
        }
    }
}

// The aspect setting sizes the saved still: forced 4:3 and 16:9 on a
// 720x576 picture, and the aspect the stream declares when not forced.
TEST_F(VidstillRun, StillSizeFollowsTheAspect)
{
    mkmedia::ClipOptions o;
    o.width = 720;
    o.height = 576;
    o.rate = {25, 1};
    o.frames = 10;
    o.audio = 0;
    o.sar = {16, 11};  // 720x576 shown as 1047x576: wider than tall by 16:9-ish
    const mkmedia::ClipResult clip = Clip("pal_sar.mkv", o);
    ASSERT_TRUE(clip.ok) << clip.error;
    const Outcome r = Go({"/swi_o=" + ClipPath("pal_sar.mkv"), "/swi_addi=1", "/swi_root=far", "/swi_dig=1",
                      "/swi_n=1", "/swi_far=1", "/swi_g", "/swi_far=2", "/swi_g", "/swi_far=0", "/swi_g"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QImage fourThree(out + "/far_1.bmp"), sixteenNine(out + "/far_2.bmp"), declared(out + "/far_3.bmp");
    EXPECT_EQ(fourThree.size(), QSize(720, 540));
    EXPECT_EQ(sixteenNine.size(), QSize(720, 405));
    // Display aspect 720*16 : 576*11, fitted into the 720x576 grab.
    const int declaredHeight = 720 * 576 * 11 / (720 * 16);
    EXPECT_EQ(declared.size(), QSize(720, declaredHeight));
    // Stretched back to the coded size, the picture is still the first frame.
    for (const QImage *img : {&fourThree, &sixteenNine, &declared}) {
        const QImage g = img->convertToFormat(QImage::Format_Grayscale8).scaled(720, 576);
        EXPECT_EQ(mkmedia::ReadFrameIndex(g.constBits(), static_cast<int>(g.bytesPerLine()), g.width(),
                                          g.height()),
                  0);
    }
}

// Numbering, the video's name as root with and without the length limit,
// and a root of our own.
TEST_F(VidstillRun, NamesFollowTheNamingSettings)
{
    mkmedia::ClipOptions o;
    o.width = 176;
    o.height = 144;
    o.rate = {25, 1};
    o.frames = 30;
    o.audio = 0;
    ASSERT_TRUE(Clip("My.Trip.avi", o).ok);
    ASSERT_TRUE(Small().ok);
    const QString trip = ClipPath("My.Trip.avi");

    Outcome r = Go({"/swi_o=" + ClipPath("small.mp4"), "/swi_addi=1", "/swi_n=7", "/swi_dig=4", "/swi_StrPos=0:00:00:05",
                "/swi_g", "/swi_StrPos=0:00:00:09", "/swi_g"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(Files(out), QStringList({"Vidstill_0007.bmp", "Vidstill_0008.bmp"}));
    EXPECT_EQ(IndexInStill(out + "/Vidstill_0007.bmp"), 5);
    EXPECT_EQ(IndexInStill(out + "/Vidstill_0008.bmp"), 9);

    // A number longer than the digits is never cut.
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    r = Go({"/swi_o=" + ClipPath("small.mp4"), "/swi_addi=1", "/swi_n=123", "/swi_dig=2", "/swi_g"});
    EXPECT_EQ(Files(out), QStringList({"Vidstill_123.bmp"}));

    QDir(out).removeRecursively();
    QDir().mkpath(out);
    r = Go({"/swi_o=" + trip, "/swi_fname=1", "/swi_StrPos=0:00:00:03", "/swi_g", "/swi_limit=true",
            "/swi_rootlen=4", "/swi_StrPos=0:00:00:04", "/swi_g", "/swi_rootlen=40", "/swi_StrPos=0:00:00:06",
            "/swi_g", "/swi_fname=0", "/swi_root=Holiday", "/swi_iex=1", "/swi_StrPos=0:00:00:08", "/swi_g"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(Files(out), QStringList({"Holiday_0.00.00.08.jpg", "My.T_0.00.00.04.bmp", "My.Trip_0.00.00.03.bmp",
                                       "My.Trip_0.00.00.06.bmp"}));
    EXPECT_EQ(IndexInStill(out + "/My.T_0.00.00.04.bmp"), 4);
    EXPECT_EQ(IndexInStill(out + "/Holiday_0.00.00.08.jpg"), 8);
}

// Files that cannot be opened end the run with status 1 and one line naming
// the file; nothing is saved.
TEST_F(VidstillRun, UnopenableFileFailsTheRun)
{
    const QString dir = home.path() + "/inputs";
    ASSERT_TRUE(QDir().mkpath(dir + "/a folder.mp4"));
    QFile empty(dir + "/empty.mp4");
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    QFile text(dir + "/notes.mp4");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("these are my notes, not a video\n");
    text.close();
    for (const QString &bad : {dir + "/missing.mp4", dir + "/empty.mp4", dir + "/a folder.mp4", dir + "/notes.mp4"}) {
        SCOPED_TRACE(bad.toStdString());
        // As a plain parameter and through the open switch.
        for (const QString &open : {bad, "/swi_o=" + bad}) {
            const Outcome r = Go({open, "/swi_g"});
            EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
            EXPECT_EQ(r.err.count(bad), 1) << r.err.toStdString();
            EXPECT_TRUE(Files(out).isEmpty()) << Files(out).join(' ').toStdString();
        }
    }
}

// In the program's own headless mode stderr carries the program's reports
// only, the failure on one line, and none of the platform's chatter.
TEST_F(VidstillRun, HeadlessFailureIsOneLine)
{
    const QString missing = home.path() + "/gone.mp4";
    const Outcome r = Go({missing, "/swi_g"}, true);
    EXPECT_EQ(r.exitCode, 1);
    const QStringList lines = r.err.split('\n', Qt::SkipEmptyParts);
    int naming = 0;
    for (const QString &line : lines) {
        naming += line.contains(missing);
        EXPECT_TRUE(line.startsWith("vidstill: ", Qt::CaseInsensitive)) << line.toStdString();
    }
    EXPECT_EQ(naming, 1) << r.err.toStdString();
    EXPECT_TRUE(Files(out).isEmpty());
}

// A still that cannot be written fails the run; a missing folder is not made.
TEST_F(VidstillRun, MissingSaveFolderFailsTheRun)
{
    ASSERT_TRUE(Small().ok);
    const QString nowhere = home.path() + "/no such folder";
    const Outcome r = Vidstill(home.path(),
                           {"/swi_o=" + ClipPath("small.mp4"), "/swi_savfold=" + nowhere + "/", "/swi_g", "/quit"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(nowhere)) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(nowhere));
}

// With confirmation asked for and nobody to answer, an existing still is kept
// byte for byte, the next still is still written, and the run says it failed.
TEST_F(VidstillRun, ExistingStillIsKeptWhenConfirmationIsAsked)
{
    ASSERT_TRUE(Small().ok);
    const QString kept = out + "/Vidstill_0.00.00.10.bmp";
    QFile f(kept);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const QByteArray mine("a picture of mine that must survive");
    f.write(mine);
    f.close();
    Outcome r = Go({"/swi_o=" + ClipPath("small.mp4"), "/swi_ci=1", "/swi_StrPos=0:00:00:10", "/swi_g",
                "/swi_StrPos=0:00:00:11", "/swi_g"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(kept)) << r.err.toStdString();
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), mine);
    f.close();
    EXPECT_EQ(IndexInStill(out + "/Vidstill_0.00.00.11.bmp"), 11);

    // Without confirmation the same still is replaced and the run succeeds.
    r = Go({"/swi_o=" + ClipPath("small.mp4"), "/swi_ci=0", "/swi_StrPos=0:00:00:10", "/swi_g"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(IndexInStill(kept), 10);
}

// A misspelt switch is named on stderr; the rest of the run still happens.
TEST_F(VidstillRun, UnknownSwitchIsReportedAndSkipped)
{
    ASSERT_TRUE(Small().ok);
    const Outcome r = Go({"/swi_o=" + ClipPath("small.mp4"), "/swi_grabb", "/swi_StrPos=0:00:00:21", "/swi_g"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("swi_grabb")) << r.err.toStdString();
    EXPECT_EQ(Files(out), QStringList({"Vidstill_0.00.00.21.bmp"}));
    EXPECT_EQ(IndexInStill(out + "/Vidstill_0.00.00.21.bmp"), 21);
}

// The JPEG quality setting reaches the encoder: the same frame is smaller at
// a low quality, and both are still that frame.
TEST_F(VidstillRun, JpegQualityIsApplied)
{
    ASSERT_TRUE(Small().ok);
    const Outcome r = Go({"/swi_o=" + ClipPath("small.mp4"), "/swi_iex=1", "/swi_addi=1", "/swi_n=1", "/swi_qual=10",
                          "/swi_StrPos=0:00:00:14", "/swi_g", "/swi_qual=95", "/swi_g"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString low = out + "/Vidstill_001.jpg", high = out + "/Vidstill_002.jpg";
    EXPECT_LT(QFileInfo(low).size() * 2, QFileInfo(high).size());
    EXPECT_EQ(IndexInStill(low), 14);
    EXPECT_EQ(IndexInStill(high), 14);
}

// A position past the end lands near the last frame, and the still is
// still the frame its name says.
TEST_F(VidstillRun, PositionPastTheEnd)
{
    const mkmedia::ClipResult clip = Small();
    ASSERT_TRUE(clip.ok);
    const Outcome r = Go({"/swi_o=" + ClipPath("small.mp4"), "/swi_StrPos=0:00:09:00", "/swi_g"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList files = Files(out);
    ASSERT_EQ(files.size(), 1);
    QString pos = files[0].mid(QString("Vidstill_").size());
    pos.chop(4);
    const int frame = FrameOfPosition(pos.replace('.', ':'), clip.rate, clip.frames);
    EXPECT_GE(frame, clip.frames - 2) << pos.toStdString();
    EXPECT_EQ(IndexInStill(out + "/" + files[0]), frame);
}

}  // namespace
