// TVostrelPreferences keeps the user's settings between runs, in the registry
// ("Normal"), in an ini file beside the executable ("Portable") or nowhere
// ("None"), behind one small hierarchical key/value interface.
//
// UI thread only. The component owns its store and its save dialog.
#pragma once

#include "platform/base/Graphics.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class TSavePrefsForm;
class QWidget;

enum TSavePreferences { spRegistre = 0, spPortable = 1, spNone = 2 };

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
    QString FPath;
};

// Registry store on the current user's hive, rooted at the key given at creation.
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

private:
    QString KeyPath() const;
    QString FRoot;
};

// Ini store: the whole file as lines in memory, read at creation and written
// (atomically) at destruction.
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
    bool WriteString(const QString &name, const QString &value) override;
    bool ReadString(const QString &name, QString &value) override;
    bool DeleteValue(const QString &name) override;
    bool WriteBool(const QString &name, bool value) override;
    bool ReadBool(const QString &name, bool &value) override;
    bool WriteInteger(const QString &name, int32_t value) override;
    bool ReadInteger(const QString &name, int32_t &value) override;
    bool WriteFloat(const QString &name, double value) override;
    bool ReadFloat(const QString &name, double &value) override;

    // Writes the lines now; false when the file could not be replaced.
    bool Flush();
    const QStringList &Lines() const { return FLines; }
    // The bytes Flush writes (UTF-16LE with a byte-order mark, CR LF).
    QByteArray Encode() const;
    static QStringList Decode(const QByteArray &bytes);

private:
    int FindLine(const QString &name) const;
    int SectionEnd() const;
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

class TVostrelPreferences : public QObject {
    Q_OBJECT
public:
    // When `owner` is a top-level widget its show and close events are hooked.
    explicit TVostrelPreferences(QObject *owner);
    ~TVostrelPreferences() override;

    TSavePrefsEvent OnSavePrefs;
    TLoadPrefsEvent OnLoadPrefs;
    TChangeModeEvent OnChangeMode;
    QString titre;
    QString version;
    // Folder of the executable, ending with a separator. Tests point it elsewhere.
    QString ExeFolder;
    // Full path of the running executable, as recorded in "ExeName".
    QString ExeName;

    TSavePreferences Mode() const { return FMode; }
    void SetMode(TSavePreferences mode);
    TSavePreferences DetectMode() const;
    void ApplyMode();
    TPreferencesMan *Store() const { return FStore.get(); }
    TSavePrefsForm *SaveDialog() const { return FSaveDialog; }
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

    // "Version", "Dernière Sauvegarde" and "ExeName" at the root.
    void WriteStamp(const QString &aVersion);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void OwnerShow(QEvent *event);
    void OwnerCloseQuery(QEvent *event);
    void Unhook();

    TSavePreferences FMode = spNone;
    std::unique_ptr<TPreferencesMan> FStore;
    TSavePrefsForm *FSaveDialog = nullptr;
    QPointer<QWidget> FOwnerForm;
};
