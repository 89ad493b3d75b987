#include "platform/registry/RegHive.h"

#include <QStringDecoder>

#include <algorithm>

namespace reg {

namespace {

constexpr QStringView kRootName = u"HKEY_CURRENT_USER";
constexpr QStringView kHeader5 = u"Windows Registry Editor Version 5.00";
constexpr QStringView kHeader4 = u"REGEDIT4";
// The registry's own limit; it also bounds recursion over the tree.
constexpr int kMaxDepth = 512;
// Hex data is wrapped like the registry editor does, after about 76 columns.
constexpr int kWrapColumn = 76;

int compareNames(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive);
}

QString fromUtf16(const QByteArray &bytes, qsizetype start, bool bigEndian)
{
    bool odd = false;
    QString out = DecodeUtf16(QByteArrayView(bytes).sliced(start), bigEndian, &odd);
    if (odd)  // keep a visible trace rather than drop it
        out.append(QChar::ReplacementCharacter);
    return out;
}

QString fromUtf8OrLatin1(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless
                               | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

std::optional<uint32_t> parseHexNumber(QStringView digits, int maxDigits)
{
    if (digits.isEmpty() || digits.size() > maxDigits)
        return std::nullopt;
    uint32_t value = 0;
    for (QChar c : digits) {
        const char16_t u = c.unicode();
        int d = -1;
        if (u >= u'0' && u <= u'9')
            d = u - u'0';
        else if (u >= u'a' && u <= u'f')
            d = u - u'a' + 10;
        else if (u >= u'A' && u <= u'F')
            d = u - u'A' + 10;
        if (d < 0)
            return std::nullopt;
        value = value << 4 | uint32_t(d);
    }
    return value;
}

}  // namespace

// ---- values

RegValue RegValue::String(const QString &text)
{
    return {REG_SZ, EncodeUtf16LE(text) + QByteArray(2, '\0')};
}

RegValue RegValue::Dword(uint32_t value)
{
    QByteArray data(4, '\0');
    for (int i = 0; i < 4; ++i)
        data[i] = char((value >> (8 * i)) & 0xFF);
    return {REG_DWORD, data};
}

RegValue RegValue::Binary(const QByteArray &bytes)
{
    return {REG_BINARY, bytes};
}

QString RegValue::ToString() const
{
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return {};
    QString text = DecodeUtf16(data, false);  // an odd last byte is dropped
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

std::optional<uint32_t> RegValue::ToDword() const
{
    if (data.size() != 4)
        return std::nullopt;
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | uchar(data[i]);
    return value;
}

// ---- keys and hive

RegKey *RegKey::subkey(QStringView keyName)
{
    return const_cast<RegKey *>(std::as_const(*this).subkey(keyName));
}

const RegKey *RegKey::subkey(QStringView keyName) const
{
    auto it = std::lower_bound(subkeys.begin(), subkeys.end(), keyName,
        [](const RegKey &k, QStringView n) { return compareNames(k.name, n) < 0; });
    return it != subkeys.end() && compareNames(it->name, keyName) == 0 ? &*it : nullptr;
}

RegKey &RegKey::ensureSubkey(const QString &keyName)
{
    auto it = std::lower_bound(subkeys.begin(), subkeys.end(), keyName,
        [](const RegKey &k, QStringView n) { return compareNames(k.name, n) < 0; });
    if (it != subkeys.end() && compareNames(it->name, keyName) == 0)
        return *it;
    RegKey key;
    key.name = keyName;
    return *subkeys.insert(it, std::move(key));
}

bool RegKey::removeSubkey(QStringView keyName)
{
    const RegKey *key = subkey(keyName);
    if (!key)
        return false;
    subkeys.erase(subkeys.begin() + (key - subkeys.data()));
    return true;
}

const RegValue *RegKey::value(QStringView valueName) const
{
    for (const NamedValue &v : values)
        if (compareNames(v.name, valueName) == 0)
            return &v.value;
    return nullptr;
}

void RegKey::setValue(const QString &valueName, const RegValue &data)
{
    for (NamedValue &v : values) {
        if (compareNames(v.name, valueName) == 0) {
            v.value = data;
            return;
        }
    }
    values.push_back({valueName, data});
}

bool RegKey::removeValue(QStringView valueName)
{
    auto it = std::find_if(values.begin(), values.end(),
        [&](const NamedValue &v) { return compareNames(v.name, valueName) == 0; });
    if (it == values.end())
        return false;
    values.erase(it);
    return true;
}

RegKey *RegHive::find(const QStringList &path)
{
    return const_cast<RegKey *>(std::as_const(*this).find(path));
}

const RegKey *RegHive::find(const QStringList &path) const
{
    const RegKey *key = &root;
    for (const QString &part : path) {
        key = key->subkey(part);
        if (!key)
            return nullptr;
    }
    return key;
}

RegKey &RegHive::create(const QStringList &path)
{
    RegKey *key = &root;
    for (const QString &part : path)
        key = &key->ensureSubkey(part);
    return *key;
}

bool RegHive::removeTree(const QStringList &path)
{
    if (path.isEmpty())
        return false;
    RegKey *parent = find(path.mid(0, path.size() - 1));
    return parent && parent->removeSubkey(path.last());
}

QStringList SplitKeyPath(QStringView path)
{
    QStringList parts;
    for (QStringView part : path.split(u'\\', Qt::SkipEmptyParts))
        parts.append(part.toString());
    return parts;
}

bool IsValidKeyName(QStringView name)
{
    return !name.isEmpty() && !name.contains(u'\\') && IsValidValueName(name);
}

bool IsValidValueName(QStringView name)
{
    return !name.contains(u'\n') && !name.contains(u'\r');
}

// ---- bytes <-> text

QString DecodeUtf16(QByteArrayView bytes, bool bigEndian, bool *oddByte)
{
    QString text(bytes.size() / 2, Qt::Uninitialized);
    QChar *out = text.data();
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const auto b0 = uchar(bytes[i]);
        const auto b1 = uchar(bytes[i + 1]);
        out[i / 2] = QChar(bigEndian ? char16_t((b0 << 8) | b1) : char16_t((b1 << 8) | b0));
    }
    if (oddByte)
        *oddByte = bytes.size() % 2 != 0;
    return text;
}

QByteArray EncodeUtf16LE(QStringView text)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    for (QChar c : text) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

QString DecodeRegBytes(const QByteArray &bytes)
{
    if (bytes.startsWith("\xFF\xFE"))
        return fromUtf16(bytes, 2, false);
    if (bytes.startsWith("\xFE\xFF"))
        return fromUtf16(bytes, 2, true);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return fromUtf8OrLatin1(QByteArrayView(bytes).sliced(3));
    return fromUtf8OrLatin1(bytes);
}

QByteArray EncodeRegText(QStringView text)
{
    return QByteArray("\xFF\xFE", 2) + EncodeUtf16LE(text);
}

// ---- parser

namespace {

struct Line {
    QStringView text;  // without the line break
    qsizetype start = 0;
    int number = 0;
};

class LineReader {
public:
    explicit LineReader(QStringView text) : m_text(text) {}

    bool next(Line &line)
    {
        if (m_pos >= m_text.size())
            return false;
        qsizetype end = m_text.indexOf(u'\n', m_pos);
        const qsizetype after = end < 0 ? m_text.size() : end + 1;
        if (end < 0)
            end = m_text.size();
        if (end > m_pos && m_text[end - 1] == u'\r')
            --end;
        line = {m_text.mid(m_pos, end - m_pos), m_pos, ++m_number};
        m_pos = after;
        return true;
    }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
    int m_number = 0;
};

// "..." at s[pos]; only \\ and \" are escapes, any other backslash is itself.
std::optional<QString> readQuoted(QStringView s, qsizetype &pos)
{
    QString out;
    for (++pos; pos < s.size();) {
        const QChar c = s[pos++];
        if (c == u'"')
            return out;
        if (c == u'\\' && pos < s.size() && (s[pos] == u'\\' || s[pos] == u'"'))
            out.append(s[pos++]);
        else
            out.append(c);
    }
    return std::nullopt;
}

// xx,xx,... (blank for no bytes; a trailing comma is tolerated).
std::optional<QByteArray> parseHexBytes(QStringView list)
{
    QByteArray bytes;
    if (list.trimmed().isEmpty())
        return bytes;
    const auto items = list.split(u',');
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QStringView item = items[i].trimmed();
        if (item.isEmpty() && i == items.size() - 1 && i > 0)
            break;
        const auto byte = parseHexNumber(item, 2);
        if (!byte)
            return std::nullopt;
        bytes.append(char(*byte));
    }
    return bytes;
}

// hex := "hex:" bytes | "hex(" type "):" bytes, type in hexadecimal
std::optional<RegValue> parseHexData(QStringView d)
{
    DWORD type = REG_BINARY;
    qsizetype colon = 3;
    if (d.startsWith(u"hex(", Qt::CaseInsensitive)) {
        const qsizetype close = d.indexOf(u')');
        const auto n = close < 0 ? std::nullopt : parseHexNumber(d.mid(4, close - 4), 8);
        type = n.value_or(0);
        colon = n ? close + 1 : -1;
    } else if (!d.startsWith(u"hex", Qt::CaseInsensitive)) {
        return std::nullopt;
    }
    if (colon < 0 || colon >= d.size() || d[colon] != u':')
        return std::nullopt;
    const auto bytes = parseHexBytes(d.mid(colon + 1));
    return bytes ? std::optional(RegValue{type, *bytes}) : std::nullopt;
}

// data := "-" | '"' text '"' | "dword:" hex{1,8} | hex
bool parseData(QStringView d, ParseMode mode, RegValueOp &op, QString &error)
{
    if (d == u"-") {
        if (mode == ParseMode::Import)
            return true;  // op.value stays empty: delete
        error = QStringLiteral("value deletion in a hive file");
    } else if (d.startsWith(u'"')) {
        qsizetype pos = 0;
        const auto text = readQuoted(d, pos);
        if (text && pos == d.size())
            op.value = RegValue::String(*text);
        else
            error = QStringLiteral("bad string data");
    } else if (d.startsWith(u"dword:", Qt::CaseInsensitive)) {
        if (const auto n = parseHexNumber(d.mid(6), 8))
            op.value = RegValue::Dword(*n);
        else
            error = QStringLiteral("bad dword data");
    } else if (!(op.value = parseHexData(d))) {
        error = QStringLiteral("bad or unknown value data");
    }
    return error.isEmpty();
}

// value := ( '"' name '"' | "@" ) "=" data, hex data continued by a final "\".
bool parseValueLine(QStringView first, LineReader &reader, ParseMode mode,
                    RegValueOp &op, QString &error)
{
    qsizetype pos = 1;
    if (first.startsWith(u'"')) {
        pos = 0;
        auto name = readQuoted(first, pos);
        if (!name) {
            error = QStringLiteral("unterminated value name");
            return false;
        }
        op.name = *name;
    }
    while (pos < first.size() && first[pos].isSpace())
        ++pos;
    if (pos >= first.size() || first[pos] != u'=') {
        error = QStringLiteral("\"=\" expected after the value name");
        return false;
    }
    QString data = first.mid(pos + 1).trimmed().toString();
    if (data.startsWith(u"hex", Qt::CaseInsensitive)) {
        Line next;
        while (data.endsWith(u'\\')) {
            data.chop(1);
            if (!reader.next(next)) {
                error = QStringLiteral("hex data ends with a continuation mark");
                return false;
            }
            data += next.text.trimmed();
        }
    }
    return parseData(data, mode, op, error);
}

// key := "[" ["-"] root { "\" name } "]"
bool parseKeyLine(QStringView t, ParseMode mode, RegSection &section, QString &error)
{
    if (!t.endsWith(u']')) {
        error = QStringLiteral("key line without \"]\"");
        return false;
    }
    QStringView inner = t.mid(1, t.size() - 2);
    if (inner.startsWith(u'-')) {
        section.remove = true;
        inner = inner.mid(1);
    }
    const qsizetype slash = inner.indexOf(u'\\');
    section.root = inner.left(slash < 0 ? inner.size() : slash).toString();
    if (slash >= 0) {
        for (QStringView part : inner.mid(slash + 1).split(u'\\'))
            section.path.append(part.toString());
    }
    if (section.root.isEmpty() || section.path.contains(QString())) {
        error = QStringLiteral("empty key name");
    } else if (section.path.size() > kMaxDepth) {
        error = QStringLiteral("key nested too deeply");
    } else if (mode == ParseMode::Hive && section.remove) {
        error = QStringLiteral("key deletion in a hive file");
    } else if (mode == ParseMode::Hive && compareNames(section.root, kRootName) != 0) {
        error = QStringLiteral("key outside HKEY_CURRENT_USER");
    }
    return error.isEmpty();
}

bool isHeader(QStringView t)
{
    return compareNames(t, kHeader5) == 0 || compareNames(t, kHeader4) == 0;
}

}  // namespace

RegParse ParseRegText(QStringView text, ParseMode mode)
{
    RegParse result;
    LineReader reader(text);
    Line line;
    bool first = true;
    while (reader.next(line)) {
        const QStringView t = line.text.trimmed();
        if (t.isEmpty() || t.startsWith(u';'))
            continue;
        if (std::exchange(first, false) && isHeader(t)) {
            result.hasHeader = true;
            continue;
        }
        QString error;
        if (t.startsWith(u'[')) {
            RegSection section;
            if (parseKeyLine(t, mode, section, error)) {
                result.sections.push_back(std::move(section));
                continue;
            }
        } else if (t.startsWith(u'"') || t.startsWith(u'@')) {
            RegValueOp op;
            if (result.sections.empty()) {
                error = QStringLiteral("value line before any key");
            } else if (parseValueLine(t, reader, mode, op, error)) {
                result.sections.back().values.push_back(std::move(op));
                continue;
            }
        } else {
            error = QStringLiteral("neither a key nor a value line");
        }
        result.error = error;
        result.errorLine = line.number;
        result.errorOffset = line.start;
        break;
    }
    return result;
}

int ApplySections(RegHive &hive, const std::vector<RegSection> &sections)
{
    int skipped = 0;
    for (const RegSection &section : sections) {
        if (compareNames(section.root, kRootName) != 0) {
            ++skipped;
        } else if (section.remove) {
            hive.removeTree(section.path);
        } else {
            RegKey &key = hive.create(section.path);
            for (const RegValueOp &op : section.values) {
                if (op.value)
                    key.setValue(op.name, *op.value);
                else
                    key.removeValue(op.name);
            }
        }
    }
    return skipped;
}

RegHive HiveFromText(QStringView text)
{
    RegParse parse = ParseRegText(text, ParseMode::Hive);
    RegHive hive;
    ApplySections(hive, parse.sections);
    if (!parse.error.isEmpty()) {
        hive.remainder = text.mid(parse.errorOffset).toString();
        hive.error = QStringLiteral("line %1: %2").arg(parse.errorLine).arg(parse.error);
    }
    return hive;
}

// ---- writer

namespace {

QString quoted(QStringView s)
{
    QString out = QStringLiteral("\"");
    for (QChar c : s) {
        if (c == u'\\' || c == u'"')
            out.append(u'\\');
        out.append(c);
    }
    return out + u'"';
}

// Whether REG_SZ data reads back unchanged from "text": exactly the characters
// and one terminating null, nothing a line could not carry.
bool isPlainString(const RegValue &v)
{
    if (v.type != REG_SZ || v.data.size() < 2 || v.data.size() % 2 != 0)
        return false;
    const QString text = v.ToString();
    return RegValue::String(text).data == v.data && IsValidValueName(text);
}

QString hexPrefix(DWORD type)
{
    return type == REG_BINARY ? QStringLiteral("hex:")
                              : QStringLiteral("hex(%1):").arg(type, 0, 16);
}

QString hexByte(char b)
{
    return QStringLiteral("%1").arg(uint(uchar(b)), 2, 16, QLatin1Char('0'));
}

void appendValueLine(QString &out, const NamedValue &v)
{
    QString line = v.name.isEmpty() ? QStringLiteral("@=") : quoted(v.name) + u'=';
    const RegValue &data = v.value;
    if (isPlainString(data) || (data.type == REG_DWORD && data.data.size() == 4)) {
        out += line + FormatValueData(data) + QStringLiteral("\r\n");
        return;
    }
    line += hexPrefix(data.type);
    for (qsizetype i = 0; i < data.data.size(); ++i) {
        line += hexByte(data.data[i]);
        if (i + 1 == data.data.size())
            break;
        line += u',';
        if (line.size() > kWrapColumn) {
            out += line + QStringLiteral("\\\r\n");
            line = QStringLiteral("  ");
        }
    }
    out += line + QStringLiteral("\r\n");
}

void appendSection(QString &out, const RegKey &key, const QString &fullName)
{
    out += u'[' + fullName + QStringLiteral("]\r\n");
    for (const NamedValue &v : key.values)
        appendValueLine(out, v);
    out += QStringLiteral("\r\n");
    for (const RegKey &sub : key.subkeys)
        appendSection(out, sub, fullName + u'\\' + sub.name);
}

QString headerText()
{
    return kHeader5.toString() + QStringLiteral("\r\n\r\n");
}

}  // namespace

QString FormatValueData(const RegValue &value)
{
    if (isPlainString(value))
        return quoted(value.ToString());
    if (value.type == REG_DWORD && value.data.size() == 4)
        return QStringLiteral("dword:%1").arg(*value.ToDword(), 8, 16, QLatin1Char('0'));
    QStringList bytes;
    for (char b : value.data)
        bytes.append(hexByte(b));
    return hexPrefix(value.type) + bytes.join(u',');
}

QString HiveToText(const RegHive &hive)
{
    return KeyToText(hive.root, {}) + hive.remainder;
}

QString KeyToText(const RegKey &key, const QStringList &path)
{
    QString out = headerText();
    QString fullName = kRootName.toString();
    for (const QString &part : path)
        fullName += u'\\' + part;
    if (path.isEmpty()) {
        if (!key.values.empty())
            appendSection(out, RegKey{key.name, key.values, {}}, fullName);
        for (const RegKey &sub : key.subkeys)
            appendSection(out, sub, fullName + u'\\' + sub.name);
    } else {
        appendSection(out, key, fullName);
    }
    return out;
}

}  // namespace reg
