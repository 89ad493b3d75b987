// Action lists linked to the script engine and the switch processor, and the
// component frame of the managers.
#include "MiniEngine.h"
#include "common/TestSupport.h"

#include "KWPack/uWndComponent.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace {

TNopeAction *Command(TCustomKWActionList &list, const QString &name)
{
    auto *a = new TNopeAction(QStringLiteral("na") + name, &list);
    a->ScriptName = name;
    return a;
}

class RecordingSwitch : public TCustomKWSwitch {
public:
    QStringList log;
    void RegisterList(TCustomKWActionList *list) override { log << QStringLiteral("+") + list->objectName(); }
    void UnregisterList(TCustomKWActionList *list) override { log << QStringLiteral("-") + list->objectName(); }
};

}  // namespace

TEST(ActionLinks, RegistrationFollowsTheOrderOfLinking)
{
    QWidget form;
    MiniEngine engine;
    QStringList order;
    engine.OnCompile = [&](TPSScript *) { order << QStringLiteral("engine"); };
    TKWActionList first(&form), second(&form);
    Command(first, QStringLiteral("One"));
    Command(first, QStringLiteral("Two"));
    Command(second, QStringLiteral("Three"));
    Command(second, QStringLiteral("One"));  // taken by the first list: refused, ignored
    first.SetPascalScript(&engine);
    second.SetPascalScript(&engine);
    EXPECT_TRUE(second.PreviousOnCompile());

    engine.Compile();
    EXPECT_EQ(order, QStringList{"engine"});
    EXPECT_EQ(engine.Declarations,
              (QStringList{"procedure One;", "procedure Two;", "procedure Three;"}));
    int runs = 0;
    static_cast<TNopeAction *>(first.FindByInternalId(QStringLiteral("naOne")))->InternalApply = [&] { ++runs; };
    EXPECT_TRUE(engine.RunLine(QStringLiteral("one;")));
    EXPECT_EQ(runs, 1);
}

TEST(ActionLinks, UnlinkingKeepsTheRestOfTheChain)
{
    QWidget form;
    MiniEngine engine;
    TKWActionList a(&form), b(&form), c(&form);
    Command(a, QStringLiteral("A"));
    Command(b, QStringLiteral("B"));
    Command(c, QStringLiteral("C"));
    a.SetPascalScript(&engine);
    b.SetPascalScript(&engine);
    c.SetPascalScript(&engine);

    b.SetPascalScript(nullptr);  // in the middle: later lists stay linked
    engine.Compile();
    EXPECT_EQ(engine.Declarations, (QStringList{"procedure A;", "procedure C;"}));

    c.SetPascalScript(nullptr);  // the last one gives the engine its handler back
    engine.Compile();
    EXPECT_EQ(engine.Declarations, QStringList{"procedure A;"});
    EXPECT_EQ(c.PascalScript(), nullptr);
}

TEST(ActionLinks, ADestroyedListOrEngineLeavesNothingDangling)
{
    QWidget form;
    auto engine = std::make_unique<MiniEngine>();
    TKWActionList keep(&form);
    Command(keep, QStringLiteral("Keep"));
    {
        TKWActionList gone(&form);
        Command(gone, QStringLiteral("Gone"));
        gone.SetPascalScript(engine.get());
        keep.SetPascalScript(engine.get());
    }
    engine->Compile();  // must not reach the destroyed list
    EXPECT_EQ(engine->Declarations, QStringList{"procedure Keep;"});

    engine.reset();
    EXPECT_EQ(keep.PascalScript(), nullptr);
    MiniEngine other;
    keep.SetPascalScript(&other);
    other.Compile();
    EXPECT_EQ(other.Declarations, QStringList{"procedure Keep;"});
}

TEST(ActionLinks, CheckActionsOfferASetterAndAToggle)
{
    QWidget form;
    MiniEngine engine;
    TKWActionList list(&form);
    auto *mute = new TCheckAction(QStringLiteral("caMute"), &list);
    mute->ScriptName = QStringLiteral("Mute");
    mute->Variables = QStringLiteral("ignored");  // the offered setter always says aBoolean
    list.SetPascalScript(&engine);
    engine.Compile();
    EXPECT_EQ(engine.Declarations,
              (QStringList{"procedure setMute(const aBoolean:Boolean);", "procedure Mute;"}));
    EXPECT_TRUE(engine.RunLine(QStringLiteral("setMute(True);")));
    EXPECT_TRUE(mute->Checked());
    EXPECT_TRUE(engine.RunLine(QStringLiteral("Mute;")));
    EXPECT_FALSE(mute->Checked());
}

TEST(ActionLinks, SwitchProcessorSeesListsComeAndGo)
{
    QWidget form;
    RecordingSwitch one, two;
    auto list = std::make_unique<TKWActionList>(&form);
    list->setObjectName(QStringLiteral("gpal"));
    list->SetSwitch(&one);
    list->SetSwitch(&one);  // unchanged: no second registration
    list->SetSwitch(&two);
    EXPECT_EQ(one.log, (QStringList{"+gpal", "-gpal"}));
    list.reset();  // a dying list leaves the processor's table
    EXPECT_EQ(two.log, (QStringList{"+gpal", "-gpal"}));

    TKWActionList other(&form);
    {
        RecordingSwitch temporary;
        other.SetSwitch(&temporary);
    }
    EXPECT_EQ(other.Switch(), nullptr);
}

// --- the component frame ------------------------------------------------------

namespace {

class Manager : public TKWActionComponent {
public:
    using TKWActionComponent::TKWActionComponent;
    QStringList log;
    TIntegerAction *iaLevel = nullptr;
    QList<UINT> messages;

    void CreateActions() override
    {
        log << QStringLiteral("create");
        auto *a = new TIntegerAction(QStringLiteral("iaLevel"), this);
        a->setObjectName(QStringLiteral("iaLevel"));
        a->ScriptName = QStringLiteral("Level");
    }
    void LocateActions() override
    {
        log << QStringLiteral("locate");
        iaLevel = Locate<TIntegerAction>(QStringLiteral("iaLevel"));
    }
    void BindActions() override
    {
        log << QStringLiteral("bind");
        if (!iaLevel)
            iaLevel = Locate<TIntegerAction>(QStringLiteral("iaLevel"));
        if (iaLevel)
            iaLevel->InternalApply = [this](const int32_t &v) { log << QStringLiteral("level %1").arg(v); };
    }
    void WndProc(TMessage &m) override
    {
        messages << m.Msg;
        m.Result = static_cast<LRESULT>(m.wParam) * 2;
    }
};

}  // namespace

TEST(ActionComponent, CreatesThenBindsOrLocatesThenBinds)
{
    QWidget form;
    auto *made = TKWActionComponent::New<Manager>(&form);
    EXPECT_EQ(made->log, (QStringList{"create", "bind"}));
    made->iaLevel->SetValue(3);
    EXPECT_EQ(made->log.last(), QStringLiteral("level 3"));

    auto *stored = new Manager(&form);  // actions placed by the owner, as a form would
    auto *placed = new TIntegerAction(&form);
    placed->InternalId = QStringLiteral("iaLevel");
    placed->SetActionList(stored);
    stored->Loaded();
    EXPECT_EQ(stored->log, (QStringList{"locate", "bind"}));
    EXPECT_EQ(stored->iaLevel, placed);

    auto *empty = new Manager(&form);
    empty->LocateActions();
    EXPECT_EQ(empty->iaLevel, nullptr);  // missing actions stay none
}

TEST(ActionComponent, MessagesReachTheComponentsWindow)
{
    QWidget form;
    auto *m = TKWActionComponent::New<Manager>(&form);
    ASSERT_NE(m->MessageWindow(), HWND(0));
    ASSERT_TRUE(IsWindow(m->MessageWindow()));
    EXPECT_EQ(SendMessage(m->MessageWindow(), 0x2420, 21, 0), 42);

    std::atomic<LRESULT> fromThread{0};
    std::thread worker([&] { fromThread = SendMessage(m->MessageWindow(), 0x2421, 5, 0); });
    QElapsedTimer t;
    t.start();
    while (fromThread == 0 && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    worker.join();
    EXPECT_EQ(fromThread, 10);

    PostMessage(m->MessageWindow(), 0x2422, 0, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(m->messages, (QList<UINT>{0x2420, 0x2421, 0x2422}));

    const HWND wnd = m->MessageWindow();
    delete m;
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_FALSE(PostMessage(wnd, 0x2420, 0, 0));
}
