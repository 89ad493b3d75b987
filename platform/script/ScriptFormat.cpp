#include "ScriptFormat.h"

#include <QLocale>

#include <cmath>

namespace pss {

namespace {

constexpr int kMaxWidth = 1 << 16;

// Significant digits (no trailing zeros) and the decimal exponent of |v|,
// Delphi's FloatToDecimal: v = 0.digits * 10^exponent.
void decimalDigits(double v, int precision, QString &digits, int &exponent)
{
    const QString e = QString::number(std::fabs(v), 'e', precision - 1);  // d.ddde+XX
    const int at = int(e.indexOf(QLatin1Char('e')));
    digits = e.left(at);
    digits.remove(QLatin1Char('.'));
    exponent = e.mid(at + 1).toInt() + 1;
    while (digits.size() > 1 && digits.endsWith(QLatin1Char('0')))
        digits.chop(1);
}

QString special(double v)
{
    if (std::isnan(v))
        return QStringLiteral("NAN");
    return v < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
}

QString scientific(double v, int precision, int minExpDigits, bool plusSign, bool keepZeros)
{
    if (!std::isfinite(v))
        return special(v);
    QString digits;
    int exponent = 0;
    decimalDigits(v, precision, digits, exponent);
    if (v == 0)
        exponent = 1;
    if (keepZeros)
        digits = digits.leftJustified(precision, QLatin1Char('0'));
    QString out = std::signbit(v) && v != 0 ? QStringLiteral("-") : QString();
    out += digits[0];
    if (digits.size() > 1)
        out += QLatin1Char('.') + digits.mid(1);
    const int e = exponent - 1;
    out += QLatin1Char('E');
    out += e < 0 ? QStringLiteral("-") : (plusSign ? QStringLiteral("+") : QString());
    out += QString::number(std::abs(e)).rightJustified(minExpDigits, QLatin1Char('0'));
    return out;
}

QString withThousands(const QString &fixed)
{
    const bool neg = fixed.startsWith(QLatin1Char('-'));
    QString body = neg ? fixed.mid(1) : fixed;
    const int dot = int(body.indexOf(QLatin1Char('.')));
    QString whole = dot < 0 ? body : body.left(dot);
    const QString rest = dot < 0 ? QString() : body.mid(dot);
    for (int k = int(whole.size()) - 3; k > 0; k -= 3)
        whole.insert(k, QLatin1Char(','));
    return (neg ? QStringLiteral("-") : QString()) + whole + rest;
}

QString fixed(double v, int decimals)
{
    if (!std::isfinite(v))
        return special(v);
    QString s = QString::number(v, 'f', decimals);
    if (s.startsWith(QLatin1Char('-')) && s.mid(1).remove(QLatin1Char('0')).remove(QLatin1Char('.')).isEmpty())
        s.remove(0, 1);  // no "-0.00"
    return s;
}

QString zeroPadded(qint64 v, bool isUnsigned, int minDigits)
{
    const bool neg = !isUnsigned && v < 0;
    QString digits = isUnsigned ? QString::number(quint64(v)) : QString::number(v);
    if (neg)
        digits.remove(0, 1);
    digits = digits.rightJustified(minDigits, QLatin1Char('0'));
    return neg ? QLatin1Char('-') + digits : digits;
}

struct Spec {
    bool left = false;
    int width = -1;
    int precision = -1;
    QChar type;
};

}  // namespace

QString floatToStrGeneral(double v, int precision)
{
    if (!std::isfinite(v))
        return special(v);
    if (v == 0)
        return QStringLiteral("0");
    QString digits;
    int exponent = 0;
    decimalDigits(v, precision, digits, exponent);
    if (exponent > precision || exponent < -3)
        return scientific(v, precision, 1, false, false);
    QString out = v < 0 ? QStringLiteral("-") : QString();
    if (exponent <= 0)
        return out + QStringLiteral("0.") + QString(-exponent, QLatin1Char('0')) + digits;
    if (digits.size() <= exponent)
        return out + digits + QString(exponent - int(digits.size()), QLatin1Char('0'));
    return out + digits.left(exponent) + QLatin1Char('.') + digits.mid(exponent);
}

static bool formatOne(const Spec &sp, const FormatArg &a, QString &text)
{
    using K = FormatArg::K;
    switch (sp.type.toLower().unicode()) {
    case 'd':
    case 'u':
        if (a.kind != K::Int)
            return false;
        text = zeroPadded(sp.type.toLower() == u'u' && a.is32 ? qint64(quint32(a.i)) : a.i,
                          sp.type.toLower() == u'u', std::max(sp.precision, 0));
        return true;
    case 'x': {
        if (a.kind != K::Int)
            return false;
        const quint64 u = a.is32 ? quint64(quint32(a.i)) : quint64(a.i);
        text = QString::number(u, 16).toUpper().rightJustified(std::max(sp.precision, 0), QLatin1Char('0'));
        return true;
    }
    case 'e':
    case 'f':
    case 'g':
    case 'n':
    case 'm': {
        if (a.kind != K::Real)
            return false;
        const QChar t = sp.type.toLower();
        if (t == u'e')
            text = scientific(a.r, std::clamp(sp.precision < 0 ? 15 : sp.precision, 1, 18), 3, true, true);
        else if (t == u'g')
            text = floatToStrGeneral(a.r, std::clamp(sp.precision < 0 ? 15 : sp.precision, 1, 18));
        else
            text = fixed(a.r, std::clamp(sp.precision < 0 ? 2 : sp.precision, 0, 18));
        if (t == u'n' || t == u'm')
            text = withThousands(text);
        return true;
    }
    case 's':
        if (a.kind == K::Str)
            text = a.s;
        else if (a.kind == K::Char)
            text = QString(QChar(char16_t(a.i)));
        else
            return false;
        if (sp.precision >= 0 && sp.precision < text.size())
            text.truncate(sp.precision);
        return true;
    default: return false;
    }
}

template <typename Number>
static bool formatSpec(const QString &format, int &k, const std::vector<FormatArg> &args, size_t &next,
                       Number &number, QString &out)
{
    const int n = int(format.size());
    Spec sp;
    int first = -1;
    if (!number(k, first))
        return false;
    if (k < n && format[k] == u':') {
        next = size_t(std::max(first, 0));
        ++k;
        first = -1;
    }
    if (k < n && format[k] == u'-') {
        sp.left = true;
        ++k;
    }
    if (first < 0 && !number(k, first))
        return false;
    sp.width = first;
    if (k < n && format[k] == u'.') {
        ++k;
        if (!number(k, sp.precision))
            return false;
    }
    if (k >= n || next >= args.size() || sp.width > kMaxWidth)
        return false;
    sp.type = format[k];
    QString text;
    if (!formatOne(sp, args[next++], text))
        return false;
    if (sp.width > text.size())
        text = sp.left ? text.leftJustified(sp.width) : text.rightJustified(sp.width);
    out += text;
    return true;
}

bool formatText(const QString &format, const std::vector<FormatArg> &args, QString &out, QString &error)
{
    const QString invalid = QStringLiteral("Format '%1' invalid or incompatible with argument").arg(format);
    out.clear();
    size_t next = 0;
    const int n = int(format.size());
    auto number = [&](int &k, int &value) -> bool {
        if (k < n && format[k] == u'*') {
            ++k;
            if (next >= args.size() || args[next].kind != FormatArg::K::Int)
                return false;
            value = int(std::clamp<qint64>(args[next++].i, -1, kMaxWidth + 1));
            return true;
        }
        qint64 v = -1;
        while (k < n && format[k].isDigit()) {
            v = std::max<qint64>(v, 0) * 10 + format[k++].digitValue();
            if (v > kMaxWidth)
                return false;
        }
        value = int(v);
        return true;
    };
    for (int k = 0; k < n; ++k) {
        if (format[k] != u'%') {
            out += format[k];
            continue;
        }
        if (++k < n && format[k] == u'%') {
            out += u'%';
            continue;
        }
        if (!formatSpec(format, k, args, next, number, out)) {
            error = invalid;
            return false;
        }
    }
    error.clear();
    return true;
}

bool parseInteger(const QString &text, qint64 &out)
{
    QString t = text;
    int k = 0;
    while (k < t.size() && t[k] == u' ')
        ++k;
    bool neg = false;
    if (k < t.size() && (t[k] == u'+' || t[k] == u'-'))
        neg = t[k++] == u'-';
    int base = 10;
    if (k < t.size() && t[k] == u'$') {
        base = 16;
        ++k;
    } else if (k + 1 < t.size() && t[k] == u'0' && (t[k + 1] == u'x' || t[k + 1] == u'X')) {
        base = 16;
        k += 2;
    }
    const QString digits = t.mid(k);
    if (digits.isEmpty())
        return false;
    for (QChar c : digits)
        if (!(c.isDigit() && c.unicode() < 128) && !(base == 16 && QStringLiteral("abcdefABCDEF").contains(c)))
            return false;
    bool ok = false;
    const quint64 u = digits.toULongLong(&ok, base);
    if (!ok || (base == 10 && u > quint64(INT64_MAX) + (neg ? 1 : 0)))
        return false;
    out = neg ? qint64(0 - u) : qint64(u);
    return true;
}

bool parseFloat(const QString &text, double &out)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    bool ok = false;
    const double v = QLocale::c().toDouble(t, &ok);
    if (!ok)
        return false;
    out = v;
    return true;
}

}  // namespace pss
