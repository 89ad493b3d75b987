// Opening and closing the video: which extensions are taken, the order in
// which the old media are released and the new ones connected, the title
// while loading, the side files beside the video, and what is reset.
#include "app/main.h"

#include "app/extraireunit.h"
#include "app/uNavframe.h"
#include "widgets/uAppliMan.h"
#include "KWPack/uAudioMan.h"
#include "KWPack/uMediaFactory.h"
#include "KWPack/uMonoFichierMan.h"
#include "KWPack/uNavMan.h"
#include "KWPack/uVideoMan.h"
#include "platform/base/MessageWindow.h"

#include <QFileInfo>
#include <QLabel>
#include <QTimer>

const std::array<const char *, 19> TShowForm::kExtensions = {
    "avi", "ivf", "mpg", "mpeg", "m1v", "mp2", "mpe", "wmv", "asf", "mts",
    "m2ts", "ts", "vob", "mkv", "mov", "mp4", "3g2", "m4v", "m2v"};

// The file manager lowers the case and keeps the dot before asking.
bool TShowForm::ficmanTestExtension(const QString &lowerext)
{
    for (const char *e : kExtensions)
        if (lowerext == QLatin1Char('.') + QLatin1String(e))
            return true;
    return false;
}

namespace {

// The path with its extension (from the last dot of the name part) replaced.
QString WithExtension(const QString &path, const QString &ext)
{
    const QFileInfo fi(path);
    const QString name = fi.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot < 0 ? name : name.left(dot);
    return path.left(path.size() - name.size()) + stem + ext;
}

}  // namespace

QString TShowForm::SceneFileOf(const QString &video) { return WithExtension(video, QStringLiteral(".scn")); }
QString TShowForm::SubtitleFileOf(const QString &video) { return WithExtension(video, QStringLiteral(".srt")); }
QString TShowForm::ModdFileOf(const QString &video) { return video + QStringLiteral(".modd"); }

bool TShowForm::ficmanOpenFile(const QString &path)
{
    am->caAbout->SetChecked(false);
    am->caOptions->SetChecked(false);
    OpenSequence(path);
    if (!HasVideo && !HasAudio)
        ReportFailure(QStringLiteral("cannot open %1: no sound or picture could be played from it").arg(path));
    return HasVideo || HasAudio;
}

void TShowForm::SetTitle(const QString &text, bool loading)
{
    QPalette pal = EnCoursLab->palette();
    pal.setColor(QPalette::WindowText, loading ? QColor(128, 128, 128) : QColor(0, 0, 128));
    EnCoursLab->setPalette(pal);
    EnCoursLab->setText(text);
}

void TShowForm::OpenSequence(const QString &path)
{
    bool wasPlaying = false;
    bool loading = false;
    try {
        waIncrustPattern1->Apply();
        waIncrustPattern2->Apply();
        // The scene list is read from SceneFileOf(path) once it has its reader.
        TimerSysDate->stop();
        SetTitle(QStringLiteral("Loading ") + QFileInfo(path).fileName(), true);
        loading = true;
        wasPlaying = NavMan->caPlay->Checked();
        NavMan->Quiet = true;
        NavMan->caPlay->SetChecked(true);
        ReleaseMedia();
        ConnectMedia(path);
        if (HasVideo || HasAudio)
            FinishOpen(wasPlaying);
        NavMan->Quiet = false;
        SetMediaState();
        SetTitle(QFileInfo(path).fileName(), false);
        loading = false;
        ShowSideFiles(path);
        BuildImageName();
        RefreshVideoRect();
        if (VideoRect.width() > 0 && VideoRect.height() > 0) {
            SnapshotBitmap = QImage(VideoRect.size(), QImage::Format_RGB888);
            ThumbnailBox = ExtraireFrame->ThumbnailBox(VideoRect.width(), VideoRect.height());
            ExtraireFrame->LayoutThumbnail(ThumbnailBox);
        }
        if (Naming.baRAZWhenOpenFile->Value())
            Naming.iaNextNum->SetValue(1);
        // The intervalometer recounts here once it exists.
    } catch (...) {
        // What was done stays done, but a half-open file must not leave the
        // navigation quiet or the title saying it still loads.
        NavMan->Quiet = false;
        if (loading)
            SetTitle(QFileInfo(path).fileName(), false);
    }
}

// Step 4 after the play state: the old graph stopped and its parts released.
void TShowForm::ReleaseMedia()
{
    NavMan->Stop();
    ProcessMessages();
    audman->DisconnectAudio();
    // The no-video notice stays up when nothing connects: a file that is not
    // media must not leave an empty, unexplained panel.
    vidman->DisconnectVideo(true);
    vidman->ResetForNewFile();
    VideoSource = nullptr;
    AudioSource = nullptr;
}

void TShowForm::ConnectMedia(const QString &path)
{
    TFileDevice *device = QFileInfo(path).isFile() ? mf->GetDevice(path) : nullptr;
    CurrentVideoFile = path;
    const bool valid = device && device->Valid();
    HasVideo = valid && device->VideoCount() > 0;
    HasAudio = valid && device->AudioCount() > 0;
    if (HasAudio) {
        AudioSource = device->AudioSources()[0];
        HasAudio = AudioSource && audman->ConnectAudio(AudioSource);
    }
    if (HasVideo) {
        VideoSource = device->VideoSources()[0];
        HasVideo = VideoSource && vidman->ConnectVideo(VideoSource);
        if (HasVideo && UsesFileName) {
            TIncrustFileName rec{1, CurrentVideoFile};
            SendMessage(vidman->MessageWindow(), TVideoMan::WM_VIDEO_FILENAME, 0,
                        reinterpret_cast<LPARAM>(&rec));
        }
        if (HasVideo)
            vidman->FramesNotifier->VideoWindow = vidman->MessageWindow();
    }
}

// Step 8: the graph trimmed, the range set, the play state given back.
void TShowForm::FinishOpen(bool wasPlaying)
{
    NavMan->RemoveUnconnectedFilters();
    NavMan->SetRange(true, -1, -1);
    NavMan->caPlay->SetImageIndex(-1);
    ProcessMessages();
    NavMan->caPlay->SetChecked(wasPlaying);
    NavMan->Quiet = false;
    if (HasVideo)
        vidman->FramesNotifier->SetNotify(true);
    PanelHaut->show();
    if (navframe)
        navframe->show();
}

void TShowForm::ShowSideFiles(const QString &path)
{
    scnLab->setVisible(QFileInfo::exists(SceneFileOf(path)));
    srtlab->setVisible(QFileInfo::exists(SubtitleFileOf(path)));
    moddlab->setVisible(QFileInfo::exists(ModdFileOf(path)));
}

void TShowForm::ficmanCloseFile(const QString &)
{
    TimerSysDate->stop();
    SetTitle(QString(), true);
    NavMan->caPlay->SetChecked(false);
    NavMan->Stop();
    NavMan->WaitForStableState();
    audman->DisconnectAudio();
    vidman->DisconnectVideo(true);
    if (NavMan->FilterGraph())
        NavMan->FilterGraph()->ClearGraph();
    vidman->ClearHost();
    VideoSource = nullptr;
    AudioSource = nullptr;
    CurrentVideoFile.clear();
    HasVideo = false;
    HasAudio = false;
    for (QLabel *lab : {scnLab, srtlab, moddlab})
        lab->hide();
    if (navframe)
        navframe->hide();
    SetMediaState();
    SetTitle(QString(), false);
    ExtraireFrame->Clear();
}
