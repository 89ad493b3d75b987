// The capture: taking the picture the renderer shows, fitting it to the
// display aspect, showing it in the last-snapshot panel, and saving it under
// the next image's name (or copying it to the clipboard).
#include "app/main.h"

#include "app/extraireunit.h"
#include "app/uNavframe.h"
#include "KWPack/uNavMan.h"
#include "KWPack/uVideoMan.h"
#include "platform/base/MessageWindow.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>

#include <cstdio>

namespace {

// The wait for a picture drawn after the last inlay change ends after this
// long even when none comes (a stalled graph must not hang the window).
constexpr int kFrameWaitMs = 2000;

}  // namespace

void TShowForm::BindGrab()
{
    const QPointer<TShowForm> self(this);
    naGrab->OnBeforeApply = [self] {
        if (self)
            self->naGrabApply();
    };
    naCopy->OnBeforeApply = [self] {
        if (self)
            self->naCopyApply();
    };
}

void TShowForm::naGrabApply()
{
    if (iaPanneauActif->Value() != ppExtraire)
        naShowExtraireFrame->Execute();
    if (GrabFrame())
        SaveSnapshotConfirmed();
    else
        ReportFailure(QStringLiteral("no picture to grab"));
    ExtraireFrame->HidePlaceholder();
}

void TShowForm::ReportFailure(const QString &text)
{
    ++Failures;
    std::fprintf(stderr, "vidstill: %s\n", qPrintable(text));
    std::fflush(stderr);
}

void TShowForm::naCopyApply()
{
    if (GrabFrame() && !GrabBitmap.isNull())
        QGuiApplication::clipboard()->setImage(GrabBitmap);
}

// While playing, the picture taken must carry the current inlay: wait until
// the renderer drew past the last inlay redraw. Paused, a pause still under
// way (right after an open or a seek) must have brought its picture.
void TShowForm::WaitForFreshFrame()
{
    if (!NavMan->caPlay->Checked()) {
        NavMan->WaitForStableState();
        ProcessMessages();
        return;
    }
    QElapsedTimer waited;
    waited.start();
    while (vidman->FramesDrawn() == vidman->FramesDrawnMark && !AbortRequested && waited.elapsed() < kFrameWaitMs)
        WaitMessages(10);
}

bool TShowForm::GrabFrame()
{
    WaitForFreshFrame();
    BuildImageName();
    QSize grabbed(0, 0);
    if (HasVideo) {
        QImage picture;
        if (vidman->GrabCurrentImage(picture))
            GrabBitmap = picture;
        grabbed = HasVideo && !picture.isNull() ? picture.size() : QSize(0, 0);
    }
    ThumbnailBox = ExtraireFrame->ThumbnailBox(vidman->AspectX, vidman->AspectY);
    SnapshotSize = ::SnapshotSize(vidman->AspectX, vidman->AspectY, grabbed);
    // The deinterlacer repairs GrabBitmap here once it exists.
    if (grabbed.isEmpty() || GrabBitmap.isNull())
        return false;
    // A plain stretch, no smoothing: the saved picture keeps its pixels.
    SnapshotBitmap = GrabBitmap.scaled(SnapshotSize, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                         .convertToFormat(QImage::Format_RGB888);
    const QString position = navframe->CurrentEdit ? navframe->CurrentEdit->text() : QString();
    ExtraireFrame->ShowSnapshot(SnapshotBitmap, position, NextImageName);
    ExtraireFrame->LayoutThumbnail(ThumbnailBox);
    iaPanneauActif->SetValue(ppExtraire);
    return true;
}

TSaveOutcome TShowForm::SaveSnapshotConfirmed()
{
    if (SnapshotBitmap.isNull() || NextImageName.isEmpty())
        return TSaveOutcome::Declined;
    QString error;
    const TSaveOutcome outcome = JpegEncoder->SaveSnapshotConfirmed(
        SnapshotBitmap, NextImageName,
        [this](const QString &path) { return OnAskOverwrite ? OnAskOverwrite(path) : AskOverwrite(this, path); },
        &error);
    switch (outcome) {
    case TSaveOutcome::Saved:
        ExtraireFrame->MarkSaved();
        break;
    case TSaveOutcome::Cancelled:
        AbortRequested = true;
        break;
    case TSaveOutcome::Declined:
        break;
    case TSaveOutcome::Failed:
        // Said where the name is shown; the saver also wrote it to stderr.
        ImageLab->setText(QStringLiteral("Could not save %1: %2").arg(NextImageName, error));
        ++Failures;
        break;
    }
    return outcome;
}

bool TShowForm::SaveSnapshot()
{
    QString error;
    if (SnapshotBitmap.isNull() || !JpegEncoder->SaveSnapshot(SnapshotBitmap, NextImageName, &error)) {
        ++Failures;
        return false;
    }
    ExtraireFrame->MarkSaved();
    return true;
}
