// Shows the settings spine end to end: a few typed actions are set (and
// recorded as a macro), saved through the registry store and the ini store,
// and read back. Prints the macro, the registry keys and the ini file.
//
// Usage: vidstill-settings-demo [FOLDER]
// FOLDER (default: a new temporary folder) stands for the executable's folder:
// the ini file is written there. Point VIDSTILL_REGISTRY at a hive file to keep
// the demo away from your own settings; without it the demo uses FOLDER/HKCU.reg.
#include "KWPack/uPreferences.h"
#include "KWPack/uScriptAction.h"
#include "platform/registry/Registry.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>
#include <memory>

namespace {

void Print(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputs("\n", stdout);
}

class PrintingRecorder : public TMacroLines {
public:
    QStringList lines;
    void Add(const QString &line) override { lines << line; }
};

struct DemoActions {
    TIntegerAction *volume;
    TBooleanAction *jpeg;
    TDoubleAction *opacity;
    TWidestringAction *root;
    TColorAction *back;
    TRectAction *bounds;
    TFontAction *font;
    TCheckAction *mute;
    TStringAction *script;

    explicit DemoActions(TKWActionList *list)
    {
        volume = Make<TIntegerAction>(list, "iaVolume", "Volume");
        jpeg = Make<TBooleanAction>(list, "baJpeg", "Jpeg");
        opacity = Make<TDoubleAction>(list, "daOpacity", "InlayOpacity");
        root = Make<TWidestringAction>(list, "waRoot", "ImageRoot");
        back = Make<TColorAction>(list, "laBack", "BackColor");
        bounds = Make<TRectAction>(list, "raBounds", "ScriptFormSave");
        font = Make<TFontAction>(list, "faInlay", "InlayFont");
        mute = Make<TCheckAction>(list, "caMute", "Mute");
        script = Make<TStringAction>(list, "saLines", "Lines");
        volume->SetDefaultValue(5000);
        back->SetDefaultValue(clBlack);
        bounds->OnDefault = [](TRect &r) {
            r = TRect{300, 300, 1100, 860};
            return true;
        };
    }

    template <class T>
    static T *Make(TKWActionList *list, const char *id, const char *scriptName)
    {
        auto *a = new T(QString::fromLatin1(id), list);
        a->setObjectName(QString::fromLatin1(id));
        a->ScriptName = QString::fromLatin1(scriptName);
        return a;
    }

    QStringList Describe() const
    {
        const TRect r = bounds->Value();
        const TFont f = font->Value();
        return {
            QStringLiteral("Volume=%1").arg(volume->Value()),
            QStringLiteral("Jpeg=%1").arg(jpeg->Value() ? "True" : "False"),
            QStringLiteral("InlayOpacity=%1").arg(opacity->Value()),
            QStringLiteral("ImageRoot=%1").arg(root->Value()),
            QStringLiteral("BackColor=%1").arg(ColorToIdent(back->Value())),
            QStringLiteral("ScriptFormSave=(%1,%2,%3,%4)").arg(r.Left).arg(r.Top).arg(r.Right).arg(r.Bottom),
            QStringLiteral("InlayFont=%1 %2pt").arg(f.Name).arg(f.Size),
            QStringLiteral("Mute=%1").arg(mute->Checked() ? "True" : "False"),
            QStringLiteral("Lines=%1 lines").arg(QString::fromLocal8Bit(script->Value()).split('\n').size()),
        };
    }
};

bool Save(TVostrelPreferences &gp, TKWActionList &list)
{
    reg::Batch batch;
    gp.WriteStamp(gp.version);
    const bool opened = gp.OpenKey(QStringLiteral("ShowForm"));
    const bool saved = list.SaveToPrefs(&gp);
    if (opened)
        gp.CloseKey();
    return opened && saved;
}

bool Load(TVostrelPreferences &gp, TKWActionList &list)
{
    const bool opened = gp.OpenKey(QStringLiteral("ShowForm"));
    const bool loaded = list.LoadFromPrefs(&gp);
    if (opened)
        gp.CloseKey();
    return opened && loaded;
}

QString ReadIni(const QString &fileName)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("(cannot read %1)").arg(fileName);
    return TIniPreferencesMan::Decode(f.readAll()).join(QLatin1Char('\n'));
}

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir temp;
    const QString folder = argc > 1 ? QDir(QString::fromLocal8Bit(argv[1])).absolutePath() : temp.path();
    QDir().mkpath(folder);
    if (qEnvironmentVariableIsEmpty("VIDSTILL_REGISTRY"))
        qputenv("VIDSTILL_REGISTRY", QDir(folder).filePath(QStringLiteral("HKCU.reg")).toLocal8Bit());

    QWidget form;
    TKWActionList list(&form);
    DemoActions actions(&list);
    TVostrelPreferences gp(nullptr);
    gp.titre = QStringLiteral("Vidstill");
    gp.version = QStringLiteral("Vidstill 0.1 (settings demo)");
    gp.ExeFolder = folder + QLatin1Char('/');

    Print(QStringLiteral("== Settings changed by the user, recorded as a macro"));
    PrintingRecorder recorder;
    MacroRecorder = &recorder;
    actions.volume->SetValue(7500);
    actions.jpeg->SetValue(true);
    actions.opacity->SetValue(0.65);
    actions.root->SetValue(QStringLiteral("Holiday's best"));
    actions.back->SetValueFromText(QStringLiteral("clNavy"));
    actions.bounds->SetValueFromText(QStringLiteral("(120, 80, 920, 640)"));
    actions.font->SetValue(QStringLiteral("Arial"), 20, clYellow, true, false, false, false);
    actions.mute->SetChecked(true);
    MacroRecorder = nullptr;
    actions.script->SetValue("begin\r\n    Volume(7500);\r\nend.");
    Print(QStringLiteral("begin"));
    for (const QString &line : recorder.lines)
        Print(line);
    Print(QStringLiteral("end."));

    Print(QStringLiteral("\n== Normal mode: saved in the registry (%1)").arg(reg::HivePath()));
    gp.SetMode(spRegistre);
    const bool regSaved = Save(gp, list);
    Print(reg::ExportKey(gp.RegistryKey()).trimmed());

    Print(QStringLiteral("\n== Portable mode: saved in %1 (the registry key is removed)").arg(gp.IniFileName()));
    gp.SetMode(spPortable);
    const bool iniSaved = Save(gp, list);
    if (auto *ini = dynamic_cast<TIniPreferencesMan *>(gp.Store()))
        ini->Flush();
    Print(ReadIni(gp.IniFileName()));
    Print(QStringLiteral("registry key still there: %1").arg(reg::KeyExists(gp.RegistryKey()) ? "yes" : "no"));

    Print(QStringLiteral("\n== Read back into fresh actions from the ini file"));
    TKWActionList fresh(&form);
    DemoActions again(&fresh);
    TVostrelPreferences reader(nullptr);
    reader.titre = gp.titre;
    reader.ExeFolder = gp.ExeFolder;
    reader.SetMode(reader.DetectMode());
    const bool loaded = Load(reader, fresh);
    for (const QString &line : again.Describe())
        Print(QStringLiteral("    ") + line);
    const bool same = again.Describe() == actions.Describe();
    Print(same ? QStringLiteral("round trip: identical") : QStringLiteral("round trip: DIFFERENT"));
    return regSaved && iniSaved && loaded && same ? 0 : 1;
}
