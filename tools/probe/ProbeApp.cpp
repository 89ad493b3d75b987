#include "tools/probe/ProbeApp.h"

#include "KWPack/uMediaFactory.h"
#include "tools/probe/ProbeGraph.h"

#include <QFile>
#include <QtGlobal>

#include <cstdio>

void QuietOffscreen()
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

TFileDevice *OpenFileDevice(TMediaFactory &factory, const std::string &file)
{
    TFileDevice *device = factory.GetDevice(QFile::decodeName(file.c_str()));
    if (!device)
        throw ProbeError("unknown extension: " + file);
    if (!device->Valid())
        throw ProbeError("cannot open " + file);
    return device;
}
