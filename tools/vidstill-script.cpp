// vidstill-script: compiles and runs a script file headless, with the
// program's script component and a list of one action of each kind whose
// application is printed, so that scripts can be tried and tested outside
// the program.
//
//   vidstill-script [--timeout SECONDS] FILE.pas
//
// stdout: what the script shows (showmessage, one line per call), what the
// actions receive ("Volume = 42"), then the compiler's messages and verdict
// and the run's verdict. Exit status 0 when both succeed, 1 otherwise, 2 on
// bad arguments or an unreadable file.
#include "KWPack/uKWScript.h"
#include "KWPack/uScriptAction.h"
#include "tools/QuietTool.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

void print(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    fflush(stdout);
}

template <class A>
A *make(TKWActionList *list, const char *name)
{
    auto *a = new A(QString::fromLatin1(name), list);
    a->ScriptName = QString::fromLatin1(name);
    return a;
}

// One action of each kind; each prints what it is applied with.
void buildActions(TKWActionList *list)
{
    auto *mute = make<TCheckAction>(list, "Mute");
    mute->OnAfterTrueApply = [] { print(QStringLiteral("Mute = True")); };
    mute->OnAfterFalseApply = [] { print(QStringLiteral("Mute = False")); };
    make<TIntegerAction>(list, "Volume")->OnAfterApply = [](const int32_t &v) {
        print(QStringLiteral("Volume = %1").arg(v));
    };
    make<TWidestringAction>(list, "Title")->OnAfterApply = [](const QString &v) {
        print(QStringLiteral("Title = %1").arg(v));
    };
    make<TDoubleAction>(list, "Speed")->OnAfterApply = [](const double &v) {
        print(QStringLiteral("Speed = %1").arg(QString::number(v, 'g', 15)));
    };
    make<TColorAction>(list, "Back")->OnAfterApply = [](const TColor &v) {
        print(QStringLiteral("Back = %1").arg(qint64(v)));
    };
    make<TFontAction>(list, "Font")->OnAfterApply = [](const TFont &f) {
        QStringList style;
        for (auto [bit, name] : {std::pair{fsBold, "Bold"}, {fsItalic, "Italic"}, {fsUnderline, "Underline"},
                                 {fsStrikeOut, "StrikeOut"}})
            if (f.Style & bit)
                style << QString::fromLatin1(name);
        print(QStringLiteral("Font = %1, %2, %3, %4").arg(f.Name).arg(f.Size).arg(qint64(f.Color)).arg(style.join(u'+')));
    };
    make<TPointAction>(list, "Origin")->OnAfterApply = [](const TPoint &p) {
        print(QStringLiteral("Origin = (%1, %2)").arg(p.X).arg(p.Y));
    };
    make<TRectAction>(list, "Area")->OnAfterApply = [](const TRect &r) {
        print(QStringLiteral("Area = Left %1, Top %2, Right %3, Bottom %4").arg(r.Left).arg(r.Top).arg(r.Right).arg(r.Bottom));
    };
    make<TNopeAction>(list, "Beep")->OnAfterApply = [] { print(QStringLiteral("Beep")); };
    // Named like a built-in, as the program's copy command is.
    make<TNopeAction>(list, "Copy")->OnAfterApply = [] { print(QStringLiteral("Copy")); };
}

// Stops the run when the time is up, unless the run ends first.
class Watchdog {
public:
    Watchdog(TPSScript *script, double seconds)
    {
        if (seconds <= 0)
            return;
        thread_ = std::thread([this, script, seconds] {
            std::unique_lock<std::mutex> lock(m_);
            if (!cv_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return done_; }))
                script->Stop(QStringLiteral("Script stopped: time-out after %1 s").arg(seconds));
        });
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            done_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

int usage(const QString &why)
{
    fprintf(stderr, "vidstill-script: %s\nusage: vidstill-script [--timeout SECONDS] FILE.pas\n", qPrintable(why));
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    QuietOffscreen();
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    double timeout = 0;
    if (!args.isEmpty() && args.first() == QLatin1String("--timeout")) {
        bool ok = false;
        timeout = args.value(1).toDouble(&ok);
        if (!ok || timeout <= 0)
            return usage(QStringLiteral("--timeout needs a number of seconds above 0"));
        args = args.mid(2);
    }
    if (args.size() != 1 || args.first().startsWith(QLatin1String("--")))
        return usage(QStringLiteral("one script file expected"));
    QFile file(args.first());
    if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly))
        return usage(QStringLiteral("cannot read '%1'").arg(file.fileName()));
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));

    TKWScript script;
    script.OnShowMessage = [](const QString &line) { print(line); };
    TKWActionList actions;
    buildActions(&actions);
    actions.SetPascalScript(&script);
    script.Script = text.split(QLatin1Char('\n'));
    script.MainFileName = QFileInfo(file.fileName()).absoluteFilePath();

    const bool compiled = script.Compile();
    const QStringList compileMessages = script.Messages();
    bool ran = false;
    QStringList runMessages;
    if (compiled) {
        Watchdog dog(&script, timeout);
        ran = script.Execute();
        runMessages = script.Messages();
    }
    for (const QString &m : compileMessages + runMessages)
        print(m);
    return compiled && ran ? 0 : 1;
}
