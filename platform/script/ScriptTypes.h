// Types and values of the script language.
//
// The compiler resolves every expression's type, so a run-time value carries
// no tag: an ordinal (integer, Boolean, Char, enumeration) or a real lives in
// the union, a string in `s`, and an array, record or set in a shared
// aggregate. Records and static arrays are values (assignment copies into
// the target's own aggregate, whose shape never changes, so a reference to a
// field stays valid); dynamic arrays are shared like Delphi's, and SetLength
// always builds a new aggregate. Sets are immutable once built.
//
// Types are owned by a TypeTable that lives as long as the compiled program.
// Single thread (the engine's).
#pragma once

#include <QString>
#include <QStringList>

#include <bitset>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace pss {

enum class Kind : uint8_t {
    Int, Bool, Char, Enum,  // ordinals
    Real, String, Set, Array, DynArray, Record, Exception, OpenArray, Void
};

struct Type;

struct Field {
    QString name;
    const Type *type = nullptr;
};

struct Type {
    Kind kind = Kind::Void;
    QString name;
    // Ordinals: the range; integers also their storage size.
    qint64 lo = 0, hi = 0;
    int bits = 32;
    bool isSigned = true;
    // Subranges and enumerations point to the type they restrict (the root
    // for compatibility); sets to their element type; arrays to the element.
    const Type *base = nullptr;
    const Type *elem = nullptr;
    QStringList names;  // enumeration constants in order
    std::vector<Field> fields;
    bool single = false;  // Real stored with float precision

    bool ordinal() const { return kind == Kind::Int || kind == Kind::Bool || kind == Kind::Char || kind == Kind::Enum; }
    const Type *root() const { return base && ordinal() ? base->root() : this; }
    // Number of values, at most 2^40 (an Int64 range has more than a qint64 holds).
    qint64 count() const
    {
        const quint64 n = quint64(hi) - quint64(lo);
        return n >= (quint64(1) << 40) ? (qint64(1) << 40) : qint64(n) + 1;
    }
    int fieldIndex(const QString &lowerName) const;
};

struct MemCounter {
    qint64 live = 0;
    qint64 limit = 0;
};

struct Agg;

struct Value {
    union {
        qint64 i;
        double r;
    };
    QString s;
    std::shared_ptr<Agg> a;
    Value() : i(0) {}
    static Value Int(qint64 v) { Value x; x.i = v; return x; }
    static Value Real(double v) { Value x; x.r = v; return x; }
    static Value Str(const QString &v) { Value x; x.s = v; return x; }
};

struct Agg {
    std::vector<Value> v;
    std::bitset<256> bits;
    std::shared_ptr<MemCounter> mem;
    qint64 bytes = 0;
    ~Agg();
};

// Thrown when an aggregate would pass the memory limit.
struct OutOfMemory {};

// A string stored into an aggregate's element counts with the aggregate, so
// that an array of long strings meets the limit too.
void chargeString(Agg *holder, qint64 oldChars, qint64 newChars);

class TypeTable {
public:
    TypeTable();
    Type *add(Type t);
    // The built-in types, by lower-case name.
    const Type *Integer, *Cardinal, *Int64, *Byte, *Word, *SmallInt, *ShortInt;
    const Type *Boolean, *Char, *Double, *Single, *String, *Void, *Exception;
    const Type *EmptySet, *ConstArray;
    std::vector<std::pair<QString, const Type *>> builtins;

private:
    std::deque<Type> all_;
};

// The name shown in messages.
QString typeName(const Type *t);
bool sameType(const Type *a, const Type *b);
// May a value of `from` be stored into `to` (with the usual widening)?
bool assignable(const Type *to, const Type *from);
// Integer arithmetic: the type of a op b.
const Type *intResult(const TypeTable &tt, const Type *a, const Type *b);
// Truncates to the integer type's storage (wraps like Delphi without range checks).
qint64 wrapInt(const Type *t, qint64 v);

// A fresh value of type t (zero, empty, aggregates built).
Value initValue(const Type *t, const std::shared_ptr<MemCounter> &mem);
std::shared_ptr<Agg> makeAgg(size_t n, const std::shared_ptr<MemCounter> &mem);
// dst := src for a value of type t.
void assignValue(Value &dst, const Value &src, const Type *t);
// A copy that shares nothing mutable with src (value parameters, results).
Value copyValue(const Value &src, const Type *t, const std::shared_ptr<MemCounter> &mem);
bool equalValues(const Value &a, const Value &b, const Type *t);

}  // namespace pss
