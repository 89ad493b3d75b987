// TVostrelPreferences keeps the user's settings between runs, in the registry
// ("Normal"), in an ini file beside the executable ("Portable") or nowhere
// ("None"), behind one small hierarchical key/value interface.
//
// UI thread only, every class of this file. The component owns its store and
// its save dialog; a store owns nothing the caller sees (lists are filled in
// place). No operation throws: failures come back as false and reads leave the
// caller's variable alone.
#pragma once

#include "platform/base/Graphics.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class TSavePrefsForm;
class QWidget;

enum TSavePreferences { spRegistre = 0, spPortable = 1, spNone = 2 };

// A number written with a point, or with the user's decimal separator; group
// separators are refused so "1,500" never becomes fifteen hundred. Blanks
// around it are allowed; "inf" and "nan" are numbers too.
std::optional<double> ParseDouble(const QString &text);

// Abstract store. Every store keeps a current path ("" is the root, sections
// separated by "\"). All operations report success; none throws.
class TPreferencesMan {
public:
    virtual ~TPreferencesMan() = default;

    virtual bool GetValueNames(QStringList &list) = 0;
    virtual bool GetKeyNames(QStringList &list) = 0;
    virtual bool OpenKey(const QString &name, bool create) = 0;
    virtual bool CloseKey() = 0;
    virtual bool WriteString(const QString &name, const QString &value) = 0;
    virtual bool ReadString(const QString &name, QString &value) = 0;
    virtual bool DeleteValue(const QString &name) = 0;
    virtual bool WriteBool(const QString &name, bool value) = 0;
    virtual bool ReadBool(const QString &name, bool &value) = 0;
    virtual bool WriteInteger(const QString &name, int32_t value) = 0;
    virtual bool ReadInteger(const QString &name, int32_t &value) = 0;
    virtual bool WriteFloat(const QString &name, double value) = 0;
    virtual bool ReadFloat(const QString &name, double &value) = 0;

    const QString &CurrentPath() const { return FPath; }

protected:
    // path + "\" + name, or name at the root.
    QString ChildPath(const QString &name) const
    {
        return FPath.isEmpty() ? name : FPath + QLatin1Char('\\') + name;
    }
    // The part of the path before its last "\", or the root.
    QString ParentPath() const
    {
        const qsizetype cut = FPath.lastIndexOf(QLatin1Char('\\'));
        return cut < 0 ? QString() : FPath.left(cut);
    }

    QString FPath;
};

// Registry store on the current user's hive, rooted at the key given at
// creation (which it creates). Strings are REG_SZ, Booleans and integers
// REG_DWORD, doubles 8-byte REG_BINARY.
class TRegPreferencesMan : public TPreferencesMan {
public:
    explicit TRegPreferencesMan(const QString &rootKey);
    bool GetValueNames(QStringList &list) override;
    bool GetKeyNames(QStringList &list) override;
    bool OpenKey(const QString &name, bool create) override;
    bool CloseKey() override;
    bool WriteString(const QString &name, const QString &value) override;
    bool ReadString(const QString &name, QString &value) override;
    bool DeleteValue(const QString &name) override;
    bool WriteBool(const QString &name, bool value) override;
    bool ReadBool(const QString &name, bool &value) override;
    bool WriteInteger(const QString &name, int32_t value) override;
    bool ReadInteger(const QString &name, int32_t &value) override;
    bool WriteFloat(const QString &name, double value) override;
    bool ReadFloat(const QString &name, double &value) override;

    // Reads a REG_SZ value of `key` as this store writes it; false when it is
    // missing or not a string.
    static bool QueryString(const QString &key, const QString &name, QString &value);

private:
    QString KeyPath(const QString &path) const;
    QString KeyPath() const { return KeyPath(FPath); }
    QString FRoot;
};

// Ini store: the whole file as lines in memory, read at creation and written
// (atomically) at destruction. A section runs from its header line to the
// first empty line or header; names compare without regard to case.
class TIniPreferencesMan : public TPreferencesMan {
public:
    explicit TIniPreferencesMan(const QString &fileName);
    // Builds the store on file contents already in memory (nothing is written
    // when `fileName` is empty).
    TIniPreferencesMan(const QString &fileName, const QByteArray &contents);
    ~TIniPreferencesMan() override;

    bool GetValueNames(QStringList &list) override;
    bool GetKeyNames(QStringList &list) override;
    bool OpenKey(const QString &name, bool create) override;
    bool CloseKey() override;
    // Fails for names the line format cannot carry ("=", line breaks, a
    // leading "[").
    bool WriteString(const QString &name, const QString &value) override;
    bool ReadString(const QString &name, QString &value) override;
    bool DeleteValue(const QString &name) override;
    bool WriteBool(const QString &name, bool value) override;
    bool ReadBool(const QString &name, bool &value) override;
    bool WriteInteger(const QString &name, int32_t value) override;
    bool ReadInteger(const QString &name, int32_t &value) override;
    bool WriteFloat(const QString &name, double value) override;
    bool ReadFloat(const QString &name, double &value) override;

    // Writes the lines now (temporary file, fsync, rename); false when the
    // file could not be replaced, in which case the old file is untouched.
    bool Flush();
    const QStringList &Lines() const { return FLines; }
    // The bytes Flush writes (UTF-16LE with a byte-order mark, CR LF).
    QByteArray Encode() const;
    // Lines of a file: UTF-16LE/BE or UTF-8 by byte-order mark, else the
    // system code page (Latin-1 when the bytes are not valid in it).
    static QStringList Decode(const QByteArray &bytes);

    // Value text as stored on a line: unchanged unless it holds a line break
    // (or starts with the escape marker), then marker + escaped text.
    static QString EscapeValue(const QString &value);
    static QString UnescapeValue(const QString &stored);

private:
    void Load(const QByteArray &contents);
    int FindHeader(const QString &path) const;
    // Moves to `path`, appending its header when the file has none.
    void EnterSection(const QString &path);
    int FindLine(const QString &name) const;
    int SectionEnd() const;
    bool ReadRaw(const QString &name, QString &text);

    QString FFileName;
    QStringList FLines;
    int FSection = 0;  // index of the current section's header line
    bool FDirty = false;
};

// Mode "None": opening, closing and writing succeed and do nothing; reads fail.
class TNonePreferencesMan : public TPreferencesMan {
public:
    bool GetValueNames(QStringList &) override { return false; }
    bool GetKeyNames(QStringList &) override { return false; }
    bool OpenKey(const QString &, bool) override { return true; }
    bool CloseKey() override { return true; }
    bool WriteString(const QString &, const QString &) override { return true; }
    bool ReadString(const QString &, QString &) override { return false; }
    bool DeleteValue(const QString &) override { return false; }
    bool WriteBool(const QString &, bool) override { return true; }
    bool ReadBool(const QString &, bool &) override { return false; }
    bool WriteInteger(const QString &, int32_t) override { return true; }
    bool ReadInteger(const QString &, int32_t &) override { return false; }
    bool WriteFloat(const QString &, double) override { return true; }
    bool ReadFloat(const QString &, double &) override { return false; }
};

class TVostrelPreferences;
using TSavePrefsEvent = std::function<void(TVostrelPreferences *gp)>;
using TLoadPrefsEvent = std::function<void(TVostrelPreferences *gp)>;
using TChangeModeEvent = std::function<void(TSavePreferences aMode)>;

// The component. Starts in mode spNone with a none store. When its owner is a
// top-level widget it watches the owner's show (detect the mode, then load)
// and close (ask for a mode if none, then save) through an event filter.
// In spNone every read returns its default and every write, OpenKey,
// CloseKey and GetKeyNames return false without touching the store.
class TVostrelPreferences : public QObject {
    Q_OBJECT
public:
    // When `owner` is a top-level widget its show and close events are hooked.
    explicit TVostrelPreferences(QObject *owner);
    ~TVostrelPreferences() override;

    TSavePrefsEvent OnSavePrefs;
    TLoadPrefsEvent OnLoadPrefs;
    TChangeModeEvent OnChangeMode;
    // Off for batch runs: closing with no store chosen saves nothing and asks
    // nobody (a line on stderr says so) instead of showing the dialog.
    bool AskOnClose = true;
    QString titre;
    QString version;
    // Folder of the executable, ending with a separator. Tests point it elsewhere.
    QString ExeFolder;
    // Full path of the running executable, as recorded in "ExeName".
    QString ExeName;

    TSavePreferences Mode() const { return FMode; }
    // When `mode` differs from Mode: Mode := mode and ApplyMode.
    void SetMode(TSavePreferences mode);
    TSavePreferences DetectMode() const;
    // Replaces the store by one for Mode and deletes what the other modes kept.
    void ApplyMode();
    TPreferencesMan *Store() const { return FStore.get(); }
    // Null while no widget application exists (unit tests of the stores).
    TSavePrefsForm *SaveDialog() const;
    QString IniFileName() const;
    QString RegistryKey() const;

    bool OpenKey(const QString &name);
    bool CloseKey();
    bool GetKeyNames(QStringList &list);

    bool ReadBool(const QString &name, bool aDefault);
    int32_t ReadInteger(const QString &name, int32_t aDefault);
    double ReadFloat(const QString &name, double aDefault);
    QString ReadWideString(const QString &name, const QString &aDefault);
    TPoint ReadPoint(const QString &name, const TPoint &aDefault);
    TRect ReadRect(const QString &name, const TRect &aDefault);
    void ReadFont(const QString &name, const TFont &aDefault, TFont &target);

    bool WriteBool(const QString &name, bool value);
    bool WriteInteger(const QString &name, int32_t value);
    bool WriteFloat(const QString &name, double value);
    bool WriteWideString(const QString &name, const QString &value);
    bool WritePoint(const QString &name, const TPoint &value);
    bool WriteRect(const QString &name, const TRect &value);
    bool WriteFont(const QString &name, const TFont &value);

    // "Version", "Dernière Sauvegarde" and "ExeName" at the root (the store
    // goes back to the root first).
    void WriteStamp(const QString &aVersion);
    // Saves through the store now (stamp, then OnSavePrefs) as one hive write,
    // or into the ini file; false when that write failed. The registry copy a
    // move to portable leaves goes only once the ini file is written.
    bool SaveNow();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void OwnerShow(QEvent *event);
    void OwnerCloseQuery(QEvent *event);
    bool ReadFontValues(TFont &font);
    bool WriteFontValues(const TFont &value);
    void Unhook();
    void RemoveRegistryCopy();

    TSavePreferences FMode = spNone;
    std::unique_ptr<TPreferencesMan> FStore;
    QPointer<TSavePrefsForm> FSaveDialog;
    QPointer<QWidget> FOwnerForm;
};
