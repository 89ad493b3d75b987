// The engine's host interface: registrations, conversions at the host
// boundary, run errors, stopping and the limits.
#include "platform/script/PSScript.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ostream>
#include <thread>

void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

struct Engine : TPSScript {
    bool Run(const QString &text)
    {
        Script = text.split(QLatin1Char('\n'));
        if (!Compile())
            return false;
        return Execute();
    }
};

TEST(PSScript, HostArgumentsArriveAsTheDeclaredTypes)
{
    Engine e;
    QVariantList seen;
    e.OnCompile = [&](TPSScript *s) {
        ASSERT_TRUE(s->AddType(QStringLiteral("TSide"), QStringLiteral("(sdLeft, sdRight, sdTop)")));
        ASSERT_TRUE(s->AddMethod(
            QStringLiteral("procedure Take(const i:integer; d: Double; b:Boolean; w:widestring; c: Char; "
                           "col:TColor; st: TFontStyles; side: TSide; big: Int64);"),
            [&](const QVariantList &args) {
                seen = args;
                return QVariant();
            }));
    };
    ASSERT_TRUE(e.Run(QStringLiteral("begin\n  Take(2 + 3, 7, 1 < 2, 'w' + 'x', 'c', clBlue, [fsItalic, fsStrikeOut], "
                                     "sdTop, $7FFFFFFFFF);\nend.")))
        << e.CompilerMessages().join(u'\n').toStdString() << e.ExecErrorText().toStdString();
    ASSERT_EQ(seen.size(), 9);
    EXPECT_EQ(seen[0].typeId(), QMetaType::LongLong);
    EXPECT_EQ(seen[0].toLongLong(), 5);
    EXPECT_EQ(seen[1].typeId(), QMetaType::Double);  // an integer argument widened
    EXPECT_EQ(seen[1].toDouble(), 7.0);
    EXPECT_EQ(seen[2].typeId(), QMetaType::Bool);
    EXPECT_TRUE(seen[2].toBool());
    EXPECT_EQ(seen[3].toString(), QStringLiteral("wx"));
    EXPECT_EQ(seen[4].typeId(), QMetaType::QString);
    EXPECT_EQ(seen[4].toString(), QStringLiteral("c"));
    EXPECT_EQ(seen[5].toLongLong(), 0xFF0000);
    EXPECT_EQ(seen[6].toLongLong(), (1 << 1) | (1 << 3));  // bit i = ordinal i
    EXPECT_EQ(seen[7].toLongLong(), 2);
    EXPECT_EQ(seen[8].toLongLong(), 0x7FFFFFFFFFLL);
}

TEST(PSScript, HostResultsComeBackAsTheDeclaredType)
{
    Engine e;
    QStringList shown;
    e.OnCompile = [&](TPSScript *s) {
        s->AddMethod(QStringLiteral("function Wide:integer;"), [](const QVariantList &) {
            return QVariant(qint64(0x100000005LL));  // wraps like an Integer
        });
        s->AddMethod(QStringLiteral("function Yes:Boolean;"), [](const QVariantList &) { return QVariant(1); });
        s->AddMethod(QStringLiteral("function Text(n:integer):string;"), [](const QVariantList &a) {
            return QVariant(QStringLiteral("n=%1").arg(a.value(0).toLongLong()));
        });
        s->AddMethod(QStringLiteral("function Half(x:Double):Double;"), [](const QVariantList &a) {
            return QVariant(a.value(0).toDouble() / 2);
        });
        s->AddMethod(QStringLiteral("function Nothing:widestring;"), [](const QVariantList &) { return QVariant(); });
        s->AddMethod(QStringLiteral("procedure Show(s:string);"), [&](const QVariantList &a) {
            shown << a.value(0).toString();
            return QVariant();
        });
    };
    ASSERT_TRUE(e.Run(QStringLiteral(
        "begin\n"
        "  Show(IntToStr(Wide + 1));\n"
        "  if Yes then Show(Text(3) + '|' + FloatToStr(Half(5)) + '|' + Nothing + '|');\n"
        "end.")))
        << e.CompilerMessages().join(u'\n').toStdString() << e.ExecErrorText().toStdString();
    EXPECT_EQ(shown, (QStringList{QStringLiteral("6"), QStringLiteral("n=3|2.5||")}));
}

TEST(PSScript, RegistrationsAreRefusedOutsideCompileOrWhenInvalid)
{
    Engine e;
    const auto proc = [](const QVariantList &) { return QVariant(); };
    EXPECT_FALSE(e.AddMethod(QStringLiteral("procedure Early;"), proc));
    EXPECT_FALSE(e.AddConstant(QStringLiteral("Early"), QStringLiteral("Integer"), 1));
    EXPECT_FALSE(e.AddType(QStringLiteral("TEarly"), QStringLiteral("(eA, eB)")));
    std::vector<bool> results;
    e.OnCompile = [&](TPSScript *s) {
        results = {
            s->AddMethod(QStringLiteral("procedure Good(const x,y:integer);"), proc),
            s->AddMethod(QStringLiteral("procedure good;"), proc),                      // taken
            s->AddMethod(QStringLiteral("procedure Bad(x:TNoSuchType);"), proc),        // unknown type
            s->AddMethod(QStringLiteral("procedure Worse(var x:integer);"), proc),      // by reference
            s->AddMethod(QStringLiteral("procedure Rec(p:TPair);"), proc),              // a record
            s->AddMethod(QStringLiteral("procedure Broken(x:integer"), proc),           // text
            s->AddMethod(QStringLiteral("function NoResult;"), proc),
            s->AddType(QStringLiteral("TPair"), QStringLiteral("record a, b: Integer; end;")),
            s->AddType(QStringLiteral("TPair"), QStringLiteral("Integer")),            // taken
            s->AddType(QStringLiteral("TWhat"), QStringLiteral("(")),
            s->AddConstant(QStringLiteral("Answer"), QStringLiteral("Integer"), 42),
            s->AddConstant(QStringLiteral("answer"), QStringLiteral("Integer"), 43),   // taken
            s->AddConstant(QStringLiteral("Nope"), QStringLiteral("TNoSuchType"), 1),
        };
    };
    e.Script = QStringList{QStringLiteral("begin Good(Answer, 1); end.")};
    ASSERT_TRUE(e.Compile()) << e.CompilerMessages().join(u'\n').toStdString();
    EXPECT_EQ(results, (std::vector<bool>{true, false, false, false, false, false, false, true, false, false, true,
                                          false, false}));
    EXPECT_FALSE(e.AddMethod(QStringLiteral("procedure Late;"), proc));
}

TEST(PSScript, RecompilingAsksForRegistrationsAgain)
{
    Engine e;
    int asked = 0;
    e.OnCompile = [&](TPSScript *s) {
        ++asked;
        s->AddMethod(QStringLiteral("procedure Foo;"), [](const QVariantList &) { return QVariant(); });
    };
    e.Script = QStringList{QStringLiteral("begin"), QStringLiteral("  Foo;"), QStringLiteral("end.")};
    ASSERT_TRUE(e.Compile());
    ASSERT_TRUE(e.Compile());  // the same name again is no duplicate: the first set is forgotten
    EXPECT_EQ(asked, 2);
    e.OnCompile = nullptr;
    EXPECT_FALSE(e.Compile());
    EXPECT_FALSE(e.Compiled());
    EXPECT_EQ(e.CompilerMessages(), QStringList{QStringLiteral("[Error] (2:3): Unknown identifier 'Foo'")});
    EXPECT_FALSE(e.Execute());
    EXPECT_FALSE(e.ExecErrorText().isEmpty());
}

TEST(PSScript, AHostRunErrorEndsTheRunOrIsCaught)
{
    Engine e;
    QString caught;
    e.OnCompile = [&](TPSScript *s) {
        s->AddMethod(QStringLiteral("procedure Boom(const why: string);"), [](const QVariantList &a) -> QVariant {
            throw TPSRunError{a.value(0).toString()};
        });
        s->AddMethod(QStringLiteral("procedure Keep(s: string);"), [&](const QVariantList &a) {
            caught = a.value(0).toString();
            return QVariant();
        });
    };
    EXPECT_TRUE(e.Run(QStringLiteral("begin\n  try Boom('first'); except on E: Exception do Keep(E.Message); end;\nend.")));
    EXPECT_EQ(caught, QStringLiteral("first"));
    EXPECT_FALSE(e.Run(QStringLiteral("begin\n  Boom('second');\n  Keep('not reached');\nend.")));
    EXPECT_EQ(e.ExecErrorText(), QStringLiteral("[Runtime Error] (2:3): second"));
    EXPECT_EQ(caught, QStringLiteral("first"));
}

TEST(PSScript, StopFromAnotherThreadEndsAnEndlessLoop)
{
    Engine e;
    e.Script = QStringList{QStringLiteral("var i: Integer;"), QStringLiteral("begin"),
                           QStringLiteral("  while True do try Inc(i); except end;"), QStringLiteral("end.")};
    ASSERT_TRUE(e.Compile());
    e.Stop(QStringLiteral("not running"));  // no effect before the run
    EXPECT_FALSE(e.StopRequested());
    std::atomic<bool> sawRunning{false};
    std::thread stopper([&] {
        while (!e.Running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawRunning = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        e.Stop(QStringLiteral("Halted"));
    });
    const bool ok = e.Execute();
    stopper.join();
    EXPECT_FALSE(ok);
    EXPECT_TRUE(sawRunning);
    EXPECT_EQ(e.ExecErrorText(), QStringLiteral("[Runtime Error] (3:3): Halted"));
    EXPECT_FALSE(e.Running());
    EXPECT_FALSE(e.StopRequested());
    // The next run starts afresh.
    e.Script = QStringList{QStringLiteral("begin end.")};
    ASSERT_TRUE(e.Compile());
    EXPECT_TRUE(e.Execute());
}

TEST(PSScript, OnRunIdleIsCalledDuringALongRunAndMayStopIt)
{
    Engine e;
    int calls = 0;
    e.OnRunIdle = [&] {
        if (++calls == 3)
            e.Stop(QStringLiteral("Enough"));
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(e.Run(QStringLiteral("var i: Integer;\nbegin\n  repeat i := i + 1 until False;\nend.")));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(calls, 3);
    EXPECT_GE(took, std::chrono::milliseconds(100));  // about every 50 ms, not at every turn
    EXPECT_EQ(e.ExecErrorText(), QStringLiteral("[Runtime Error] (3:3): Enough"));
}

TEST(PSScript, CallDepthAndMemoryAreBounded)
{
    Engine e;
    const QString recurse = QStringLiteral(
        "function Down(n: Integer): Integer;\nbegin\n  if n = 0 then Result := 0 else Result := Down(n - 1) + 1;\nend;\n"
        "var r: Integer;\nbegin\n  r := Down(%1);\nend.");
    e.MaxCallDepth = 50;
    EXPECT_TRUE(e.Run(recurse.arg(45))) << e.ExecErrorText().toStdString();
    EXPECT_FALSE(e.Run(recurse.arg(60)));
    EXPECT_EQ(e.ExecErrorText(), QStringLiteral("[Runtime Error] (3:44): Stack overflow"));
    e.MaxCallDepth = 1000000;  // the thread's stack still bounds it
    EXPECT_FALSE(e.Run(recurse.arg(100000000)));
    EXPECT_TRUE(e.ExecErrorText().endsWith(QStringLiteral("Stack overflow")));

    e.MaxMemoryBytes = 1 << 20;
    const QString grow = QStringLiteral("var a: array of Integer;\nbegin\n  SetLength(a, %1);\nend.");
    EXPECT_TRUE(e.Run(grow.arg(1000)));
    EXPECT_FALSE(e.Run(grow.arg(1000000)));
    EXPECT_EQ(e.ExecErrorText(), QStringLiteral("[Runtime Error] (3:3): Out of memory"));
    // Freed memory counts no more: many small arrays in turn stay below the limit.
    EXPECT_TRUE(e.Run(QStringLiteral(
        "var a: array of Integer; i: Integer;\nbegin\n  for i := 1 to 1000 do SetLength(a, 1000 + i mod 2);\nend.")));
    EXPECT_FALSE(e.Run(QStringLiteral("var s: string;\nbegin\n  s := StringOfChar('x', 600000);\nend.")));
    EXPECT_EQ(e.ExecErrorText(), QStringLiteral("[Runtime Error] (3:8): Out of memory"));
    // Strings kept in an array count with it; replacing one gives its share back.
    EXPECT_TRUE(e.Run(QStringLiteral(
        "var a: array of string; i: Integer;\nbegin\n  SetLength(a, 100);\n"
        "  for i := 0 to 2000 do\n    a[0] := StringOfChar('x', 10000 + i mod 2);\nend.")))
        << e.ExecErrorText().toStdString();
    EXPECT_FALSE(e.Run(QStringLiteral(
        "var a: array of string; i: Integer;\nbegin\n  SetLength(a, 100);\n"
        "  for i := 0 to 99 do\n    a[i] := StringOfChar('x', 10000);\nend.")));
    EXPECT_EQ(e.ExecErrorText(), QStringLiteral("[Runtime Error] (5:5): Out of memory"));
}

TEST(PSScript, ARunCannotStartOrRecompileFromInsideItself)
{
    Engine e;
    bool nestedRun = true, nestedCompile = true;
    e.OnCompile = [&](TPSScript *s) {
        s->AddMethod(QStringLiteral("procedure Again;"), [&](const QVariantList &) {
            nestedRun = e.Execute();
            nestedCompile = e.Compile();
            return QVariant();
        });
    };
    EXPECT_TRUE(e.Run(QStringLiteral("var i: Integer;\nbegin\n  Again;\n  i := 1;\nend.")));
    EXPECT_FALSE(nestedRun);
    EXPECT_FALSE(nestedCompile);
    EXPECT_TRUE(e.ExecErrorText().isEmpty());
    EXPECT_TRUE(e.Compiled());  // the running program stayed
}

TEST(PSScript, HostileNestingIsACompileErrorNotACrash)
{
    Engine e;
    const int n = 100000;
    e.Script = QStringList{QStringLiteral("var i: Integer; begin i := ") + QString(n, u'(') + QStringLiteral("1") +
                           QString(n, u')') + QStringLiteral("; end.")};
    EXPECT_FALSE(e.Compile());
    ASSERT_EQ(e.CompilerMessages().size(), 1);
    EXPECT_TRUE(e.CompilerMessages()[0].contains(QStringLiteral("nested too deeply")));
    QString chain = QStringLiteral("var i: Integer; begin i := 1");
    for (int k = 0; k < n; ++k)
        chain += QStringLiteral("+i");
    e.Script = QStringList{chain + QStringLiteral("; end.")};
    EXPECT_FALSE(e.Compile());
    EXPECT_TRUE(e.CompilerMessages().value(0).contains(QStringLiteral("Expression too complex")));
    QString blocks;
    for (int k = 0; k < n; ++k)
        blocks += QStringLiteral("begin ");
    e.Script = QStringList{blocks};
    EXPECT_FALSE(e.Compile());
    QString with = QStringLiteral("var r: record a: Integer; end; begin with r");
    for (int k = 0; k < n; ++k)
        with += QStringLiteral(", r");
    e.Script = QStringList{with + QStringLiteral(" do a := 1; end.")};
    EXPECT_FALSE(e.Compile());
    EXPECT_TRUE(e.CompilerMessages().value(0).contains(QStringLiteral("nested too deeply")));
}

TEST(PSScript, DefinesAndThePreprocessorSwitch)
{
    Engine e;
    QStringList shown;
    e.OnCompile = [&](TPSScript *s) {
        s->AddMethod(QStringLiteral("procedure Show(s:string);"), [&](const QVariantList &a) {
            shown << a.value(0).toString();
            return QVariant();
        });
    };
    const QString text = QStringLiteral("begin\n{$IFDEF VIDSTILL} Show('on'); {$ELSE} Show('off'); {$ENDIF}\nend.");
    e.Defines = QStringList{QStringLiteral("vidstill")};
    ASSERT_TRUE(e.Run(text));
    e.UsePreProcessor = false;  // directives are comments: both calls run
    ASSERT_TRUE(e.Run(text));
    EXPECT_EQ(shown, (QStringList{QStringLiteral("on"), QStringLiteral("on"), QStringLiteral("off")}));
}

}  // namespace
