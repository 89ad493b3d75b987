// The main window's action list, gpal: its typed actions in the window's
// order, with their kinds, categories, script names, switches, defaults,
// shortcuts and preference flags; and the handlers of the window's own.
#include "app/main.h"

#include "app/optionsunit.h"
#include "app/uImagesOptions.h"
#include "app/uNavframe.h"
#include "widgets/uAppliMan.h"
#include "KWPack/uAudioMan.h"
#include "KWPack/uNavMan.h"
#include "KWPack/uScriptForm.h"
#include "KWPack/uVideoMan.h"

#include <QKeySequence>

namespace {

const QString kCatActions = QStringLiteral("cat_Actions");
const QString kCatVostrel = QStringLiteral("cat_Vostrel");
const QString kCatUI = QStringLiteral("cat_UI");
const QString kCatIncruster = QStringLiteral("cat_Incruster");
const QString kCatIntervallo = QStringLiteral("cat_Intervallo");
const QString kCatAspect = QStringLiteral("cat_Aspect");

struct ActionSpec {
    const char *name, *script, *switchName;
    const QString &category;
    const char *caption;
};

template <class T>
T *NewAct(TKWActionList *gpal, const ActionSpec &s)
{
    auto *a = new T(QString::fromLatin1(s.name), gpal);
    a->SetName(QString::fromLatin1(s.name));
    a->ScriptName = QString::fromLatin1(s.script);
    a->Switch = QString::fromLatin1(s.switchName);
    a->Category = s.category;
    a->IncludePrefs = true;
    a->SetCaption(QString::fromLatin1(s.caption));
    return a;
}

TNopeAction *NewNope(TKWActionList *gpal, const ActionSpec &s, const QKeySequence &key = {})
{
    auto *a = NewAct<TNopeAction>(gpal, s);
    a->SetShortCut(key);
    return a;
}

TCheckAction *NewCheck(TKWActionList *gpal, const ActionSpec &s, bool def, const QKeySequence &key, bool load)
{
    auto *a = NewAct<TCheckAction>(gpal, s);
    a->SetShortCut(key);
    a->ApplyWhenLoad = load;
    SetCheckTexts(a, a->Caption(), a->Caption(), QString(), QString());
    a->SetDefaultValue(def);
    return a;
}

template <class T, class V>
T *NewValue(TKWActionList *gpal, const ActionSpec &s, const V &def, bool load)
{
    auto *a = NewAct<T>(gpal, s);
    a->ApplyWhenLoad = load;
    a->SetDefaultValue(def);
    return a;
}

constexpr auto kAlt = Qt::ALT;
constexpr auto kCtrl = Qt::CTRL;

}  // namespace

void TShowForm::CreateActions()
{
    CreateWindowActions();
    Naming = CreateNamingActions(gpal);
    CreateInlayActions();
    CreateDVActions();
    CreateIntervalActions();
    CreateAspectActions();
    CreatePrivateActions();
}

void TShowForm::CreateWindowActions()
{
    naGrab = NewNope(gpal, {"naGrab", "Grab", "swi_g", kCatActions, "Grab"}, QKeySequence(Qt::Key_F5));
    naGrab->SetHint(QStringLiteral("Grab the picture and save it"));
    naCopy = NewNope(gpal, {"naCopy", "Copy", "swi_c", kCatActions, "Copy"}, QKeySequence(kCtrl | Qt::Key_C));
    naCopy->SetHint(QStringLiteral("Grab the picture and copy it to the clipboard"));
    naAbort = NewNope(gpal, {"naAbort", "Abort", "swi_a", kCatVostrel, "Abort"}, QKeySequence(Qt::Key_Escape));
    naExecuteScript = NewNope(gpal, {"naExecuteScript", "ExecuteScript", "swi_exec", kCatVostrel, "Execute the script"},
                              QKeySequence(kCtrl | Qt::Key_F12));
    iaLeftFrame = NewValue<TIntegerAction>(gpal, {"iaLeftFrame", "LeftFrame", "swi_lf", kCatVostrel, "Left of the panels"},
                                           0, false);
    iaPanneauActif = NewValue<TIntegerAction>(
        gpal, {"iaPanneauActif", "PanneauActif", "swi_ap", kCatUI, "Active panel"}, 0, true);
    naShowSaveImagesFrame =
        NewNope(gpal, {"naShowSaveImagesFrame", "ShowSaveImagesFrame", "swi_shSav", kCatUI, "Folders and names"});
    naShowExtraireFrame =
        NewNope(gpal, {"naShowExtraireFrame", "ShowExtraireFrame", "swi_shExtr", kCatUI, "Last snapshot"});
    naShowIncrustFrame = NewNope(gpal, {"naShowIncrustFrame", "ShowIncrustFrame", "swi_ShIn", kCatUI, "Inlay"});
    naShowDVIncrustFrame =
        NewNope(gpal, {"naShowDVIncrustFrame", "ShowDVIncrustFrame", "swi_shDV", kCatUI, "DV date"});
    // Checked while their panel is the one in view.
    for (TNopeAction *a : {naShowSaveImagesFrame, naShowExtraireFrame, naShowIncrustFrame, naShowDVIncrustFrame})
        a->setCheckable(true);
    naShowSaveImagesFrame->SetHint(QStringLiteral("Show the folder and the names of the images"));
    naShowExtraireFrame->SetHint(QStringLiteral("Show the last snapshot"));
    naShowIncrustFrame->SetHint(QStringLiteral("Show the inlay settings"));
    naShowDVIncrustFrame->SetHint(QStringLiteral("Show the date of DV videos"));
    caBasculerVue = NewCheck(gpal, {"caBasculerVue", "BasculerVue", "swi_bw", kCatVostrel, "Panels on the right"},
                             false, QKeySequence(kAlt | Qt::Key_W), true);
    SetCheckTexts(caBasculerVue, QStringLiteral("Panels on the left"), QStringLiteral("Panels on the right"),
                  QStringLiteral("Put the panels on the left of the video"),
                  QStringLiteral("Put the panels on the right of the video"));
    caBasculerVue->SetDefaultValue(false);
}

void TShowForm::CreateInlayActions()
{
    const auto nope = [this](const char *name, const char *script, const char *caption) {
        return NewNope(gpal, {name, script, "", kCatIncruster, caption});
    };
    naInsertTimestamp = nope("naInsertTimestamp", "InsertTimestamp", "Timestamp");
    naInsertTimecode = nope("naInsertTimecode", "InsertTimecode", "Timecode");
    naInsertPerso = nope("naInsertPerso", "InsertPerso", "Perso");
    naInsertNumero = nope("naInsertNumero", "InsertNumero", "Number");
    naInsertDatecode = nope("naInsertDatecode", "InsertDatecode", "Datecode");
    naInsertSysdateTime = nope("naInsertSysdateTime", "InsertSysdateTime", "Real date and time");
    waInsertPerso1 = NewValue<TWidestringAction>(gpal, {"waInsertPerso1", "InsertPerso1", "", kCatIncruster, "Line 1"},
                                                 QStringLiteral("Vidstill"), true);
    waInsertPerso2 = NewValue<TWidestringAction>(gpal, {"waInsertPerso2", "InsertPerso2", "", kCatIncruster, "Line 2"},
                                                 QStringLiteral("Grabbed with Vidstill"), true);
    caSliders = NewCheck(gpal, {"caSliders", "Sliders", "", kCatIncruster, "Sliders"}, false,
                         QKeySequence(kCtrl | Qt::Key_L), false);
    SetCheckTexts(caSliders, QStringLiteral("Hide the sliders"), QStringLiteral("Show the sliders"),
                  QStringLiteral("Hide the sliders placing the inlay"),
                  QStringLiteral("Show the sliders placing the inlay"));
    caSliders->SetDefaultValue(false);
    naSoustitres = nope("naSoustitres", "Soustitres", "Subtitle");
    waIncrustPattern1 = NewValue<TWidestringAction>(
        gpal, {"waIncrustPattern1", "IncrustPattern1", "", kCatIncruster, "Inlay line 1"},
        QStringLiteral("No inlay has been defined"), true);
    waIncrustPattern2 = NewValue<TWidestringAction>(
        gpal, {"waIncrustPattern2", "IncrustPattern2", "", kCatIncruster, "Inlay line 2"},
        QStringLiteral("You watch \"%F\""), true);
    baIncrustAutoSize = NewValue<TBooleanAction>(
        gpal, {"baIncrustAutoSize", "IncrustAutoSize", "", kCatIncruster, "Automatic size"}, true, true);
    baIncrustAutoSize->SetShortCut(QKeySequence(kCtrl | Qt::Key_Backslash));
    // Each changes one attribute of the inlay font; the font itself is loaded.
    waInsertFontName = NewValue<TWidestringAction>(
        gpal, {"waInsertFontName", "InsertFontName", "", kCatIncruster, "Font name"}, QString(), false);
    const auto style = [this](const char *name, const char *script, const char *caption) {
        return NewValue<TBooleanAction>(gpal, {name, script, "", kCatIncruster, caption}, false, false);
    };
    baInsertFontBold = style("baInsertFontBold", "InsertFontBold", "Bold");
    baInsertFontItalic = style("baInsertFontItalic", "InsertFontItalic", "Italic");
    baInsertFontUnderline = style("baInsertFontUnderline", "InsertFontUnderline", "Underline");
    baInsertFontStrikeOut = style("baInsertFontStrikeOut", "InsertFontStrikeOut", "Strike out");
    laInsertFontColor = NewValue<TColorAction>(
        gpal, {"laInsertFontColor", "InsertFontColor", "", kCatIncruster, "Font colour"}, clBlack, false);
    iaInsertFontSize = NewValue<TIntegerAction>(
        gpal, {"iaInsertFontSize", "InsertFontSize", "", kCatIncruster, "Font size"}, 0, false);
}

void TShowForm::CreateDVActions()
{
    caDecalageAvance = NewCheck(gpal, {"caDecalageAvance", "DecalageAvance", "swi_da", kCatIncruster, "Advanced"},
                                false, {}, true);
    daDecalageHoraire = NewValue<TDoubleAction>(
        gpal, {"daDecalageHoraire", "DecalageHoraire", "swi_dh", kCatIncruster, "Time difference"}, 0.0, true);
    waFormatDatecode1 = NewValue<TWidestringAction>(
        gpal, {"waFormatDatecode1", "FormatDatecode1", "swi_fd1", kCatIncruster, "Datecode format of line 1"},
        QStringLiteral("ddddd"), true);
    waFormatDatecode2 = NewValue<TWidestringAction>(
        gpal, {"waFormatDatecode2", "FormatDatecode2", "swi_fd2", kCatIncruster, "Datecode format of line 2"},
        QStringLiteral("tt"), true);
}

void TShowForm::CreateIntervalActions()
{
    caIntervalloShow = NewCheck(gpal, {"caIntervalloShow", "IntervalloShow", "swi_si", kCatIntervallo, "Interval"},
                                false, QKeySequence(kAlt | Qt::Key_J), false);
    caIntervalloShow->IncludePrefs = false;
    SetCheckTexts(caIntervalloShow, QStringLiteral("Interval"), QStringLiteral("Interval"),
                  QStringLiteral("Hide the intervalometer"), QStringLiteral("Show the intervalometer"));
    caIntervalloShow->SetDefaultValue(false);
    iaIntervalloDelai = NewValue<TIntegerAction>(
        gpal, {"iaIntervalloDelai", "IntervalloDelai", "swi_idelai", kCatIntervallo, "Delay"}, 0, true);
    iaIntervalloUnit = NewValue<TIntegerAction>(
        gpal, {"iaIntervalloUnit", "IntervalloUnit", "swi_iunit", kCatIntervallo, "Unit"}, 0, true);
    naIntervalloStart = NewNope(gpal, {"naIntervalloStart", "IntervalloStart", "swi_inter", kCatIntervallo, "Start"},
                                QKeySequence(kCtrl | Qt::Key_J));
    naIntervalloStart->IncludePrefs = false;
    naIntervalloBreak = NewNope(gpal, {"naIntervalloBreak", "IntervalloBreak", "swi_br", kCatIntervallo, "Break"},
                                QKeySequence(kCtrl | Qt::SHIFT | Qt::Key_J));
    naIntervalloBreak->IncludePrefs = false;
}

void TShowForm::CreateAspectActions()
{
    iaForcerAspectRatio = NewValue<TIntegerAction>(
        gpal, {"iaForcerAspectRatio", "ForcerAspectRatio", "swi_far", kCatAspect, "Force Aspect Ratio"}, 0, true);
    // The design's "Force 16x9" and "Force Native" hold a blank, which no
    // script can call; these follow their two siblings.
    naForcerNormal = NewNope(gpal, {"naForcerNormal", "ForcerNormal", "swi_arN", kCatAspect, "Normal Aspect Ratio"},
                             QKeySequence(kAlt | Qt::Key_F5));
    naForcer4x3 = NewNope(gpal, {"naForcer4x3", "Forcer4x3", "swi_ar43", kCatAspect, "Force 4x3"},
                          QKeySequence(kAlt | Qt::Key_F6));
    naForcer16x9 = NewNope(gpal, {"naForcer16x9", "Forcer16x9", "swi_ar169", kCatAspect, "Force 16x9"},
                           QKeySequence(kAlt | Qt::Key_F7));
    naForcerNative = NewNope(gpal, {"naForcerNative", "ForcerNative", "swi_arNat", kCatAspect, "Native Aspect Ratio"},
                             QKeySequence(kAlt | Qt::Key_F8));
    baImageDeinterlacer = NewValue<TBooleanAction>(
        gpal, {"baImageDeinterlacer", "ImageDeinterlacer", "swi_di", kCatAspect, "Deinterlace"}, false, true);
}

void TShowForm::CreatePrivateActions()
{
    // Applied again by waPrivateFolder's after-apply, not on load by itself.
    baUsePrivateFilters = NewValue<TBooleanAction>(
        gpal, {"baUsePrivateFilters", "UsePrivateFilters", "", kCatVostrel, "Use private filters"}, true, false);
    waPrivateFolder = NewValue<TWidestringAction>(
        gpal, {"waPrivateFolder", "waLAVFolder", "", kCatVostrel, "Folder for private filters"},
        FPrivateFolderDefault, true);
}

// ---- handlers ----------------------------------------------------------------------

void TShowForm::BindActions()
{
    const QPointer<TShowForm> self(this);
    naAbort->OnBeforeApply = [self] {
        if (!self)
            return;
        self->AbortRequested = true;
        self->FNavAbort = self->NavMan->WaitingTarget;
        if (self->vidman->caFullscreen && self->vidman->caFullscreen->Checked())
            self->vidman->caFullscreen->SetChecked(false);
    };
    naExecuteScript->OnBeforeApply = [self] {
        if (self && self->am && self->am->ScriptForm())
            self->am->ScriptForm()->naExecuteMacroAfterApply();
    };
    iaPanneauActif->OnBeforeApply = [self](const int32_t &v) {
        if (self)
            self->ShowPanel(v);
    };
    const std::array<TNopeAction *, 4> shows{naShowSaveImagesFrame, naShowExtraireFrame, naShowIncrustFrame,
                                             naShowDVIncrustFrame};
    for (int i = 0; i < 4; ++i)
        shows[i]->OnBeforeApply = [self, i] {
            if (!self)
                return;
            if (QWidget *old = self->PanelOf(self->iaPanneauActif->Value()))
                old->hide();
            if (TNopeAction *a = self->ShowActionOf(self->iaPanneauActif->Value()))
                a->setChecked(false);
            self->am->caOptions->SetChecked(false);
            self->am->caAbout->SetChecked(false);
            self->iaPanneauActif->SetValue(i + 1);
        };
    BindViewActions();
}

// The view commands: layout switches, aspect, deinterlace, private decoders.
void TShowForm::BindViewActions()
{
    const QPointer<TShowForm> self(this);
    const auto relayout = [self] {
        if (self)
            self->FormResize();
    };
    caBasculerVue->OnAfterTrueApply = relayout;
    caBasculerVue->OnAfterFalseApply = relayout;
    caSliders->OnAfterTrueApply = relayout;
    caSliders->OnAfterFalseApply = relayout;
    caIntervalloShow->OnAfterTrueApply = relayout;
    caIntervalloShow->OnAfterFalseApply = relayout;
    const std::array<TNopeAction *, 4> aspects{naForcerNormal, naForcer4x3, naForcer16x9, naForcerNative};
    for (int i = 0; i < 4; ++i)
        aspects[i]->OnAfterApply = [self, i] {
            if (self)
                self->iaForcerAspectRatio->SetValue(i);
        };
    // The "Frames" menu's "Deinterlace" toggles the setting and shows it checked.
    baImageDeinterlacer->setCheckable(true);
    baImageDeinterlacer->OnPrepare = [self](bool &v) {
        v = self && !self->baImageDeinterlacer->Value();
        return static_cast<bool>(self);
    };
    baImageDeinterlacer->OnAfterApply = [self](const bool &v) {
        if (self)
            self->baImageDeinterlacer->setChecked(v);
    };
    iaForcerAspectRatio->OnAfterApply = [self](const int32_t &v) {
        if (self)
            self->vidman->SetForcedAspect(v);
    };
    waPrivateFolder->OnAfterApply = [self](const QString &v) {
        if (self)
            self->waPrivateFolderAfterApply(v);
    };
    baUsePrivateFilters->OnAfterApply = [self](const bool &v) {
        if (self)
            self->baUsePrivateFiltersAfterApply(v);
    };
}

// After the window's own handlers: the options panel runs a handler already
// set after showing the value.
void TShowForm::BindPanelActions()
{
    const QPointer<TShowForm> self(this);
    TOptionsActions o;
    o.GetMode = [self] { return self ? self->gp->Mode() : spNone; };
    o.SetMode = [self](TSavePreferences mode) {
        if (self)
            self->gp->SetMode(mode);
    };
    o.iaForcerAspectRatio = iaForcerAspectRatio;
    o.baRAZWhenOpenFile = Naming.baRAZWhenOpenFile;
    o.baSauverQuandClic = Naming.baSauverQuandClic;
    o.baConfirmerImage = Naming.baConfirmerImage;
    o.baUsePrivateFilters = baUsePrivateFilters;
    o.waPrivateFolder = waPrivateFolder;
    o.baImageDeinterlacer = baImageDeinterlacer;
    o.caSeekPrecision = NavMan->caSeekPrecision;
    o.iaSeekPrepos = NavMan->iaSeekPrepos;
    OptionsFrame->Bind(o);
    navframe->Bind(NavMan, audman);
    // The folders panel owns the naming actions' after-apply: it shows the
    // value and calls back here to rebuild the name or the number text.
    SaveImagesFrame->Bind(
        Naming,
        [self] {
            if (self)
                self->BuildImageName();
        },
        [self] {
            if (self)
                self->FormatNumberText();
        });
}
