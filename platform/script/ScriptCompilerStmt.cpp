// The compiler: statements.
#include "ScriptCompiler.h"

namespace pss {

namespace {

template <typename T>
std::unique_ptr<T> node(const Pos &pos)
{
    auto n = std::make_unique<T>();
    n->pos = pos;
    return n;
}

bool isCall(const Expr *e)
{
    return dynamic_cast<const CallExpr *>(e) || dynamic_cast<const HostCallExpr *>(e) ||
           dynamic_cast<const BuiltinExpr *>(e);
}

}  // namespace

// compound = "begin" statementList "end"
std::unique_ptr<Block> Compiler::compound()
{
    expect("begin");
    auto b = statementList("end");
    expect("end");
    return b;
}

// statementList = statement {";" statement}
std::unique_ptr<Block> Compiler::statementList(const char *end1, const char *end2)
{
    auto b = node<Block>(tok().pos);
    for (;;) {
        if (at(end1) || (end2 && at(end2)))
            return b;
        if (StmtP s = statement())
            b->list.push_back(std::move(s));
        if (accept(";"))
            continue;
        if (at(end1) || (end2 && at(end2)))
            return b;
        if (tok().kind == Tok::Eof)
            error(tok().pos, QStringLiteral("Unexpected end of file"));
        error(tok().pos, QStringLiteral("';' expected"));
    }
}

// statement = [compound | ifStatement | whileStatement | repeatStatement | forStatement
//             | caseStatement | tryStatement | raiseStatement | withStatement
//             | "break" | "continue" | "exit" ["(" expression ")"] | simpleStatement]
StmtP Compiler::statement()
{
    NestGuard guard(*this, tok().pos);
    if (at("begin"))
        return compound();
    if (at("if"))
        return ifStatement();
    if (at("while"))
        return whileStatement();
    if (at("repeat"))
        return repeatStatement();
    if (at("for"))
        return forStatement();
    if (at("case"))
        return caseStatement();
    if (at("try"))
        return tryStatement();
    if (at("raise"))
        return raiseStatement();
    if (at("with"))
        return withStatement();
    if (at("break") && !lookup(QStringLiteral("break")))
        return flowStatement(Flow::Break);
    if (at("continue") && !lookup(QStringLiteral("continue")))
        return flowStatement(Flow::Continue);
    if (at("exit") && !lookup(QStringLiteral("exit")))
        return flowStatement(Flow::Exit);
    if (at(";") || at("end") || at("until") || at("else") || at("except") || at("finally"))
        return nullptr;
    return simpleStatement();
}

// flowStatement = "break" | "continue" | "exit" ["(" expression ")"]
StmtP Compiler::flowStatement(Flow f)
{
    const Pos pos = tok().pos;
    ++p_;
    if (f != Flow::Exit && loops_ == 0)
        error(pos, QStringLiteral("BREAK or CONTINUE outside of loop"));
    auto s = node<FlowStmt>(pos);
    s->flow = f;
    if (f != Flow::Exit || !accept("("))
        return s;
    Routine *r = scope().routine;
    if (!r || !r->isFunction())
        error(pos, QStringLiteral("Syntax error"));
    auto target = node<VarExpr>(pos);
    target->slot = r->resultSlot;
    target->type = r->result;
    StmtP assign = assignment(std::move(target), pos);
    expect(")");
    auto b = node<Block>(pos);
    b->list.push_back(std::move(assign));
    b->list.push_back(std::move(s));
    return b;
}

// The name of a function being compiled, as the target of an assignment.
ExprP Compiler::resultTarget()
{
    if (tok().kind != Tok::Ident || !peek().is(":="))
        return nullptr;
    for (auto it = scopes_.rbegin(); it != scopes_.rend(); ++it) {
        Routine *r = it->routine;
        if (r && r->isFunction() && r->name.toLower() == tok().lower) {
            auto v = node<VarExpr>(tok().pos);
            v->slot = r->resultSlot;
            v->hops = level() - r->level;
            v->type = r->result;
            ++p_;
            return v;
        }
    }
    return nullptr;
}

// simpleStatement = designator [":=" expression]
StmtP Compiler::simpleStatement()
{
    const Pos pos = tok().pos;
    ExprP target = resultTarget();
    if (!target)
        target = designator();
    if (accept(":="))
        return assignment(std::move(target), pos);
    if (!isCall(target.get()))
        error(pos, QStringLiteral("Statement expected"));
    auto s = node<ExprStmt>(pos);
    s->e = std::move(target);
    return s;
}

StmtP Compiler::assignment(ExprP target, const Pos &pos)
{
    if (auto *si = dynamic_cast<StrIndexExpr *>(target.get())) {
        auto s = node<StrCharAssign>(pos);
        if (!dynamic_cast<VarExpr *>(si->base.get()) && !dynamic_cast<IndexExpr *>(si->base.get()) &&
            !dynamic_cast<FieldExpr *>(si->base.get()) && !dynamic_cast<WithRefExpr *>(si->base.get()))
            error(pos, QStringLiteral("Left side cannot be assigned to"));
        s->str = std::move(si->base);
        s->index = std::move(si->index);
        s->value = coerce(expression(), tt.Char);
        return s;
    }
    const auto *v = dynamic_cast<VarExpr *>(target.get());
    const bool addressable = v || dynamic_cast<IndexExpr *>(target.get()) ||
                             dynamic_cast<FieldExpr *>(target.get()) || dynamic_cast<WithRefExpr *>(target.get());
    if (!addressable || target->isConst() || (v && v->readOnly))
        error(pos, QStringLiteral("Left side cannot be assigned to"));
    auto s = node<AssignStmt>(pos);
    s->value = coerce(expression(), target->type);
    s->target = std::move(target);
    return s;
}

static void requireBoolean(const Expr *e)
{
    if (e->type->kind != Kind::Bool)
        Compiler::error(e->pos, QStringLiteral("Type of expression must be BOOLEAN"));
}

// ifStatement = "if" expression "then" statement ["else" statement]
StmtP Compiler::ifStatement()
{
    auto s = node<IfStmt>(tok().pos);
    ++p_;
    s->cond = expression();
    requireBoolean(s->cond.get());
    expect("then");
    s->then = statement();
    if (accept("else"))
        s->other = statement();
    return s;
}

// whileStatement = "while" expression "do" statement
StmtP Compiler::whileStatement()
{
    auto s = node<WhileStmt>(tok().pos);
    ++p_;
    s->cond = expression();
    requireBoolean(s->cond.get());
    expect("do");
    ++loops_;
    s->body = statement();
    --loops_;
    return s;
}

// repeatStatement = "repeat" statementList "until" expression
StmtP Compiler::repeatStatement()
{
    auto s = node<RepeatStmt>(tok().pos);
    ++p_;
    ++loops_;
    s->body = statementList("until");
    --loops_;
    expect("until");
    s->cond = expression();
    requireBoolean(s->cond.get());
    return s;
}

// forStatement = "for" ident ":=" expression ("to" | "downto") expression "do" statement
StmtP Compiler::forStatement()
{
    auto s = node<ForStmt>(tok().pos);
    ++p_;
    const Pos pos = tok().pos;
    const QString name = ident();
    const Sym *sym = lookup(name.toLower());
    if (!sym)
        error(pos, QStringLiteral("Unknown identifier '%1'").arg(name));
    if (sym->k != Sym::K::Var || sym->viaRef || !sym->type->ordinal())
        error(pos, QStringLiteral("For loop control variable must be simple local variable"));
    s->var = varExpr(*sym, pos);
    expect(":=");
    s->from = coerce(expression(), sym->type);
    if (accept("downto"))
        s->down = true;
    else
        expect("to");
    s->to = coerce(expression(), sym->type);
    expect("do");
    ++loops_;
    s->body = statement();
    --loops_;
    return s;
}

// caseStatement = "case" expression "of" arm {";" arm} [";"] ["else" statementList] "end"
// arm = label {"," label} ":" statement;  label = constant [".." constant]
StmtP Compiler::caseStatement()
{
    auto s = node<CaseStmt>(tok().pos);
    ++p_;
    s->sel = expression();
    if (!s->sel->type->ordinal())
        error(s->sel->pos, QStringLiteral("Ordinal type required"));
    expect("of");
    while (!at("else") && !at("end")) {
        CaseArm arm;
        do {
            const Pos pos = tok().pos;
            const Type *lt = nullptr;
            const qint64 lo = ordinalConst(&lt);
            qint64 hi = lo;
            if (accept(".."))
                hi = ordinalConst(&lt);
            if (!sameType(lt, s->sel->type))
                error(pos, QStringLiteral("Type mismatch"));
            arm.labels.emplace_back(lo, hi);
        } while (accept(","));
        expect(":");
        arm.body = statement();
        s->arms.push_back(std::move(arm));
        if (!accept(";"))
            break;
    }
    if (accept("else") || accept("otherwise"))
        s->other = statementList("end");
    expect("end");
    return s;
}

// tryStatement = "try" statementList ("finally" statementList | "except" handlers) "end"
// handlers = "on" [ident ":"] namedType "do" statement {";" ...} ["else" statementList] | statementList
StmtP Compiler::tryStatement()
{
    auto s = node<TryStmt>(tok().pos);
    ++p_;
    s->body = statementList("finally", "except");
    if (accept("finally")) {
        s->isFinally = true;
        s->finallyPart = statementList("end");
        expect("end");
        return s;
    }
    expect("except");
    if (!at("on")) {
        s->exceptPart = statementList("end");
        expect("end");
        return s;
    }
    while (accept("on")) {
        ExceptHandler h;
        Scope sc;
        sc.level = level();
        sc.routine = scope().routine;
        scopes_.push_back(std::move(sc));
        if (peek().is(":")) {
            const Pos pos = tok().pos;
            const QString name = ident();
            expect(":");
            Sym v;
            v.k = Sym::K::Var;
            v.type = tt.Exception;
            v.level = level();
            v.global = !scope().routine;
            v.slot = h.slot = newSlot(tt.Exception);
            declare(name, v, pos);
        }
        const Pos tpos = tok().pos;
        if (namedType()->kind != Kind::Exception)
            error(tpos, QStringLiteral("Type mismatch"));
        expect("do");
        h.body = statement();
        scopes_.pop_back();
        s->handlers.push_back(std::move(h));
        if (!accept(";"))
            break;
    }
    if (accept("else"))
        s->elsePart = statementList("end");
    expect("end");
    return s;
}

// raiseStatement = "raise" [expression]
StmtP Compiler::raiseStatement()
{
    auto s = node<RaiseStmt>(tok().pos);
    ++p_;
    if (at(";") || at("end") || at("else") || at("until") || at("except") || at("finally"))
        return s;
    s->message = expression();
    if (s->message->type->kind != Kind::Exception)
        error(s->message->pos, QStringLiteral("Exception object expected"));
    return s;
}

// withStatement = "with" designator {"," designator} "do" statement
StmtP Compiler::withStatement()
{
    const Pos pos = tok().pos;
    ++p_;
    std::vector<std::unique_ptr<WithStmt>> chain;
    const size_t savedWiths = withs_.size();
    do {
        if (chain.size() >= 64)  // each record nests the statement once more
            error(tok().pos, QStringLiteral("Program too complex: nested too deeply"));
        auto w = node<WithStmt>(tok().pos);
        w->rec = designator();
        if (w->rec->type->kind != Kind::Record)
            error(w->rec->pos, QStringLiteral("Record type required"));
        w->slot = newSlot(tt.Void);
        withs_.push_back(WithEntry{w->rec->type, w->slot});
        chain.push_back(std::move(w));
    } while (accept(","));
    expect("do");
    StmtP body = statement();
    withs_.resize(savedWiths);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        (*it)->body = std::move(body);
        body = std::move(*it);
    }
    body->pos = pos;
    return body;
}

}  // namespace pss
