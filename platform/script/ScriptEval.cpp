// Expression nodes: evaluation.
#include "ScriptAst.h"

#include <cmath>

namespace pss {

namespace {

const QString kIndexOutOfRange = QStringLiteral("Index out of range");
const QString kDivByZero = QStringLiteral("Division by zero");

qint64 addWrap(qint64 a, qint64 b) { return qint64(quint64(a) + quint64(b)); }
qint64 subWrap(qint64 a, qint64 b) { return qint64(quint64(a) - quint64(b)); }
qint64 mulWrap(qint64 a, qint64 b) { return qint64(quint64(a) * quint64(b)); }

std::bitset<256> bitsOf(const Value &v) { return v.a ? v.a->bits : std::bitset<256>(); }

Value setValue(const std::bitset<256> &bits)
{
    Value v;
    if (bits.any()) {
        v.a = makeAgg(0, nullptr);
        v.a->bits = bits;
    }
    return v;
}

int compareOrdered(const Value &x, const Value &y, const Type *t)
{
    switch (t->kind) {
    case Kind::Real: return x.r < y.r ? -1 : (x.r > y.r ? 1 : 0);
    case Kind::String: return x.s.compare(y.s);
    case Kind::Int:
    case Kind::Bool:
    case Kind::Char:
    case Kind::Enum:
        if (t->kind == Kind::Int && t->bits == 64 && !t->isSigned)
            return quint64(x.i) < quint64(y.i) ? -1 : (x.i == y.i ? 0 : 1);
        return x.i < y.i ? -1 : (x.i > y.i ? 1 : 0);
    case Kind::Set:
    case Kind::Array:
    case Kind::DynArray:
    case Kind::Record:
    case Kind::Exception:
    case Kind::OpenArray:
    case Kind::Void: break;
    }
    return 0;
}

bool compare(Op op, const Value &x, const Value &y, const Type *t)
{
    if (t->kind == Kind::Set) {
        const auto a = bitsOf(x), b = bitsOf(y);
        switch (op) {
        case Op::Eq: return a == b;
        case Op::Ne: return a != b;
        case Op::Le: return (a & ~b).none();
        case Op::Ge: return (b & ~a).none();
        default: return false;
        }
    }
    if (t->kind == Kind::Real && (std::isnan(x.r) || std::isnan(y.r)))
        return op == Op::Ne;
    const int r = compareOrdered(x, y, t);
    switch (op) {
    case Op::Eq: return r == 0;
    case Op::Ne: return r != 0;
    case Op::Lt: return r < 0;
    case Op::Gt: return r > 0;
    case Op::Le: return r <= 0;
    case Op::Ge: return r >= 0;
    default: return false;
    }
}

bool isCompare(Op op) { return op == Op::Eq || op == Op::Ne || op == Op::Lt || op == Op::Gt || op == Op::Le || op == Op::Ge; }

}  // namespace

Value *IndexExpr::at(Ctx &c, std::shared_ptr<Agg> *keep)
{
    std::shared_ptr<Agg> outer;
    Value *b = base->ref(c, &outer);
    std::shared_ptr<Agg> agg = b ? b->a : base->eval(c).a;
    const qint64 i = index->evalInt(c);
    const quint64 k = quint64(i) - quint64(lo);  // no overflow for bounds near the Int64 limits
    if (!agg || i < lo || k >= agg->v.size())
        Ctx::fail(pos, kIndexOutOfRange);
    Value *e = &agg->v[size_t(k)];
    *keep = std::move(agg);
    return e;
}

Value *FieldExpr::at(Ctx &c, std::shared_ptr<Agg> *keep)
{
    std::shared_ptr<Agg> outer;
    Value *b = base->ref(c, &outer);
    std::shared_ptr<Agg> agg = b ? b->a : base->eval(c).a;
    if (!agg || field >= int(agg->v.size()))
        Ctx::fail(pos, kIndexOutOfRange);
    Value *e = &agg->v[size_t(field)];
    *keep = std::move(agg);
    return e;
}

Value *WithRefExpr::at(Ctx &c, std::shared_ptr<Agg> *keep)
{
    Frame *f = global ? c.globals : c.frame;
    std::shared_ptr<Agg> agg = f->cells[size_t(slot)].a;
    if (!agg || field >= int(agg->v.size()))
        Ctx::fail(pos, kIndexOutOfRange);
    Value *e = &agg->v[size_t(field)];
    *keep = std::move(agg);
    return e;
}

Value StrIndexExpr::eval(Ctx &c)
{
    const Value s = base->eval(c);
    const qint64 i = index->evalInt(c);
    if (i < 1 || i > s.s.size())
        Ctx::fail(pos, kIndexOutOfRange);
    return Value::Int(s.s[qsizetype(i - 1)].unicode());
}

Value UnaryExpr::eval(Ctx &c)
{
    if (type->kind == Kind::Real)
        return Value::Real(evalReal(c));
    return Value::Int(evalInt(c));
}

qint64 UnaryExpr::evalInt(Ctx &c)
{
    const qint64 v = a->evalInt(c);
    if (op == Op::Neg)
        return wrapInt(type, subWrap(0, v));
    if (type->kind == Kind::Bool)
        return v ? 0 : 1;
    return wrapInt(type, ~v);
}

double UnaryExpr::evalReal(Ctx &c) { return -a->evalReal(c); }

Value BinExpr::eval(Ctx &c)
{
    switch (type->kind) {
    case Kind::Real: return Value::Real(evalReal(c));
    case Kind::Int:
    case Kind::Bool:
    case Kind::Char:
    case Kind::Enum: return Value::Int(evalInt(c));
    case Kind::String: {
        Value x = a->eval(c);
        const Value y = b->eval(c);
        if (c.mem && c.mem->limit > 0 && 2 * (qint64(x.s.size()) + y.s.size()) > c.mem->limit)
            Ctx::fail(pos, QStringLiteral("Out of memory"), true);
        x.s += y.s;
        return x;
    }
    case Kind::Set: {
        const auto x = bitsOf(a->eval(c)), y = bitsOf(b->eval(c));
        switch (op) {
        case Op::Add: return setValue(x | y);
        case Op::Sub: return setValue(x & ~y);
        case Op::Mul: return setValue(x & y);
        default: break;
        }
        break;
    }
    case Kind::Array:
    case Kind::DynArray:
    case Kind::Record:
    case Kind::Exception:
    case Kind::OpenArray:
    case Kind::Void: break;
    }
    Ctx::fail(pos, QStringLiteral("Invalid operation"));
}

qint64 BinExpr::evalInt(Ctx &c)
{
    if (isCompare(op)) {
        if (operand->ordinal()) {
            const qint64 x = a->evalInt(c), y = b->evalInt(c);
            Value vx = Value::Int(x), vy = Value::Int(y);
            return compare(op, vx, vy, operand);
        }
        if (operand->kind == Kind::Real) {
            Value vx = Value::Real(a->evalReal(c)), vy = Value::Real(b->evalReal(c));
            return compare(op, vx, vy, operand);
        }
        return compare(op, a->eval(c), b->eval(c), operand);
    }
    if (op == Op::In) {
        const qint64 x = a->evalInt(c);
        const Value s = b->eval(c);
        return x >= 0 && x < 256 && bitsOf(s).test(size_t(x));
    }
    if (type->kind == Kind::Bool) {
        switch (op) {
        case Op::And: return a->evalInt(c) ? (b->evalInt(c) != 0) : 0;
        case Op::Or: return a->evalInt(c) ? 1 : (b->evalInt(c) != 0);
        case Op::Xor: return (a->evalInt(c) != 0) != (b->evalInt(c) != 0);
        default: break;
        }
    }
    const qint64 x = a->evalInt(c), y = b->evalInt(c);
    const int width = type->bits == 64 ? 64 : 32;
    switch (op) {
    case Op::Add: return wrapInt(type, addWrap(x, y));
    case Op::Sub: return wrapInt(type, subWrap(x, y));
    case Op::Mul: return wrapInt(type, mulWrap(x, y));
    case Op::IDiv:
    case Op::Mod:
        if (y == 0)
            Ctx::fail(pos, kDivByZero);
        if (y == -1)
            return op == Op::Mod ? 0 : wrapInt(type, subWrap(0, x));
        if (type->bits == 32 && !type->isSigned)
            return op == Op::Mod ? qint64(quint32(x) % quint32(y)) : qint64(quint32(x) / quint32(y));
        return wrapInt(type, op == Op::Mod ? x % y : x / y);
    case Op::And: return wrapInt(type, x & y);
    case Op::Or: return wrapInt(type, x | y);
    case Op::Xor: return wrapInt(type, x ^ y);
    case Op::Shl: return wrapInt(type, qint64(quint64(x) << (y & (width - 1))));
    case Op::Shr: {
        const quint64 ux = width == 64 ? quint64(x) : quint64(quint32(x));
        return wrapInt(type, qint64(ux >> (y & (width - 1))));
    }
    default: break;
    }
    Ctx::fail(pos, QStringLiteral("Invalid operation"));
}

double BinExpr::evalReal(Ctx &c)
{
    const double x = a->evalReal(c), y = b->evalReal(c);
    switch (op) {
    case Op::Add: return x + y;
    case Op::Sub: return x - y;
    case Op::Mul: return x * y;
    case Op::Div:
        if (y == 0)
            Ctx::fail(pos, kDivByZero);
        return x / y;
    default: break;
    }
    Ctx::fail(pos, QStringLiteral("Invalid operation"));
}

Value ConvExpr::eval(Ctx &c)
{
    switch (conv) {
    case Conv::IntToReal: return Value::Real(double(a->evalInt(c)));
    case Conv::CharToStr: return Value::Str(QString(QChar(char16_t(a->evalInt(c)))));
    case Conv::IntWrap: return Value::Int(wrapInt(type, a->evalInt(c)));
    case Conv::ToSingle: return Value::Real(double(float(a->evalReal(c))));
    }
    return {};
}

Value SetExpr::eval(Ctx &c)
{
    std::bitset<256> bits;
    for (auto &[lo, hi] : items) {
        const qint64 x = lo->evalInt(c);
        const qint64 y = hi ? hi->evalInt(c) : x;
        for (qint64 k = std::max<qint64>(x, 0); k <= std::min<qint64>(y, 255); ++k)
            bits.set(size_t(k));
    }
    return setValue(bits);
}

Value ArrayCtorExpr::eval(Ctx &c)
{
    Value v;
    v.a = makeAgg(items.size(), c.mem);
    for (size_t k = 0; k < items.size(); ++k)
        v.a->v[k] = items[k]->eval(c);
    return v;
}

Value CastExpr::eval(Ctx &c)
{
    const Type *from = a->type;
    if (type->ordinal()) {
        const qint64 v = from->kind == Kind::Real ? qint64(a->evalReal(c)) : a->evalInt(c);
        if (type->kind == Kind::Int)
            return Value::Int(wrapInt(type, v));
        if (type->kind == Kind::Bool)
            return Value::Int(v != 0);
        if (type->kind == Kind::Char)
            return Value::Int(v & 0xFFFF);
        return Value::Int(v);
    }
    if (type->kind == Kind::Real)
        return Value::Real(from->kind == Kind::Real ? a->evalReal(c) : double(a->evalInt(c)));
    if (type->kind == Kind::String && from->kind == Kind::Char)
        return Value::Str(QString(QChar(char16_t(a->evalInt(c)))));
    return a->eval(c);
}

}  // namespace pss
