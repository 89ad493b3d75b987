// Every .pas file of scripts/ runs through vidstill-script; its stdout must be
// exactly the file's "// expect: " lines in order, and its exit status the
// "// expect-exit: " value (0 when absent). "// timeout: S" passes --timeout.
#include "common/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

struct Expectation {
    QStringList lines;
    int exitCode = 0;
    QString timeout;
};

Expectation ReadExpectation(const QString &path)
{
    Expectation e;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return e;
    static const QRegularExpression re(QStringLiteral("//\\s*(expect|expect-exit|timeout):\\s?(.*)$"));
    for (const QString &line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        const auto m = re.match(line);
        if (!m.hasMatch())
            continue;
        QString value = m.captured(2);
        if (value.endsWith(QLatin1Char('\r')))
            value.chop(1);
        if (m.captured(1) == QLatin1String("expect"))
            e.lines << value;
        else if (m.captured(1) == QLatin1String("expect-exit"))
            e.exitCode = value.trimmed().toInt();
        else
            e.timeout = value.trimmed();
    }
    return e;
}

std::vector<std::string> ScriptNames()
{
    std::vector<std::string> names;
    for (const QString &n : QDir(QStringLiteral(VIDSTILL_SCRIPTS_DIR)).entryList({QStringLiteral("*.pas")}, QDir::Files))
        names.push_back(n.chopped(4).toStdString());
    return names;
}

class ScriptFile : public ::testing::TestWithParam<std::string> {};

TEST_P(ScriptFile, PrintsWhatItExpects)
{
    const QString tool = ToolsDir() + QStringLiteral("/vidstill-script");
    if (ToolsDir().isEmpty() || !QFile::exists(tool))
        GTEST_SKIP() << "vidstill-script is not built";
    const QString path = QStringLiteral(VIDSTILL_SCRIPTS_DIR "/") + QString::fromStdString(GetParam()) +
                         QStringLiteral(".pas");
    const Expectation e = ReadExpectation(path);
    QStringList args;
    if (!e.timeout.isEmpty())
        args << QStringLiteral("--timeout") << e.timeout;
    args << path;
    QProcess p;
    p.setWorkingDirectory(QStringLiteral(VIDSTILL_SCRIPTS_DIR));
    p.start(tool, args);
    ASSERT_TRUE(p.waitForFinished(60000)) << "the run did not end";
    QString out = QString::fromUtf8(p.readAllStandardOutput());
    if (out.endsWith(QLatin1Char('\n')))
        out.chop(1);
    const QStringList lines = out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
    EXPECT_EQ(lines.join(QLatin1Char('\n')).toStdString(), e.lines.join(QLatin1Char('\n')).toStdString())
        << QString::fromUtf8(p.readAllStandardError()).toStdString();
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), e.exitCode);
}

INSTANTIATE_TEST_SUITE_P(Scripts, ScriptFile, ::testing::ValuesIn(ScriptNames()),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                             std::string n = info.param;
                             for (char &ch : n)
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return n;
                         });

}  // namespace
