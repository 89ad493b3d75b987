// The ini store of the preferences: the file as lines in memory, its text
// encodings and value escaping.
#include "uPreferences.h"

#include "platform/registry/RegHive.h"
#include "platform/registry/Registry.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>

namespace {

const QChar kBackslash = QLatin1Char('\\');

// Marks an ini value that was escaped because a line cannot hold it. A
// private-use character, so no hand-written or older file starts with it.
const QChar kEscapeMarker = QChar(0xE000);

bool IsHeader(const QString &line)
{
    return line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'));
}

bool HasLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

// Names the line format could not give back: "name=value" splits at the
// first "=", and a leading "[" could turn the line into a header.
bool IsValidIniName(const QString &name)
{
    return !name.contains(QLatin1Char('=')) && !HasLineBreak(name)
           && !name.startsWith(QLatin1Char('['));
}

QString HeaderOf(const QString &path)
{
    return QLatin1Char('[') + path + QLatin1Char(']');
}

QString DecodeWith(QStringConverter::Encoding encoding, QByteArrayView bytes, bool *error)
{
    QStringDecoder decoder(encoding, QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
    QString text = decoder(bytes);
    if (error)
        *error = decoder.hasError();
    return text;
}

QString DecodeText(const QByteArray &bytes)
{
    const auto *raw = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype n = bytes.size();
    if (n >= 2 && raw[0] == 0xFF && raw[1] == 0xFE)
        return reg::DecodeUtf16(QByteArrayView(bytes).sliced(2), false);  // an odd last byte is dropped
    if (n >= 2 && raw[0] == 0xFE && raw[1] == 0xFF)
        return reg::DecodeUtf16(QByteArrayView(bytes).sliced(2), true);
    if (n >= 3 && raw[0] == 0xEF && raw[1] == 0xBB && raw[2] == 0xBF)
        return DecodeWith(QStringConverter::Utf8, QByteArrayView(bytes).sliced(3), nullptr);
    bool error = false;
    QString text = DecodeWith(QStringConverter::System, bytes, &error);
    if (error)
        text = QString::fromLatin1(bytes);
    return text;
}

// CR LF, CR and LF all end a line; a final line break adds no empty line.
QStringList SplitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines.append(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

// Doubles go out with a point whatever the user's settings, and come back
// with a point or the user's separator; group separators are never taken, so
// "1,500" cannot become fifteen hundred.
QString FloatToText(double value)
{
    const QString text = QLocale::c().toString(value, 'g', 15);
    // Near the largest double, fifteen digits round past it and would read
    // back as no number at all: those take the digits that round-trip.
    bool ok = false;
    QLocale::c().toDouble(text, &ok);
    return ok ? text : QLocale::c().toString(value, 'g', 17);
}

}  // namespace

std::optional<double> ParseDouble(const QString &text)
{
    const QString t = text.trimmed();
    // The default locale is the user's unless the program set one.
    for (QLocale locale : {QLocale::c(), QLocale(), QLocale::system()}) {
        locale.setNumberOptions(QLocale::RejectGroupSeparator);
        bool ok = false;
        const double v = locale.toDouble(t, &ok);
        if (ok)
            return v;
    }
    return std::nullopt;
}

TIniPreferencesMan::TIniPreferencesMan(const QString &fileName)
    : FFileName(fileName)
{
    QFile file(fileName);
    const bool exists = QFileInfo(fileName).isFile();
    if (exists && file.open(QIODevice::ReadOnly))
        Load(file.readAll());
    else
        Load(QByteArray());
    // A new file is written even if nothing is stored in it, so that the mode
    // it stands for is found again at the next start.
    FDirty = !exists;
}

TIniPreferencesMan::TIniPreferencesMan(const QString &fileName, const QByteArray &contents)
    : FFileName(fileName)
{
    Load(contents);
}

TIniPreferencesMan::~TIniPreferencesMan()
{
    if (FDirty)
        Flush();
}

void TIniPreferencesMan::Load(const QByteArray &contents)
{
    FLines = Decode(contents);
    // A file without a root header still has a root: its top lines.
    if (FindHeader(QString()) < 0)
        FLines.prepend(HeaderOf(QString()));
    FPath.clear();
    FSection = FindHeader(QString());
}

QStringList TIniPreferencesMan::Decode(const QByteArray &bytes)
{
    return SplitLines(DecodeText(bytes));
}

QByteArray TIniPreferencesMan::Encode() const
{
    QByteArray out;
    out.reserve(2 + 64 * FLines.size());
    out.append("\xFF\xFE", 2);
    for (const QString &line : FLines) {
        out += reg::EncodeUtf16LE(line);
        out.append("\r\0\n\0", 4);
    }
    return out;
}

bool TIniPreferencesMan::Flush()
{
    if (FFileName.isEmpty() || !reg::ReplaceFile(FFileName, Encode()))
        return false;
    FDirty = false;
    return true;
}

QString TIniPreferencesMan::EscapeValue(const QString &value)
{
    if (!HasLineBreak(value) && !value.startsWith(kEscapeMarker))
        return value;
    QString out(kEscapeMarker);
    out.reserve(value.size() + 8);
    for (QChar c : value) {
        if (c == kBackslash)
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else
            out += c;
    }
    return out;
}

QString TIniPreferencesMan::UnescapeValue(const QString &stored)
{
    if (!stored.startsWith(kEscapeMarker))
        return stored;
    QString out;
    out.reserve(stored.size());
    const qsizetype n = stored.size();
    for (qsizetype i = 1; i < n; ++i) {
        const QChar c = stored.at(i);
        if (c != kBackslash || i + 1 == n) {
            out += c;
            continue;
        }
        const QChar e = stored.at(++i);
        if (e == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else if (e == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (e == kBackslash)
            out += kBackslash;
        else
            out += QStringView(stored).sliced(i - 1, 2);  // not ours: keep it as it stands
    }
    return out;
}

int TIniPreferencesMan::FindHeader(const QString &path) const
{
    const QString header = HeaderOf(path);
    for (int i = 0; i < FLines.size(); ++i) {
        if (FLines.at(i).compare(header, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void TIniPreferencesMan::EnterSection(const QString &path)
{
    int index = FindHeader(path);
    if (index < 0) {
        FLines.append(QString());
        FLines.append(HeaderOf(path));
        index = int(FLines.size()) - 1;
        FDirty = true;
    }
    FSection = index;
    FPath = path;
}

int TIniPreferencesMan::SectionEnd() const
{
    for (int i = FSection + 1; i < FLines.size(); ++i) {
        const QString &line = FLines.at(i);
        if (line.isEmpty() || IsHeader(line))
            return i;
    }
    return int(FLines.size());
}

int TIniPreferencesMan::FindLine(const QString &name) const
{
    const int end = SectionEnd();
    for (int i = FSection + 1; i < end; ++i) {
        const QString &line = FLines.at(i);
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0 && QStringView(line).left(eq).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool TIniPreferencesMan::GetValueNames(QStringList &list)
{
    list.clear();
    const int end = SectionEnd();
    for (int i = FSection + 1; i < end; ++i) {
        const qsizetype eq = FLines.at(i).indexOf(QLatin1Char('='));
        if (eq >= 0)
            list.append(FLines.at(i).left(eq));
    }
    return true;
}

// Direct subsections only, as the registry lists them: a deeper header names
// its first part (once), and the root lists the top-level sections.
bool TIniPreferencesMan::GetKeyNames(QStringList &list)
{
    list.clear();
    const QString prefix = FPath.isEmpty() ? QStringLiteral("[") : QLatin1Char('[') + FPath + kBackslash;
    for (const QString &line : std::as_const(FLines)) {
        if (!IsHeader(line) || line.size() <= prefix.size()
            || !line.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        const QString rest = line.mid(prefix.size(), line.size() - prefix.size() - 1);
        const QString child = rest.section(kBackslash, 0, 0);
        if (!child.isEmpty() && !list.contains(child, Qt::CaseInsensitive))
            list.append(child);
    }
    return true;
}

// Always creates, whatever `create` says: a missing header is appended.
bool TIniPreferencesMan::OpenKey(const QString &name, bool)
{
    if (HasLineBreak(name))
        return false;
    EnterSection(ChildPath(name));
    return true;
}

bool TIniPreferencesMan::CloseKey()
{
    EnterSection(ParentPath());
    return true;
}

bool TIniPreferencesMan::WriteString(const QString &name, const QString &value)
{
    if (!IsValidIniName(name))
        return false;
    const QString line = name + QLatin1Char('=') + EscapeValue(value);
    const int index = FindLine(name);
    if (index >= 0) {
        if (FLines.at(index) == line)
            return true;
        FLines[index] = line;
    } else {
        FLines.insert(SectionEnd(), line);
    }
    FDirty = true;
    return true;
}

bool TIniPreferencesMan::ReadRaw(const QString &name, QString &text)
{
    const int index = FindLine(name);
    if (index < 0)
        return false;
    const QString &line = FLines.at(index);
    text = line.mid(line.indexOf(QLatin1Char('=')) + 1);
    return true;
}

bool TIniPreferencesMan::ReadString(const QString &name, QString &value)
{
    QString text;
    if (!ReadRaw(name, text))
        return false;
    value = UnescapeValue(text);
    return true;
}

bool TIniPreferencesMan::DeleteValue(const QString &name)
{
    const int index = FindLine(name);
    if (index < 0)
        return false;
    FLines.removeAt(index);
    FDirty = true;
    return true;
}

bool TIniPreferencesMan::WriteBool(const QString &name, bool value)
{
    return WriteString(name, value ? QStringLiteral("True") : QStringLiteral("False"));
}

// Exactly "True" or "False"; a hand-written "true" is not a Boolean.
bool TIniPreferencesMan::ReadBool(const QString &name, bool &value)
{
    QString text;
    if (!ReadString(name, text))
        return false;
    if (text == QLatin1String("True"))
        value = true;
    else if (text == QLatin1String("False"))
        value = false;
    else
        return false;
    return true;
}

bool TIniPreferencesMan::WriteInteger(const QString &name, int32_t value)
{
    return WriteString(name, QString::number(value));
}

// A present value that is not a number reads as 0.
bool TIniPreferencesMan::ReadInteger(const QString &name, int32_t &value)
{
    QString text;
    if (!ReadString(name, text))
        return false;
    bool ok = false;
    const int n = text.trimmed().toInt(&ok, 10);
    value = ok ? n : 0;
    return true;
}

bool TIniPreferencesMan::WriteFloat(const QString &name, double value)
{
    return WriteString(name, FloatToText(value));
}

bool TIniPreferencesMan::ReadFloat(const QString &name, double &value)
{
    QString text;
    if (!ReadString(name, text))
        return false;
    value = ParseDouble(text).value_or(0.0);
    return true;
}

