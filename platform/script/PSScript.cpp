#include "PSScript.h"

// Placeholder until the compiler and runtime land: everything refuses.
struct TPSScript::Impl {
};

TPSScript::TPSScript(QObject *owner) : QObject(owner), d(std::make_unique<Impl>()) {}
TPSScript::~TPSScript() = default;

bool TPSScript::AddMethod(const QString &, TPSHostProc) { return false; }
bool TPSScript::AddConstant(const QString &, const QString &, const QVariant &) { return false; }
bool TPSScript::AddType(const QString &, const QString &) { return false; }
bool TPSScript::Compile() { return false; }
QStringList TPSScript::CompilerMessages() const { return {}; }
bool TPSScript::Compiled() const { return false; }
bool TPSScript::Execute() { return false; }
QString TPSScript::ExecErrorText() const { return {}; }
bool TPSScript::Running() const { return false; }
void TPSScript::Stop(const QString &) {}
bool TPSScript::StopRequested() const { return false; }
void TPSScript::CompileImport() { RunOnCompile(); }
