// The hive file: operations, what is written, batches, import and delete.
#include "common/TestSupport.h"
#include "platform/registry/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace reg;

namespace {

const QString kApp = QStringLiteral("Software\\Vostrel\\Vidstill");

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

std::atomic<int> gWrites{0};
bool countWrites(detail::WriteStep step)
{
    if (step == detail::WriteStep::TempWritten)
        ++gWrites;
    return true;
}

// Counts the hive writes made while it lives.
struct WriteCounter {
    WriteCounter() { gWrites = 0; detail::SetWriteHook(countWrites); }
    ~WriteCounter() { detail::SetWriteHook(nullptr); }
    int count() const { return gWrites; }
};

}  // namespace

TEST(Registry, MissingFileIsEmptyAndReadsCreateNothing)
{
    TempHive hive;
    EXPECT_EQ(HivePath(), hive.path());
    EXPECT_TRUE(KeyExists(QString()));
    EXPECT_FALSE(KeyExists(kApp));
    EXPECT_EQ(QueryValue(kApp, QStringLiteral("ExeName")), std::nullopt);
    EXPECT_EQ(SubKeyNames(QString()), QStringList());
    EXPECT_EQ(ValueNames(kApp), std::nullopt);
    EXPECT_FALSE(QFile::exists(hive.path()));
    EXPECT_FALSE(SetValue(kApp, QStringLiteral("x"), RegValue::Dword(1)));  // no key
    EXPECT_FALSE(DeleteValue(kApp, QStringLiteral("x")));
    EXPECT_FALSE(DeleteKeyTree(kApp));
    EXPECT_FALSE(QFile::exists(hive.path()));
}

TEST(Registry, WritesExactlyTheExpectedFile)
{
    TempHive hive;
    const QString nested = hive.dir() + QStringLiteral("/a/b/HKCU.reg");
    qputenv("VIDSTILL_REGISTRY", QFile::encodeName(nested));
    ASSERT_TRUE(CreateKey(kApp + QStringLiteral("\\ShowForm")));
    ASSERT_TRUE(SetValue(kApp, QStringLiteral("ExeName"), RegValue::String(QStringLiteral("/opt/v/Vidstill"))));
    ASSERT_TRUE(SetValue(kApp, QStringLiteral("Flag"), RegValue::Dword(1)));
    double d = 0.5;
    ASSERT_TRUE(SetValue(kApp, QStringLiteral("Ratio"), RegValue::Binary(QByteArray(reinterpret_cast<char *>(&d), 8))));
    QFile f(nested);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    const QString expected = QStringLiteral(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software]\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Vostrel]\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Vostrel\\Vidstill]\r\n"
        "\"ExeName\"=\"/opt/v/Vidstill\"\r\n"
        "\"Flag\"=dword:00000001\r\n"
        "\"Ratio\"=hex:00,00,00,00,00,00,e0,3f\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Vostrel\\Vidstill\\ShowForm]\r\n\r\n");
    ASSERT_TRUE(bytes.startsWith("\xFF\xFE"));
    EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData() + 2), (bytes.size() - 2) / 2), expected);
    // Export: the header, then the key (as the hive spells it) and its subkeys.
    const qsizetype from = expected.indexOf(u"[HKEY_CURRENT_USER\\Software\\Vostrel]");
    EXPECT_EQ(ExportKey(QStringLiteral("software\\VOSTREL")), expected.left(40) + expected.mid(from));
    EXPECT_EQ(ExportKey(QStringLiteral("Software\\None")), QString());
    EXPECT_EQ(QueryValue(kApp, QStringLiteral("ratio"))->data.size(), 8);
}

TEST(Registry, NamesIgnoreCaseAndKeepTheirCase)
{
    TempHive hive;
    ASSERT_TRUE(CreateKey(QStringLiteral("Software\\Maker\\App")));
    ASSERT_TRUE(CreateKey(QStringLiteral("SOFTWARE\\maker\\app\\Sub")));
    ASSERT_TRUE(SetValue(QStringLiteral("software\\MAKER\\App"), QStringLiteral("Name"), RegValue::String(QStringLiteral("a"))));
    ASSERT_TRUE(SetValue(QStringLiteral("Software\\Maker\\App"), QStringLiteral("NAME"), RegValue::String(QStringLiteral("b"))));
    ASSERT_TRUE(SetValue(QStringLiteral("Software\\Maker\\App"), QString(), RegValue::Dword(3)));
    EXPECT_EQ(SubKeyNames(QStringLiteral("software")), QStringList{QStringLiteral("Maker")});
    EXPECT_EQ(ValueNames(QStringLiteral("software\\maker\\app")), QStringList({QStringLiteral("Name"), QString()}));
    EXPECT_EQ(QueryValue(QStringLiteral("Software\\Maker\\App"), QStringLiteral("name"))->ToString(), QStringLiteral("b"));
    EXPECT_FALSE(DeleteKey(QStringLiteral("Software\\Maker\\App")));  // has a subkey
    EXPECT_TRUE(DeleteKey(QStringLiteral("Software\\Maker\\App\\SUB")));
    EXPECT_TRUE(DeleteValue(QStringLiteral("Software\\Maker\\App"), QStringLiteral("nAmE")));
    EXPECT_EQ(ValueNames(QStringLiteral("Software\\Maker\\App")), QStringList{QString()});
    // Names that a line of the file could not hold are refused.
    EXPECT_FALSE(CreateKey(QStringLiteral("Software\\a\nb")));
    EXPECT_FALSE(SetValue(QStringLiteral("Software"), QStringLiteral("x\ry"), RegValue::Dword(1)));
}

TEST(Registry, DeletesApplicationThenEmptyMakerKey)
{
    TempHive hive;
    ASSERT_TRUE(CreateKey(kApp + QStringLiteral("\\ShowForm\\VideoDecoders\\dc0")));
    ASSERT_TRUE(CreateKey(kApp + QStringLiteral("\\ScriptForm")));
    ASSERT_TRUE(DeleteKeyTree(kApp));
    EXPECT_FALSE(KeyExists(kApp));
    EXPECT_EQ(SubKeyNames(QStringLiteral("Software\\Vostrel")), QStringList());
    EXPECT_TRUE(DeleteKey(QStringLiteral("Software\\Vostrel")));
    EXPECT_EQ(SubKeyNames(QStringLiteral("Software")), QStringList());
}

TEST(Registry, SeesChangesMadeByOthers)
{
    TempHive hive;
    ASSERT_TRUE(CreateKey(QStringLiteral("K")));
    ASSERT_TRUE(SetValue(QStringLiteral("K"), QStringLiteral("v"), RegValue::String(QStringLiteral("1"))));
    EXPECT_EQ(QueryValue(QStringLiteral("K"), QStringLiteral("v"))->ToString(), QStringLiteral("1"));
    // Same size, same second: only the content tells the difference.
    QByteArray bytes = hive.readFile();
    bytes.replace(QByteArray("1\0\"\0", 4), QByteArray("2\0\"\0", 4));
    writeBytes(hive.path(), bytes);
    EXPECT_EQ(QueryValue(QStringLiteral("K"), QStringLiteral("v"))->ToString(), QStringLiteral("2"));
    // A hand-written UTF-8 file without a byte-order mark reads too.
    writeBytes(hive.path(), "[HKEY_CURRENT_USER\\K]\n\"v\"=\"\xC3\xA9\"\n");
    EXPECT_EQ(QueryValue(QStringLiteral("K"), QStringLiteral("v"))->ToString(), QStringLiteral("é"));
    EXPECT_EQ(LastHiveError(), QString());
}

TEST(Registry, HivePathFollowsEnvironment)
{
    TempHive hive;
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
    const QByteArray home = qgetenv("HOME");
    qunsetenv("VIDSTILL_REGISTRY");
    qputenv("XDG_CONFIG_HOME", "/x/config");
    EXPECT_EQ(HivePath(), QStringLiteral("/x/config/Vostrel/registry/HKCU.reg"));
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", "/home/u");
    EXPECT_EQ(HivePath(), QStringLiteral("/home/u/.config/Vostrel/registry/HKCU.reg"));
    qputenv("XDG_CONFIG_HOME", xdg);
    qputenv("HOME", home);
}

TEST(Registry, BatchWritesOnceAndSeesItsOwnChanges)
{
    TempHive hive;
    WriteCounter writes;
    {
        Batch outer;
        ASSERT_TRUE(CreateKey(kApp));
        {
            Batch inner;
            for (int i = 0; i < 200; ++i)
                ASSERT_TRUE(SetValue(kApp, QStringLiteral("v%1").arg(i), RegValue::Dword(i)));
        }
        EXPECT_EQ(QueryValue(kApp, QStringLiteral("v199"))->ToDword(), 199u);
        EXPECT_FALSE(QFile::exists(hive.path()));
        // Another thread sees the file, not this thread's pending changes, and
        // its own change is kept when the batch is written.
        std::thread([] {
            EXPECT_FALSE(KeyExists(kApp));
            EXPECT_TRUE(CreateKey(QStringLiteral("Other")));
        }).join();
        EXPECT_EQ(writes.count(), 1);
    }
    EXPECT_EQ(writes.count(), 2);
    EXPECT_EQ(ValueNames(kApp)->size(), 200);
    EXPECT_TRUE(KeyExists(QStringLiteral("other")));
}

TEST(Registry, ThreadsDoNotLoseEachOthersValues)
{
    TempHive hive;
    ASSERT_TRUE(CreateKey(QStringLiteral("T")));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 25; ++i)
                SetValue(QStringLiteral("T"), QStringLiteral("t%1_%2").arg(t).arg(i), RegValue::Dword(i));
        });
    }
    for (std::thread &th : threads)
        th.join();
    EXPECT_EQ(ValueNames(QStringLiteral("T"))->size(), 100);
}

TEST(Registry, ImportMergesDeletesAndSkipsOtherRoots)
{
    TempHive hive;
    ASSERT_TRUE(CreateKey(QStringLiteral("Software\\LBV\\Old\\Deep")));
    ASSERT_TRUE(CreateKey(QStringLiteral("Software\\VOS")));
    ASSERT_TRUE(SetValue(QStringLiteral("Software\\VOS"), QStringLiteral("gone"), RegValue::Dword(1)));
    const QString file = hive.dir() + QStringLiteral("/LBV.reg");
    const QString text = QStringLiteral(
        "Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_CURRENT_USER\\Software\\LBV\\Old]\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\X]\r\n\"a\"=\"1\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\LBV\\Video]\r\n\"Formats\"=hex(7):61,00,00,00,00,00\r\n"
        "[HKEY_CURRENT_USER\\Software\\VOS]\r\n\"gone\"=-\r\n\"kept\"=dword:0000000a\r\n");
    QByteArray utf16("\xFF\xFE");
    utf16 += QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    writeBytes(file, utf16);
    QString error;
    QStringList notes;
    ASSERT_TRUE(ImportFile(file, &error, &notes)) << error.toStdString();
    EXPECT_EQ(notes.size(), 1);
    EXPECT_FALSE(KeyExists(QStringLiteral("Software\\LBV\\Old")));
    EXPECT_EQ(QueryValue(QStringLiteral("Software\\LBV\\Video"), QStringLiteral("formats"))->type, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(ValueNames(QStringLiteral("Software\\VOS")), QStringList{QStringLiteral("kept")});

    // reg delete KEY /F
    EXPECT_TRUE(DeleteKeyCommand(QStringLiteral("hkcu\\Software\\LBV")));
    EXPECT_TRUE(DeleteKeyCommand(QStringLiteral("HKEY_CURRENT_USER\\Software\\VOS")));
    EXPECT_FALSE(DeleteKeyCommand(QStringLiteral("HKCU\\Software\\VOS")));
    EXPECT_FALSE(DeleteKeyCommand(QStringLiteral("HKLM\\Software")));
    EXPECT_FALSE(DeleteKeyCommand(QStringLiteral("HKCU")));
    EXPECT_EQ(SubKeyNames(QStringLiteral("Software")), QStringList());
}

TEST(Registry, ImportRefusesBadFilesWhole)
{
    TempHive hive;
    const QString file = hive.dir() + QStringLiteral("/bad.reg");
    QString error;
    EXPECT_FALSE(ImportFile(hive.dir() + QStringLiteral("/missing.reg"), &error));
    EXPECT_FALSE(error.isEmpty());
    writeBytes(file, "[HKEY_CURRENT_USER\\A]\n");
    EXPECT_FALSE(ImportFile(file, &error));  // no header
    writeBytes(file, "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=dword:zz\n");
    EXPECT_FALSE(ImportFile(file, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("line 3"))) << error.toStdString();
    EXPECT_FALSE(KeyExists(QStringLiteral("A")));
}

TEST(Registry, UnreadableHiveIsNeverReplaced)
{
    TempHive hive;
    ASSERT_TRUE(QDir().mkpath(hive.path()));  // a folder where the file should be
    EXPECT_FALSE(CreateKey(QStringLiteral("K")));
    EXPECT_FALSE(LastHiveError().isEmpty());
    EXPECT_TRUE(QFileInfo(hive.path()).isDir());
}
