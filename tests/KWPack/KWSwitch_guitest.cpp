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

#include <stdexcept>

namespace {

class LinesRecorder : public TMacroLines {
public:
    QStringList lines;
    void Add(const QString &line) override { lines << line; }
};

// A processor whose own command line is the test's.
class TestSwitch : public TKWSwitch {
public:
    QStringList parameters;
    int runs = 0;

protected:
    QStringList CommandLine() const override
    {
        ++const_cast<TestSwitch *>(this)->runs;
        return parameters;
    }
};

class KWSwitch : public ::testing::Test {
protected:
    QWidget form;
    TKWActionList list{&form};
    TKWSwitch sw;
    QStringList log;  // what the actions did, in order
    int quits = 0;

    void SetUp() override
    {
        sw.OnQuit = [this] {
            ++quits;
            log << QStringLiteral("quit");
        };
    }

    TIntegerAction *Integer(TCustomKWActionList &l, const QString &name, const QString &sw)
    {
        auto *a = new TIntegerAction(QStringLiteral("ia") + name, &l);
        a->ScriptName = name;
        a->Switch = sw;
        a->InternalApply = [this, name](const int32_t &v) { log << name + QLatin1Char('=') + QString::number(v); };
        return a;
    }
    TWidestringAction *Text(TCustomKWActionList &l, const QString &name, const QString &sw)
    {
        auto *a = new TWidestringAction(QStringLiteral("wa") + name, &l);
        a->ScriptName = name;
        a->Switch = sw;
        a->InternalApply = [this, name](const QString &v) { log << name + QLatin1Char('=') + v; };
        return a;
    }
    TCheckAction *Check(TCustomKWActionList &l, const QString &name, const QString &sw)
    {
        auto *a = new TCheckAction(QStringLiteral("ca") + name, &l);
        a->ScriptName = name;
        a->Switch = sw;
        a->InternalTrueApply = [this, name] { log << name + QStringLiteral("+"); };
        a->InternalFalseApply = [this, name] { log << name + QStringLiteral("-"); };
        return a;
    }
    TNopeAction *Command(TCustomKWActionList &l, const QString &name, const QString &sw)
    {
        auto *a = new TNopeAction(QStringLiteral("na") + name, &l);
        a->ScriptName = name;
        a->Switch = sw;
        a->InternalApply = [this, name] { log << name; };
        return a;
    }
};

}  // namespace

TEST_F(KWSwitch, QuitAloneQueuesNothingAndTheApplicationStaysOpen)
{
    Integer(list, QStringLiteral("Digits"), QStringLiteral("swi_dig"));
    list.SetSwitch(&sw);
    int noCommandLine = 0;
    QObject *sender = &form;
    sw.OnNoCommandLine = [&](QObject *s) {
        ++noCommandLine;
        sender = s;
    };
    sw.RunCommandLine({QStringLiteral("/quit")});
    EXPECT_EQ(noCommandLine, 1);
    EXPECT_EQ(sender, nullptr);
    EXPECT_EQ(quits, 0);
    EXPECT_TRUE(sw.QuitAfterRun);
    EXPECT_EQ(sw.CommandQueue.Count(), 0);

    sw.RunCommandLine({});
    EXPECT_EQ(noCommandLine, 2);
    EXPECT_FALSE(sw.QuitAfterRun) << "a run's quit is its own";
}

TEST_F(KWSwitch, QuitClosesAfterTheLastItemWhereverItStands)
{
    Integer(list, QStringLiteral("Digits"), QStringLiteral("swi_dig"));
    Check(list, QStringLiteral("Mute"), QStringLiteral("swi_m"));
    list.SetSwitch(&sw);
    const QStringList items{QStringLiteral("/swi_dig=4"), QStringLiteral("+swi_m")};
    for (int at = 0; at <= items.size(); ++at) {
        QStringList parameters = items;
        parameters.insert(at, at == 1 ? QStringLiteral("/QUIT") : QStringLiteral("/quit"));
        log.clear();
        sw.RunCommandLine(parameters);
        EXPECT_EQ(log, (QStringList{"Digits=4", "Mute+", "quit"})) << "quit at " << at;
        EXPECT_FALSE(sw.Executing());
    }
}

TEST_F(KWSwitch, WithoutAHookQuitClosesTheVisibleMainWindow)
{
    Integer(list, QStringLiteral("Digits"), QStringLiteral("swi_dig"));
    list.SetSwitch(&sw);
    sw.OnQuit = nullptr;
    QMainWindow window;
    window.show();
    ASSERT_TRUE(window.isVisible());
    sw.RunCommandLine({QStringLiteral("/swi_dig=1"), QStringLiteral("/quit")});
    EXPECT_FALSE(window.isVisible());
}

TEST_F(KWSwitch, ADisabledActionIsSkippedAndTheRunGoesOn)
{
    TIntegerAction *dig = Integer(list, QStringLiteral("Digits"), QStringLiteral("swi_dig"));
    Check(list, QStringLiteral("Mute"), QStringLiteral("swi_m"));
    list.SetSwitch(&sw);
    dig->SetEnabled(false);
    sw.RunCommandLine({QStringLiteral("/swi_dig=9"), QStringLiteral("+swi_m")});
    EXPECT_EQ(log, QStringList{"Mute+"});
    EXPECT_EQ(dig->Value(), 0);
}

TEST_F(KWSwitch, ParametersReachTheirActionsWhateverTheCaseAndPrefix)
{
    TIntegerAction *dig = Integer(list, QStringLiteral("Digits"), QStringLiteral("Swi_Dig"));
    Text(list, QStringLiteral("Root"), QStringLiteral("swi_root"));
    Command(list, QStringLiteral("Grab"), QStringLiteral("swi_grab"));
    list.SetSwitch(&sw);
    sw.RunCommandLine({QStringLiteral("/SWI_DIG=7"), QStringLiteral("/swi_dig"), QStringLiteral("/swi_dig=x"),
                       QStringLiteral("+swi_dig=5"), QStringLiteral("-swi_root=a=b"),
                       QStringLiteral("/swi_root=") + QString::fromUtf8("été"), QStringLiteral("+SWI_GRAB"),
                       QStringLiteral("-swi_grab=ignored")});
    EXPECT_EQ(log, (QStringList{"Digits=7", "Digits=-1", "Digits=-1", "Digits=5", "Root=a=b",
                                QString::fromUtf8("Root=été"), "Grab", "Grab"}));
    EXPECT_EQ(dig->Value(), 5);
    EXPECT_EQ(sw.CommandQueue.Count(), 0) << "emptied after the run";
}

TEST_F(KWSwitch, CheckModesSetClearToggleOrNothing)
{
    TCheckAction *mute = Check(list, QStringLiteral("Mute"), QStringLiteral("swi_m"));
    list.SetSwitch(&sw);
    sw.DefaultAction = mute;  // a parameter without a prefix reaches it as mode 3
    sw.RunCommandLine({QStringLiteral("+swi_m"), QStringLiteral("+swi_m"), QStringLiteral("-swi_m"),
                       QStringLiteral("/swi_m=false"), QStringLiteral("true"), QStringLiteral("/swi_m")});
    // "/" toggles whatever the text; mode 3 leaves a check action alone.
    EXPECT_EQ(log, (QStringList{"Mute+", "Mute+", "Mute-", "Mute+", "Mute-"}));
    EXPECT_FALSE(mute->Checked());
}

TEST_F(KWSwitch, TheFirstLinkedListWinsASharedName)
{
    TKWActionList second{&form};
    Integer(list, QStringLiteral("First"), QStringLiteral("swi_x"));
    Integer(second, QStringLiteral("Second"), QStringLiteral("SWI_X"));
    Integer(second, QStringLiteral("Unnamed"), QString());
    list.SetSwitch(&sw);
    second.SetSwitch(&sw);
    ASSERT_EQ(sw.SwitchTable.size(), 3) << "unnamed actions are registered too";
    sw.RunCommandLine({QStringLiteral("/swi_x=1"), QStringLiteral("/=2"), QStringLiteral("/")});
    EXPECT_EQ(log, QStringList{"First=1"}) << "an empty name is never found";

    log.clear();
    list.SetSwitch(nullptr);
    EXPECT_EQ(sw.SwitchTable.size(), 2);
    sw.RunCommandLine({QStringLiteral("/swi_x=3")});
    EXPECT_EQ(log, QStringList{"Second=3"});
}

TEST_F(KWSwitch, AnActionThatDiedIsNeitherFoundNorRun)
{
    TKWActionList second{&form};
    TIntegerAction *first = Integer(list, QStringLiteral("First"), QStringLiteral("swi_x"));
    Integer(second, QStringLiteral("Second"), QStringLiteral("swi_x"));
    TIntegerAction *victim = Integer(list, QStringLiteral("Victim"), QStringLiteral("swi_v"));
    Command(list, QStringLiteral("Kill"), QStringLiteral("swi_kill"))->InternalApply = [&] { delete victim; };
    list.SetSwitch(&sw);
    second.SetSwitch(&sw);

    delete first;
    sw.RunCommandLine({QStringLiteral("/swi_x=1")});
    EXPECT_EQ(log, QStringList{"Second=1"});

    log.clear();
    sw.RunCommandLine({QStringLiteral("/swi_kill"), QStringLiteral("/swi_v=2"), QStringLiteral("/swi_x=3")});
    EXPECT_EQ(log, QStringList{"Second=3"});
}

TEST_F(KWSwitch, UnknownSwitchesAreIgnoredAndNamedOnceOnStderr)
{
    Integer(list, QStringLiteral("Digits"), QStringLiteral("swi_dig"));
    list.SetSwitch(&sw);
    ::testing::internal::CaptureStderr();
    sw.RunCommandLine({QStringLiteral("/swi_xyz=5"), QStringLiteral("+Swi_Other"), QStringLiteral("/swi_xyz=6"),
                       QStringLiteral("plain"), QStringLiteral("/quit"), QStringLiteral("/swi_dig=2")});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "unknown switch /swi_xyz\nunknown switch +Swi_Other\n");
    EXPECT_EQ(log, (QStringList{"Digits=2", "quit"}));

    // With a default action nothing is unknown: it gets the texts.
    log.clear();
    Text(list, QStringLiteral("Default"), QString());
    sw.DefaultAction = list.FindByInternalId(QStringLiteral("waDefault"));
    ::testing::internal::CaptureStderr();
    sw.RunCommandLine({QStringLiteral("/swi_xyz=5"), QStringLiteral("clip.mp4")});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(log, (QStringList{"Default=5", "Default=clip.mp4"}));
}

TEST_F(KWSwitch, ARecordedMacroHoldsWhatTheCommandLineSet)
{
    Check(list, QStringLiteral("Mute"), QStringLiteral("swi_m"));
    Integer(list, QStringLiteral("Digits"), QStringLiteral("swi_dig"));
    list.SetSwitch(&sw);
    LinesRecorder recorder;
    MacroRecorder = &recorder;
    sw.RunCommandLine({QStringLiteral("/swi_m"), QStringLiteral("/swi_dig=4"), QStringLiteral("-swi_m")});
    MacroRecorder = nullptr;
    EXPECT_EQ(recorder.lines, (QStringList{"    setMute(True);", "    Digits(4);", "    setMute(False);"}));
    EXPECT_FALSE(MacroLineOpen);
}

TEST_F(KWSwitch, AnExceptionEndsTheRunButQuitStillCloses)
{
    Integer(list, QStringLiteral("Digits"), QStringLiteral("swi_dig"));
    Command(list, QStringLiteral("Fail"), QStringLiteral("swi_fail"))->InternalApply = [] {
        throw std::runtime_error("refused");
    };
    list.SetSwitch(&sw);
    EXPECT_THROW(sw.RunCommandLine({QStringLiteral("/swi_dig=1"), QStringLiteral("/swi_fail"),
                                    QStringLiteral("/swi_dig=2"), QStringLiteral("/quit")}),
                 std::runtime_error);
    EXPECT_EQ(log, (QStringList{"Digits=1", "quit"}));
    EXPECT_FALSE(sw.Executing());
    EXPECT_EQ(sw.CommandQueue.Count(), 0);

    // The processor is whole again.
    log.clear();
    sw.RunCommandLine({QStringLiteral("/swi_dig=3")});
    EXPECT_EQ(log, QStringList{"Digits=3"});
}

TEST_F(KWSwitch, PendingMessagesRunBetweenItemsButStartNoSecondRun)
{
    TIntegerAction *dig = Integer(list, QStringLiteral("Digits"), QStringLiteral("swi_dig"));
    Text(list, QStringLiteral("Root"), QStringLiteral("swi_root"));
    list.SetSwitch(&sw);
    int noCommandLine = 0;
    sw.OnNoCommandLine = [&](QObject *) { ++noCommandLine; };
    dig->OnAfterApply = [&](const int32_t &) {
        EXPECT_TRUE(sw.Executing());
        // Posted now, run before the next item; it tries to run a command line too.
        QTimer::singleShot(0, &form, [&] {
            log << QStringLiteral("posted");
            sw.RunCommandLine({QStringLiteral("/swi_root=inner")});
            sw.RunCommandLine({});
        });
    };
    sw.RunCommandLine({QStringLiteral("/swi_dig=1"), QStringLiteral("/swi_root=outer")});
    EXPECT_EQ(log, (QStringList{"Digits=1", "posted", "Root=outer"}));
    EXPECT_EQ(noCommandLine, 0);
}

TEST_F(KWSwitch, AProcessorDestroyedByItsOwnRunStopsThere)
{
    auto *doomed = new TKWSwitch;
    Command(list, QStringLiteral("Close"), QStringLiteral("swi_close"))->InternalApply = [&] {
        log << QStringLiteral("Close");
        delete doomed;
    };
    Integer(list, QStringLiteral("Digits"), QStringLiteral("swi_dig"));
    list.SetSwitch(doomed);
    doomed->OnQuit = [&] { log << QStringLiteral("quit"); };
    doomed->RunCommandLine({QStringLiteral("/swi_close"), QStringLiteral("/swi_dig=1"), QStringLiteral("/quit")});
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

    void SetUp() override
    {
        auto *dig = new TIntegerAction(QStringLiteral("iaDigits"), &list);
        dig->Switch = QStringLiteral("swi_dig");
        dig->InternalApply = [this](const int32_t &v) { log << QString::number(v); };
        list.SetSwitch(&sw);
        sw.parameters = {QStringLiteral("/swi_dig=4")};
        sw.OnActivate = [this](QObject *sender) {
            EXPECT_EQ(sender, QCoreApplication::instance());
            log << QStringLiteral("activate");
        };
    }
};

}  // namespace

TEST_F(KWSwitchStart, WithoutAnActivationTheLoopsFirstTurnRunsTheCommandLine)
{
    EXPECT_FALSE(sw.Activated());
    ProcessMessages();
    EXPECT_TRUE(sw.Activated());
    EXPECT_EQ(log, (QStringList{"activate", "4"}));
    ProcessMessages();
    EXPECT_EQ(sw.runs, 1);

    // Later activations reach OnActivate only.
    for (int i = 0; i < 2; ++i) {
        Activate(Qt::ApplicationInactive);
        Activate(Qt::ApplicationActive);
    }
    EXPECT_EQ(log, (QStringList{"activate", "4", "activate", "activate"}));
    EXPECT_EQ(sw.runs, 1);
}

TEST_F(KWSwitchStart, TheFirstActivationRunsItOnceBeforeTheLoopTurns)
{
    Activate(Qt::ApplicationActive);
    EXPECT_EQ(log, (QStringList{"activate", "4"}));
    ProcessMessages();
    Activate(Qt::ApplicationActive);
    EXPECT_EQ(log, (QStringList{"activate", "4", "activate"}));
    EXPECT_EQ(sw.runs, 1);
}

TEST_F(KWSwitchStart, AnActivationDuringTheRunStartsNoSecondOne)
{
    sw.parameters << QStringLiteral("/swi_dig=5");
    static_cast<TIntegerAction *>(list.FindByInternalId(QStringLiteral("iaDigits")))->OnAfterApply =
        [](const int32_t &) { QTimer::singleShot(0, qApp, [] { Activate(Qt::ApplicationActive); }); };
    ProcessMessages();
    EXPECT_EQ(log, (QStringList{"activate", "4", "activate", "5", "activate"}));
    EXPECT_EQ(sw.runs, 1);
}

TEST_F(KWSwitchStart, AFailingActionIsReportedAndKeptFromTheEventLoop)
{
    static_cast<TIntegerAction *>(list.FindByInternalId(QStringLiteral("iaDigits")))->OnAfterApply =
        [](const int32_t &) { throw std::runtime_error("no such folder"); };
    ::testing::internal::CaptureStderr();
    ProcessMessages();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "command line: no such folder\n");
    EXPECT_FALSE(sw.Executing());
}
