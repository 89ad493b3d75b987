// Switch value texts of typed actions: any text reads without harm, and what
// the recorded-line writers produce reads back to the same value.
#include "KWPack/uActionText.h"

#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace ActionText;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    BooleanFromText(text);
    const int32_t i = IntegerFromText(text);
    if (IntegerFromText(QString::number(i)) != i)
        __builtin_trap();
    const double d = DoubleFromText(text);
    // Fifteen digits are what is written; from then on the text is stable.
    const QString written = FormatDouble(d);
    if (!std::isfinite(d) || FormatDouble(DoubleFromText(written)) != written)
        __builtin_trap();
    if (const auto c = ColorFromText(text); c && ColorFromText(ColorHex(*c)) != c)
        __builtin_trap();
    if (const auto p = PointFromText(text)) {
        const QString back = QStringLiteral("(%1,%2)").arg(p->X).arg(p->Y);
        if (PointFromText(back) != p)
            __builtin_trap();
    }
    if (const auto r = RectFromText(text)) {
        const QString back = QStringLiteral("(%1,%2,%3,%4)").arg(r->Left).arg(r->Top).arg(r->Right).arg(r->Bottom);
        if (RectFromText(back) != r)
            __builtin_trap();
    }
    const QString quoted = QuotedString(text);
    if (quoted.size() < 2 || !quoted.startsWith(QLatin1Char('\'')) || !quoted.endsWith(QLatin1Char('\'')))
        __builtin_trap();
    return 0;
}
