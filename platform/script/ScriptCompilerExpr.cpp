// The compiler: expressions, calls and type conversions.
#include "ScriptCompiler.h"

#include "ScriptBuiltins.h"

namespace pss {

namespace {

// Deeper trees would recurse too far when run or destroyed.
constexpr int kMaxExprDepth = 1000;

template <typename T>
std::unique_ptr<T> node(const Pos &pos, const Type *type)
{
    auto n = std::make_unique<T>();
    n->pos = pos;
    n->type = type;
    return n;
}

bool numeric(const Type *t) { return t->kind == Kind::Int || t->kind == Kind::Real; }
bool textual(const Type *t) { return t->kind == Kind::String || t->kind == Kind::Char; }

bool addressable(const Expr *e)
{
    if (auto *v = dynamic_cast<const VarExpr *>(e))
        return !v->readOnly;
    return dynamic_cast<const IndexExpr *>(e) || dynamic_cast<const FieldExpr *>(e) ||
           dynamic_cast<const WithRefExpr *>(e);
}

bool allConst(const std::vector<ExprP> &list)
{
    for (const ExprP &e : list)
        if (!e || !e->isConst())
            return false;
    return true;
}

}  // namespace

ExprP Compiler::constExpr(const Type *t, Value v, const Pos &pos)
{
    auto c = node<ConstExpr>(pos, t);
    c->v = std::move(v);
    return c;
}

ExprP Compiler::constOrdinal(qint64 v, const Pos &pos)
{
    return constExpr(v >= INT32_MIN && v <= INT32_MAX ? tt.Integer : tt.Int64, Value::Int(v), pos);
}

ExprP Compiler::varExpr(const Sym &s, const Pos &pos)
{
    auto v = node<VarExpr>(pos, s.type);
    v->slot = s.slot;
    v->global = s.global;
    v->hops = s.global ? 0 : level() - s.level;
    v->viaRef = s.viaRef;
    v->readOnly = s.readOnly;
    return v;
}

// Evaluates a tree whose leaves are all constants.
ExprP Compiler::fold(ExprP e)
{
    if (e->isConst() || dynamic_cast<TypeRefExpr *>(e.get()))
        return e;
    bool constant = false;
    if (auto *u = dynamic_cast<UnaryExpr *>(e.get()))
        constant = u->a->isConst();
    else if (auto *b = dynamic_cast<BinExpr *>(e.get()))
        constant = b->a->isConst() && b->b->isConst();
    else if (auto *cv = dynamic_cast<ConvExpr *>(e.get()))
        constant = cv->a->isConst();
    else if (auto *ca = dynamic_cast<CastExpr *>(e.get()))
        constant = ca->a->isConst();
    else if (auto *bi = dynamic_cast<BuiltinExpr *>(e.get()))
        constant = builtinPure(bi->id) && allConst(bi->args);
    else if (auto *se = dynamic_cast<SetExpr *>(e.get())) {
        constant = true;
        for (auto &[lo, hi] : se->items)
            constant = constant && lo->isConst() && (!hi || hi->isConst());
    }
    if (!constant)
        return e;
    StopState stop;
    Ctx c;
    c.stop = &stop;
    c.mem = std::make_shared<MemCounter>();
    c.mem->limit = qint64(64) << 20;
    try {
        const Type *t = e->type;
        Value v;
        if (t->ordinal())
            v.i = e->evalInt(c);
        else if (t->kind == Kind::Real)
            v.r = e->evalReal(c);
        else
            v = e->eval(c);
        return constExpr(t, std::move(v), e->pos);
    } catch (const RunError &err) {
        if (dynamic_cast<BuiltinExpr *>(e.get()))
            return e;  // StrToInt('x') and the like fail when run, as they would with variables
        error(err.pos, err.text);
    } catch (const OutOfMemory &) {
        error(e->pos, QStringLiteral("Out of memory"));
    }
}

ExprP Compiler::coerce(ExprP e, const Type *to)
{
    const Type *from = e->type;
    auto *set = dynamic_cast<SetExpr *>(e.get());
    if (set && (to->kind == Kind::OpenArray || to->kind == Kind::DynArray)) {
        auto arr = node<ArrayCtorExpr>(e->pos, to);
        for (auto &[lo, hi] : set->items) {
            if (hi)
                error(hi->pos, QStringLiteral("Type mismatch"));
            if (to == tt.ConstArray) {
                arr->itemTypes.push_back(lo->type);
                arr->items.push_back(std::move(lo));
            } else {
                arr->items.push_back(coerce(std::move(lo), to->elem));
            }
        }
        return arr;
    }
    if (auto *arr = dynamic_cast<ArrayCtorExpr *>(e.get()); arr && arr->type == tt.ConstArray &&
                                                            to->kind == Kind::OpenArray && to != tt.ConstArray) {
        for (size_t k = 0; k < arr->items.size(); ++k)
            arr->items[k] = coerce(std::move(arr->items[k]), to->elem);
        arr->type = to;
        return e;
    }
    if (set && to->kind == Kind::Set && (!from->elem || !to->elem || sameType(from->elem, to->elem))) {
        e->type = to;
        return e;
    }
    if (sameType(to, from)) {
        if (to->kind == Kind::Int && (to->bits < from->bits || to->isSigned != from->isSigned) &&
            !(e->isConst() && static_cast<ConstExpr *>(e.get())->v.i == wrapInt(to, static_cast<ConstExpr *>(e.get())->v.i))) {
            auto c = node<ConvExpr>(e->pos, to);
            c->conv = Conv::IntWrap;
            c->a = std::move(e);
            return fold(std::move(c));
        }
        if (to->kind == Kind::Int && e->isConst())
            e->type = to;
        return e;
    }
    Conv conv;
    if (to->kind == Kind::Real && from->kind == Kind::Int)
        conv = Conv::IntToReal;
    else if (to->kind == Kind::String && from->kind == Kind::Char)
        conv = Conv::CharToStr;
    else if (to->kind == Kind::OpenArray && assignable(to, from))
        return e;
    else
        error(e->pos, QStringLiteral("Type mismatch"));
    auto c = node<ConvExpr>(e->pos, to);
    c->conv = conv;
    c->a = std::move(e);
    return fold(std::move(c));
}

// expression = simpleExpression {("=" | "<>" | "<" | ">" | "<=" | ">=" | "in") simpleExpression}
ExprP Compiler::expression()
{
    NestGuard guard(*this, tok().pos);
    static const std::pair<const char *, Op> ops[] = {{"=", Op::Eq}, {"<>", Op::Ne}, {"<", Op::Lt}, {">", Op::Gt},
                                                      {"<=", Op::Le}, {">=", Op::Ge}, {"in", Op::In}};
    return operands(ops, &Compiler::simpleExpression);
}

// simpleExpression = ["+" | "-"] term {("+" | "-" | "or" | "xor") term}
ExprP Compiler::simpleExpression()
{
    static const std::pair<const char *, Op> ops[] = {{"+", Op::Add}, {"-", Op::Sub}, {"or", Op::Or}, {"xor", Op::Xor}};
    return operands(ops, &Compiler::term);
}

// term = factor {("*" | "/" | "div" | "mod" | "and" | "shl" | "shr") factor}
ExprP Compiler::term()
{
    static const std::pair<const char *, Op> ops[] = {{"*", Op::Mul},  {"/", Op::Div},   {"div", Op::IDiv},
                                                      {"mod", Op::Mod}, {"and", Op::And}, {"shl", Op::Shl},
                                                      {"shr", Op::Shr}};
    return operands(ops, &Compiler::factor);
}

// level = next {op next}: one precedence level, left to right.
ExprP Compiler::operands(std::span<const std::pair<const char *, Op>> ops, ExprP (Compiler::*next)())
{
    ExprP e = (this->*next)();
    for (;;) {
        const Op *op = nullptr;
        for (const auto &[sym, o] : ops)
            if (tok().kind != Tok::Str && at(sym))
                op = &o;
        if (!op)
            return e;
        const Pos pos = tok().pos;
        ++p_;
        e = binary(*op, std::move(e), (this->*next)(), pos);
    }
}

// factor = number | string | "(" expression ")" | "not" factor | ("-" | "+") factor
//        | "[" [element {"," element}] "]" | designator
ExprP Compiler::factor()
{
    NestGuard guard(*this, tok().pos);
    const Token &t = tok();
    const Pos pos = t.pos;
    switch (t.kind) {
    case Tok::Int: ++p_; return constOrdinal(t.ival, pos);
    case Tok::Real: ++p_; return constExpr(tt.Double, Value::Real(t.rval), pos);
    case Tok::Str: {
        ++p_;
        if (t.text.size() == 1)
            return constExpr(tt.Char, Value::Int(t.text[0].unicode()), pos);
        return postfix(constExpr(tt.String, Value::Str(t.text), pos));
    }
    case Tok::Eof: error(pos, QStringLiteral("Unexpected end of file"));
    case Tok::Ident:
    case Tok::Sym: break;
    }
    if (accept("(")) {
        ExprP e = expression();
        expect(")");
        return postfix(std::move(e));
    }
    if (at("not") || at("-") || at("+")) {
        const bool isNot = at("not");
        const bool plus = at("+");
        ++p_;
        ExprP a = factor();
        if (plus) {
            if (!numeric(a->type))
                error(pos, QStringLiteral("Type mismatch"));
            return a;
        }
        const Type *t = a->type;
        if (isNot ? !(t->kind == Kind::Bool || t->kind == Kind::Int) : !numeric(t))
            error(pos, QStringLiteral("Type mismatch"));
        auto u = node<UnaryExpr>(pos, t->kind == Kind::Int ? intResult(tt, t, tt.Integer) : t->root());
        u->op = isNot ? Op::Not : Op::Neg;
        u->depth = a->depth + 1;
        u->a = std::move(a);
        return fold(std::move(u));
    }
    if (at("["))
        return bracket();
    if (t.kind == Tok::Sym)
        error(pos, QStringLiteral("Syntax error"));
    return designator();
}

// bracket = "[" [element {"," element}] "]";  element = expression [".." expression]
ExprP Compiler::bracket()
{
    auto s = node<SetExpr>(tok().pos, tt.EmptySet);
    expect("[");
    bool ordinalItems = true;
    const Type *elem = nullptr;
    if (!at("]")) {
        do {
            ExprP lo = expression();
            ExprP hi;
            if (accept(".."))
                hi = expression();
            const bool ord = lo->type->ordinal() && (!hi || sameType(hi->type, lo->type));
            if (ord && elem && !sameType(elem, lo->type))
                ordinalItems = false;
            if (!ord)
                ordinalItems = false;
            if (ord && !elem)
                elem = lo->type->root();
            s->items.emplace_back(std::move(lo), std::move(hi));
        } while (accept(","));
    }
    expect("]");
    if (!ordinalItems) {
        s->type = tt.ConstArray;
        return coerce(std::move(s), tt.ConstArray);
    }
    if (elem)
        s->type = setOf(elem);
    return s;  // unfolded: the context may still make it an array
}

// designator = ident {"." ident | "[" expression {"," expression} "]" | "(" arguments ")"}
ExprP Compiler::designator()
{
    const Token id = tok();
    if (id.kind == Tok::Eof)
        error(id.pos, QStringLiteral("Unexpected end of file"));
    if (id.kind != Tok::Ident)
        error(id.pos, QStringLiteral("Identifier expected"));
    ident();
    return postfix(identifierFactor(id));
}

// identifierFactor = withField | variable | constant | typeName "(" expression ")"
//                  | "Exception" "." "Create" arguments | routine [arguments] | builtin [arguments]
ExprP Compiler::identifierFactor(const Token &id)
{
    const Pos pos = id.pos;
    for (auto it = withs_.rbegin(); it != withs_.rend(); ++it) {
        const int f = it->rec->fieldIndex(id.lower);
        if (f >= 0) {
            auto w = node<WithRefExpr>(pos, it->rec->fields[size_t(f)].type);
            w->slot = it->slot;
            w->field = f;
            return w;
        }
    }
    const Sym *s = lookup(id.lower);
    if (!s)
        error(pos, QStringLiteral("Unknown identifier '%1'").arg(id.text));
    switch (s->k) {
    case Sym::K::Var: return varExpr(*s, pos);
    case Sym::K::Const: return constExpr(s->type, s->val, pos);
    case Sym::K::Type:
        if (s->type->kind == Kind::Exception && accept(".")) {
            const Pos cpos = tok().pos;
            if (ident().toLower() != QLatin1String("create"))
                error(cpos, QStringLiteral("Unknown identifier '%1'").arg(toks_[p_ - 1].text));
            return builtinCall(builtinId(QStringLiteral("exception.create")), pos);
        }
        if (at("("))
            return castTo(s->type, pos);
        error(pos, QStringLiteral("Syntax error"));
    case Sym::K::Routine: return callRoutine(s->routine, false, pos);
    case Sym::K::Host:
        if (const int b = shadowedBuiltin(*s); b >= 0)
            return builtinCall(b, pos);
        return callRoutine(s->routine, true, pos);
    case Sym::K::Builtin: return builtinCall(s->builtin, pos);
    }
    error(pos, QStringLiteral("Syntax error"));
}

// A host routine hides the built-in of its name ("procedure Copy;" of an
// action), but a call written with another number of arguments than the
// routine takes means the built-in: -1 when the host routine is meant.
int Compiler::shadowedBuiltin(const Sym &host) const
{
    const auto b = scopes_[0].syms.constFind(host.routine->name.toLower());
    if (b == scopes_[0].syms.constEnd() || b->k != Sym::K::Builtin)
        return -1;
    size_t written = 0;
    if (at("(")) {
        int depth = 0;
        for (size_t i = p_; i < toks_.size() && toks_[i].kind != Tok::Eof; ++i) {
            const Token &t = toks_[i];
            if (t.is("(") || t.is("["))
                ++depth;
            else if (t.is(")") || t.is("]"))
                --depth;
            else if (depth == 1 && t.is(","))
                ++written;
            if (depth == 0) {
                written += (i > p_ + 1) ? 1 : 0;
                break;
            }
        }
    }
    return written == host.routine->params.size() ? -1 : b->builtin;
}

// postfix = {"[" expression {"," expression} "]" | "." ident}
ExprP Compiler::postfix(ExprP e)
{
    for (;;) {
        const Pos pos = tok().pos;
        if (accept("[")) {
            do
                e = indexOf(std::move(e), pos);
            while (accept(","));
            expect("]");
        } else if (at(".") && !peek().is(".")) {
            ++p_;
            const Pos fpos = tok().pos;
            const QString name = ident();
            const Type *t = e->type;
            if (t->kind == Kind::Exception && name.toLower() == QLatin1String("message")) {
                std::vector<ExprP> args;
                args.push_back(std::move(e));
                e = checkBuiltin(builtinId(QStringLiteral("exception.message")), std::move(args), fpos);
                continue;
            }
            if (t->kind != Kind::Record)
                error(pos, QStringLiteral("Record, object or class type required"));
            const int f = t->fieldIndex(name.toLower());
            if (f < 0)
                error(fpos, QStringLiteral("Unknown identifier '%1'").arg(name));
            auto fe = node<FieldExpr>(fpos, t->fields[size_t(f)].type);
            fe->field = f;
            fe->depth = e->depth + 1;
            fe->base = std::move(e);
            e = std::move(fe);
        } else {
            if (e->depth > kMaxExprDepth)
                error(pos, QStringLiteral("Expression too complex"));
            return e;
        }
    }
}

ExprP Compiler::indexOf(ExprP base, const Pos &pos)
{
    const Type *t = base->type;
    ExprP index = expression();
    if (!index->type->ordinal())
        error(index->pos, QStringLiteral("Ordinal type required"));
    if (t->kind == Kind::String) {
        auto s = node<StrIndexExpr>(pos, tt.Char);
        s->index = coerce(std::move(index), tt.Int64);
        s->depth = std::max(base->depth, s->index->depth) + 1;
        s->base = std::move(base);
        return s;
    }
    if ((t->kind != Kind::Array && t->kind != Kind::DynArray && t->kind != Kind::OpenArray) || !t->elem)
        error(pos, QStringLiteral("Array type required"));  // also "array of const": its items have no one type
    auto ie = node<IndexExpr>(pos, t->elem);
    if (t->kind == Kind::Array) {
        if (!sameType(t->base, index->type))
            error(index->pos, QStringLiteral("Type mismatch"));
        ie->lo = t->lo;
    } else if (index->type->kind != Kind::Int) {
        error(index->pos, QStringLiteral("Type mismatch"));
    }
    ie->depth = std::max(base->depth, index->depth) + 1;
    ie->index = std::move(index);
    ie->base = std::move(base);
    return ie;
}

ExprP Compiler::binary(Op op, ExprP a, ExprP b, const Pos &pos)
{
    const int depth = std::max(a->depth, b->depth) + 1;
    if (depth > kMaxExprDepth)
        error(pos, QStringLiteral("Expression too complex"));
    ExprP e;
    if (op == Op::Eq || op == Op::Ne || op == Op::Lt || op == Op::Gt || op == Op::Le || op == Op::Ge || op == Op::In)
        e = comparison(op, std::move(a), std::move(b), pos);
    else
        e = arithmetic(op, std::move(a), std::move(b), pos);
    e->depth = depth;
    return fold(std::move(e));
}

static std::unique_ptr<BinExpr> bin(Op op, ExprP a, ExprP b, const Pos &pos, const Type *type, const Type *operand)
{
    auto e = node<BinExpr>(pos, type);
    e->op = op;
    e->a = std::move(a);
    e->b = std::move(b);
    e->operand = operand;
    return e;
}

ExprP Compiler::arithmetic(Op op, ExprP a, ExprP b, const Pos &pos)
{
    const Type *ta = a->type, *tb = b->type;
    const bool logical = op == Op::And || op == Op::Or || op == Op::Xor;
    if (ta->kind == Kind::Int && tb->kind == Kind::Int && op != Op::Div) {
        const Type *t = (op == Op::Shl || op == Op::Shr) ? intResult(tt, ta, tt.Integer) : intResult(tt, ta, tb);
        return bin(op, std::move(a), std::move(b), pos, t, t);
    }
    if (logical && ta->kind == Kind::Bool && tb->kind == Kind::Bool)
        return bin(op, std::move(a), std::move(b), pos, tt.Boolean, tt.Boolean);
    if (numeric(ta) && numeric(tb) && (op == Op::Add || op == Op::Sub || op == Op::Mul || op == Op::Div)) {
        a = coerce(std::move(a), tt.Double);
        b = coerce(std::move(b), tt.Double);
        return bin(op, std::move(a), std::move(b), pos, tt.Double, tt.Double);
    }
    if (op == Op::Add && textual(ta) && textual(tb)) {
        a = coerce(std::move(a), tt.String);
        b = coerce(std::move(b), tt.String);
        return bin(op, std::move(a), std::move(b), pos, tt.String, tt.String);
    }
    if (ta->kind == Kind::Set && tb->kind == Kind::Set && (op == Op::Add || op == Op::Sub || op == Op::Mul) &&
        sameType(ta, tb)) {
        const Type *t = ta->elem ? ta : tb;
        return bin(op, std::move(a), std::move(b), pos, t, t);
    }
    error(pos, QStringLiteral("Type mismatch"));
}

ExprP Compiler::comparison(Op op, ExprP a, ExprP b, const Pos &pos)
{
    const Type *ta = a->type, *tb = b->type;
    if (op == Op::In) {
        if (!ta->ordinal() || tb->kind != Kind::Set || (tb->elem && !sameType(tb->elem, ta)))
            error(pos, QStringLiteral("Type mismatch"));
        b = fold(std::move(b));
        return bin(op, std::move(a), std::move(b), pos, tt.Boolean, tb);
    }
    const Type *operand = nullptr;
    if (ta->kind == Kind::Int && tb->kind == Kind::Int) {
        operand = tt.Int64;
    } else if (numeric(ta) && numeric(tb)) {
        operand = tt.Double;
    } else if (textual(ta) && textual(tb)) {
        operand = ta->kind == Kind::Char && tb->kind == Kind::Char ? tt.Char : tt.String;
    } else if (ta->ordinal() && sameType(ta, tb)) {
        operand = ta->root();
    } else if (ta->kind == Kind::Set && tb->kind == Kind::Set && sameType(ta, tb) && op != Op::Lt && op != Op::Gt) {
        operand = ta->elem ? ta : tb;
    } else {
        error(pos, QStringLiteral("Type mismatch"));
    }
    if (operand->kind == Kind::Real || operand->kind == Kind::String) {
        a = coerce(std::move(a), operand);
        b = coerce(std::move(b), operand);
    }
    return bin(op, std::move(a), std::move(b), pos, tt.Boolean, operand);
}

// arguments = "(" [expression {"," expression}] ")"
std::vector<ExprP> Compiler::argumentList()
{
    std::vector<ExprP> args;
    expect("(");
    if (accept(")"))
        return args;
    do
        args.push_back(expression());
    while (accept(","));
    expect(")");
    return args;
}

// call = routine [arguments]
ExprP Compiler::callRoutine(Routine *r, bool host, const Pos &pos)
{
    std::vector<ExprP> args;
    if (at("("))
        args = argumentList();
    return makeCall(r, host, std::move(args), pos);
}

ExprP Compiler::makeCall(Routine *r, bool host, std::vector<ExprP> args, const Pos &pos)
{
    if (args.size() != r->params.size())
        error(pos, QStringLiteral("Invalid number of parameters"));
    int depth = 1;
    for (size_t k = 0; k < args.size(); ++k) {
        const Param &p = r->params[k];
        if (p.byRef) {
            const Type *t = args[k]->type;
            if (!addressable(args[k].get()))
                error(args[k]->pos, QStringLiteral("Variable required"));
            if (!sameType(p.type, t) || (t->kind == Kind::Int && (t->bits != p.type->bits || t->isSigned != p.type->isSigned)))
                error(args[k]->pos, QStringLiteral("Types of actual and formal var parameters must be identical"));
        } else {
            args[k] = coerce(std::move(args[k]), p.type);
        }
        depth = std::max(depth, args[k]->depth + 1);
    }
    if (depth > kMaxExprDepth)
        error(pos, QStringLiteral("Expression too complex"));
    if (host) {
        auto c = node<HostCallExpr>(pos, r->result);
        c->routine = r;
        c->args = std::move(args);
        c->depth = depth;
        return c;
    }
    auto c = node<CallExpr>(pos, r->result);
    c->routine = r;
    c->args = std::move(args);
    c->callerLevel = level();
    c->depth = depth;
    return c;
}

// cast = typeName "(" expression ")"
ExprP Compiler::castTo(const Type *t, const Pos &pos)
{
    expect("(");
    ExprP a = expression();
    expect(")");
    const Type *from = a->type;
    const bool ok = (t->ordinal() && from->ordinal()) || (t->kind == Kind::Real && numeric(from)) ||
                    (t->kind == Kind::String && textual(from)) || sameType(t, from);
    if (!ok)
        error(pos, QStringLiteral("Invalid typecast"));
    auto c = node<CastExpr>(pos, t);
    c->depth = a->depth + 1;
    c->a = std::move(a);
    return postfix(fold(std::move(c)));
}

// builtinCall = builtin ["(" [(typeName | expression) {"," (typeName | expression)}] ")"]
ExprP Compiler::builtinCall(int id, const Pos &pos)
{
    std::vector<ExprP> args;
    if (accept("(")) {
        if (!accept(")")) {
            do {
                const Sym *s = tok().kind == Tok::Ident ? lookup(tok().lower) : nullptr;
                if (s && s->k == Sym::K::Type && (peek().is(")") || peek().is(","))) {
                    args.push_back(node<TypeRefExpr>(tok().pos, s->type));
                    ++p_;
                } else {
                    args.push_back(expression());
                }
            } while (accept(","));
            expect(")");
        }
    }
    return postfix(fold(checkBuiltin(id, std::move(args), pos)));
}

}  // namespace pss
