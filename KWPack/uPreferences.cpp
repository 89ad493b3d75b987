#include "uPreferences.h"

#include "uSavePrefs.h"
#include "platform/registry/RegHive.h"
#include "platform/registry/Registry.h"

#include <cstdio>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace {

const QChar kBackslash = QLatin1Char('\\');
const QString kMakerKey = QStringLiteral("Software\\Vostrel");

// Widgets need a widget application; the stores alone also serve programs and
// tests that run without one.
bool HaveWidgetApplication()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

}  // namespace

// ---------------------------------------------------------------- TRegPreferencesMan

TRegPreferencesMan::TRegPreferencesMan(const QString &rootKey)
    : FRoot(rootKey)
{
    if (!reg::KeyExists(FRoot))
        reg::CreateKey(FRoot);
}

QString TRegPreferencesMan::KeyPath(const QString &path) const
{
    return path.isEmpty() ? FRoot : FRoot + kBackslash + path;
}

bool TRegPreferencesMan::GetValueNames(QStringList &list)
{
    list.clear();
    const auto names = reg::ValueNames(KeyPath());
    if (!names)
        return false;
    list = *names;
    return true;
}

bool TRegPreferencesMan::GetKeyNames(QStringList &list)
{
    list.clear();
    const auto names = reg::SubKeyNames(KeyPath());
    if (!names)
        return false;
    list = *names;
    return true;
}

bool TRegPreferencesMan::OpenKey(const QString &name, bool create)
{
    const QString path = ChildPath(name);
    const QString key = KeyPath(path);
    if (!reg::KeyExists(key) && !(create && reg::CreateKey(key)))
        return false;
    FPath = path;
    return true;
}

bool TRegPreferencesMan::CloseKey()
{
    FPath = ParentPath();
    return true;
}

// With the full two-byte terminator: an odd byte count (characters plus one
// zero byte) is not a well-formed REG_SZ and the hive would keep it as a hex
// dump instead of text.
bool TRegPreferencesMan::WriteString(const QString &name, const QString &value)
{
    return reg::SetValue(KeyPath(), name, reg::RegValue::String(value));
}

bool TRegPreferencesMan::QueryString(const QString &key, const QString &name, QString &value)
{
    const auto v = reg::QueryValue(key, name);
    if (!v || (v->type != reg::REG_SZ && v->type != reg::REG_EXPAND_SZ))
        return false;
    // 2n+2 bytes, or 2n+1 as older writers left them: either way whole
    // characters with a final null dropped (a single byte is the empty string).
    QString text = reg::DecodeUtf16(v->data, false);
    if (text.endsWith(QChar(0)))
        text.chop(1);
    value = text;
    return true;
}

bool TRegPreferencesMan::ReadString(const QString &name, QString &value)
{
    return QueryString(KeyPath(), name, value);
}

bool TRegPreferencesMan::DeleteValue(const QString &name)
{
    return reg::DeleteValue(KeyPath(), name);
}

bool TRegPreferencesMan::WriteBool(const QString &name, bool value)
{
    return reg::SetValue(KeyPath(), name, reg::RegValue::Dword(value ? 1 : 0));
}

// 0 and 1 are the Booleans; any other number is read without changing the
// variable, so the caller keeps its default.
bool TRegPreferencesMan::ReadBool(const QString &name, bool &value)
{
    int32_t n = 0;
    if (!ReadInteger(name, n))
        return false;
    if (n == 0)
        value = false;
    else if (n == 1)
        value = true;
    return true;
}

bool TRegPreferencesMan::WriteInteger(const QString &name, int32_t value)
{
    return reg::SetValue(KeyPath(), name, reg::RegValue::Dword(static_cast<uint32_t>(value)));
}

bool TRegPreferencesMan::ReadInteger(const QString &name, int32_t &value)
{
    const auto v = reg::QueryValue(KeyPath(), name);
    if (!v || v->type != reg::REG_DWORD)
        return false;
    const auto n = v->ToDword();
    if (!n)
        return false;
    value = static_cast<int32_t>(*n);
    return true;
}

bool TRegPreferencesMan::WriteFloat(const QString &name, double value)
{
    QByteArray data(sizeof(double), '\0');
    std::memcpy(data.data(), &value, sizeof(double));
    return reg::SetValue(KeyPath(), name, reg::RegValue::Binary(data));
}

bool TRegPreferencesMan::ReadFloat(const QString &name, double &value)
{
    const auto v = reg::QueryValue(KeyPath(), name);
    if (!v || v->type != reg::REG_BINARY || v->data.size() != qsizetype(sizeof(double)))
        return false;
    std::memcpy(&value, v->data.constData(), sizeof(double));
    return true;
}

// ---------------------------------------------------------------- TVostrelPreferences

TVostrelPreferences::TVostrelPreferences(QObject *owner)
    : QObject(owner)
    , ExeFolder(QCoreApplication::applicationDirPath() + QLatin1Char('/'))
    , ExeName(QCoreApplication::applicationFilePath())
    , FStore(std::make_unique<TNonePreferencesMan>())
{
    auto *form = qobject_cast<QWidget *>(owner);
    if (HaveWidgetApplication())
        FSaveDialog = new TSavePrefsForm(form);
    if (form && form->isWindow()) {
        FOwnerForm = form;
        form->installEventFilter(this);
    }
}

TVostrelPreferences::~TVostrelPreferences()
{
    Unhook();
    FStore.reset();  // an ini store writes its file now
    delete FSaveDialog.data();
}

QString TVostrelPreferences::IniFileName() const
{
    return ExeFolder + titre + QStringLiteral(".ini");
}

QString TVostrelPreferences::RegistryKey() const
{
    return kMakerKey + kBackslash + titre;
}

void TVostrelPreferences::SetMode(TSavePreferences mode)
{
    if (mode == FMode)
        return;
    FMode = mode;
    ApplyMode();
}

// An ini file beside the executable wins; then registry settings written by
// this very executable; anything else (first run, another copy) is no mode.
TSavePreferences TVostrelPreferences::DetectMode() const
{
    if (QFileInfo(IniFileName()).isFile())
        return spPortable;
    QString recorded;
    if (TRegPreferencesMan::QueryString(RegistryKey(), QStringLiteral("ExeName"), recorded)
        && recorded.compare(ExeName, Qt::CaseInsensitive) == 0)
        return spRegistre;
    return spNone;
}

// At most one place holds settings: whatever the modes left behind is removed.
void TVostrelPreferences::ApplyMode()
{
    FStore.reset();
    switch (FMode) {
    case spRegistre:
        FStore = std::make_unique<TRegPreferencesMan>(RegistryKey());
        break;
    case spPortable:
        FStore = std::make_unique<TIniPreferencesMan>(IniFileName());
        break;
    case spNone:
        FStore = std::make_unique<TNonePreferencesMan>();
        break;
    }
    if (OnChangeMode)
        OnChangeMode(FMode);
    const QString ini = IniFileName();
    if (FMode != spPortable && QFileInfo(ini).isFile()) {
        // Owner write permission first, so that a read-only file goes too.
        QFile::setPermissions(ini, QFile::permissions(ini) | QFileDevice::WriteOwner);
        QFile::remove(ini);
    }
    // Settings moving to a portable file that is not written yet stay in the
    // registry until SaveNow has written it.
    if (FMode == spNone || (FMode == spPortable && QFileInfo(ini).isFile()))
        RemoveRegistryCopy();
}

void TVostrelPreferences::RemoveRegistryCopy()
{
    reg::DeleteKeyTree(RegistryKey());
    const auto left = reg::SubKeyNames(kMakerKey);
    if (left && left->isEmpty())
        reg::DeleteKey(kMakerKey);
}

bool TVostrelPreferences::OpenKey(const QString &name)
{
    return FMode != spNone && FStore->OpenKey(name, true);
}

bool TVostrelPreferences::CloseKey()
{
    return FMode != spNone && FStore->CloseKey();
}

bool TVostrelPreferences::GetKeyNames(QStringList &list)
{
    return FMode != spNone && FStore->GetKeyNames(list);
}

bool TVostrelPreferences::ReadBool(const QString &name, bool aDefault)
{
    bool value = aDefault;
    if (FMode == spNone || !FStore->ReadBool(name, value))
        return aDefault;
    return value;
}

int32_t TVostrelPreferences::ReadInteger(const QString &name, int32_t aDefault)
{
    int32_t value = aDefault;
    if (FMode == spNone || !FStore->ReadInteger(name, value))
        return aDefault;
    return value;
}

double TVostrelPreferences::ReadFloat(const QString &name, double aDefault)
{
    double value = aDefault;
    if (FMode == spNone || !FStore->ReadFloat(name, value))
        return aDefault;
    return value;
}

QString TVostrelPreferences::ReadWideString(const QString &name, const QString &aDefault)
{
    QString value;
    if (FMode == spNone || !FStore->ReadString(name, value))
        return aDefault;
    return value;
}

TPoint TVostrelPreferences::ReadPoint(const QString &name, const TPoint &aDefault)
{
    TPoint p;
    if (FMode == spNone || !FStore->ReadInteger(name + QStringLiteral(".X"), p.X)
        || !FStore->ReadInteger(name + QStringLiteral(".Y"), p.Y))
        return aDefault;
    return p;
}

// Opened without create and closed only when it was opened, so the caller's
// section is where it was.
TRect TVostrelPreferences::ReadRect(const QString &name, const TRect &aDefault)
{
    if (FMode == spNone || !FStore->OpenKey(name, false))
        return aDefault;
    TRect r;
    const bool ok = FStore->ReadInteger(QStringLiteral("Top"), r.Top)
                    && FStore->ReadInteger(QStringLiteral("Left"), r.Left)
                    && FStore->ReadInteger(QStringLiteral("Right"), r.Right)
                    && FStore->ReadInteger(QStringLiteral("Bottom"), r.Bottom);
    FStore->CloseKey();
    return ok ? r : aDefault;
}

bool TVostrelPreferences::ReadFontValues(TFont &font)
{
    int32_t charset = 0, color = 0, pitch = 0, ppi = 0, size = 0;
    bool b = false;
    if (!FStore->ReadInteger(QStringLiteral("Charset"), charset))
        return false;
    font.Charset = static_cast<uint8_t>(charset);
    if (!FStore->ReadInteger(QStringLiteral("Color"), color))
        return false;
    font.Color = color;
    if (!FStore->ReadString(QStringLiteral("Name"), font.Name))
        return false;
    if (!FStore->ReadInteger(QStringLiteral("Pitch"), pitch))
        return false;
    font.Pitch = (pitch == 1 || pitch == 2) ? TFontPitch(pitch) : TFontPitch::fpDefault;
    if (!FStore->ReadInteger(QStringLiteral("PixelsperInch"), ppi))
        return false;
    font.PixelsPerInch = ppi;
    if (!FStore->ReadInteger(QStringLiteral("Size"), size))
        return false;
    font.Size = size;
    font.Style = 0;
    const std::pair<const char *, TFontStyle> styles[] = {
        {"Bold", fsBold}, {"Italic", fsItalic}, {"StrikeOut", fsStrikeOut}, {"Underline", fsUnderline}};
    for (const auto &[key, style] : styles) {
        b = false;
        if (!FStore->ReadBool(QLatin1String(key), b))
            return false;
        if (b)
            font.Style |= style;
    }
    return true;
}

// Values apply as they are read; one missing makes the default win whole.
void TVostrelPreferences::ReadFont(const QString &name, const TFont &aDefault, TFont &target)
{
    if (FMode == spNone || !FStore->OpenKey(name, false)) {
        target = aDefault;
        return;
    }
    TFont font = target;  // a copy: `aDefault` may be `target` itself
    const bool ok = ReadFontValues(font);
    FStore->CloseKey();
    target = ok ? font : aDefault;
}

bool TVostrelPreferences::WriteBool(const QString &name, bool value)
{
    return FMode != spNone && FStore->WriteBool(name, value);
}

bool TVostrelPreferences::WriteInteger(const QString &name, int32_t value)
{
    return FMode != spNone && FStore->WriteInteger(name, value);
}

bool TVostrelPreferences::WriteFloat(const QString &name, double value)
{
    return FMode != spNone && FStore->WriteFloat(name, value);
}

bool TVostrelPreferences::WriteWideString(const QString &name, const QString &value)
{
    return FMode != spNone && FStore->WriteString(name, value);
}

bool TVostrelPreferences::WritePoint(const QString &name, const TPoint &value)
{
    return FMode != spNone && FStore->WriteInteger(name + QStringLiteral(".X"), value.X)
           && FStore->WriteInteger(name + QStringLiteral(".Y"), value.Y);
}

bool TVostrelPreferences::WriteRect(const QString &name, const TRect &value)
{
    if (FMode == spNone || !FStore->OpenKey(name, true))
        return false;
    const bool ok = FStore->WriteInteger(QStringLiteral("Left"), value.Left)
                    && FStore->WriteInteger(QStringLiteral("Top"), value.Top)
                    && FStore->WriteInteger(QStringLiteral("Right"), value.Right)
                    && FStore->WriteInteger(QStringLiteral("Bottom"), value.Bottom);
    FStore->CloseKey();
    return ok;
}

bool TVostrelPreferences::WriteFontValues(const TFont &value)
{
    return FStore->WriteInteger(QStringLiteral("Charset"), value.Charset & 0xFF)
           && FStore->WriteInteger(QStringLiteral("Color"), value.Color)
           && FStore->WriteString(QStringLiteral("Name"), value.Name)
           && FStore->WriteInteger(QStringLiteral("Pitch"), static_cast<int32_t>(value.Pitch))
           && FStore->WriteInteger(QStringLiteral("PixelsperInch"), value.PixelsPerInch)
           && FStore->WriteInteger(QStringLiteral("Size"), value.Size)
           && FStore->WriteBool(QStringLiteral("Bold"), value.Style & fsBold)
           && FStore->WriteBool(QStringLiteral("Italic"), value.Style & fsItalic)
           && FStore->WriteBool(QStringLiteral("StrikeOut"), value.Style & fsStrikeOut)
           && FStore->WriteBool(QStringLiteral("Underline"), value.Style & fsUnderline);
}

bool TVostrelPreferences::WriteFont(const QString &name, const TFont &value)
{
    if (FMode == spNone || !FStore->OpenKey(name, true))
        return false;
    const bool ok = WriteFontValues(value);
    FStore->CloseKey();
    return ok;
}

// The stamp belongs at the root whatever section a handler left open: without
// "ExeName" there the next start would not find the settings.
void TVostrelPreferences::WriteStamp(const QString &aVersion)
{
    if (FMode == spNone)
        return;
    for (int depth = 0; !FStore->CurrentPath().isEmpty() && depth < 1000; ++depth)
        FStore->CloseKey();
    FStore->WriteString(QStringLiteral("Version"), aVersion);
    FStore->WriteString(QStringLiteral("Derni\u00E8re Sauvegarde"),
                        QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd hh:mm:ss")));
    FStore->WriteString(QStringLiteral("ExeName"), ExeName);
}

bool TVostrelPreferences::SaveNow()
{
    bool ok = true;
    {
        reg::Batch batch;  // hundreds of values, one write of the hive
        WriteStamp(version);
        if (OnSavePrefs)
            OnSavePrefs(this);
        ok = batch.Commit();
    }
    if (FMode == spPortable) {
        ok = static_cast<TIniPreferencesMan *>(FStore.get())->Flush() && ok;
        if (ok)
            RemoveRegistryCopy();
    }
    if (!ok)
        qWarning("preferences: the settings of %s could not be saved", qPrintable(titre));
    return ok;
}

// ---------------------------------------------------------------- owner hooks

bool TVostrelPreferences::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == FOwnerForm.data()) {
        // A spontaneous show is the window coming back from minimised, not a
        // new showing: it must not reload over the user's changes.
        if (event->type() == QEvent::Show && !event->spontaneous()) {
            OwnerShow(event);
            return true;
        }
        if (event->type() == QEvent::Close) {
            OwnerCloseQuery(event);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

// The owner's own show handling runs between detecting the mode and loading.
void TVostrelPreferences::OwnerShow(QEvent *event)
{
    QPointer<TVostrelPreferences> self(this);
    QPointer<QWidget> owner = FOwnerForm;
    QCoreApplication::processEvents();
    if (!self || !owner)
        return;
    FMode = DetectMode();
    ApplyMode();
    static_cast<QObject *>(owner.data())->event(event);
    if (self && OnLoadPrefs)
        OnLoadPrefs(this);
}

// Saving does not depend on the owner's own answer; only a dialog closed
// without a choice refuses the close, and then the hooks stay for next time.
void TVostrelPreferences::OwnerCloseQuery(QEvent *event)
{
    QPointer<TVostrelPreferences> self(this);
    static_cast<QObject *>(FOwnerForm.data())->event(event);
    if (!self)
        return;
    if (!FSaveDialog && HaveWidgetApplication())
        FSaveDialog = new TSavePrefsForm(FOwnerForm.data());
    if (FSaveDialog)
        FSaveDialog->setWindowTitle(QStringLiteral("Saving the preferences of %1").arg(titre));
    if (FMode == spNone) {
        if (!AskOnClose) {
            // Nobody is there to answer: this run's settings are not kept.
            std::fprintf(stderr, "%s: no preferences store is chosen; the settings of this run are not saved\n",
                         qPrintable(titre));
            Unhook();
            return;
        }
        if (!FSaveDialog)
            return;
        FSaveDialog->chosen = false;
        FSaveDialog->exec();
        if (!self || !FSaveDialog)
            return;
        if (!FSaveDialog->chosen) {
            event->ignore();
            return;
        }
        FMode = FSaveDialog->choice;
        ApplyMode();
    }
    if (FMode != spNone && !SaveNow())
        std::fprintf(stderr, "%s: the preferences could not be saved\n", qPrintable(titre));
    Unhook();
}

void TVostrelPreferences::Unhook()
{
    if (FOwnerForm)
        FOwnerForm->removeEventFilter(this);
    FOwnerForm = nullptr;
}

TSavePrefsForm *TVostrelPreferences::SaveDialog() const
{
    // Out of line: QPointer needs the complete dialog type.
    return FSaveDialog.data();
}
