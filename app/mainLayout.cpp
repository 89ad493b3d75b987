// The main window's widgets and their places: the bars, the side panels, the
// video panel and its sliders; the layout numbers on every resize; which side
// panel shows; the media-present state; the focus rule of the text fields;
// the clicks on the title and image status bars.
#include "app/main.h"

#include "app/extraireunit.h"
#include "app/optionsunit.h"
#include "app/uImagesOptions.h"
#include "app/uNavframe.h"
#include "widgets/uAppliMan.h"
#include "KWPack/uAudioMan.h"
#include "KWPack/uNavMan.h"
#include "KWPack/uVideoMan.h"
#include "platform/shell/Shell.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QSlider>
#include <QToolBar>

namespace {

}  // namespace

// A frame with a title, standing for a panel whose own issue comes later.
QWidget *TShowForm::NewPlaceholderFrame(QWidget *parent, const QString &name, const QString &title)
{
    auto *f = new QFrame(parent);
    f->setObjectName(name);
    f->setProperty("TFrame", true);
    f->setFrameShape(QFrame::StyledPanel);
    auto *lab = new QLabel(title, f);
    lab->setObjectName(name + QStringLiteral("Title"));
    lab->setWordWrap(true);
    lab->setGeometry(12, 12, TShowForm::kPanelWidth - 24, 40);
    QFont bold = lab->font();
    bold.setBold(true);
    lab->setFont(bold);
    f->hide();
    return f;
}

namespace {

QLabel *NewLabel(QWidget *parent, const QString &name, const QString &text = QString())
{
    auto *lab = new QLabel(text, parent);
    lab->setObjectName(name);
    return lab;
}

QFrame *NewBar(QWidget *parent, const QString &name)
{
    auto *bar = new QFrame(parent);
    bar->setObjectName(name);
    bar->setFrameShape(QFrame::Panel);
    bar->setFrameShadow(QFrame::Sunken);
    return bar;
}

// Changes to the window's own bookkeeping actions are not the user's: a macro
// being recorded must not get a line for each resize.
class NoMacroLine {
public:
    NoMacroLine() : FWasOpen(MacroLineOpen) { MacroLineOpen = true; }
    ~NoMacroLine() { MacroLineOpen = FWasOpen; }
    NoMacroLine(const NoMacroLine &) = delete;
    NoMacroLine &operator=(const NoMacroLine &) = delete;

private:
    bool FWasOpen;
};

}  // namespace

// ---- creation ----------------------------------------------------------------------

void TShowForm::CreateBars()
{
    PanelTitre = NewBar(Client, QStringLiteral("PanelTitre"));
    EnCoursLab = NewLabel(PanelTitre, QStringLiteral("EnCoursLab"));
    QFont titleFont = EnCoursLab->font();
    titleFont.setBold(true);
    EnCoursLab->setFont(titleFont);
    EnCoursLab->setCursor(Qt::PointingHandCursor);
    EnCoursLab->setToolTip(QStringLiteral("Click to show the video in the file browser"));
    scnLab = NewLabel(PanelTitre, QStringLiteral("scnLab"), QStringLiteral("scn"));
    srtlab = NewLabel(PanelTitre, QStringLiteral("srtlab"), QStringLiteral("srt"));
    moddlab = NewLabel(PanelTitre, QStringLiteral("moddlab"), QStringLiteral("modd"));
    for (QLabel *lab : {scnLab, srtlab, moddlab}) {
        QFont small = lab->font();
        small.setPointSize(7);
        lab->setFont(small);
        lab->setCursor(Qt::PointingHandCursor);
        lab->hide();
    }
    for (QObject *o : {static_cast<QObject *>(PanelTitre), static_cast<QObject *>(EnCoursLab),
                       static_cast<QObject *>(scnLab), static_cast<QObject *>(srtlab), static_cast<QObject *>(moddlab)})
        o->installEventFilter(this);

    PanelHaut = NewBar(Client, QStringLiteral("PanelHaut"));
    VideoFormatLab = NewLabel(PanelHaut, QStringLiteral("VideoFormatLab"));
    VideoDecoderLab = NewLabel(PanelHaut, QStringLiteral("VideoDecoderLab"));
    AudioFormatLab = NewLabel(PanelHaut, QStringLiteral("AudioFormatLab"));
    AudioDecoderLab = NewLabel(PanelHaut, QStringLiteral("AudioDecoderLab"));
    PanelHaut->hide();

    panelImage = NewBar(Client, QStringLiteral("panelImage"));
    ImageLab = NewLabel(panelImage, QStringLiteral("ImageLab"));
    ImageLab->setCursor(Qt::PointingHandCursor);
    ImageLab->setToolTip(QStringLiteral("Name of the next image; click to show it in the file browser"));
    ImageLab->hide();
    panelImage->installEventFilter(this);
    ImageLab->installEventFilter(this);

    Bevel = new QFrame(Client);
    Bevel->setObjectName(QStringLiteral("Bevel"));
    Bevel->setFrameShape(QFrame::VLine);
    Bevel->setFrameShadow(QFrame::Sunken);
}

void TShowForm::CreateWidgets()
{
    Client = new QWidget(this);
    Client->setObjectName(QStringLiteral("Client"));
    Client->installEventFilter(this);
    setCentralWidget(Client);
    videoPanel = new QWidget(Client);
    videoPanel->setObjectName(QStringLiteral("videoPanel"));
    videoPanel->setAttribute(Qt::WA_OpaquePaintEvent);
    Xslider = new QSlider(Qt::Horizontal, Client);
    Yslider = new QSlider(Qt::Vertical, Client);
    Xslider->setObjectName(QStringLiteral("Xslider"));
    Yslider->setObjectName(QStringLiteral("Yslider"));
    for (QSlider *s : {Xslider, Yslider}) {
        s->setRange(0, 10000);
        s->hide();
    }
    CreateBars();
    CreatePanels();
    CreateToolbar();
}

void TShowForm::CreatePanels()
{
    SaveImagesFrame = new TDossiersFrame(Client);
    SaveImagesFrame->setObjectName(QStringLiteral("SaveImagesFrame"));
    SaveImagesFrame->setProperty("TFrame", true);
    ExtraireFrame = new TExtraireFrame(Client);
    ExtraireFrame->setObjectName(QStringLiteral("ExtraireFrame"));
    ExtraireFrame->setProperty("TFrame", true);
    IncrusterFrame = NewPlaceholderFrame(Client, QStringLiteral("IncrusterFrame"), QStringLiteral("Inlay settings"));
    DVIncrustFrame = NewPlaceholderFrame(Client, QStringLiteral("DVIncrustFrame"), QStringLiteral("Date of DV videos"));
    intervalloframe = NewPlaceholderFrame(Client, QStringLiteral("intervalloframe"), QStringLiteral("Intervalometer"));
    intervalloframe->resize(420, 60);
    OptionsFrame = new TOptionsFrame(Client);
    OptionsFrame->setObjectName(QStringLiteral("OptionsFrame"));
    OptionsFrame->setProperty("TFrame", true);
    navframe = new Tnavframe(Client);
    navframe->setObjectName(QStringLiteral("navframe"));
    navframe->hide();
    for (QWidget *w : {static_cast<QWidget *>(SaveImagesFrame), static_cast<QWidget *>(ExtraireFrame)})
        w->hide();
    FTextFields = {SaveImagesFrame->NomRacineEdit};
    for (const QPointer<QWidget> &w : FTextFields)
        w->installEventFilter(this);
}

// ---- layout ------------------------------------------------------------------------

int TShowForm::VideoOffset() const { return PanelsOnRight ? 0 : kPanelWidth; }

void TShowForm::FormResize()
{
    if (!Client)
        return;
    PanelsOnRight = caBasculerVue->Checked();
    const int cw = Client->width();
    const int ch = Client->height();
    {
        const NoMacroLine quiet;
        iaLeftFrame->SetValue(PanelsOnRight ? cw - kPanelWidth : 0);
    }
    const int left = iaLeftFrame->Value();
    for (int p = ppSaveImages; p <= ppDVIncrust; ++p)
        PanelOf(p)->setGeometry(left, 54, kPanelWidth, p == ppExtraire ? ch - 80 : ch - 84);
    Bevel->setGeometry(PanelsOnRight ? left - 1 : 277, 54, 2, ch - 84);
    LayoutBars(cw, ch);
    LayoutVideo(cw, ch);
    LayoutToolbar(cw);
    RefreshVideoRect();
    LayoutSliders();
    vidman->RepaintAll();
}

void TShowForm::LayoutBars(int cw, int ch)
{
    PanelTitre->setGeometry(0, kToolbarHeight, cw, kTitleHeight);
    const int tw = PanelTitre->width();
    EnCoursLab->setGeometry(8, 3, std::max(0, tw - 96), kTitleHeight - 6);
    scnLab->setGeometry(tw - 30, 5, 26, 14);
    srtlab->setGeometry(tw - 48, 5, 18, 14);
    moddlab->setGeometry(tw - 80, 5, 30, 14);
    panelImage->setGeometry(0, ch - kStatusHeight, cw, kStatusHeight);
    ImageLab->setGeometry(8, 3, std::max(0, cw - 16), kStatusHeight - 6);
}

void TShowForm::LayoutVideo(int cw, int ch)
{
    const bool sliders = caSliders->Checked();
    const int x = VideoOffset() + 8 + (sliders ? 0 : 11);
    const int top = 54 + kPanelHautHeight;
    videoPanel->setGeometry(x, top, std::max(0, cw - 314), std::max(0, ch - 214));
    const QRect v = videoPanel->geometry();
    if (navframe) {
        // Integer division truncates toward zero, as the bar's place wants.
        navframe->move(v.x() + (v.width() - navframe->width()) / 2, v.y() + v.height());
        intervalloframe->move(navframe->pos());
    }
    PanelHaut->setGeometry(v.x(), 54, v.width(), kPanelHautHeight);
    const int half = v.width() / 2;
    const int labWidth = std::max(0, half - 4);
    VideoFormatLab->setGeometry(2, 1, labWidth, 15);
    VideoDecoderLab->setGeometry(2, 16, labWidth, 15);
    AudioFormatLab->setGeometry(half - 2, 1, labWidth, 15);
    AudioDecoderLab->setGeometry(half - 2, 16, labWidth, 15);
    const bool showInterval = caIntervalloShow->Checked() && !sliders && HasVideo;
    intervalloframe->setVisible(showInterval);
    if (navframe)
        navframe->setVisible(!sliders && !showInterval && (HasVideo || HasAudio));
    if (showInterval)
        intervalloframe->raise();
}

void TShowForm::LayoutToolbar(int cw)
{
    if (!tbUnique)
        return;
    tbUnique->setGeometry(0, 0, cw, kToolbarHeight);
    const int gap = std::max(0, (cw + 116 - 29 * ToolButtonCount) / 4);
    for (QWidget *sep : ToolSeparators)
        sep->setFixedWidth(gap);
}

void TShowForm::RefreshVideoRect()
{
    const TRect r = vidman->WindowDest;
    VideoRect = QRect(r.Left, r.Top, r.Width(), r.Height());
}

void TShowForm::LayoutSliders()
{
    const bool on = caSliders->Checked() && HasVideo;
    Xslider->setVisible(on);
    Yslider->setVisible(on);
    if (!on)
        return;
    const QRect r = VideoRect.translated(videoPanel->pos());
    Yslider->setGeometry(r.right() + 1, r.top() - 6, 20, r.height() + 12);
    Xslider->setGeometry(r.left() - 6, r.bottom() + 1, r.width() + 12, 20);
}

// ---- side panels ---------------------------------------------------------------------

QWidget *TShowForm::PanelOf(int panel) const
{
    switch (panel) {
    case ppSaveImages:
        return SaveImagesFrame;
    case ppExtraire:
        return ExtraireFrame;
    case ppIncrust:
        return IncrusterFrame;
    case ppDVIncrust:
        return DVIncrustFrame;
    default:
        return nullptr;
    }
}

TNopeAction *TShowForm::ShowActionOf(int panel) const
{
    switch (panel) {
    case ppSaveImages:
        return naShowSaveImagesFrame;
    case ppExtraire:
        return naShowExtraireFrame;
    case ppIncrust:
        return naShowIncrustFrame;
    case ppDVIncrust:
        return naShowDVIncrustFrame;
    default:
        return nullptr;
    }
}

// iaPanneauActif's before-apply: the new panel in front, its action checked.
void TShowForm::ShowPanel(int panel)
{
    for (int p = ppSaveImages; p <= ppDVIncrust; ++p) {
        if (p == panel)
            continue;
        PanelOf(p)->hide();
        ShowActionOf(p)->setChecked(false);
    }
    if (QWidget *w = PanelOf(panel)) {
        w->show();
        w->raise();
        ShowActionOf(panel)->setChecked(true);
    }
}

// ---- media-present state ---------------------------------------------------------------

void TShowForm::SetMediaState()
{
    PanelHaut->setVisible(HasVideo);
    if (HasVideo)
        PanelHaut->raise();
    if (!HasVideo && caSliders->Checked())
        caSliders->SetChecked(false);
    for (QAction *a : {static_cast<QAction *>(caSliders), static_cast<QAction *>(vidman->caFullscreen),
                       static_cast<QAction *>(naGrab), static_cast<QAction *>(naCopy),
                       static_cast<QAction *>(caIntervalloShow)})
        if (a)
            a->setEnabled(HasVideo);
    ImageLab->setVisible(HasVideo);
    if (!HasVideo && NavMan->caPlay)
        NavMan->caPlay->SetImageIndex(43);
    for (QAction *a : {static_cast<QAction *>(audman->caMute), static_cast<QAction *>(audman->naIncVolume),
                       static_cast<QAction *>(audman->naDecVolume)})
        if (a)
            a->setEnabled(HasAudio);
    if (QProgressBar *gauge = audman->AudioGauge())
        gauge->setVisible(HasAudio);
    FormResize();
}

// ---- focus rule of the text fields ---------------------------------------------------------

void TShowForm::TextFieldFocus(bool focused)
{
    if (focused)
        RemoveShortcuts();
    else
        RestoreShortcuts();
}

// Typing "+", "-" or Ctrl+Space in a text field must reach the field.
void TShowForm::RemoveShortcuts()
{
    FShortcutsRemoved = true;
    audman->naIncVolume->SetShortCut(QKeySequence());
    audman->naIncVolume->SetSecondaryShortcuts({});
    audman->naDecVolume->SetShortCut(QKeySequence());
    NavMan->caPlay->SetShortCut(QKeySequence());
}

void TShowForm::RestoreShortcuts()
{
    FShortcutsRemoved = false;
    audman->naIncVolume->SetShortCut(QKeySequence(Qt::KeypadModifier | Qt::Key_Plus));
    audman->naIncVolume->SetSecondaryShortcuts({QKeySequence(Qt::ALT | Qt::Key_P)});
    audman->naDecVolume->SetShortCut(QKeySequence(Qt::KeypadModifier | Qt::Key_Minus));
    NavMan->caPlay->SetShortCut(QKeySequence(Qt::CTRL | Qt::Key_Space));
}

// ---- clicks on the bars -----------------------------------------------------------------

void TShowForm::TitleClick()
{
    if (!CurrentVideoFile.isEmpty() && OnSelectInBrowser)
        OnSelectInBrowser(CurrentVideoFile);
}

QString TShowForm::ImageStatusTarget() const
{
    if (!NextImageName.isEmpty() && QFileInfo::exists(NextImageName))
        return NextImageName;
    const QDir folder(Naming.waDossierSave->Value());
    if (RootName.isEmpty() || !folder.exists())
        return QString();
    const QStringList found =
        folder.entryList({RootName + QStringLiteral("_*")}, QDir::Files, QDir::Name);
    return found.isEmpty() ? QString() : folder.filePath(found.first());
}

void TShowForm::ImageStatusClick()
{
    const QString target = ImageStatusTarget();
    if (!target.isEmpty()) {
        if (OnSelectInBrowser)
            OnSelectInBrowser(target);
        return;
    }
    const QString folder = Naming.waDossierSave->Value();
    if (QFileInfo(folder).isDir() && OnOpenFolder)
        OnOpenFolder(folder);
}

// A left click grabs (or copies, as the option says); with the sliders shown
// it places the inlay instead, which comes with the inlay's issue.
void TShowForm::VideoClick(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || caSliders->Checked())
        return;
    TNopeAction *a = Naming.baSauverQuandClic->Value() ? naGrab : naCopy;
    if (a->isEnabled())
        a->Execute();
}

bool TShowForm::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type t = event->type();
    if (t == QEvent::Resize && watched == Client && FResizeHandler)
        FormResize();
    if ((t == QEvent::FocusIn || t == QEvent::FocusOut) && FTextFields.contains(qobject_cast<QWidget *>(watched)))
        TextFieldFocus(t == QEvent::FocusIn);
    if (t == QEvent::MouseButtonPress && watched == videoPanel)
        VideoClick(static_cast<QMouseEvent *>(event));
    if (t == QEvent::MouseButtonPress && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (watched == PanelTitre || watched == EnCoursLab || watched == scnLab || watched == srtlab
            || watched == moddlab) {
            TitleClick();
            return true;
        }
        if (watched == panelImage || watched == ImageLab) {
            ImageStatusClick();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
