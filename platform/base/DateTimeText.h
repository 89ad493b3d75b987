// The date-time value the components exchange, and its texts.
//
// A TDateTime counts days since 30 December 1899; the fraction is the time of
// day. Before that day the integer part counts back while the fraction still
// counts forward from midnight: 29 December 1899 06:00 is -1.25, and -0.25
// reads as 30 December 1899 06:00. Years 1 to 9999.
//
// FormatDateTime takes the classic picture strings (c, d ... dddddd, m ...
// mmmm, yy, yyyy, h, hh, n, nn, s, ss, z, zzz, t, tt, am/pm, a/p, ampm, "/",
// ":", quoted text); stored date formats and scripts are written in them. The
// names, separators and short/long formats come from a QLocale.
//
// Pure functions and value types; any thread.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <array>

using TDateTime = double;

// False (out untouched) unless the fields form a real date of years 1..9999.
bool TryEncodeDate(int year, int month, int day, TDateTime &out);
// False (out untouched) unless 0 <= hour < 24, minute and second < 60 and
// ms < 1000. The result is the fraction of a day.
bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime &out);
// Both of the above; before 30 December 1899 the time is subtracted, so that
// the fraction keeps counting from midnight.
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms,
                       TDateTime &out);

struct TDateTimeFields {
    int Year = 0, Month = 0, Day = 0;
    int Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
    int DayOfWeek = 0;  // 1 = Sunday ... 7 = Saturday
};

// Rounded to the millisecond. False for NaN, infinities and values outside
// years 1..9999.
bool DecodeDateTime(TDateTime value, TDateTimeFields &out);

// The value's fields as a wall-clock QDateTime of `spec`; an invalid
// QDateTime when the value decodes to nothing.
QDateTime DateTimeToQDateTime(TDateTime value, Qt::TimeSpec spec = Qt::LocalTime);
// The wall-clock fields of `value` (in its own time spec). False (out
// untouched) for an invalid QDateTime or a year outside 1..9999.
bool QDateTimeToDateTime(const QDateTime &value, TDateTime &out);

// What FormatDateTime takes from a locale. The formats are picture strings
// of FormatDateTime itself (translated from the locale's own patterns).
struct TFormatSettings {
    QString ShortDateFormat, LongDateFormat;
    QString ShortTimeFormat, LongTimeFormat;  // without time zones
    QChar DateSeparator = u'/';
    QChar TimeSeparator = u':';
    QString TimeAMString, TimePMString;
    std::array<QString, 12> ShortMonthNames, LongMonthNames;
    std::array<QString, 7> ShortDayNames, LongDayNames;  // [0] is Sunday
};

TFormatSettings FormatSettingsFromLocale(const QLocale &locale);

// A QLocale date or time pattern as a picture string of FormatDateTime:
// letters that are no field are quoted, time-zone fields dropped with the
// blank before them.
QString PictureFromQtFormat(const QString &qtFormat, QChar dateSeparator, QChar timeSeparator);

// The text of `value` by the picture `format` (an empty format means "c").
// Letters are read without regard to case: "m" right after "h" or "hh" is
// minutes; "h" counts 12 hours when the next "a" or "h" ahead starts "am/pm",
// "a/p" or "ampm". Digits are always ASCII. A value that decodes to nothing
// gives an empty text.
QString FormatDateTime(const QString &format, TDateTime value, const TFormatSettings &settings);
QString FormatDateTime(const QString &format, TDateTime value, const QLocale &locale = QLocale());
