// The main window's life: start-up (TntFormCreate), show (FormShow), the
// preferences' load and save orders, the private decoders, the events of the
// components, and the shutdown (FormCloseQuery, FormDestroy).
//
// Order matters at both ends. At start the private decoders' settings are
// imported before any component could load a decoder, and every list is
// linked to the one script engine and switch processor before the switch
// processor runs (at the first activation, after the preferences loaded). At
// close the graph is stopped and the managers' graph parts released before
// the preferences are saved and the components die; the private decoders'
// records are taken back from the managers before they are freed.
#include "app/main.h"

#include "app/extraireunit.h"
#include "app/optionsunit.h"
#include "app/uImagesOptions.h"
#include "app/uNavframe.h"
#include "widgets/uAppliMan.h"
#include "KWPack/uAudioMan.h"
#include "KWPack/uDecoders.h"
#include "KWPack/uKWScript.h"
#include "KWPack/uKWSwitch.h"
#include "KWPack/uLinkEdit.h"
#include "KWPack/uMediaFactory.h"
#include "KWPack/uMonoFichierMan.h"
#include "KWPack/uNavMan.h"
#include "KWPack/uPreferences.h"
#include "KWPack/uPrivateLAV.h"
#include "KWPack/uPrivateffdshow.h"
#include "KWPack/uScriptForm.h"
#include "KWPack/uVideoMan.h"
#include "platform/base/MessageWindow.h"
#include "platform/shell/ScreenSaver.h"
#include "platform/shell/Shell.h"
#include "widgets/uHelpForm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

#include <utility>

namespace {

const QString kMaker = QStringLiteral("Vostrel");
const QString kHelpName = QStringLiteral("Vidstill");

QString WithSeparator(const QString &folder)
{
    return folder.isEmpty() || folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

// A record the private filters own, handed to the media factory without
// giving it ownership.
TFilterRecPtr Borrowed(const TFilterRec *rec) { return TFilterRecPtr(std::shared_ptr<void>(), rec); }

}  // namespace

QString TShowForm::ProgramFolder() { return WithSeparator(QCoreApplication::applicationDirPath()); }

// ---- start-up ------------------------------------------------------------------------

TShowForm::TShowForm(QWidget *parent, const QString &privateFolder)
    : QMainWindow(parent),
      FPrivateFilters(std::make_unique<TPrivateFilters>()),
      FPrivateFolderDefault(WithSeparator(privateFolder.isEmpty() ? ProgramFolder() : privateFolder))
{
    setObjectName(QStringLiteral("ShowForm"));
    OnSelectInBrowser = [](const QString &path) { return SHOpenFolderAndSelectItems(path); };
    OnOpenFolder = [](const QString &folder) { return ShellOpenFolder(folder); };
    CreateWidgets();
    CreateComponents();
    CreateActions();
    // 1. The private decoders' settings, before any decoder is made.
    TPrivateFilters::ImportSettings(waPrivateFolder->Value());
    // 2. The video panel's clicks.
    videoPanel->installEventFilter(this);
    // 3. The working objects.
    JpegEncoder = std::make_unique<TSnapshotSaver>(Naming);
    CreateMenus();
    BindComponents();
    BindActions();
    BindGrab();
    BindPanelActions();
    // 4. Caption and the preferences' titles.
    setWindowTitle(QStringLiteral("%1 by %2").arg(am->AppTitle, kMaker));
    gp->titre = kHelpName;
    gp->version = am->AppTitle + QStringLiteral(" by ") + kMaker;
    // 5. One script engine and one switch processor for every list.
    LinkScriptAndSwitch();
    // 6. Remembered private decoders stand for the loaded ones.
    vidman->SetKeepAspectratio(false);
    const TPrivateFilters *filters = FPrivateFilters.get();
    vidman->OnRestorePrivate = [filters](const TFilterRec *rec) { return filters->RestorePrivate(rec); };
    HasVideo = false;
    HasAudio = false;
    SetMediaState();
    resize(1000, 720);
}

void TShowForm::CreateComponents()
{
    gp = new TVostrelPreferences(this);
    gpal = new TKWActionList(this);
    gpal->setObjectName(QStringLiteral("gpal"));
    NavMan = TKWActionComponent::New<TNavMan>(this);
    NavMan->setObjectName(QStringLiteral("NavMan"));
    NavMan->SetGraphEdit(true);
    mf = new TMediaFactory(this);
    mf->SetGrapheMan(NavMan);
    vidman = TKWActionComponent::New<TVideoMan>(this);
    vidman->setObjectName(QStringLiteral("vidman"));
    vidman->SetWinBorderWidth(8);
    vidman->SetFullBorderWidth(8);
    vidman->SetBorderColor(clSilver);
    vidman->SetBackColor(clBlack);
    vidman->SetInsertBorderWidth(2);
    vidman->SetInsertBorderColor(clBlack);
    vidman->SetInsertTransparency(1.0);
    vidman->SetInsertTransparentColor(clFuchsia);
    vidman->SetInsertAntiAliasing(true);
    vidman->SetInsertAlignLines(taLeftJustify);
    TFont inlay;
    inlay.Name = QStringLiteral("Arial");
    inlay.Color = clNavy;
    inlay.SetHeight(-27);
    vidman->SetInsertFont(inlay);
    vidman->Setwindow(videoPanel);
    audman = TKWActionComponent::New<TAudioMan>(this);
    audman->setObjectName(QStringLiteral("audman"));
    ficman = TKWActionComponent::New<TMonoFichierMan>(this);
    ficman->setObjectName(QStringLiteral("ficman"));
    am = TKWActionComponent::New<TKWAppliMan>(this);
    am->setObjectName(QStringLiteral("am"));
    TimerSysDate = new QTimer(this);
    TimerSysDate->setObjectName(QStringLiteral("TimerSysDate"));
    TimerSysDate->setInterval(250);
    AboutFrame = new TAboutPanel(Client);
    AboutFrame->setObjectName(QStringLiteral("AboutFrame"));
    am->SetWinControl(Client);
    am->SetOptionsFrame(OptionsFrame);
    am->SetAboutFrame(AboutFrame);
    am->SetOptionsCloseVisible(true);
}

void TShowForm::BindComponents()
{
    const QPointer<TShowForm> self(this);
    // The aspect commands own Alt+F5 and Alt+F6 in this window; a key held by
    // two actions would run neither.
    am->naEMail->SetShortCut(QKeySequence());
    am->naHomePage->SetShortCut(QKeySequence());
    QStringList patterns;
    for (const char *e : kExtensions)
        patterns << QStringLiteral("*.") + QLatin1String(e);
    ficman->SetFilter(QStringLiteral("Videos|") + patterns.join(QLatin1Char(';')));
    ficman->SetRecentLength(50);
    ficman->ExistingOnly = true;
    ficman->SetDragControl(videoPanel);
    BindComponentEvents();
}

// The published events of the components go to the window's handlers.
void TShowForm::BindComponentEvents()
{
    const QPointer<TShowForm> self(this);
    ficman->OnTestExtension = [](const QString &lowerext, const QString &) { return ficmanTestExtension(lowerext); };
    ficman->OnOpenFile = [self](const QString &path) { return self && self->ficmanOpenFile(path); };
    ficman->OnRefused = [self](const QString &path, const QString &why) {
        if (self)
            self->ReportFailure(QStringLiteral("cannot open %1: %2").arg(path, why));
    };
    ficman->OnCloseFile = [self](const QString &path) {
        if (self)
            self->ficmanCloseFile(path);
    };
    gp->OnLoadPrefs = [self](TVostrelPreferences *prefs) {
        if (self)
            self->gpLoadPrefs(prefs);
    };
    gp->OnSavePrefs = [self](TVostrelPreferences *prefs) {
        if (self)
            self->gpSavePrefs(prefs);
    };
    gp->OnChangeMode = [self](TSavePreferences mode) {
        if (self)
            self->gpChangeMode(mode);
    };
    NavMan->OnDuration = [self](const QString &text) {
        if (self)
            self->NavManDuration(text);
    };
    NavMan->OnGraphCompleted = [self] {
        if (self)
            self->NavManGraphCompleted();
    };
    // Esc ends the precise wait under way only: AbortRequested stays set
    // until the next interval run, and must not fail every later seek.
    NavMan->AbortRequested = [self] { return !self || std::exchange(self->FNavAbort, false); };
    vidman->OnNotifyVideoFormat = [self](const QString &t) {
        if (self)
            self->vidmanNotifyVideoFormat(t);
    };
    vidman->OnNotifyVideoDecoder = [self](const QString &t) {
        if (self)
            self->vidmanNotifyVideoDecoder(t);
    };
    audman->OnNotifyAudioFormat = [self](const QString &t) {
        if (self)
            self->audmanNotifyAudioFormat(t);
    };
    audman->OnNotifyAudioDecoder = [self](const QString &t) {
        if (self)
            self->audmanNotifyAudioDecoder(t);
    };
    ExtraireFrame->OnSaveClick = [self] {
        if (self)
            self->SaveSnapshotConfirmed();
    };
    ExtraireFrame->OnPositionClick = [self](const QString &position) {
        if (self && self->NavMan->waStrPosition)
            self->NavMan->waStrPosition->SetValue(position);
    };
}

void TShowForm::LinkScriptAndSwitch()
{
    TKWScript *script = am->Script();
    TKWSwitch *sw = am->Switch();
    const QList<TCustomKWActionList *> lists{gpal, vidman, audman, NavMan, ficman};
    for (TCustomKWActionList *list : lists) {
        list->SetPascalScript(script);
        list->SetSwitch(sw);
    }
    if (am->ScriptForm())
        am->ScriptForm()->al_script->SetPascalScript(script);
}

// ---- show ----------------------------------------------------------------------------------

void TShowForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!FShown && !event->spontaneous()) {
        FShown = true;
        FormShow();
    }
}

void TShowForm::FormShow()
{
    RestoreShortcuts();
    FormResize();
    ThumbnailBox = ExtraireFrame->ThumbnailBox(4, 3);
    ExtraireFrame->LayoutThumbnail(ThumbnailBox);
    SnapshotSize = ::SnapshotSize(4, 3, QSize(0, 0));
    setAcceptDrops(true);
    for (QWidget *w : {static_cast<QWidget *>(vidman->FullScreenForm), vidman->PreviewForm})
        if (w) {
            w->setContextMenuPolicy(Qt::CustomContextMenu);
            connect(w, &QWidget::customContextMenuRequested, this,
                    [this, w](const QPoint &pos) { PopupMenu->popup(w->mapToGlobal(pos)); });
        }
    // The desktop forgets the inhibition when the process goes, even killed:
    // nothing can leave the screen saver off after the program.
    FScreenSaver = std::make_unique<ScreenSaverInhibitor>(QStringLiteral("Grabbing stills from a video"));
    ScreenSaverWasActive = FScreenSaver->Active();
    FResizeHandler = true;
    if (THelpForm *help = am->HelpForm()) {
        const QList<TCustomKWActionList *> lists{gpal, vidman, audman, NavMan, ficman};
        for (TCustomKWActionList *list : lists)
            help->AddActionList(kHelpName, list);
        if (am->ScriptForm())
            help->AddActionList(kHelpName, am->ScriptForm()->al_script);
    }
    // The video effects are refreshed here once they exist.
}

bool TShowForm::ScreenSaverInhibited() const { return FScreenSaver && FScreenSaver->Active(); }

// ---- preferences ---------------------------------------------------------------------------

void TShowForm::gpLoadPrefs(TVostrelPreferences *prefs)
{
    if (am->ScriptForm())
        am->ScriptForm()->LoadFromPrefs(prefs);
    const bool opened = prefs->OpenKey(SectionName());
    am->LoadFromPrefs(prefs);
    vidman->LoadFromPrefs(prefs);
    audman->LoadFromPrefs(prefs);
    NavMan->LoadFromPrefs(prefs);
    gpal->LoadFromPrefs(prefs);
    ficman->LoadFromPrefs(prefs);
    if (opened)
        prefs->CloseKey();
    // The decoder memories are sections of their own beside the windows'.
    VideoDecoderList().LoadSection(*prefs, QStringLiteral("VideoDecoders"));
    AudioDecoderList().LoadSection(*prefs, QStringLiteral("AudioDecoders"));
}

void TShowForm::gpSavePrefs(TVostrelPreferences *prefs)
{
    if (prefs->OpenKey(SectionName())) {
        ficman->SaveToPrefs(prefs);
        gpal->SaveToPrefs(prefs);
        NavMan->SaveToPrefs(prefs);
        audman->SaveToPrefs(prefs);
        vidman->SaveToPrefs(prefs);
        am->SaveToPrefs(prefs);
        prefs->CloseKey();
    }
    AudioDecoderList().SaveSection(*prefs, QStringLiteral("AudioDecoders"));
    VideoDecoderList().SaveSection(*prefs, QStringLiteral("VideoDecoders"));
    if (am->ScriptForm())
        am->ScriptForm()->SaveToPrefs(prefs);
}

void TShowForm::gpChangeMode(int mode) { OptionsFrame->ShowPrefsMode(static_cast<TSavePreferences>(mode)); }

// ---- private decoders ----------------------------------------------------------------------

void TShowForm::waPrivateFolderAfterApply(const QString &folder)
{
    TPrivateLAV::RemoveSettings();
    TPrivateLAV::ImportSettings(folder + QStringLiteral("LAV/LBV.reg"));
    TPrivateffdshow::RemoveSettings();
    TPrivateffdshow::ImportSettings(folder + QStringLiteral("ffdshow/VOS.reg"));
    baUsePrivateFilters->Apply();
}

void TShowForm::baUsePrivateFiltersAfterApply(bool on)
{
    // The managers only borrow the records: they are taken back first.
    mf->SetSplitterSource(nullptr);
    audman->SetFallbackAudioDecoder(nullptr);
    audman->SetDefaultAudioDecoder(nullptr);
    vidman->SetExtraVideoFilter(nullptr);
    vidman->SetFallbackVideoDecoder(nullptr);
    vidman->SetDefaultVideoDecoder(nullptr);
    FPrivateFilters->Unload();
    if (!on)
        return;
    FPrivateFilters->Load(waPrivateFolder->Value());
    const auto rec = [this](TPrivateFilters::TPrivateIndex i) { return FPrivateFilters->Record(i); };
    vidman->SetDefaultVideoDecoder(rec(TPrivateFilters::pfFFDShowVideo));
    vidman->SetExtraVideoFilter(rec(TPrivateFilters::pfFFDShowVideo));
    vidman->SetFallbackVideoDecoder(rec(TPrivateFilters::pfLAVVideo));
    audman->SetDefaultAudioDecoder(rec(TPrivateFilters::pfFFDShowAudio));
    audman->SetFallbackAudioDecoder(rec(TPrivateFilters::pfLAVAudio));
    mf->SetSplitterSource(Borrowed(rec(TPrivateFilters::pfLAVSplitter)));
}

// ---- events of the components -----------------------------------------------------------------

void TShowForm::NavManDuration(const QString &text) { navframe->ShowDuration(text); }

void TShowForm::NavManGraphCompleted()
{
    NavMan->MarkStreamEnded();
    NavMan->CurrentPosition();
    NavMan->caPlay->SetChecked(false);
}

void TShowForm::vidmanNotifyVideoFormat(const QString &text)
{
    VideoFormatLab->setText(text);
    VideoFormatLab->setToolTip(text);
    RefreshVideoRect();
    LayoutSliders();
}

void TShowForm::vidmanNotifyVideoDecoder(const QString &text) { VideoDecoderLab->setText(text); }
void TShowForm::audmanNotifyAudioFormat(const QString &text) { AudioFormatLab->setText(text); }
void TShowForm::audmanNotifyAudioDecoder(const QString &text) { AudioDecoderLab->setText(text); }

// ---- image naming --------------------------------------------------------------------------

void TShowForm::FormatNumberText()
{
    NumberText = FormatNumber(Naming.iaNextNum->Value(), Naming.iaDigits->Value());
    if (UsesNumber) {
        TIncrustNumero rec{1, NumberText};
        SendMessage(vidman->MessageWindow(), TVideoMan::WM_VIDEO_NUMBER, 0, reinterpret_cast<LPARAM>(&rec));
    }
}

void TShowForm::BuildImageName()
{
    const TNamingSettings s = NamingSettings(Naming);
    RootName = RootNameFor(s, CurrentVideoFile);
    NextImageName = ImageNameFor(s, RootName, NumberText, NavMan->CurrentPosition(), NavMan->FrameDuration,
                                 NextImageName);
    ImageLab->setText(NextImageName);
    QPalette pal = ImageLab->palette();
    pal.setColor(QPalette::WindowText,
                 QFileInfo::exists(NextImageName) ? QColor(0, 128, 0) : QColor(128, 0, 0));
    ImageLab->setPalette(pal);
}

// ---- shutdown ------------------------------------------------------------------------------

void TShowForm::closeEvent(QCloseEvent *event)
{
    FormCloseQuery();
    event->accept();
}

void TShowForm::FormCloseQuery()
{
    if (FClosing)
        return;
    FClosing = true;
    TimerSysDate->stop();
    naAbort->Execute();
    FResizeHandler = false;
    if (vidman->caFullscreen && vidman->caFullscreen->Checked())
        vidman->caFullscreen->SetChecked(false);
    ProcessMessages();
    ShutdownMedia();
}

void TShowForm::ShutdownMedia()
{
    NavMan->Stop();
    vidman->DisconnectVideo(false);
    audman->DisconnectAudio();
    TPrivateffdshow::RemoveSettings();
    TPrivateLAV::RemoveSettings();
}

TShowForm::~TShowForm()
{
    if (!FClosing) {
        FClosing = true;
        TimerSysDate->stop();
        ShutdownMedia();
    }
    FScreenSaver.reset();
    // Components go before the private filters whose records they borrow,
    // and the application manager (help and script windows) before the lists.
    baUsePrivateFiltersAfterApply(false);
    // The video manager's filter would see its status label half destroyed
    // (the label hides while it dies); it has nothing to say by then.
    if (vidman->StatusText)
        vidman->StatusText->removeEventFilter(vidman);
    delete am;
    delete ficman;
    delete audman;
    delete vidman;
    delete mf;
    delete NavMan;
    delete gpal;
    JpegEncoder.reset();
}
