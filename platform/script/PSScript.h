// The Pascal-dialect script engine component: holds the script text, compiles
// it (preprocessor, then compiler) against the host routines, constants and
// types registered at compile time, and runs the compiled program.
//
// Threads: everything runs on the thread that owns the object (the UI thread),
// except Stop() and StopRequested(), which any thread may call (a watchdog
// thread stops a run that lasts too long).
//
// Ownership: the engine owns the compiled program, its messages and the host
// routines registered for the current compilation. Registrations live for one
// compilation: Compile() forgets the previous ones and asks for them again.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include <functional>
#include <memory>

class TPSScript;

// A host routine bound to a declaration. Arguments arrive converted to the
// declared types: Boolean -> bool, integer types, enumerations, sets (bit i =
// ordinal i) and TColor -> qint64, real types -> double, Char and string types
// -> QString. A function returns its result (converted back to the declared
// result type); a procedure returns an invalid QVariant. A routine reports a
// run error by throwing TPSRunError: the run ends with that text.
using TPSHostProc = std::function<QVariant(const QVariantList &args)>;

// The engine's compile-time registration hook (Pascal Script's TPSEvent).
using TPSEvent = std::function<void(TPSScript *sender)>;

struct TPSRunError {
    QString Text;
};

class TPSScript : public QObject {
    Q_OBJECT
public:
    explicit TPSScript(QObject *owner = nullptr);
    ~TPSScript() override;

    // The script text, one entry per line.
    QStringList Script;
    // Preprocessor directives ({$I}, {$DEFINE}, {$IFDEF} ...) are honoured
    // when on; when off they are comments.
    bool UsePreProcessor = true;
    // Include files are looked up relative to this file's folder (the current
    // folder when empty).
    QString MainFileName;
    // Symbols defined before the first line ({$IFDEF VIDSTILL} ...).
    QStringList Defines;

    // Called by the compiler when host routines are to be registered, after
    // CompileImport's own registrations.
    TPSEvent OnCompile;

    // Registers a host routine by its declaration text, for example
    // "procedure Volume(const aInteger:integer);" or
    // "function findnext:widestring;". Value and const parameters only.
    // False when the text is invalid, a type is unknown or the name is taken;
    // callers may ignore the refusal. Valid only while compiling (from
    // CompileImport / OnCompile); false otherwise.
    virtual bool AddMethod(const QString &declaration, TPSHostProc proc);
    // A constant of a registered or built-in type ("Integer", "Cardinal",
    // "Double", "string", "widestring", "Boolean", "TColor", an enumeration).
    bool AddConstant(const QString &name, const QString &typeName, const QVariant &value);
    // A type by name and definition text, as a script's type section would
    // write it after "name =": "(taLeftJustify, taRightJustify, taCenter)",
    // "LongInt", "record x,y: Longint; end;", "set of TBorderIcon".
    bool AddType(const QString &name, const QString &definition);

    // Compiles Script. True on success. The messages of this compilation are
    // available afterwards, in order: "[Error] (12:5): Unknown identifier 'Foo'",
    // "[Warning] (3:7): Variable 'i' never used" ... (line and column from 1;
    // a message from an included file names it: "[Error] inc.pas(2:1): ...").
    bool Compile();
    QStringList CompilerMessages() const;
    bool Compiled() const;

    // Runs the compiled program from its main block. True when it ended
    // normally; false on a run error (ExecErrorText) or when nothing is
    // compiled. Re-entrant calls (a host routine running the script again)
    // fail with a run error.
    bool Execute();
    // The last run's error: "[Runtime Error] (7:9): Division by zero", or
    // empty after a successful run.
    QString ExecErrorText() const;
    bool Running() const;

    // Asks the running program to stop at its next loop turn or call; the run
    // ends with the run error `reason`. Any thread. No effect when not running.
    void Stop(const QString &reason = QStringLiteral("Script stopped by the user"));
    bool StopRequested() const;

    // Called from the run every ~50 ms of wall time (checked at loop turns and
    // calls): the host may let pending messages through here (the script
    // window does, to see Esc and its Stop button). May call Stop().
    std::function<void()> OnRunIdle;

    // Limits; a program that passes one ends with a run error.
    int MaxCallDepth = 2000;
    qint64 MaxMemoryBytes = qint64(256) << 20;

protected:
    // The engine's own compile handler: registers what the component offers
    // and then calls RunOnCompile(). The default only calls RunOnCompile().
    virtual void CompileImport();
    void RunOnCompile()
    {
        if (OnCompile)
            OnCompile(this);
    }

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
