// TKWScript: the program's script component. It wraps the Pascal-dialect
// engine (TPSScript) and offers scripts the program's file and utility
// routines, its constants and types, before the action lists linked to it add
// their procedures (OnCompile chain). Compile and Execute leave their
// messages and verdicts in Messages, which the script window and the
// command-line tool show as they are.
//
// UI thread only, like the engine (Stop() may come from any thread). The
// component owns its messages and the state of the file search that
// findfirst / findnext walk; the engine owns the compiled program.
#pragma once

#include "platform/script/PSScript.h"

#include <QString>
#include <QStringList>

#include <functional>

class TKWScript : public TPSScript {
    Q_OBJECT
public:
    explicit TKWScript(QObject *owner = nullptr);
    ~TKWScript() override;

    // Result of the last compilation.
    bool compiled = false;
    // The messages of the last compilation or run, verdict last.
    const QStringList &Messages() const { return FMessages; }

    // Where showmessage goes. Unset: a modal message box when a widget
    // application runs, else one line on stdout.
    std::function<void(const QString &)> OnShowMessage;

    // Compiles Script (preprocessor on): the compiler's messages, then
    // "*** Compilation succeeded ***" or "### Compilation Failed". Refused
    // while the script runs (a host routine asking for it): the running
    // program stays as it is.
    bool Compile();
    // Runs the last compiled program: "*** Succesfully Executed ***", or
    // "### Error while executing: " and the run error, or "### Compilation
    // not Ready" when nothing compiled.
    bool Execute();

    // The routines' file-name helpers, also for the host's own use. A path
    // separator is "/" or "\", and a drive colon ends a folder part too.
    static QString ExtractFileName(const QString &name);
    static QString ExtractFilePath(const QString &name);
    static QString ExtractFileExt(const QString &name);
    static QString ChangeFileExt(const QString &name, const QString &ext);

protected:
    // Routines, constants and types of the program, then the lists' OnCompile.
    void CompileImport() override;

private:
    void RegisterRoutines();
    void RegisterFileRoutines();
    void RegisterConstants();
    void RegisterTypes();
    QString FindFirst(const QString &folder, const QString &mask);
    QString FindNext();
    void FindClose();
    void ShowMessage(const QString &text);
    void Sleep(qint64 milliseconds);

    QStringList FMessages;
    // The running search: its folder (ending with "/") and the names left.
    QString FFindFolder;
    QStringList FFindNames;
};
