// Built-in routines: evaluation of a call.
#include "ScriptAst.h"
#include "ScriptBuiltins.h"
#include "ScriptFormat.h"
#include "platform/base/DateTimeText.h"

#include <QDateTime>
#include <QFileInfo>

#include <cmath>

namespace pss {

namespace {

const QString kInvalidFloatOp = QStringLiteral("Invalid floating point operation");

void checkLength(Ctx &c, const Pos &pos, qint64 chars)
{
    const qint64 limit = c.mem && c.mem->limit > 0 ? c.mem->limit : (qint64(1) << 31);
    if (chars < 0 || 2 * chars > limit || chars > (qint64(1) << 30))
        Ctx::fail(pos, QStringLiteral("Out of memory"), true);
}

QString asciiCase(QString s, bool upper)
{
    for (QChar &ch : s) {
        const char16_t u = ch.unicode();
        if (upper && u >= 'a' && u <= 'z')
            ch = QChar(char16_t(u - 32));
        else if (!upper && u >= 'A' && u <= 'Z')
            ch = QChar(char16_t(u + 32));
    }
    return s;
}

QString trimmed(const QString &s, bool left, bool right)
{
    qsizetype a = 0, b = s.size();
    while (left && a < b && s[a].unicode() <= ' ')
        ++a;
    while (right && b > a && s[b - 1].unicode() <= ' ')
        --b;
    return s.mid(a, b - a);
}

qint64 checkedInt(double v, const Pos &pos)
{
    if (!std::isfinite(v) || v >= 9.2233720368547758e18 || v < -9.2233720368547758e18)
        Ctx::fail(pos, kInvalidFloatOp);
    return qint64(v);
}

Value resized(Ctx &c, const Value &old, const Type *t, const std::vector<qint64> &lens, size_t k, const Pos &pos)
{
    const qint64 n = lens[k];
    if (n < 0)
        Ctx::fail(pos, QStringLiteral("Range check error"));
    Value v;
    if (n == 0)
        return v;
    v.a = makeAgg(size_t(n), c.mem);
    const size_t keep = old.a ? std::min(old.a->v.size(), size_t(n)) : 0;
    for (size_t e = 0; e < size_t(n); ++e) {
        if (k + 1 < lens.size())
            v.a->v[e] = resized(c, e < keep ? old.a->v[e] : Value(), t->elem, lens, k + 1, pos);
        else if (e < keep)
            v.a->v[e] = copyValue(old.a->v[e], t->elem, c.mem);
        else
            v.a->v[e] = initValue(t->elem, c.mem);
    }
    return v;
}

FormatArg formatArg(const Value &v, const Type *t)
{
    FormatArg a;
    switch (t->kind) {
    case Kind::Int:
        a.kind = FormatArg::K::Int;
        a.is32 = t->bits < 64;
        break;
    case Kind::Real: a.kind = FormatArg::K::Real; break;
    case Kind::String: a.kind = FormatArg::K::Str; break;
    case Kind::Char: a.kind = FormatArg::K::Char; break;
    case Kind::Bool: a.kind = FormatArg::K::Bool; break;
    case Kind::Enum:
    case Kind::Set:
    case Kind::Array:
    case Kind::DynArray:
    case Kind::Record:
    case Kind::Exception:
    case Kind::OpenArray:
    case Kind::Void: break;
    }
    a.i = v.i;
    a.r = v.r;
    a.s = v.s;
    return a;
}

TDateTime now()
{
    TDateTime d = 0;
    QDateTimeToDateTime(QDateTime::currentDateTime(), d);
    return d;
}

}  // namespace

static Value evalString(BuiltinExpr &b, Ctx &c);
static Value evalNumber(BuiltinExpr &b, Ctx &c);
static Value evalVarArgs(BuiltinExpr &b, Ctx &c);
static Value evalDate(BuiltinExpr &b, Ctx &c);

Value BuiltinExpr::eval(Ctx &c)
{
    using namespace bi;
    switch (id) {
    case IntToStr:
    case StrToInt:
    case StrToIntDef:
    case StrToInt64:
    case FloatToStr:
    case StrToFloat:
    case StrToFloatDef:
    case Format:
    case Copy:
    case bi::Pos:
    case UpperCase:
    case LowerCase:
    case AnsiUpperCase:
    case AnsiLowerCase:
    case Trim:
    case TrimLeft:
    case TrimRight:
    case StringReplace:
    case IntToHex:
    case UpCase:
    case StringOfChar:
    case SameText:
    case CompareText:
    case CompareStr:
    case QuotedStr:
    case BoolToStr: return evalString(*this, c);
    case Delete:
    case Insert:
    case Inc:
    case Dec:
    case SetLength:
    case Include:
    case Exclude:
    case DecodeDate:
    case DecodeTime: return evalVarArgs(*this, c);
    case Now:
    case Date:
    case Time:
    case FormatDateTime:
    case DateToStr:
    case TimeToStr:
    case DateTimeToStr:
    case EncodeDate:
    case EncodeTime: return evalDate(*this, c);
    case FileExists: return Value::Int(QFileInfo(args[0]->eval(c).s).isFile());
    case DirectoryExists: return Value::Int(QFileInfo(args[0]->eval(c).s).isDir());
    case ExcCreate: return Value::Str(args[0]->eval(c).s);
    case ExcMessage: return Value::Str(args[0]->eval(c).s);
    case Length: {
        const Value v = args[0]->eval(c);
        if (args[0]->type->kind == Kind::String)
            return Value::Int(v.s.size());
        return Value::Int(v.a ? qint64(v.a->v.size()) : 0);
    }
    case High: {
        const Value v = args[0]->eval(c);
        if (args[0]->type->kind == Kind::String)
            return Value::Int(v.s.size());
        return Value::Int((v.a ? qint64(v.a->v.size()) : 0) - 1);
    }
    default: return evalNumber(*this, c);
    }
}

static Value evalString(BuiltinExpr &b, Ctx &c)
{
    using namespace bi;
    auto str = [&](size_t k) { return b.args[k]->eval(c).s; };
    auto num = [&](size_t k) { return b.args[k]->evalInt(c); };
    switch (b.id) {
    case IntToStr: return Value::Str(QString::number(num(0)));
    case StrToInt:
    case StrToInt64:
    case StrToIntDef: {
        const QString s = str(0);
        qint64 v = 0;
        const bool ok = parseInteger(s, v) && (b.id == StrToInt64 || (v >= INT32_MIN && v <= INT32_MAX));
        if (ok)
            return Value::Int(v);
        if (b.id == StrToIntDef)
            return Value::Int(num(1));
        Ctx::fail(b.pos, QStringLiteral("'%1' is not a valid integer value").arg(s));
    }
    case FloatToStr: return Value::Str(floatToStrGeneral(b.args[0]->evalReal(c)));
    case StrToFloat:
    case StrToFloatDef: {
        const QString s = str(0);
        double v = 0;
        if (parseFloat(s, v))
            return Value::Real(v);
        if (b.id == StrToFloatDef)
            return Value::Real(b.args[1]->evalReal(c));
        Ctx::fail(b.pos, QStringLiteral("'%1' is not a valid floating point value").arg(s));
    }
    case Format: {
        const QString fmt = str(0);
        auto *arr = static_cast<ArrayCtorExpr *>(b.args[1].get());
        std::vector<FormatArg> list;
        for (size_t k = 0; k < arr->items.size(); ++k)
            list.push_back(formatArg(arr->items[k]->eval(c), arr->itemTypes[k]));
        QString out, error;
        if (!formatText(fmt, list, out, error))
            Ctx::fail(b.pos, error);
        checkLength(c, b.pos, out.size());
        return Value::Str(out);
    }
    case Copy: {
        const QString s = str(0);
        qint64 from = std::max<qint64>(num(1), 1);
        const qint64 n = num(2);
        if (from > s.size() || n <= 0)
            return Value::Str(QString());
        return Value::Str(s.mid(qsizetype(from - 1), qsizetype(std::min<qint64>(n, s.size()))));
    }
    case bi::Pos: {
        const QString sub = str(0), s = str(1);
        return Value::Int(sub.isEmpty() ? 0 : s.indexOf(sub) + 1);
    }
    case UpperCase: return Value::Str(asciiCase(str(0), true));
    case LowerCase: return Value::Str(asciiCase(str(0), false));
    case AnsiUpperCase: return Value::Str(str(0).toUpper());
    case AnsiLowerCase: return Value::Str(str(0).toLower());
    case Trim: return Value::Str(trimmed(str(0), true, true));
    case TrimLeft: return Value::Str(trimmed(str(0), true, false));
    case TrimRight: return Value::Str(trimmed(str(0), false, true));
    case StringReplace: {
        QString s = str(0);
        const QString from = str(1), to = str(2);
        const Value flags = b.args[3]->eval(c);
        const bool all = flags.a && flags.a->bits.test(0);
        const Qt::CaseSensitivity cs = flags.a && flags.a->bits.test(1) ? Qt::CaseInsensitive : Qt::CaseSensitive;
        if (from.isEmpty())
            return Value::Str(s);
        if (all) {
            qint64 count = s.count(from, cs);
            checkLength(c, b.pos, s.size() + count * (qint64(to.size()) - from.size()));
            return Value::Str(s.replace(from, to, cs));
        }
        const qsizetype at = s.indexOf(from, 0, cs);
        if (at >= 0)
            s.replace(at, from.size(), to);
        return Value::Str(s);
    }
    case IntToHex: {
        const qint64 v = num(0);
        const quint64 u = b.args[0]->type->bits < 64 ? quint64(quint32(v)) : quint64(v);
        const qint64 digits = std::clamp<qint64>(num(1), 0, 32);
        return Value::Str(QString::number(u, 16).toUpper().rightJustified(qsizetype(digits), QLatin1Char('0')));
    }
    case UpCase: {
        const qint64 ch = num(0);
        return Value::Int(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
    }
    case StringOfChar: {
        const qint64 ch = num(0), n = num(1);
        if (n <= 0)
            return Value::Str(QString());
        checkLength(c, b.pos, n);
        return Value::Str(QString(qsizetype(n), QChar(char16_t(ch))));
    }
    case SameText: return Value::Int(asciiCase(str(0), true) == asciiCase(str(1), true));
    case CompareText: return Value::Int(asciiCase(str(0), true).compare(asciiCase(str(1), true)));
    case CompareStr: return Value::Int(str(0).compare(str(1)));
    case QuotedStr: {
        QString s = str(0);
        return Value::Str(QLatin1Char('\'') + s.replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\''));
    }
    case BoolToStr: {
        const bool v = num(0) != 0;
        if (b.args.size() > 1 && num(1))
            return Value::Str(v ? QStringLiteral("True") : QStringLiteral("False"));
        return Value::Str(v ? QStringLiteral("-1") : QStringLiteral("0"));
    }
    default: break;
    }
    return {};
}

static Value evalVarArgs(BuiltinExpr &b, Ctx &c)
{
    using namespace bi;
    std::shared_ptr<Agg> keep;
    switch (b.id) {
    case Delete: {
        const qint64 from = b.args[1]->evalInt(c), n = b.args[2]->evalInt(c);
        Value *s = b.args[0]->ref(c, &keep);
        if (from >= 1 && from <= s->s.size() && n > 0)
            s->s.remove(qsizetype(from - 1), qsizetype(std::min<qint64>(n, s->s.size())));
        return {};
    }
    case Insert: {
        const QString src = b.args[0]->eval(c).s;
        const qint64 at = b.args[2]->evalInt(c);
        Value *s = b.args[1]->ref(c, &keep);
        checkLength(c, b.pos, qint64(s->s.size()) + src.size());
        chargeString(keep.get(), s->s.size(), qint64(s->s.size()) + src.size());
        s->s.insert(qsizetype(std::clamp<qint64>(at, 1, s->s.size() + 1) - 1), src);
        return {};
    }
    case Inc:
    case Dec: {
        const qint64 step = b.args.size() > 1 ? b.args[1]->evalInt(c) : 1;
        Value *v = b.args[0]->ref(c, &keep);
        const Type *t = b.args[0]->type;
        const qint64 r = qint64(b.id == Inc ? quint64(v->i) + quint64(step) : quint64(v->i) - quint64(step));
        v->i = t->kind == Kind::Int ? wrapInt(t, r) : (t->kind == Kind::Char ? (r & 0xFFFF) : r);
        return {};
    }
    case SetLength: {
        std::vector<qint64> lens;
        for (size_t k = 1; k < b.args.size(); ++k)
            lens.push_back(b.args[k]->evalInt(c));
        Value *v = b.args[0]->ref(c, &keep);
        if (b.args[0]->type->kind == Kind::String) {
            checkLength(c, b.pos, lens[0]);
            chargeString(keep.get(), v->s.size(), std::max<qint64>(lens[0], 0));
            v->s.resize(qsizetype(std::max<qint64>(lens[0], 0)), QChar(0));
        } else {
            Value fresh = resized(c, *v, b.args[0]->type, lens, 0, b.pos);
            v->a = std::move(fresh.a);
        }
        return {};
    }
    case Include:
    case Exclude: {
        const qint64 e = b.args[1]->evalInt(c);
        Value *v = b.args[0]->ref(c, &keep);
        std::bitset<256> bits = v->a ? v->a->bits : std::bitset<256>();
        if (e >= 0 && e < 256)
            bits.set(size_t(e), b.id == Include);
        v->a = makeAgg(0, nullptr);
        v->a->bits = bits;
        return {};
    }
    case DecodeDate:
    case DecodeTime: {
        TDateTimeFields f;
        if (!DecodeDateTime(b.args[0]->evalReal(c), f))
            Ctx::fail(b.pos, QStringLiteral("Invalid argument to date decode"));
        const int parts[2][4] = {{f.Year, f.Month, f.Day, 0}, {f.Hour, f.Minute, f.Second, f.MilliSecond}};
        for (size_t k = 1; k < b.args.size(); ++k) {
            Value *v = b.args[k]->ref(c, &keep);
            v->i = wrapInt(b.args[k]->type, parts[b.id == DecodeDate ? 0 : 1][k - 1]);
        }
        return {};
    }
    default: break;
    }
    return {};
}

static Value evalDate(BuiltinExpr &b, Ctx &c)
{
    using namespace bi;
    switch (b.id) {
    case Now: return Value::Real(now());
    case Date: return Value::Real(std::floor(now()));
    case Time: {
        const double n = now();
        return Value::Real(n - std::floor(n));
    }
    case FormatDateTime: {
        const QString fmt = b.args[0]->eval(c).s;
        return Value::Str(::FormatDateTime(fmt, b.args[1]->evalReal(c)));
    }
    case DateToStr: return Value::Str(::FormatDateTime(QStringLiteral("ddddd"), b.args[0]->evalReal(c)));
    case TimeToStr: return Value::Str(::FormatDateTime(QStringLiteral("tt"), b.args[0]->evalReal(c)));
    case DateTimeToStr: return Value::Str(::FormatDateTime(QStringLiteral("c"), b.args[0]->evalReal(c)));
    case EncodeDate: {
        const qint64 y = b.args[0]->evalInt(c), m = b.args[1]->evalInt(c), d = b.args[2]->evalInt(c);
        TDateTime out = 0;
        if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31 || !TryEncodeDate(int(y), int(m), int(d), out))
            Ctx::fail(b.pos, QStringLiteral("Invalid argument to date encode"));
        return Value::Real(out);
    }
    case EncodeTime: {
        qint64 f[4];
        for (int k = 0; k < 4; ++k)
            f[k] = b.args[size_t(k)]->evalInt(c);
        TDateTime out = 0;
        if (f[0] < 0 || f[0] > 23 || f[1] < 0 || f[1] > 59 || f[2] < 0 || f[2] > 59 || f[3] < 0 || f[3] > 999 ||
            !TryEncodeTime(int(f[0]), int(f[1]), int(f[2]), int(f[3]), out))
            Ctx::fail(b.pos, QStringLiteral("Invalid argument to time encode"));
        return Value::Real(out);
    }
    default: break;
    }
    return {};
}

static Value evalNumber(BuiltinExpr &b, Ctx &c)
{
    using namespace bi;
    auto real = [&](size_t k) { return b.args[k]->evalReal(c); };
    const bool isInt = b.type && b.type->kind == Kind::Int;
    switch (b.id) {
    case Chr: return Value::Int(b.args[0]->evalInt(c) & 0xFFFF);
    case Ord: return Value::Int(b.args[0]->evalInt(c));
    case Succ:
    case Pred: {
        const qint64 v = b.args[0]->evalInt(c);
        const qint64 r = qint64(quint64(v) + (b.id == Succ ? 1 : quint64(-1)));
        return Value::Int(b.type->kind == Kind::Int ? wrapInt(b.type, r) : r);
    }
    case Odd: return Value::Int(b.args[0]->evalInt(c) & 1);
    case Abs:
        if (isInt) {
            const qint64 v = b.args[0]->evalInt(c);
            return Value::Int(wrapInt(b.type, v < 0 ? qint64(0 - quint64(v)) : v));
        }
        return Value::Real(std::fabs(real(0)));
    case Sqr:
        if (isInt) {
            const qint64 v = b.args[0]->evalInt(c);
            return Value::Int(wrapInt(b.type, qint64(quint64(v) * quint64(v))));
        }
        return Value::Real(real(0) * real(0));
    case Sqrt:
    case Ln: {
        const double v = real(0);
        if (v < 0 || (b.id == Ln && v == 0) || std::isnan(v))
            Ctx::fail(b.pos, kInvalidFloatOp);
        return Value::Real(b.id == Sqrt ? std::sqrt(v) : std::log(v));
    }
    case Round: return Value::Int(checkedInt(std::nearbyint(real(0)), b.pos));
    case Trunc: return Value::Int(checkedInt(std::trunc(real(0)), b.pos));
    case Frac: {
        const double v = real(0);
        return Value::Real(v - std::trunc(v));
    }
    case Int: return Value::Real(std::trunc(real(0)));
    case Random: {
        if (b.args.empty())
            return Value::Real(double(c.rng() >> 11) * 0x1.0p-53);
        const qint64 n = b.args[0]->evalInt(c);
        return Value::Int(n <= 0 ? 0 : qint64(c.rng() % quint64(n)));
    }
    case Randomize: c.rng.seed(quint64(std::chrono::steady_clock::now().time_since_epoch().count())); return {};
    case Sin: return Value::Real(std::sin(real(0)));
    case Cos: return Value::Real(std::cos(real(0)));
    case Exp: return Value::Real(std::exp(real(0)));
    case ArcTan: return Value::Real(std::atan(real(0)));
    case Pi: return Value::Real(M_PI);
    case Power: return Value::Real(std::pow(real(0), real(1)));
    case Max:
    case Min:
        if (isInt) {
            const qint64 x = b.args[0]->evalInt(c), y = b.args[1]->evalInt(c);
            return Value::Int(b.id == Max ? std::max(x, y) : std::min(x, y));
        } else {
            const double x = real(0), y = real(1);
            return Value::Real(b.id == Max ? std::max(x, y) : std::min(x, y));
        }
    default: break;
    }
    return {};
}

}  // namespace pss
