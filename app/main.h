// TShowForm: the program's main window. It owns every long-lived component
// of the capture workflow (preferences, its own action list, graph and
// navigation, video, audio, the open file, the application manager), the side
// panels, the bars, the toolbar and the menus; it wires them at start-up,
// routes every command to a typed action, lays itself out on every resize,
// opens and closes the media, and shuts them down in order at close.
//
// UI thread only. The components are children of the window and die with it;
// the private filters and the screen-saver inhibition are owned through
// unique pointers. Sources (VideoSource, AudioSource) are borrowed from the
// media factory's cached devices.
//
// The implementation is split by concern: main.cpp (start-up, show,
// preferences, private filters, shutdown), mainActions.cpp (the action list),
// mainMenus.cpp (menus, toolbar, popup), mainLayout.cpp (widgets, layout,
// panels, media-present state, focus rule), mainOpen.cpp (open and close),
// mainGrab.cpp (the capture).
#pragma once

#include "app/mainNaming.h"
#include "KWPack/uScriptAction.h"

#include <QMainWindow>
#include <QImage>
#include <QPointer>
#include <QRect>
#include <QString>

#include <array>
#include <functional>
#include <memory>

class QFrame;
class QLabel;
class QMenu;
class QMouseEvent;
class QSlider;
class QTimer;
class QToolBar;
class ScreenSaverInhibitor;
class TAudioMan;
class TAudioSource;
class TDossiersFrame;
class TExtraireFrame;
class TKWAppliMan;
class TMediaFactory;
class TMonoFichierMan;
class TNavMan;
class TOptionsFrame;
class TPrivateFilters;
class TVideoMan;
class TVideoSource;
class TVostrelPreferences;
class Tnavframe;

class TShowForm : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kPanelWidth = 276;
    static constexpr int kToolbarHeight = 30;
    static constexpr int kTitleHeight = 24;
    static constexpr int kStatusHeight = 24;
    static constexpr int kPanelHautHeight = 34;
    // Extensions the window opens, without their dot.
    static const std::array<const char *, 19> kExtensions;

    enum TPanneau { ppNone = 0, ppSaveImages = 1, ppExtraire = 2, ppIncrust = 3, ppDVIncrust = 4 };

    // Start-up (TntFormCreate): the private filters' settings, the
    // components, the caption, the links to the script engine and the
    // switch processor. `privateFolder` overrides waPrivateFolder's default
    // (the program's folder) for tests and portable installs.
    explicit TShowForm(QWidget *parent = nullptr, const QString &privateFolder = QString());
    // FormDestroy: the screen saver comes back, the working objects go.
    ~TShowForm() override;

    // ---- components (children of the window) ----
    TVostrelPreferences *gp = nullptr;
    TKWActionList *gpal = nullptr;
    TNavMan *NavMan = nullptr;
    TMediaFactory *mf = nullptr;
    TVideoMan *vidman = nullptr;
    TAudioMan *audman = nullptr;
    TMonoFichierMan *ficman = nullptr;
    TKWAppliMan *am = nullptr;
    QTimer *TimerSysDate = nullptr;

    // ---- panels and bars ----
    QWidget *Client = nullptr;  // the client area; every position is in it
    TDossiersFrame *SaveImagesFrame = nullptr;
    TExtraireFrame *ExtraireFrame = nullptr;
    QWidget *IncrusterFrame = nullptr;   // placeholder until the inlay panel exists
    QWidget *DVIncrustFrame = nullptr;   // placeholder until the DV date panel exists
    QWidget *intervalloframe = nullptr;  // placeholder until the intervalometer exists
    TOptionsFrame *OptionsFrame = nullptr;
    QWidget *AboutFrame = nullptr;
    Tnavframe *navframe = nullptr;
    QFrame *Bevel = nullptr;  // between the video and the side panels
    QFrame *PanelTitre = nullptr;
    QLabel *EnCoursLab = nullptr, *scnLab = nullptr, *srtlab = nullptr, *moddlab = nullptr;
    QFrame *PanelHaut = nullptr;
    QLabel *VideoFormatLab = nullptr, *VideoDecoderLab = nullptr, *AudioFormatLab = nullptr,
           *AudioDecoderLab = nullptr;
    QFrame *panelImage = nullptr;
    QLabel *ImageLab = nullptr;
    QToolBar *tbUnique = nullptr;
    QList<QWidget *> ToolSeparators;  // the four stretchable gaps of the toolbar
    int ToolButtonCount = 0;
    QWidget *videoPanel = nullptr;
    QSlider *Xslider = nullptr, *Yslider = nullptr;
    QMenu *PopupMenu = nullptr;
    QMenu *mnFiles = nullptr, *mnVideo = nullptr, *mnFrames = nullptr, *mnInlay = nullptr, *mnHelp = nullptr;

    // ---- working state ----
    QString CurrentVideoFile;
    bool HasVideo = false;
    bool HasAudio = false;
    TVideoSource *VideoSource = nullptr;
    TAudioSource *AudioSource = nullptr;
    QImage GrabBitmap{1, 1, QImage::Format_RGB888};
    QImage SnapshotBitmap{1, 1, QImage::Format_RGB888};
    QImage DeinterlaceBitmap;
    std::unique_ptr<TSnapshotSaver> JpegEncoder;  // writes SnapshotBitmap
    QString NextImageName, RootName, NumberText;
    bool AbortRequested = false;
    bool PanelsOnRight = false;
    QRect VideoRect;
    bool ScreenSaverWasActive = false;
    bool UsesFileName = false, UsesNumber = false;  // token switches of the inlay
    QRect ThumbnailBox;                              // aspect fit in the last-snapshot panel
    QSize SnapshotSize;

    // ---- the window's actions (gpal owns them) ----
    TNopeAction *naGrab = nullptr, *naCopy = nullptr, *naAbort = nullptr, *naExecuteScript = nullptr;
    TIntegerAction *iaLeftFrame = nullptr, *iaPanneauActif = nullptr;
    TNopeAction *naShowSaveImagesFrame = nullptr, *naShowExtraireFrame = nullptr, *naShowIncrustFrame = nullptr,
                *naShowDVIncrustFrame = nullptr;
    TCheckAction *caBasculerVue = nullptr;
    TNamingActions Naming;
    TNopeAction *naInsertTimestamp = nullptr, *naInsertTimecode = nullptr, *naInsertPerso = nullptr,
                *naInsertNumero = nullptr, *naInsertDatecode = nullptr, *naInsertSysdateTime = nullptr;
    TWidestringAction *waInsertPerso1 = nullptr, *waInsertPerso2 = nullptr;
    TCheckAction *caSliders = nullptr;
    TNopeAction *naSoustitres = nullptr;
    TWidestringAction *waIncrustPattern1 = nullptr, *waIncrustPattern2 = nullptr;
    TBooleanAction *baIncrustAutoSize = nullptr;
    TWidestringAction *waInsertFontName = nullptr;
    TBooleanAction *baInsertFontBold = nullptr, *baInsertFontItalic = nullptr, *baInsertFontUnderline = nullptr,
                   *baInsertFontStrikeOut = nullptr;
    TColorAction *laInsertFontColor = nullptr;
    TIntegerAction *iaInsertFontSize = nullptr;
    TCheckAction *caDecalageAvance = nullptr;
    TDoubleAction *daDecalageHoraire = nullptr;
    TWidestringAction *waFormatDatecode1 = nullptr, *waFormatDatecode2 = nullptr;
    TCheckAction *caIntervalloShow = nullptr;
    TIntegerAction *iaIntervalloDelai = nullptr, *iaIntervalloUnit = nullptr;
    TNopeAction *naIntervalloStart = nullptr, *naIntervalloBreak = nullptr;
    TIntegerAction *iaForcerAspectRatio = nullptr;
    TNopeAction *naForcerNormal = nullptr, *naForcer4x3 = nullptr, *naForcer16x9 = nullptr, *naForcerNative = nullptr;
    TBooleanAction *baImageDeinterlacer = nullptr;
    TBooleanAction *baUsePrivateFilters = nullptr;
    TWidestringAction *waPrivateFolder = nullptr;

    // ---- preferences (the preferences component calls these) ----
    void gpLoadPrefs(TVostrelPreferences *prefs);
    void gpSavePrefs(TVostrelPreferences *prefs);
    void gpChangeMode(int mode);
    static QString SectionName() { return QStringLiteral("ShowForm"); }

    // ---- the open file (ficman's events) ----
    static bool ficmanTestExtension(const QString &lowerext);
    bool ficmanOpenFile(const QString &path);
    void ficmanCloseFile(const QString &path);
    // The side files of a video, as the title bar shows them.
    static QString SceneFileOf(const QString &video);
    static QString SubtitleFileOf(const QString &video);
    static QString ModdFileOf(const QString &video);

    // ---- layout and panels ----
    void FormResize();
    int VideoOffset() const;
    void ShowPanel(int panel);
    QWidget *PanelOf(int panel) const;
    TNopeAction *ShowActionOf(int panel) const;
    void SetMediaState();
    // Where the window's text fields take keys that are also shortcuts.
    void TextFieldFocus(bool focused);

    // ---- clicks on the bars ----
    void TitleClick();
    void ImageStatusClick();
    // The file ImageStatusClick selects: NextImageName when it exists, else
    // the first "<root>_*" of the save folder, else empty.
    QString ImageStatusTarget() const;

    // ---- events of the components ----
    void NavManDuration(const QString &text);
    void NavManGraphCompleted();
    void vidmanNotifyVideoFormat(const QString &text);
    void vidmanNotifyVideoDecoder(const QString &text);
    void audmanNotifyAudioFormat(const QString &text);
    void audmanNotifyAudioDecoder(const QString &text);

    // ---- private filters ----
    void waPrivateFolderAfterApply(const QString &folder);
    void baUsePrivateFiltersAfterApply(bool on);
    const TPrivateFilters *PrivateFilters() const { return FPrivateFilters.get(); }
    // The program's folder with a trailing separator (waPrivateFolder's default).
    static QString ProgramFolder();

    // ---- image naming (the grab and save come with their own wiring) ----
    void BuildImageName();
    void FormatNumberText();
    // The capture (mainGrab.cpp). GrabFrame fills GrabBitmap, SnapshotBitmap
    // and the last-snapshot panel; false when there was no picture to take.
    bool GrabFrame();
    // The overwrite question (Cancel sets AbortRequested), then SaveSnapshot.
    TSaveOutcome SaveSnapshotConfirmed();
    // Writes SnapshotBitmap to NextImageName; the number advances on success.
    bool SaveSnapshot();
    void naGrabApply();
    void naCopyApply();

    bool ScreenSaverInhibited() const;

    // ---- failures a batch run must report ----
    // Files that could not be opened and stills that could not be written in
    // this run; each is also said on stderr.
    int Failures = 0;
    void ReportFailure(const QString &text);
    // The overwrite question; a batch run answers it without a person.
    std::function<TOverwriteAnswer(const QString &path)> OnAskOverwrite;

    // The desktop's file browser with a file selected, and a folder opened;
    // platform/shell's unless a test replaces them.
    std::function<bool(const QString &path)> OnSelectInBrowser;
    std::function<bool(const QString &folder)> OnOpenFolder;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Start-up steps.
    void CreateComponents();
    void CreateWidgets();
    void CreateBars();
    void CreatePanels();
    void CreateToolbar();
    void CreateMenus();
    void FillToolbar();
    void CreateMainMenu();
    void CreatePopupMenu();
    void BindComponents();
    void BindComponentEvents();
    void LinkScriptAndSwitch();
    void FormShow();

    // The action list.
    void CreateActions();
    void CreateWindowActions();
    void CreateInlayActions();
    void CreateDVActions();
    void CreateIntervalActions();
    void CreateAspectActions();
    void CreatePrivateActions();
    void BindActions();
    void BindViewActions();
    void BindPanelActions();
    void BindGrab();
    void WaitForFreshFrame();

    // Open and close.
    void OpenSequence(const QString &path);
    void ReleaseMedia();
    void ConnectMedia(const QString &path);
    void FinishOpen(bool wasPlaying);
    void ShowSideFiles(const QString &path);
    void SetTitle(const QString &text, bool loading);

    void LayoutBars(int cw, int ch);
    void LayoutVideo(int cw, int ch);
    void LayoutToolbar(int cw);
    void RefreshVideoRect();
    void LayoutSliders();
    void RemoveShortcuts();
    void RestoreShortcuts();
    void FormCloseQuery();
    void ShutdownMedia();

    static QWidget *NewPlaceholderFrame(QWidget *parent, const QString &name, const QString &title);
    void VideoClick(QMouseEvent *event);

    std::unique_ptr<TPrivateFilters> FPrivateFilters;
    std::unique_ptr<ScreenSaverInhibitor> FScreenSaver;
    QString FPrivateFolderDefault;
    bool FShown = false;
    bool FClosing = false;
    bool FResizeHandler = false;
    bool FShortcutsRemoved = false;
    bool FNavAbort = false;  // Esc came during a precise seek's wait
    QList<QPointer<QWidget>> FTextFields;
};
