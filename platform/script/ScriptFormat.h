// Number and Format texts with Delphi's rules and a '.' decimal separator,
// whatever the locale. Pure functions; any thread.
#pragma once

#include <QString>

#include <vector>

namespace pss {

// FloatToStr: general format with `precision` significant digits
// ("0.1", "1E20", "1.5E-7", "NAN", "INF").
QString floatToStrGeneral(double v, int precision = 15);

struct FormatArg {
    enum class K { Int, Real, Str, Char, Bool, Other } kind = K::Other;
    qint64 i = 0;
    bool isUnsigned32 = false;  // a Cardinal, or an Integer to read as one for %u and %x
    bool is32 = true;
    double r = 0;
    QString s;
};

// Delphi's Format: %[index:][-][width][.precision]type with d u e f g n s x
// and %%. False (error holding the message) when a specifier does not fit
// its argument or arguments are missing.
bool formatText(const QString &format, const std::vector<FormatArg> &args, QString &out, QString &error);

// Delphi's StrToInt and StrToFloat readers: leading blanks, a sign, $ or 0x
// hexadecimal for integers; false when anything else is left.
bool parseInteger(const QString &text, qint64 &out);
bool parseFloat(const QString &text, double &out);

}  // namespace pss
