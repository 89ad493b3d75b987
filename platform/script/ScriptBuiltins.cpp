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

ExprP Compiler::checkBuiltin(int id, std::vector<ExprP> args, const Pos &pos)
{
    using namespace bi;
    const Def &d = kDefs[id];
    auto call = std::make_unique<BuiltinExpr>();
    call->pos = pos;
    call->id = id;
    auto argc = [&](size_t lo, size_t hi) {
        if (args.size() < lo || args.size() > hi)
            error(pos, QStringLiteral("Invalid number of parameters"));
    };
    auto need = [&](size_t k, bool ok) {
        if (!ok)
            error(args[k]->pos, QStringLiteral("Type mismatch"));
    };
    auto needVar = [&](size_t k) {
        if (!isVar(args[k].get()))
            error(args[k]->pos, QStringLiteral("Variable required"));
    };
    for (const ExprP &a : args)
        if (dynamic_cast<TypeRefExpr *>(a.get()) && id != High && id != Low)
            error(a->pos, QStringLiteral("Syntax error"));
    const Type *result = d.result == '*' ? nullptr : (d.result == 'I' ? tt.Integer : simpleType(tt, d.result));
    if (qstrcmp(d.args, "*") != 0) {
        const QByteArray spec(d.args);
        size_t required = 0;
        for (char c : spec)
            required += (c >= 'A' && c <= 'Z');
        argc(required, size_t(spec.size()));
        for (size_t k = 0; k < args.size(); ++k)
            args[k] = coerce(std::move(args[k]), simpleType(tt, char(toupper(spec[qsizetype(k)]))));
    } else {
        switch (id) {
        case Format:
            argc(2, 2);
            args[0] = coerce(std::move(args[0]), tt.String);
            args[1] = coerce(std::move(args[1]), tt.ConstArray);
            need(1, dynamic_cast<ArrayCtorExpr *>(args[1].get()) != nullptr);
            break;
        case Length:
            argc(1, 1);
            need(0, args[0]->type->kind == Kind::String || args[0]->type->kind == Kind::Char ||
                        args[0]->type->kind == Kind::Array || args[0]->type->kind == Kind::DynArray ||
                        args[0]->type->kind == Kind::OpenArray);
            args[0] = args[0]->type->kind == Kind::Char ? coerce(std::move(args[0]), tt.String) : std::move(args[0]);
            if (args[0]->type->kind == Kind::Array)
                return constExpr(tt.Integer, Value::Int(args[0]->type->count()), pos);
            break;
        case Delete:
            argc(3, 3);
            needVar(0);
            need(0, args[0]->type->kind == Kind::String);
            args[1] = coerce(std::move(args[1]), tt.Int64);
            args[2] = coerce(std::move(args[2]), tt.Int64);
            break;
        case Insert:
            argc(3, 3);
            args[0] = coerce(std::move(args[0]), tt.String);
            needVar(1);
            need(1, args[1]->type->kind == Kind::String);
            args[2] = coerce(std::move(args[2]), tt.Int64);
            break;
        case StringReplace:
            argc(4, 4);
            for (size_t k = 0; k < 3; ++k)
                args[k] = coerce(std::move(args[k]), tt.String);
            args[3] = coerce(std::move(args[3]), lookup(QStringLiteral("treplaceflags"))->type);
            break;
        case Ord:
        case Succ:
        case Pred:
            argc(1, 1);
            need(0, args[0]->type->ordinal());
            result = id == Ord ? (args[0]->type->bits == 64 && args[0]->type->kind == Kind::Int ? tt.Int64 : tt.Integer)
                               : args[0]->type;
            break;
        case Inc:
        case Dec:
            argc(1, 2);
            needVar(0);
            need(0, args[0]->type->ordinal());
            if (args.size() == 2)
                args[1] = coerce(std::move(args[1]), tt.Int64);
            break;
        case Abs:
        case Sqr:
            argc(1, 1);
            need(0, args[0]->type->kind == Kind::Int || args[0]->type->kind == Kind::Real);
            result = args[0]->type->kind == Kind::Real ? tt.Double : intResult(tt, args[0]->type, tt.Integer);
            break;
        case Random:
            argc(0, 1);
            result = args.empty() ? tt.Double : tt.Integer;
            if (!args.empty())
                args[0] = coerce(std::move(args[0]), tt.Int64);
            break;
        case DecodeDate:
        case DecodeTime:
            argc(id == DecodeDate ? 4 : 5, id == DecodeDate ? 4 : 5);
            args[0] = coerce(std::move(args[0]), tt.Double);
            for (size_t k = 1; k < args.size(); ++k) {
                needVar(k);
                need(k, args[k]->type->kind == Kind::Int);
            }
            break;
        case IntToHex:
            argc(2, 2);
            need(0, args[0]->type->kind == Kind::Int);
            args[1] = coerce(std::move(args[1]), tt.Int64);
            break;
        case High:
        case Low: {
            argc(1, 1);
            const Type *t = args[0]->type;
            const bool isType = dynamic_cast<TypeRefExpr *>(args[0].get()) != nullptr;
            if (t->ordinal())
                return constExpr(t, Value::Int(id == High ? t->hi : t->lo), pos);
            if (t->kind == Kind::Array)
                return constExpr(t->base ? t->base : tt.Integer, Value::Int(id == High ? t->hi : t->lo), pos);
            need(0, !isType && (t->kind == Kind::DynArray || t->kind == Kind::OpenArray || t->kind == Kind::String));
            if (id == Low)
                return constExpr(tt.Integer, Value::Int(t->kind == Kind::String ? 1 : 0), pos);
            result = tt.Integer;
            break;
        }
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
                        error(pos, QStringLiteral("Invalid number of parameters"));
                    t = t ? t->elem : nullptr;
                }
                argc(2, 64);
            }
            for (size_t k = 1; k < args.size(); ++k)
                args[k] = coerce(std::move(args[k]), tt.Int64);
            break;
        case Include:
        case Exclude:
            argc(2, 2);
            needVar(0);
            need(0, args[0]->type->kind == Kind::Set);
            need(1, args[1]->type->ordinal() && (!args[0]->type->elem || sameType(args[0]->type->elem, args[1]->type)));
            break;
        case Max:
        case Min:
            argc(2, 2);
            need(0, args[0]->type->kind == Kind::Int || args[0]->type->kind == Kind::Real);
            need(1, args[1]->type->kind == Kind::Int || args[1]->type->kind == Kind::Real);
            result = args[0]->type->kind == Kind::Int && args[1]->type->kind == Kind::Int ? tt.Int64 : tt.Double;
            args[0] = coerce(std::move(args[0]), result);
            args[1] = coerce(std::move(args[1]), result);
            break;
        case ExcMessage:
            argc(1, 1);
            break;
        default: break;
        }
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
