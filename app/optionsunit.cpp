#include "app/optionsunit.h"

#include "app/mainNaming.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QGroupBox *NewRadioGroup(QWidget *parent, const QString &name, const QString &caption, const QStringList &items,
                         QButtonGroup *group, QRect place)
{
    auto *box = new QGroupBox(caption, parent);
    box->setObjectName(name);
    box->setGeometry(place);
    auto *column = new QVBoxLayout(box);
    for (int i = 0; i < items.size(); ++i) {
        auto *rb = new QRadioButton(items.at(i), box);
        rb->setObjectName(name + QString::number(i));
        group->addButton(rb, i);
        column->addWidget(rb);
    }
    column->addStretch(1);
    return box;
}

QCheckBox *NewCheck(QWidget *parent, const QString &name, const QString &caption, QRect place)
{
    auto *cb = new QCheckBox(caption, parent);
    cb->setObjectName(name);
    cb->setGeometry(place);
    return cb;
}

// Checks the button of `value`, or none for a value without a button.
void ShowChoice(QButtonGroup *group, int value)
{
    const QSignalBlocker block(group);
    if (QAbstractButton *b = group->button(value)) {
        b->setChecked(true);
        return;
    }
    group->setExclusive(false);
    for (QAbstractButton *b : group->buttons())
        b->setChecked(false);
    group->setExclusive(true);
}

void ShowCheck(QCheckBox *cb, bool on)
{
    const QSignalBlocker block(cb);
    cb->setChecked(on);
}

// Shows the value first, then runs the handler the action already had.
template <class A, class Show>
void ChainAfterApply(A *a, Show show)
{
    if (!a)
        return;
    auto previous = a->OnAfterApply;
    a->OnAfterApply = [previous, show](const auto &v) {
        show(v);
        if (previous)
            previous(v);
    };
}

}  // namespace

TOptionsFrame::TOptionsFrame(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("OptionsFrame"));
    setProperty("TFrame", true);
    resize(480, 360);
    // Room below the pages for the application manager's close link.
    pcOptions = new QTabWidget(this);
    pcOptions->setObjectName(QStringLiteral("pcOptions"));
    pcOptions->setGeometry(8, 8, 464, 290);
    CreatePreferencesPage();
    CreateSettingsPage();
    CreateAdvancedPage();
    ChooseFolder = [this](const QString &start) {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("Folder for private filters"), start);
    };
    ConnectControls();
}

void TOptionsFrame::CreatePreferencesPage()
{
    tsPreferences = new QWidget;
    tsPreferences->setObjectName(QStringLiteral("tsPreferences"));
    pcOptions->addTab(tsPreferences, QStringLiteral("Preferences"));
    FPrefsGroup = new QButtonGroup(this);
    rgPrefs = NewRadioGroup(tsPreferences, QStringLiteral("rgPrefs"), QStringLiteral("Save the preferences when quit"),
                            {QStringLiteral("Normal Mode (registry)"), QStringLiteral("Portable Mode (USB key)"),
                             QStringLiteral("Do not save when quit")},
                            FPrefsGroup, QRect(12, 12, 300, 120));
}

void TOptionsFrame::CreateSettingsPage()
{
    tsSettings = new QWidget;
    tsSettings->setObjectName(QStringLiteral("tsSettings"));
    pcOptions->addTab(tsSettings, QStringLiteral("Settings"));
    FAspectGroup = new QButtonGroup(this);
    rgForcerAspectRatio = NewRadioGroup(
        tsSettings, QStringLiteral("rgForcerAspectRatio"), QStringLiteral("Force Aspect Ratio"),
        {QStringLiteral("Normal"), QStringLiteral("4x3"), QStringLiteral("16x9"), QStringLiteral("native")},
        FAspectGroup, QRect(12, 12, 200, 140));
    cbRAZwhenOpenFile = NewCheck(tsSettings, QStringLiteral("cbRAZwhenOpenFile"),
                                 QStringLiteral("Put the numbers back to zero when you open a video"),
                                 QRect(12, 164, 430, 24));
    cbSauverQuandClic = NewCheck(tsSettings, QStringLiteral("cbSauverQuandClic"),
                                 QStringLiteral("Save the image when click on the video"), QRect(12, 190, 430, 24));
    cbConfirmerImage = NewCheck(tsSettings, QStringLiteral("cbConfirmerImage"),
                                QStringLiteral("Confirm before replacing an existing image"), QRect(12, 216, 430, 24));
}

void TOptionsFrame::CreateAdvancedPage()
{
    tsAdvanced = new QWidget;
    tsAdvanced->setObjectName(QStringLiteral("tsAdvanced"));
    pcOptions->addTab(tsAdvanced, QStringLiteral("Advanced"));
    cbUsePrivateFilters = NewCheck(tsAdvanced, QStringLiteral("cbUsePrivateFilters"),
                                   QStringLiteral("Use private filters"), QRect(12, 12, 430, 24));
    auto *folderLab = new QLabel(QStringLiteral("Folder for private filters"), tsAdvanced);
    folderLab->setGeometry(12, 40, 430, 20);
    dePrivateFolder = new QLineEdit(tsAdvanced);
    dePrivateFolder->setObjectName(QStringLiteral("dePrivateFolder"));
    dePrivateFolder->setGeometry(12, 62, 400, 24);
    folderLab->setBuddy(dePrivateFolder);
    dePrivateFolderButton = new QToolButton(tsAdvanced);
    dePrivateFolderButton->setObjectName(QStringLiteral("dePrivateFolderButton"));
    dePrivateFolderButton->setText(QStringLiteral("..."));
    dePrivateFolderButton->setIcon(QIcon::fromTheme(QStringLiteral("folder-open")));
    dePrivateFolderButton->setGeometry(416, 62, 26, 24);
    dePrivateFolderButton->setToolTip(QStringLiteral("Choose the folder for private filters"));
    cbImagesDeInterlacer = NewCheck(tsAdvanced, QStringLiteral("cbImagesDeInterlacer"),
                                    QStringLiteral("Deinterlace the pictures"), QRect(12, 100, 430, 24));
    cbNavPrecise = NewCheck(tsAdvanced, QStringLiteral("cbNavPrecise"), QStringLiteral("Accurate Navigation"),
                            QRect(12, 126, 430, 24));
    auto *preposLab = new QLabel(QStringLiteral("Offset for precise Navigation"), tsAdvanced);
    preposLab->setGeometry(32, 156, 250, 24);
    seSeekPrepos = new QSpinBox(tsAdvanced);
    seSeekPrepos->setObjectName(QStringLiteral("seSeekPrepos"));
    seSeekPrepos->setGeometry(290, 156, 100, 24);
    seSeekPrepos->setRange(0, 60000);
    seSeekPrepos->setSuffix(QStringLiteral(" ms"));
    seSeekPrepos->setValue(1000);
    // One value per finished entry, not one per typed digit.
    seSeekPrepos->setKeyboardTracking(false);
    preposLab->setBuddy(seSeekPrepos);
}

void TOptionsFrame::ConnectControls()
{
    connect(FPrefsGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (FActs.SetMode)
            FActs.SetMode(static_cast<TSavePreferences>(id));
    });
    connect(FAspectGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (FAspect)
            FAspect->SetValue(id);
    });
    const std::pair<QCheckBox *, QPointer<TBooleanAction> TOptionsFrame::*> checks[] = {
        {cbRAZwhenOpenFile, &TOptionsFrame::FRaz},
        {cbSauverQuandClic, &TOptionsFrame::FSauver},
        {cbConfirmerImage, &TOptionsFrame::FConfirmer},
        {cbUsePrivateFilters, &TOptionsFrame::FPrivate},
        {cbImagesDeInterlacer, &TOptionsFrame::FDeinterlace},
    };
    for (const auto &[cb, field] : checks)
        connect(cb, &QCheckBox::clicked, this, [this, field](bool on) {
            if (TBooleanAction *a = this->*field)
                a->SetValue(on);
        });
    connect(cbNavPrecise, &QCheckBox::clicked, this, [this](bool on) {
        if (FPrecise)
            FPrecise->SetChecked(on);
    });
    connect(seSeekPrepos, &QSpinBox::valueChanged, this, [this](int v) {
        if (FPrepos && FPrepos->Value() != v)
            FPrepos->SetValue(v);
    });
    connect(dePrivateFolderButton, &QToolButton::clicked, this, &TOptionsFrame::ChooseFolderClick);
    connect(dePrivateFolder, &QLineEdit::editingFinished, this, &TOptionsFrame::FolderEdited);
}

void TOptionsFrame::ChooseFolderClick()
{
    if (!ChooseFolder)
        return;
    const QString folder = ChooseFolder(dePrivateFolder->text());
    if (!folder.isEmpty() && FFolder)
        FFolder->SetValue(WithTrailingSlash(folder));
}

// A typed folder counts as chosen; an emptied edit shows the setting again.
void TOptionsFrame::FolderEdited()
{
    if (!FFolder)
        return;
    const QString text = dePrivateFolder->text().trimmed();
    if (text.isEmpty()) {
        dePrivateFolder->setText(FFolder->Value());
        return;
    }
    const QString folder = WithTrailingSlash(text);
    if (folder != FFolder->Value())
        FFolder->SetValue(folder);
}

void TOptionsFrame::Bind(const TOptionsActions &acts)
{
    FActs = acts;
    FAspect = acts.iaForcerAspectRatio;
    FPrepos = acts.iaSeekPrepos;
    FRaz = acts.baRAZWhenOpenFile;
    FSauver = acts.baSauverQuandClic;
    FConfirmer = acts.baConfirmerImage;
    FPrivate = acts.baUsePrivateFilters;
    FDeinterlace = acts.baImageDeinterlacer;
    FFolder = acts.waPrivateFolder;
    FPrecise = acts.caSeekPrecision;
    BindActions();
    ShowAll();
}

// The frame may go before the actions: the handlers hold it weakly.
void TOptionsFrame::BindActions()
{
    const QPointer<TOptionsFrame> self(this);
    ChainAfterApply(FAspect.data(), [self](const int32_t &v) {
        if (self)
            ShowChoice(self->FAspectGroup, v);
    });
    ChainAfterApply(FPrepos.data(), [self](const int32_t &v) {
        if (!self)
            return;
        const QSignalBlocker block(self->seSeekPrepos);
        self->seSeekPrepos->setValue(v);
    });
    const std::pair<TBooleanAction *, QCheckBox *TOptionsFrame::*> checks[] = {
        {FRaz, &TOptionsFrame::cbRAZwhenOpenFile},
        {FSauver, &TOptionsFrame::cbSauverQuandClic},
        {FConfirmer, &TOptionsFrame::cbConfirmerImage},
        {FPrivate, &TOptionsFrame::cbUsePrivateFilters},
        {FDeinterlace, &TOptionsFrame::cbImagesDeInterlacer},
    };
    for (const auto &[a, field] : checks)
        ChainAfterApply(a, [self, field](const bool &v) {
            if (self)
                ShowCheck(self.data()->*field, v);
        });
    ChainAfterApply(FFolder.data(), [self](const QString &v) {
        if (self)
            self->dePrivateFolder->setText(v);
    });
    // A check action's state is its checked state, whoever sets it.
    disconnect(FPreciseLink);
    if (FPrecise)
        FPreciseLink = connect(FPrecise, &QAction::toggled, this, [this](bool on) { ShowCheck(cbNavPrecise, on); });
}

void TOptionsFrame::ShowAll()
{
    if (FActs.GetMode)
        ShowPrefsMode(FActs.GetMode());
    if (FAspect)
        ShowChoice(FAspectGroup, FAspect->Value());
    if (FPrepos) {
        const QSignalBlocker block(seSeekPrepos);
        seSeekPrepos->setValue(FPrepos->Value());
    }
    const std::pair<TBooleanAction *, QCheckBox *> checks[] = {
        {FRaz, cbRAZwhenOpenFile},   {FSauver, cbSauverQuandClic},        {FConfirmer, cbConfirmerImage},
        {FPrivate, cbUsePrivateFilters}, {FDeinterlace, cbImagesDeInterlacer},
    };
    for (const auto &[a, cb] : checks)
        if (a)
            ShowCheck(cb, a->Value());
    if (FFolder)
        dePrivateFolder->setText(FFolder->Value());
    if (FPrecise)
        ShowCheck(cbNavPrecise, FPrecise->Checked());
}

void TOptionsFrame::ShowPrefsMode(TSavePreferences mode)
{
    ShowChoice(FPrefsGroup, static_cast<int>(mode));
}
