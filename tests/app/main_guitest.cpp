// The main window: its layout numbers, the focus rule of its text fields, the
// side panel across a restart, the extension gate, the side files, bad files,
// the bars' clicks, and menus bound to the very actions of the lists.
#include "ShowFormFixture.h"

// FFmpeg's and Qt's own threads are invisible to ThreadSanitizer.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:libavcodec.so\nrace:libavutil.so\nrace:libglib-2.0.so\n"
           "called_from_lib:libQt6Gui.so\ncalled_from_lib:libQt6Core.so\n";
}

namespace {
// ---- layout -------------------------------------------------------------------------

TEST_F(ShowFormTest, LayoutNumbersFollowThePanelsSideAndTheSliders)
{
    Show(*form);
    const int cw = form->Client->width();
    const int ch = form->Client->height();
    ASSERT_EQ(cw, 1000);
    // Panels on the left (the default), sliders hidden.
    EXPECT_EQ(form->iaLeftFrame->Value(), 0);
    EXPECT_EQ(form->videoPanel->geometry(), QRect(276 + 19, 88, cw - 314, ch - 214));
    EXPECT_EQ(form->Bevel->x(), 277);
    EXPECT_EQ(form->PanelTitre->geometry(), QRect(0, 30, cw, 24));
    EXPECT_EQ(form->panelImage->geometry(), QRect(0, ch - 24, cw, 24));
    EXPECT_EQ(form->scnLab->x(), cw - 30);
    EXPECT_EQ(form->srtlab->x(), cw - 48);
    EXPECT_EQ(form->moddlab->x(), cw - 80);

    form->caBasculerVue->SetChecked(true);
    EXPECT_TRUE(form->PanelsOnRight);
    EXPECT_EQ(form->iaLeftFrame->Value(), cw - 276);
    EXPECT_EQ(form->videoPanel->x(), 19);
    EXPECT_EQ(form->SaveImagesFrame->x(), cw - 276);
    EXPECT_EQ(form->ExtraireFrame->geometry(), QRect(cw - 276, 54, 276, ch - 80));
    EXPECT_EQ(form->DVIncrustFrame->x(), cw - 276);
    EXPECT_EQ(form->Bevel->x(), cw - 277);
    form->caSliders->SetChecked(true);
    EXPECT_EQ(form->videoPanel->x(), 8);

    // A resize lays everything out again; the bar is centred under the video
    // and PanelHaut's labels take half its width less 4.
    form->resize(form->width() + 101, form->height() + 40);
    QApplication::processEvents();
    const int cw2 = form->Client->width();
    EXPECT_EQ(form->iaLeftFrame->Value(), cw2 - 276);
    EXPECT_EQ(form->videoPanel->width(), cw2 - 314);
    EXPECT_EQ(form->videoPanel->height(), form->Client->height() - 214);
    const QRect v = form->videoPanel->geometry();
    EXPECT_EQ(form->PanelHaut->geometry(), QRect(v.x(), 54, v.width(), 34));
    EXPECT_EQ(form->AudioFormatLab->geometry().left(), v.width() / 2 - 2);
    EXPECT_EQ(form->VideoFormatLab->width(), v.width() / 2 - 4);
    for (QWidget *gap : form->ToolSeparators)
        EXPECT_EQ(gap->width(), (cw2 + 116 - 29 * form->ToolButtonCount) / 4);
    EXPECT_EQ(form->ToolButtonCount, 24);
}

TEST_F(ShowFormTest, TypingPlusInTheRootFieldTypesAndLeavesTheVolume)
{
    Show(*form);
    form->naShowSaveImagesFrame->Execute();
    QLineEdit *root = form->SaveImagesFrame->NomRacineEdit;
    root->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(root->hasFocus());
    root->clear();
    const int volume = form->audman->iaVolume->Value();
    QTest::keyClick(root, Qt::Key_Plus, Qt::KeypadModifier);
    QTest::keyClick(root, Qt::Key_Minus, Qt::KeypadModifier);
    EXPECT_EQ(root->text(), QStringLiteral("+-"));
    EXPECT_EQ(form->audman->iaVolume->Value(), volume);
    EXPECT_EQ(form->Naming.waDefaultRacine->Value(), QStringLiteral("+-"));
    EXPECT_TRUE(form->audman->naIncVolume->ShortCut().isEmpty());
    EXPECT_TRUE(form->NavMan->caPlay->ShortCut().isEmpty());

    // Leaving the field gives the keys back to the volume and play actions.
    form->videoPanel->setFocusPolicy(Qt::StrongFocus);
    form->videoPanel->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(form->audman->naIncVolume->ShortCut(), QKeySequence(Qt::KeypadModifier | Qt::Key_Plus));
    EXPECT_EQ(form->audman->naIncVolume->SecondaryShortcuts(), QList<QKeySequence>{QKeySequence(Qt::ALT | Qt::Key_P)});
    EXPECT_EQ(form->audman->naDecVolume->ShortCut(), QKeySequence(Qt::KeypadModifier | Qt::Key_Minus));
    EXPECT_EQ(form->NavMan->caPlay->ShortCut(), QKeySequence(Qt::CTRL | Qt::Key_Space));
}

// ---- side panels -----------------------------------------------------------------------

TEST_F(ShowFormTest, ShowingAPanelHidesTheOtherAndComesBackAfterARestart)
{
    Show(*form);
    form->am->caOptions->SetChecked(true);
    form->naShowSaveImagesFrame->Execute();
    EXPECT_FALSE(form->am->caOptions->Checked());
    EXPECT_TRUE(form->SaveImagesFrame->isVisible());
    EXPECT_TRUE(form->naShowSaveImagesFrame->isChecked());
    form->naShowDVIncrustFrame->Execute();
    EXPECT_EQ(form->iaPanneauActif->Value(), 4);
    EXPECT_FALSE(form->SaveImagesFrame->isVisible());
    EXPECT_FALSE(form->naShowSaveImagesFrame->isChecked());
    EXPECT_TRUE(form->DVIncrustFrame->isVisible());
    EXPECT_TRUE(form->naShowDVIncrustFrame->isChecked());

    form->gp->SetMode(spRegistre);
    ASSERT_TRUE(form->gp->SaveNow());
    EXPECT_TRUE(hive.readText().contains(QStringLiteral("\"PanneauActif\"=dword:00000004")));
    form.reset();

    form = NewForm();
    EXPECT_FALSE(form->DVIncrustFrame->isVisible());
    Show(*form);
    EXPECT_EQ(form->gp->Mode(), spRegistre);
    EXPECT_EQ(form->iaPanneauActif->Value(), 4);
    EXPECT_TRUE(form->DVIncrustFrame->isVisible());
    EXPECT_TRUE(form->naShowDVIncrustFrame->isChecked());
    EXPECT_FALSE(form->SaveImagesFrame->isVisible());
}

// ---- opening files ---------------------------------------------------------------------------

TEST_F(ShowFormTest, ExtensionsAreTheNineteenWithTheirDot)
{
    EXPECT_TRUE(TShowForm::ficmanTestExtension(QStringLiteral(".mkv")));
    EXPECT_TRUE(TShowForm::ficmanTestExtension(QStringLiteral(".m2v")));
    EXPECT_FALSE(TShowForm::ficmanTestExtension(QStringLiteral(".webm")));
    EXPECT_FALSE(TShowForm::ficmanTestExtension(QStringLiteral("mkv")));
    EXPECT_FALSE(TShowForm::ficmanTestExtension(QStringLiteral(".MKV")));  // the file manager lowers it
    int accepted = 0;
    for (const char *e : TShowForm::kExtensions)
        accepted += TShowForm::ficmanTestExtension(QLatin1Char('.') + QLatin1String(e));
    EXPECT_EQ(accepted, 19);

    // Through the file manager, as a user's choice arrives: a refused file
    // shows nothing at all.
    Show(*form);
    const QString upper = dir.filePath(QStringLiteral("CLIP.MKV"));
    const QString webm = dir.filePath(QStringLiteral("clip.webm"));
    Touch(upper);
    Touch(webm);
    form->ficman->OpenFileByName(webm);
    EXPECT_TRUE(form->CurrentVideoFile.isEmpty());
    EXPECT_TRUE(form->EnCoursLab->text().isEmpty());
    form->ficman->OpenFileByName(upper);
    EXPECT_EQ(form->CurrentVideoFile, upper);
    EXPECT_EQ(form->EnCoursLab->text(), QStringLiteral("CLIP.MKV"));
}

TEST_F(ShowFormTest, SideFilesAreLookedForBesideTheVideo)
{
    EXPECT_EQ(TShowForm::SceneFileOf(QStringLiteral("/v/a.mts")), QStringLiteral("/v/a.scn"));
    EXPECT_EQ(TShowForm::SubtitleFileOf(QStringLiteral("/v/a.mts")), QStringLiteral("/v/a.srt"));
    EXPECT_EQ(TShowForm::ModdFileOf(QStringLiteral("/v/a.mts")), QStringLiteral("/v/a.mts.modd"));
    EXPECT_EQ(TShowForm::SceneFileOf(QStringLiteral("/v.d/noext")), QStringLiteral("/v.d/noext.scn"));

    Show(*form);
    // The labels tell only that the files exist; the video need not play.
    const QString video = dir.filePath(QStringLiteral("a.mts"));
    Touch(video);
    Touch(dir.filePath(QStringLiteral("a.scn")));
    Touch(dir.filePath(QStringLiteral("a.mts.modd")));
    Touch(dir.filePath(QStringLiteral("a.modd")));  // not the recorder's: the extension stays
    form->ficman->OpenFileByName(video);
    EXPECT_TRUE(form->scnLab->isVisible());
    EXPECT_FALSE(form->srtlab->isVisible());
    EXPECT_TRUE(form->moddlab->isVisible());

    // Another video without side files hides them; a click on the title
    // selects the video in the file browser.
    const QString other = dir.filePath(QStringLiteral("b.avi"));
    Touch(other);
    Touch(dir.filePath(QStringLiteral("b.srt")));
    form->ficman->OpenFileByName(other);
    EXPECT_FALSE(form->scnLab->isVisible());
    EXPECT_TRUE(form->srtlab->isVisible());
    EXPECT_FALSE(form->moddlab->isVisible());
    QTest::mouseClick(form->EnCoursLab, Qt::LeftButton);
    EXPECT_EQ(selected, QStringList{other});
}

TEST_F(ShowFormTest, BadFilesLeaveTheWindowWithoutMedia)
{
    Show(*form);
    const QString missing = dir.filePath(QStringLiteral("gone.avi"));
    form->ficmanOpenFile(missing);
    ExpectNoMedia(QStringLiteral("gone.avi"));

    const QString folder = dir.filePath(QStringLiteral("folder.mkv"));
    ASSERT_TRUE(QDir().mkpath(folder));
    form->ficmanOpenFile(folder);
    ExpectNoMedia(QStringLiteral("folder.mkv"));

    const QString empty = dir.filePath(QStringLiteral("empty.mp4"));
    QFile(empty).open(QIODevice::WriteOnly);
    form->ficmanOpenFile(empty);
    ExpectNoMedia(QStringLiteral("empty.mp4"));

    const QString text = dir.filePath(QStringLiteral("notes.avi"));
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'n'));
    }
    form->ficmanOpenFile(text);
    ExpectNoMedia(QStringLiteral("notes.avi"));
}

// ---- menus ------------------------------------------------------------------------------------

TEST_F(ShowFormTest, MenusToolbarAndPopupHoldTheListsOwnActions)
{
    QList<QAction *> listed;
    for (TCustomKWActionList *l : QList<TCustomKWActionList *>{form->gpal, form->vidman, form->audman, form->NavMan,
                                                               form->ficman, form->am})
        for (int i = 0; i < l->ActionCount(); ++i)
            listed << l->Actions(i);
    QList<QAction *> shown = form->tbUnique->actions();
    for (QAction *top : form->menuBar()->actions())
        shown += top->menu()->actions();
    shown += form->PopupMenu->actions();
    int typed = 0;
    for (QAction *a : shown) {
        if (a->isSeparator() || a->menu() || qobject_cast<QWidgetAction *>(a))
            continue;
        EXPECT_TRUE(listed.contains(a)) << a->text().toStdString();
        ++typed;
    }
    EXPECT_GT(typed, 60);
    EXPECT_EQ(form->gpal->ActionCount(), 65);

    // One object everywhere: the grab is the same in the menu, the popup and the bar.
    EXPECT_TRUE(form->mnFrames->actions().contains(form->naGrab));
    EXPECT_TRUE(form->PopupMenu->actions().contains(form->naGrab));
    EXPECT_TRUE(form->tbUnique->actions().contains(form->naGrab));
    EXPECT_EQ(form->mnFrames->actions().first(), form->naGrab);
    EXPECT_EQ(form->tbUnique->actions().first(), form->ficman->waOpenFile);
    EXPECT_EQ(form->tbUnique->actions().last(), form->am->naQuit);
    EXPECT_EQ(form->PopupMenu->actions().last(), form->am->naQuit);
    // A check mark set by the action shows in every place at once.
    form->caBasculerVue->SetChecked(true);
    EXPECT_TRUE(form->mnVideo->actions().at(2)->isChecked());
}


// A key held by two actions of the window runs neither of them.
TEST_F(ShowFormTest, NoTwoActionsShareAKey)
{
    Show(*form);
    QMap<QString, QString> owner;
    QStringList clashes;
    for (QAction *a : form->actions()) {
        for (const QKeySequence &k : a->shortcuts()) {
            const QString key = k.toString();
            if (key.isEmpty())
                continue;
            if (owner.contains(key))
                clashes << key + QStringLiteral(": ") + owner[key] + QStringLiteral(" and ") + a->objectName();
            owner[key] = a->objectName();
        }
    }
    EXPECT_TRUE(clashes.isEmpty()) << clashes.join(QStringLiteral("; ")).toStdString();
    EXPECT_EQ(owner.value(QStringLiteral("Alt+F5")), QStringLiteral("naForcerNormal"));
    EXPECT_EQ(owner.value(QStringLiteral("F5")), QStringLiteral("naGrab"));
    EXPECT_EQ(owner.value(QStringLiteral("Esc")), QStringLiteral("naAbort"));
}
// The private decoders' settings live from start-up to close; closing stops
// a running interval capture (the abort flag) and saves the preferences.
TEST_F(ShowFormTest, StartAndCloseBracketThePrivateSettings)
{
    EXPECT_TRUE(hive.readText().contains(QStringLiteral("Software\\LBV")));
    EXPECT_TRUE(hive.readText().contains(QStringLiteral("Software\\VOS")));
    Show(*form);
    ASSERT_TRUE(form->PrivateFilters()->Loaded());  // baUsePrivateFilters is on by default
    form->gp->SetMode(spRegistre);  // a mode is chosen: closing asks nothing
    form->naShowExtraireFrame->Execute();
    form->AbortRequested = false;
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(form->AbortRequested);
    const QString text = hive.readText();
    EXPECT_FALSE(text.contains(QStringLiteral("Software\\LBV")));
    EXPECT_FALSE(text.contains(QStringLiteral("Software\\VOS")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"PanneauActif\"=dword:00000002")));
    EXPECT_TRUE(text.contains(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Vostrel\\Vidstill\\ShowForm]")));
    EXPECT_TRUE(text.contains(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Vostrel\\Vidstill\\ScriptForm]")));
}

// The private decoders follow their switch: off gives the managers no
// private records and unloads them, on loads them again.
TEST_F(ShowFormTest, PrivateDecodersFollowTheirSwitch)
{
    // Loaded with the preferences, when the window shows.
    EXPECT_FALSE(form->PrivateFilters()->Loaded());
    Show(*form);
    ASSERT_TRUE(form->PrivateFilters()->Loaded());
    EXPECT_EQ(form->vidman->DefaultVideoDecoder,
              form->PrivateFilters()->Record(TPrivateFilters::pfFFDShowVideo));
    EXPECT_EQ(form->vidman->FallbackVideoDecoder, form->PrivateFilters()->Record(TPrivateFilters::pfLAVVideo));
    EXPECT_EQ(form->audman->FallbackAudioDecoder, form->PrivateFilters()->Record(TPrivateFilters::pfLAVAudio));
    form->baUsePrivateFilters->SetValue(false);
    EXPECT_FALSE(form->PrivateFilters()->Loaded());
    EXPECT_EQ(form->vidman->DefaultVideoDecoder, nullptr);
    EXPECT_EQ(form->vidman->ExtraVideoFilter, nullptr);
    EXPECT_EQ(form->audman->FallbackAudioDecoder, nullptr);
    EXPECT_FALSE(form->OptionsFrame->cbUsePrivateFilters->isChecked());
    form->baUsePrivateFilters->SetValue(true);
    EXPECT_TRUE(form->PrivateFilters()->Loaded());
    EXPECT_EQ(form->vidman->ExtraVideoFilter, form->PrivateFilters()->Record(TPrivateFilters::pfFFDShowVideo));
    EXPECT_TRUE(form->OptionsFrame->cbUsePrivateFilters->isChecked());

    // The menu's "Deinterlace" toggles the setting and the options box follows.
    form->baImageDeinterlacer->trigger();
    EXPECT_TRUE(form->baImageDeinterlacer->Value());
    EXPECT_TRUE(form->baImageDeinterlacer->isChecked());
    EXPECT_TRUE(form->OptionsFrame->cbImagesDeInterlacer->isChecked());
    form->baImageDeinterlacer->trigger();
    EXPECT_FALSE(form->baImageDeinterlacer->Value());
}
}  // namespace
