// Fuzzes the script compiler and runtime. The input is raw text or, when its
// first byte is odd, picks from a vocabulary of the language's pieces, so
// that programs which compile come up without a corpus. What compiles runs
// with small limits and is stopped after a short time. Nothing may crash,
// hang or leak; a compiled program ends either way.
#include "platform/script/PSScript.h"

#include <QCoreApplication>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

const char *const kPieces[] = {
    "begin ", "end", ".", ";", " ", "\n", "var ", "const ", "type ", "x", "y", "s", "a", "r", "i", ": ",
    "Integer", "string", "Double", "Boolean", "Char", "Int64", "Byte", "array of ", "array[0..3] of ",
    "record f: Integer; g: string; end", "set of ", "(e1, e2, e3)", "0..9", "procedure P", "function F",
    "(var v: Integer)", "(const c: string)", "(n: Integer)", ": Integer", "Result", ":=", "=", "<>", "<", ">=",
    "+", "-", "*", "/", " div ", " mod ", " and ", " or ", " xor ", " shl ", " not ", " in ", "(", ")", "[", "]",
    ",", "..", "'txt'", "''", "#65", "0", "1", "-1", "255", "2147483647", "$FF", "1.5e3", "True", "False",
    "if ", " then ", " else ", "while ", " do ", "for ", " to ", " downto ", "repeat ", "until ", "case ",
    " of ", "try ", "except ", "finally ", "on E: Exception do ", "raise ", "raise Exception.Create('boom')",
    "E.Message", "break", "continue", "exit", "with ", "Inc(", "Dec(", "SetLength(", "Length(", "High(",
    "Low(", "Copy(", "Pos(", "Delete(", "Insert(", "IntToStr(", "StrToInt(", "FloatToStr(", "Format('%d %s', [",
    "Format('%5.2f %x %-3s %e %g %u %%', [", "StringOfChar('x', ", "Ord(", "Chr(", "Succ(", "Pred(", "Round(",
    "Trunc(", "Sqrt(", "Abs(", "Host(", "HostF", "x[i]", "s[1]", "r.f", "{$DEFINE A}", "{$IFDEF A}",
    "{$ELSE}", "{$ENDIF}", "{$I x.inc}", "{ c }", "(* c *)", "// c\n", "P(x)", "F(1)", "a[0]", "",
};
constexpr size_t kPieceCount = sizeof(kPieces) / sizeof(kPieces[0]);

QString compose(const uint8_t *data, size_t size)
{
    QByteArray out;
    for (size_t i = 1; i < size; ++i)
        out += kPieces[data[i] % kPieceCount];
    return QString::fromUtf8(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_script";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    const QString text = size > 0 && (data[0] & 1) ? compose(data, size)
                                                   : QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    TPSScript engine;
    engine.Script = text.split(QLatin1Char('\n'));
    engine.MainFileName = QStringLiteral("/nonexistent-folder/main.pas");
    engine.MaxCallDepth = 200;
    engine.MaxMemoryBytes = 8 << 20;
    engine.OnCompile = [](TPSScript *s) {
        s->AddMethod(QStringLiteral("procedure Host(const a: integer; b: string; c: Double);"),
                     [](const QVariantList &args) -> QVariant {
                         if (args.value(0).toLongLong() == 13)
                             throw TPSRunError{QStringLiteral("unlucky")};
                         return {};
                     });
        s->AddMethod(QStringLiteral("function HostF: string;"),
                     [](const QVariantList &) { return QVariant(QStringLiteral("h")); });
        // So that the script tests' files compile as seeds.
        s->AddMethod(QStringLiteral("procedure showmessage(z:string);"), [](const QVariantList &) { return QVariant(); });
        s->AddMethod(QStringLiteral("procedure Volume(const aInteger:integer);"),
                     [](const QVariantList &) { return QVariant(); });
        s->AddType(QStringLiteral("TPoint"), QStringLiteral("record x,y: Longint; end;"));
    };
    const bool compiled = engine.Compile();
    if (!compiled && engine.CompilerMessages().isEmpty())
        abort();  // a failed compilation always says why
    if (!compiled)
        return 0;
    const auto start = std::chrono::steady_clock::now();
    engine.OnRunIdle = [&] {
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(100))
            engine.Stop(QStringLiteral("fuzz time-out"));
    };
    const bool ok = engine.Execute();
    if (ok != engine.ExecErrorText().isEmpty() || engine.Running())
        abort();
    return 0;
}
