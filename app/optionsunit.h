// The options panel: three pages ("Preferences", "Settings", "Advanced") of
// settings that have no other place. Each control writes its action; each
// action shows its value in its control when applied (by a script, a switch,
// the preferences or another control) without the control writing again.
//
// The store mode belongs to the preferences component: the panel reads and
// sets it through the two callbacks it is given, and the window passes mode
// changes back with ShowPrefsMode.
//
// UI thread only. The panel owns its controls; the actions belong to their
// lists and are only referred to (a dead action is skipped). Bind keeps an
// OnAfterApply handler already set on an action and runs it after showing the
// value, so the window sets its own handlers first.
#pragma once

#include "KWPack/uPreferences.h"
#include "KWPack/uScriptAction.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QSpinBox;
class QTabWidget;
class QToolButton;

struct TOptionsActions {
    std::function<TSavePreferences()> GetMode;
    std::function<void(TSavePreferences)> SetMode;
    TIntegerAction *iaForcerAspectRatio = nullptr;  // 0 normal, 1 4x3, 2 16x9, 3 native
    TBooleanAction *baRAZWhenOpenFile = nullptr;
    TBooleanAction *baSauverQuandClic = nullptr;
    TBooleanAction *baConfirmerImage = nullptr;
    TBooleanAction *baUsePrivateFilters = nullptr;
    TWidestringAction *waPrivateFolder = nullptr;
    TBooleanAction *baImageDeinterlacer = nullptr;
    TCheckAction *caSeekPrecision = nullptr;
    TIntegerAction *iaSeekPrepos = nullptr;
};

class TOptionsFrame : public QWidget {
    Q_OBJECT
public:
    explicit TOptionsFrame(QWidget *parent = nullptr);

    // Ties controls and actions both ways and shows the current values.
    void Bind(const TOptionsActions &acts);
    // The store's mode changed (the preferences component's OnChangeMode).
    void ShowPrefsMode(TSavePreferences mode);

    // The folder dialog, given the folder shown; empty when cancelled. A
    // QFileDialog unless replaced (tests answer it themselves).
    std::function<QString(const QString &start)> ChooseFolder;

    QTabWidget *pcOptions = nullptr;
    QWidget *tsPreferences = nullptr;
    QWidget *tsSettings = nullptr;
    QWidget *tsAdvanced = nullptr;
    QGroupBox *rgPrefs = nullptr;
    QGroupBox *rgForcerAspectRatio = nullptr;
    QCheckBox *cbRAZwhenOpenFile = nullptr;
    QCheckBox *cbSauverQuandClic = nullptr;
    QCheckBox *cbConfirmerImage = nullptr;
    QCheckBox *cbUsePrivateFilters = nullptr;
    QLineEdit *dePrivateFolder = nullptr;
    QToolButton *dePrivateFolderButton = nullptr;
    QCheckBox *cbImagesDeInterlacer = nullptr;
    QCheckBox *cbNavPrecise = nullptr;
    QSpinBox *seSeekPrepos = nullptr;

    QButtonGroup *PrefsGroup() const { return FPrefsGroup; }
    QButtonGroup *AspectGroup() const { return FAspectGroup; }

private:
    void CreatePreferencesPage();
    void CreateSettingsPage();
    void CreateAdvancedPage();
    void ConnectControls();
    void BindActions();
    void ShowAll();
    void ChooseFolderClick();
    void FolderEdited();

    TOptionsActions FActs;
    QPointer<TIntegerAction> FAspect, FPrepos;
    QPointer<TBooleanAction> FRaz, FSauver, FConfirmer, FPrivate, FDeinterlace;
    QPointer<TWidestringAction> FFolder;
    QPointer<TCheckAction> FPrecise;
    QMetaObject::Connection FPreciseLink;
    QButtonGroup *FPrefsGroup = nullptr;
    QButtonGroup *FAspectGroup = nullptr;
};
