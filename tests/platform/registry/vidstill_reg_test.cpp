// The vidstill-reg command-line tool, run as a program.
#include "common/TestSupport.h"
#include "platform/registry/Registry.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int code = -1;
    QString out;
    QString err;
};

class VidstillReg : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ToolsDir().isEmpty())
            GTEST_SKIP() << "VIDSTILL_TOOLS_DIR is not set";
    }

    ToolRun reg(const QStringList &args)
    {
        QProcess p;
        p.start(ToolsDir() + QStringLiteral("/vidstill-reg"), args);  // inherits VIDSTILL_REGISTRY
        p.waitForFinished(30000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }

    // The tool failed the way it should: exit code 1, one ERROR line.
    static void expectError(const ToolRun &r)
    {
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("ERROR: "))) << r.err.toStdString();
        EXPECT_EQ(r.err.count(u'\n'), 1);
    }

    TempHive hive;
};

const QString kKey = QStringLiteral("HKCU\\Software\\T");

}  // namespace

TEST_F(VidstillReg, AddAndQueryLikeReg)
{
    EXPECT_EQ(reg({"add", kKey, "/v", "s", "/d", "some text"}).code, 0);
    EXPECT_EQ(reg({"add", kKey, "/v", "d", "/t", "REG_DWORD", "/d", "42"}).code, 0);
    EXPECT_EQ(reg({"add", kKey, "/v", "h", "/t", "reg_dword", "/d", "0xFFFFFFFF"}).code, 0);
    EXPECT_EQ(reg({"add", kKey, "/v", "b", "/t", "REG_BINARY", "/d", "00ff10"}).code, 0);
    EXPECT_EQ(reg({"add", kKey, "/ve", "/d", "def"}).code, 0);
    EXPECT_EQ(reg({"add", "HKEY_CURRENT_USER\\Software\\T\\Sub", "/v", "m", "/t", "REG_MULTI_SZ", "/d", "a\\0b"}).code, 0);

    const ToolRun q = reg({"query", "hkcu\\software\\t"});
    EXPECT_EQ(q.code, 0);
    EXPECT_EQ(q.out, QStringLiteral("\nHKEY_CURRENT_USER\\software\\t\n"
                                    "    s    REG_SZ    some text\n"
                                    "    d    REG_DWORD    0x2a\n"
                                    "    h    REG_DWORD    0xffffffff\n"
                                    "    b    REG_BINARY    00FF10\n"
                                    "    (Default)    REG_SZ    def\n"
                                    "\nHKEY_CURRENT_USER\\software\\t\\Sub\n"));
    EXPECT_EQ(reg({"query", kKey, "/v", "D"}).out,
              QStringLiteral("\nHKEY_CURRENT_USER\\Software\\T\n    d    REG_DWORD    0x2a\n"));
    EXPECT_TRUE(reg({"query", kKey, "/s"}).out.endsWith(
        QStringLiteral("\nHKEY_CURRENT_USER\\Software\\T\\Sub\n    m    REG_MULTI_SZ    a\\0b\n")));
    // What the tool wrote is what the library reads.
    EXPECT_EQ(reg::QueryValue(QStringLiteral("Software\\T"), QStringLiteral("b")), reg::RegValue::Binary(QByteArray("\x00\xff\x10", 3)));
}

TEST_F(VidstillReg, NeverOverwritesOrDeletesWithoutF)
{
    ASSERT_EQ(reg({"add", kKey, "/v", "s", "/d", "one"}).code, 0);
    const ToolRun again = reg({"add", kKey, "/v", "s", "/d", "two"});
    expectError(again);
    EXPECT_TRUE(again.err.contains(QStringLiteral("/f")));
    EXPECT_EQ(reg::QueryValue(QStringLiteral("Software\\T"), QStringLiteral("s"))->ToString(), QStringLiteral("one"));
    EXPECT_EQ(reg({"add", kKey, "/v", "s", "/d", "two", "/f"}).code, 0);
    EXPECT_EQ(reg::QueryValue(QStringLiteral("Software\\T"), QStringLiteral("s"))->ToString(), QStringLiteral("two"));

    expectError(reg({"delete", kKey}));
    EXPECT_TRUE(reg::KeyExists(QStringLiteral("Software\\T")));
    EXPECT_EQ(reg({"delete", kKey, "/v", "s", "/f"}).code, 0);
    EXPECT_EQ(reg::ValueNames(QStringLiteral("Software\\T")), QStringList());
    EXPECT_EQ(reg({"delete", kKey, "/F"}).code, 0);
    EXPECT_FALSE(reg::KeyExists(QStringLiteral("Software\\T")));
}

TEST_F(VidstillReg, ReportsErrorsOnOneLine)
{
    expectError(reg({"query", kKey}));                                  // missing key
    expectError(reg({"query", "HKLM\\Software"}));                      // other root
    expectError(reg({"add", kKey, "/v", "d", "/t", "REG_DWORD", "/d", "4294967296"}));
    expectError(reg({"add", kKey, "/v", "b", "/t", "REG_BINARY", "/d", "0g"}));
    expectError(reg({"add", kKey, "/v", "x", "/t", "REG_FOO"}));
    expectError(reg({"delete", kKey, "/f"}));
    expectError(reg({"import", hive.dir() + QStringLiteral("/missing.reg")}));
    EXPECT_FALSE(reg::KeyExists(QStringLiteral("Software\\T")));

    const ToolRun bad = reg({"frobnicate"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_TRUE(bad.err.startsWith(QStringLiteral("ERROR: ")));
    EXPECT_TRUE(bad.err.contains(QStringLiteral("Usage:")));
    const ToolRun help = reg({"/?"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage:")));
}

TEST_F(VidstillReg, ExportThenImportRestoresTheKey)
{
    ASSERT_EQ(reg({"add", kKey + QStringLiteral("\\Sub"), "/v", "d", "/t", "REG_DWORD", "/d", "7"}).code, 0);
    ASSERT_EQ(reg({"add", kKey, "/v", "s", "/d", "x\\\"y"}).code, 0);
    const QString file = hive.dir() + QStringLiteral("/out.reg");  // starts with "/": not a switch
    ASSERT_EQ(reg({"export", kKey, file}).code, 0);
    expectError(reg({"export", kKey, file}));  // exists, no /y
    EXPECT_EQ(reg({"export", kKey, file, "/y"}).code, 0);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().startsWith("\xFF\xFE"));
    const QString before = reg({"query", kKey, "/s"}).out;

    ASSERT_EQ(reg({"delete", kKey, "/f"}).code, 0);
    EXPECT_EQ(reg({"import", file}).code, 0);
    EXPECT_EQ(reg({"query", kKey, "/s"}).out, before);
}
