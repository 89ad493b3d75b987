// The compiler: the token cursor, scopes, host registrations and the
// declaration part of the grammar.
#include "ScriptCompiler.h"

#include "ScriptBuiltins.h"
#include "platform/base/Graphics.h"

#include <optional>

namespace pss {

namespace {

constexpr int kMaxNesting = 200;
// A static array or record is built whole for every variable of its type.
constexpr qint64 kMaxCells = qint64(1) << 24;

qint64 cellCount(const Type *t)
{
    if (t->kind == Kind::Array)
        return std::min(std::min(t->count(), kMaxCells + 1) * cellCount(t->elem), kMaxCells + 1);
    if (t->kind == Kind::Record) {
        qint64 n = 1;
        for (const Field &f : t->fields)
            n = std::min(n + cellCount(f.type), kMaxCells + 1);
        return n;
    }
    return 1;
}

const char *const kGraphicsTypes[][2] = {
    {"TFontStyle", "(fsBold, fsItalic, fsUnderline, fsStrikeOut)"},
    {"TFontStyles", "set of TFontStyle"},
    {"TFontPitch", "(fpDefault, fpVariable, fpFixed)"},
    {"TPenStyle", "(psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame)"},
    {"TPenMode", "(pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot, "
                 "pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor)"},
    {"TBrushStyle", "(bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross)"},
    {"TReplaceFlag", "(rfReplaceAll, rfIgnoreCase)"},
    {"TReplaceFlags", "set of TReplaceFlag"},
};

const char *const kColours[] = {"clBlack", "clMaroon", "clGreen", "clOlive",  "clNavy", "clPurple",
                                "clTeal",  "clGray",   "clSilver", "clRed",   "clLime", "clYellow",
                                "clBlue",  "clFuchsia", "clAqua",  "clWhite", "clNone", "clDefault"};

}  // namespace

Compiler::Compiler(Program &program) : prog(program), tt(program.types)
{
    scopes_.resize(2);
    for (const auto &[name, type] : tt.builtins) {
        Sym s;
        s.k = Sym::K::Type;
        s.type = type;
        scopes_[0].syms.insert(name, s);
    }
    for (int id = 0; id < builtinCount(); ++id) {
        Sym s;
        s.k = Sym::K::Builtin;
        s.builtin = id;
        scopes_[0].syms.insert(builtinName(id), s);
    }
    for (int b = 0; b < 2; ++b) {
        Sym s;
        s.k = Sym::K::Const;
        s.type = tt.Boolean;
        s.val.i = b;
        scopes_[0].syms.insert(b ? QStringLiteral("true") : QStringLiteral("false"), s);
    }
    Sym colour;
    colour.k = Sym::K::Type;
    colour.type = tt.Integer;
    scopes_[0].syms.insert(QStringLiteral("tcolor"), colour);
    // The graphics import lives with the built-ins: a script may hide it.
    std::swap(scopes_[0], scopes_[1]);
    for (const auto &def : kGraphicsTypes)
        addType(QString::fromLatin1(def[0]), QString::fromLatin1(def[1]));
    for (const char *name : kColours)
        addConstant(QString::fromLatin1(name), QStringLiteral("TColor"),
                    qint64(qint32(IdentToColor(QString::fromLatin1(name)).value_or(0))));
    addConstant(QStringLiteral("MaxInt"), QStringLiteral("Integer"), INT32_MAX);
    addConstant(QStringLiteral("MaxLongInt"), QStringLiteral("Integer"), INT32_MAX);
    std::swap(scopes_[0], scopes_[1]);
    compiling_ = true;
}

void Compiler::error(const Pos &pos, const QString &text) { throw CompileError{pos, text}; }

void Compiler::nest(const Pos &pos)
{
    if (++nesting_ > kMaxNesting)
        error(pos, QStringLiteral("Program too complex: nested too deeply"));
}

bool Compiler::accept(const char *sym)
{
    if (!at(sym))
        return false;
    ++p_;
    return true;
}

void Compiler::expect(const char *sym)
{
    if (accept(sym))
        return;
    if (tok().kind == Tok::Eof)
        error(tok().pos, QStringLiteral("Unexpected end of file"));
    error(tok().pos, QStringLiteral("'%1' expected").arg(QString::fromLatin1(sym)));
}

static bool reserved(const QString &w)
{
    static const QStringList words = {
        QStringLiteral("and"),      QStringLiteral("array"),    QStringLiteral("begin"),   QStringLiteral("case"),
        QStringLiteral("const"),    QStringLiteral("div"),      QStringLiteral("do"),      QStringLiteral("downto"),
        QStringLiteral("else"),     QStringLiteral("end"),      QStringLiteral("except"),  QStringLiteral("finally"),
        QStringLiteral("for"),      QStringLiteral("function"), QStringLiteral("if"),      QStringLiteral("in"),
        QStringLiteral("mod"),      QStringLiteral("not"),      QStringLiteral("of"),      QStringLiteral("or"),
        QStringLiteral("procedure"), QStringLiteral("program"), QStringLiteral("raise"),   QStringLiteral("record"),
        QStringLiteral("repeat"),   QStringLiteral("set"),      QStringLiteral("shl"),     QStringLiteral("shr"),
        QStringLiteral("then"),     QStringLiteral("to"),       QStringLiteral("try"),     QStringLiteral("type"),
        QStringLiteral("until"),    QStringLiteral("var"),      QStringLiteral("while"),   QStringLiteral("with"),
        QStringLiteral("xor"),      QStringLiteral("uses"),     QStringLiteral("on")};
    return words.contains(w);
}

QString Compiler::ident()
{
    const Token &t = tok();
    if (t.kind != Tok::Ident || (reserved(t.lower) && t.lower != QLatin1String("on"))) {
        if (t.kind == Tok::Eof)
            error(t.pos, QStringLiteral("Unexpected end of file"));
        error(t.pos, QStringLiteral("Identifier expected"));
    }
    ++p_;
    return t.text;
}

void Compiler::declare(const QString &name, Sym sym, const Pos &pos)
{
    const QString key = name.toLower();
    if (scope().syms.contains(key))
        error(pos, QStringLiteral("Duplicate identifier '%1'").arg(name));
    scope().syms.insert(key, std::move(sym));
}

const Sym *Compiler::lookup(const QString &lower) const
{
    for (auto it = scopes_.rbegin(); it != scopes_.rend(); ++it) {
        auto f = it->syms.constFind(lower);
        if (f != it->syms.constEnd())
            return &f.value();
    }
    return nullptr;
}

int Compiler::newSlot(const Type *t)
{
    Routine *r = scope().routine;
    if (!r) {
        prog.globals.push_back(t);
        return int(prog.globals.size()) - 1;
    }
    r->cells.push_back(t);
    return int(r->cells.size()) - 1;
}

const Type *Compiler::setOf(const Type *elem)
{
    Type t;
    t.kind = Kind::Set;
    t.elem = elem;
    return tt.add(t);
}

const Type *Compiler::dynArrayOf(const Type *elem)
{
    Type t;
    t.kind = Kind::DynArray;
    t.elem = elem;
    return tt.add(t);
}

// ---- host registrations ----

static bool hostType(const Type *t)
{
    return t->ordinal() || t->kind == Kind::Real || t->kind == Kind::String || t->kind == Kind::Set;
}

bool Compiler::addMethod(const QString &declaration, HostProc proc)
{
    if (!compiling_ || !proc)
        return false;
    try {
        toks_ = tokenize(declaration);
        p_ = 0;
        const bool isFunction = accept("function");
        if (!isFunction)
            expect("procedure");
        auto r = std::make_unique<Routine>();
        r->name = ident();
        r->host = std::move(proc);
        if (at("("))
            params(*r);
        r->result = tt.Void;
        if (isFunction) {
            expect(":");
            r->result = namedType();
            if (!hostType(r->result))
                return false;
        }
        accept(";");
        if (tok().kind != Tok::Eof)
            return false;
        for (const Param &p : r->params)
            if (p.byRef || !hostType(p.type))
                return false;
        const QString key = r->name.toLower();
        if (scopes_[1].syms.contains(key))
            return false;
        Sym s;
        s.k = Sym::K::Host;
        s.routine = r.get();
        scopes_[1].syms.insert(key, s);
        prog.routines.push_back(std::move(r));
        return true;
    } catch (const CompileError &) {
        return false;
    }
}

bool Compiler::addConstant(const QString &name, const QString &typeName, const QVariant &value)
{
    const Sym *ts = lookup(typeName.trimmed().toLower());
    const QString key = name.trimmed().toLower();
    if (!ts || ts->k != Sym::K::Type || key.isEmpty() || scopes_[1].syms.contains(key) || !hostType(ts->type))
        return false;
    for (QChar ch : key)
        if (!ch.isLetterOrNumber() && ch != u'_')
            return false;
    Sym s;
    s.k = Sym::K::Const;
    s.type = ts->type;
    s.val = fromHost(value, ts->type, nullptr);
    scopes_[1].syms.insert(key, s);
    return true;
}

bool Compiler::addType(const QString &name, const QString &definition)
{
    const QString key = name.trimmed().toLower();
    if (key.isEmpty() || scopes_[1].syms.contains(key))
        return false;
    try {
        toks_ = tokenize(definition);
        p_ = 0;
        const Type *t = parseType();
        accept(";");
        if (tok().kind != Tok::Eof)
            return false;
        if (t->name.isEmpty() && (t->kind == Kind::Enum || t->kind == Kind::Record || t->kind == Kind::Set))
            const_cast<Type *>(t)->name = name.trimmed();
        Sym s;
        s.k = Sym::K::Type;
        s.type = t;
        scopes_[1].syms.insert(key, s);
        return true;
    } catch (const CompileError &) {
        return false;
    }
}

// ---- program and declarations ----

void Compiler::compile(Preprocessed &&source)
{
    toks_ = std::move(source.tokens);
    prog.files = source.files;
    p_ = 0;
    compiling_ = false;
    program();
}

// program = ["program" ident ";"] ["uses" ident {"," ident} ";"] declarations compound "."
void Compiler::program()
{
    if (accept("program")) {
        ident();
        expect(";");
    }
    if (accept("uses")) {
        do
            ident();
        while (accept(","));
        expect(";");
    }
    declarations();
    if (!at("begin"))
        error(tok().pos, tok().kind == Tok::Eof ? QStringLiteral("Unexpected end of file")
                                                : QStringLiteral("'BEGIN' expected"));
    prog.main = compound();
    expect(".");
    for (const auto &r : prog.routines)
        if (r->forward && !r->defined)
            error(r->pos, QStringLiteral("Unsatisfied forward or external declaration: '%1'").arg(r->name));
}

// declarations = { constSection | typeSection | varSection | routineDecl }
void Compiler::declarations()
{
    for (;;) {
        if (accept("const"))
            constSection();
        else if (accept("type"))
            typeSection();
        else if (accept("var"))
            varSection();
        else if (at("procedure") || at("function"))
            routineDecl();
        else
            return;
    }
}

// constSection = ident ( "=" expression | ":" type "=" expression ) ";" { ... }
void Compiler::constSection()
{
    do {
        const Pos pos = tok().pos;
        const QString name = ident();
        Sym s;
        if (accept(":")) {
            // A typed constant is an initialised variable.
            const Type *t = parseType();
            expect("=");
            Value v = typedConst(t);
            s.k = Sym::K::Var;
            s.type = t;
            s.level = level();
            s.global = !scope().routine;
            s.slot = newSlot(t);
            if (s.global)
                prog.globalInits.emplace_back(s.slot, v);
            else
                error(pos, QStringLiteral("Typed constants are only allowed at program level"));
        } else {
            expect("=");
            s.k = Sym::K::Const;
            s.val = constValue(s.type);
        }
        expect(";");
        declare(name, s, pos);
    } while (tok().kind == Tok::Ident && !reserved(tok().lower));
}

Value Compiler::constValue(const Type *&type)
{
    const Pos pos = tok().pos;
    ExprP e = fold(expression());
    if (!e->isConst())
        error(pos, QStringLiteral("Constant expression expected"));
    if (type)
        e = fold(coerce(std::move(e), type));
    type = e->type;
    return static_cast<ConstExpr *>(e.get())->v;
}

// typedConst = expression | "(" typedConst {"," typedConst} ")"
//            | "(" ident ":" typedConst {";" ident ":" typedConst} ")"
Value Compiler::typedConst(const Type *t)
{
    NestGuard guard(*this, tok().pos);
    if (t->kind != Kind::Array && t->kind != Kind::Record) {
        const Type *vt = t;
        return constValue(vt);
    }
    const Pos pos = tok().pos;
    Value v = initValue(t, nullptr);
    expect("(");
    if (t->kind == Kind::Array) {
        for (qint64 k = 0; k < t->count(); ++k) {
            if (k > 0)
                expect(",");
            assignValue(v.a->v[size_t(k)], typedConst(t->elem), t->elem);
        }
    } else {
        while (!at(")")) {
            const Pos fpos = tok().pos;
            const QString name = ident();
            const int f = t->fieldIndex(name.toLower());
            if (f < 0)
                error(fpos, QStringLiteral("Unknown identifier '%1'").arg(name));
            expect(":");
            const Type *ft = t->fields[size_t(f)].type;
            assignValue(v.a->v[size_t(f)], typedConst(ft), ft);
            if (!accept(";"))
                break;
        }
    }
    if (!at(")"))
        error(pos, QStringLiteral("Number of elements differs from declaration"));
    expect(")");
    return v;
}

// typeSection = ident "=" type ";" { ... }
void Compiler::typeSection()
{
    do {
        const Pos pos = tok().pos;
        const QString name = ident();
        expect("=");
        const Type *t = parseType();
        if (t->name.isEmpty() && t->kind != Kind::Int)
            const_cast<Type *>(t)->name = name;
        expect(";");
        Sym s;
        s.k = Sym::K::Type;
        s.type = t;
        declare(name, s, pos);
    } while (tok().kind == Tok::Ident && !reserved(tok().lower));
}

// identList = ident {"," ident}
std::vector<std::pair<QString, Pos>> Compiler::identList()
{
    std::vector<std::pair<QString, Pos>> names;
    do {
        const Pos pos = tok().pos;
        names.emplace_back(ident(), pos);
    } while (accept(","));
    return names;
}

// varSection = ident {"," ident} ":" type ["=" expression] ";" { ... }
void Compiler::varSection()
{
    do {
        const std::vector<std::pair<QString, Pos>> names = identList();
        expect(":");
        const Type *t = parseType();
        std::optional<Value> init;
        if (accept("=")) {
            if (names.size() != 1 || scope().routine)
                error(tok().pos, QStringLiteral("';' expected"));
            const Type *vt = t;
            init = constValue(vt);
        }
        expect(";");
        for (const auto &[name, pos] : names) {
            Sym s;
            s.k = Sym::K::Var;
            s.type = t;
            s.level = level();
            s.global = !scope().routine;
            s.slot = newSlot(t);
            if (init)
                prog.globalInits.emplace_back(s.slot, *init);
            declare(name, s, pos);
        }
    } while (tok().kind == Tok::Ident && !reserved(tok().lower));
}

// type = namedType | enumType | subrangeType | arrayType | recordType
//      | "set" "of" type | "string" ["[" expression "]"]
const Type *Compiler::parseType()
{
    NestGuard guard(*this, tok().pos);
    if (at("("))
        return enumType();
    if (at("array"))
        return arrayType();
    if (at("record"))
        return recordType();
    if (accept("packed"))
        return parseType();
    if (accept("set")) {
        expect("of");
        const Pos pos = tok().pos;
        const Type *e = parseType();
        // A set of Char holds the first 256 characters, as Delphi's does.
        if (!e->ordinal())
            error(pos, QStringLiteral("Ordinal type required"));
        if ((e->lo < 0 || e->hi > 255) && e->kind != Kind::Char)
            error(pos, QStringLiteral("Sets may have at most 256 elements"));
        return setOf(e);
    }
    if (tok().kind == Tok::Ident) {
        const Sym *s = lookup(tok().lower);
        if (s && s->k == Sym::K::Type && !peek().is("..")) {
            ++p_;
            if (s->type->kind == Kind::String && accept("[")) {
                ordinalConst();
                expect("]");
            }
            return s->type;
        }
    }
    return subrangeType();
}

// namedType = ident   (a type's name)
const Type *Compiler::namedType()
{
    const Pos pos = tok().pos;
    if (at("array")) {
        ++p_;
        expect("of");
        if (accept("const"))
            return tt.ConstArray;
        Type t;
        t.kind = Kind::OpenArray;
        t.elem = namedType();
        return tt.add(t);
    }
    const QString name = ident();
    const Sym *s = lookup(name.toLower());
    if (!s)
        error(pos, QStringLiteral("Unknown identifier '%1'").arg(name));
    if (s->k != Sym::K::Type)
        error(pos, QStringLiteral("Type identifier expected"));
    return s->type;
}

// enumType = "(" ident {"," ident} ")"
const Type *Compiler::enumType()
{
    expect("(");
    Type t;
    t.kind = Kind::Enum;
    const std::vector<std::pair<QString, Pos>> names = identList();
    for (const auto &entry : names)
        t.names << entry.first;
    expect(")");
    t.hi = qint64(names.size()) - 1;
    const Type *type = tt.add(t);
    for (size_t k = 0; k < names.size(); ++k) {
        Sym s;
        s.k = Sym::K::Const;
        s.type = type;
        s.val.i = qint64(k);
        declare(names[k].first, s, names[k].second);
    }
    return type;
}

// subrangeType = expression ".." expression   (constants of one ordinal type)
const Type *Compiler::subrangeType()
{
    const Pos pos = tok().pos;
    const Type *lt = nullptr, *ht = nullptr;
    const qint64 lo = ordinalConst(&lt);
    expect("..");
    const qint64 hi = ordinalConst(&ht);
    if (!sameType(lt, ht))
        error(pos, QStringLiteral("Type mismatch"));
    if (lo > hi)
        error(pos, QStringLiteral("Low bound exceeds high bound"));
    Type t = *lt->root();
    t.name.clear();
    t.base = lt->root();
    t.lo = lo;
    t.hi = hi;
    if (t.kind == Kind::Int) {
        // Storage: the smallest of the usual integer types that holds the range.
        t.bits = (lo >= -128 && hi <= 127) || (lo >= 0 && hi <= 255) ? 8
                 : (lo >= -32768 && hi <= 32767) || (lo >= 0 && hi <= 65535) ? 16
                 : (lo >= INT32_MIN && hi <= INT32_MAX) || (lo >= 0 && hi <= UINT32_MAX) ? 32 : 64;
        t.isSigned = lo < 0 || t.bits == 64;
        t.base = nullptr;
    }
    return tt.add(t);
}

qint64 Compiler::ordinalConst(const Type **type)
{
    const Pos pos = tok().pos;
    ExprP e = fold(simpleExpression());
    if (!e->isConst() || !e->type->ordinal())
        error(pos, QStringLiteral("Constant expression expected"));
    if (type)
        *type = e->type;
    return static_cast<ConstExpr *>(e.get())->v.i;
}

// arrayType = "array" ["[" indexType {"," indexType} "]"] "of" type
const Type *Compiler::arrayType()
{
    expect("array");
    std::vector<const Type *> ranges;
    if (accept("[")) {
        do {
            const Pos pos = tok().pos;
            const Type *r = parseType();
            if (!r->ordinal())
                error(pos, QStringLiteral("Ordinal type required"));
            if (r->count() <= 0 || r->count() > (1 << 24))
                error(pos, QStringLiteral("Data type too large"));
            ranges.push_back(r);
        } while (accept(","));
        expect("]");
    }
    expect("of");
    const Pos epos = tok().pos;
    const Type *elem = parseType();
    if (ranges.empty())
        return dynArrayOf(elem);
    qint64 cells = cellCount(elem);
    for (const Type *r : ranges)
        cells = std::min(cells * std::min(r->count(), kMaxCells + 1), kMaxCells + 1);
    if (cells > kMaxCells)
        error(epos, QStringLiteral("Data type too large"));
    for (auto it = ranges.rbegin(); it != ranges.rend(); ++it) {
        Type t;
        t.kind = Kind::Array;
        t.lo = (*it)->lo;
        t.hi = (*it)->hi;
        t.base = *it;
        t.elem = elem;
        elem = tt.add(t);
    }
    return elem;
}

// recordType = "record" { ident {"," ident} ":" type ";" } "end"
const Type *Compiler::recordType()
{
    expect("record");
    Type t;
    t.kind = Kind::Record;
    while (!at("end")) {
        const std::vector<std::pair<QString, Pos>> names = identList();
        expect(":");
        const Type *ft = parseType();
        for (const auto &[n, pos] : names) {
            if (t.fieldIndex(n.toLower()) >= 0)
                error(pos, QStringLiteral("Duplicate identifier '%1'").arg(n));
            t.fields.push_back(Field{n, ft});
        }
        if (!accept(";"))
            break;
    }
    expect("end");
    qint64 cells = 0;
    for (const Field &f : t.fields)
        cells += cellCount(f.type);
    if (cells > kMaxCells)
        error(tok().pos, QStringLiteral("Data type too large"));
    return tt.add(t);
}

// routineDecl = ("procedure" | "function") ident [params] [":" namedType] ";"
//               ("forward" ";" | declarations compound ";")
void Compiler::routineDecl()
{
    const bool isFunction = at("function");
    ++p_;
    const Pos pos = tok().pos;
    const QString name = ident();
    auto owned = std::make_unique<Routine>();
    Routine *r = owned.get();
    r->name = name;
    r->pos = pos;
    r->level = level() + 1;
    r->result = tt.Void;
    if (at("("))
        params(*r);
    if (isFunction) {
        expect(":");
        r->result = namedType();
    }
    expect(";");
    const QString key = name.toLower();
    const auto prev = scope().syms.constFind(key);
    Routine *target = r;
    if (prev != scope().syms.constEnd() && prev->k == Sym::K::Routine && prev->routine->forward &&
        !prev->routine->defined) {
        target = prev->routine;
        if (target->params.size() != r->params.size() || !sameType(target->result, r->result))
            error(pos, QStringLiteral("Declaration of '%1' differs from previous declaration").arg(name));
    } else {
        Sym s;
        s.k = Sym::K::Routine;
        s.routine = r;
        declare(name, s, pos);
        prog.routines.push_back(std::move(owned));
    }
    if (accept("forward")) {
        target->forward = true;
        expect(";");
        return;
    }
    routineBody(*target);
    target->defined = true;
    expect(";");
}

// params = "(" paramGroup {";" paramGroup} ")"
void Compiler::params(Routine &r)
{
    expect("(");
    if (accept(")"))
        return;
    do
        paramGroup(r);
    while (accept(";"));
    expect(")");
}

// paramGroup = ["var" | "const" | "out"] ident {"," ident} ":" namedType
void Compiler::paramGroup(Routine &r)
{
    const bool byRef = accept("var") || accept("out");
    const bool isConst = !byRef && accept("const");
    std::vector<QString> names;
    do
        names.push_back(ident());
    while (accept(","));
    expect(":");
    const Type *t = namedType();
    for (const QString &n : names) {
        Param p;
        p.name = n;
        p.type = t;
        p.byRef = byRef;
        p.isConst = isConst;
        r.params.push_back(p);
    }
}

void Compiler::routineBody(Routine &r)
{
    if (r.defined)
        error(r.pos, QStringLiteral("Duplicate identifier '%1'").arg(r.name));
    if (r.level > 32)
        error(r.pos, QStringLiteral("Program too complex: nested too deeply"));
    Scope sc;
    sc.level = r.level;
    sc.routine = &r;
    scopes_.push_back(std::move(sc));
    r.cells.clear();
    r.nRefs = 0;
    for (Param &p : r.params) {
        Sym s;
        s.k = Sym::K::Var;
        s.type = p.type;
        s.level = r.level;
        s.readOnly = p.isConst;
        if (p.byRef) {
            s.viaRef = true;
            p.index = s.slot = r.nRefs++;
        } else {
            p.index = s.slot = newSlot(p.type);
        }
        declare(p.name, s, r.pos);
    }
    if (r.isFunction()) {
        r.resultSlot = newSlot(r.result);
        Sym s;
        s.k = Sym::K::Var;
        s.type = r.result;
        s.level = r.level;
        s.slot = r.resultSlot;
        scope().syms.insert(QStringLiteral("result"), s);
    }
    // The routine itself is visible inside, for recursion.
    if (!scope().syms.contains(r.name.toLower())) {
        Sym self;
        self.k = Sym::K::Routine;
        self.routine = &r;
        scope().syms.insert(r.name.toLower(), self);
    }
    const int savedLoops = loops_;
    loops_ = 0;
    declarations();
    if (!at("begin"))
        error(tok().pos, QStringLiteral("'BEGIN' expected"));
    r.body = compound();
    loops_ = savedLoops;
    scopes_.pop_back();
}

}  // namespace pss
