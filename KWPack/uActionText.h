// Texts of typed actions: reading switch values and writing recorded script
// lines. Pure functions; any thread.
#pragma once

#include "platform/base/Graphics.h"

#include <QString>

#include <optional>

namespace ActionText {

// Trimmed, lower-cased: "true", "vrai", "t", "v" or a non-zero integer.
bool BooleanFromText(const QString &text);
// A decimal integer; -1 for anything else (including out-of-range numbers).
int32_t IntegerFromText(const QString &text);
// A decimal number with a point or the user's decimal separator; -1.0 otherwise.
double DoubleFromText(const QString &text);
// Whether IntegerFromText / DoubleFromText read the text itself rather than
// falling back to -1.
bool IsIntegerText(const QString &text);
bool IsDoubleText(const QString &text);
// A colour name ("clRed") or a number; empty when neither.
std::optional<TColor> ColorFromText(const QString &text);
// "(x, y)": empty unless the shape is right; invalid numbers read as 0.
std::optional<TPoint> PointFromText(const QString &text);
// "(left, top, right, bottom)": empty unless the shape is right.
std::optional<TRect> RectFromText(const QString &text);

// Numbers as a script reads them, whatever the user's locale: a point and up
// to 15 significant digits.
QString FormatDouble(double value);
// A Pascal string literal: the text between single quotes, quotes doubled.
QString QuotedString(const QString &text);
// "$" and upper-case hexadecimal with at least six digits.
QString ColorHex(TColor color);
QString BooleanText(bool value);

}  // namespace ActionText
