// `vidstill-probe decoders`: the system and private decoder records, one line
// each, from the private folder the build makes or one given, and clean
// failures on bad options.
#include "ProbeSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace probetest;

const QStringList kPrivateLines = {
    "private\tPrivate ffdshow Video decoder\t{04FE9017-F873-410E-871E-AB91661A4EF7}\tok",
    "private\tPrivate ffdshow Audio decoder\t{0F40E1E5-4F79-4988-B1A9-CC98794E6B55}\tok",
    "private\tPrivate LAV Source Splitter\t{B98D13E7-55DB-4385-A33D-09FD1BA26338}\tok",
    "private\tPrivate LAV Video Decoder\t{EE30215D-164F-4A92-A4EB-9D4C13390F9F}\tok",
    "private\tPrivate LAV Audio Decoder\t{E8E73B6B-4CB3-44A4-BE99-4F7BCB96E491}\tok",
};

QString PrivateDir()
{
    return QDir(ToolsDir() + "/../bin").canonicalPath();
}

} // namespace

TEST(ProbeDecoders, ListsSystemThenPrivateRecords)
{
    for (const QStringList &args : {QStringList{"decoders"}, QStringList{"decoders", "--private", PrivateDir()}}) {
        SCOPED_TRACE(qPrintable(args.join(' ')));
        const ProbeRun r = Probe(args);
        ASSERT_EQ(r.exitCode, 0) << qPrintable(r.err);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 9) << qPrintable(r.out);
        EXPECT_EQ(lines[0], "system\tVidstill Video Decoder\t{5A1D0C01-7E3B-4C52-9B61-2F10D43A8801}\tok");
        EXPECT_EQ(lines[1], "system\tVidstill Video Decoder (single thread)\t{5A1D0C01-7E3B-4C52-9B61-2F10D43A8802}\tok");
        EXPECT_EQ(lines[2], "system\tVidstill Audio Decoder\t{5A1D0C01-7E3B-4C52-9B61-2F10D43A8803}\tok");
        EXPECT_EQ(lines[3], "system\tDTV-DVD Video Decoder\t{212690FB-83E5-4526-8FD7-74478B7939CD}\tok");
        EXPECT_EQ(lines.mid(4), kPrivateLines);
    }
}

TEST(ProbeDecoders, AMissingModuleIsNoBaseFilter)
{
    QTemporaryDir dir;
    for (const char *file : {"LAV/LAVSplitter.ax", "LAV/LAVVideo.ax", "ffdshow/ffdshow.ax"}) {
        QDir().mkpath(QFileInfo(dir.filePath(file)).path());
        ASSERT_TRUE(QFile::copy(PrivateDir() + "/" + file, dir.filePath(file)));
    }
    const ProbeRun r = Probe({"decoders", "--private", dir.path()});
    ASSERT_EQ(r.exitCode, 0) << qPrintable(r.err);
    QStringList expected = kPrivateLines;
    expected[4] = "private\tNo BaseFilter\t{00000000-0000-0000-0000-000000000000}\tfailed";
    EXPECT_EQ(r.out.split('\n', Qt::SkipEmptyParts).mid(4), expected);
    EXPECT_TRUE(r.err.contains("LAVAudio.ax")) << qPrintable(r.err);
}

TEST(ProbeDecoders, BadOptionsAndFoldersFailWithOneLine)
{
    QTemporaryDir dir;
    const struct {
        QStringList args;
        const char *message;
    } cases[] = {
        {{"decoders", "--bogus", "x"}, "unknown option for decoders: --bogus"},
        {{"decoders", "--private"}, "missing value for --private"},
        {{"decoders", "--private", dir.filePath("none")}, "not a folder: "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(qPrintable(c.args.join(' ')));
        const ProbeRun r = Probe(c.args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.out.isEmpty()) << qPrintable(r.out);
        EXPECT_EQ(r.err.count('\n'), 1) << qPrintable(r.err);
        EXPECT_TRUE(r.err.startsWith(QString("vidstill-probe: ") + c.message)) << qPrintable(r.err);
    }
    const ProbeRun usage = Probe({});
    EXPECT_EQ(usage.exitCode, 1);
    EXPECT_TRUE(usage.err.contains("decoders [--private DIR]")) << qPrintable(usage.err);
}
