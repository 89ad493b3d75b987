// Statements, calls and the run context.
#include "ScriptAst.h"

#include "PSScript.h"

#include <exception>

namespace pss {

void Ctx::stopped(const Pos &pos)
{
    QString reason;
    {
        std::lock_guard<std::mutex> g(stop->lock);
        reason = stop->reason;
    }
    fail(pos, reason, true);
}

void Ctx::idle(const Pos &pos)
{
    ticks = 0;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastIdle < std::chrono::milliseconds(50))
        return;
    lastIdle = now;
    if (onIdle) {
        try {
            onIdle();
        } catch (const TPSRunError &e) {
            fail(pos, e.Text, true);
        }
    }
    if (stop->requested.load(std::memory_order_acquire))
        stopped(pos);
}

void Ctx::enter(const Pos &pos)
{
    const char *sp = static_cast<const char *>(__builtin_frame_address(0));
    if (depth >= maxDepth || (stackBase && stackBase > sp && size_t(stackBase - sp) > stackBudget))
        fail(pos, QStringLiteral("Stack overflow"), true);
    ++depth;
    poll(pos);
}

namespace {

struct FrameSwitch {
    Ctx &c;
    Frame *saved;
    FrameSwitch(Ctx &ctx, Frame *f) : c(ctx), saved(ctx.frame) { c.frame = f; }
    ~FrameSwitch()
    {
        c.frame = saved;
        c.leave();
    }
};

}  // namespace

Value callRoutine(Ctx &c, Routine &r, Frame &frame, const Pos &pos)
{
    c.enter(pos);
    FrameSwitch sw(c, &frame);
    if (r.body)
        r.body->exec(c);
    if (r.resultSlot >= 0)
        return std::move(frame.cells[size_t(r.resultSlot)]);
    return {};
}

Value CallExpr::eval(Ctx &c)
{
    Routine &r = *routine;
    Frame f;
    f.cells.reserve(r.cells.size());
    for (const Type *t : r.cells)
        f.cells.push_back(initValue(t, c.mem));
    f.refs.resize(size_t(r.nRefs));
    for (size_t k = 0; k < r.params.size() && k < args.size(); ++k) {
        const Param &p = r.params[k];
        if (p.byRef) {
            Ref &ref = f.refs[size_t(p.index)];
            ref.p = args[k]->ref(c, &ref.keep);
        } else {
            assignValue(f.cells[size_t(p.index)], args[k]->eval(c), p.type);
        }
    }
    f.link = c.hop(callerLevel - r.level + 1);
    return callRoutine(c, r, f, pos);
}

QVariant toHost(const Value &v, const Type *t)
{
    switch (t->kind) {
    case Kind::Bool: return QVariant(v.i != 0);
    case Kind::Int:
    case Kind::Enum: return QVariant(qint64(v.i));
    case Kind::Set: {
        quint64 bits = 0;
        for (int k = 0; k < 64; ++k)
            if (v.a && v.a->bits.test(size_t(k)))
                bits |= quint64(1) << k;
        return QVariant(qint64(bits));
    }
    case Kind::Real: return QVariant(v.r);
    case Kind::Char: return QVariant(QString(QChar(char16_t(v.i))));
    case Kind::String:
    case Kind::Exception: return QVariant(v.s);
    case Kind::Array:
    case Kind::DynArray:
    case Kind::Record:
    case Kind::OpenArray:
    case Kind::Void: break;
    }
    return {};
}

Value fromHost(const QVariant &v, const Type *t, const std::shared_ptr<MemCounter> &mem)
{
    switch (t->kind) {
    case Kind::Bool: return Value::Int(v.toBool());
    case Kind::Int: return Value::Int(wrapInt(t, v.toLongLong()));
    case Kind::Enum: return Value::Int(std::clamp<qint64>(v.toLongLong(), t->lo, t->hi));
    case Kind::Set: {
        Value s;
        const quint64 bits = quint64(v.toLongLong());
        if (bits) {
            s.a = makeAgg(0, nullptr);
            for (int k = 0; k < 64; ++k)
                s.a->bits.set(size_t(k), (bits >> k) & 1);
        }
        return s;
    }
    case Kind::Real: return Value::Real(v.toDouble());
    case Kind::Char: {
        if (v.typeId() == QMetaType::QString) {
            const QString s = v.toString();
            return Value::Int(s.isEmpty() ? 0 : s[0].unicode());
        }
        return Value::Int(v.toLongLong() & 0xFFFF);
    }
    case Kind::String:
    case Kind::Exception: return Value::Str(v.toString());
    case Kind::Array:
    case Kind::DynArray:
    case Kind::Record:
    case Kind::OpenArray:
    case Kind::Void: break;
    }
    return initValue(t, mem);
}

Value HostCallExpr::eval(Ctx &c)
{
    Routine &r = *routine;
    QVariantList list;
    list.reserve(qsizetype(args.size()));
    for (size_t k = 0; k < args.size() && k < r.params.size(); ++k)
        list << toHost(args[k]->eval(c), r.params[k].type);
    c.enter(pos);
    QVariant result;
    try {
        result = r.host(list);
    } catch (const TPSRunError &e) {
        c.leave();
        Ctx::fail(pos, e.Text);
    } catch (const std::exception &e) {
        c.leave();
        Ctx::fail(pos, QString::fromLocal8Bit(e.what()));
    }
    c.leave();
    c.poll(pos);
    if (!r.isFunction())
        return {};
    return fromHost(result, r.result, c.mem);
}

// ---- statements ----

Flow Block::exec(Ctx &c)
{
    for (const StmtP &s : list) {
        c.cur = s->pos;
        const Flow f = s->exec(c);
        if (f != Flow::Normal)
            return f;
    }
    return Flow::Normal;
}

Flow ExprStmt::exec(Ctx &c)
{
    c.cur = pos;
    e->eval(c);
    return Flow::Normal;
}

Flow AssignStmt::exec(Ctx &c)
{
    // The value first: a call in it may resize the array the target lives in.
    c.cur = pos;
    const Type *t = target->type;
    if (t->ordinal()) {
        const qint64 v = value->evalInt(c);
        std::shared_ptr<Agg> keep;
        target->ref(c, &keep)->i = v;
    } else if (t->kind == Kind::Real) {
        const double v = value->evalReal(c);
        std::shared_ptr<Agg> keep;
        target->ref(c, &keep)->r = t->single ? double(float(v)) : v;
    } else {
        const Value v = value->eval(c);
        std::shared_ptr<Agg> keep;
        Value *dst = target->ref(c, &keep);
        if (t->kind == Kind::String)
            chargeString(keep.get(), dst->s.size(), v.s.size());
        assignValue(*dst, v, t);
    }
    return Flow::Normal;
}

Flow StrCharAssign::exec(Ctx &c)
{
    const qint64 v = value->evalInt(c);
    const qint64 i = index->evalInt(c);
    std::shared_ptr<Agg> keep;
    Value *s = str->ref(c, &keep);
    if (i < 1 || i > s->s.size())
        Ctx::fail(pos, QStringLiteral("Index out of range"));
    s->s[qsizetype(i - 1)] = QChar(char16_t(v));
    return Flow::Normal;
}

Flow IfStmt::exec(Ctx &c)
{
    if (cond->evalInt(c))
        return then ? then->exec(c) : Flow::Normal;
    return other ? other->exec(c) : Flow::Normal;
}

Flow WhileStmt::exec(Ctx &c)
{
    while (true) {
        c.poll(pos);
        if (!cond->evalInt(c))
            return Flow::Normal;
        const Flow f = body ? body->exec(c) : Flow::Normal;
        if (f == Flow::Break)
            return Flow::Normal;
        if (f == Flow::Exit)
            return f;
    }
}

Flow RepeatStmt::exec(Ctx &c)
{
    while (true) {
        c.poll(pos);
        const Flow f = body->exec(c);
        if (f == Flow::Break)
            return Flow::Normal;
        if (f == Flow::Exit)
            return f;
        if (cond->evalInt(c))
            return Flow::Normal;
    }
}

Flow ForStmt::exec(Ctx &c)
{
    const qint64 a = from->evalInt(c), b = to->evalInt(c);
    std::shared_ptr<Agg> keep;
    Value *v = var->ref(c, &keep);
    if (down ? a < b : a > b)
        return Flow::Normal;
    for (qint64 i = a;; down ? --i : ++i) {
        v->i = i;
        c.poll(pos);
        const Flow f = body ? body->exec(c) : Flow::Normal;
        if (f == Flow::Break)
            break;
        if (f == Flow::Exit)
            return f;
        if (i == b)
            break;
    }
    return Flow::Normal;
}

Flow CaseStmt::exec(Ctx &c)
{
    const qint64 v = sel->evalInt(c);
    for (CaseArm &arm : arms)
        for (auto [lo, hi] : arm.labels)
            if (v >= lo && v <= hi)
                return arm.body ? arm.body->exec(c) : Flow::Normal;
    return other ? other->exec(c) : Flow::Normal;
}

Flow FlowStmt::exec(Ctx &) { return flow; }

Flow RaiseStmt::exec(Ctx &c)
{
    if (!message) {
        if (c.handling.empty())
            Ctx::fail(pos, QStringLiteral("Re-raising an exception only allowed in exception handler"));
        throw c.handling.back();
    }
    throw RunError{message->eval(c).s, pos, false};
}

namespace {

struct Handling {
    Ctx &c;
    Handling(Ctx &ctx, const RunError &e) : c(ctx) { c.handling.push_back(e); }
    ~Handling() { c.handling.pop_back(); }
};

}  // namespace

Flow TryStmt::exec(Ctx &c)
{
    if (isFinally) {
        Flow f;
        try {
            f = body->exec(c);
        } catch (const RunError &) {
            finallyPart->exec(c);
            throw;
        }
        const Flow g = finallyPart->exec(c);
        return g != Flow::Normal ? g : f;
    }
    Frame *frame = c.frame;
    const int depth = c.depth;
    try {
        return body->exec(c);
    } catch (const RunError &e) {
        if (e.fatal)
            throw;
        c.frame = frame;  // calls unwound by the exception have restored it already
        c.depth = depth;
        Handling h(c, e);
        if (handlers.empty())
            return exceptPart ? exceptPart->exec(c) : Flow::Normal;
        ExceptHandler &on = handlers.front();
        if (on.slot >= 0)
            c.frame->cells[size_t(on.slot)].s = e.text;
        return on.body ? on.body->exec(c) : Flow::Normal;
    }
}

Flow WithStmt::exec(Ctx &c)
{
    std::shared_ptr<Agg> keep;
    Value *r = rec->ref(c, &keep);
    std::shared_ptr<Agg> agg = r ? r->a : rec->eval(c).a;
    c.frame->cells[size_t(slot)].a = agg;
    const Flow f = body ? body->exec(c) : Flow::Normal;
    c.frame->cells[size_t(slot)].a.reset();
    return f;
}

}  // namespace pss
