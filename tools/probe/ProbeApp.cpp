#include "tools/probe/ProbeApp.h"

#include "KWPack/uMediaFactory.h"
#include "tools/probe/ProbeGraph.h"

#include <QFile>

TFileDevice *OpenFileDevice(TMediaFactory &factory, const std::string &file)
{
    TFileDevice *device = factory.GetDevice(QFile::decodeName(file.c_str()));
    if (!device)
        throw ProbeError("unknown extension: " + file);
    if (!device->Valid())
        throw ProbeError("cannot open " + file);
    return device;
}
