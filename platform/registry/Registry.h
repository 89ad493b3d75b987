// The current user's registry hive, kept as a .reg text file.
//
// Paths are relative to HKEY_CURRENT_USER, parts separated by "\" (for example
// "Software\Vostrel\Vidstill"); key and value names compare without regard to
// case and keep the case they were created with. The empty value name is the
// key's default value ("@" in the file).
//
// The file is $XDG_CONFIG_HOME/Vostrel/registry/HKCU.reg, or the file named by
// VIDSTILL_REGISTRY. Every change takes an advisory lock, re-reads the file,
// changes it and replaces it atomically (temporary file, fsync, rename), so an
// interrupted write leaves the old or the new hive and two processes do not
// lose each other's keys. A malformed hive is reported once per process and
// read as far as it is valid; the unreadable rest is carried over verbatim by
// every later write, so the file never holds less than it did.
//
// Thread-safe: calls from several threads serialise on an internal mutex.
#pragma once

#include "platform/base/WinTypes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace reg {

enum RegType : DWORD {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_MULTI_SZ = 7,
    REG_QWORD = 11,
};

// A value as the registry keeps it: a type and raw bytes. REG_SZ data is
// UTF-16LE with a terminating null character.
struct RegValue {
    DWORD type = REG_NONE;
    QByteArray data;

    static RegValue String(const QString &text);
    static RegValue Dword(uint32_t value);
    static RegValue Binary(const QByteArray &bytes);

    // REG_SZ / REG_EXPAND_SZ data as text (up to the first null character).
    QString ToString() const;
    // REG_DWORD data (little-endian); nullopt when the size is not 4.
    std::optional<uint32_t> ToDword() const;
    friend bool operator==(const RegValue &, const RegValue &) = default;
};

// Location of the hive file in use.
QString HivePath();

bool KeyExists(const QString &path);
// Creates the key and its missing parents.
bool CreateKey(const QString &path);
std::optional<RegValue> QueryValue(const QString &path, const QString &name);
// Fails when the key does not exist.
bool SetValue(const QString &path, const QString &name, const RegValue &value);
bool DeleteValue(const QString &path, const QString &name);
// Value names / subkey names in the order they are kept; nullopt when the key
// does not exist.
std::optional<QStringList> ValueNames(const QString &path);
std::optional<QStringList> SubKeyNames(const QString &path);
// Deletes a key that has no subkeys.
bool DeleteKey(const QString &path);
// Deletes a key with all its subkeys, deepest first; stops at the first key
// that cannot be removed.
bool DeleteKeyTree(const QString &path);

// The text of a .reg file holding `path` and its subkeys.
QString ExportKey(const QString &path);

// `reg import FILE`: merges a .reg file ("Windows Registry Editor Version 5.00"
// or "REGEDIT4"; UTF-16 or UTF-8) into the hive. Only HKEY_CURRENT_USER keys
// are taken. False with a message when the file cannot be read or parsed.
bool ImportFile(const QString &fileName, QString *error = nullptr);
// The same; `notes` receives what was skipped (keys of other roots).
bool ImportFile(const QString &fileName, QString *error, QStringList *notes);
// `reg delete KEY /F`: KEY is "HKCU\..." or "HKEY_CURRENT_USER\...".
bool DeleteKeyCommand(const QString &fullKey);
// "HKCU\a\b" or "HKEY_CURRENT_USER\a\b" (any case) -> "a\b"; "" for the
// root itself; nullopt for other roots.
std::optional<QString> RelativeKeyPath(const QString &fullKey);

// Replaces a file's contents all or nothing: written beside it, synced and
// renamed over it, so a crash or a full disk leaves the old file whole.
// A replaced file keeps its permissions; a new one is private to the user
// (settings), or has the umask's usual ones when `ordinaryFile` (pictures).
// With `error` the reason comes back there instead of the log.
bool ReplaceFile(const QString &path, const QByteArray &bytes, QString *error = nullptr,
                 bool ordinaryFile = false);

// Groups the changes made on this thread while it lives into one lock and one
// write of the file (a save of hundreds of values costs one fsync). Nests.
class Batch {
public:
    Batch();
    ~Batch();
    Batch(const Batch &) = delete;
    Batch &operator=(const Batch &) = delete;
    // Ends the batch now; false when the outermost batch's write failed (an
    // inner batch leaves the write to the outer one and answers true).
    bool Commit();

private:
    bool FOpen = true;
    bool FResult = true;
};

// What is wrong with the hive file as last read ("line 12: ..."); empty when
// it read cleanly. A malformed file is also reported once with qWarning.
QString LastHiveError();

namespace detail {
// Tests only: called at each step of a hive write; returning false abandons
// the write at that point the way a crash would (the temporary file stays).
enum class WriteStep { TempWritten, TempSynced };
using WriteHook = bool (*)(WriteStep);
void SetWriteHook(WriteHook hook);
}  // namespace detail

}  // namespace reg
