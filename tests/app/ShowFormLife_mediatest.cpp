// The main window's life seen from outside: what it saves and in which order
// in both stores, what start-up links and close undoes, the screen saver held
// while it is shown, the overwrite question on a real grab, and pictures of
// the window at two sizes with the panels on either side.
#include "ShowFormFixture.h"

#include "KWPack/uKWScript.h"
#include "KWPack/uKWSwitch.h"
#include "KWPack/uScriptForm.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QStandardPaths>
#include <QThread>

#include <mutex>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

// FFmpeg's, Qt's and libdbus's own threads and locks are invisible to
// ThreadSanitizer.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:libavcodec.so\nrace:libavutil.so\nrace:libglib-2.0.so\n"
           "called_from_lib:libQt6Gui.so\ncalled_from_lib:libQt6Core.so\n"
           "race:libdbus-1.so\ndeadlock:libdbus-1.so\nmutex:libdbus-1.so\n";
}

namespace {

// The lines of one section: from its header (the ini's "[ShowForm]" or the
// hive's "[...\ShowForm]") to the next header.
QStringList Section(const QStringList &lines, const QString &name)
{
    QStringList out;
    bool in = false;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1Char('['))) {
            if (in)
                break;
            in = line == QLatin1Char('[') + name + QLatin1Char(']')
                 || line.endsWith(QLatin1Char('\\') + name + QLatin1Char(']'));
            continue;
        }
        if (in)
            out << line;
    }
    return out;
}

// Where the value `name` (or its first part, "name.X") is written in a
// section (ini "name=" or hive "\"name\"="); -1 when it is not.
int ValueLine(const QStringList &section, const QString &name)
{
    for (int i = 0; i < section.size(); ++i) {
        const QString line = section[i].startsWith(QLatin1Char('"')) ? section[i].mid(1) : section[i];
        if (!line.startsWith(name))
            continue;
        const QChar next = line.size() > name.size() ? line.at(name.size()) : QChar();
        if (next == QLatin1Char('=') || next == QLatin1Char('.') || next == QLatin1Char('"'))
            return i;
    }
    return -1;
}

int HeaderLine(const QStringList &lines, const QString &name)
{
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i] == QLatin1Char('[') + name + QLatin1Char(']')
            || lines[i].endsWith(QLatin1Char('\\') + name + QLatin1Char(']')))
            return i;
    return -1;
}

// The first and last value each component writes into the window's section,
// in the order of saving: ficman, gpal, NavMan, audman, vidman (am keeps
// nothing there).
QStringList SaveOrderKeys(const TShowForm &f)
{
    return {f.ficman->waOpenFile->ScriptName, QStringLiteral("RecentFilename10"),
            f.iaLeftFrame->ScriptName,      f.waPrivateFolder->ScriptName,
            f.NavMan->caPlay->ScriptName,   f.NavMan->waStrPosition->ScriptName,
            f.audman->caMute->ScriptName,   QStringLiteral("Volume"),
            f.vidman->caFlipVertical->ScriptName, QStringLiteral("TimerInterval")};
}

class ShowFormLife : public ShowFormTest {
protected:
    // Changes one remembered value of several components and closes.
    void ChangeAndClose(TSavePreferences mode)
    {
        Show(*form);
        form->gp->SetMode(mode);
        form->naShowExtraireFrame->Execute();
        form->Naming.iaDigits->SetValue(7);
        form->audman->caMute->SetChecked(true);
        form->caBasculerVue->SetChecked(true);
        ASSERT_TRUE(form->close());
        keys = SaveOrderKeys(*form);
        form.reset();
    }

    // The components' values in the window's section in the order of saving,
    // that section before the script window's, and the script window's list
    // before its file manager.
    void ExpectSaveOrder(const QStringList &lines, bool headersInWriteOrder)
    {
        const QStringList show = Section(lines, QStringLiteral("ShowForm"));
        ASSERT_FALSE(show.isEmpty()) << lines.join(QLatin1Char('\n')).toStdString();
        int previous = -1;
        for (const QString &key : keys) {
            const int at = ValueLine(show, key);
            EXPECT_GT(at, previous) << key.toStdString() << " out of order in\n"
                                    << show.join(QLatin1Char('\n')).toStdString();
            previous = at;
        }
        // The ini file keeps its sections in the order they were first
        // written; the hive keeps keys as loading made them.
        if (headersInWriteOrder) {
            EXPECT_GT(HeaderLine(lines, QStringLiteral("ScriptForm")), HeaderLine(lines, QStringLiteral("ShowForm")));
        }
        // The script window's list (its text, its place), then its file manager.
        const QStringList script = Section(lines, QStringLiteral("ScriptForm"));
        const int text = ValueLine(script, QStringLiteral("Lines"));
        EXPECT_GE(text, 0) << script.join(QLatin1Char('\n')).toStdString();
        EXPECT_GT(ValueLine(script, QStringLiteral("OpenFile")), text);
        EXPECT_GT(HeaderLine(lines, QStringLiteral("ScriptFormSave")), 0);
    }

    // A new window loads what the last one saved.
    void ExpectLoadedBack()
    {
        form = NewForm();
        Show(*form);
        EXPECT_EQ(form->iaPanneauActif->Value(), int(TShowForm::ppExtraire));
        EXPECT_TRUE(form->ExtraireFrame->isVisible());
        EXPECT_EQ(form->Naming.iaDigits->Value(), 7);
        EXPECT_TRUE(form->audman->caMute->Checked());
        EXPECT_TRUE(form->caBasculerVue->Checked());
        EXPECT_TRUE(form->PanelsOnRight);
    }

    QStringList keys;
};

// A screen saver of our own on a private session bus.
class FakeScreenSaver : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    mutable std::mutex lock;
    QMap<uint, QString> held;  // cookie -> reason

    int Held() const
    {
        std::lock_guard guard(lock);
        return int(held.size());
    }

public slots:
    uint Inhibit(const QString &, const QString &reason)
    {
        std::lock_guard guard(lock);
        held.insert(++FNext, reason);
        return FNext;
    }
    void UnInhibit(uint cookie)
    {
        std::lock_guard guard(lock);
        held.remove(cookie);
    }

private:
    uint FNext = 7;
};

// A session bus daemon of our own, started with posix_spawn: its child only
// execs, where QProcess's runs code that ThreadSanitizer then misreads in the
// parent's threads.
class SpawnedBus {
public:
    SpawnedBus()
    {
        const QByteArray daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).toLocal8Bit();
        int out[2];
        if (daemon.isEmpty() || pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char *argv[] = {const_cast<char *>(daemon.constData()), const_cast<char *>("--session"),
                        const_cast<char *>("--nofork"), const_cast<char *>("--print-address=1"), nullptr};
        const bool started = posix_spawn(&FPid, daemon.constData(), &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        QByteArray line;
        char c = 0;
        while (started && read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        close(out[0]);
        FAddress = QString::fromUtf8(line).trimmed();
    }
    ~SpawnedBus()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("life-screensaver"));
        if (FPid > 0) {
            kill(FPid, SIGTERM);
            waitpid(FPid, nullptr, 0);
        }
    }
    SpawnedBus(const SpawnedBus &) = delete;
    SpawnedBus &operator=(const SpawnedBus &) = delete;
    QString Address() const { return FAddress; }

private:
    pid_t FPid = 0;
    QString FAddress;
};

// The bus daemon starts before the window's threads do.
class ShowFormOnPrivateBus : public ShowFormLife {
protected:
    SpawnedBus bus;
};

TEST_F(ShowFormOnPrivateBus, TheScreenSaverIsHeldWhileTheWindowLives)
{
    if (bus.Address().isEmpty())
        GTEST_SKIP() << "no dbus-daemon";
    // The window uses the session bus, which Qt connects at its first use:
    // this test comes first in the file so that no earlier window took it.
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().toUtf8());
    FakeScreenSaver saver;
    QThread thread;
    QDBusConnection service = QDBusConnection::connectToBus(bus.Address(), QStringLiteral("life-screensaver"));
    saver.moveToThread(&thread);
    thread.start();
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &saver,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));

    EXPECT_EQ(saver.Held(), 0) << "nothing before the window shows";
    Show(*form);
    EXPECT_TRUE(form->ScreenSaverInhibited());
    EXPECT_EQ(saver.Held(), 1);
    form->gp->SetMode(spNone);
    form->gp->AskOnClose = false;
    form->close();
    EXPECT_EQ(saver.Held(), 1) << "held until the window goes";
    form.reset();
    EXPECT_EQ(saver.Held(), 0);
    thread.quit();
    thread.wait();
}

TEST_F(ShowFormLife, PreferencesKeepTheirOrderInTheRegistryAndComeBack)
{
    ChangeAndClose(spRegistre);
    const QStringList lines = hive.readText().split(QRegularExpression(QStringLiteral("\r?\n")));
    ExpectSaveOrder(lines, false);
    EXPECT_EQ(Section(lines, QStringLiteral("ShowForm")).filter(QStringLiteral("\"Digits\"")).size(), 1);
    ExpectLoadedBack();
}

TEST_F(ShowFormLife, PreferencesKeepTheirOrderInThePortableFileAndComeBack)
{
    const QString ini = dir.filePath(QStringLiteral("Vidstill.ini"));
    ChangeAndClose(spPortable);
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << ini.toStdString();
    const QStringList lines = TIniPreferencesMan::Decode(file.readAll());
    ExpectSaveOrder(lines, true);
    // Nothing went to the registry.
    EXPECT_FALSE(hive.readText().contains(QStringLiteral("Vidstill\\ShowForm]")));
    ExpectLoadedBack();
    EXPECT_EQ(form->gp->Mode(), spPortable);
}

// Start-up imports the private decoders' settings before any decoder is
// loaded and links every list to the one script engine and switch processor;
// close stops the graph and deletes the settings before the preferences are
// saved.
TEST_F(ShowFormLife, StartUpLinksEveryListAndCloseUndoesItInOrder)
{
    EXPECT_TRUE(hive.readText().contains(QStringLiteral("Software\\LBV")));
    EXPECT_FALSE(form->PrivateFilters()->Loaded());
    EXPECT_EQ(form->vidman->DefaultVideoDecoder, nullptr);

    TKWScript *script = form->am->Script();
    ASSERT_NE(script, nullptr);
    const QList<TCustomKWActionList *> lists{form->gpal, form->vidman, form->audman, form->NavMan, form->ficman};
    for (TCustomKWActionList *list : lists) {
        EXPECT_EQ(list->PascalScript(), script) << list->objectName().toStdString();
        EXPECT_EQ(list->Switch(), form->am->Switch()) << list->objectName().toStdString();
    }
    ASSERT_NE(form->am->ScriptForm(), nullptr);
    EXPECT_EQ(form->am->ScriptForm()->al_script->PascalScript(), script);
    // One procedure of each list, known to a script compiled on the engine.
    script->Script = QStringList{QStringLiteral("begin"),
                                 QStringLiteral("  if False then begin"),
                                 QStringLiteral("    Grab; NextDecoderVideo; IncVolume; ReculeDebut;"),
                                 QStringLiteral("    CloseFile; ExecuteMacro;"),
                                 QStringLiteral("  end;"),
                                 QStringLiteral("end.")};
    EXPECT_TRUE(script->Compile()) << script->Messages().join(QLatin1Char('\n')).toStdString();
    script->Script = QStringList{QStringLiteral("begin NoSuchProcedure; end.")};
    EXPECT_FALSE(script->Compile());

    Show(*form);
    ASSERT_TRUE(form->PrivateFilters()->Loaded());
    form->ficmanOpenFile(Clip("life.mp4", "h264", 0, 25));
    Settle();
    ASSERT_TRUE(form->HasVideo);
    form->NavMan->caPlay->SetChecked(true);
    QTest::qWait(200);
    ASSERT_EQ(form->NavMan->FilterGraph()->State(), gsRunning);

    // What the hive and the graph hold when the preferences are saved.
    bool saved = false, settingsLeft = true, graphRunning = true;
    const auto save = form->gp->OnSavePrefs;
    form->gp->OnSavePrefs = [&](TVostrelPreferences *prefs) {
        saved = true;
        const QString text = hive.readText();
        settingsLeft = text.contains(QStringLiteral("Software\\LBV")) || text.contains(QStringLiteral("Software\\VOS"));
        graphRunning = form->NavMan->FilterGraph()->State() == gsRunning;
        save(prefs);
    };
    form->gp->SetMode(spRegistre);
    ASSERT_TRUE(form->close());
    EXPECT_TRUE(saved);
    EXPECT_FALSE(settingsLeft);
    EXPECT_FALSE(graphRunning);
    EXPECT_TRUE(hive.readText().contains(QStringLiteral("Vidstill\\ShowForm]")));
}

// The overwrite question on a real grab: No keeps the file and the number,
// Cancel stops the run and writes nothing, Yes to all stops asking.
TEST_F(ShowFormLife, TheOverwriteAnswersOnARealGrab)
{
    Show(*form);
    form->Naming.waDossierSave->SetValue(dir.path() + QLatin1Char('/'));
    form->Naming.iaImageAjouter->SetValue(1);
    form->Naming.baConfirmerImage->SetValue(true);
    form->ficmanOpenFile(Clip("again.avi", "mpeg4", 0, 25));
    Settle();
    ASSERT_TRUE(form->HasVideo);
    const QString target = dir.filePath(QStringLiteral("Vidstill_001.bmp"));
    Touch(target);
    QStringList asked;
    TOverwriteAnswer answer = TOverwriteAnswer::No;
    form->OnAskOverwrite = [&](const QString &path) {
        asked << path;
        return answer;
    };

    form->naGrab->Execute();
    EXPECT_EQ(asked, QStringList{target});
    EXPECT_EQ(QFileInfo(target).size(), 1) << "No leaves the file";
    EXPECT_EQ(form->Naming.iaNextNum->Value(), 1);
    EXPECT_FALSE(form->AbortRequested);

    answer = TOverwriteAnswer::Cancel;
    form->naGrab->Execute();
    EXPECT_EQ(asked.size(), 2);
    EXPECT_TRUE(form->AbortRequested);
    EXPECT_EQ(QFileInfo(target).size(), 1);
    EXPECT_EQ(form->Naming.iaNextNum->Value(), 1);
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.bmp")}), QStringList{"Vidstill_001.bmp"});

    form->AbortRequested = false;
    answer = TOverwriteAnswer::YesToAll;
    form->naGrab->Execute();
    EXPECT_EQ(asked.size(), 3);
    EXPECT_FALSE(form->Naming.baConfirmerImage->Value());
    EXPECT_EQ(QImage(target).size(), QSize(320, 240)) << "written over";
    EXPECT_EQ(form->Naming.iaNextNum->Value(), 2);

    // No more questions: the next existing file is replaced at once.
    form->Naming.iaNextNum->SetValue(1);
    form->naGrab->Execute();
    EXPECT_EQ(asked.size(), 3);
    EXPECT_EQ(form->Naming.iaNextNum->Value(), 2);
}

// Pictures of the window with a clip, at two sizes, the panels left and
// right, for a person to look at (test-artifacts). Each must at least show
// the video panel and the side panel where the layout put them.
TEST_F(ShowFormLife, PicturesAtTwoSizesWithThePanelsOnEitherSide)
{
    Show(*form);
    form->naShowSaveImagesFrame->Execute();
    form->ficmanOpenFile(Clip("look.mp4", "h264", 1, 25));
    Settle();
    ASSERT_TRUE(form->HasVideo);
    const struct {
        QSize client;
        bool right;
        const char *name;
    } shots[] = {{{1000, 700}, false, "ShowForm-1000x700-left.png"},
                 {{1000, 700}, true, "ShowForm-1000x700-right.png"},
                 {{1500, 900}, false, "ShowForm-1500x900-left.png"},
                 {{1500, 900}, true, "ShowForm-1500x900-right.png"}};
    for (const auto &s : shots) {
        form->caBasculerVue->SetChecked(s.right);
        Show(*form, s.client);
        QTest::qWait(300);
        ASSERT_EQ(form->Client->size(), s.client);
        const QRect video = form->videoPanel->geometry();
        const QRect panel = form->SaveImagesFrame->geometry();
        EXPECT_EQ(panel.x(), s.right ? s.client.width() - TShowForm::kPanelWidth : 0);
        EXPECT_FALSE(video.intersects(panel)) << s.name;
        EXPECT_LE(video.right(), s.client.width());
        EXPECT_LE(form->panelImage->geometry().bottom(), s.client.height());
        const QImage shot = form->grab().toImage();
        EXPECT_TRUE(shot.save(TestArtifactsDir() + QLatin1Char('/') + QLatin1String(s.name))) << s.name;
    }
}

}  // namespace

#include "ShowFormLife_mediatest.moc"
