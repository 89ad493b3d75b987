// The language's built-in routines: names, compile-time checks (in
// ScriptBuiltins.cpp, as part of the compiler) and evaluation.
#pragma once

#include <QString>

namespace pss {

// Identifiers of the built-ins (their own namespace: several read like types).
namespace bi {
enum B : int {
    IntToStr, StrToInt, StrToIntDef, StrToInt64, FloatToStr, StrToFloat, StrToFloatDef, Format, Copy, Pos,
    Length, Delete, Insert, UpperCase, LowerCase, AnsiUpperCase, AnsiLowerCase, Trim, TrimLeft, TrimRight,
    StringReplace, Chr, Ord, Succ, Pred, Inc, Dec, Odd, Abs, Sqr, Sqrt, Round, Trunc, Frac, Int, Random,
    Randomize, Now, Date, Time, FormatDateTime, DateToStr, TimeToStr, DateTimeToStr, EncodeDate, EncodeTime,
    DecodeDate, DecodeTime, FileExists, DirectoryExists, IntToHex, UpCase, StringOfChar, High, Low, SetLength,
    Sin, Cos, Exp, Ln, ArcTan, Pi, Power, SameText, CompareText, CompareStr, QuotedStr, BoolToStr, Include,
    Exclude, Max, Min, ExcCreate, ExcMessage, Count
};
}  // namespace bi

int builtinCount();
QString builtinName(int id);  // lower case
int builtinId(const QString &lowerName);
// True when a call with constant arguments may be evaluated while compiling.
bool builtinPure(int id);

}  // namespace pss
