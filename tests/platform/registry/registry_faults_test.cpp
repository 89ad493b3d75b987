// What the hive file survives: interrupted writes, writers in two processes at
// once, and a damaged file.
#include "common/TestSupport.h"
#include "platform/registry/RegHive.h"
#include "platform/registry/Registry.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace reg;

namespace {

const QString kHead = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n");

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList temporaries(const TempHive &hive)
{
    return QDir(hive.dir()).entryList({QStringLiteral("HKCU.reg.tmp.*")}, QDir::Files);
}

detail::WriteStep gStopAt;
bool stopAt(detail::WriteStep step)
{
    return step != gStopAt;
}

int gWarnings = 0;
QString gWatchedPath;
void countWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg && message.contains(gWatchedPath))
        ++gWarnings;
}

// Kills the child when it goes, however the test leaves the scope.
struct Killer {
    pid_t pid;
    ~Killer()
    {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
};

int waitExitCode(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(RegistryFaults, WriteStoppedBeforeRenameLeavesOldHive)
{
    TempHive hive;
    ASSERT_TRUE(CreateKey(QStringLiteral("K")));
    ASSERT_TRUE(SetValue(QStringLiteral("K"), QStringLiteral("v"), RegValue::Dword(1)));
    const QByteArray before = hive.readFile();
    for (detail::WriteStep step : {detail::WriteStep::TempWritten, detail::WriteStep::TempSynced}) {
        gStopAt = step;
        detail::SetWriteHook(stopAt);
        EXPECT_FALSE(SetValue(QStringLiteral("K"), QStringLiteral("v"), RegValue::Dword(2)));
        detail::SetWriteHook(nullptr);
        EXPECT_EQ(hive.readFile(), before);
        EXPECT_EQ(QueryValue(QStringLiteral("K"), QStringLiteral("v"))->ToDword(), 1u);
    }
    EXPECT_EQ(temporaries(hive).size(), 1);  // what a crash leaves (older ones are cleared)
    ASSERT_TRUE(SetValue(QStringLiteral("K"), QStringLiteral("v"), RegValue::Dword(2)));
    EXPECT_EQ(QueryValue(QStringLiteral("K"), QStringLiteral("v"))->ToDword(), 2u);
    EXPECT_EQ(temporaries(hive), QStringList());  // cleared by the next writer
}

TEST(RegistryFaults, BatchReportsItsFailedWrite)
{
    TempHive hive;
    ASSERT_TRUE(CreateKey(QStringLiteral("K")));
    {
        Batch batch;
        EXPECT_TRUE(SetValue(QStringLiteral("K"), QStringLiteral("v"), RegValue::Dword(1)));
        EXPECT_TRUE(batch.Commit());
        EXPECT_TRUE(batch.Commit());  // once ended, it keeps its answer
    }
    const QByteArray before = hive.readFile();
    gStopAt = detail::WriteStep::TempSynced;
    detail::SetWriteHook(stopAt);
    {
        Batch outer;
        {
            Batch inner;
            EXPECT_TRUE(SetValue(QStringLiteral("K"), QStringLiteral("v"), RegValue::Dword(2)));
            EXPECT_TRUE(inner.Commit());  // the outer batch writes
        }
        EXPECT_FALSE(outer.Commit());
        EXPECT_FALSE(outer.Commit());
    }
    detail::SetWriteHook(nullptr);
    EXPECT_EQ(hive.readFile(), before);
    EXPECT_EQ(QueryValue(QStringLiteral("K"), QStringLiteral("v"))->ToDword(), 1u);
}

TEST(RegistryFaults, KilledWriterLeavesOldOrNewHive)
{
    TempHive hive;
    ASSERT_TRUE(CreateKey(QStringLiteral("K")));
    uint32_t last = 0;
    for (int round = 0; round < 30; ++round) {
        int wrote[2];
        ASSERT_EQ(pipe(wrote), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Each write sets every value to the same new number; a torn or
            // mixed file would show up as a parse error or mixed numbers.
            for (uint32_t n = last + 1;; ++n) {
                {
                    Batch batch;
                    for (int k = 0; k < 20; ++k)
                        SetValue(QStringLiteral("K"), QStringLiteral("v%1").arg(k), RegValue::Dword(n));
                    SetValue(QStringLiteral("K"), QStringLiteral("pad"), RegValue::Binary(QByteArray(3000 + n % 5, 'x')));
                }
                if (n == last + 1 && write(wrote[1], "w", 1) != 1)
                    _exit(1);
            }
        }
        {
            const Killer killer{pid};
            close(wrote[1]);
            char w;
            ASSERT_EQ(read(wrote[0], &w, 1), 1);  // one whole write done: kill in a later one
            close(wrote[0]);
            usleep(QRandomGenerator::global()->bounded(0, 15000));
        }

        const QStringList names = ValueNames(QStringLiteral("K")).value_or(QStringList{QStringLiteral("?")});
        ASSERT_EQ(LastHiveError(), QString()) << "round " << round;
        ASSERT_EQ(names.size(), 21);
        const uint32_t n = *QueryValue(QStringLiteral("K"), QStringLiteral("v0"))->ToDword();
        for (int k = 1; k < 20; ++k)
            ASSERT_EQ(QueryValue(QStringLiteral("K"), QStringLiteral("v%1").arg(k))->ToDword(), n) << "round " << round;
        ASSERT_GT(n, last);
        last = n;
    }
    ASSERT_TRUE(SetValue(QStringLiteral("K"), QStringLiteral("after"), RegValue::Dword(1)));
    EXPECT_EQ(temporaries(hive), QStringList());
}

TEST(RegistryFaults, TwoProcessesKeepEachOthersKeys)
{
    TempHive hive;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    pid_t pids[2];
    for (int p = 0; p < 2; ++p) {
        pids[p] = fork();
        ASSERT_GE(pids[p], 0);
        if (pids[p] == 0) {
            char go;
            close(start[1]);
            if (read(start[0], &go, 1) != 1)
                _exit(2);
            bool ok = true;
            for (int i = 0; i < 50; ++i)
                ok = CreateKey(QStringLiteral("Software\\P%1\\K%2").arg(p).arg(i)) && ok;
            _exit(ok ? 0 : 1);
        }
    }
    close(start[0]);
    ASSERT_EQ(write(start[1], "gg", 2), 2);  // both start together
    close(start[1]);
    EXPECT_EQ(waitExitCode(pids[0]), 0);
    EXPECT_EQ(waitExitCode(pids[1]), 0);
    EXPECT_EQ(SubKeyNames(QStringLiteral("Software\\P0"))->size(), 50);
    EXPECT_EQ(SubKeyNames(QStringLiteral("Software\\P1"))->size(), 50);
}

TEST(RegistryFaults, MalformedHiveIsReportedOnceAndKeptWhole)
{
    TempHive hive;
    const QString tail = QStringLiteral("\"broken\"=dword:xyz\r\n[HKEY_CURRENT_USER\\Later]\r\n\"v\"=\"1\"\r\n");
    writeBytes(hive.path(), (kHead + QStringLiteral("[HKEY_CURRENT_USER\\K]\r\n\"a\"=\"1\"\r\n") + tail).toUtf8());
    gWatchedPath = hive.path();
    gWarnings = 0;
    const QtMessageHandler previous = qInstallMessageHandler(countWarnings);

    EXPECT_EQ(QueryValue(QStringLiteral("K"), QStringLiteral("a"))->ToString(), QStringLiteral("1"));
    EXPECT_FALSE(KeyExists(QStringLiteral("Later")));  // after the damage
    EXPECT_TRUE(LastHiveError().startsWith(QStringLiteral("line 5:"))) << LastHiveError().toStdString();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(SetValue(QStringLiteral("K"), QStringLiteral("n%1").arg(i), RegValue::Dword(i)));
    ASSERT_TRUE(CreateKey(QStringLiteral("New")));
    qInstallMessageHandler(previous);
    EXPECT_EQ(gWarnings, 1);

    const QString text = hive.readText();
    EXPECT_TRUE(text.endsWith(tail));
    EXPECT_EQ(text.count(tail), 1);
    EXPECT_EQ(ValueNames(QStringLiteral("K"))->size(), 4);
    EXPECT_TRUE(KeyExists(QStringLiteral("New")));
    EXPECT_FALSE(LastHiveError().isEmpty());
}

TEST(RegistryFaults, UnreadableFromTheFirstLineIsCarriedWhole)
{
    TempHive hive;
    const QByteArray garbage("\x01\x02\xFF\xFE binary \x80\n second line");
    writeBytes(hive.path(), garbage);
    EXPECT_EQ(SubKeyNames(QString()), QStringList());
    ASSERT_TRUE(CreateKey(QStringLiteral("K")));
    const QString text = hive.readText();
    EXPECT_TRUE(text.startsWith(kHead + QStringLiteral("[HKEY_CURRENT_USER\\K]\r\n")));
    EXPECT_TRUE(text.endsWith(QString::fromLatin1(garbage)));
    EXPECT_TRUE(hive.readFile().startsWith("\xFF\xFE"));
}
