// Ini store fuzzer: a file (raw bytes, or pieces of ini text picked by the
// input, so that sections come up without a corpus), then a sequence of
// store operations drawn from the rest of the input. Whatever the file holds,
// a value written reads back unchanged, and the lines survive encoding and
// decoding.
#include "KWPack/uPreferences.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// Characters that matter to the line format, plus a few that matter to the
// encodings (a lone surrogate, a null, the escape marker).
const char16_t kAlphabet[] = {u'a', u'B', u'=', u'[', u']', u'\\', u'\r', u'\n', u' ', u'r',
                              u'n', u'1', u'.', u',', u'-', u'e', 0xE000, 0xE9, 0xD800, 0};

const char *const kPieces[] = {
    "[]", "[a]", "[A]", "[a\\b]", "[a\\B\\c]", "[", "]", "\\", "a", "B", "=", "1", "-7", "x",
    "True", "False", "true", "0,5", "0.5", "\r\n", "\n", "\r", "", " ", "\xEE\x80\x80", "\\n",
    "\xC3\xA9", "\xE9", "\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF", "\t",
};

QByteArray FileBytes(FuzzedDataProvider &in)
{
    const size_t n = in.ConsumeIntegralInRange<size_t>(0, in.remaining_bytes());
    if (in.ConsumeBool()) {
        const std::vector<uint8_t> raw = in.ConsumeBytes<uint8_t>(n);
        return QByteArray(reinterpret_cast<const char *>(raw.data()), qsizetype(raw.size()));
    }
    QByteArray out;
    for (size_t i = 0; i < n && in.remaining_bytes() > 0; ++i)
        out += kPieces[in.ConsumeIntegralInRange<size_t>(0, std::size(kPieces) - 1)];
    return out;
}

QString Text(FuzzedDataProvider &in, size_t maxLength)
{
    const size_t n = in.ConsumeIntegralInRange<size_t>(0, maxLength);
    QString s;
    for (size_t i = 0; i < n && in.remaining_bytes() > 0; ++i)
        s.append(QChar(kAlphabet[in.ConsumeIntegralInRange<size_t>(0, std::size(kAlphabet) - 1)]));
    return s;
}

bool LinesSurviveTheFile(const TIniPreferencesMan &ini)
{
    for (const QString &line : ini.Lines()) {
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n')))
            return false;
    }
    return TIniPreferencesMan::Decode(ini.Encode()) == ini.Lines();
}

bool SameDouble(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0 || (a == 0 && b == 0);
}

void WriteAndReadBack(TIniPreferencesMan &ini, FuzzedDataProvider &in, int op)
{
    const QString name = Text(in, 6);
    switch (op) {
    case 0: {
        const QString value = Text(in, 24);
        QString back;
        if (ini.WriteString(name, value))
            Check(ini.ReadString(name, back) && back == value);
        Check(TIniPreferencesMan::UnescapeValue(TIniPreferencesMan::EscapeValue(value)) == value);
        break;
    }
    case 1: {
        const bool value = in.ConsumeBool();
        bool back = !value;
        if (ini.WriteBool(name, value))
            Check(ini.ReadBool(name, back) && back == value);
        break;
    }
    case 2: {
        const auto value = in.ConsumeIntegral<int32_t>();
        int32_t back = 0;
        if (ini.WriteInteger(name, value))
            Check(ini.ReadInteger(name, back) && back == value);
        break;
    }
    default: {
        const double value = in.ConsumeFloatingPoint<double>();
        // Fifteen significant digits are what the file keeps (seventeen where
        // fifteen would overflow).
        bool ok = false;
        double kept = QLocale::c().toDouble(QLocale::c().toString(value, 'g', 15), &ok);
        if (!ok)
            kept = value;
        double back = 0;
        if (ini.WriteFloat(name, value))
            Check(ini.ReadFloat(name, back) && SameDouble(back, kept));
        break;
    }
    }
}

void RunOperation(TIniPreferencesMan &ini, FuzzedDataProvider &in)
{
    const int op = in.ConsumeIntegralInRange(0, 9);
    QStringList list;
    QString s;
    int32_t i = 0;
    bool b = false;
    double d = 0;
    switch (op) {
    case 0: case 1: case 2: case 3:
        WriteAndReadBack(ini, in, op);
        break;
    case 4:
        ini.OpenKey(Text(in, 8), in.ConsumeBool());
        break;
    case 5:
        ini.CloseKey();
        break;
    case 6:
        ini.DeleteValue(Text(in, 6));
        break;
    case 7:
        Check(ini.GetKeyNames(list) && ini.GetValueNames(list));
        break;
    case 8:
        s = Text(in, 6);
        ini.ReadString(s, s);
        ini.ReadInteger(s, i);
        ini.ReadBool(s, b);
        ini.ReadFloat(s, d);
        break;
    default:
        Check(LinesSurviveTheFile(ini));
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    TIniPreferencesMan ini(QString(), FileBytes(in));
    Check(!ini.Lines().isEmpty());
    Check(LinesSurviveTheFile(ini));
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step)
        RunOperation(ini, in);
    Check(LinesSurviveTheFile(ini));
    return 0;
}
