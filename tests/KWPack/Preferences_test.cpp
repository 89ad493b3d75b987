// The preferences stores and the component without a window: what each store
// writes, value by value, and how the modes find and remove each other's data.
#include "KWPack/uActionText.h"
#include "KWPack/uPreferences.h"
#include "platform/registry/Registry.h"
#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <limits>

#include <cfloat>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray Utf8File(const QString &text)
{
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QByteArray Utf16LE(const QString &text)
{
    QByteArray out("\xFF\xFE", 2);
    for (QChar c : text) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

const QString kKey = QStringLiteral("Software\\Vostrel\\Vidstill");

}  // namespace

// ---------------------------------------------------------------- ini text

TEST(IniPreferences, EncodesUtf16LEWithBomAndCrLfAfterEveryLine)
{
    TIniPreferencesMan ini{QString(), QByteArray()};
    EXPECT_EQ(ini.Lines(), QStringList{"[]"});
    ASSERT_TRUE(ini.WriteString("Name", QString::fromUtf8("Dé")));
    EXPECT_EQ(ini.Encode(), Utf16LE(QString::fromUtf8("[]\r\nName=Dé\r\n")));
}

TEST(IniPreferences, DecodesEveryByteOrderMarkAndLineEnding)
{
    const QStringList expected{"[]", "a=1", "", "[S]", "b=\u00e9"};
    EXPECT_EQ(TIniPreferencesMan::Decode(Utf16LE("[]\r\na=1\r\n\r\n[S]\r\nb=\u00e9\r\n")), expected);
    QByteArray be("\xFE\xFF", 2);
    for (QChar c : QString("[]\na=1\r\rn[S]\nb=\u00e9"))
        be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
    EXPECT_EQ(TIniPreferencesMan::Decode(be), (QStringList{"[]", "a=1", "", "n[S]", "b=\u00e9"}));
    EXPECT_EQ(TIniPreferencesMan::Decode(Utf8File("[]\na=1\n\r\n[S]\rb=\u00e9")), expected);
    // No mark: the system code page, or Latin-1 when the bytes are not valid in it.
    EXPECT_EQ(TIniPreferencesMan::Decode("[]\r\na=1\r\n\r\n[S]\r\nb=\xE9"), expected);
    EXPECT_EQ(TIniPreferencesMan::Decode(QByteArray()), QStringList());
    EXPECT_EQ(TIniPreferencesMan::Decode("\r\n"), QStringList{""});
}

// ---------------------------------------------------------------- ini sections

TEST(IniPreferences, SectionsCarryTheirFullPathAndAreAppended)
{
    TIniPreferencesMan ini{QString(), QByteArray()};
    ASSERT_TRUE(ini.WriteString("Version", "v1"));
    ASSERT_TRUE(ini.OpenKey("ShowForm", false));  // always creates
    ASSERT_TRUE(ini.WriteInteger("Volume", 5000));
    ASSERT_TRUE(ini.OpenKey("VideoDecoders", true));
    ASSERT_TRUE(ini.OpenKey("dc0", true));
    ASSERT_TRUE(ini.WriteString("name", "LAV"));
    EXPECT_EQ(ini.CurrentPath(), "ShowForm\\VideoDecoders\\dc0");
    ASSERT_TRUE(ini.CloseKey());
    ASSERT_TRUE(ini.CloseKey());
    ASSERT_TRUE(ini.WriteBool("Mute", true));  // back in ShowForm: inserted at its end
    ASSERT_TRUE(ini.CloseKey());
    EXPECT_EQ(ini.CurrentPath(), "");
    ASSERT_TRUE(ini.WriteString("ExeName", "/x"));
    EXPECT_EQ(ini.Lines(), (QStringList{"[]", "Version=v1", "ExeName=/x", "", "[ShowForm]", "Volume=5000",
                                        "Mute=True", "", "[ShowForm\\VideoDecoders]", "",
                                        "[ShowForm\\VideoDecoders\\dc0]", "name=LAV"}));
    QStringList keys;
    ASSERT_TRUE(ini.GetKeyNames(keys));
    EXPECT_EQ(keys, QStringList{"ShowForm"});
    ASSERT_TRUE(ini.OpenKey("showform", true));  // found without regard to case
    ASSERT_TRUE(ini.GetKeyNames(keys));
    EXPECT_EQ(keys, QStringList{"VideoDecoders"});
    ASSERT_TRUE(ini.GetValueNames(keys));
    EXPECT_EQ(keys, (QStringList{"Volume", "Mute"}));
    EXPECT_EQ(ini.Lines().size(), 12);
}

TEST(IniPreferences, BlankLineEndsASection)
{
    TIniPreferencesMan ini(QString(), Utf8File("[]\n[S]\na=1\n\nb=2\n[T]\nc=3\n"));
    ASSERT_TRUE(ini.OpenKey("S", false));
    QString v;
    EXPECT_TRUE(ini.ReadString("a", v));
    EXPECT_FALSE(ini.ReadString("b", v));
    EXPECT_FALSE(ini.DeleteValue("b"));
    ASSERT_TRUE(ini.WriteString("b", "new"));
    ASSERT_TRUE(ini.WriteString("A", "one"));  // replaces, name as written now
    EXPECT_EQ(ini.Lines(), (QStringList{"[]", "[S]", "A=one", "b=new", "", "b=2", "[T]", "c=3"}));
    EXPECT_TRUE(ini.DeleteValue("B"));
    EXPECT_EQ(ini.Lines(), (QStringList{"[]", "[S]", "A=one", "", "b=2", "[T]", "c=3"}));
}

TEST(IniPreferences, NamesTheLineFormatCannotCarryAreRefused)
{
    TIniPreferencesMan ini{QString(), QByteArray()};
    EXPECT_FALSE(ini.WriteString("a=b", "x"));
    EXPECT_FALSE(ini.WriteString("[a", "b]"));  // would become a header "[a=b]"
    EXPECT_FALSE(ini.WriteString("a\nb", "x"));
    EXPECT_FALSE(ini.OpenKey("a\r\n[x]", true));
    EXPECT_EQ(ini.Lines(), QStringList{"[]"});
    EXPECT_TRUE(ini.WriteString("", "empty name"));
    QString v;
    EXPECT_TRUE(ini.ReadString("", v));
    EXPECT_EQ(v, "empty name");
}

// ---------------------------------------------------------------- ini values

TEST(IniPreferences, BooleansAreExactlyTrueAndFalse)
{
    TIniPreferencesMan ini(QString(), Utf8File("[]\na=True\nb=False\nc=true\nd=1\n"));
    bool v = true;
    EXPECT_TRUE(ini.ReadBool("a", v));
    EXPECT_TRUE(v);
    EXPECT_TRUE(ini.ReadBool("b", v));
    EXPECT_FALSE(v);
    v = true;
    EXPECT_FALSE(ini.ReadBool("c", v));
    EXPECT_FALSE(ini.ReadBool("d", v));
    EXPECT_FALSE(ini.ReadBool("missing", v));
    EXPECT_TRUE(v);
    ASSERT_TRUE(ini.WriteBool("e", false));
    EXPECT_EQ(ini.Lines().last(), "e=False");
}

TEST(IniPreferences, IntegersThatAreNotNumbersReadAsZero)
{
    TIniPreferencesMan ini(QString(), Utf8File("[]\na=-42\nb=abc\nc=99999999999\nd=\n"));
    int32_t v = 7;
    EXPECT_TRUE(ini.ReadInteger("a", v));
    EXPECT_EQ(v, -42);
    for (const char *name : {"b", "c", "d"}) {
        v = 7;
        EXPECT_TRUE(ini.ReadInteger(name, v)) << name;
        EXPECT_EQ(v, 0) << name;
    }
    v = 7;
    EXPECT_FALSE(ini.ReadInteger("e", v));
    EXPECT_EQ(v, 7);
    ASSERT_TRUE(ini.WriteInteger("f", INT32_MIN));
    EXPECT_EQ(ini.Lines().last(), "f=-2147483648");
}

TEST(IniPreferences, DoublesGoOutWithAPointAndComeBackWithEitherSeparator)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    TIniPreferencesMan ini(QString(), Utf8File("[]\ncomma=0,5\npoint=0.5\ngroup=1,500\nbad=x\n"));
    double v = 9;
    EXPECT_TRUE(ini.ReadFloat("comma", v));
    EXPECT_EQ(v, 0.5);
    EXPECT_TRUE(ini.ReadFloat("point", v));
    EXPECT_EQ(v, 0.5);
    EXPECT_TRUE(ini.ReadFloat("group", v));
    EXPECT_EQ(v, 1.5);  // a decimal comma, never a thousands separator
    EXPECT_TRUE(ini.ReadFloat("bad", v));
    EXPECT_EQ(v, 0.0);
    ASSERT_TRUE(ini.WriteFloat("w", 1234567.125));
    ASSERT_TRUE(ini.WriteFloat("third", 1.0 / 3));
    ASSERT_TRUE(ini.WriteFloat("big", 1e300));
    ASSERT_TRUE(ini.WriteFloat("max", -DBL_MAX));  // fifteen digits would overflow
    QLocale::setDefault(previous);
    EXPECT_EQ(ini.Lines().mid(5), (QStringList{"w=1234567.125", "third=0.333333333333333", "big=1e+300",
                                               "max=-1.7976931348623157e+308"}));
    EXPECT_TRUE(ini.ReadFloat("max", v));
    EXPECT_EQ(v, -DBL_MAX);
}

TEST(IniPreferences, OneNumberReaderForFilesAndActionTexts)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(ParseDouble(" 2.5 "), 2.5);
    EXPECT_EQ(ParseDouble("1,500"), std::nullopt);  // a group separator, refused
    EXPECT_EQ(ParseDouble("x"), std::nullopt);
    EXPECT_EQ(ParseDouble("inf"), std::numeric_limits<double>::infinity());
    // An ini file keeps an infinite value; an action's text does not take one.
    TIniPreferencesMan ini(QString(), Utf8File("[]\nbig=inf\n"));
    double v = 0;
    EXPECT_TRUE(ini.ReadFloat("big", v));
    EXPECT_EQ(v, std::numeric_limits<double>::infinity());
    EXPECT_EQ(ActionText::DoubleFromText("inf"), -1.0);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(ParseDouble("1,5"), 1.5);
    EXPECT_EQ(ActionText::DoubleFromText("1,5"), 1.5);
    QLocale::setDefault(previous);
}

TEST(IniPreferences, ValuesWithLineBreaksSurviveTheFile)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("t.ini");
    const QString script = "begin\r\n  Grab; // c:\\temp\\n\r\nend.\n";
    const QString marked = QString(QChar(0xE000)) + "x";
    {
        TIniPreferencesMan ini(file);
        ASSERT_TRUE(ini.WriteString("Script", script));
        ASSERT_TRUE(ini.WriteString("Marked", marked));
        ASSERT_TRUE(ini.WriteString("Plain", "a\\nb"));  // no line break: stored as it is
        const QString m(QChar(0xE000));
        EXPECT_EQ(ini.Lines().mid(1),
                  (QStringList{"Script=" + m + "begin\\r\\n  Grab; // c:\\\\temp\\\\n\\r\\nend.\\n",
                               "Marked=" + m + m + "x", "Plain=a\\nb"}));
    }
    TIniPreferencesMan ini(file);
    QString v;
    ASSERT_TRUE(ini.ReadString("Script", v));
    EXPECT_EQ(v, script);
    ASSERT_TRUE(ini.ReadString("Marked", v));
    EXPECT_EQ(v, marked);
    ASSERT_TRUE(ini.ReadString("Plain", v));
    EXPECT_EQ(v, "a\\nb");
}

// ---------------------------------------------------------------- ini file

TEST(IniPreferences, FileIsWrittenAtDestructionOnly)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("Vidstill.ini");
    {
        TIniPreferencesMan ini(file);
        ini.WriteString("Version", "v");
        EXPECT_FALSE(QFile::exists(file));
    }
    EXPECT_EQ(ReadAll(file), Utf16LE("[]\r\nVersion=v\r\n"));
    {
        TIniPreferencesMan created(dir.filePath("new.ini"));  // an empty store still makes its file
    }
    EXPECT_EQ(ReadAll(dir.filePath("new.ini")), Utf16LE("[]\r\n"));
}

TEST(IniPreferences, ReplacingTheFileNeverTouchesTheOldOne)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("Vidstill.ini");
    const QByteArray old = Utf16LE("[]\r\nVersion=old\r\n");
    ASSERT_TRUE(WriteAll(file, old));
    const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    ASSERT_TRUE(QFile::setPermissions(file, mode));
    // A second name for the old file's data shows whether it was rewritten in place.
    ASSERT_EQ(::link(QFile::encodeName(file).constData(), QFile::encodeName(dir.filePath("alias")).constData()), 0);
    TIniPreferencesMan ini(file);
    ASSERT_TRUE(ini.WriteString("Version", QString(5000, QChar('n'))));

    // A write that fails half-way (file size limit: works even for root).
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto *previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool flushed = ini.Flush();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(flushed);
    EXPECT_EQ(ReadAll(file), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);  // no temporary left behind

    ASSERT_TRUE(ini.Flush());
    EXPECT_EQ(ReadAll(file), ini.Encode());
    EXPECT_EQ(ReadAll(dir.filePath("alias")), old);  // replaced, not rewritten
    EXPECT_EQ(QFile::permissions(file) & ~(QFile::ReadUser | QFile::WriteUser), mode);  // kept
}

// ---------------------------------------------------------------- registry store

class RegPreferences : public ::testing::Test {
protected:
    void SetUp() override { reg::DeleteKeyTree("Software"); }
    TempHive hive;
};

TEST_F(RegPreferences, WritesEachTypeAsTheRegistryKeepsIt)
{
    TRegPreferencesMan store(kKey);
    EXPECT_TRUE(reg::KeyExists(kKey));
    ASSERT_TRUE(store.WriteBool("On", true));
    ASSERT_TRUE(store.WriteBool("Off", false));
    ASSERT_TRUE(store.WriteInteger("Int", -5));
    ASSERT_TRUE(store.WriteFloat("Dbl", 0.5));
    ASSERT_TRUE(store.WriteString("Str", QString::fromUtf8("aé")));
    ASSERT_TRUE(store.WriteString("Empty", ""));
    EXPECT_EQ(reg::QueryValue(kKey, "On"), reg::RegValue::Dword(1));
    EXPECT_EQ(reg::QueryValue(kKey, "Off"), reg::RegValue::Dword(0));
    EXPECT_EQ(reg::QueryValue(kKey, "Int"), reg::RegValue::Dword(0xFFFFFFFBu));
    double half = 0.5;
    EXPECT_EQ(reg::QueryValue(kKey, "Dbl"),
              reg::RegValue::Binary(QByteArray(reinterpret_cast<const char *>(&half), 8)));
    EXPECT_EQ(reg::QueryValue(kKey, "Str"),
              (reg::RegValue{reg::REG_SZ, QByteArray("a\0\xE9\0\0\0", 6)}));
    EXPECT_EQ(reg::QueryValue(kKey, "Empty"), (reg::RegValue{reg::REG_SZ, QByteArray(2, '\0')}));
    // And as the hive file shows them: strings stay readable text.
    EXPECT_TRUE(hive.readText().contains(QString::fromUtf8(
        "[HKEY_CURRENT_USER\\Software\\Vostrel\\Vidstill]\r\n\"On\"=dword:00000001\r\n"
        "\"Off\"=dword:00000000\r\n\"Int\"=dword:fffffffb\r\n"
        "\"Dbl\"=hex:00,00,00,00,00,00,e0,3f\r\n\"Str\"=\"aé\"\r\n\"Empty\"=\"\"\r\n")))
        << qPrintable(hive.readText());
    QStringList names;
    ASSERT_TRUE(store.GetValueNames(names));
    EXPECT_EQ(names.size(), 6);
}

TEST_F(RegPreferences, ReadsWhatOtherWritersLeave)
{
    TRegPreferencesMan store(kKey);
    reg::SetValue(kKey, "Two", reg::RegValue::Dword(2));
    reg::SetValue(kKey, "Odd", reg::RegValue{reg::REG_SZ, QByteArray("a\0b\0\0", 5)});
    reg::SetValue(kKey, "Even", reg::RegValue::String("ab"));
    reg::SetValue(kKey, "One", reg::RegValue{reg::REG_SZ, QByteArray(1, '\0')});
    reg::SetValue(kKey, "Bin", reg::RegValue::Binary("1234"));
    bool b = true;
    EXPECT_TRUE(store.ReadBool("Two", b));  // success, default left in place
    EXPECT_TRUE(b);
    QString s = "x";
    EXPECT_TRUE(store.ReadString("Odd", s));
    EXPECT_EQ(s, "ab");
    EXPECT_TRUE(store.ReadString("Even", s));
    EXPECT_EQ(s, "ab");
    EXPECT_TRUE(store.ReadString("One", s));
    EXPECT_EQ(s, "");
    int32_t i = 3;
    double d = 3;
    EXPECT_FALSE(store.ReadString("Two", s));
    EXPECT_FALSE(store.ReadInteger("Bin", i));
    EXPECT_FALSE(store.ReadFloat("Bin", d));  // not 8 bytes
    EXPECT_FALSE(store.ReadBool("Even", b));
    EXPECT_EQ(i, 3);
    EXPECT_EQ(d, 3);
}

TEST_F(RegPreferences, OpensKeysBelowTheRoot)
{
    TRegPreferencesMan store(kKey);
    EXPECT_FALSE(store.OpenKey("ShowForm", false));
    EXPECT_EQ(store.CurrentPath(), "");
    ASSERT_TRUE(store.OpenKey("ShowForm", true));
    ASSERT_TRUE(store.OpenKey("dc0", true));
    ASSERT_TRUE(store.WriteString("name", "LAV"));
    EXPECT_EQ(reg::QueryValue(kKey + "\\ShowForm\\dc0", "name"), reg::RegValue::String("LAV"));
    ASSERT_TRUE(store.CloseKey());
    QStringList keys;
    ASSERT_TRUE(store.GetKeyNames(keys));
    EXPECT_EQ(keys, QStringList{"dc0"});
}

// ---------------------------------------------------------------- the component

class VostrelPreferences : public ::testing::Test {
protected:
    void SetUp() override
    {
        reg::DeleteKeyTree("Software");
        gp.titre = "Vidstill";
        gp.version = "Vidstill 1.0 by Vostrel";
        gp.ExeFolder = dir.path() + "/";
        gp.ExeName = dir.path() + "/Vidstill";
        gp.OnChangeMode = [this](TSavePreferences m) { changes.append(m); };
    }
    QString Ini() const { return dir.filePath("Vidstill.ini"); }
    void RecordExe(const QString &exeName)
    {
        reg::CreateKey(kKey);
        reg::SetValue(kKey, "ExeName", reg::RegValue::String(exeName));
    }

    TempHive hive;
    QTemporaryDir dir;
    TVostrelPreferences gp{nullptr};
    QList<TSavePreferences> changes;
};

TEST_F(VostrelPreferences, FirstRunHasNoModeAndOnlyDefaults)
{
    EXPECT_EQ(gp.Mode(), spNone);
    EXPECT_EQ(gp.DetectMode(), spNone);
    gp.ApplyMode();
    EXPECT_EQ(changes, QList<TSavePreferences>{spNone});
    EXPECT_FALSE(gp.OpenKey("ShowForm"));
    EXPECT_FALSE(gp.CloseKey());
    QStringList keys;
    EXPECT_FALSE(gp.GetKeyNames(keys));
    EXPECT_FALSE(gp.WriteInteger("a", 1));
    EXPECT_FALSE(gp.WriteRect("r", TRect{1, 2, 3, 4}));
    EXPECT_EQ(gp.ReadInteger("a", 9), 9);
    EXPECT_EQ(gp.ReadWideString("s", "d"), "d");
    EXPECT_EQ(gp.ReadRect("r", TRect{5, 6, 7, 8}), (TRect{5, 6, 7, 8}));
    gp.WriteStamp("v");
    EXPECT_FALSE(QFile::exists(Ini()));
    EXPECT_FALSE(reg::KeyExists("Software\\Vostrel"));
}

TEST_F(VostrelPreferences, SettingsOfAnotherCopyAreNotOursAndGo)
{
    RecordExe("/elsewhere/Vidstill");
    reg::CreateKey("Software\\Vostrel\\Other");
    EXPECT_EQ(gp.DetectMode(), spNone);
    gp.ApplyMode();
    EXPECT_FALSE(reg::KeyExists(kKey));
    EXPECT_TRUE(reg::KeyExists("Software\\Vostrel"));  // still holds another program
    reg::DeleteKey("Software\\Vostrel\\Other");
    gp.ApplyMode();
    EXPECT_FALSE(reg::KeyExists("Software\\Vostrel"));

    RecordExe(gp.ExeName.toUpper());  // paths compare without regard to case
    EXPECT_EQ(gp.DetectMode(), spRegistre);
}

TEST_F(VostrelPreferences, IniBesideTheExecutableWinsAndPortableDeletesTheKey)
{
    RecordExe(gp.ExeName);
    reg::CreateKey(kKey + "\\ShowForm\\VideoDecoders\\dc0");
    ASSERT_TRUE(WriteAll(Ini(), Utf16LE("[]\r\n[ShowForm]\r\nVolume=10\r\n")));
    EXPECT_EQ(gp.DetectMode(), spPortable);
    gp.SetMode(spPortable);
    EXPECT_EQ(changes, QList<TSavePreferences>{spPortable});
    EXPECT_FALSE(reg::KeyExists("Software\\Vostrel"));
    ASSERT_TRUE(gp.OpenKey("ShowForm"));
    EXPECT_EQ(gp.ReadInteger("Volume", 0), 10);
    gp.SetMode(spPortable);  // same mode: nothing happens
    EXPECT_EQ(changes.size(), 1);
    EXPECT_EQ(gp.Store()->CurrentPath(), "ShowForm");
}

TEST_F(VostrelPreferences, MovingToPortableKeepsTheRegistryUntilTheIniIsWritten)
{
    RecordExe(gp.ExeName);
    reg::CreateKey(kKey + "\\ShowForm");
    reg::SetValue(kKey + "\\ShowForm", "Volume", reg::RegValue::Dword(10));
    gp.OnSavePrefs = [](TVostrelPreferences *p) {
        p->OpenKey("ShowForm");
        p->WriteInteger("Volume", 20);
    };
    ASSERT_TRUE(QDir(dir.path()).mkdir("Vidstill.ini"));  // the file cannot take its place
    gp.SetMode(spPortable);
    EXPECT_TRUE(reg::KeyExists(kKey));
    EXPECT_FALSE(gp.SaveNow());
    EXPECT_EQ(reg::QueryValue(kKey + "\\ShowForm", "Volume"), reg::RegValue::Dword(10));
    EXPECT_EQ(gp.DetectMode(), spRegistre);  // the next start still finds them

    ASSERT_TRUE(QDir(dir.path()).rmdir("Vidstill.ini"));
    EXPECT_TRUE(gp.SaveNow());
    EXPECT_FALSE(reg::KeyExists("Software\\Vostrel"));
    TIniPreferencesMan ini(Ini());
    ASSERT_TRUE(ini.OpenKey("ShowForm", false));
    int32_t volume = 0;
    EXPECT_TRUE(ini.ReadInteger("Volume", volume));
    EXPECT_EQ(volume, 20);
}

TEST_F(VostrelPreferences, LeavingPortableDeletesEvenAReadOnlyIni)
{
    ASSERT_TRUE(WriteAll(Ini(), Utf16LE("[]\r\n")));
    QFile::setPermissions(Ini(), QFile::ReadOwner);
    gp.SetMode(spPortable);
    gp.SetMode(spRegistre);
    EXPECT_FALSE(QFile::exists(Ini()));
    EXPECT_TRUE(reg::KeyExists(kKey));
    EXPECT_EQ(changes, (QList<TSavePreferences>{spPortable, spRegistre}));
    QDir(dir.path()).mkdir("Vidstill.ini");  // a folder of that name is no ini file
    EXPECT_EQ(gp.DetectMode(), spNone);
}

TEST_F(VostrelPreferences, StampGoesToTheRootWhateverIsOpen)
{
    gp.SetMode(spRegistre);
    ASSERT_TRUE(gp.OpenKey("ShowForm"));
    ASSERT_TRUE(gp.OpenKey("Font"));
    gp.WriteStamp(gp.version);
    EXPECT_EQ(reg::QueryValue(kKey, "Version")->ToString(), "Vidstill 1.0 by Vostrel");
    EXPECT_EQ(reg::QueryValue(kKey, "ExeName")->ToString(), gp.ExeName);
    const QString stamp = reg::QueryValue(kKey, QString::fromUtf8("Dernière Sauvegarde"))->ToString();
    EXPECT_TRUE(QRegularExpression("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d$").match(stamp).hasMatch()) << qPrintable(stamp);
    EXPECT_EQ(gp.DetectMode(), spRegistre);
}

TEST_F(VostrelPreferences, CompositeValuesInTheIni)
{
    gp.SetMode(spPortable);
    ASSERT_TRUE(gp.OpenKey("ShowForm"));
    ASSERT_TRUE(gp.WritePoint("Pos", TPoint{-3, 4}));
    ASSERT_TRUE(gp.WriteRect("Bounds", TRect{1, 2, 3, 4}));
    TFont font;
    font.Name = "Arial";
    font.Size = 12;
    font.Color = clRed;
    font.Style = fsBold | fsUnderline;
    font.Charset = 0;
    font.Pitch = TFontPitch::fpFixed;
    font.PixelsPerInch = 120;
    ASSERT_TRUE(gp.WriteFont("Font", font));
    ASSERT_TRUE(gp.WriteBool("After", true));  // still in ShowForm
    auto *ini = static_cast<TIniPreferencesMan *>(gp.Store());
    EXPECT_EQ(ini->Lines(),
              (QStringList{"[]", "", "[ShowForm]", "Pos.X=-3", "Pos.Y=4", "After=True", "",
                           "[ShowForm\\Bounds]", "Left=1", "Top=2", "Right=3", "Bottom=4", "",
                           "[ShowForm\\Font]", "Charset=0", "Color=255", "Name=Arial", "Pitch=2",
                           "PixelsperInch=120", "Size=12", "Bold=True", "Italic=False",
                           "StrikeOut=False", "Underline=True"}));
    EXPECT_EQ(gp.ReadPoint("Pos", TPoint{}), (TPoint{-3, 4}));
    EXPECT_EQ(gp.ReadRect("Bounds", TRect{}), (TRect{1, 2, 3, 4}));
    TFont read;
    gp.ReadFont("Font", TFont{}, read);
    EXPECT_EQ(read, font);
    EXPECT_EQ(gp.Store()->CurrentPath(), "ShowForm");
}

TEST_F(VostrelPreferences, CompositeReadsFailAsAWhole)
{
    gp.SetMode(spRegistre);
    ASSERT_TRUE(gp.OpenKey("ShowForm"));
    ASSERT_TRUE(gp.WriteRect("Bounds", TRect{1, 2, 3, 4}));
    EXPECT_EQ(reg::QueryValue(kKey + "\\ShowForm\\Bounds", "Bottom"), reg::RegValue::Dword(4));
    ASSERT_TRUE(gp.WriteFont("Font", TFont{}));
    ASSERT_TRUE(gp.WriteInteger("Pos.X", 1));
    reg::DeleteValue(kKey + "\\ShowForm\\Bounds", "Bottom");
    reg::DeleteValue(kKey + "\\ShowForm\\Font", "Underline");

    const TRect def{5, 6, 7, 8};
    EXPECT_EQ(gp.ReadRect("Bounds", def), def);
    EXPECT_EQ(gp.ReadRect("Missing", def), def);
    EXPECT_FALSE(reg::KeyExists(kKey + "\\ShowForm\\Missing"));
    EXPECT_EQ(gp.ReadPoint("Pos", TPoint{7, 7}), (TPoint{7, 7}));
    TFont def2;
    def2.Name = "Default";
    TFont target = def2;
    target.Size = 30;
    gp.ReadFont("Font", def2, target);
    EXPECT_EQ(target, def2);
    gp.ReadFont("Font", target, target);  // the default is the target itself
    EXPECT_EQ(target, def2);
    EXPECT_EQ(gp.Store()->CurrentPath(), "ShowForm");  // every subsection closed again
}
