#include "ScriptTypes.h"

namespace pss {

int Type::fieldIndex(const QString &lowerName) const
{
    for (size_t k = 0; k < fields.size(); ++k)
        if (fields[k].name.toLower() == lowerName)
            return int(k);
    return -1;
}

Agg::~Agg()
{
    if (mem)
        mem->live -= bytes;
}

void chargeString(Agg *holder, qint64 oldChars, qint64 newChars)
{
    if (!holder || !holder->mem)
        return;
    const qint64 delta = 2 * (newChars - oldChars);
    MemCounter &m = *holder->mem;
    if (delta > 0 && m.limit > 0 && m.live + delta > m.limit)
        throw OutOfMemory{};
    m.live += delta;
    holder->bytes += delta;
}

std::shared_ptr<Agg> makeAgg(size_t n, const std::shared_ptr<MemCounter> &mem)
{
    const qint64 bytes = qint64(sizeof(Agg)) + qint64(n) * qint64(sizeof(Value));
    if (mem && mem->limit > 0 && (n > size_t(mem->limit) || mem->live + bytes > mem->limit))
        throw OutOfMemory{};
    auto a = std::make_shared<Agg>();
    a->v.resize(n);
    a->mem = mem;
    a->bytes = bytes;
    if (mem)
        mem->live += bytes;
    return a;
}

static Type intType(const char *name, int bits, bool isSigned)
{
    Type t;
    t.kind = Kind::Int;
    t.name = QString::fromLatin1(name);
    t.bits = bits;
    t.isSigned = isSigned;
    if (bits == 64) {
        t.lo = INT64_MIN;
        t.hi = INT64_MAX;
    } else if (isSigned) {
        t.lo = -(qint64(1) << (bits - 1));
        t.hi = (qint64(1) << (bits - 1)) - 1;
    } else {
        t.lo = 0;
        t.hi = (qint64(1) << bits) - 1;
    }
    return t;
}

TypeTable::TypeTable()
{
    auto reg = [this](const char *name, const Type *t) { builtins.emplace_back(QString::fromLatin1(name), t); };
    Integer = add(intType("Integer", 32, true));
    Cardinal = add(intType("Cardinal", 32, false));
    Int64 = add(intType("Int64", 64, true));
    Byte = add(intType("Byte", 8, false));
    Word = add(intType("Word", 16, false));
    SmallInt = add(intType("SmallInt", 16, true));
    ShortInt = add(intType("ShortInt", 8, true));
    for (auto [n, t] : {std::pair{"integer", Integer}, {"longint", Integer}, {"cardinal", Cardinal},
                        {"longword", Cardinal}, {"dword", Cardinal}, {"int64", Int64}, {"byte", Byte},
                        {"word", Word}, {"smallint", SmallInt}, {"shortint", ShortInt}})
        reg(n, t);
    Type b;
    b.kind = Kind::Bool;
    b.name = QStringLiteral("Boolean");
    b.hi = 1;
    b.names = QStringList{QStringLiteral("False"), QStringLiteral("True")};
    Boolean = add(b);
    reg("boolean", Boolean);
    Type c;
    c.kind = Kind::Char;
    c.name = QStringLiteral("Char");
    c.hi = 0xFFFF;
    Char = add(c);
    reg("char", Char);
    reg("widechar", Char);
    reg("ansichar", Char);
    Type d;
    d.kind = Kind::Real;
    d.name = QStringLiteral("Double");
    Double = add(d);
    for (const char *n : {"double", "extended", "real", "currency", "tdatetime"})
        reg(n, Double);
    d.name = QStringLiteral("Single");
    d.single = true;
    Single = add(d);
    reg("single", Single);
    Type s;
    s.kind = Kind::String;
    s.name = QStringLiteral("string");
    String = add(s);
    for (const char *n : {"string", "widestring", "ansistring", "unicodestring", "shortstring"})
        reg(n, String);
    Type v;
    Void = add(v);
    Type e;
    e.kind = Kind::Exception;
    e.name = QStringLiteral("Exception");
    Exception = add(e);
    reg("exception", Exception);
    Type es;
    es.kind = Kind::Set;
    es.name = QStringLiteral("set");
    EmptySet = add(es);
    Type ca;
    ca.kind = Kind::OpenArray;
    ca.name = QStringLiteral("array of const");
    ConstArray = add(ca);
}

Type *TypeTable::add(Type t)
{
    all_.push_back(std::move(t));
    return &all_.back();
}

QString typeName(const Type *t)
{
    if (!t->name.isEmpty())
        return t->name;
    switch (t->kind) {
    case Kind::Set: return QStringLiteral("set");
    case Kind::Array:
    case Kind::DynArray:
    case Kind::OpenArray: return QStringLiteral("array");
    case Kind::Record: return QStringLiteral("record");
    case Kind::Enum: return QStringLiteral("enumeration");
    case Kind::Int:
    case Kind::Bool:
    case Kind::Char:
    case Kind::Real:
    case Kind::String:
    case Kind::Exception:
    case Kind::Void: break;
    }
    return t->root() != t ? typeName(t->root()) : QStringLiteral("?");
}

bool sameType(const Type *a, const Type *b)
{
    if (a == b)
        return true;
    if (a->ordinal() && b->ordinal())
        return a->root() == b->root() || (a->kind == Kind::Int && b->kind == Kind::Int);
    if (a->kind != b->kind)
        return false;
    switch (a->kind) {
    case Kind::Real:
    case Kind::String:
    case Kind::Exception: return true;
    case Kind::Set:
        return !a->elem || !b->elem || sameType(a->elem, b->elem);
    case Kind::DynArray:
    case Kind::OpenArray: return a->elem && b->elem && sameType(a->elem, b->elem);
    case Kind::Array:
        return a->lo == b->lo && a->hi == b->hi && sameType(a->elem, b->elem) && a->name.isEmpty() &&
               b->name.isEmpty();
    case Kind::Int:
    case Kind::Bool:
    case Kind::Char:
    case Kind::Enum:
    case Kind::Record:
    case Kind::Void: break;
    }
    return false;
}

bool assignable(const Type *to, const Type *from)
{
    if (sameType(to, from))
        return true;
    if (to->kind == Kind::Real && from->kind == Kind::Int)
        return true;
    if (to->kind == Kind::String && from->kind == Kind::Char)
        return true;
    if (to->kind == Kind::OpenArray && from->kind == Kind::DynArray)
        return !to->elem || sameType(to->elem, from->elem);
    return false;
}

const Type *intResult(const TypeTable &tt, const Type *a, const Type *b)
{
    if (a->bits == 64 || b->bits == 64)
        return tt.Int64;
    // Cardinal with an unsigned type stays Cardinal; with a signed one both
    // fit only in Int64.
    const bool ua = a->bits == 32 && !a->isSigned, ub = b->bits == 32 && !b->isSigned;
    if ((ua && !b->isSigned) || (ub && !a->isSigned))
        return tt.Cardinal;
    if (ua || ub)
        return tt.Int64;
    return tt.Integer;
}

qint64 wrapInt(const Type *t, qint64 v)
{
    switch (t->bits) {
    case 8: return t->isSigned ? qint64(int8_t(v)) : qint64(uint8_t(v));
    case 16: return t->isSigned ? qint64(int16_t(v)) : qint64(uint16_t(v));
    case 32: return t->isSigned ? qint64(int32_t(v)) : qint64(uint32_t(v));
    default: return v;
    }
}

Value initValue(const Type *t, const std::shared_ptr<MemCounter> &mem)
{
    Value v;
    switch (t->kind) {
    case Kind::Array: {
        v.a = makeAgg(size_t(t->count()), mem);
        if (t->elem->kind == Kind::Array || t->elem->kind == Kind::Record)
            for (Value &e : v.a->v)
                e = initValue(t->elem, mem);
        break;
    }
    case Kind::Record:
        v.a = makeAgg(t->fields.size(), mem);
        for (size_t k = 0; k < t->fields.size(); ++k)
            v.a->v[k] = initValue(t->fields[k].type, mem);
        break;
    case Kind::Int:
    case Kind::Enum:
        v.i = t->lo > 0 || t->hi < 0 ? t->lo : 0;
        break;
    case Kind::Set:  // no aggregate: the empty set
    case Kind::Bool:
    case Kind::Char:
    case Kind::Real:
    case Kind::String:
    case Kind::DynArray:
    case Kind::Exception:
    case Kind::OpenArray:
    case Kind::Void: break;
    }
    return v;
}

void assignValue(Value &dst, const Value &src, const Type *t)
{
    switch (t->kind) {
    case Kind::Array:
    case Kind::Record:
        if (dst.a == src.a)
            return;
        if (!dst.a || !src.a || dst.a->v.size() != src.a->v.size()) {
            dst.a = src.a;  // shapes always agree for checked code; never index past either
            return;
        }
        for (size_t k = 0; k < src.a->v.size(); ++k)
            assignValue(dst.a->v[k], src.a->v[k], t->kind == Kind::Array ? t->elem : t->fields[k].type);
        return;
    case Kind::String:
    case Kind::Exception: dst.s = src.s; return;
    case Kind::Set:
    case Kind::DynArray:
    case Kind::OpenArray: dst.a = src.a; return;
    case Kind::Real: dst.r = src.r; return;
    case Kind::Int:
    case Kind::Bool:
    case Kind::Char:
    case Kind::Enum:
    case Kind::Void: dst.i = src.i; return;
    }
}

Value copyValue(const Value &src, const Type *t, const std::shared_ptr<MemCounter> &mem)
{
    if (t->kind != Kind::Array && t->kind != Kind::Record)
        return src;
    Value v = initValue(t, mem);
    assignValue(v, src, t);
    return v;
}

bool equalValues(const Value &a, const Value &b, const Type *t)
{
    switch (t->kind) {
    case Kind::Real: return a.r == b.r;
    case Kind::String:
    case Kind::Exception: return a.s == b.s;
    case Kind::Set: return (a.a ? a.a->bits : std::bitset<256>()) == (b.a ? b.a->bits : std::bitset<256>());
    case Kind::Array:
    case Kind::Record: {
        if (!a.a || !b.a || a.a->v.size() != b.a->v.size())
            return a.a == b.a;
        for (size_t k = 0; k < a.a->v.size(); ++k)
            if (!equalValues(a.a->v[k], b.a->v[k], t->kind == Kind::Array ? t->elem : t->fields[k].type))
                return false;
        return true;
    }
    case Kind::DynArray:
    case Kind::OpenArray: return a.a == b.a;
    case Kind::Int:
    case Kind::Bool:
    case Kind::Char:
    case Kind::Enum:
    case Kind::Void: break;
    }
    return a.i == b.i;
}

}  // namespace pss
