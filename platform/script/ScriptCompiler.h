// The compiler: a recursive-descent parser over the preprocessed tokens that
// resolves every name as it goes and builds the program tree (ScriptAst.h).
//
// Scopes: [0] the built-ins (types, routines, the graphics import), [1] the
// program's globals together with everything the host registered (so a
// script routine named like a host routine is a duplicate), then one scope
// per routine being compiled. Identifiers compare without regard to case.
//
// Errors are thrown as CompileError; the first one ends the compilation.
// Nesting (parentheses, statements, types) is bounded so that hostile input
// cannot exhaust the stack, here or when the tree is run or destroyed.
// Single thread.
#pragma once

#include "ScriptAst.h"

#include <QHash>
#include <span>

namespace pss {

struct Sym {
    enum class K { Var, Const, Type, Routine, Host, Builtin } k = K::Var;
    const Type *type = nullptr;
    Value val;  // Const
    int slot = 0;
    int level = 0;
    bool global = false;
    bool viaRef = false;
    bool readOnly = false;  // const parameters and for-loop control variables
    Routine *routine = nullptr;
    int builtin = 0;
};

struct Scope {
    QHash<QString, Sym> syms;
    int level = 0;
    Routine *routine = nullptr;  // null for the globals
};

struct WithEntry {
    const Type *rec;
    int slot;
};

class Compiler {
public:
    explicit Compiler(Program &prog);

    // Host registrations (between construction and compile()); false when
    // refused.
    bool addMethod(const QString &declaration, HostProc proc);
    bool addConstant(const QString &name, const QString &typeName, const QVariant &value);
    bool addType(const QString &name, const QString &definition);

    // Throws CompileError.
    void compile(Preprocessed &&source);

    // Used by the built-in checks.
    ExprP coerce(ExprP e, const Type *to);
    [[noreturn]] static void error(const Pos &pos, const QString &text);
    const Type *setOf(const Type *elem);
    const Type *dynArrayOf(const Type *elem);
    ExprP fold(ExprP e);
    Program &prog;
    TypeTable &tt;

private:
    // Token cursor.
    const Token &tok() const { return toks_[p_]; }
    const Token &peek(int k = 1) const { return toks_[std::min(p_ + size_t(k), toks_.size() - 1)]; }
    bool at(const char *sym) const { return tok().is(sym); }
    bool accept(const char *sym);
    void expect(const char *sym);
    QString ident();
    std::vector<std::pair<QString, Pos>> identList();
    void declare(const QString &name, Sym sym, const Pos &pos);
    const Sym *lookup(const QString &lower) const;
    int shadowedBuiltin(const Sym &host) const;
    Scope &scope() { return scopes_.back(); }
    int level() const { return scopes_.back().level; }
    int newSlot(const Type *t);
    void nest(const Pos &pos);

    // Declarations.
    void program();
    void declarations();
    void constSection();
    void typeSection();
    void varSection();
    void routineDecl();
    void params(Routine &r);
    void paramGroup(Routine &r);
    const Type *parseType();
    const Type *namedType();
    const Type *enumType();
    const Type *arrayType();
    const Type *recordType();
    const Type *subrangeType();
    Value constValue(const Type *&type);
    Value typedConst(const Type *t);
    void routineBody(Routine &r);

    // Statements.
    std::unique_ptr<Block> compound();
    std::unique_ptr<Block> statementList(const char *end1, const char *end2 = nullptr);
    StmtP statement();
    StmtP simpleStatement();
    StmtP ifStatement();
    StmtP whileStatement();
    StmtP repeatStatement();
    StmtP forStatement();
    StmtP caseStatement();
    StmtP tryStatement();
    StmtP raiseStatement();
    StmtP withStatement();
    StmtP flowStatement(Flow f);
    StmtP assignment(ExprP target, const Pos &pos);
    ExprP resultTarget();

    // Expressions.
    ExprP expression();
    ExprP simpleExpression();
    ExprP term();
    ExprP operands(std::span<const std::pair<const char *, Op>> ops, ExprP (Compiler::*next)());
    ExprP factor();
    ExprP designator();
    ExprP identifierFactor(const Token &id);
    ExprP postfix(ExprP e);
    ExprP indexOf(ExprP base, const Pos &pos);
    ExprP bracket();
    ExprP binary(Op op, ExprP a, ExprP b, const Pos &pos);
    ExprP arithmetic(Op op, ExprP a, ExprP b, const Pos &pos);
    ExprP comparison(Op op, ExprP a, ExprP b, const Pos &pos);
    ExprP callRoutine(Routine *r, bool host, const Pos &pos);
    std::vector<ExprP> argumentList();
    ExprP makeCall(Routine *r, bool host, std::vector<ExprP> args, const Pos &pos);
    ExprP castTo(const Type *t, const Pos &pos);
    ExprP builtinCall(int id, const Pos &pos);
    ExprP checkBuiltin(int id, std::vector<ExprP> args, const Pos &pos);
    ExprP varExpr(const Sym &s, const Pos &pos);
    ExprP constExpr(const Type *t, Value v, const Pos &pos);
    ExprP constOrdinal(qint64 v, const Pos &pos);
    qint64 ordinalConst(const Type **type = nullptr);

    std::vector<Token> toks_;
    size_t p_ = 0;
    std::vector<Scope> scopes_;
    std::vector<WithEntry> withs_;
    int nesting_ = 0;
    int loops_ = 0;
    bool compiling_ = false;
    friend struct NestGuard;
    friend struct BuiltinCheck;
};

// Counts one level of nesting for as long as it lives.
struct NestGuard {
    Compiler &c;
    NestGuard(Compiler &comp, const Pos &pos) : c(comp) { c.nest(pos); }
    ~NestGuard() { --c.nesting_; }
};

}  // namespace pss
