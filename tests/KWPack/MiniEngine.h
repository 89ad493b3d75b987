// A minimal script engine for tests: records registrations and runs single
// call lines such as "    Name(1, 'it''s', True);" against them. Just enough
// to check what actions offer and that recorded lines replay.
#pragma once

#include "platform/script/PSScript.h"

#include <QMap>

class MiniEngine : public TPSScript {
public:
    using TPSScript::TPSScript;

    QStringList Declarations;
    QMap<QString, TPSHostProc> Procs;  // lower-cased name -> routine

    bool AddMethod(const QString &declaration, TPSHostProc proc) override
    {
        const QString name = NameOf(declaration).toLower();
        if (name.isEmpty() || Procs.contains(name))
            return false;
        Declarations << declaration;
        Procs.insert(name, std::move(proc));
        return true;
    }

    void Compile()
    {
        Declarations.clear();
        Procs.clear();
        RunOnCompile();
    }

    // False when the routine is unknown or the line is not a call.
    bool RunLine(const QString &line)
    {
        QString t = line.trimmed();
        if (!t.endsWith(QLatin1Char(';')))
            return false;
        t.chop(1);
        const int open = t.indexOf(QLatin1Char('('));
        const QString name = (open < 0 ? t : t.left(open)).trimmed().toLower();
        QVariantList args;
        if (open >= 0) {
            if (!t.endsWith(QLatin1Char(')')))
                return false;
            args = Arguments(t.mid(open + 1, t.size() - open - 2));
        }
        auto it = Procs.find(name);
        if (it == Procs.end())
            return false;
        it.value()(args);
        return true;
    }

    static QString NameOf(const QString &declaration)
    {
        QString d = declaration.trimmed();
        for (const char *kw : {"procedure ", "function "})
            if (d.startsWith(QLatin1String(kw), Qt::CaseInsensitive))
                d = d.mid(static_cast<int>(strlen(kw)));
        int end = 0;
        while (end < d.size() && (d[end].isLetterOrNumber() || d[end] == QLatin1Char('_')))
            ++end;
        return d.left(end);
    }

private:
    static QVariantList Arguments(const QString &text)
    {
        QVariantList args;
        QString cur;
        bool quoted = false, wasString = false;
        auto flush = [&] {
            const QString a = cur.trimmed();
            if (wasString)
                args << cur;
            else if (a.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
                args << true;
            else if (a.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
                args << false;
            else if (a.startsWith(QLatin1Char('$')))
                args << static_cast<qint64>(a.mid(1).toULongLong(nullptr, 16));
            else if (a.contains(QLatin1Char('.')) || a.contains(QLatin1Char('e'), Qt::CaseInsensitive))
                args << a.toDouble();
            else
                args << a.toLongLong();
            cur.clear();
            wasString = false;
        };
        for (int i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (quoted) {
                if (c == QLatin1Char('\'')) {
                    if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\'')) {
                        cur += c;
                        ++i;
                    } else {
                        quoted = false;
                    }
                } else {
                    cur += c;
                }
            } else if (c == QLatin1Char('\'')) {
                quoted = true;
                wasString = true;
                cur.clear();
            } else if (c == QLatin1Char(',')) {
                flush();
            } else if (!wasString) {
                cur += c;
            }
        }
        if (!text.trimmed().isEmpty())
            flush();
        return args;
    }
};
