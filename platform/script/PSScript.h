// The script engine's host side: what a component needs to offer procedures to
// scripts. The compiler and runtime behind it live in this folder as well.
//
// UI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include <functional>

class TPSScript;

// A host routine bound to a declaration. Arguments arrive converted to the
// declared types: Boolean -> bool, integer types -> qint64, Double -> double,
// string types -> QString. A function returns its result; a procedure returns
// an invalid QVariant.
using TPSHostProc = std::function<QVariant(const QVariantList &args)>;

// The engine's compile-time registration hook (Pascal Script's TPSEvent).
using TPSEvent = std::function<void(TPSScript *sender)>;

class TPSScript : public QObject {
    Q_OBJECT
public:
    explicit TPSScript(QObject *owner = nullptr) : QObject(owner) {}

    // Called by the compiler when host routines are to be registered.
    TPSEvent OnCompile;

    // Registers a host routine by its declaration text, for example
    // "procedure Volume(const aInteger:integer);". False when the text is
    // invalid or the name is taken; callers may ignore the refusal.
    virtual bool AddMethod(const QString &declaration, TPSHostProc proc) = 0;

    QStringList Script;

protected:
    void RunOnCompile()
    {
        if (OnCompile)
            OnCompile(this);
    }
};
