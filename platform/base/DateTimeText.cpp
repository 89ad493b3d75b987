#include "platform/base/DateTimeText.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr qint64 kJulianDayOfZero = 2415019;  // 30 December 1899
constexpr int kMinDay = -693593;              // 1 January 0001
constexpr int kMaxDay = 2958465;              // 31 December 9999
constexpr qint64 kMsPerDay = 86400000;

// ---- Picture strings ----

bool IsAsciiLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z');
}

char16_t UpperAscii(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') ? char16_t(u - 32) : u;
}

bool StartsWithAt(const QString &text, qsizetype at, QLatin1StringView what)
{
    return QStringView(text).mid(at).startsWith(what, Qt::CaseInsensitive);
}

QString Number(int value, int digits)
{
    return QString::number(value).rightJustified(digits, u'0');
}

// One picture string, appended level by level: a locale format inside a
// locale format is ignored, so a picture can never recurse for ever.
class Formatter {
public:
    Formatter(const TFormatSettings &settings, const TDateTimeFields &fields)
        : s(settings), f(fields) {}

    void Append(const QString &format);
    QString Text() const { return out; }

private:
    int Count(const QString &format, qsizetype &i, QChar starter) const;
    bool TwelveHoursAhead(const QString &format, qsizetype from) const;
    void AppendHour(const QString &format, qsizetype &i, QChar starter, bool &use12);
    void AppendAmPm(const QString &format, qsizetype &i, QChar starter, bool &use12);
    void AppendDay(int count);
    void AppendMonth(int count);

    const TFormatSettings &s;
    const TDateTimeFields &f;
    QString out;
    int level = 0;
};

int Formatter::Count(const QString &format, qsizetype &i, QChar starter) const
{
    int count = 1;
    for (; i < format.size() && format[i] == starter; ++i)
        ++count;
    return count;
}

// An hour counts 12 when the next "a" or "h" ahead (outside quotes) starts
// an am/pm field.
bool Formatter::TwelveHoursAhead(const QString &format, qsizetype from) const
{
    bool quoted = false;
    for (qsizetype p = from; p < format.size(); ++p) {
        const char16_t c = UpperAscii(format[p]);
        if (c == u'A' && !quoted)
            return StartsWithAt(format, p, QLatin1StringView("AM/PM"))
                || StartsWithAt(format, p, QLatin1StringView("A/P"))
                || StartsWithAt(format, p, QLatin1StringView("AMPM"));
        if (c == u'H')
            return false;
        if (c == u'\'' || c == u'"')
            quoted = !quoted;
    }
    return false;
}

void Formatter::AppendHour(const QString &format, qsizetype &i, QChar starter, bool &use12)
{
    const int count = Count(format, i, starter);
    if (TwelveHoursAhead(format, i))
        use12 = true;
    int hour = f.Hour;
    if (use12)
        hour = hour == 0 ? 12 : hour > 12 ? hour - 12 : hour;
    out += Number(hour, std::min(count, 2));
}

void Formatter::AppendAmPm(const QString &format, qsizetype &i, QChar starter, bool &use12)
{
    const qsizetype at = i - 1;
    const bool pm = f.Hour >= 12;
    if (StartsWithAt(format, at, QLatin1StringView("AM/PM"))) {
        out += format.mid(at + (pm ? 3 : 0), 2);  // in the case it was written
        i += 4;
    } else if (StartsWithAt(format, at, QLatin1StringView("A/P"))) {
        out += format.mid(at + (pm ? 2 : 0), 1);
        i += 2;
    } else if (StartsWithAt(format, at, QLatin1StringView("AMPM"))) {
        out += pm ? s.TimePMString : s.TimeAMString;
        i += 3;
    } else {
        out += starter;
        return;
    }
    use12 = true;
}

void Formatter::AppendDay(int count)
{
    switch (count) {
    case 1:
    case 2: out += Number(f.Day, count); break;
    case 3: out += s.ShortDayNames[f.DayOfWeek - 1]; break;
    case 4: out += s.LongDayNames[f.DayOfWeek - 1]; break;
    case 5: Append(s.ShortDateFormat); break;
    default: Append(s.LongDateFormat); break;
    }
}

void Formatter::AppendMonth(int count)
{
    if (count <= 2)
        out += Number(f.Month, count);
    else
        out += count == 3 ? s.ShortMonthNames[f.Month - 1] : s.LongMonthNames[f.Month - 1];
}

void Formatter::Append(const QString &format)
{
    if (level >= 2)
        return;
    ++level;
    char16_t lastToken = u' ';
    bool use12 = false;
    qsizetype i = 0;
    while (i < format.size()) {
        const QChar starter = format[i++];
        char16_t token = UpperAscii(starter);
        if (IsAsciiLetter(starter)) {
            if (token == u'M' && lastToken == u'H')
                token = u'N';
            lastToken = token;
        }
        switch (token) {
        case u'Y': {
            const int count = Count(format, i, starter);
            out += count <= 2 ? Number(f.Year % 100, 2) : Number(f.Year, 4);
            break;
        }
        case u'M': AppendMonth(Count(format, i, starter)); break;
        case u'D': AppendDay(Count(format, i, starter)); break;
        case u'H': AppendHour(format, i, starter, use12); break;
        case u'N': out += Number(f.Minute, std::min(Count(format, i, starter), 2)); break;
        case u'S': out += Number(f.Second, std::min(Count(format, i, starter), 2)); break;
        case u'Z': out += Number(f.MilliSecond, std::min(Count(format, i, starter), 3)); break;
        case u'T': Append(Count(format, i, starter) == 1 ? s.ShortTimeFormat : s.LongTimeFormat); break;
        case u'A': AppendAmPm(format, i, starter, use12); break;
        case u'C':
            Count(format, i, starter);
            Append(s.ShortDateFormat);
            if (f.Hour != 0 || f.Minute != 0 || f.Second != 0) {
                out += u' ';
                Append(s.LongTimeFormat);
            }
            break;
        case u'/':
            if (!s.DateSeparator.isNull())
                out += s.DateSeparator;
            break;
        case u':':
            if (!s.TimeSeparator.isNull())
                out += s.TimeSeparator;
            break;
        case u'\'':
        case u'"': {
            const qsizetype start = i;
            while (i < format.size() && format[i] != starter)
                ++i;
            out += QStringView(format).mid(start, i - start);
            if (i < format.size())
                ++i;
            break;
        }
        default: out += starter; break;
        }
    }
    --level;
}

// ---- Locale patterns ----

enum class PieceKind { Field, Zone, Literal };
struct Piece {
    PieceKind kind;
    QString text;
};

int RunLength(const QString &format, qsizetype i)
{
    int run = 1;
    while (i + run < format.size() && format[i + run] == format[i])
        ++run;
    return run;
}

// Qt's quoted text: 'text', with '' for a quote inside or outside.
qsizetype ReadQtQuoted(const QString &format, qsizetype i, QString &literal)
{
    if (i + 1 < format.size() && format[i + 1] == u'\'') {
        literal += u'\'';
        return i + 2;
    }
    qsizetype j = i + 1;
    while (j < format.size()) {
        if (format[j] == u'\'') {
            if (j + 1 < format.size() && format[j + 1] == u'\'') {
                literal += u'\'';
                j += 2;
                continue;
            }
            return j + 1;
        }
        literal += format[j++];
    }
    return j;
}

// The field a Qt pattern letter starts and how many letters it takes; Qt
// splits runs longer than a field into several fields.
Piece QtField(const QString &format, qsizetype i, int &take)
{
    const QChar c = format[i];
    const int run = RunLength(format, i);
    switch (c.unicode()) {
    case u'd': take = std::min(run, 4); return {PieceKind::Field, QString(take, u'd')};
    case u'M': take = std::min(run, 4); return {PieceKind::Field, QString(take, u'm')};
    case u'y':
        take = run >= 4 ? 4 : run >= 2 ? 2 : 1;
        return take == 1 ? Piece{PieceKind::Literal, QStringLiteral("y")} : Piece{PieceKind::Field, QString(take, u'y')};
    case u'h':
    case u'H': take = std::min(run, 2); return {PieceKind::Field, QString(take, u'h')};
    case u'm': take = std::min(run, 2); return {PieceKind::Field, QString(take, u'n')};
    case u's': take = std::min(run, 2); return {PieceKind::Field, QString(take, u's')};
    case u'z': take = run >= 3 ? 3 : 1; return {PieceKind::Field, QString(take, u'z')};
    case u'A':
    case u'a': {
        const QChar p = c == u'A' ? u'P' : u'p';
        take = i + 1 < format.size() && format[i + 1] == p ? 2 : 1;
        return {PieceKind::Field, QStringLiteral("ampm")};
    }
    case u't': take = run; return {PieceKind::Zone, {}};
    default: take = 1; return {PieceKind::Literal, QString(c)};
    }
}

std::vector<Piece> SplitQtFormat(const QString &format)
{
    std::vector<Piece> pieces;
    auto addLiteral = [&pieces](const QString &text) {
        if (!pieces.empty() && pieces.back().kind == PieceKind::Literal)
            pieces.back().text += text;
        else
            pieces.push_back({PieceKind::Literal, text});
    };
    qsizetype i = 0;
    while (i < format.size()) {
        if (format[i] == u'\'') {
            QString literal;
            i = ReadQtQuoted(format, i, literal);
            addLiteral(literal);
            continue;
        }
        int take = 1;
        Piece piece = QtField(format, i, take);
        i += take;
        if (piece.kind == PieceKind::Literal)
            addLiteral(piece.text);
        else
            pieces.push_back(std::move(piece));
    }
    return pieces;
}

// Time zones have no place in a picture string; the blank that set one off
// goes with it.
void DropZones(std::vector<Piece> &pieces)
{
    for (size_t k = 0; k < pieces.size();) {
        if (pieces[k].kind != PieceKind::Zone) {
            ++k;
            continue;
        }
        pieces.erase(pieces.begin() + k);
        if (k > 0 && pieces[k - 1].kind == PieceKind::Literal) {
            QString &prev = pieces[k - 1].text;
            while (!prev.isEmpty() && prev.back().isSpace())
                prev.chop(1);
        } else if (k < pieces.size() && pieces[k].kind == PieceKind::Literal) {
            QString &next = pieces[k].text;
            while (!next.isEmpty() && next.front().isSpace())
                next.remove(0, 1);
        }
    }
}

QString QuoteLiteral(const QString &text, QChar dateSeparator, QChar timeSeparator)
{
    QString out;
    QString quoted;
    auto flush = [&] {
        if (!quoted.isEmpty())
            out += u'\'' + quoted + u'\'';
        quoted.clear();
    };
    for (QChar c : text) {
        if (c == u'\'') {
            flush();
            out += QStringLiteral("\"'\"");
        } else if (c == u'"') {
            flush();
            out += QStringLiteral("'\"'");
        } else if (IsAsciiLetter(c) || (c == u'/' && dateSeparator != u'/')
                   || (c == u':' && timeSeparator != u':')) {
            quoted += c;
        } else {
            flush();
            out += c;
        }
    }
    flush();
    return out;
}

// The first printable mark between the fields of a Qt pattern.
QChar SeparatorOf(const QString &qtFormat, QChar fallback)
{
    bool quoted = false;
    for (QChar c : qtFormat) {
        if (c == u'\'')
            quoted = !quoted;
        else if (!quoted && c.isPrint() && !c.isLetterOrNumber() && !c.isSpace())
            return c;
    }
    return fallback;
}

} // namespace

bool TryEncodeDate(int year, int month, int day, TDateTime &out)
{
    if (year < 1 || year > 9999 || !QDate::isValid(year, month, day))
        return false;
    out = static_cast<TDateTime>(QDate(year, month, day).toJulianDay() - kJulianDayOfZero);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime &out)
{
    if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 || ms < 0 || ms >= 1000)
        return false;
    out = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + ms) / kMsPerDay;
    return true;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms,
                       TDateTime &out)
{
    TDateTime date = 0;
    TDateTime time = 0;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, ms, time))
        return false;
    out = date >= 0 ? date + time : date - time;
    return true;
}

bool DecodeDateTime(TDateTime value, TDateTimeFields &out)
{
    // The range check first, so that the product below cannot overflow.
    if (!std::isfinite(value) || value <= kMinDay - 1.0 || value >= kMaxDay + 1.0)
        return false;
    const qint64 ms = static_cast<qint64>(std::nearbyint(value * kMsPerDay));
    const qint64 day = ms / kMsPerDay;  // toward zero: the fraction counts from midnight
    if (day < kMinDay || day > kMaxDay)
        return false;
    const qint64 time = std::llabs(ms) % kMsPerDay;
    const QDate date = QDate::fromJulianDay(day + kJulianDayOfZero);
    out.Year = date.year();
    out.Month = date.month();
    out.Day = date.day();
    out.DayOfWeek = date.dayOfWeek() % 7 + 1;
    out.Hour = static_cast<int>(time / 3600000);
    out.Minute = static_cast<int>(time / 60000 % 60);
    out.Second = static_cast<int>(time / 1000 % 60);
    out.MilliSecond = static_cast<int>(time % 1000);
    return true;
}

QDateTime DateTimeToQDateTime(TDateTime value, Qt::TimeSpec spec)
{
    TDateTimeFields f;
    if (!DecodeDateTime(value, f))
        return {};
    return QDateTime(QDate(f.Year, f.Month, f.Day), QTime(f.Hour, f.Minute, f.Second, f.MilliSecond), spec);
}

bool QDateTimeToDateTime(const QDateTime &value, TDateTime &out)
{
    if (!value.isValid())
        return false;
    const QDate d = value.date();
    const QTime t = value.time();
    return TryEncodeDateTime(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec(), out);
}

QString PictureFromQtFormat(const QString &qtFormat, QChar dateSeparator, QChar timeSeparator)
{
    std::vector<Piece> pieces = SplitQtFormat(qtFormat);
    DropZones(pieces);
    QString out;
    QChar lastField;
    for (const Piece &p : pieces) {
        if (p.kind == PieceKind::Literal) {
            out += QuoteLiteral(p.text, dateSeparator, timeSeparator);
            lastField = QChar();
            continue;
        }
        // Two fields of one letter would read as one: an empty quote parts them.
        if (!lastField.isNull() && p.text.front() == lastField)
            out += QStringLiteral("''");
        out += p.text;
        lastField = p.text.back();
    }
    return out;
}

TFormatSettings FormatSettingsFromLocale(const QLocale &locale)
{
    TFormatSettings s;
    const QString shortDate = locale.dateFormat(QLocale::ShortFormat);
    const QString shortTime = locale.timeFormat(QLocale::ShortFormat);
    s.DateSeparator = SeparatorOf(shortDate, u'/');
    s.TimeSeparator = SeparatorOf(shortTime, u':');
    s.ShortDateFormat = PictureFromQtFormat(shortDate, s.DateSeparator, s.TimeSeparator);
    s.LongDateFormat = PictureFromQtFormat(locale.dateFormat(QLocale::LongFormat), s.DateSeparator, s.TimeSeparator);
    s.ShortTimeFormat = PictureFromQtFormat(shortTime, s.DateSeparator, s.TimeSeparator);
    s.LongTimeFormat = PictureFromQtFormat(locale.timeFormat(QLocale::LongFormat), s.DateSeparator, s.TimeSeparator);
    s.TimeAMString = locale.amText();
    s.TimePMString = locale.pmText();
    for (int m = 1; m <= 12; ++m) {
        s.ShortMonthNames[m - 1] = locale.monthName(m, QLocale::ShortFormat);
        s.LongMonthNames[m - 1] = locale.monthName(m, QLocale::LongFormat);
    }
    for (int d = 0; d < 7; ++d) {
        const int qtDay = d == 0 ? 7 : d;  // Qt counts from Monday
        s.ShortDayNames[d] = locale.dayName(qtDay, QLocale::ShortFormat);
        s.LongDayNames[d] = locale.dayName(qtDay, QLocale::LongFormat);
    }
    return s;
}

QString FormatDateTime(const QString &format, TDateTime value, const TFormatSettings &settings)
{
    TDateTimeFields fields;
    if (!DecodeDateTime(value, fields))
        return {};
    Formatter formatter(settings, fields);
    formatter.Append(format.isEmpty() ? QStringLiteral("c") : format);
    return formatter.Text();
}

QString FormatDateTime(const QString &format, TDateTime value, const QLocale &locale)
{
    return FormatDateTime(format, value, FormatSettingsFromLocale(locale));
}
