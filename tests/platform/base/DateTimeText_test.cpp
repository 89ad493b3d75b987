// The date-time value (days since 30 December 1899) and its picture-string
// texts, in locales given explicitly so the machine's own never matters.
#include "platform/base/DateTimeText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

QT_BEGIN_NAMESPACE
// Failures show the text, not UTF-16 units.
inline void PrintTo(const QString &text, std::ostream *os) { *os << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace {

TDateTime Value(int y, int m, int d, int h = 0, int n = 0, int s = 0, int ms = 0)
{
    TDateTime v = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(TryEncodeDateTime(y, m, d, h, n, s, ms, v)) << y << "-" << m << "-" << d;
    return v;
}

// Thursday 15 July 2004, 14:30:05.007.
const TDateTime kSample = Value(2004, 7, 15, 14, 30, 5, 7);

QString Fmt(const char *format, TDateTime v, const QLocale &locale = QLocale::c())
{
    return FormatDateTime(QString::fromUtf8(format), v, locale);
}

} // namespace

TEST(DateTimeValue, DaysCountFrom30December1899)
{
    EXPECT_EQ(Value(1899, 12, 30), 0);
    EXPECT_EQ(Value(1900, 1, 1), 2);
    EXPECT_EQ(Value(2004, 7, 15), 38183);
    EXPECT_EQ(Value(1, 1, 1), -693593);
    EXPECT_EQ(Value(9999, 12, 31), 2958465);
    EXPECT_EQ(Value(2000, 1, 1, 18), 36526.75);
    // Before day 0 the time still counts forward from midnight.
    EXPECT_EQ(Value(1899, 12, 29, 6), -1.25);

    TDateTimeFields f;
    ASSERT_TRUE(DecodeDateTime(-1.25, f));
    EXPECT_EQ(std::vector<int>({f.Year, f.Month, f.Day, f.Hour}), std::vector<int>({1899, 12, 29, 6}));
    ASSERT_TRUE(DecodeDateTime(-0.25, f));
    EXPECT_EQ(std::vector<int>({f.Year, f.Month, f.Day, f.Hour}), std::vector<int>({1899, 12, 30, 6}));
    ASSERT_TRUE(DecodeDateTime(kSample, f));
    EXPECT_EQ(std::vector<int>({f.Year, f.Month, f.Day, f.Hour, f.Minute, f.Second, f.MilliSecond, f.DayOfWeek}),
              std::vector<int>({2004, 7, 15, 14, 30, 5, 7, 5}));
    // A value a hair below midnight rounds to the next day's midnight.
    ASSERT_TRUE(DecodeDateTime(38183.9999999999, f));
    EXPECT_EQ(std::vector<int>({f.Day, f.Hour, f.Minute, f.Second, f.MilliSecond}), std::vector<int>({16, 0, 0, 0, 0}));
}

TEST(DateTimeValue, ImpossibleFieldsAreRefusedAndLeaveTheValueAlone)
{
    const int fields[][7] = {{2003, 2, 29, 0, 0, 0, 0},  {1900, 2, 29, 0, 0, 0, 0}, {2004, 4, 31, 0, 0, 0, 0},
                             {2004, 13, 1, 0, 0, 0, 0},  {0, 1, 1, 0, 0, 0, 0},     {10000, 1, 1, 0, 0, 0, 0},
                             {2004, 7, 15, 24, 0, 0, 0}, {2004, 7, 15, 0, 60, 0, 0}, {2004, 7, 15, 0, 0, 60, 0},
                             {2004, 7, 15, 0, 0, 0, 1000}, {2004, 7, 15, -1, 0, 0, 0}};
    for (const auto &f : fields) {
        TDateTime v = 42;
        EXPECT_FALSE(TryEncodeDateTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6], v)) << f[0] << "-" << f[1] << "-" << f[2];
        EXPECT_EQ(v, 42);
    }
    TDateTime v = 42;
    EXPECT_TRUE(TryEncodeDate(2000, 2, 29, v));
    TDateTimeFields out;
    for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, 2958466.0, -693594.0})
        EXPECT_FALSE(DecodeDateTime(bad, out)) << bad;
}

// Every few hundred days over the whole range, with a moving time of day:
// fields survive the round trip, and the text matches Qt's own for the same
// wall-clock fields.
TEST(DateTimeValue, RoundTripsAndAgreesWithQtOverTheWholeRange)
{
    int checked = 0;
    for (qint64 jd = QDate(1, 1, 1).toJulianDay(); jd <= QDate(9999, 12, 31).toJulianDay(); jd += 397) {
        const QDate date = QDate::fromJulianDay(jd);
        const QTime time = QTime::fromMSecsSinceStartOfDay(int((jd * 7919) % 86400000));
        TDateTime v = 0;
        ASSERT_TRUE(TryEncodeDateTime(date.year(), date.month(), date.day(), time.hour(), time.minute(),
                                      time.second(), time.msec(), v));
        const QDateTime back = DateTimeToQDateTime(v, Qt::UTC);
        ASSERT_EQ(back, QDateTime(date, time, Qt::UTC)) << date.toString(Qt::ISODate).toStdString();
        TDateTime again = 0;
        ASSERT_TRUE(QDateTimeToDateTime(back, again));
        EXPECT_EQ(again, v);
        EXPECT_EQ(Fmt("yyyy-mm-dd hh:nn:ss.zzz ddd", v),
                  QLocale::c().toString(back, QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ddd")));
        ++checked;
    }
    EXPECT_GT(checked, 9000);
}

TEST(DateTimeValue, QDateTimeEdges)
{
    EXPECT_EQ(DateTimeToQDateTime(-1.25, Qt::UTC), QDateTime(QDate(1899, 12, 29), QTime(6, 0), Qt::UTC));
    EXPECT_FALSE(DateTimeToQDateTime(std::nan("")).isValid());
    TDateTime v = 42;
    EXPECT_FALSE(QDateTimeToDateTime(QDateTime(), v));
    EXPECT_FALSE(QDateTimeToDateTime(QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC), v));
    EXPECT_EQ(v, 42);
    // The wall clock is taken as it reads, whatever the time spec.
    ASSERT_TRUE(QDateTimeToDateTime(QDateTime(QDate(2004, 7, 15), QTime(14, 30, 5, 7), Qt::OffsetFromUTC, 3600), v));
    EXPECT_EQ(v, kSample);
}

TEST(FormatDateTime, PictureFields)
{
    const struct {
        const char *format;
        const char *text;
    } cases[] = {
        {"yyyy-mm-dd hh:nn:ss.zzz", "2004-07-15 14:30:05.007"},
        {"d/m/yy", "15/7/04"},
        {"y yyy yyyyy", "04 2004 2004"},
        {"mmm mmmm mmmmmm ddd dddd", "Jul July July Thu Thursday"},
        {"MMM DDDD", "Jul Thursday"},
        {"z zz zzzz", "7 07 007"},
        {"n nn nnn s ss sss", "30 30 30 5 05 05"},
        // m right after h (letters apart) is minutes; after anything else, month.
        {"hh:mm", "14:30"},
        {"h:mm:ss mm", "14:30:05 07"},
        {"mm hh", "07 14"},
        {"hh'x'mm", "14x30"},
        // Twelve hours when the next a or h ahead starts an am/pm field.
        {"h am/pm", "2 pm"},
        {"h AM/PM", "2 PM"},
        {"h Am/pM", "2 pM"},
        {"h a/p", "2 p"},
        {"h A/P", "2 P"},
        {"h ampm", "2 PM"},
        {"hh 'a' ampm", "02 a PM"},
        {"hh:nn h ampm", "14:30 2 PM"},
        {"h 'ampm'", "14 ampm"},
        // Quoted text and literals.
        {"'hh' hh \"mm\"", "hh 14 mm"},
        {"\"it's\" d", "it's 15"},
        {"'open", "open"},
        {"x#! a ab", "x#! a ab"},
        // Locale formats: C has "d MMM yyyy", "dddd, d MMMM yyyy", "HH:mm:ss".
        {"ddddd", "15 Jul 2004"},
        {"dddddd", "Thursday, 15 July 2004"},
        {"dddddddd", "Thursday, 15 July 2004"},
        {"t", "14:30:05"},
        {"tt", "14:30:05"},
        {"c", "15 Jul 2004 14:30:05"},
        {"", "15 Jul 2004 14:30:05"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Fmt(c.format, kSample), QString::fromUtf8(c.text)) << c.format;
}

TEST(FormatDateTime, HoursDaysAndValuesAtTheEdges)
{
    const struct {
        int hour;
        const char *twelve;
    } cases[] = {{0, "12:15 am"}, {11, "11:15 am"}, {12, "12:15 pm"}, {23, "11:15 pm"}};
    for (const auto &c : cases)
        EXPECT_EQ(Fmt("h:nn am/pm", Value(2004, 7, 15, c.hour, 15)), c.twelve);
    // "c" leaves the time out at midnight (milliseconds do not count).
    EXPECT_EQ(Fmt("c", Value(2004, 7, 15, 0, 0, 0, 500)), "15 Jul 2004");
    EXPECT_EQ(Fmt("c", Value(2004, 7, 15, 0, 0, 1)), "15 Jul 2004 00:00:01");

    EXPECT_EQ(Fmt("yyyy-mm-dd hh:nn", -1.25), "1899-12-29 06:00");
    EXPECT_EQ(Fmt("yyyy-mm-dd hh:nn", -0.25), "1899-12-30 06:00");
    EXPECT_EQ(Fmt("yyyy yy dddd", Value(99, 3, 1)), "0099 99 Sunday");
    for (double bad : {std::nan(""), 1e300, -1e7})
        EXPECT_EQ(Fmt("'text' yyyy", bad), "") << bad;
}

TEST(FormatDateTime, LocaleNamesSeparatorsAndFormats)
{
    const QLocale us("en_US");
    EXPECT_EQ(Fmt("dddddd - tt", kSample, us), "Thursday, July 15, 2004 - 2:30:05 PM");
    EXPECT_EQ(Fmt("ddddd", kSample, us), "7/15/04");
    EXPECT_EQ(Fmt("t", kSample, us), "2:30 PM");
    EXPECT_EQ(Fmt("c", kSample, us), "7/15/04 2:30:05 PM");
    EXPECT_EQ(Fmt("c", Value(2004, 7, 15), us), "7/15/04");
    EXPECT_EQ(Fmt("dd/mm/yyyy hh:nn", kSample, us), "15/07/2004 14:30");

    const QLocale de("de_DE");
    EXPECT_EQ(Fmt("dddddd - tt", kSample, de), "Donnerstag, 15. Juli 2004 - 14:30:05");
    EXPECT_EQ(Fmt("ddddd", kSample, de), "15.07.04");
    EXPECT_EQ(Fmt("t", kSample, de), "14:30");
    EXPECT_EQ(Fmt("dd/mm/yyyy", kSample, de), "15.07.2004");
    EXPECT_EQ(Fmt("ddd mmm", Value(2004, 3, 1), de), "Mo. März");

    const QLocale fi("fi_FI");
    EXPECT_EQ(Fmt("hh:nn", kSample, fi), "14.30");
    EXPECT_EQ(Fmt("d/m/yyyy", kSample, fi), "15.7.2004");
}

// The short and long formats of several locales, translated, give what Qt
// gives with the same patterns (less the time zone).
TEST(FormatDateTime, LocaleFormatsMatchQt)
{
    const QDateTime moments[] = {QDateTime(QDate(2004, 7, 15), QTime(14, 30, 5)),
                                 QDateTime(QDate(1987, 3, 5), QTime(0, 5, 9)),
                                 QDateTime(QDate(2031, 12, 24), QTime(12, 0, 0))};
    for (const char *name : {"C", "en_US", "en_GB", "de_DE", "fr_FR", "fi_FI", "ja_JP", "pt_BR"}) {
        const QLocale l(QString::fromLatin1(name));
        for (const QDateTime &m : moments) {
            SCOPED_TRACE(std::string(name) + " " + m.toString(Qt::ISODate).toStdString());
            TDateTime v = 0;
            ASSERT_TRUE(QDateTimeToDateTime(m, v));
            EXPECT_EQ(Fmt("ddddd", v, l), l.toString(m.date(), QLocale::ShortFormat));
            EXPECT_EQ(Fmt("dddddd", v, l), l.toString(m.date(), QLocale::LongFormat));
            EXPECT_EQ(Fmt("t", v, l), l.toString(m.time(), QLocale::ShortFormat));
            const QString qtLongTime = l.timeFormat(QLocale::LongFormat);
            ASSERT_TRUE(qtLongTime.endsWith(QLatin1String(" t")));
            EXPECT_EQ(Fmt("tt", v, l), l.toString(m.time(), qtLongTime.chopped(2)));
        }
    }
}

TEST(FormatDateTime, QtPatternsBecomePictures)
{
    const QChar slash = u'/', colon = u':';
    EXPECT_EQ(PictureFromQtFormat("h:mm:ss AP t", slash, colon), "h:nn:ss ampm");
    EXPECT_EQ(PictureFromQtFormat("t HH:mm", slash, colon), "hh:nn");
    EXPECT_EQ(PictureFromQtFormat("dddd, MMMM d, yyyy", slash, colon), "dddd, mmmm d, yyyy");
    EXPECT_EQ(PictureFromQtFormat("'de' MMMM", slash, colon), "'de' mmmm");
    // Separators stay separators only where the locale's are the same marks.
    EXPECT_EQ(PictureFromQtFormat("M/d/yy", slash, colon), "m/d/yy");
    EXPECT_EQ(PictureFromQtFormat("M/d/yy", u'.', colon), "m'/'d'/'yy");
    // Qt splits long runs into fields that must stay apart.
    const TFormatSettings c = FormatSettingsFromLocale(QLocale::c());
    const struct {
        const char *qt;
        const char *text;
    } cases[] = {
        {"ddddd", "Thursday15"}, {"yyy", "04y"}, {"d 'o''clock'", "15 o'clock"}, {"''HH", "'14"},
        {"hh AP", "02 PM"}, {"zzz ss", "007 05"}, {"MMMMM", "July7"},
    };
    for (const auto &k : cases) {
        const QString picture = PictureFromQtFormat(QString::fromLatin1(k.qt), c.DateSeparator, c.TimeSeparator);
        EXPECT_EQ(FormatDateTime(picture, kSample, c), QString::fromLatin1(k.text)) << k.qt << " -> " << picture.toStdString();
    }
}

// A locale format that names locale formats cannot loop: inside one, they
// are ignored.
TEST(FormatDateTime, NestedLocaleFormatsStopAtOneLevel)
{
    TFormatSettings s = FormatSettingsFromLocale(QLocale::c());
    s.LongTimeFormat = QStringLiteral("hh 'h' tt");
    s.ShortDateFormat = QStringLiteral("ddddd c yy");
    EXPECT_EQ(FormatDateTime(QStringLiteral("tt"), kSample, s), "14 h ");
    EXPECT_EQ(FormatDateTime(QStringLiteral("ddddd"), kSample, s), "   04");
}
