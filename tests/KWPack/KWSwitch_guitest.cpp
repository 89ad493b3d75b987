// The command-line switch processor with real typed actions in real lists:
// parsing, the order of the run, check modes, quit, unknown switches, macro
// recording, and the one run at the first activation.
#include "KWPack/uKWSwitch.h"

#include "platform/base/MessageWindow.h"

#include <QApplication>
#include <QMainWindow>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <QDir>

#include <stdexcept>

namespace {

// A processor whose own command line is the test's.
class TestSwitch : public TKWSwitch {
public:
    QStringList parameters;
    mutable int runs = 0;

protected:
    QStringList CommandLine() const override
    {
        ++runs;
        return parameters;
    }
};

// Lists whose actions write what they do into `log`.
class KWSwitch : public ::testing::Test {
protected:
    QWidget form;
    TKWActionList list{&form}, second{&form};
    TKWSwitch sw;
    QStringList log;

    void SetUp() override
    {
        sw.OnQuit = [this] { log << QStringLiteral("quit"); };
    }
    template <class A>
    A *Named(TCustomKWActionList &l, const QString &name, const QString &switchName)
    {
        auto *a = new A(name, &l);
        a->ScriptName = name;
        a->Switch = switchName;
        return a;
    }
    template <class A>
    A *Value(TCustomKWActionList &l, const QString &name, const QString &switchName)
    {
        A *a = Named<A>(l, name, switchName);
        a->InternalApply = [this, name](const auto &v) { log << name + '=' + QVariant(v).toString(); };
        return a;
    }
    TCheckAction *Check(const QString &name, const QString &switchName)
    {
        auto *a = Named<TCheckAction>(list, name, switchName);
        a->InternalTrueApply = [this, name] { log << name + '+'; };
        a->InternalFalseApply = [this, name] { log << name + '-'; };
        return a;
    }
    TNopeAction *Command(const QString &name, const QString &switchName, std::function<void()> run = {})
    {
        auto *a = Named<TNopeAction>(list, name, switchName);
        a->InternalApply = [this, name, run] {
            log << name;
            if (run)
                run();
        };
        return a;
    }
};

}  // namespace

TEST_F(KWSwitch, QuitClosesAfterTheLastItemWhereverItStandsButNeverAlone)
{
    Value<TIntegerAction>(list, "Digits", "swi_dig");
    Check("Mute", "swi_m");
    list.SetSwitch(&sw);
    int noCommandLine = 0;
    sw.OnNoCommandLine = [&](QObject *sender) {
        EXPECT_EQ(sender, nullptr);
        ++noCommandLine;
    };
    sw.RunCommandLine({"/quit"});
    EXPECT_EQ(noCommandLine, 1);
    EXPECT_TRUE(log.isEmpty()) << "the application stays open";

    for (int at = 0; at <= 2; ++at) {
        QStringList parameters{"/swi_dig=4", "+swi_m"};
        parameters.insert(at, at == 1 ? "/QUIT" : "/quit");
        log.clear();
        sw.RunCommandLine(parameters);
        EXPECT_EQ(log, (QStringList{"Digits=4", "Mute+", "quit"})) << "quit at " << at;
        EXPECT_FALSE(sw.Executing());
    }
    // A run's quit is its own.
    log.clear();
    sw.RunCommandLine({"/swi_dig=5"});
    EXPECT_EQ(log, QStringList{"Digits=5"});
    EXPECT_EQ(noCommandLine, 1);
}

TEST_F(KWSwitch, WithoutAHookQuitClosesTheVisibleMainWindow)
{
    Value<TIntegerAction>(list, "Digits", "swi_dig");
    list.SetSwitch(&sw);
    sw.OnQuit = nullptr;
    QMainWindow window;
    window.show();
    sw.RunCommandLine({"/swi_dig=1", "/quit"});
    EXPECT_FALSE(window.isVisible());
}

TEST_F(KWSwitch, ParametersReachTheirActionsWhateverTheCaseAndPrefix)
{
    auto *dig = Value<TIntegerAction>(list, "Digits", "Swi_Dig");
    Value<TWidestringAction>(list, "Root", "swi_root");
    Command("Grab", "swi_grab");
    Value<TIntegerAction>(list, "Off", "swi_off")->SetEnabled(false);
    list.SetSwitch(&sw);
    sw.OnSkipped = [this](TCustomAbstractAction *a) { log << "skipped " + a->Switch; };
    sw.RunCommandLine({"/SWI_DIG=7", "/swi_off=3", "/swi_dig", "/swi_dig=x", "+swi_dig=5", "-swi_root=a=b",
                       QString::fromUtf8("/swi_root=été"), "+SWI_GRAB", "-swi_grab=ignored"});
    EXPECT_EQ(log, (QStringList{"Digits=7", "skipped swi_off", "Digits=-1", "Digits=-1", "Digits=5", "Root=a=b",
                                QString::fromUtf8("Root=été"), "Grab", "Grab"}));
    EXPECT_EQ(dig->Value(), 5);
    EXPECT_EQ(sw.CommandQueue.Count(), 0) << "emptied after the run";
}

TEST_F(KWSwitch, CheckModesSetClearToggleOrNothing)
{
    TCheckAction *mute = Check("Mute", "swi_m");
    list.SetSwitch(&sw);
    sw.DefaultAction = mute;  // a parameter without a prefix reaches it as mode 3
    sw.RunCommandLine({"+swi_m", "+swi_m", "-swi_m", "/swi_m=false", "true", "/swi_m"});
    // "/" toggles whatever the text; mode 3 leaves a check action alone.
    EXPECT_EQ(log, (QStringList{"Mute+", "Mute+", "Mute-", "Mute+", "Mute-"}));
    EXPECT_FALSE(mute->Checked());
}

TEST_F(KWSwitch, TheFirstLinkedLiveActionWinsASharedName)
{
    auto *first = Value<TIntegerAction>(list, "First", "swi_x");
    Value<TIntegerAction>(second, "Second", "SWI_X");
    Value<TIntegerAction>(second, "Unnamed", "");
    auto *victim = Value<TIntegerAction>(list, "Victim", "swi_v");
    Command("Kill", "swi_kill", [&] { delete victim; });
    list.SetSwitch(&sw);
    second.SetSwitch(&sw);
    ASSERT_EQ(sw.SwitchTable.size(), 5) << "unnamed actions are registered too";
    sw.RunCommandLine({"/swi_x=1", "/=2", "/"});
    EXPECT_EQ(log, QStringList{"First=1"}) << "an empty name is never found";

    // An action that died is neither found nor run.
    log.clear();
    delete first;
    sw.RunCommandLine({"/swi_kill", "/swi_v=2", "/swi_x=3"});
    EXPECT_EQ(log, (QStringList{"Kill", "Second=3"}));

    log.clear();
    list.SetSwitch(nullptr);
    EXPECT_EQ(sw.SwitchTable.size(), 2);
    ::testing::internal::CaptureStderr();
    sw.RunCommandLine({"/swi_kill"});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "unknown switch /swi_kill\n");
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(KWSwitch, UnknownSwitchesAreIgnoredAndNamedOnceOnStderr)
{
    Value<TIntegerAction>(list, "Digits", "swi_dig");
    list.SetSwitch(&sw);
    ::testing::internal::CaptureStderr();
    sw.RunCommandLine({"/swi_xyz=5", "+Swi_Other", "/swi_xyz=6", "plain", "/quit", "/swi_dig=2"});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "unknown switch /swi_xyz\nunknown switch +Swi_Other\n");
    EXPECT_EQ(log, (QStringList{"Digits=2", "quit"}));

    // With a default action nothing is unknown: it gets the texts.
    log.clear();
    sw.DefaultAction = Value<TWidestringAction>(list, "Default", "");
    ::testing::internal::CaptureStderr();
    sw.RunCommandLine({"/swi_xyz=5", "clip.mp4"});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(log, (QStringList{"Default=5", "Default=clip.mp4"}));

    // Unless only plain parameters are meant for it: a misspelt switch is no file.
    log.clear();
    sw.UnknownToDefault = false;
    ::testing::internal::CaptureStderr();
    sw.RunCommandLine({"/swi_xyz=5", "clip.mp4", "/swi_dig=3"});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "unknown switch /swi_xyz\n");
    EXPECT_EQ(log, (QStringList{"Default=clip.mp4", "Digits=3"}));

    // A path starts like a switch here; a value may be a path.
    log.clear();
    const QString existing = QDir::tempPath();
    sw.RunCommandLine({"/home/u/My Clips/a=b.mp4", existing, "/swi_dig=/7"});
    EXPECT_EQ(log, (QStringList{"Default=/home/u/My Clips/a=b.mp4", "Default=" + existing, "Digits=-1"}));
}

TEST_F(KWSwitch, UnreadableValuesAreNamedOnStderrAndReadTheActionsWay)
{
    auto *dig = Value<TIntegerAction>(list, "Digits", "swi_dig");
    auto *speed = Value<TDoubleAction>(list, "Speed", "swi_sp");
    auto *back = Value<TColorAction>(list, "Back", "swi_back");
    back->SetValue(TColor(7));
    list.SetSwitch(&sw);
    ::testing::internal::CaptureStderr();
    sw.RunCommandLine({"/swi_dig=x", "/swi_sp=1.5", "/swi_back=clReddish", "/swi_dig= 12 ", "/swi_sp=nan"});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "switch /swi_dig: cannot read 'x', -1 is used\n"
              "switch /swi_back: cannot read 'clReddish', ignored\n"
              "switch /swi_sp: cannot read 'nan', -1 is used\n");
    EXPECT_EQ(dig->Value(), 12);
    EXPECT_EQ(speed->Value(), -1.0);
    EXPECT_EQ(back->Value(), TColor(7));
}

TEST_F(KWSwitch, ARecordedMacroHoldsWhatTheCommandLineSet)
{
    class Lines : public TMacroLines {
    public:
        QStringList lines;
        void Add(const QString &line) override { lines << line; }
    } recorder;
    Check("Mute", "swi_m");
    Value<TIntegerAction>(list, "Digits", "swi_dig");
    list.SetSwitch(&sw);
    MacroRecorder = &recorder;
    sw.RunCommandLine({"/swi_m", "/swi_dig=4", "-swi_m"});
    MacroRecorder = nullptr;
    EXPECT_EQ(recorder.lines, (QStringList{"    setMute(True);", "    Digits(4);", "    setMute(False);"}));
}

TEST_F(KWSwitch, AnExceptionEndsTheRunButQuitStillCloses)
{
    Value<TIntegerAction>(list, "Digits", "swi_dig");
    Command("Fail", "swi_fail", [] { throw std::runtime_error("refused"); });
    list.SetSwitch(&sw);
    EXPECT_THROW(sw.RunCommandLine({"/swi_dig=1", "/swi_fail", "/swi_dig=2", "/quit"}), std::runtime_error);
    EXPECT_EQ(log, (QStringList{"Digits=1", "Fail", "quit"}));
    EXPECT_FALSE(sw.Executing());
    EXPECT_EQ(sw.CommandQueue.Count(), 0);
    log.clear();
    sw.RunCommandLine({"/swi_dig=3"});
    EXPECT_EQ(log, QStringList{"Digits=3"});
}

TEST_F(KWSwitch, PendingMessagesRunBetweenItemsButStartNoSecondRun)
{
    auto *dig = Value<TIntegerAction>(list, "Digits", "swi_dig");
    Value<TWidestringAction>(list, "Root", "swi_root");
    list.SetSwitch(&sw);
    int noCommandLine = 0;
    sw.OnNoCommandLine = [&](QObject *) { ++noCommandLine; };
    dig->OnAfterApply = [&](const int32_t &) {
        // Posted now, run before the next item; it tries to run a command line too.
        QTimer::singleShot(0, &form, [&] {
            log << QStringLiteral("posted");
            sw.RunCommandLine({"/swi_root=inner"});
            sw.RunCommandLine({});
        });
    };
    sw.RunCommandLine({"/swi_dig=1", "/swi_root=outer"});
    EXPECT_EQ(log, (QStringList{"Digits=1", "posted", "Root=outer"}));
    EXPECT_EQ(noCommandLine, 0);
}

TEST_F(KWSwitch, AProcessorDestroyedByItsOwnRunStopsThere)
{
    auto *doomed = new TKWSwitch;
    Command("Close", "swi_close", [&] { delete doomed; });
    Value<TIntegerAction>(list, "Digits", "swi_dig");
    list.SetSwitch(doomed);
    doomed->OnQuit = [&] { log << QStringLiteral("quit"); };
    doomed->RunCommandLine({"/swi_close", "/swi_dig=1", "/quit"});
    EXPECT_EQ(log, QStringList{"Close"});
    EXPECT_EQ(list.Switch(), nullptr);
}

namespace {

// The platform's activations are played by emitting the application's signal:
// the offscreen platform activates once, at the first window shown, and never
// deactivates.
void Activate(Qt::ApplicationState state)
{
    emit qApp->applicationStateChanged(state);
}

class KWSwitchStart : public ::testing::Test {
protected:
    QWidget form;
    TKWActionList list{&form};
    QStringList log;
    TestSwitch sw;
    TIntegerAction *dig = new TIntegerAction(QStringLiteral("iaDigits"), &list);

    void SetUp() override
    {
        dig->Switch = QStringLiteral("swi_dig");
        dig->InternalApply = [this](const int32_t &v) { log << QString::number(v); };
        list.SetSwitch(&sw);
        sw.parameters = QStringList{"/swi_dig=4"};
        sw.OnActivate = [this](QObject *sender) {
            EXPECT_EQ(sender, QCoreApplication::instance());
            log << QStringLiteral("activate");
        };
    }
};

}  // namespace

TEST_F(KWSwitchStart, TheCommandLineRunsOnceAtTheFirstActivationOrLoopTurn)
{
    // Without an activation, the loop's first turn.
    EXPECT_FALSE(sw.Activated());
    ProcessMessages();
    EXPECT_EQ(log, (QStringList{"activate", "4"}));
    // Later activations reach OnActivate only.
    for (int i = 0; i < 2; ++i) {
        Activate(Qt::ApplicationInactive);
        Activate(Qt::ApplicationActive);
        ProcessMessages();
    }
    EXPECT_EQ(log, (QStringList{"activate", "4", "activate", "activate"}));
    EXPECT_EQ(sw.runs, 1);

    // An activation before the loop turns runs it at once, and only then.
    TestSwitch early;
    list.SetSwitch(&early);
    early.parameters = QStringList{"/swi_dig=5"};
    Activate(Qt::ApplicationActive);
    EXPECT_EQ(log.last(), QStringLiteral("5"));
    ProcessMessages();
    Activate(Qt::ApplicationActive);
    EXPECT_EQ(early.runs, 1);
    EXPECT_EQ(log.count(QStringLiteral("5")), 1);
}

TEST_F(KWSwitchStart, AFailingActionIsReportedAndKeptFromTheEventLoop)
{
    dig->OnAfterApply = [](const int32_t &) { throw std::runtime_error("no such folder"); };
    ::testing::internal::CaptureStderr();
    ProcessMessages();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "command line: no such folder\n");
    EXPECT_FALSE(sw.Executing());
}
