#include "tools/probe/ProbeNav.h"

#include "KWPack/uNavMan.h"
#include "KWPack/uWindowLessMan.h"
#include "tools/probe/NavGraph.h"
#include "tools/probe/ProbeApp.h"
#include "tools/probe/ProbeGraph.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QWidget>

#include <cstdio>
#include <map>
#include <memory>

namespace {

struct NavArgs {
    std::string file;
    bool fast = false, timing = false;
    std::vector<std::string> commands;
};

NavArgs ParseNav(const std::vector<std::string> &args)
{
    NavArgs a;
    for (const std::string &arg : args) {
        if (arg == "--fast")
            a.fast = true;
        else if (arg == "--timing")
            a.timing = true;
        else if (arg.rfind("--", 0) == 0)
            throw ProbeError("unknown option for nav: " + arg);
        else if (a.file.empty())
            a.file = arg;
        else
            a.commands.push_back(arg);
    }
    if (a.file.empty())
        throw ProbeError("nav needs a FILE");
    return a;
}

REFERENCE_TIME StepOf(const std::string &step, REFERENCE_TIME frame)
{
    static const std::map<std::string, REFERENCE_TIME> fixed{{"1s", TNavMan::kOneSecond},
                                                             {"10s", TNavMan::kTenSeconds},
                                                             {"1m", TNavMan::kOneMinute},
                                                             {"10m", TNavMan::kTenMinutes}};
    if (step == "1f")
        return frame;
    if (step == "10f")
        return 10 * frame;
    const auto it = fixed.find(step);
    if (it == fixed.end())
        throw ProbeError("bad step: " + step + " (1f 10f 1s 10s 1m 10m)");
    return it->second;
}

long long Count(const std::string &text, const std::string &what)
{
    size_t used = 0;
    long long v = -1;
    try {
        v = std::stoll(text, &used);
    } catch (const std::exception &) {
        used = 0;
    }
    if (used == 0 || used != text.size() || v < 0)
        throw ProbeError("bad number for " + what + ": " + text);
    return v;
}

void Grab(TWindowLessMan &renderer, const std::string &path)
{
    QImage picture;
    if (!renderer.GrabCurrentImage(picture))
        throw ProbeError("the renderer has no picture");
    // Written aside and renamed: a failed write leaves no half picture.
    const QString target = QFile::decodeName(path.c_str()), part = target + ".part";
    if (!picture.save(part, "BMP") || (QFile::exists(target) && !QFile::remove(target))
        || !QFile::rename(part, target)) {
        QFile::remove(part);
        throw ProbeError("cannot write " + path);
    }
}

// Runs one command and waits for its picture.
void Run(TNavMan &nav, TWindowLessMan &renderer, const std::string &command)
{
    const size_t eq = command.find('=');
    const std::string verb = command.substr(0, eq), value = eq == std::string::npos ? "" : command.substr(eq + 1);
    const bool valued = eq != std::string::npos;
    if (verb == "start" && !valued)
        nav.GoStart();
    else if (verb == "end" && !valued)
        nav.GoEnd();
    else if (verb == "seek" && valued)
        nav.GoToTimeText(QString::fromStdString(value));
    else if (verb == "at" && valued)
        nav.SeekPrecise(Count(value, "at"));
    else if (verb == "fwd" && valued)
        nav.StepForward(StepOf(value, nav.FrameDuration));
    else if (verb == "back" && valued)
        nav.StepBackward(StepOf(value, nav.FrameDuration));
    else if (verb == "play" && valued) {
        const long long ms = Count(value, "play");
        nav.Play();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            ProcessMessages();
        nav.Pause();
        nav.WaitForStableState();
    } else if (verb == "grab" && valued && !value.empty())
        Grab(renderer, value);
    else
        throw ProbeError("unknown nav command: " + command);
    // A key-frame seek returns before its picture arrives.
    nav.WaitForStableState();
    ProcessMessages();
}

} // namespace

void ProbeNav(const std::vector<std::string> &args)
{
    const NavArgs a = ParseNav(args);
    QuietOffscreen();
    ProbeArgv av;
    QApplication app(av.argc, av.argv);
    QWidget host;
    host.resize(640, 480);
    std::unique_ptr<TNavMan> nav(TKWActionComponent::New<TNavMan>());
    std::unique_ptr<TWindowLessMan> renderer(TKWActionComponent::New<TWindowLessMan>());
    renderer->Setwindow(&host);
    renderer->SetGraph(nav->GraphBuilder.Get());
    nav->caSeekPrecision->SetChecked(!a.fast);
    std::unique_ptr<NavGraph> graph;
    try {
        graph = std::make_unique<NavGraph>(*nav, renderer->Renderer.Get(), QFile::decodeName(a.file.c_str()));
    } catch (const NavGraphError &e) {
        throw ProbeError(e.what());
    }
    for (const std::string &command : a.commands) {
        QElapsedTimer took;
        took.start();
        Run(*nav, *renderer, command);
        const REFERENCE_TIME shown = nav->CurrentPosition();
        const QString text = PositionText(shown, nav->FrameDuration);
        if (a.timing)
            std::printf("%s %lld %s %lld\n", command.c_str(), static_cast<long long>(shown), qPrintable(text),
                        static_cast<long long>(took.elapsed()));
        else
            std::printf("%s %lld %s\n", command.c_str(), static_cast<long long>(shown), qPrintable(text));
        std::fflush(stdout);
    }
    graph.reset();
    renderer->SetGraph(nullptr);
}
