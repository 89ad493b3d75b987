#include "uImagesOptions.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kPanelWidth = 276;

QSpinBox *NewSpin(QWidget *parent, const char *name, int min, int max)
{
    auto *s = new QSpinBox(parent);
    s->setObjectName(QString::fromLatin1(name));
    s->setRange(min, max);
    return s;
}

QRadioButton *NewRadio(QWidget *parent, const char *name, const QString &caption)
{
    auto *r = new QRadioButton(caption, parent);
    r->setObjectName(QString::fromLatin1(name));
    return r;
}

// Shows `value` in `spin` without the spin writing it back.
void ShowValue(QSpinBox *spin, int32_t value)
{
    const QSignalBlocker block(spin);
    spin->setValue(value);
}

}  // namespace

TDossiersFrame::TDossiersFrame(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("SaveImagesFrame"));
    setProperty("TFrame", true);
    setFixedWidth(kPanelWidth);
    ChooseFolder = [this](const QString &start) {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("Folder of the images"), start);
    };
    CreateControls();
    ConnectControls();
}

void TDossiersFrame::CreateControls()
{
    auto *top = new QVBoxLayout(this);
    top->setContentsMargins(8, 8, 8, 8);

    top->addWidget(new QLabel(QStringLiteral("Folder of the images:"), this));
    auto *folderRow = new QHBoxLayout;
    deDossierSave = new QLineEdit(this);
    deDossierSave->setObjectName(QStringLiteral("deDossierSave"));
    deDossierSaveButton = new QToolButton(this);
    deDossierSaveButton->setObjectName(QStringLiteral("deDossierSaveButton"));
    deDossierSaveButton->setText(QStringLiteral("..."));
    deDossierSaveButton->setToolTip(QStringLiteral("Choose the folder of the images"));
    folderRow->addWidget(deDossierSave);
    folderRow->addWidget(deDossierSaveButton);
    top->addLayout(folderRow);

    top->addSpacing(6);
    top->addWidget(new QLabel(QStringLiteral("Names of the images:"), this));
    auto *names = new QWidget(this);
    auto *grid = new QGridLayout(names);
    grid->setContentsMargins(0, 0, 0, 0);
    rbUtiliserRacine = NewRadio(names, "rbUtiliserRacine", QStringLiteral("Use the following root:"));
    NomRacineEdit = new QLineEdit(names);
    NomRacineEdit->setObjectName(QStringLiteral("NomRacineEdit"));
    rbUtiliserNomVideo = NewRadio(names, "rbUtiliserNomVideo", QStringLiteral("Use the names of video files"));
    // Two lines: in one, the caption is wider than the panel.
    cbLimiterLongueur = new QCheckBox(QStringLiteral("Set a maximum length\nfor the root name"), names);
    cbLimiterLongueur->setObjectName(QStringLiteral("cbLimiterLongueur"));
    RacineLengthEdit = NewSpin(names, "RacineLengthEdit", 0, 255);
    rbTimestamp = NewRadio(names, "rbTimestamp", QStringLiteral("Add timestamp"));
    rbNumero = NewRadio(names, "rbNumero", QStringLiteral("Number from"));
    seNextNum = NewSpin(names, "seNextNum", 0, 999999);
    DigitsEdit = NewSpin(names, "DigitsEdit", 1, 16);
    grid->addWidget(rbUtiliserRacine, 0, 0, 1, 2);
    grid->addWidget(NomRacineEdit, 1, 0, 1, 2);
    grid->addWidget(rbUtiliserNomVideo, 2, 0, 1, 2);
    grid->addWidget(cbLimiterLongueur, 3, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Maximum length:"), names), 4, 0);
    grid->addWidget(RacineLengthEdit, 4, 1);
    grid->addWidget(rbTimestamp, 5, 0, 1, 2);
    grid->addWidget(rbNumero, 6, 0);
    grid->addWidget(seNextNum, 6, 1);
    grid->addWidget(new QLabel(QStringLiteral("Digits:"), names), 7, 0);
    grid->addWidget(DigitsEdit, 7, 1);
    top->addWidget(names);

    rgExtension = new QGroupBox(QStringLiteral("Format"), this);
    rgExtension->setObjectName(QStringLiteral("rgExtension"));
    auto *extRow = new QHBoxLayout(rgExtension);
    rgExtensionBmp = NewRadio(rgExtension, "rgExtensionBmp", QStringLiteral("bmp"));
    rgExtensionJpeg = NewRadio(rgExtension, "rgExtensionJpeg", QStringLiteral("jpeg"));
    extRow->addWidget(rgExtensionBmp);
    extRow->addWidget(rgExtensionJpeg);
    top->addWidget(rgExtension);

    JpegQualityGroup = new QGroupBox(QStringLiteral("Jpeg quality"), this);
    auto *qualityRow = new QHBoxLayout(JpegQualityGroup);
    TrackBar1 = new QSlider(Qt::Horizontal, JpegQualityGroup);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setRange(1, 100);
    labQuality = new QLabel(JpegQualityGroup);
    labQuality->setObjectName(QStringLiteral("labQuality"));
    labQuality->setMinimumWidth(labQuality->fontMetrics().horizontalAdvance(QStringLiteral("100 ")));
    qualityRow->addWidget(TrackBar1);
    qualityRow->addWidget(labQuality);
    top->addWidget(JpegQualityGroup);
    top->addStretch(1);

    // Two pairs in one box: each pair excludes only its own partner.
    FRootGroup = new QButtonGroup(this);
    FRootGroup->addButton(rbUtiliserRacine, 0);
    FRootGroup->addButton(rbUtiliserNomVideo, 1);
    FAddGroup = new QButtonGroup(this);
    FAddGroup->addButton(rbTimestamp, 0);
    FAddGroup->addButton(rbNumero, 1);
    FExtGroup = new QButtonGroup(this);
    FExtGroup->addButton(rgExtensionBmp, 0);
    FExtGroup->addButton(rgExtensionJpeg, 1);
}

// Only what the user does reaches the actions: clicks, typing, and value
// changes that ShowAll and the apply handlers make under a signal blocker.
void TDossiersFrame::ConnectControls()
{
    connect(deDossierSaveButton, &QToolButton::clicked, this, &TDossiersFrame::ChooseFolderClick);
    connect(deDossierSave, &QLineEdit::editingFinished, this, &TDossiersFrame::FolderEdited);
    connect(FRootGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (FNomFichier)
            FNomFichier->SetValue(id);
    });
    connect(NomRacineEdit, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (FRacine)
            FRacine->SetValue(text);
    });
    connect(cbLimiterLongueur, &QCheckBox::clicked, this, [this](bool on) {
        if (FLimiter)
            FLimiter->SetValue(on);
    });
    connect(RacineLengthEdit, &QSpinBox::valueChanged, this, [this](int v) {
        if (FRacineLength)
            FRacineLength->SetValue(v);
    });
    connect(FAddGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (FAjouter)
            FAjouter->SetValue(id);
    });
    connect(DigitsEdit, &QSpinBox::valueChanged, this, [this](int v) {
        if (FDigits)
            FDigits->SetValue(v);
    });
    connect(seNextNum, &QSpinBox::valueChanged, this, [this](int v) {
        if (FNextNum)
            FNextNum->SetValue(v);
    });
    connect(FExtGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (FExtension)
            FExtension->SetValue(id);
    });
    connect(TrackBar1, &QSlider::valueChanged, this, [this](int v) {
        if (FQuality)
            FQuality->SetValue(v);
    });
}

void TDossiersFrame::ChooseFolderClick()
{
    if (!ChooseFolder)
        return;
    const QString folder = ChooseFolder(deDossierSave->text());
    if (!folder.isEmpty() && FDossier)
        FDossier->SetValue(WithTrailingSlash(folder));
}

// A typed or pasted folder counts as chosen; an emptied edit shows the
// setting again.
void TDossiersFrame::FolderEdited()
{
    if (!FDossier)
        return;
    const QString text = deDossierSave->text().trimmed();
    if (text.isEmpty()) {
        deDossierSave->setText(FDossier->Value());
        return;
    }
    const QString folder = WithTrailingSlash(text);
    if (folder != FDossier->Value())
        FDossier->SetValue(folder);
}

void TDossiersFrame::CheckPair(QButtonGroup *group, QRadioButton *zero, QRadioButton *one, int32_t value)
{
    const QSignalBlocker blockGroup(group);
    // An exclusive group cannot show "neither", which other values mean.
    group->setExclusive(false);
    zero->setChecked(value == 0);
    one->setChecked(value == 1);
    group->setExclusive(true);
}

void TDossiersFrame::Bind(const TNamingActions &acts, std::function<void()> rebuildName,
                          std::function<void()> formatNumber)
{
    FDossier = acts.waDossierSave;
    FRacine = acts.waDefaultRacine;
    FNomFichier = acts.iaNomFichierImage;
    FRacineLength = acts.iaRacineLength;
    FAjouter = acts.iaImageAjouter;
    FDigits = acts.iaDigits;
    FNextNum = acts.iaNextNum;
    FExtension = acts.iaImageExtension;
    FQuality = acts.iaJpegCompressionQuality;
    FLimiter = acts.baLimiterLongueur;
    FRebuildName = std::move(rebuildName);
    FFormatNumber = std::move(formatNumber);
    BindActions();
    ShowAll();
}

// Each handler shows the value, then runs the window's follow-up. The frame
// may go before the actions: the handlers hold it weakly.
void TDossiersFrame::BindActions()
{
    const QPointer<TDossiersFrame> self(this);
    const auto rebuild = [self] {
        if (self && self->FRebuildName)
            self->FRebuildName();
    };
    const auto format = [self] {
        if (self && self->FFormatNumber)
            self->FFormatNumber();
    };
    const auto show = [self](auto &&f) {
        if (self)
            f(*self);
    };
    if (FDossier)
        FDossier->OnAfterApply = [=](const QString &v) {
            show([&](TDossiersFrame &f) { f.deDossierSave->setText(v); });
            rebuild();
        };
    if (FNomFichier)
        FNomFichier->OnAfterApply = [=](const int32_t &v) {
            show([&](TDossiersFrame &f) {
                CheckPair(f.FRootGroup, f.rbUtiliserRacine, f.rbUtiliserNomVideo, v != 0 ? 1 : 0);
            });
            rebuild();
        };
    if (FRacine)
        FRacine->OnAfterApply = [=](const QString &v) {
            show([&](TDossiersFrame &f) {
                // Rewriting the text the user is typing would move the cursor.
                if (f.NomRacineEdit->text() != v)
                    f.NomRacineEdit->setText(v);
            });
            rebuild();
        };
    if (FLimiter)
        FLimiter->OnAfterApply = [=](const bool &v) {
            show([&](TDossiersFrame &f) { f.cbLimiterLongueur->setChecked(v); });
            rebuild();
        };
    if (FRacineLength)
        FRacineLength->OnAfterApply = [=](const int32_t &v) {
            show([&](TDossiersFrame &f) { ShowValue(f.RacineLengthEdit, v); });
            rebuild();
        };
    if (FAjouter)
        FAjouter->OnAfterApply = [=](const int32_t &v) {
            show([&](TDossiersFrame &f) { CheckPair(f.FAddGroup, f.rbTimestamp, f.rbNumero, v); });
            rebuild();
        };
    if (FDigits)
        FDigits->OnAfterApply = [=](const int32_t &v) {
            show([&](TDossiersFrame &f) { ShowValue(f.DigitsEdit, v); });
            format();
            rebuild();
        };
    if (FNextNum)
        FNextNum->OnAfterApply = [=](const int32_t &v) {
            show([&](TDossiersFrame &f) { ShowValue(f.seNextNum, v); });
            format();
        };
    if (FExtension)
        FExtension->OnAfterApply = [=](const int32_t &v) {
            show([&](TDossiersFrame &f) {
                CheckPair(f.FExtGroup, f.rgExtensionBmp, f.rgExtensionJpeg, v != 0 ? 1 : 0);
            });
            rebuild();
        };
    if (FQuality)
        FQuality->OnAfterApply = [=](const int32_t &v) {
            show([&](TDossiersFrame &f) {
                const QSignalBlocker block(f.TrackBar1);
                f.TrackBar1->setValue(v);
                f.labQuality->setText(QString::number(v));
            });
        };
}

// The actions' current values, shown without running any handler.
void TDossiersFrame::ShowAll()
{
    const QSignalBlocker blockers[] = {QSignalBlocker(deDossierSave), QSignalBlocker(NomRacineEdit),
                                       QSignalBlocker(cbLimiterLongueur), QSignalBlocker(TrackBar1)};
    if (FDossier)
        deDossierSave->setText(FDossier->Value());
    if (FNomFichier)
        CheckPair(FRootGroup, rbUtiliserRacine, rbUtiliserNomVideo, FNomFichier->Value() != 0 ? 1 : 0);
    if (FRacine)
        NomRacineEdit->setText(FRacine->Value());
    if (FLimiter)
        cbLimiterLongueur->setChecked(FLimiter->Value());
    if (FRacineLength)
        ShowValue(RacineLengthEdit, FRacineLength->Value());
    if (FAjouter)
        CheckPair(FAddGroup, rbTimestamp, rbNumero, FAjouter->Value());
    if (FDigits)
        ShowValue(DigitsEdit, FDigits->Value());
    if (FNextNum)
        ShowValue(seNextNum, FNextNum->Value());
    if (FExtension)
        CheckPair(FExtGroup, rgExtensionBmp, rgExtensionJpeg, FExtension->Value() != 0 ? 1 : 0);
    if (FQuality) {
        TrackBar1->setValue(FQuality->Value());
        labQuality->setText(QString::number(FQuality->Value()));
    }
}
