// The component around the compiler and the run: registrations are accepted
// only while Compile() asks for them; a run owns a fresh globals frame and
// its own memory count; Stop() reaches the run through an atomic flag.
#include "PSScript.h"

#include "ScriptCompiler.h"

#include <pthread.h>

#include <new>

struct TPSScript::Impl {
    std::unique_ptr<pss::Program> prog;
    std::unique_ptr<pss::Compiler> compiler;  // while Compile() runs
    bool registering = false;
    bool compiled = false;
    QStringList messages;
    QString execError;
    pss::StopState stop;
};

TPSScript::TPSScript(QObject *owner) : QObject(owner), d(std::make_unique<Impl>()) {}
TPSScript::~TPSScript() = default;

bool TPSScript::AddMethod(const QString &declaration, TPSHostProc proc)
{
    return d->registering && d->compiler && d->compiler->addMethod(declaration, std::move(proc));
}

bool TPSScript::AddConstant(const QString &name, const QString &typeName, const QVariant &value)
{
    return d->registering && d->compiler && d->compiler->addConstant(name, typeName, value);
}

bool TPSScript::AddType(const QString &name, const QString &definition)
{
    return d->registering && d->compiler && d->compiler->addType(name, definition);
}

void TPSScript::CompileImport() { RunOnCompile(); }

bool TPSScript::Compile()
{
    if (d->stop.running.load() || d->registering)
        return false;  // the program in use, or being built, stays
    d->compiled = false;
    d->messages.clear();
    d->prog = std::make_unique<pss::Program>();
    d->compiler = std::make_unique<pss::Compiler>(*d->prog);
    d->registering = true;
    CompileImport();
    d->registering = false;
    try {
        pss::PreprocessOptions opt;
        opt.enabled = UsePreProcessor;
        opt.mainFileName = MainFileName;
        opt.defines = Defines;
        d->compiler->compile(pss::preprocess(Script.join(QLatin1Char('\n')), opt));
        d->compiled = true;
    } catch (const pss::CompileError &e) {
        const QString where = !e.fileName.isEmpty()
                                  ? QStringLiteral("%1(%2:%3)").arg(e.fileName).arg(e.pos.line).arg(e.pos.col)
                                  : pss::formatPos(e.pos, d->prog->files);
        d->messages << QStringLiteral("[Error] %1: %2").arg(where, e.text);
    }
    d->compiler.reset();
    if (!d->compiled)
        d->prog.reset();
    return d->compiled;
}

QStringList TPSScript::CompilerMessages() const { return d->messages; }
bool TPSScript::Compiled() const { return d->compiled; }

namespace {

// The thread's stack less a margin for the deepest expression a single call
// may evaluate and for the host's own calls (a message box, letting events
// run) at the deepest point.
size_t stackBudget()
{
    pthread_attr_t attr;
    size_t size = 8 << 20;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void *addr = nullptr;
        pthread_attr_getstack(&attr, &addr, &size);
        pthread_attr_destroy(&attr);
    }
    const size_t margin = std::max<size_t>(size / 8, size_t(1) << 20);
    return size > 2 * margin ? size - margin : size / 2;
}

}  // namespace

bool TPSScript::Execute()
{
    if (d->stop.running.load()) {
        d->execError = QStringLiteral("[Runtime Error] (0:0): The script is already running");
        return false;
    }
    if (!d->compiled || !d->prog) {
        d->execError = QStringLiteral("[Runtime Error] (0:0): The script is not compiled");
        return false;
    }
    d->execError.clear();
    d->stop.requested.store(false);
    d->stop.running.store(true);
    pss::Program &prog = *d->prog;
    pss::Ctx c;
    c.prog = &prog;
    c.maxDepth = MaxCallDepth;
    c.stackBase = static_cast<const char *>(__builtin_frame_address(0));
    c.stackBudget = stackBudget();
    c.stop = &d->stop;
    c.onIdle = OnRunIdle;
    c.lastIdle = std::chrono::steady_clock::now();
    c.mem = std::make_shared<pss::MemCounter>();
    c.mem->limit = MaxMemoryBytes;
    QString error;
    try {
        pss::Frame globals;
        globals.cells.reserve(prog.globals.size());
        for (const pss::Type *t : prog.globals)
            globals.cells.push_back(pss::initValue(t, c.mem));
        for (const auto &[slot, value] : prog.globalInits)
            pss::assignValue(globals.cells[size_t(slot)], value, prog.globals[size_t(slot)]);
        c.frame = c.globals = &globals;
        prog.main->exec(c);
    } catch (const pss::RunError &e) {
        error = QStringLiteral("[Runtime Error] %1: %2").arg(pss::formatPos(e.pos, prog.files), e.text);
    } catch (const pss::OutOfMemory &) {
        error = QStringLiteral("[Runtime Error] %1: Out of memory").arg(pss::formatPos(c.cur, prog.files));
    } catch (const std::bad_alloc &) {
        error = QStringLiteral("[Runtime Error] %1: Out of memory").arg(pss::formatPos(c.cur, prog.files));
    }
    // A nested attempt may have left its refusal here meanwhile.
    d->execError = error;
    {
        std::lock_guard<std::mutex> g(d->stop.lock);
        d->stop.running.store(false);
        d->stop.requested.store(false);
    }
    return d->execError.isEmpty();
}

QString TPSScript::ExecErrorText() const { return d->execError; }
bool TPSScript::Running() const { return d->stop.running.load(); }

void TPSScript::Stop(const QString &reason)
{
    std::lock_guard<std::mutex> g(d->stop.lock);
    if (!d->stop.running.load())
        return;
    d->stop.reason = reason;
    d->stop.requested.store(true, std::memory_order_release);
}

bool TPSScript::StopRequested() const { return d->stop.requested.load(); }
