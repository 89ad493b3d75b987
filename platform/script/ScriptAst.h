// The compiled program: a tree of nodes whose names are already resolved to
// frame cells, routines and built-ins, and the run context that executes it.
//
// Frames: the main block runs on the globals frame; every call gets a new
// frame whose static link points to the frame of the routine it is declared
// in, so nested routines reach their parents' locals by a hop count. A var
// parameter is a Ref in the frame: an address plus a hold on the aggregate
// that contains it, so a dynamic array resized meanwhile does not leave the
// address dangling.
//
// Errors: a run error is thrown as RunError; those a script may catch
// (raise, division by zero, index out of range, a host routine's error) are
// not fatal; a stop request, stack overflow and the memory limit are fatal
// and pass through every except block. Single thread, except that the stop
// flag is read here and set from any thread.
#pragma once

#include "ScriptLexer.h"
#include "ScriptTypes.h"

#include <QVariant>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

namespace pss {

struct RunError {
    QString text;
    Pos pos;
    bool fatal = false;
};

struct Ref {
    Value *p = nullptr;
    std::shared_ptr<Agg> keep;
};

struct Frame {
    std::vector<Value> cells;
    std::vector<Ref> refs;
    Frame *link = nullptr;
};

struct Program;
struct Routine;

// Shared with the threads that may stop a run.
struct StopState {
    std::atomic<bool> running{false};
    std::atomic<bool> requested{false};
    std::mutex lock;  // guards reason
    QString reason;
};

struct Ctx {
    Program *prog = nullptr;
    Frame *frame = nullptr;
    Frame *globals = nullptr;
    int depth = 0;
    int maxDepth = 2000;
    const char *stackBase = nullptr;
    size_t stackBudget = 0;
    StopState *stop = nullptr;
    std::function<void()> onIdle;
    unsigned ticks = 0;
    std::chrono::steady_clock::time_point lastIdle;
    std::shared_ptr<MemCounter> mem;
    std::vector<RunError> handling;  // exceptions of the except blocks being run, for re-raise
    std::mt19937_64 rng;  // unseeded until Randomize, so runs repeat
    Pos cur;              // the statement being run, for errors found below any node

    void poll(const Pos &pos)
    {
        if (stop->requested.load(std::memory_order_acquire))
            stopped(pos);
        if (++ticks >= 1024)
            idle(pos);
    }
    [[noreturn]] void stopped(const Pos &pos);
    void idle(const Pos &pos);
    [[noreturn]] static void fail(const Pos &pos, const QString &text, bool fatal = false)
    {
        throw RunError{text, pos, fatal};
    }
    void enter(const Pos &pos);
    void leave() { --depth; }
    Frame *hop(int hops) const
    {
        Frame *f = frame;
        while (hops-- > 0 && f->link)
            f = f->link;
        return f;
    }
};

struct Node {
    Pos pos;
    virtual ~Node() = default;
};

struct Expr : Node {
    const Type *type = nullptr;
    int depth = 1;  // height of the tree below, bounded by the compiler
    virtual Value eval(Ctx &c) = 0;
    virtual qint64 evalInt(Ctx &c) { return eval(c).i; }
    virtual double evalReal(Ctx &c) { return eval(c).r; }
    // Address of the variable this expression names; nullptr when it names none.
    virtual Value *ref(Ctx &, std::shared_ptr<Agg> *) { return nullptr; }
    virtual bool isConst() const { return false; }
};
using ExprP = std::unique_ptr<Expr>;

enum class Flow { Normal, Break, Continue, Exit };

struct Stmt : Node {
    virtual Flow exec(Ctx &c) = 0;
};
using StmtP = std::unique_ptr<Stmt>;

struct Param {
    QString name;
    const Type *type = nullptr;
    bool byRef = false;
    bool isConst = false;
    int index = 0;  // slot, or ref index when byRef
};

using HostProc = std::function<QVariant(const QVariantList &)>;

struct Routine {
    QString name;
    int level = 1;
    std::vector<Param> params;
    const Type *result = nullptr;  // Void for a procedure
    std::vector<const Type *> cells;
    int nRefs = 0;
    int resultSlot = -1;
    StmtP body;
    bool forward = false;
    bool defined = false;
    HostProc host;
    Pos pos;
    bool isFunction() const { return result && result->kind != Kind::Void; }
};

struct Program {
    TypeTable types;
    std::vector<std::unique_ptr<Routine>> routines;
    std::vector<const Type *> globals;
    StmtP main;
    QStringList files;
    std::vector<std::pair<int, Value>> globalInits;  // typed constants
};

// Runs a routine with arguments already evaluated into a new frame.
Value callRoutine(Ctx &c, Routine &r, Frame &frame, const Pos &pos);
// Converts between run values and host values.
QVariant toHost(const Value &v, const Type *t);
Value fromHost(const QVariant &v, const Type *t, const std::shared_ptr<MemCounter> &mem);

// ---- expression nodes ----

struct ConstExpr : Expr {
    Value v;
    Value eval(Ctx &) override { return v; }
    qint64 evalInt(Ctx &) override { return v.i; }
    double evalReal(Ctx &) override { return v.r; }
    bool isConst() const override { return true; }
};

struct VarExpr : Expr {
    int slot = 0;
    int hops = 0;       // frames up the static chain
    bool global = false;
    bool viaRef = false;  // a var parameter
    bool readOnly = false;
    Value *addr(Ctx &c, std::shared_ptr<Agg> *keep) const
    {
        Frame *f = global ? c.globals : c.hop(hops);
        if (!viaRef)
            return &f->cells[size_t(slot)];
        Ref &r = f->refs[size_t(slot)];
        if (keep)
            *keep = r.keep;
        return r.p;
    }
    Value eval(Ctx &c) override { return *addr(c, nullptr); }
    qint64 evalInt(Ctx &c) override { return addr(c, nullptr)->i; }
    double evalReal(Ctx &c) override { return addr(c, nullptr)->r; }
    Value *ref(Ctx &c, std::shared_ptr<Agg> *keep) override { return addr(c, keep); }
};

// An element held in an aggregate: an array's or a record's.
struct ElementExpr : Expr {
    // `keep` receives the aggregate holding the element; never null.
    virtual Value *at(Ctx &c, std::shared_ptr<Agg> *keep) = 0;
    Value eval(Ctx &c) override
    {
        std::shared_ptr<Agg> hold;
        return *at(c, &hold);
    }
    qint64 evalInt(Ctx &c) override
    {
        std::shared_ptr<Agg> hold;
        return at(c, &hold)->i;
    }
    double evalReal(Ctx &c) override
    {
        std::shared_ptr<Agg> hold;
        return at(c, &hold)->r;
    }
    Value *ref(Ctx &c, std::shared_ptr<Agg> *keep) override
    {
        std::shared_ptr<Agg> hold;
        return at(c, keep ? keep : &hold);
    }
};

struct IndexExpr : ElementExpr {  // arrays
    ExprP base, index;
    qint64 lo = 0;
    Value *at(Ctx &c, std::shared_ptr<Agg> *keep) override;
};

struct StrIndexExpr : Expr {  // s[i], a Char
    ExprP base, index;
    Value eval(Ctx &c) override;
    qint64 evalInt(Ctx &c) override { return eval(c).i; }
};

struct FieldExpr : ElementExpr {
    ExprP base;
    int field = 0;
    Value *at(Ctx &c, std::shared_ptr<Agg> *keep) override;
};

enum class Op { Add, Sub, Mul, Div, IDiv, Mod, And, Or, Xor, Shl, Shr, Eq, Ne, Lt, Gt, Le, Ge, In, Neg, Not };

struct UnaryExpr : Expr {
    Op op;
    ExprP a;
    Value eval(Ctx &c) override;
    qint64 evalInt(Ctx &c) override;
    double evalReal(Ctx &c) override;
};

struct BinExpr : Expr {
    Op op;
    ExprP a, b;
    const Type *operand = nullptr;  // the type both sides were brought to
    Value eval(Ctx &c) override;
    qint64 evalInt(Ctx &c) override;
    double evalReal(Ctx &c) override;
};

enum class Conv { IntToReal, CharToStr, IntWrap, ToSingle };

struct ConvExpr : Expr {
    Conv conv;
    ExprP a;
    Value eval(Ctx &c) override;
    qint64 evalInt(Ctx &c) override { return wrapInt(type, a->evalInt(c)); }
    double evalReal(Ctx &c) override { return eval(c).r; }
};

struct SetExpr : Expr {  // [a, b..c]
    std::vector<std::pair<ExprP, ExprP>> items;  // second is null for a single element
    Value eval(Ctx &c) override;
};

struct ArrayCtorExpr : Expr {  // [a, b] for open array parameters
    std::vector<ExprP> items;
    std::vector<const Type *> itemTypes;  // array of const: each item's own type
    Value eval(Ctx &c) override;
};

struct CallExpr : Expr {
    Routine *routine = nullptr;
    std::vector<ExprP> args;
    int callerLevel = 0;
    Value eval(Ctx &c) override;
};

struct HostCallExpr : Expr {
    Routine *routine = nullptr;
    std::vector<ExprP> args;
    Value eval(Ctx &c) override;
};

struct TypeRefExpr : Expr {  // a type name as argument of High, Low, SizeOf
    Value eval(Ctx &) override { return {}; }
};

struct CastExpr : Expr {  // Integer(x), Char(65), TEnum(1)
    ExprP a;
    Value eval(Ctx &c) override;
};

struct BuiltinExpr : Expr {
    int id = 0;
    std::vector<ExprP> args;
    Value eval(Ctx &c) override;
};

// ---- statements ----

struct Block : Stmt {
    std::vector<StmtP> list;
    Flow exec(Ctx &c) override;
};

struct ExprStmt : Stmt {
    ExprP e;
    Flow exec(Ctx &c) override;
};

struct AssignStmt : Stmt {
    ExprP target, value;
    Flow exec(Ctx &c) override;
};

struct StrCharAssign : Stmt {  // s[i] := c
    ExprP str, index, value;
    Flow exec(Ctx &c) override;
};

struct IfStmt : Stmt {
    ExprP cond;
    StmtP then, other;
    Flow exec(Ctx &c) override;
};

struct WhileStmt : Stmt {
    ExprP cond;
    StmtP body;
    Flow exec(Ctx &c) override;
};

struct RepeatStmt : Stmt {
    ExprP cond;
    std::unique_ptr<Block> body;
    Flow exec(Ctx &c) override;
};

struct ForStmt : Stmt {
    ExprP var, from, to;
    bool down = false;
    StmtP body;
    Flow exec(Ctx &c) override;
};

struct CaseArm {
    std::vector<std::pair<qint64, qint64>> labels;  // ranges; a single value has lo == hi
    StmtP body;
};

struct CaseStmt : Stmt {
    ExprP sel;
    std::vector<CaseArm> arms;
    StmtP other;
    Flow exec(Ctx &c) override;
};

struct FlowStmt : Stmt {  // break, continue, exit
    Flow flow;
    Flow exec(Ctx &c) override;
};

struct RaiseStmt : Stmt {
    ExprP message;  // null: re-raise
    Flow exec(Ctx &c) override;
};

struct ExceptHandler {
    int slot = -1;  // the variable of "on E: Exception do", -1 when unnamed
    int hops = 0;
    StmtP body;
};

struct TryStmt : Stmt {
    std::unique_ptr<Block> body;
    std::unique_ptr<Block> finallyPart;  // try .. finally
    std::unique_ptr<Block> exceptPart;   // try .. except with plain statements
    std::vector<ExceptHandler> handlers;
    StmtP elsePart;
    bool isFinally = false;
    Flow exec(Ctx &c) override;
};

struct WithStmt : Stmt {  // with r do: the record is held in a hidden slot
    ExprP rec;
    int slot = 0;
    StmtP body;
    Flow exec(Ctx &c) override;
};

struct WithRefExpr : ElementExpr {  // a field of the record a with statement holds
    int slot = 0;
    bool global = false;
    int field = 0;
    Value *at(Ctx &c, std::shared_ptr<Agg> *keep) override;
};

}  // namespace pss
