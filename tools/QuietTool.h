// The command-line tools run without a display and without sound, and keep
// stderr for their own one-line messages: only critical platform messages
// pass.
#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdio>

inline void QuietOffscreen()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("VIDSTILL_AUDIO"))
        qputenv("VIDSTILL_AUDIO", "silent");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
}
