// The main window with real clips: a video with sound opens with its
// commands, labels and picture; a sound without video leaves the grab off.
#include "ShowFormFixture.h"

#include "KWPack/uLinkEdit.h"
#include "tests/tools/ProbeSupport.h"

#include <QClipboard>

// FFmpeg's and Qt's own threads are invisible to ThreadSanitizer.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:libavcodec.so\nrace:libavutil.so\nrace:libglib-2.0.so\n"
           "called_from_lib:libQt6Gui.so\ncalled_from_lib:libQt6Core.so\n";
}

namespace {

TEST_F(ShowFormTest, ARealClipOpensWithItsCommandsAndLabels)
{
    Show(*form);
    form->am->caAbout->SetChecked(true);
    const QString clip = Clip("trip.mp4", "h264", 1, 25);
    form->ficman->OpenFileByName(clip);
    Settle();
    EXPECT_FALSE(form->am->caAbout->Checked());
    EXPECT_EQ(form->CurrentVideoFile, clip);
    EXPECT_TRUE(form->HasVideo);
    EXPECT_TRUE(form->HasAudio);
    EXPECT_TRUE(form->naGrab->isEnabled());
    EXPECT_TRUE(form->naCopy->isEnabled());
    EXPECT_TRUE(form->caIntervalloShow->isEnabled());
    EXPECT_TRUE(form->caSliders->isEnabled());
    EXPECT_TRUE(form->audman->caMute->isEnabled());
    EXPECT_TRUE(form->PanelHaut->isVisible());
    EXPECT_TRUE(form->ImageLab->isVisible());
    EXPECT_EQ(form->EnCoursLab->text(), QStringLiteral("trip.mp4"));
    EXPECT_EQ(form->EnCoursLab->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    EXPECT_FALSE(form->NavMan->Quiet);
    EXPECT_FALSE(form->VideoFormatLab->text().isEmpty());
    EXPECT_FALSE(form->VideoDecoderLab->text().isEmpty());
    EXPECT_FALSE(form->AudioFormatLab->text().isEmpty());
    EXPECT_FALSE(form->AudioDecoderLab->text().isEmpty());
    EXPECT_GT(form->VideoRect.width(), 0);
    EXPECT_EQ(form->SnapshotBitmap.size(), form->VideoRect.size());
    EXPECT_TRUE(form->ImageLab->text().endsWith(QStringLiteral(".bmp")));
    EXPECT_TRUE(form->ImageLab->text().contains(QStringLiteral("Vidstill_0.00.00.00")));

    form->naShowSaveImagesFrame->Execute();
    QTest::qWait(200);
    const QString artifacts = TestArtifactsDir();
    QDir().mkpath(artifacts);
    EXPECT_TRUE(form->grab().save(artifacts + QStringLiteral("/ShowForm.png")));

    // Closing returns to the no-media state; the same file opens again.
    form->ficman->CloseFile();
    ExpectNoMedia(QString());
    EXPECT_TRUE(form->CurrentVideoFile.isEmpty());
    form->ficman->OpenFileByName(clip);
    Settle();
    EXPECT_TRUE(form->HasVideo);
    EXPECT_TRUE(form->HasAudio);
}

TEST_F(ShowFormTest, AnAudioOnlyFileShowsTheGaugeAndNoGrab)
{
    Show(*form);
    const QString song = Clip("song.wav", "", 1);
    // Past the extension gate: the open handler itself.
    form->ficmanOpenFile(song);
    Settle();
    EXPECT_FALSE(form->HasVideo);
    EXPECT_TRUE(form->HasAudio);
    EXPECT_FALSE(form->naGrab->isEnabled());
    EXPECT_FALSE(form->naCopy->isEnabled());
    EXPECT_FALSE(form->caIntervalloShow->isEnabled());
    EXPECT_FALSE(form->caSliders->isEnabled());
    EXPECT_TRUE(form->audman->caMute->isEnabled());
    EXPECT_TRUE(form->audman->naIncVolume->isEnabled());
    ASSERT_NE(form->audman->AudioGauge(), nullptr);
    EXPECT_TRUE(form->audman->AudioGauge()->isVisible());
    EXPECT_TRUE(form->PanelHaut->isHidden());
    EXPECT_EQ(form->EnCoursLab->text(), QStringLiteral("song.wav"));
}

TEST_F(ShowFormTest, ImageStatusClickSelectsTheNextOrAnEarlierImage)
{
    Show(*form);
    form->Naming.waDossierSave->SetValue(dir.path() + QLatin1Char('/'));
    form->Naming.iaImageAjouter->SetValue(1);
    form->ficmanOpenFile(Clip("c.avi", "mpeg4"));
    ASSERT_TRUE(form->HasVideo);
    const QString next = form->NextImageName;
    EXPECT_EQ(next, dir.filePath(QStringLiteral("Vidstill_001.bmp")));
    // Nothing of the root yet: the folder opens.
    QTest::mouseClick(form->ImageLab, Qt::LeftButton);
    EXPECT_EQ(opened, QStringList{dir.path() + QLatin1Char('/')});
    EXPECT_TRUE(selected.isEmpty());
    Touch(dir.filePath(QStringLiteral("Vidstill_007.bmp")));
    QTest::mouseClick(form->ImageLab, Qt::LeftButton);
    EXPECT_EQ(selected, QStringList{dir.filePath(QStringLiteral("Vidstill_007.bmp"))});
    Touch(next);
    EXPECT_EQ(form->ImageStatusTarget(), next);
}

TEST_F(ShowFormTest, AGoodFileAfterBadOnesOpens)
{
    Show(*form);
    form->ficmanOpenFile(dir.filePath(QStringLiteral("gone.avi")));
    ExpectNoMedia(QStringLiteral("gone.avi"));
    const QString good = Clip("good.avi", "mpeg4");
    form->ficmanOpenFile(good);
    EXPECT_TRUE(form->HasVideo);
    EXPECT_EQ(form->EnCoursLab->text(), QStringLiteral("good.avi"));
    // And a bad one after the good one releases it.
    form->ficmanOpenFile(dir.filePath(QStringLiteral("gone2.avi")));
    ExpectNoMedia(QStringLiteral("gone2.avi"));
    EXPECT_EQ(form->vidman->VideoState, TVideoMan::vsNoVideo);
    ASSERT_TRUE(form->vidman->StatusText);
    EXPECT_TRUE(form->vidman->StatusText->isVisible());
    EXPECT_EQ(form->VideoFormatLab->text(), QStringLiteral("No Video"));
}

// F5 on a paused clip: the picture shown is saved under the next name, the
// number moves on, and the last-snapshot panel shows it as saved.
TEST_F(ShowFormTest, GrabSavesThePictureShownAndCopyTakesIt)
{
    Show(*form);
    form->Naming.waDossierSave->SetValue(dir.path() + QLatin1Char('/'));
    form->Naming.iaImageAjouter->SetValue(1);
    form->ficmanOpenFile(Clip("frames.avi", "mpeg4", 0, 25));
    Settle();
    ASSERT_TRUE(form->HasVideo);
    form->NavMan->naAvance10Frames->Execute();
    Settle();
    form->naGrab->Execute();
    const QString saved = dir.filePath(QStringLiteral("Vidstill_001.bmp"));
    ASSERT_TRUE(QFile::exists(saved));
    EXPECT_EQ(probetest::IndexInBmp(saved), 10);
    EXPECT_EQ(form->Naming.iaNextNum->Value(), 2);
    EXPECT_EQ(form->iaPanneauActif->Value(), int(TShowForm::ppExtraire));
    EXPECT_EQ(form->ExtraireFrame->State(), TSnapshotState::Saved);
    EXPECT_EQ(form->ExtraireFrame->labsnapname->text(), QStringLiteral("Vidstill_001.bmp"));
    EXPECT_EQ(form->SnapshotBitmap.size(), QSize(320, 240));
    QTest::qWait(100);
    EXPECT_TRUE(form->grab().save(TestArtifactsDir() + QStringLiteral("/ShowForm-snapshot.png")));

    // The copy takes the grab as it came, without saving or numbering.
    QGuiApplication::clipboard()->clear();
    form->naCopy->Execute();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), form->GrabBitmap.size());
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("Vidstill_002.bmp"))));
    EXPECT_EQ(form->Naming.iaNextNum->Value(), 2);
    EXPECT_EQ(form->ExtraireFrame->State(), TSnapshotState::NotSaved);

    // Forced 16:9, the saved picture takes that aspect.
    form->naForcer16x9->Execute();
    form->naGrab->Execute();
    QImage wide(dir.filePath(QStringLiteral("Vidstill_002.bmp")));
    EXPECT_EQ(wide.size(), QSize(320, 180));
}

// Esc ends a precise seek's wait when it comes during one; one pressed
// before (to leave full screen, say) must not spoil the seeks after it.
TEST_F(ShowFormTest, AnEarlierEscDoesNotSpoilPreciseSeeks)
{
    Show(*form);
    form->ficmanOpenFile(Clip("seek.mp4", "h264", 0, 50));
    Settle();
    ASSERT_TRUE(form->HasVideo);
    form->naAbort->Execute();
    EXPECT_TRUE(form->AbortRequested);
    ASSERT_GT(form->NavMan->FrameDuration, 0);
    const REFERENCE_TIME target = 37 * form->NavMan->FrameDuration;
    form->NavMan->SeekPrecise(target);
    EXPECT_EQ(form->NavMan->CurrentPosition(), target);
    QImage shown;
    ASSERT_TRUE(form->vidman->GrabCurrentImage(shown));
    const QString path = dir.filePath(QStringLiteral("shown.bmp"));
    ASSERT_TRUE(shown.save(path, "BMP"));
    EXPECT_EQ(probetest::IndexInBmp(path), 37);
}

}  // namespace
