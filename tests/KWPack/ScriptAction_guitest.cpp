// Typed actions: values and their events, macro recording, triggering,
// preferences, script declarations and switch texts.
#include "MiniEngine.h"
#include "common/TestSupport.h"

#include "KWPack/uPreferences.h"
#include "KWPack/uScriptAction.h"

#include <QLocale>
#include <QMenu>
#include <QPixmap>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class LinesRecorder : public TMacroLines {
public:
    QStringList lines;
    void Add(const QString &line) override { lines << line; }
};

// Records a macro for the test's life.
struct Recording {
    LinesRecorder recorder;
    Recording() { MacroRecorder = &recorder; }
    ~Recording()
    {
        MacroRecorder = nullptr;
        MacroLineOpen = false;
    }
};

// Preferences on an ini file in a temporary folder.
struct IniPrefs {
    QTemporaryDir dir;
    TVostrelPreferences gp{nullptr};
    IniPrefs()
    {
        gp.titre = QStringLiteral("ActionsTest");
        gp.ExeFolder = dir.path() + QLatin1Char('/');
        gp.SetMode(spPortable);
    }
};

class ScriptActions : public ::testing::Test {
protected:
    TempHive hive;
    QWidget form;
    TKWActionList list{&form};
};

}  // namespace

TEST_F(ScriptActions, RecordsOneLinePerKindInScriptSyntax)
{
    Recording rec;
    auto *b = new TBooleanAction(QStringLiteral("baX"), &list);
    b->ScriptName = QStringLiteral("Flag");
    auto *i = new TIntegerAction(QStringLiteral("iaX"), &list);
    i->ScriptName = QStringLiteral("Count");
    auto *w = new TWidestringAction(QStringLiteral("waX"), &list);
    w->ScriptName = QStringLiteral("Root");
    auto *s = new TStringAction(QStringLiteral("saX"), &list);
    s->ScriptName = QStringLiteral("Lines");
    auto *d = new TDoubleAction(QStringLiteral("daX"), &list);
    d->ScriptName = QStringLiteral("Opacity");
    auto *c = new TColorAction(QStringLiteral("laX"), &list);
    c->ScriptName = QStringLiteral("Back");
    auto *p = new TPointAction(QStringLiteral("paX"), &list);
    p->ScriptName = QStringLiteral("Where");
    auto *r = new TRectAction(QStringLiteral("raX"), &list);
    r->ScriptName = QStringLiteral("Bounds");
    auto *f = new TFontAction(QStringLiteral("faX"), &list);
    f->ScriptName = QStringLiteral("Inlay");
    auto *k = new TCheckAction(QStringLiteral("caX"), &list);
    k->ScriptName = QStringLiteral("Mute");
    auto *n = new TNopeAction(QStringLiteral("naX"), &list);
    n->ScriptName = QStringLiteral("Grab");

    b->SetValue(true);
    i->SetValue(-12);
    w->SetValue(QStringLiteral("l'image"));
    s->SetValue("abc");
    d->SetValue(0.25);
    c->SetValue(clRed);
    p->SetValue(3, -4);
    r->SetValue(TRect{300, 310, 1100, 860});
    f->SetValue(QStringLiteral("Arial"), 12, clNavy, true, false, true, false);
    k->SetChecked(true);
    n->Apply();

    const QStringList expected = {
        "    Flag(True);",
        "    Count(-12);",
        "    Root('l''image');",
        "    Lines('abc');",
        "    Opacity(0.25);",
        "    Back($0000FF);",
        "    Where(3,-4);",
        "    Bounds(300,1100,310,860);",
        "    Inlay('Arial', 12, $800000, True, False, True, False);",
        "    setMute(True);",
        "    Grab;",
    };
    EXPECT_EQ(rec.recorder.lines, expected);
    EXPECT_FALSE(MacroLineOpen);
}

TEST_F(ScriptActions, OnlyTheOutermostStepIsRecorded)
{
    Recording rec;
    auto *a = new TIntegerAction(QStringLiteral("iaA"), &list);
    a->ScriptName = QStringLiteral("A");
    auto *b = new TBooleanAction(QStringLiteral("baB"), &list);
    b->ScriptName = QStringLiteral("B");
    auto *c = new TCheckAction(QStringLiteral("caC"), &list);
    c->ScriptName = QStringLiteral("C");
    auto *n = new TNopeAction(QStringLiteral("naN"), &list);
    n->ScriptName = QStringLiteral("N");
    a->InternalApply = [&](const int32_t &) {
        b->SetValue(true);
        c->Toggle();
        n->Apply();
    };
    a->SetValue(5);
    EXPECT_EQ(rec.recorder.lines, QStringList{"    A(5);"});
    EXPECT_TRUE(b->Value());
    EXPECT_TRUE(c->Checked());
    // The flag is free again: the next user step is recorded.
    b->SetValue(false);
    EXPECT_EQ(rec.recorder.lines.last(), QStringLiteral("    B(False);"));
}

TEST_F(ScriptActions, UnnamedCommandsAndTheScriptToggleAreNotWritten)
{
    Recording rec;
    auto *start = new TNopeAction(QStringLiteral("naStartMacro"), &list);
    auto *inner = new TIntegerAction(QStringLiteral("iaInner"), &list);
    inner->ScriptName = QStringLiteral("Inner");
    start->InternalApply = [&] { inner->SetValue(1); };
    start->Apply();
    // The unnamed command holds no line, so what it sets is recorded.
    EXPECT_EQ(rec.recorder.lines, QStringList{"    Inner(1);"});

    auto *script = new TCheckAction(QStringLiteral("caScript"), &list);
    script->ScriptName = QStringLiteral("Script");
    bool applied = false;
    script->OnAfterTrueApply = [&] {
        applied = true;
        inner->SetValue(2);  // still inside the suppressed step
    };
    script->SetChecked(true);
    EXPECT_TRUE(applied);
    EXPECT_EQ(rec.recorder.lines, QStringList{"    Inner(1);"});
}

TEST_F(ScriptActions, ExceptionInAHandlerStillClosesTheMacroLine)
{
    Recording rec;
    auto *a = new TIntegerAction(QStringLiteral("iaA"), &list);
    a->ScriptName = QStringLiteral("A");
    a->InternalApply = [](const int32_t &) { throw std::runtime_error("boom"); };
    EXPECT_THROW(a->SetValue(1), std::runtime_error);
    EXPECT_FALSE(MacroLineOpen);
}

TEST_F(ScriptActions, ApplyRunsTheEventsInOrder)
{
    QStringList calls;
    auto *a = new TDoubleAction(QStringLiteral("daA"), &list);
    a->OnBeforeApply = [&](const double &v) { calls << QStringLiteral("before %1").arg(v); };
    a->InternalApply = [&](const double &v) { calls << QStringLiteral("internal %1").arg(v); };
    a->OnAfterApply = [&](const double &v) { calls << QStringLiteral("after %1").arg(v); };
    a->SetValue(1.5);
    EXPECT_EQ(calls, (QStringList{"before 1.5", "internal 1.5", "after 1.5"}));

    calls.clear();
    auto *c = new TCheckAction(QStringLiteral("caC"), &list);
    c->TrueCaption = QStringLiteral("On");
    c->FalseCaption = QStringLiteral("Off");
    c->TrueHint = QStringLiteral("It is on");
    c->OnBeforeTrueApply = [&] { calls << QStringLiteral("bt"); };
    c->InternalTrueApply = [&] { calls << QStringLiteral("it"); };
    c->OnAfterTrueApply = [&] { calls << QStringLiteral("at"); };
    c->InternalFalseApply = [&] { calls << QStringLiteral("if"); };
    c->SetChecked(true);
    EXPECT_EQ(c->Caption(), QStringLiteral("On"));
    EXPECT_EQ(c->Hint(), QStringLiteral("It is on"));
    c->Toggle();
    EXPECT_EQ(calls, (QStringList{"bt", "it", "at", "if"}));
    EXPECT_EQ(c->Caption(), QStringLiteral("Off"));
}

TEST_F(ScriptActions, TriggeringAskedValuesAndCommands)
{
    auto *quiet = new TIntegerAction(QStringLiteral("iaQuiet"), &list);
    int applied = 0;
    quiet->InternalApply = [&](const int32_t &) { ++applied; };
    quiet->trigger();
    EXPECT_EQ(applied, 0);  // no prepare handler: nothing happens

    auto *asked = new TIntegerAction(QStringLiteral("iaAsked"), &list);
    asked->InternalApply = [&](const int32_t &) { ++applied; };
    asked->OnPrepare = [](int32_t &v) {
        EXPECT_EQ(v, 0);  // a fresh value, not the current one
        v = 7;
        return true;
    };
    asked->SetValue(3);
    applied = 0;
    asked->trigger();
    EXPECT_EQ(asked->Value(), 7);
    EXPECT_EQ(applied, 1);

    asked->InternalPrepare = [](int32_t &) { return false; };  // the user cancelled
    asked->trigger();
    EXPECT_EQ(applied, 1);

    auto *cmd = new TNopeAction(QStringLiteral("naCmd"), &list);
    int runs = 0;
    cmd->InternalApply = [&] { ++runs; };
    cmd->trigger();
    cmd->OnPrepare = [] { return false; };
    cmd->trigger();
    EXPECT_EQ(runs, 1);
}

TEST_F(ScriptActions, TriggeringACheckActionTogglesItOnce)
{
    auto *c = new TCheckAction(QStringLiteral("caC"), &list);
    int trueApplies = 0;
    c->InternalTrueApply = [&] { ++trueApplies; };
    QMenu menu;
    menu.addAction(c);
    c->trigger();
    EXPECT_TRUE(c->Checked());
    EXPECT_EQ(trueApplies, 1);
    c->trigger();
    EXPECT_FALSE(c->Checked());
}

TEST_F(ScriptActions, SetValueFromTextPerKind)
{
    auto *i = new TIntegerAction(QStringLiteral("iaI"), &list);
    int applied = 0;
    i->InternalApply = [&](const int32_t &) { ++applied; };
    i->SetValueFromText(QStringLiteral("twelve"));
    EXPECT_EQ(i->Value(), -1);
    EXPECT_EQ(applied, 1);

    auto *c = new TColorAction(QStringLiteral("laC"), &list);
    c->SetValue(clGreen);
    int colourApplies = 0;
    c->InternalApply = [&](const TColor &) { ++colourApplies; };
    c->SetValueFromText(QStringLiteral("greenish"));
    EXPECT_EQ(c->Value(), clGreen);
    EXPECT_EQ(colourApplies, 0);
    c->SetValueFromText(QStringLiteral("clFuchsia"));
    EXPECT_EQ(c->Value(), clFuchsia);

    auto *p = new TPointAction(QStringLiteral("paP"), &list);
    p->SetValueFromText(QStringLiteral("(10, 20)"));
    EXPECT_EQ(p->Value(), (TPoint{10, 20}));
    p->SetValueFromText(QStringLiteral("10, 30"));
    EXPECT_EQ(p->Value(), (TPoint{10, 20}));

    auto *r = new TRectAction(QStringLiteral("raR"), &list);
    r->SetValueFromText(QStringLiteral("(1,2,3,4)"));
    EXPECT_EQ(r->Value(), (TRect{1, 2, 3, 4}));

    auto *k = new TCheckAction(QStringLiteral("caK"), &list);
    k->SetValueFromText(QStringLiteral(" Vrai "));
    EXPECT_TRUE(k->Checked());
    k->SetValueFromText(QStringLiteral("non"));
    EXPECT_FALSE(k->Checked());

    auto *s = new TStringAction(QStringLiteral("saS"), &list);
    s->SetValueFromText(QStringLiteral("abc"));
    EXPECT_EQ(s->Value(), QByteArray("abc"));
}

TEST_F(ScriptActions, DeclarationsAndSwitchTexts)
{
    auto text = [](TCustomAbstractAction *a, bool declaration) {
        QString t;
        if (declaration)
            a->GetScriptDeclaration(t);
        else
            a->GetSwitchSyntax(t);
        return t;
    };
    auto *i = new TIntegerAction(QStringLiteral("iaV"), &list);
    i->ScriptName = QStringLiteral("Volume");
    i->Switch = QStringLiteral("swi_v");
    EXPECT_EQ(text(i, true), QStringLiteral("procedure Volume(const aInteger:integer);"));
    EXPECT_EQ(text(i, false), QStringLiteral("/swi_v=aInteger"));
    i->Variables = QStringLiteral("level");
    EXPECT_EQ(text(i, true), QStringLiteral("procedure Volume(const level:integer);"));
    EXPECT_EQ(text(i, false), QStringLiteral("/swi_v=level"));

    auto *r = new TRectAction(QStringLiteral("raR"), &list);
    r->ScriptName = QStringLiteral("Bounds");
    r->Switch = QStringLiteral("swi_r");
    EXPECT_EQ(text(r, true), QStringLiteral("procedure Bounds(const left,right,top,bottom:integer);"));
    EXPECT_EQ(text(r, false), QStringLiteral("/swi_r=aRect"));
    EXPECT_TRUE(r->Variables.isEmpty());  // defaults are never stored

    auto *k = new TCheckAction(QStringLiteral("caM"), &list);
    k->ScriptName = QStringLiteral("Mute");
    k->Switch = QStringLiteral("swi_m");
    EXPECT_EQ(text(k, true),
              QStringLiteral("procedure setMute(const fisTrue:Boolean);\nprocedure Mute;"));
    EXPECT_EQ(text(k, false), QStringLiteral("/swi_m +swi_m -swi_m"));

    auto *n = new TNopeAction(QStringLiteral("naG"), &list);
    n->ScriptName = QStringLiteral("Grab");
    n->Switch = QStringLiteral("swi_g");
    EXPECT_EQ(text(n, true), QStringLiteral("procedure Grab;"));
    EXPECT_EQ(text(n, false), QStringLiteral("/swi_g"));

    auto *f = new TFontAction(QStringLiteral("faF"), &list);
    f->ScriptName = QStringLiteral("Inlay");
    EXPECT_EQ(text(f, true),
              QStringLiteral("procedure Inlay(aName:widestring;aSize:integer;aColor:TColor;"
                             "isBold:Boolean;isItalic:Boolean;isUnderline:Boolean;isStrikeOut:Boolean);"));
}

TEST_F(ScriptActions, RecordedLinesReplayToTheSameValues)
{
    Recording rec;
    MiniEngine engine;
    list.SetPascalScript(&engine);
    auto *r = new TRectAction(QStringLiteral("raR"), &list);
    r->ScriptName = QStringLiteral("Bounds");
    auto *w = new TWidestringAction(QStringLiteral("waW"), &list);
    w->ScriptName = QStringLiteral("Root");
    auto *d = new TDoubleAction(QStringLiteral("daD"), &list);
    d->ScriptName = QStringLiteral("Opacity");
    auto *f = new TFontAction(QStringLiteral("faF"), &list);
    f->ScriptName = QStringLiteral("Inlay");
    auto *k = new TCheckAction(QStringLiteral("caK"), &list);
    k->ScriptName = QStringLiteral("Mute");

    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    r->SetValue(TRect{300, 310, 1100, 860});
    w->SetValue(QStringLiteral("it's 'quoted'"));
    d->SetValue(0.75);
    f->SetValue(QStringLiteral("Courier New"), 9, clMaroon, false, true, false, true);
    k->SetChecked(true);
    QLocale::setDefault(saved);
    const QStringList lines = rec.recorder.lines;
    MacroRecorder = nullptr;

    r->SetValue(TRect{});
    w->SetValue(QString());
    d->SetValue(0);
    f->SetValue(TFont{});
    k->SetChecked(false);
    engine.Compile();
    for (const QString &line : lines)
        EXPECT_TRUE(engine.RunLine(line)) << line.toStdString();
    EXPECT_EQ(r->Value(), (TRect{300, 310, 1100, 860}));
    EXPECT_EQ(w->Value(), QStringLiteral("it's 'quoted'"));
    EXPECT_DOUBLE_EQ(d->Value(), 0.75);
    EXPECT_EQ(f->Value().Name, QStringLiteral("Courier New"));
    EXPECT_EQ(f->Value().Size, 9);
    EXPECT_EQ(f->Value().Color, clMaroon);
    EXPECT_EQ(f->Value().Style, fsItalic | fsStrikeOut);
    EXPECT_TRUE(k->Checked());
}

TEST_F(ScriptActions, ImageIndexFollowsTheListsImages)
{
    TImageList images;
    images.Images = {QIcon(), QIcon()};
    list.Images = &images;
    auto *a = new TNopeAction(QStringLiteral("naA"), &list);
    QList<int> seen;
    a->OnImageChanged = [&](TImageList *il, int index) {
        EXPECT_EQ(il, &images);
        seen << index;
    };
    a->SetImageIndex(1);
    a->SetImageIndex(1);  // unchanged: no event
    a->SetImageIndex(0);
    EXPECT_EQ(seen, (QList<int>{1, 0}));

    auto *loose = new TNopeAction(&form);
    loose->OnImageChanged = [&](TImageList *, int) { seen << -100; };
    loose->SetImageIndex(2);  // not in a list: no event
    EXPECT_EQ(seen.size(), 2);
}

TEST_F(ScriptActions, ConstructionDefaultsAndOwner)
{
    QWidget inner(&form);
    auto *a = new TBooleanAction(&inner);
    EXPECT_EQ(a->parent(), &form);  // the nearest form, not the child widget
    EXPECT_TRUE(a->IncludePrefs);
    EXPECT_EQ(a->ImageIndex(), -1);
    EXPECT_TRUE(a->Comments.isEmpty());
    EXPECT_TRUE(form.actions().contains(a));  // so its shortcut works

    auto *b = new TIntegerAction(QStringLiteral("iaB"), &list);
    EXPECT_EQ(b->InternalId, QStringLiteral("iaB"));
    EXPECT_EQ(b->ActionList(), &list);
    EXPECT_EQ(b->Category, QStringLiteral("internal"));
    EXPECT_EQ(list.FindByInternalId(QStringLiteral("iaB")), b);
    EXPECT_EQ(list.FindByInternalId(QStringLiteral("IAB")), nullptr);

    b->SetShortCut(QKeySequence(QStringLiteral("F5")));
    b->SetSecondaryShortcuts({QKeySequence(QStringLiteral("Alt+P"))});
    b->ScriptName = QStringLiteral("B");
    b->InternalApply = [](const int32_t &) {};
    b->ClearBindings();
    EXPECT_TRUE(b->ShortCut().isEmpty());
    EXPECT_TRUE(b->SecondaryShortcuts().isEmpty());
    EXPECT_TRUE(b->ScriptName.isEmpty());
    EXPECT_TRUE(b->Category.isEmpty());
    EXPECT_FALSE(b->InternalApply);

    delete b;
    EXPECT_EQ(list.FindByInternalId(QStringLiteral("iaB")), nullptr);
}

TEST_F(ScriptActions, ADefaultIsTheValueUntilAnotherIsSet)
{
    auto *b = new TBooleanAction(QStringLiteral("baD"), &list);
    auto *i = new TIntegerAction(QStringLiteral("iaD"), &list);
    auto *w = new TWidestringAction(QStringLiteral("waD"), &list);
    auto *d = new TDoubleAction(QStringLiteral("daD"), &list);
    b->SetDefaultValue(true);
    i->SetDefaultValue(4);
    w->SetDefaultValue(QStringLiteral("left"));
    d->SetDefaultValue(1.5);
    EXPECT_TRUE(b->Value());
    EXPECT_EQ(i->Value(), 4);
    EXPECT_EQ(w->Value(), QStringLiteral("left"));
    EXPECT_EQ(d->Value(), 1.5);

    // Kept out of the preferences, the action still loads as its default.
    IniPrefs prefs;
    i->IncludePrefs = false;
    i->ScriptName = QStringLiteral("D");
    ASSERT_TRUE(list.LoadFromPrefs(&prefs.gp));
    EXPECT_EQ(i->Value(), 4);

    i->SetValue(7);
    EXPECT_EQ(i->Value(), 7);
    EXPECT_EQ(i->DefaultValue(), 4);
}

TEST_F(ScriptActions, DestroyingAListDetachesEveryAction)
{
    QPixmap red(4, 4);
    red.fill(Qt::red);
    TImageList images;
    images.Images = {QIcon(red)};
    auto *own = new TKWActionList(&form);
    own->Images = &images;
    QList<TIntegerAction *> actions;
    for (int n = 0; n < 5; ++n) {
        actions << new TIntegerAction(QStringLiteral("ia%1").arg(n), own);
        actions.last()->SetImageIndex(0);
        ASSERT_FALSE(actions.last()->icon().isNull());
    }
    delete own;
    // Each action lets go of the list's pictures, not every other one.
    for (TIntegerAction *a : actions) {
        EXPECT_EQ(a->ActionList(), nullptr);
        EXPECT_TRUE(a->icon().isNull()) << a->InternalId.toStdString();
    }
}

// --- preferences --------------------------------------------------------------

TEST_F(ScriptActions, LoadAppliesOnlyWhenAskedAndSkipsExcludedActions)
{
    IniPrefs prefs;
    auto *shown = new TIntegerAction(QStringLiteral("iaShown"), &list);
    shown->ScriptName = QStringLiteral("Shown");
    auto *silent = new TIntegerAction(QStringLiteral("iaSilent"), &list);
    silent->ScriptName = QStringLiteral("Silent");
    auto *excluded = new TIntegerAction(QStringLiteral("iaExcluded"), &list);
    excluded->ScriptName = QStringLiteral("Excluded");
    excluded->IncludePrefs = false;
    excluded->SetDefaultValue(9);
    shown->ApplyWhenLoad = true;

    shown->SetValue(1);
    silent->SetValue(2);
    excluded->SetValue(3);
    ASSERT_TRUE(list.SaveToPrefs(&prefs.gp));
    QString stored;
    EXPECT_FALSE(prefs.gp.Store()->ReadString(QStringLiteral("Excluded"), stored));

    int shownApplies = 0, silentApplies = 0;
    shown->InternalApply = [&](const int32_t &) { ++shownApplies; };
    silent->InternalApply = [&](const int32_t &) { ++silentApplies; };
    shown->SetValue(0);
    silent->SetValue(0);
    shownApplies = silentApplies = 0;
    ASSERT_TRUE(list.LoadFromPrefs(&prefs.gp));
    EXPECT_EQ(shown->Value(), 1);
    EXPECT_EQ(silent->Value(), 2);
    EXPECT_EQ(excluded->Value(), 3);  // neither read nor written
    EXPECT_EQ(shownApplies, 1);
    EXPECT_EQ(silentApplies, 0);
}

TEST_F(ScriptActions, DefaultsComeFromTheDefaultEventsWhenNothingIsStored)
{
    IniPrefs prefs;
    auto *r = new TRectAction(QStringLiteral("raWin"), &list);
    r->ScriptName = QStringLiteral("Win");
    QStringList order;
    r->OnDefault = [&](TRect &d) {
        order << QStringLiteral("published");
        d = TRect{300, 300, 1100, 860};
        return true;
    };
    r->InternalDefault = [&](TRect &d) {
        order << QStringLiteral("internal");
        d.Bottom += 1;
        return false;  // results are ignored
    };
    ASSERT_TRUE(r->LoadFromPrefs(&prefs.gp));
    EXPECT_EQ(order, (QStringList{"published", "internal"}));
    EXPECT_EQ(r->Value(), (TRect{300, 300, 1100, 861}));
}

TEST_F(ScriptActions, BeforeSaveReplacesTheValueButNotACheckedState)
{
    IniPrefs prefs;
    auto *r = new TRectAction(QStringLiteral("raWin"), &list);
    r->ScriptName = QStringLiteral("Win");
    r->InternalBeforeSave = [](TRect &v) {
        v = TRect{1, 2, 3, 4};  // the window's current bounds
        return true;
    };
    auto *k = new TCheckAction(QStringLiteral("caK"), &list);
    k->ScriptName = QStringLiteral("K");
    k->BeforeSave = [](bool &v) {
        v = true;
        return true;
    };
    ASSERT_TRUE(list.SaveToPrefs(&prefs.gp));
    EXPECT_EQ(r->Value(), (TRect{1, 2, 3, 4}));
    EXPECT_FALSE(k->Checked());
    EXPECT_TRUE(prefs.gp.ReadBool(QStringLiteral("K"), false));
    EXPECT_EQ(prefs.gp.ReadRect(QStringLiteral("Win"), TRect{}), (TRect{1, 2, 3, 4}));
}

TEST_F(ScriptActions, AFailingActionDoesNotStopTheListPass)
{
    IniPrefs prefs;
    auto *bad = new TIntegerAction(QStringLiteral("iaBad"), &list);
    bad->ScriptName = QStringLiteral("Bad");
    bad->InternalBeforeSave = [](int32_t &) -> bool { throw std::runtime_error("no"); };
    auto *good = new TIntegerAction(QStringLiteral("iaGood"), &list);
    good->ScriptName = QStringLiteral("Good");
    good->SetValue(4);
    bool listEvent = false;
    list.OnSaveToPrefs = [&](TVostrelPreferences *) {
        listEvent = true;
        return true;
    };
    EXPECT_FALSE(list.SaveToPrefs(&prefs.gp));
    EXPECT_TRUE(listEvent);
    EXPECT_EQ(prefs.gp.ReadInteger(QStringLiteral("Good"), 0), 4);
}

TEST_F(ScriptActions, ModeNoneLoadsDefaults)
{
    TVostrelPreferences gp(nullptr);
    ASSERT_EQ(gp.Mode(), spNone);
    auto *k = new TCheckAction(QStringLiteral("caK"), &list);
    k->ScriptName = QStringLiteral("K");
    k->TrueCaption = QStringLiteral("Yes");
    k->SetDefaultValue(true);
    EXPECT_TRUE(k->Checked());
    EXPECT_EQ(k->Caption(), QStringLiteral("Yes"));
    k->SetChecked(false);
    auto *f = new TFontAction(QStringLiteral("faF"), &list);
    f->ScriptName = QStringLiteral("F");
    TFont def;
    def.Name = QStringLiteral("Arial");
    def.Size = 20;
    f->SetDefaultValue(def);
    ASSERT_TRUE(list.LoadFromPrefs(&gp));
    EXPECT_TRUE(k->Checked());
    EXPECT_EQ(f->Value(), def);
}
