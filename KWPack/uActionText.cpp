#include "uActionText.h"

#include "uPreferences.h"

#include <QLocale>

#include <cmath>

namespace ActionText {

namespace {

// A decimal integer that fits 32 bits; leading and trailing blanks allowed.
std::optional<int32_t> ParseInt32(const QString &text)
{
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok, 10);
    if (!ok || v < INT32_MIN || v > INT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(v);
}

// The trimmed text between "(" and ")" split at commas, when the shape is
// "( ... )" with at least `commas` commas.
std::optional<QStringList> ParenthesisedParts(const QString &text, int commas)
{
    const QString t = text.trimmed();
    if (!t.startsWith(QLatin1Char('(')) || !t.endsWith(QLatin1Char(')')) || t.size() < 2)
        return std::nullopt;
    const QString inner = t.mid(1, t.size() - 2);
    if (inner.count(QLatin1Char(',')) < commas)
        return std::nullopt;
    // The last part keeps any further commas, so "(1,2,3)" gives Y "2,3" (0).
    QStringList parts;
    int from = 0;
    for (int i = 0; i < commas; ++i) {
        const int comma = inner.indexOf(QLatin1Char(','), from);
        parts << inner.mid(from, comma - from);
        from = comma + 1;
    }
    parts << inner.mid(from);
    return parts;
}

int32_t IntOrZero(const QString &text)
{
    return ParseInt32(text).value_or(0);
}

}  // namespace

bool BooleanFromText(const QString &text)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("vrai") || t == QLatin1String("t") ||
        t == QLatin1String("v"))
        return true;
    bool ok = false;
    const qlonglong v = t.toLongLong(&ok, 10);
    return ok && v != 0;
}

int32_t IntegerFromText(const QString &text)
{
    return ParseInt32(text).value_or(-1);
}

double DoubleFromText(const QString &text)
{
    return IsDoubleText(text) ? *ParseDouble(text) : -1.0;
}

bool IsIntegerText(const QString &text)
{
    return ParseInt32(text).has_value();
}

bool IsDoubleText(const QString &text)
{
    const std::optional<double> v = ParseDouble(text);
    return v && std::isfinite(*v);
}

std::optional<TColor> ColorFromText(const QString &text)
{
    return StringToColor(text);
}

std::optional<TPoint> PointFromText(const QString &text)
{
    const auto parts = ParenthesisedParts(text, 1);
    if (!parts)
        return std::nullopt;
    return TPoint{IntOrZero(parts->at(0)), IntOrZero(parts->at(1))};
}

std::optional<TRect> RectFromText(const QString &text)
{
    const auto parts = ParenthesisedParts(text, 3);
    if (!parts)
        return std::nullopt;
    return TRect{IntOrZero(parts->at(0)), IntOrZero(parts->at(1)), IntOrZero(parts->at(2)),
                 IntOrZero(parts->at(3))};
}

QString FormatDouble(double value)
{
    return QLocale::c().toString(value, 'g', 15);
}

QString QuotedString(const QString &text)
{
    QString t = text;
    t.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + t + QLatin1Char('\'');
}

QString ColorHex(TColor color)
{
    return QLatin1Char('$') +
           QStringLiteral("%1").arg(static_cast<uint32_t>(color), 6, 16, QLatin1Char('0')).toUpper();
}

QString BooleanText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

}  // namespace ActionText
