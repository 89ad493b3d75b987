// vidstill: the program. `vidstill [FILE] [SWITCHES...]` opens the main
// window; a plain parameter opens that file, the switches set and run the
// actions they name in the order given (/swi_o=clip.mp4 /swi_g /quit ...).
// Without a display it runs offscreen, so a command line with /quit is a
// batch job: it never waits for a person, and its exit status says whether
// every file opened and every still was written.
#include "app/main.h"

#include "widgets/uAppliMan.h"
#include "KWPack/uKWSwitch.h"
#include "KWPack/uMonoFichierMan.h"
#include "KWPack/uPreferences.h"
#include "platform/ffmpeg/FFmpegFilters.h"
#include "platform/render/RenderFilters.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <cstdio>

extern "C" {
#include <libavutil/log.h>
}

namespace {

bool HasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// "/quit", "+QUIT", "-quit=..." all ask for the end of the run.
bool AsksToQuit(const QStringList &parameters)
{
    for (const QString &p : parameters) {
        if (p.isEmpty() || !QStringLiteral("+-/").contains(p.front()))
            continue;
        const qsizetype eq = p.indexOf(u'=');
        if ((eq > 0 ? p.mid(1, eq - 1) : p.mid(1)).compare(QLatin1String("quit"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// The program ends with its main window, whatever else is still open (the
// help or script window, a panel's own window).
class QuitWithMainWindow : public QObject {
public:
    explicit QuitWithMainWindow(QWidget *window) : FWindow(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == FWindow && event->type() == QEvent::Hide && !FWindow->isVisible())
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return false;
    }

private:
    QWidget *FWindow;
};

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !HasDisplay()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        if (qEnvironmentVariableIsEmpty("VIDSTILL_AUDIO"))
            qputenv("VIDSTILL_AUDIO", "silent");  // nobody listens
        // Headless, stderr carries the run's own one-line reports only.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                std::fprintf(stderr, "%s\n", qPrintable(text));
        });
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vidstill"));
    const bool batch = AsksToQuit(QApplication::arguments().mid(1));
    // A file the libraries cannot read is reported once, by the program.
    av_log_set_level(AV_LOG_QUIET);
    RegisterFFmpegFilters();
    RegisterRenderFilters();

    TShowForm form;
    if (TKWSwitch *sw = form.am->Switch()) {
        // `vidstill FILE` opens the file; a misspelt switch is reported, not opened.
        sw->DefaultAction = form.ficman->waOpenFile;
        sw->UnknownToDefault = false;
    }
    form.gp->AskOnClose = !batch;
    if (batch) {
        // Nobody answers: an existing image is kept, and the run says so.
        if (TKWSwitch *sw = form.am->Switch())
            sw->OnSkipped = [&form](TCustomAbstractAction *action) {
                form.ReportFailure(QStringLiteral("/%1 skipped: not available now (is a video open?)").arg(action->Switch));
            };
        form.OnAskOverwrite = [&form](const QString &path) {
            form.ReportFailure(QStringLiteral("%1 exists and replacing it needs a confirmation: kept").arg(path));
            return TOverwriteAnswer::No;
        };
    }
    QuitWithMainWindow quitter(&form);
    form.show();
    const int status = app.exec();
    return status != 0 ? status : form.Failures > 0 ? 1 : 0;
}
