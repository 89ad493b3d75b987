// The folders panel: where the images go and how they are named. Each control
// writes its action; each action writes its control back when applied (by a
// script, a switch or the preferences) without the control writing again.
//
// UI thread only. The panel owns its controls; the actions belong to the
// window's list and are only referred to (a dead action is skipped).
#pragma once

#include "mainNaming.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSlider;
class QSpinBox;
class QToolButton;

class TDossiersFrame : public QWidget {
    Q_OBJECT
public:
    explicit TDossiersFrame(QWidget *parent = nullptr);

    // Ties the controls and the actions both ways and shows the actions'
    // values. `rebuildName` and `formatNumber` are the window's; each runs once
    // per change, after the action holds the new value.
    void Bind(const TNamingActions &acts, std::function<void()> rebuildName, std::function<void()> formatNumber);

    // The folder dialog, given the folder shown; empty when cancelled. A
    // QFileDialog unless replaced (tests answer it themselves).
    std::function<QString(const QString &start)> ChooseFolder;

    QLineEdit *deDossierSave = nullptr;
    QToolButton *deDossierSaveButton = nullptr;
    QRadioButton *rbUtiliserRacine = nullptr;
    QRadioButton *rbUtiliserNomVideo = nullptr;
    QLineEdit *NomRacineEdit = nullptr;
    QCheckBox *cbLimiterLongueur = nullptr;
    QSpinBox *RacineLengthEdit = nullptr;
    QRadioButton *rbTimestamp = nullptr;
    QRadioButton *rbNumero = nullptr;
    QSpinBox *DigitsEdit = nullptr;
    QSpinBox *seNextNum = nullptr;
    QGroupBox *rgExtension = nullptr;
    QRadioButton *rgExtensionBmp = nullptr;
    QRadioButton *rgExtensionJpeg = nullptr;
    QGroupBox *JpegQualityGroup = nullptr;
    QSlider *TrackBar1 = nullptr;
    QLabel *labQuality = nullptr;

private:
    void CreateControls();
    void ConnectControls();
    void BindActions();
    void ShowAll();
    void ChooseFolderClick();
    void FolderEdited();
    // Checks one of a pair of radio buttons, or neither for other values.
    static void CheckPair(QButtonGroup *group, QRadioButton *zero, QRadioButton *one, int32_t value);

    QPointer<TWidestringAction> FDossier, FRacine;
    QPointer<TIntegerAction> FNomFichier, FRacineLength, FAjouter, FDigits, FNextNum, FExtension, FQuality;
    QPointer<TBooleanAction> FLimiter;
    std::function<void()> FRebuildName, FFormatNumber;
    QButtonGroup *FRootGroup = nullptr;
    QButtonGroup *FAddGroup = nullptr;
    QButtonGroup *FExtGroup = nullptr;
};
