// In-memory model of a registry hive and the .reg text format it is kept in.
//
// Nothing here touches files: Registry.cpp reads and writes the hive file and
// uses these types for the contents, which keeps the parser easy to fuzz.
//
// Format read: an optional first line "Windows Registry Editor Version 5.00"
// or "REGEDIT4"; key sections "[HKEY_CURRENT_USER\a\b]"; value lines
// "Name"=... or @=... with data "text" (escapes \\ and \"), dword:xxxxxxxx,
// hex:xx,xx (REG_BINARY) or hex(N):xx,xx (type N, hexadecimal); long hex data
// continues on the next line after a trailing backslash; ";" comments and blank
// lines. Import files may also hold "[-KEY]" (delete a key tree) and "Name"=-
// (delete a value); a hive file may not.
//
// A hive is read up to its first malformed line. Everything from that line on
// is kept verbatim in `remainder` and written back after the valid part, so a
// damaged file never loses what it held: reading the written text again gives
// the same hive and the same remainder.
//
// Plain values: no locking, owned by whoever holds them; any thread.
#pragma once

#include "platform/registry/Registry.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <vector>

namespace reg {

struct NamedValue {
    QString name;
    RegValue value;
    friend bool operator==(const NamedValue &, const NamedValue &) = default;
};

// A key: values in the order they were first set, subkeys sorted without
// regard to case (the order the registry enumerates them in).
struct RegKey {
    QString name;
    std::vector<NamedValue> values;
    std::vector<RegKey> subkeys;

    RegKey *subkey(QStringView keyName);
    const RegKey *subkey(QStringView keyName) const;
    // Finds or inserts (at its sorted place) the subkey `keyName`.
    RegKey &ensureSubkey(const QString &keyName);
    bool removeSubkey(QStringView keyName);

    const RegValue *value(QStringView valueName) const;
    // Replaces the data of a value of that name (keeping its case) or appends.
    void setValue(const QString &valueName, const RegValue &data);
    bool removeValue(QStringView valueName);

    friend bool operator==(const RegKey &, const RegKey &) = default;
};

struct RegHive {
    RegKey root;        // HKEY_CURRENT_USER itself
    QString remainder;  // unparsed rest of the text, from a line start on
    QString error;      // what is wrong with the first malformed line

    RegKey *find(const QStringList &path);
    const RegKey *find(const QStringList &path) const;
    // Creates the missing keys along `path`.
    RegKey &create(const QStringList &path);
    // Removes the key at `path` with all its subkeys; false for the root or a
    // key that does not exist.
    bool removeTree(const QStringList &path);

    friend bool operator==(const RegHive &, const RegHive &) = default;
};

// "a\b\\c\" -> {"a", "b", "c"}: empty parts are ignored.
QStringList SplitKeyPath(QStringView path);
// Whether `name` may be a key name (no backslash, no line break, not empty).
bool IsValidKeyName(QStringView name);
// Whether `name` may be a value name (no line break).
bool IsValidValueName(QStringView name);

// UTF-16 code units as they are, lone surrogates included, so any text
// survives a write and a read. A trailing odd byte is left out; `oddByte`
// says whether there was one.
QString DecodeUtf16(QByteArrayView bytes, bool bigEndian, bool *oddByte = nullptr);
QByteArray EncodeUtf16LE(QStringView text);

// Text of a .reg file from its bytes: UTF-16LE / UTF-16BE / UTF-8 by their
// byte-order mark; without one UTF-8 when the bytes are valid UTF-8, else
// Latin-1 (nothing is lost either way).
QString DecodeRegBytes(const QByteArray &bytes);
// UTF-16LE with a byte-order mark, the way the hive file is written.
QByteArray EncodeRegText(QStringView text);

enum class ParseMode {
    Hive,    // deletions and keys of other roots are malformed
    Import,  // deletions allowed; other roots are reported and skipped
};

struct RegValueOp {
    QString name;
    std::optional<RegValue> value;  // nullopt: delete the value
};

struct RegSection {
    QString root;       // "HKEY_CURRENT_USER", as the file spells it
    QStringList path;   // below the root
    bool remove = false;
    std::vector<RegValueOp> values;
};

struct RegParse {
    bool hasHeader = false;
    std::vector<RegSection> sections;  // the valid part, in file order
    QString error;                     // empty when the whole text is valid
    int errorLine = 0;                 // 1-based line of the first bad line
    qsizetype errorOffset = -1;        // where the remainder starts
};

RegParse ParseRegText(QStringView text, ParseMode mode);

// Applies parsed sections to a hive, in order. Sections of other roots are
// skipped; returns how many were.
int ApplySections(RegHive &hive, const std::vector<RegSection> &sections);

// Parses a hive file's text (ParseMode::Hive), keeping the unreadable rest.
RegHive HiveFromText(QStringView text);
// The hive as .reg text with CR LF line ends, followed by its remainder.
QString HiveToText(const RegHive &hive);
// The .reg text of `key` (at `path`) and its subkeys, without a remainder.
QString KeyToText(const RegKey &key, const QStringList &path);

// Value data as it appears after "=" in a .reg file.
QString FormatValueData(const RegValue &value);

}  // namespace reg
