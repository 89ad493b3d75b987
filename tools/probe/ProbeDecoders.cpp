#include "tools/probe/ProbeDecoders.h"

#include "KWPack/uDecoders.h"
#include "platform/dshow/FilterCatalogue.h"
#include "platform/ffmpeg/FFmpegFilters.h"
#include "tools/probe/ProbeGraph.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

// The catalogue's decoders: the splitters, sources, renderers and the DV
// splitter are not.
const CLSID *const kSystemDecoders[] = {&CLSID_VidstillVideoDecoder, &CLSID_VidstillVideoDecoderST,
                                        &CLSID_VidstillAudioDecoder, &CLSID_SystemH264Decoder};

void PrintLine(const char *kind, const TFilterRec &rec, bool ok)
{
    std::printf("%s\t%s\t%s\t%s\n", kind, rec.Name().toUtf8().constData(), GuidToString(rec.Clsid()).c_str(),
                ok ? "ok" : "failed");
}

// "<folder of the executable>/../bin/" unless --private names one.
std::string PrivateFolder(const std::vector<std::string> &args)
{
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    std::string folder = QFileInfo(self).dir().filePath(QStringLiteral("../bin/")).toStdString();
    for (size_t i = 0; i < args.size(); i += 2) {
        if (args[i] != "--private")
            throw ProbeError("unknown option for decoders: " + args[i]);
        if (i + 1 >= args.size())
            throw ProbeError("missing value for --private");
        folder = args[i + 1];
    }
    if (!QFileInfo(QString::fromStdString(folder)).isDir())
        throw ProbeError("not a folder: " + folder);
    return folder;
}

} // namespace

void ProbeDecoders(const std::vector<std::string> &args)
{
    const std::string folder = PrivateFolder(args);
    for (const CLSID *clsid : kSystemDecoders) {
        FilterRegistration entry;
        if (!FindFilterRegistration(*clsid, &entry))
            continue;
        const TFilterRec rec(*clsid, QString::fromStdWString(entry.name));
        PrintLine("system", rec, rec.CreateFilter() != nullptr);
    }
    TPrivateFilters filters;
    filters.Load(QString::fromStdString(folder));
    for (const TBaseFilterRec *rec : filters.Records())
        PrintLine("private", *rec, IsSet(rec));
}
