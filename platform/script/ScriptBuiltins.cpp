// Built-in routines: the table, the compiler's checks of a call, and the
// evaluation of a call.
#include "ScriptBuiltins.h"

#include "ScriptCompiler.h"
#include "ScriptFormat.h"
#include "platform/base/DateTimeText.h"

#include <QFileInfo>

#include <cmath>

namespace pss {

namespace {

struct Def {
    const char *name;
    const char *args;  // I Int64, R Double, S string, C Char, B Boolean; lower case: optional; '*' checked by hand
    char result;       // I Integer, L Int64, R Double, S string, C Char, B Boolean, V none, '*' by hand
    bool pure;
};

const Def kDefs[bi::Count] = {
    {"inttostr", "I", 'S', true},        {"strtoint", "S", 'I', true},        {"strtointdef", "SI", 'I', true},
    {"strtoint64", "S", 'L', true},      {"floattostr", "R", 'S', true},      {"strtofloat", "S", 'R', true},
    {"strtofloatdef", "SR", 'R', true},  {"format", "*", 'S', false},         {"copy", "SII", 'S', true},
    {"pos", "SS", 'I', true},            {"length", "*", 'I', true},          {"delete", "*", 'V', false},
    {"insert", "*", 'V', false},         {"uppercase", "S", 'S', true},       {"lowercase", "S", 'S', true},
    {"ansiuppercase", "S", 'S', true},   {"ansilowercase", "S", 'S', true},   {"trim", "S", 'S', true},
    {"trimleft", "S", 'S', true},        {"trimright", "S", 'S', true},       {"stringreplace", "*", 'S', false},
    {"chr", "I", 'C', true},             {"ord", "*", '*', true},             {"succ", "*", '*', true},
    {"pred", "*", '*', true},            {"inc", "*", 'V', false},            {"dec", "*", 'V', false},
    {"odd", "I", 'B', true},             {"abs", "*", '*', true},             {"sqr", "*", '*', true},
    {"sqrt", "R", 'R', true},            {"round", "R", 'L', true},           {"trunc", "R", 'L', true},
    {"frac", "R", 'R', true},            {"int", "R", 'R', true},             {"random", "*", '*', false},
    {"randomize", "", 'V', false},       {"now", "", 'R', false},             {"date", "", 'R', false},
    {"time", "", 'R', false},            {"formatdatetime", "SR", 'S', false}, {"datetostr", "R", 'S', false},
    {"timetostr", "R", 'S', false},      {"datetimetostr", "R", 'S', false},  {"encodedate", "III", 'R', true},
    {"encodetime", "IIII", 'R', true},   {"decodedate", "*", 'V', false},     {"decodetime", "*", 'V', false},
    {"fileexists", "S", 'B', false},     {"directoryexists", "S", 'B', false}, {"inttohex", "*", 'S', true},
    {"upcase", "C", 'C', true},          {"stringofchar", "CI", 'S', false},   {"high", "*", '*', true},
    {"low", "*", '*', true},             {"setlength", "*", 'V', false},      {"sin", "R", 'R', true},
    {"cos", "R", 'R', true},             {"exp", "R", 'R', true},             {"ln", "R", 'R', true},
    {"arctan", "R", 'R', true},          {"pi", "", 'R', true},               {"power", "RR", 'R', true},
    {"sametext", "SS", 'B', true},       {"comparetext", "SS", 'I', true},    {"comparestr", "SS", 'I', true},
    {"quotedstr", "S", 'S', true},       {"booltostr", "Bb", 'S', true},      {"include", "*", 'V', false},
    {"exclude", "*", 'V', false},        {"max", "*", '*', true},             {"min", "*", '*', true},
    {"exception.create", "S", '*', false}, {"exception.message", "*", 'S', false},
};

const QString kInvalidFloatOp = QStringLiteral("Invalid floating point operation");

}  // namespace

int builtinCount() { return bi::Count - 2; }  // the last two are reached through Exception only
QString builtinName(int id) { return QString::fromLatin1(kDefs[id].name); }
int builtinId(const QString &lowerName)
{
    for (int k = 0; k < bi::Count; ++k)
        if (lowerName == QLatin1String(kDefs[k].name))
            return k;
    return -1;
}
bool builtinPure(int id) { return kDefs[id].pure; }

// ---- compile-time checks ----

static bool isVar(const Expr *e)
{
    if (auto *v = dynamic_cast<const VarExpr *>(e))
        return !v->readOnly;
    return dynamic_cast<const IndexExpr *>(e) || dynamic_cast<const FieldExpr *>(e) ||
           dynamic_cast<const WithRefExpr *>(e);
}

static const Type *simpleType(const TypeTable &tt, char c)
{
    switch (c) {
    case 'I': return tt.Int64;
    case 'L': return tt.Int64;
    case 'R': return tt.Double;
    case 'S': return tt.String;
    case 'C': return tt.Char;
    case 'B': return tt.Boolean;
    default: return tt.Void;
    }
}

// The checks of the built-ins whose arguments take more than a coercion.
struct BuiltinCheck {
    Compiler &c;
    int id;
    std::vector<ExprP> &args;
    const Pos &pos;
    const Type *result = nullptr;
    ExprP folded;  // the whole call when it is a constant (High of a type ...)

    void argc(size_t lo, size_t hi) const
    {
        if (args.size() < lo || args.size() > hi)
            Compiler::error(pos, QStringLiteral("Invalid number of parameters"));
    }
    void need(size_t k, bool ok) const
    {
        if (!ok)
            Compiler::error(args[k]->pos, QStringLiteral("Type mismatch"));
    }
    void needVar(size_t k) const
    {
        if (!isVar(args[k].get()))
            Compiler::error(args[k]->pos, QStringLiteral("Variable required"));
    }
    void text();
    void ordinal();
    void numeric();
};

// Format, Length, Delete, Insert, StringReplace, SetLength.
void BuiltinCheck::text()
{
    using namespace bi;
    switch (id) {
    case Format:
        argc(2, 2);
        args[0] = c.coerce(std::move(args[0]), c.tt.String);
        args[1] = c.coerce(std::move(args[1]), c.tt.ConstArray);
        need(1, dynamic_cast<ArrayCtorExpr *>(args[1].get()) != nullptr);
        break;
    case Length:
        argc(1, 1);
        need(0, args[0]->type->kind == Kind::String || args[0]->type->kind == Kind::Char ||
                    args[0]->type->kind == Kind::Array || args[0]->type->kind == Kind::DynArray ||
                    args[0]->type->kind == Kind::OpenArray);
        args[0] = args[0]->type->kind == Kind::Char ? c.coerce(std::move(args[0]), c.tt.String) : std::move(args[0]);
        if (args[0]->type->kind == Kind::Array) {
            folded = c.constExpr(c.tt.Integer, Value::Int(args[0]->type->count()), pos);
            return;
        }
        break;
    case Delete:
        argc(3, 3);
        needVar(0);
        need(0, args[0]->type->kind == Kind::String);
        args[1] = c.coerce(std::move(args[1]), c.tt.Int64);
        args[2] = c.coerce(std::move(args[2]), c.tt.Int64);
        break;
    case Insert:
        argc(3, 3);
        args[0] = c.coerce(std::move(args[0]), c.tt.String);
        needVar(1);
        need(1, args[1]->type->kind == Kind::String);
        args[2] = c.coerce(std::move(args[2]), c.tt.Int64);
        break;
    case StringReplace:
        argc(4, 4);
        for (size_t k = 0; k < 3; ++k)
            args[k] = c.coerce(std::move(args[k]), c.tt.String);
        args[3] = c.coerce(std::move(args[3]), c.lookup(QStringLiteral("treplaceflags"))->type);
        break;
    case SetLength:
        if (args.empty())
            argc(2, 2);
        needVar(0);
        if (args[0]->type->kind == Kind::String) {
            argc(2, 2);
        } else {
            need(0, args[0]->type->kind == Kind::DynArray);
            const Type *t = args[0]->type;
            for (size_t k = 1; k < args.size(); ++k) {
                if (k > 1 && (!t || t->kind != Kind::DynArray))
                    Compiler::error(pos, QStringLiteral("Invalid number of parameters"));
                t = t ? t->elem : nullptr;
            }
            argc(2, 64);
        }
        for (size_t k = 1; k < args.size(); ++k)
            args[k] = c.coerce(std::move(args[k]), c.tt.Int64);
        break;
    default: break;
    }
}

// Ord, Succ, Pred, Inc, Dec, High, Low, Include, Exclude.
void BuiltinCheck::ordinal()
{
    using namespace bi;
    switch (id) {
    case Ord:
    case Succ:
    case Pred:
        argc(1, 1);
        need(0, args[0]->type->ordinal());
        result = id == Ord ? (args[0]->type->bits == 64 && args[0]->type->kind == Kind::Int ? c.tt.Int64 : c.tt.Integer)
                           : args[0]->type;
        break;
    case Inc:
    case Dec:
        argc(1, 2);
        needVar(0);
        need(0, args[0]->type->ordinal());
        if (args.size() == 2)
            args[1] = c.coerce(std::move(args[1]), c.tt.Int64);
        break;
    case High:
    case Low: {
        argc(1, 1);
        const Type *t = args[0]->type;
        const bool isType = dynamic_cast<TypeRefExpr *>(args[0].get()) != nullptr;
        if (t->ordinal()) {
            folded = c.constExpr(t, Value::Int(id == High ? t->hi : t->lo), pos);
            return;
        }
        if (t->kind == Kind::Array) {
            folded = c.constExpr(t->base ? t->base : c.tt.Integer, Value::Int(id == High ? t->hi : t->lo), pos);
            return;
        }
        need(0, !isType && (t->kind == Kind::DynArray || t->kind == Kind::OpenArray || t->kind == Kind::String));
        if (id == Low) {
            folded = c.constExpr(c.tt.Integer, Value::Int(t->kind == Kind::String ? 1 : 0), pos);
            return;
        }
        result = c.tt.Integer;
        break;
    }
    case Include:
    case Exclude:
        argc(2, 2);
        needVar(0);
        need(0, args[0]->type->kind == Kind::Set);
        need(1, args[1]->type->ordinal() && (!args[0]->type->elem || sameType(args[0]->type->elem, args[1]->type)));
        break;
    default: break;
    }
}

// Abs, Sqr, Random, Max, Min, IntToHex, DecodeDate, DecodeTime, the exception's message.
void BuiltinCheck::numeric()
{
    using namespace bi;
    switch (id) {
    case Abs:
    case Sqr:
        argc(1, 1);
        need(0, args[0]->type->kind == Kind::Int || args[0]->type->kind == Kind::Real);
        result = args[0]->type->kind == Kind::Real ? c.tt.Double : intResult(c.tt, args[0]->type, c.tt.Integer);
        break;
    case Random:
        argc(0, 1);
        result = args.empty() ? c.tt.Double : c.tt.Integer;
        if (!args.empty())
            args[0] = c.coerce(std::move(args[0]), c.tt.Int64);
        break;
    case DecodeDate:
    case DecodeTime:
        argc(id == DecodeDate ? 4 : 5, id == DecodeDate ? 4 : 5);
        args[0] = c.coerce(std::move(args[0]), c.tt.Double);
        for (size_t k = 1; k < args.size(); ++k) {
            needVar(k);
            need(k, args[k]->type->kind == Kind::Int);
        }
        break;
    case IntToHex:
        argc(2, 2);
        need(0, args[0]->type->kind == Kind::Int);
        args[1] = c.coerce(std::move(args[1]), c.tt.Int64);
        break;
    case Max:
    case Min:
        argc(2, 2);
        need(0, args[0]->type->kind == Kind::Int || args[0]->type->kind == Kind::Real);
        need(1, args[1]->type->kind == Kind::Int || args[1]->type->kind == Kind::Real);
        result = args[0]->type->kind == Kind::Int && args[1]->type->kind == Kind::Int ? c.tt.Int64 : c.tt.Double;
        args[0] = c.coerce(std::move(args[0]), result);
        args[1] = c.coerce(std::move(args[1]), result);
        break;
    case ExcMessage:
        argc(1, 1);
        break;

    default: break;
    }
}

ExprP Compiler::checkBuiltin(int id, std::vector<ExprP> args, const Pos &pos)
{
    using namespace bi;
    const Def &d = kDefs[id];
    auto call = std::make_unique<BuiltinExpr>();
    call->pos = pos;
    call->id = id;
    for (const ExprP &a : args)
        if (dynamic_cast<TypeRefExpr *>(a.get()) && id != High && id != Low)
            error(a->pos, QStringLiteral("Syntax error"));
    const Type *result = d.result == '*' ? nullptr : (d.result == 'I' ? tt.Integer : simpleType(tt, d.result));
    if (qstrcmp(d.args, "*") != 0) {
        const QByteArray spec(d.args);
        size_t required = 0;
        for (char c : spec)
            required += (c >= 'A' && c <= 'Z');
        if (args.size() < required || args.size() > size_t(spec.size()))
            error(pos, QStringLiteral("Invalid number of parameters"));
        for (size_t k = 0; k < args.size(); ++k)
            args[k] = coerce(std::move(args[k]), simpleType(tt, char(toupper(spec[qsizetype(k)]))));
    } else {
        BuiltinCheck check{*this, id, args, pos, nullptr, nullptr};
        check.text();
        if (!check.folded && !check.result)
            check.ordinal();
        if (!check.folded && !check.result)
            check.numeric();
        if (check.folded)
            return std::move(check.folded);
        if (check.result)
            result = check.result;
    }
    if (id == ExcCreate)
        result = tt.Exception;
    call->type = result;
    int depth = 1;
    for (const ExprP &a : args)
        depth = std::max(depth, a->depth + 1);
    call->depth = depth;
    call->args = std::move(args);
    return call;
}

}  // namespace pss
