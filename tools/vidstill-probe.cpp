// vidstill-probe: what the media graph makes of a file.
//   info FILE [--source NAME] [--splitter NAME]   streams as one JSON object
//   frames FILE [--from T] [--count N]             media times of presented frames
//   grab FILE --at T --out PATH.bmp                the picture at T, and its time
//   device FILE                                    the media factory's device as one JSON object
//   dv FILE [--count N]                            DV date and time code of every analysed frame
//   nav FILE [--fast] [--timing] COMMAND...         the frame shown after each navigation command
//   decoders [--private DIR]                       the system and private decoder records
//   connect FILE [--next-decoder] [--private DIR]  the video connected as the program connects it
// frames and grab also take --source and --splitter.
// Times are in 100 ns. Failures: one line on stderr, exit status 1.
#include "KWPack/uMediaFormats.h"
#include "platform/dshow/Guid.h"
#include "tools/probe/ProbeDevice.h"
#include "tools/probe/ProbeDv.h"
#include "tools/probe/ProbeNav.h"
#include "tools/probe/ProbeConnect.h"
#include "tools/probe/ProbeDecoders.h"
#include "tools/probe/ProbeGraph.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <fstream>
#include <map>

namespace {

struct Args {
    std::string command, file;
    std::map<std::string, std::string> options;
};

const char kUsage[] = "usage: vidstill-probe info FILE [--source NAME] [--splitter NAME] | "
                      "frames FILE [--from T] [--count N] | grab FILE --at T --out PATH.bmp | device FILE "
                      "| dv FILE [--count N] | nav FILE [--fast] [--timing] COMMAND... "
                      "| decoders [--private DIR] | connect FILE [--next-decoder] [--private DIR] (frames and grab also take --source and --splitter)";

Args Parse(int argc, char **argv)
{
    if (argc < 3)
        throw ProbeError(kUsage);
    Args args{argv[1], argv[2], {}};
    const std::map<std::string, std::vector<std::string>> allowed{
        {"info", {"--source", "--splitter"}}, {"frames", {"--from", "--count", "--source", "--splitter"}},
        {"grab", {"--at", "--out", "--source", "--splitter"}}, {"device", {}}, {"dv", {"--count"}}};
    const auto known = allowed.find(args.command);
    if (known == allowed.end())
        throw ProbeError(std::string("unknown command: ") + argv[1]);
    for (int i = 3; i < argc; i += 2) {
        const std::string key = argv[i];
        if (std::find(known->second.begin(), known->second.end(), key) == known->second.end())
            throw ProbeError("unknown option for " + args.command + ": " + key);
        if (i + 1 >= argc)
            throw ProbeError("missing value for " + key);
        args.options[key] = argv[i + 1];
    }
    return args;
}

long long Number(const Args &args, const std::string &key, long long fallback)
{
    const auto it = args.options.find(key);
    if (it == args.options.end())
        return fallback;
    size_t used = 0;
    long long value = -1;
    try {
        value = std::stoll(it->second, &used);
    } catch (const std::exception &) {
        used = 0;
    }
    if (used == 0 || used != it->second.size() || value < 0)
        throw ProbeError("bad number for " + key + ": " + it->second);
    return value;
}

std::string Option(const Args &args, const std::string &key)
{
    const auto it = args.options.find(key);
    return it == args.options.end() ? std::string() : it->second;
}

QString Kind(const CMediaType &mt)
{
    if (mt.Type() == MEDIATYPE_Video)
        return "video";
    if (mt.Type() == MEDIATYPE_Audio)
        return "audio";
    if (mt.Type() == MEDIATYPE_Interleaved)
        return "interleaved";
    if (mt.Type() == MEDIATYPE_Stream)
        return "stream";
    return "other";
}

QJsonObject StreamObject(IPin *pin)
{
    const CMediaType mt = PinType(pin);
    QJsonObject o;
    o["kind"] = Kind(mt);
    o["pin"] = QString::fromStdWString(PinName(pin));
    o["major"] = QString::fromStdString(GuidToString(mt.Type()));
    o["subtype"] = QString::fromStdString(GuidToString(mt.Subtype()));
    o["format"] = QString::fromStdString(GuidToString(mt.FormatType()));
    if (mt.Type() == MEDIATYPE_Video) {
        const TVideoData v = VideoDataFromMediaType(mt);
        o["width"] = v.Width;
        o["height"] = v.Height;
        o["frame_duration"] = qint64(v.FrameDuration);
        o["aspect_x"] = v.AspectX;
        o["aspect_y"] = v.AspectY;
        o["format_text"] = v.FormatText;
        o["size_text"] = v.SizeText;
    } else if (mt.Type() == MEDIATYPE_Audio) {
        TframeData a;
        a.AudioTypeText = AudioTypeText(mt);
        ReadAudioData(mt, a);
        o["audio_type"] = a.AudioTypeText;
        o["label"] = a.AudioLabel;
    }
    return o;
}

void Info(const Args &args)
{
    ProbeGraph graph(args.file, Option(args, "--source"), Option(args, "--splitter"));
    QJsonObject o;
    o["source"] = QString::fromStdWString(graph.SourceName());
    o["splitter"] = QString::fromStdWString(graph.SplitterName());
    o["duration"] = qint64(graph.Duration());
    QJsonArray streams;
    for (auto &pin : graph.StreamPins())
        streams.append(StreamObject(pin.Get()));
    o["streams"] = streams;
    std::fputs(QJsonDocument(o).toJson(QJsonDocument::Indented).constData(), stdout);
}

void Frames(const Args &args)
{
    const long long from = Number(args, "--from", 0);
    const long long count = Number(args, "--count", 0);
    ProbeGraph graph(args.file, Option(args, "--source"), Option(args, "--splitter"));
    graph.BuildPlayback();
    graph.Seek(from);
    for (REFERENCE_TIME t : graph.Play(size_t(count)))
        std::printf("%lld\n", static_cast<long long>(t));
}

void WriteBmp(const std::string &path, const std::vector<BYTE> &dib)
{
    // BITMAPFILEHEADER, little endian: "BM", file size, 0, offset of the pixels.
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib.data(), sizeof h);
    const uint32_t size = uint32_t(14 + dib.size()), offset = 14 + h.biSize;
    const unsigned char header[14] = {'B', 'M',
                                      BYTE(size), BYTE(size >> 8), BYTE(size >> 16), BYTE(size >> 24),
                                      0, 0, 0, 0,
                                      BYTE(offset), BYTE(offset >> 8), BYTE(offset >> 16), BYTE(offset >> 24)};
    // Written aside and renamed: a failed write leaves no half picture.
    const std::string part = path + ".part";
    std::ofstream out(part, std::ios::binary);
    out.write(reinterpret_cast<const char *>(header), sizeof header);
    out.write(reinterpret_cast<const char *>(dib.data()), std::streamsize(dib.size()));
    out.close();
    if (!out || std::rename(part.c_str(), path.c_str()) != 0) {
        std::remove(part.c_str());
        throw ProbeError("cannot write " + path);
    }
}

void Grab(const Args &args)
{
    if (!args.options.count("--at") || Option(args, "--out").empty())
        throw ProbeError("grab needs --at T and --out PATH.bmp");
    const long long at = Number(args, "--at", 0);
    ProbeGraph graph(args.file, Option(args, "--source"), Option(args, "--splitter"));
    graph.BuildPlayback();
    graph.Seek(at);
    const REFERENCE_TIME shown = graph.PauseForStill();
    WriteBmp(Option(args, "--out"), graph.CurrentImage());
    std::printf("%lld\n", static_cast<long long>(shown));
}

} // namespace

int main(int argc, char **argv)
{
    try {
        if (argc >= 2 && std::string(argv[1]) == "nav") {
            RegisterProbeFilters();
            ProbeNav(std::vector<std::string>(argv + 2, argv + argc));
            return 0;
        }
        if (argc >= 2 && std::string(argv[1]) == "connect") {
            RegisterProbeFilters();
            ProbeConnect(std::vector<std::string>(argv + 2, argv + argc));
            return 0;
        }
        if (argc >= 2 && std::string(argv[1]) == "decoders") {
            RegisterProbeFilters();
            ProbeDecoders(std::vector<std::string>(argv + 2, argv + argc));
            std::fflush(stdout);
            return 0;
        }
        const Args args = Parse(argc, argv);
        RegisterProbeFilters();
        if (args.command == "info")
            Info(args);
        else if (args.command == "frames")
            Frames(args);
        else if (args.command == "device")
            ProbeDevice(args.file);
        else if (args.command == "dv")
            ProbeDv(args.file, Number(args, "--count", 0));
        else
            Grab(args);
        std::fflush(stdout);
        return 0;
    } catch (const std::exception &e) {
        std::string message = e.what();
        for (char &c : message)
            if (c == '\n' || c == '\r')
                c = ' ';
        std::fprintf(stderr, "vidstill-probe: %s\n", message.c_str());
        return 1;
    }
}
