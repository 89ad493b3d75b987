// The script component on the real engine (verdicts, routines on a real
// folder and trash, stopping) and the script window on real widgets: running
// the editor's text, recording and replaying a macro, Esc and the Stop button
// during an endless loop, the window's settings in a throw-away hive, script
// files through its file manager, and a picture of the window.
#include "KWPack/uMonoFichierMan.h"
#include "KWPack/uPascalHighlighter.h"
#include "KWPack/uPreferences.h"
#include "KWPack/uScriptForm.h"
#include "platform/base/DateTimeText.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include <ostream>

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

QStringList Lines(const QPlainTextEdit *e) { return e->toPlainText().split(QLatin1Char('\n')); }

void WriteFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A component with what showmessage says collected.
struct Script {
    TKWScript engine;
    QStringList shown;
    Script()
    {
        engine.OnShowMessage = [this](const QString &s) { shown << s; };
    }
    bool Run(const QStringList &lines)
    {
        engine.Script = lines;
        return engine.Compile() && engine.Execute();
    }
    bool Run(const QString &text) { return Run(text.split(QLatin1Char('\n'))); }
};

}  // namespace

// ---- The component ---------------------------------------------------------------

TEST(KWScript, VerdictsOfCompilationAndRun)
{
    Script s;
    EXPECT_FALSE(s.engine.Execute());
    EXPECT_EQ(s.engine.Messages(), QStringList{QStringLiteral("### Compilation not Ready")});

    s.engine.Script = QStringList{QStringLiteral("begin"), QStringLiteral("  showmessage('hi');"), QStringLiteral("end.")};
    EXPECT_TRUE(s.engine.Compile());
    EXPECT_TRUE(s.engine.compiled);
    ASSERT_FALSE(s.engine.Messages().isEmpty());
    EXPECT_EQ(s.engine.Messages().last(), QStringLiteral("*** Compilation succeeded ***"));
    EXPECT_TRUE(s.engine.Execute());
    EXPECT_EQ(s.engine.Messages(), QStringList{QStringLiteral("*** Succesfully Executed ***")});
    EXPECT_EQ(s.shown, QStringList{QStringLiteral("hi")});

    // A failed compilation forgets the good one before it.
    s.engine.Script = QStringList{QStringLiteral("begin"), QStringLiteral("  Foo;"), QStringLiteral("end.")};
    EXPECT_FALSE(s.engine.Compile());
    EXPECT_FALSE(s.engine.compiled);
    const QStringList m = s.engine.Messages();
    ASSERT_EQ(m.size(), 2);
    EXPECT_TRUE(m[0].startsWith(QStringLiteral("[Error] (2:3)"))) << m[0].toStdString();
    EXPECT_TRUE(m[0].contains(QStringLiteral("Foo"))) << m[0].toStdString();
    EXPECT_EQ(m[1], QStringLiteral("### Compilation Failed"));
    EXPECT_FALSE(s.engine.Execute());
    EXPECT_EQ(s.engine.Messages(), QStringList{QStringLiteral("### Compilation not Ready")});
    EXPECT_EQ(s.shown.size(), 1);
}

TEST(KWScript, ARunErrorInsideARoutineEndsTheRun)
{
    Script s;
    EXPECT_FALSE(s.Run(QStringLiteral("begin\n  showmessage('before');\n  forcedirectories('');\n"
                                      "  showmessage('after');\nend.")));
    EXPECT_EQ(s.shown, QStringList{QStringLiteral("before")});
    const QString error = s.engine.ExecErrorText();
    EXPECT_TRUE(error.contains(QStringLiteral("Unable to create directory"))) << error.toStdString();
    EXPECT_EQ(s.engine.Messages(), QStringList{QStringLiteral("### Error while executing: ") + error});

    // A folder that cannot be made (a file is in the way) is the same error.
    QTemporaryDir dir;
    WriteFile(dir.filePath(QStringLiteral("file")), "x");
    EXPECT_FALSE(s.Run(QStringLiteral("begin forcedirectories('%1/file/sub'); end.").arg(dir.path())));
    EXPECT_TRUE(s.engine.ExecErrorText().contains(QStringLiteral("Unable to create directory")));
}

TEST(KWScript, FileRoutinesOnARealFolder)
{
    QTemporaryDir dir;
    const QString d = dir.path();
    // The trash of the test's own data folder, for the test's life.
    struct DataHome {
        QByteArray previous = qgetenv("XDG_DATA_HOME");
        explicit DataHome(const QString &path) { qputenv("XDG_DATA_HOME", QFile::encodeName(path)); }
        ~DataHome() { previous.isEmpty() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", previous); }
    } dataHome(d + QStringLiteral("/xdg"));
    QDir().mkpath(d + QStringLiteral("/xdg"));
    const QString work = d + QStringLiteral("/work");
    QDir().mkpath(work + QStringLiteral("/sub.txt"));  // a folder that matches the mask
    for (const char *name : {"a.txt", "b.TXT", "c.dat", ".hidden.txt", "[x].txt"})
        WriteFile(work + QLatin1Char('/') + QLatin1String(name), name);

    Script s;
    const bool ok = s.Run(QStringLiteral(
        "var f: widestring;\n"
        "begin\n"
        "  f := findfirst('%1', '*.txt');\n"
        "  while f <> '' do begin showmessage(f); f := findnext; end;\n"
        "  findclose;\n"
        "  showmessage('after close [' + findnext + ']');\n"
        "  showmessage('none [' + findfirst('%1/', '*.zip') + ']');\n"
        "  showmessage('one ' + findfirst('%1/', 'c.*'));\n"
        "  forcedirectories('%1/x/y/z');\n"
        "  renamefile('%1/a.txt', '%1/c.dat');\n"
        "  renamefile('%1/b.TXT', '%1/moved.txt');\n"
        "  if deletefiletorecyclebin('%1/c.dat') then showmessage('trashed');\n"
        "  if not deletefiletorecyclebin('%1/none.dat') then showmessage('nothing to trash');\n"
        "end.")
                              .arg(work));
    ASSERT_TRUE(ok) << s.engine.Messages().join(QLatin1Char('\n')).toStdString();
    const QString w = work + QLatin1Char('/');
    EXPECT_EQ(s.shown, (QStringList{w + ".hidden.txt", w + "[x].txt", w + "a.txt", w + "b.TXT", w + "sub.txt",
                                    "after close []", "none []", "one " + w + "c.dat", "trashed",
                                    "nothing to trash"}));
    EXPECT_TRUE(QFileInfo(w + "x/y/z").isDir());
    // The rename onto an existing file was refused: both are as they were
    // until c.dat went to the trash.
    EXPECT_EQ(ReadFile(w + "a.txt"), "a.txt");
    EXPECT_EQ(ReadFile(w + "moved.txt"), "b.TXT");
    EXPECT_FALSE(QFileInfo::exists(w + "b.TXT"));
    EXPECT_FALSE(QFileInfo::exists(w + "c.dat"));
    EXPECT_EQ(ReadFile(d + "/xdg/Trash/files/c.dat"), "c.dat");
    EXPECT_TRUE(QFileInfo::exists(d + "/xdg/Trash/info/c.dat.trashinfo"));
}

TEST(KWScript, FileNamesEndAtEitherSeparatorOrADriveColon)
{
    struct Case {
        const char *name, *file, *path, *ext, *changed;
    } cases[] = {
        {"/home/u/clip.part.mp4", "clip.part.mp4", "/home/u/", ".mp4", "/home/u/clip.part.bak"},
        {"C:\\Videos\\a.avi", "a.avi", "C:\\Videos\\", ".avi", "C:\\Videos\\a.bak"},
        {"c:name.txt", "name.txt", "c:", ".txt", "c:name.bak"},
        {"/dir.d/noext", "noext", "/dir.d/", "", "/dir.d/noext.bak"},
        {"mixed/dir\\f.x", "f.x", "mixed/dir\\", ".x", "mixed/dir\\f.bak"},
        {".bashrc", ".bashrc", "", ".bashrc", ".bak"},
        {"folder/", "", "folder/", "", "folder/.bak"},
        {"", "", "", "", ".bak"},
    };
    for (const Case &c : cases) {
        const QString n = QString::fromUtf8(c.name);
        EXPECT_EQ(TKWScript::ExtractFileName(n), QString::fromUtf8(c.file)) << c.name;
        EXPECT_EQ(TKWScript::ExtractFilePath(n), QString::fromUtf8(c.path)) << c.name;
        EXPECT_EQ(TKWScript::ExtractFileExt(n), QString::fromUtf8(c.ext)) << c.name;
        EXPECT_EQ(TKWScript::ChangeFileExt(n, QStringLiteral(".bak")), QString::fromUtf8(c.changed)) << c.name;
    }
    // The same through a script.
    Script s;
    ASSERT_TRUE(s.Run(QStringLiteral("begin showmessage(extractfilename('C:\\a\\b.c') + '|' + "
                                     "extractfilepath('/x/y.z') + '|' + extractfileext('q.tar.gz') + '|' + "
                                     "changefileext('d/e.f', '')); end.")));
    EXPECT_EQ(s.shown, QStringList{QStringLiteral("b.c|/x/|.gz|d/e")});
}

TEST(KWScript, ConstantsTypesAndTheListsProcedures)
{
    Script s;
    TKWActionList list;
    auto *volume = new TIntegerAction(QStringLiteral("iaVolume"), &list);
    volume->ScriptName = QStringLiteral("Volume");
    list.SetPascalScript(&s.engine);
    const bool ok = s.Run(QStringLiteral(
        "var r: TRect; p: TPoint; g: TCLSID; m: TSavePreferences; i: TBorderIcons;\n"
        "  h: HResult; a: TAlignment; k: TShortCut; o: TOwnerDrawState; b: TBorderStyle;\n"
        "begin\n"
        "  r.Left := 1; r.Bottom := 4; p.x := -2; g.D1 := 7; g.D4[7] := 255;\n"
        "  m := spPortable; i := [biMinimize, biHelp]; h := -1; a := taCenter; k := 65535;\n"
        "  o := [odSelected, odComboBoxEdit]; b := bsSizeToolWin;\n"
        "  showmessage(IntToStr(clMoneyGreen) + ' ' + IntToStr(clSkyBlue) + ' ' + IntToStr(clCream));\n"
        "  showmessage(IntToStr(SecsPerDay) + ' ' + IntToStr(MSecPerDay));\n"
        "  showmessage(IntToStr(r.Left + r.Bottom + p.x + g.D1 + g.D4[7]) + ' ' + IntToStr(Ord(m)) + ' ' +\n"
        "    IntToStr(Ord(a)) + ' ' + IntToStr(Ord(b)) + ' ' + IntToStr(Ord(tlBottom)) + ' ' + IntToStr(k));\n"
        "  if (biHelp in i) and not (biMaximize in i) and (odComboBoxEdit in o) then showmessage('sets');\n"
        "  if clBlack = 0 then showmessage('graphics');\n"
        "  Volume(h + 43);\n"
        "end."));
    ASSERT_TRUE(ok) << s.engine.Messages().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(s.shown, (QStringList{"12639424 15780518 15793151", "86400 86400000", "265 1 2 5 2 65535", "sets",
                                    "graphics"}));
    EXPECT_EQ(volume->Value(), 42);
}

TEST(KWScript, SleepWaitsAndAStopEndsIt)
{
    Script s;
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(s.Run(QStringLiteral("begin sleep(60); end.")));
    EXPECT_GE(t.elapsed(), 60);

    int idles = 0;
    s.engine.OnRunIdle = [&] {
        if (++idles == 3)
            s.engine.Stop();
    };
    t.restart();
    EXPECT_FALSE(s.Run(QStringLiteral("begin sleep(60000); showmessage('woke'); end.")));
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_GE(idles, 3);
    EXPECT_TRUE(s.shown.isEmpty());
    EXPECT_TRUE(s.engine.Messages().value(0).contains(QStringLiteral("Script stopped by the user")))
        << s.engine.Messages().value(0).toStdString();
}

TEST(KWScript, AScriptCannotCompileItselfAway)
{
    Script s;
    TKWActionList list;
    auto *again = new TNopeAction(QStringLiteral("naAgain"), &list);
    again->ScriptName = QStringLiteral("Again");
    QStringList nested;
    again->OnAfterApply = [&] {
        s.engine.Compile();
        nested = s.engine.Messages();
    };
    list.SetPascalScript(&s.engine);
    ASSERT_TRUE(s.Run(QStringLiteral("var i: Integer;\nbegin\n  Again;\n  for i := 1 to 3 do showmessage(IntToStr(i));\nend.")))
        << s.engine.Messages().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(nested.value(nested.size() - 1), QStringLiteral("### Compilation Failed"));
    EXPECT_EQ(s.shown, (QStringList{"1", "2", "3"}));
    EXPECT_TRUE(s.engine.compiled);
}

TEST(KWScript, ShowMessageWithoutAHookAsksInABox)
{
    TKWScript engine;
    QString text;
    QTimer::singleShot(50, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        text = box->text();
        box->accept();
    });
    engine.Script = QStringList{QStringLiteral("begin showmessage('Look'); end.")};
    ASSERT_TRUE(engine.Compile());
    EXPECT_TRUE(engine.Execute());
    EXPECT_EQ(text, QStringLiteral("Look"));
}

// ---- The highlighter -------------------------------------------------------------

TEST(PascalHighlighter, ColoursTokensAndCarriesCommentsAcrossLines)
{
    QPlainTextEdit editor;
    QTextDocument &doc = *editor.document();
    new TPascalHighlighter(&doc);
    doc.setPlainText(QStringLiteral("begin x := 'it''s' + #13#10; // note\n"
                                    "{ open\n"
                                    "still } y := $1F + 2.5e3; (* a\n"
                                    "b *) end."));
    QCoreApplication::processEvents();  // the first colouring waits for the event loop
    // The format over the text `piece` of line `line`.
    const auto at = [&](int line, const QString &piece) {
        const QTextBlock block = doc.findBlockByNumber(line);
        const int pos = static_cast<int>(block.text().indexOf(piece));
        EXPECT_GE(pos, 0) << piece.toStdString();
        for (const QTextLayout::FormatRange &r : block.layout()->formats())
            if (r.start <= pos && pos < r.start + r.length)
                return r.format;
        return QTextCharFormat();
    };
    const auto colour = [&](int line, const QString &piece) {
        return QColorToColor(at(line, piece).foreground().color());
    };
    EXPECT_EQ(colour(0, "begin"), clMaroon);
    EXPECT_EQ(at(0, "begin").fontWeight(), QFont::Bold);
    EXPECT_EQ(at(0, "x").fontWeight(), QFont::Bold);
    EXPECT_EQ(colour(0, ":="), clBlue);
    EXPECT_EQ(colour(0, "'it"), clPurple);
    EXPECT_EQ(colour(0, "s'"), clPurple);  // the doubled quote stays in the string
    EXPECT_EQ(colour(0, "#10"), clPurple);
    EXPECT_EQ(colour(0, "// note"), clGreen);
    EXPECT_TRUE(at(0, "// note").fontItalic());
    EXPECT_EQ(colour(1, "open"), clGreen);
    EXPECT_EQ(colour(2, "still"), clGreen);
    EXPECT_EQ(at(2, "y").fontWeight(), QFont::Bold);
    EXPECT_NE(colour(2, "y"), clGreen);
    EXPECT_EQ(colour(2, "$1F"), clNavy);
    EXPECT_EQ(colour(2, "2.5e3"), clNavy);
    EXPECT_EQ(colour(2, "(* a"), clGreen);
    EXPECT_EQ(colour(3, "b *)"), clGreen);
    EXPECT_EQ(colour(3, "end"), clMaroon);

    // Closing the comment on line 1 recolours the lines after it.
    QTextCursor c(doc.findBlockByNumber(1));
    c.movePosition(QTextCursor::EndOfBlock);
    c.insertText(QStringLiteral(" }"));
    EXPECT_EQ(at(2, "still").fontWeight(), QFont::Bold);
    EXPECT_NE(colour(2, "still"), clGreen);
}

// ---- The window ------------------------------------------------------------------

namespace {

class ScriptWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        caMute = new TCheckAction(QStringLiteral("caMute"), &main);
        caMute->SetName(QStringLiteral("caMute"));
        caMute->ScriptName = QStringLiteral("Mute");
        caMute->OnAfterTrueApply = [this] { log << QStringLiteral("muted"); };
        caMute->OnAfterFalseApply = [this] { log << QStringLiteral("sound"); };
        main.SetPascalScript(form.KWScript);
        form.al_script->SetPascalScript(form.KWScript);
        form.KWScript->OnShowMessage = [this](const QString &s) { log << s; };
    }
    void TearDown() override
    {
        MacroRecorder = nullptr;
        MacroLineOpen = false;
    }

    QStringList Memo() const { return Lines(form.Memo); }
    void Run(const QString &text)
    {
        form.Editor->setPlainText(text);
        form.btExecute->click();
    }
    // Posts a click on `w` at its centre, as the window system delivers one.
    static void PostClick(QWidget *w)
    {
        const QPointF p(w->width() / 2.0, w->height() / 2.0);
        const QPointF g = w->mapToGlobal(p);
        QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonPress, p, g, Qt::LeftButton,
                                                        Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonRelease, p, g, Qt::LeftButton,
                                                        Qt::NoButton, Qt::NoModifier));
    }

    TempHive hive;
    TScriptForm form;
    TKWActionList main;
    TCheckAction *caMute = nullptr;
    QStringList log;
};

}  // namespace

TEST_F(ScriptWindow, ExecuteShowsBothVerdictsAndOnlyTheLastRun)
{
    Run(QStringLiteral("begin\n  showmessage('one');\nend."));
    EXPECT_EQ(Memo(), (QStringList{"*** Compilation succeeded ***", "*** Succesfully Executed ***"}));
    form.naExecuteMacro->Execute();
    EXPECT_EQ(Memo(), (QStringList{"*** Compilation succeeded ***", "*** Succesfully Executed ***"}));
    EXPECT_EQ(log, (QStringList{"one", "one"}));
    EXPECT_EQ(form.KWScript->Script, (QStringList{"begin", "  showmessage('one');", "end."}));

    Run(QStringLiteral("begin\n  forcedirectories('');\nend."));
    EXPECT_EQ(Memo().value(1), QStringLiteral("### Error while executing: ") + form.KWScript->ExecErrorText());
    EXPECT_EQ(form.btExecute->text(), QStringLiteral("Execute"));
}

TEST_F(ScriptWindow, ARecordedMacroReplays)
{
    form.Editor->setPlainText(QStringLiteral("kept"));
    form.btStop->click();  // Stop without Start does nothing
    EXPECT_EQ(Lines(form.Editor), QStringList{QStringLiteral("kept")});
    EXPECT_EQ(MacroRecorder, nullptr);

    const QString today = FormatDateTime(QStringLiteral("dddddd"), [] {
        TDateTime now = 0;
        QDateTimeToDateTime(QDateTime::currentDateTime(), now);
        return now;
    }());
    form.btStart->click();
    EXPECT_TRUE(form.Recording());
    caMute->Execute();  // the user switches the sound off
    form.btStop->click();
    EXPECT_FALSE(form.Recording());
    EXPECT_EQ(MacroRecorder, nullptr);
    const QStringList macro = Lines(form.Editor);
    ASSERT_EQ(macro.size(), 5) << form.Editor->toPlainText().toStdString();
    EXPECT_TRUE(macro[0].startsWith(QStringLiteral("//Macro saved on ") + today + QStringLiteral(" at ")))
        << macro[0].toStdString();
    EXPECT_EQ(macro.mid(1), (QStringList{"", "begin", "    setMute(True);", "end."}));
    form.btStop->click();
    EXPECT_EQ(Lines(form.Editor).size(), 5);

    caMute->SetChecked(false);
    log.clear();
    form.btExecute->click();
    EXPECT_EQ(Memo(), (QStringList{"*** Compilation succeeded ***", "*** Succesfully Executed ***"}));
    EXPECT_TRUE(caMute->Checked());
    EXPECT_EQ(log, QStringList{QStringLiteral("muted")});
}

TEST_F(ScriptWindow, EscAndTheStopButtonEndAnEndlessRun)
{
    form.show();
    QString captionDuringRun;
    QTimer::singleShot(150, &form, [&] {
        captionDuringRun = form.btExecute->text();
        // Held back while the script runs: typing, and a click on Open.
        QCoreApplication::postEvent(form.Editor, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
        PostClick(form.btOpen);
        QCoreApplication::postEvent(form.Editor, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    });
    QElapsedTimer t;
    t.start();
    Run(QStringLiteral("begin\n  while true do ;\nend."));
    EXPECT_LT(t.elapsed(), 20000);
    EXPECT_EQ(captionDuringRun, QStringLiteral("Stop"));
    EXPECT_EQ(form.btExecute->text(), QStringLiteral("Execute"));
    EXPECT_EQ(form.Editor->toPlainText(), QStringLiteral("begin\n  while true do ;\nend."));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);  // no open dialog came up
    ASSERT_EQ(Memo().size(), 2) << form.Memo->toPlainText().toStdString();
    EXPECT_TRUE(Memo()[1].startsWith(QStringLiteral("### Error while executing: ")));
    EXPECT_TRUE(Memo()[1].contains(QStringLiteral("Script stopped by the user"))) << Memo()[1].toStdString();

    // The same run again, stopped by a click on the button.
    QTimer::singleShot(150, &form, [&] { PostClick(form.btExecute); });
    t.restart();
    form.btExecute->click();
    EXPECT_LT(t.elapsed(), 20000);
    EXPECT_TRUE(Memo().value(1).contains(QStringLiteral("Script stopped by the user")));
    EXPECT_EQ(form.btExecute->text(), QStringLiteral("Execute"));
    EXPECT_TRUE(form.isVisible());
}

TEST_F(ScriptWindow, SettingsRoundTripInTheScriptFormSection)
{
    TVostrelPreferences gp(nullptr);
    gp.titre = QStringLiteral("ScriptFormTest");
    gp.SetMode(spRegistre);

    // Stored and offered to scripts in the window's order.
    QStringList order;
    for (TCustomAbstractAction *a : form.al_script->TypedActions())
        order << a->Name() + QLatin1Char('=') + a->ScriptName;
    EXPECT_EQ(order, (QStringList{"raScriptFormSave=ScriptFormSave", "naExecuteMacro=ExecuteMacro", "naStartMacro=",
                                  "naStopMacro=", "naHelpMacro=HelpMacro", "saLines=Lines"}));

    // Nothing stored: the defaults.
    ASSERT_TRUE(form.LoadFromPrefs(&gp));
    EXPECT_EQ(Lines(form.Editor), QStringList{QStringLiteral("//Ecrivez un script entre begin et end.")});
    EXPECT_EQ(form.geometry(), QRect(300, 300, 800, 560));

    form.setGeometry(40, 50, 700, 500);
    form.Editor->setPlainText(QStringLiteral("begin\n  showmessage('é');\nend."));
    ASSERT_TRUE(form.SaveToPrefs(&gp));
    const QString key = gp.RegistryKey() + QStringLiteral("\\ScriptForm");
    QString stored;
    ASSERT_TRUE(TRegPreferencesMan::QueryString(key, QStringLiteral("Lines"), stored));
    EXPECT_EQ(stored, QStringLiteral("begin\r\n  showmessage('é');\r\nend."));
    EXPECT_EQ(form.raScriptFormSave->Value(), (TRect{40, 50, 740, 550}));
    const QString hiveText = hive.readText();
    EXPECT_TRUE(hiveText.contains(QStringLiteral("[HKEY_CURRENT_USER\\") + key + QStringLiteral("\\ScriptFormSave]")));
    EXPECT_TRUE(hiveText.contains(QStringLiteral("\"RecentFilename1\"=")));

    TScriptForm again;
    ASSERT_TRUE(again.LoadFromPrefs(&gp));
    EXPECT_EQ(again.Editor->toPlainText(), form.Editor->toPlainText());
    EXPECT_EQ(again.geometry(), QRect(40, 50, 700, 500));

    // Showing the window puts the template over the stored script.
    again.ShowScript();
    EXPECT_EQ(Lines(again.Editor), TScriptForm::ShowTemplate());
    EXPECT_EQ(again.btSave->text(), QStringLiteral("Save"));
    EXPECT_EQ(again.saLines->DefaultValue(), QByteArray("//Write a script between begin and end."));
}

TEST_F(ScriptWindow, ScriptFilesOpenSaveAndClear)
{
    QTemporaryDir dir;
    const QString utf8 = dir.filePath(QStringLiteral("utf8.txt"));
    WriteFile(utf8, "\xEF\xBB\xBF" "begin\r\n  showmessage('\xC3\xA9t\xC3\xA9');\r\nend.\r\n");
    const QString latin1 = dir.filePath(QStringLiteral("latin1.txt"));
    WriteFile(latin1, "// caf\xE9\nbegin end.\n");

    form.ficman_script->waOpenFile->SetValue(utf8);
    EXPECT_EQ(Lines(form.Editor), (QStringList{"begin", QStringLiteral("  showmessage('été');"), "end."}));
    form.btExecute->click();
    EXPECT_EQ(log, QStringList{QStringLiteral("été")});

    form.ficman_script->waOpenFile->SetValue(latin1);
    EXPECT_EQ(Lines(form.Editor), (QStringList{QStringLiteral("// café"), "begin end."}));
    EXPECT_EQ(form.ficman_script->CurrentFile(), latin1);

    const QString saved = dir.filePath(QStringLiteral("out.txt"));
    form.Editor->setPlainText(QStringLiteral("begin\n  showmessage('ü');\nend."));
    form.ficman_script->waSaveFileAs->SetValue(saved);
    EXPECT_EQ(ReadFile(saved), QByteArray("begin\n  showmessage('\xC3\xBC');\nend.\n"));
    EXPECT_EQ(form.ficman_script->CurrentFile(), saved);
    EXPECT_EQ(form.ficman_script->waRecentFilename[0]->Value(), latin1);

    form.btClear->click();
    EXPECT_EQ(Lines(form.Editor), TScriptForm::ClearTemplate());
    EXPECT_NE(TScriptForm::ClearTemplate(), TScriptForm::ShowTemplate());
    EXPECT_EQ(form.ficman_script->State(), TDocumentState::None);

    // A save that cannot happen says so and leaves nothing behind.
    const QString blocked = dir.filePath(QStringLiteral("missing/out.txt"));
    form.ficman_script->waSaveFileAs->SetValue(blocked);
    EXPECT_FALSE(QFileInfo::exists(blocked));
    EXPECT_TRUE(form.Memo->toPlainText().contains(QStringLiteral("Unable to save ") + blocked));
}

TEST_F(ScriptWindow, LayoutClosingAndAPicture)
{
    bool closed = false;
    form.OnClosed = [&] { closed = true; };
    form.ShowScript();
    form.resize(900, 650);
    QApplication::processEvents();
    EXPECT_EQ(form.Memo->geometry(), QRect(8, 650 - 49 - 8, form.Panel->x() - 16, 49));
    EXPECT_EQ(form.Panel->geometry(), QRect(900 - 145, 650 - 57 - 385, 145, 385));
    EXPECT_EQ(form.Editor->geometry(), QRect(8, 8, 900 - 145 - 16, 650 - 57 - 24));

    form.btStart->click();
    caMute->Execute();
    caMute->Execute();
    form.btStop->click();
    form.btExecute->click();
    EXPECT_EQ(Memo().last(), QStringLiteral("*** Succesfully Executed ***"));
    QApplication::processEvents();
    const QImage img = form.grab().toImage();
    EXPECT_TRUE(img.save(QDir(TestArtifactsDir()).filePath(QStringLiteral("ScriptForm.png"))));

    form.close();
    EXPECT_TRUE(closed);
    EXPECT_FALSE(form.isVisible());
}
