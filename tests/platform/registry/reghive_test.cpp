// The .reg parser and writer: text in, canonical text out.
#include "platform/registry/RegHive.h"

#include <gtest/gtest.h>

using namespace reg;

namespace {

const QString kHead = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n");

// Lines joined with CR LF, each one ended.
QString crlf(std::initializer_list<const char *> lines)
{
    QString out;
    for (const char *line : lines)
        out += QString::fromUtf8(line) + QStringLiteral("\r\n");
    return out;
}

QString canonical(const QString &text)
{
    return HiveToText(HiveFromText(text));
}

struct Case {
    const char *what;
    const char *input;     // \n line ends
    const char *expected;  // canonical text after the header, \n line ends
};

const Case kCases[] = {
    {"escapes", "[HKEY_CURRENT_USER\\K]\n\"a\\\"b\"=\"x\\\\y\\\"z\"\n",
     "[HKEY_CURRENT_USER\\K]\n\"a\\\"b\"=\"x\\\\y\\\"z\"\n\n"},
    {"unknown escape is a backslash", "[HKEY_CURRENT_USER\\K]\n\"p\"=\"C:\\temp\"\n",
     "[HKEY_CURRENT_USER\\K]\n\"p\"=\"C:\\\\temp\"\n\n"},
    {"default value", "REGEDIT4\n; comment\n\n[HKEY_CURRENT_USER\\K]\n\"\"=\"d\"\n@=\"e\"\n",
     "[HKEY_CURRENT_USER\\K]\n@=\"e\"\n\n"},
    {"dword", "[HKEY_CURRENT_USER\\K]\n\"a\"=dword:1\n\"b\"=DWORD:FFFFFFFF\n",
     "[HKEY_CURRENT_USER\\K]\n\"a\"=dword:00000001\n\"b\"=dword:ffffffff\n\n"},
    {"continuation", "[HKEY_CURRENT_USER\\K]\n  \"b\"=hex:01,02,\\\n    0A,\\\n  3\n\"e\"=hex:\n",
     "[HKEY_CURRENT_USER\\K]\n\"b\"=hex:01,02,0a,03\n\"e\"=hex:\n\n"},
    {"hex(N) types",
     "[HKEY_CURRENT_USER\\K]\n\"x\"=hex(2):25,00,00,00\n\"m\"=hex(7):61,00,00,00,00,00\n"
     "\"q\"=hex(b):01,00,00,00,00,00,00,00\n\"n\"=hex(0):\n\"s\"=hex(1):61,00,00,00\n"
     "\"d\"=hex(4):02,00,00,00\n\"d3\"=hex(4):02,00,00\n\"b\"=hex(3):ff\n",
     "[HKEY_CURRENT_USER\\K]\n\"x\"=hex(2):25,00,00,00\n\"m\"=hex(7):61,00,00,00,00,00\n"
     "\"q\"=hex(b):01,00,00,00,00,00,00,00\n\"n\"=hex(0):\n\"s\"=\"a\"\n"
     "\"d\"=dword:00000002\n\"d3\"=hex(4):02,00,00\n\"b\"=hex:ff\n\n"},
    {"case-insensitive keys and names",
     "[HKEY_CURRENT_USER\\Abc\\Def]\n\"Val\"=\"1\"\n[hkey_current_user\\ABC\\def]\n\"VAL\"=\"2\"\n",
     "[HKEY_CURRENT_USER\\Abc]\n\n[HKEY_CURRENT_USER\\Abc\\Def]\n\"Val\"=\"2\"\n\n"},
    {"subkeys sorted, values in order", "[HKEY_CURRENT_USER\\b]\n\"z\"=\"\"\n\"a\"=\"\"\n[HKEY_CURRENT_USER\\A]\n",
     "[HKEY_CURRENT_USER\\A]\n\n[HKEY_CURRENT_USER\\b]\n\"z\"=\"\"\n\"a\"=\"\"\n\n"},
    {"root values", "[HKEY_CURRENT_USER]\n\"r\"=\"1\"\n", "[HKEY_CURRENT_USER]\n\"r\"=\"1\"\n\n"},
};

}  // namespace

TEST(RegHive, ParsesAndWritesCanonicalText)
{
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.what);
        const RegHive hive = HiveFromText(QString::fromUtf8(c.input));
        EXPECT_EQ(hive.error, QString());
        const QString expected = kHead + QString::fromUtf8(c.expected).replace(u'\n', QStringLiteral("\r\n"));
        EXPECT_EQ(HiveToText(hive), expected);
        EXPECT_EQ(canonical(expected), expected);
    }
}

TEST(RegHive, StringsThatTextCannotCarryStayExact)
{
    // The preferences store writes strings with an odd byte count; multi-line
    // script texts hold line breaks. Both must read back byte for byte.
    RegHive hive;
    RegKey &key = hive.create({QStringLiteral("K")});
    const RegValue odd{REG_SZ, QByteArray("a\0b\0\0", 5)};
    const RegValue lines = RegValue::String(QStringLiteral("begin\r\nend."));
    const RegValue empty{REG_SZ, QByteArray(1, '\0')};
    key.setValue(QStringLiteral("odd"), odd);
    key.setValue(QStringLiteral("lines"), lines);
    key.setValue(QStringLiteral("empty"), empty);
    key.setValue(QStringLiteral("plain"), RegValue::String(QStringLiteral("é ü \"x\"")));
    const QString text = HiveToText(hive);
    EXPECT_TRUE(text.contains(QStringLiteral("\"odd\"=hex(1):61,00,62,00,00\r\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"plain\"=\"é ü \\\"x\\\"\"\r\n")));
    EXPECT_EQ(HiveFromText(text), hive);
    EXPECT_EQ(odd.ToString(), QStringLiteral("ab"));
    EXPECT_EQ(empty.ToString(), QString());
}

TEST(RegHive, LongBinaryWrapsAndReadsBack)
{
    RegHive hive;
    hive.create({QStringLiteral("K")}).setValue(QStringLiteral("blob"), RegValue::Binary(QByteArray(300, '\x5a')));
    const QString text = HiveToText(hive);
    for (QStringView line : QStringView(text).split(u'\n'))
        EXPECT_LE(line.size(), 82);
    EXPECT_TRUE(text.contains(QStringLiteral(",\\\r\n  5a,")));
    EXPECT_EQ(HiveFromText(text), hive);
}

TEST(RegHive, MalformedLineKeepsValidPartAndRemainder)
{
    struct Bad {
        const char *what;
        const char *line;
    } bad[] = {
        {"garbage", "this is not registry text"},
        {"long dword", "\"d\"=dword:123456789"},
        {"bad hex", "\"h\"=hex:1,zz"},
        {"unterminated string", "\"s\"=\"abc"},
        {"string ends in a backslash", "\"s\"=\"C:\\\""},
        {"trailing text", "\"s\"=\"a\" x"},
        {"unknown type", "\"s\"=qword:1"},
        {"key deletion", "[-HKEY_CURRENT_USER\\K]"},
        {"value deletion", "\"v\"=-"},
        {"other root", "[HKEY_LOCAL_MACHINE\\Software]"},
        {"empty key name", "[HKEY_CURRENT_USER\\a\\\\b]"},
        {"open bracket", "[HKEY_CURRENT_USER\\a"},
        {"cut continuation", "\"h\"=hex:01,\\"},
    };
    for (const Bad &b : bad) {
        SCOPED_TRACE(b.what);
        const QString rest = QString::fromUtf8(b.line) + QStringLiteral("\r\n\"late\"=\"x\"\r\n");
        const QString text = kHead + crlf({"[HKEY_CURRENT_USER\\K]", "\"ok\"=\"1\""}) + rest;
        const RegHive hive = HiveFromText(text);
        EXPECT_TRUE(hive.error.startsWith(QStringLiteral("line 5:"))) << hive.error.toStdString();
        EXPECT_EQ(hive.remainder, rest);
        ASSERT_NE(hive.find({QStringLiteral("K")}), nullptr);
        EXPECT_EQ(hive.find({QStringLiteral("K")})->values.size(), 1u);
        // Written back: valid part, then the rest verbatim; and stable.
        const QString written = HiveToText(hive);
        EXPECT_TRUE(written.endsWith(rest));
        EXPECT_EQ(HiveFromText(written).root, hive.root);
        EXPECT_EQ(HiveFromText(written).remainder, rest);
        EXPECT_EQ(canonical(written), written);
    }
}

TEST(RegHive, ValueBeforeKeyAndMissingHeaderStayStable)
{
    for (const char *text : {"\"v\"=\"1\"\n[HKEY_CURRENT_USER\\K]\n", "\x01\x02 binary\n[HKEY_CURRENT_USER\\K]\n"}) {
        const RegHive hive = HiveFromText(QString::fromLatin1(text));
        EXPECT_EQ(hive.remainder, QString::fromLatin1(text));
        EXPECT_EQ(canonical(HiveToText(hive)), HiveToText(hive));
    }
    // No header is not an error for the hive: a hand-made file still reads.
    EXPECT_EQ(HiveFromText(u"[HKEY_CURRENT_USER\\K]\n").error, QString());
}

TEST(RegHive, ImportModeParsesDeletionsAndOtherRoots)
{
    const QString text = QStringLiteral("REGEDIT4\n[-HKEY_CURRENT_USER\\Old]\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"1\"\n"
                                        "[HKEY_CURRENT_USER\\K]\n\"gone\"=-\n\"new\"=\"2\"\n");
    const RegParse parse = ParseRegText(text, ParseMode::Import);
    ASSERT_TRUE(parse.hasHeader);
    ASSERT_EQ(parse.error, QString());
    RegHive hive = HiveFromText(kHead + crlf({"[HKEY_CURRENT_USER\\Old\\Sub]", "[HKEY_CURRENT_USER\\K]", "\"gone\"=\"x\""}));
    EXPECT_EQ(ApplySections(hive, parse.sections), 1);
    EXPECT_EQ(hive.find({QStringLiteral("Old")}), nullptr);
    const RegKey *k = hive.find({QStringLiteral("k")});
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->value(u"gone"), nullptr);
    EXPECT_EQ(*k->value(u"NEW"), RegValue::String(QStringLiteral("2")));
}

TEST(RegHive, DecodesByteOrderMarks)
{
    const QString text = QStringLiteral("REGEDIT4\n\"é\"\n");
    QByteArray be("\xFE\xFF");
    for (QChar c : text)
        be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
    EXPECT_EQ(DecodeRegBytes(EncodeRegText(text)), text);
    EXPECT_EQ(DecodeRegBytes(be), text);
    EXPECT_EQ(DecodeRegBytes("\xEF\xBB\xBF" + text.toUtf8()), text);
    EXPECT_EQ(DecodeRegBytes(text.toUtf8()), text);
    EXPECT_EQ(DecodeRegBytes(text.toLatin1()), text);  // not UTF-8: Latin-1
    EXPECT_TRUE(EncodeRegText(u"a").startsWith("\xFF\xFE" "a\0"));
    // Lone surrogates survive the round trip through the file encoding.
    const QString odd = QString(QChar(0xD800)) + u'x';
    EXPECT_EQ(DecodeRegBytes(EncodeRegText(odd)), odd);
    // A cut-off last byte leaves a visible mark in the hive text.
    EXPECT_EQ(DecodeRegBytes(EncodeRegText(u"ab") + 'c'), QStringLiteral("ab\uFFFD"));
}

TEST(RegHive, Utf16CodeUnitsBothWays)
{
    bool oddByte = true;
    EXPECT_EQ(DecodeUtf16(QByteArray("a\0\x00\xD8", 4), false, &oddByte), QString(u'a') + QChar(0xD800));
    EXPECT_FALSE(oddByte);
    EXPECT_EQ(DecodeUtf16(QByteArray("\0a\xD8\x00\x7F", 5), true, &oddByte), QString(u'a') + QChar(0xD800));
    EXPECT_TRUE(oddByte);
    EXPECT_EQ(DecodeUtf16(QByteArrayView(), false, &oddByte), QString());
    EXPECT_FALSE(oddByte);
    EXPECT_EQ(EncodeUtf16LE(QString(u'\u00E9') + QChar(0xDC00)), QByteArray("\xE9\0\0\xDC", 4));
}

TEST(RegHive, ValueHelpers)
{
    EXPECT_EQ(RegValue::String(QStringLiteral("ab")).data, QByteArray("a\0b\0\0\0", 6));
    EXPECT_EQ(RegValue::Dword(0x01020304).data, QByteArray("\x04\x03\x02\x01", 4));
    EXPECT_EQ(RegValue::Dword(7).ToDword(), 7u);
    EXPECT_EQ(RegValue::Binary("abc").ToDword(), std::nullopt);
    EXPECT_EQ(RegValue::Dword(7).ToString(), QString());
    EXPECT_EQ(SplitKeyPath(u"\\a\\\\b\\"), QStringList({QStringLiteral("a"), QStringLiteral("b")}));
}
