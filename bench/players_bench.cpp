// Our speed side by side with the tools people compare us with: landing on
// an exact frame and one-frame steps against mpv, sequential decoding
// against ffmpeg, JPEG encoding against tjbench, and the peak memory of a
// landing run against mpv's.
//
// Ours runs in two modes: "ours" with the video decoder's settings at their
// defaults, "ours-plain" with its picture cache and the skipping of pictures
// a precise seek hides both turned off (the decoder's registry key in the
// benchmark's own hive). mpv is driven over its IPC socket (MpvSession.h).
//
//   players_bench [--targets N] [--steps N] [--runs R] [--threads T] [--prepos MS]
//                 [--quick] [--only landing,steps,decode,jpeg,memory]
//
// Every measurement runs in a fresh process, and the sides take turns in a
// rotating order (A B C, B C A, ...) so drifts of a shared machine spread
// over all of them. Our landings are checked by the index mkmedia draws into
// each picture: a miss fails the benchmark (exit 1), as does a tool that
// cannot run; mpv's frame is checked by its time-pos, and a mismatch is only
// reported. The clips, the picture and the settings live in a temporary
// folder, removed after.
#include "bench/BenchSupport.h"
#include "bench/MpvSession.h"
#include "platform/base/ImageFiles.h"
#include "platform/ffmpeg/DecodingSettings.h"
#include "platform/registry/Registry.h"
#include "tools/mkmedia/MkMedia.h"

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/log.h>
}

#include <QApplication>

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace bench;

constexpr unsigned kSeed = 20240917;  // the same targets from run to run
constexpr int kJpegQuality = 90;
constexpr double kJpegSeconds = 3;

// The targets the table judges by.
constexpr double kLandingAim = 0.8;    // ours/mpv, at most
constexpr double kBackAim = 0.1;       // ours/mpv after the first step, at most
constexpr double kForwardAim = 1.5;    // ours/one frame's decode time, at most
constexpr double kDecodeAim = 0.95;    // ours/ffmpeg frames per second, at least
constexpr double kJpegAim = 0.95;      // ours/tjbench megapixels per second, at least

// ---- Children -----------------------------------------------------------------------

// "ours": the decoder's defaults; "plain": no picture cache, no skipping.
void ApplyMode(const std::string &mode)
{
    const QString key = QString::fromLatin1(kVideoDecodingKey);
    if (mode == "plain") {
        if (!reg::CreateKey(key) || !reg::SetValue(key, "PictureCacheMB", reg::RegValue::Dword(0))
            || !reg::SetValue(key, "SkipHidden", reg::RegValue::Dword(0)))
            Fail("cannot write the decoder's settings");
        return;
    }
    reg::DeleteValue(key, "PictureCacheMB");
    reg::DeleteValue(key, "SkipHidden");
}

// --child nav MODE FILE THREADS PREPOS TARGETS STEPSTART STEPS
int NavChild(int argc, char **argv)
{
    if (argc != 10)
        Fail("bad child arguments");
    ApplyMode(argv[3]);
    const NavJob job{argv[4], std::atoi(argv[5]), std::atoll(argv[6]), false, SplitTargets(argv[7]),
                     std::atoi(argv[8]), std::atoi(argv[9])};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);  // the message windows need the event loop
    RunOurs(job);
    std::printf("peak %ld\n", PeakRssKb());
    return 0;
}

// jpeg BMP: EncodeJpeg on the picture, round after round.
int JpegChild(const std::string &bmp)
{
    const QImage image = QImage(QString::fromStdString(bmp)).convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        Fail("cannot read " + bmp);
    std::vector<double> ms;
    size_t bytes = 0;
    const auto start = Clock::now();
    for (bool warm = false;;) {
        const auto t = Clock::now();
        QString error;
        const QByteArray jpeg = EncodeJpeg(image, kJpegQuality, &error);
        if (jpeg.isEmpty())
            Fail("EncodeJpeg: " + error.toStdString());
        const double elapsed = MsSince(start);
        if (warm)
            ms.push_back(MsSince(t));
        else
            warm = elapsed > 1000;  // a second to warm the caches, as tjbench does
        bytes = size_t(jpeg.size());
        if (ms.size() >= 20 && elapsed > 1000 + kJpegSeconds * 1000)
            break;
    }
    std::printf("jpeg %.4f %.4f %zu\n", Median(ms), *std::max_element(ms.begin(), ms.end()), bytes);
    return 0;
}

int Child(int argc, char **argv)
{
    av_log_set_level(AV_LOG_QUIET);
    const std::string what = argc > 2 ? argv[2] : "";
    if (what == "nav")
        return NavChild(argc, argv);
    if (what == "decode" && argc == 6) {
        ApplyMode(argv[3]);
        Report(RunGraph(argv[4], std::atoi(argv[5])));
        return 0;
    }
    if (what == "loop" && argc == 6) {
        Report(HandLoop(argv[3], std::atoi(argv[4]), argv[5]).Run());
        return 0;
    }
    if (what == "jpeg" && argc == 4)
        return JpegChild(argv[3]);
    Fail("bad child arguments");
}

// ---- The clips ----------------------------------------------------------------------

struct Options {
    int targets = 15;
    int steps = 30;
    int runs = 3;
    int threads = int(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
    int preposMs = -1;  // -1: the program's default
    bool quick = false;
    std::set<std::string> only;  // empty: everything

    bool Wants(const std::string &what) const { return only.empty() || only.count(what); }
};

struct Clip {
    std::string name;
    ClipInfo info;
    std::vector<int> targets;
    int stepStart = 0;
    double fps = 25;
};

Clip WriteClip(const Options &o, const std::string &folder, const std::string &name, mkmedia::ClipOptions c)
{
    c.path = folder + "/" + name + "." + mkmedia::ExtensionOf(c.path);
    c.frames = o.quick ? 150 : 750;  // 6 s or 30 s at 25 fps
    c.audio = 0;
    std::fprintf(stderr, "writing %s (%d frames)...\n", name.c_str(), c.frames);
    const mkmedia::ClipResult r = mkmedia::WriteClip(c);
    if (!r.ok)
        Fail("cannot write the clip: " + r.error);
    Clip clip;
    clip.name = name;
    clip.info = Inspect(c.path, r.description.substr(r.description.find(": ") + 2));  // without the path
    clip.targets = RandomTargets(clip.info, o.targets, kSeed);
    clip.stepStart = StepStart(clip.info);
    clip.fps = 1e7 / double(clip.info.frameDuration);
    return clip;
}

std::vector<Clip> WriteClips(const Options &o, const std::string &folder)
{
    std::vector<Clip> clips;
    for (int gop : {250, 25}) {
        mkmedia::ClipOptions h264;
        h264.path = ".mp4";
        h264.codec = "h264";
        h264.width = 1920;
        h264.height = 1080;
        h264.gop = gop;
        h264.bframes = 3;
        h264.bitRate = 12'000'000;
        clips.push_back(WriteClip(o, folder, "h264-gop" + std::to_string(gop), h264));
    }
    mkmedia::ClipOptions mpeg2;
    mpeg2.path = ".mpg";
    mpeg2.codec = "mpeg2";
    mpeg2.width = 720;
    mpeg2.height = 576;
    mpeg2.gop = 15;
    mpeg2.bframes = 2;
    mpeg2.bitRate = 6'000'000;
    clips.push_back(WriteClip(o, folder, "mpeg2-gop15", mpeg2));
    mkmedia::ClipOptions dv;
    dv.path = ".avi";
    dv.codec = "dv";
    clips.push_back(WriteClip(o, folder, "dv", dv));
    return clips;
}

// A 1920x1080 picture with detail at every scale: gradients, fine stripes,
// and a little deterministic noise, as a photograph has.
std::string WritePicture(const std::string &folder)
{
    QImage image(1920, 1080, QImage::Format_RGB32);
    uint32_t noise = 12345;
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int n = int(noise >> 28) - 8;
            const int r = 128 + int(90 * std::sin(x / 97.0) * std::cos(y / 53.0)) + n;
            const int g = 110 + (x * 100 / 1920) + int(25 * std::sin((x + y) / 3.0)) + n;
            const int b = 90 + (y * 120 / 1080) + ((x / 8 + y / 8) % 2) * 20 + n;
            row[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    const std::string path = folder + "/picture.bmp";
    QString error;
    if (!WriteBmp24(image, QString::fromStdString(path), &error))
        Fail("cannot write the picture: " + error.toStdString());
    return path;
}

// ---- Measuring ----------------------------------------------------------------------

// What one landing or step run gave.
struct NavRun {
    std::vector<Landing> moves;
    long peakKb = -1;
};

class Runner {
public:
    Runner(const Options &o, const std::string &folder) : m_o(o), m_folder(folder), m_log(folder + "/child.log") {}

    void Nav(const Clip &c, const std::string &side, bool steps);
    void Decode(const Clip &c, const std::string &side);
    void Jpeg(const std::string &side, const std::string &bmp);

    std::map<std::string, std::vector<NavRun>> nav;  // by clip, kind and side
    std::map<std::string, std::vector<double>> fps;  // by clip and side
    std::map<std::string, std::vector<double>> jpegMpx, jpegMs;  // by side
    std::map<std::string, std::string> format;  // the renderer's, by clip
    REFERENCE_TIME prepos = -1;
    int ourMisses = 0;

private:
    NavRun OursNav(const Clip &c, const std::string &mode, bool steps);
    NavRun MpvNav(const Clip &c, bool steps);
    double Ffmpeg(const Clip &c);
    std::string Tool(const std::vector<std::string> &argv, int *code);

    const Options &m_o;
    std::string m_folder, m_log;
};

std::string NavKey(const Clip &c, bool steps, const std::string &side)
{
    return c.name + (steps ? " steps " : " landing ") + side;
}

void Runner::Nav(const Clip &c, const std::string &side, bool steps)
{
    NavRun run = side == "mpv" ? MpvNav(c, steps) : OursNav(c, side == "ours" ? "ours" : "plain", steps);
    if (side != "mpv")
        for (const Landing &l : run.moves)
            ourMisses += l.shown == l.target ? 0 : 1;
    nav[NavKey(c, steps, side)].push_back(std::move(run));
}

NavRun Runner::OursNav(const Clip &c, const std::string &mode, bool steps)
{
    const REFERENCE_TIME asked = m_o.preposMs >= 0 ? REFERENCE_TIME(m_o.preposMs) * 10000 : -1;
    std::istringstream out(RunSelf({"--child", "nav", mode, c.info.file, std::to_string(m_o.threads),
                                    std::to_string(asked), steps ? "-" : JoinTargets(c.targets),
                                    std::to_string(c.stepStart), std::to_string(steps ? m_o.steps : 0)},
                                   m_log));
    NavRun run;
    char name[32] = {};
    long long value = 0;
    for (std::string line; std::getline(out, line);) {
        Landing l;
        if (std::sscanf(line.c_str(), "peak %lld", &value) == 1)
            run.peakKb = long(value);
        else if (std::sscanf(line.c_str(), "prepos %lld", &value) == 1)
            prepos = value;
        else if (std::sscanf(line.c_str(), "format %31s", name) == 1)
            format[c.name] = name;
        else if (ParseLanding(line, l))
            run.moves.push_back(l);
    }
    const size_t expected = steps ? size_t(2 * m_o.steps) : c.targets.size();
    if (run.moves.size() != expected)
        Fail("the " + mode + " run reported too little on " + c.name);
    return run;
}

NavRun Runner::MpvNav(const Clip &c, bool steps)
{
    MpvSession mpv(c.info.file, m_o.threads, m_folder, c.fps);
    NavRun run;
    if (!steps) {
        for (int target : c.targets) {
            Landing l{'L', target};
            l.ms = mpv.SeekExact(target / c.fps);
            l.position = mpv.Frame();
            run.moves.push_back(l);
        }
    } else {
        mpv.SeekExact(c.stepStart / c.fps);
        for (Landing step : StepPlan(c.stepStart, m_o.steps)) {
            step.ms = step.kind == 'B' ? mpv.BackStep() : mpv.ForwardStep();
            step.position = mpv.Frame();
            run.moves.push_back(step);
        }
    }
    run.peakKb = mpv.PeakKb();
    return run;
}

void Runner::Decode(const Clip &c, const std::string &side)
{
    Measurement m;
    const std::string threads = std::to_string(m_o.threads);
    if (side == "ffmpeg") {
        fps[c.name + " ffmpeg"].push_back(Ffmpeg(c));
        return;
    }
    const std::string out = side == "libav loop"
        ? RunSelf({"--child", "loop", c.info.file, threads, format.count(c.name) ? format[c.name] : "I420"}, m_log)
        : RunSelf({"--child", "decode", side == "ours" ? "ours" : "plain", c.info.file, threads}, m_log);
    if (!ParseMeasurement(out, m))
        Fail("the " + side + " decode reported nothing on " + c.name);
    if (side == "ours")
        format[c.name] = m.format;
    fps[c.name + " " + side].push_back(Fps(m));
}

// Runs another program: what it wrote to stdout, then to stderr.
std::string Runner::Tool(const std::vector<std::string> &argv, int *code)
{
    const std::string log = m_folder + "/tool.log";
    std::ofstream(log, std::ios::trunc);
    const std::string out = RunProcess(argv, log, code);
    std::ifstream in(log);
    return out + std::string((std::istreambuf_iterator<char>(in)), {});
}

// Frames per second from ffmpeg's own clock (rtime) and frame count.
double Runner::Ffmpeg(const Clip &c)
{
    int code = 0;
    const std::string text = Tool({"ffmpeg", "-hide_banner", "-nostdin", "-threads", std::to_string(m_o.threads),
                                   "-benchmark", "-i", c.info.file, "-map", "0:v", "-f", "null", "-"},
                                  &code);
    const size_t bench = text.rfind("rtime="), frame = text.rfind("frame=");
    const double rtime = bench == std::string::npos ? 0 : std::atof(text.c_str() + bench + 6);
    const long frames = frame == std::string::npos ? 0 : std::atol(text.c_str() + frame + 6);
    if (code != 0 || rtime <= 0 || frames <= 0)
        Fail("ffmpeg did not decode " + c.name + ":\n" + text);
    return frames / rtime;
}

void Runner::Jpeg(const std::string &side, const std::string &bmp)
{
    const double megapixels = 1920.0 * 1080.0 / 1e6;
    if (side == "ours") {
        double median = 0, worst = 0;
        const std::string out = RunSelf({"--child", "jpeg", bmp}, m_log);
        if (std::sscanf(out.c_str(), "jpeg %lf %lf", &median, &worst) != 2 || median <= 0)
            Fail("the JPEG run reported nothing");
        jpegMs[side].push_back(median);
        jpegMpx[side].push_back(megapixels / (median / 1000));
        return;
    }
    int code = 0;
    const std::string out = Tool({"tjbench", bmp, std::to_string(kJpegQuality), "-subsamp", "420", "-componly",
                                  "-benchtime", std::to_string(int(kJpegSeconds)), "-warmup", "1", "-nowrite"},
                                 &code);
    const size_t compress = out.find("Compress");
    const size_t rate = out.find("Frame rate:", compress), through = out.find("Throughput:", compress);
    if (code != 0 || compress == std::string::npos || rate == std::string::npos || through == std::string::npos)
        Fail("tjbench did not run:\n" + out);
    jpegMs[side].push_back(1000 / std::atof(out.c_str() + rate + 11));
    jpegMpx[side].push_back(std::atof(out.c_str() + through + 11));
}

// ---- The table ----------------------------------------------------------------------

// One row: a figure of one side, its ratio against the reference and the aim.
struct Row {
    Row(std::string what_, std::string clip_, std::string side_, double median_, double worst_,
        const char *unit_ = "ms")
        : what(std::move(what_)), clip(std::move(clip_)), side(std::move(side_)), median(median_), worst(worst_),
          unit(unit_)
    {
    }

    std::string what, clip, side;
    double median = 0, worst = 0;
    const char *unit = "ms";
    double ratio = NAN;  // against the reference; NaN: none
    bool reference = false;  // the row others are held against
    std::string aim;     // "<= 0.8", ">= 0.95", or empty when only reported
    std::string note;
};

std::string Aim(const char *relation, double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%s %g", relation, value);
    return text;
}

void PrintHeader()
{
    std::printf("\n%-17s %-12s %-11s %10s %10s %-6s %7s  %-8s %-4s %s\n", "measurement", "clip", "side", "median",
                "worst", "unit", "ratio", "target", "met", "note");
}

void Print(const Row &r)
{
    std::string met = "-";
    if (!r.aim.empty() && !std::isnan(r.ratio)) {
        const double aim = std::atof(r.aim.c_str() + 3);
        met = (r.aim[0] == '<' ? r.ratio <= aim : r.ratio >= aim) ? "yes" : "NO";
    }
    char ratio[32] = "-";
    if (r.reference)
        std::snprintf(ratio, sizeof ratio, "ref");
    else if (!std::isnan(r.ratio))
        std::snprintf(ratio, sizeof ratio, "%.3f", r.ratio);
    std::printf("%-17s %-12s %-11s %10.2f %10.2f %-6s %7s  %-8s %-4s %s\n", r.what.c_str(), r.clip.c_str(),
                r.side.c_str(), r.median, r.worst, r.unit, ratio, r.aim.empty() ? "-" : r.aim.c_str(), met.c_str(),
                r.note.c_str());
}

// Move by move, the median over the runs, for moves [from, from + count).
std::vector<double> PerMove(const std::vector<NavRun> &runs, size_t from, size_t count)
{
    std::vector<double> out;
    for (size_t i = from; i < from + count && i < runs.front().moves.size(); ++i) {
        std::vector<double> ms;
        for (const NavRun &r : runs)
            ms.push_back(r.moves[i].ms);
        out.push_back(Median(ms));
    }
    return out;
}

double Worst(const std::vector<double> &v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

// mpv's moves that did not end on the frame asked for (ours: a miss fails the run).
int Mismatches(const std::vector<NavRun> &runs, size_t from, size_t count)
{
    int n = 0;
    for (const NavRun &r : runs)
        for (size_t i = from; i < from + count && i < r.moves.size(); ++i)
            n += r.moves[i].position == r.moves[i].target ? 0 : 1;
    return n;
}

const char *const kSides[] = {"mpv", "ours", "ours-plain"};

std::string MismatchNote(int n) { return n ? std::to_string(n) + " off the frame asked (time-pos)" : ""; }

void LandingRows(const Runner &r, const Clip &c)
{
    const auto &mpv = r.nav.at(NavKey(c, false, "mpv"));
    const double reference = Median(PerMove(mpv, 0, c.targets.size()));
    for (const char *side : kSides) {
        const auto &runs = r.nav.at(NavKey(c, false, side));
        const std::vector<double> ms = PerMove(runs, 0, c.targets.size());
        Row row{"landing", c.name, side, Median(ms), Worst(ms)};
        if (std::string(side) != "mpv") {
            row.ratio = row.median / reference;
            row.aim = Aim("<=", kLandingAim);
        } else {
            row.reference = true;
            row.note = MismatchNote(Mismatches(runs, 0, c.targets.size()));
        }
        Print(row);
    }
}

void MemoryRows(const Runner &r, const Clip &c)
{
    const auto peak = [&](const char *side) {
        std::vector<double> mib;
        for (const NavRun &run : r.nav.at(NavKey(c, false, side)))
            mib.push_back(run.peakKb / 1024.0);
        return mib;
    };
    const double reference = Median(peak("mpv"));
    for (const char *side : kSides) {
        const std::vector<double> mib = peak(side);
        Row row{"peak RSS landing", c.name, side, Median(mib), Worst(mib), "MiB"};
        row.reference = std::string(side) == "mpv";
        if (!row.reference)
            row.ratio = row.median / reference;
        Print(row);
    }
}

// Per side and direction: the first step apart, then steps 2..N. Forward is
// judged against one frame's decode time from ffmpeg's sequential decode.
void StepRows(const Runner &r, const Clip &c, int steps, double frameMs)
{
    for (const bool back : {true, false}) {
        const size_t from = back ? 0 : size_t(steps);
        const auto &mpv = r.nav.at(NavKey(c, true, "mpv"));
        const std::vector<double> mpvMs = PerMove(mpv, from, size_t(steps));
        for (const char *side : kSides) {
            const auto &runs = r.nav.at(NavKey(c, true, side));
            const std::vector<double> ms = PerMove(runs, from, size_t(steps));
            const std::vector<double> rest(ms.begin() + 1, ms.end()), mpvRest(mpvMs.begin() + 1, mpvMs.end());
            const bool ours = std::string(side) != "mpv";
            Row first{back ? "step back 1st" : "step fwd 1st", c.name, side, ms.front(), ms.front()};
            Row later{back ? "step back 2.." : "step fwd 2..", c.name, side, Median(rest), Worst(rest)};
            first.reference = later.reference = back && !ours;
            if (back && ours) {
                first.ratio = first.median / mpvMs.front();
                later.ratio = later.median / Median(mpvRest);
                later.aim = Aim("<=", kBackAim);
            } else if (!back && frameMs > 0) {
                later.ratio = later.median / frameMs;
                later.aim = ours ? Aim("<=", kForwardAim) : "";
                later.note = "ratio: to one frame's decode (ffmpeg)";
            }
            const std::string mismatches = ours ? "" : MismatchNote(Mismatches(runs, from, size_t(steps)));
            if (!mismatches.empty())
                later.note += (later.note.empty() ? "" : "; ") + mismatches;
            Print(first);
            Print(later);
        }
    }
}

double Slowest(const std::vector<double> &v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

void DecodeRows(const Runner &r, const Clip &c)
{
    const std::string format = r.format.count(c.name) ? r.format.at(c.name) : "?";
    const double reference = Median(r.fps.at(c.name + " ffmpeg"));
    for (const char *side : {"ffmpeg", "ours", "ours-plain", "libav loop"}) {
        const std::vector<double> &fps = r.fps.at(c.name + " " + side);
        Row row{"decode", c.name, side, Median(fps), Slowest(fps), "fps"};
        row.reference = std::string(side) == "ffmpeg";
        if (!row.reference) {
            row.ratio = row.median / reference;
            row.aim = std::string(side).rfind("ours", 0) == 0 ? Aim(">=", kDecodeAim) : "";
            row.note = "pictures written as " + format;
        }
        Print(row);
    }
}

void JpegRows(const Runner &r)
{
    const double reference = Median(r.jpegMpx.at("tjbench"));
    for (const char *side : {"tjbench", "ours"}) {
        const std::vector<double> &mpx = r.jpegMpx.at(side);
        Row row{"JPEG q90 4:2:0", "1920x1080", side, Median(mpx), Slowest(mpx), "Mpx/s"};
        char note[64];
        std::snprintf(note, sizeof note, "%.2f ms a picture", Median(r.jpegMs.at(side)));
        row.note = note;
        row.reference = std::string(side) == "tjbench";
        if (!row.reference) {
            row.ratio = row.median / reference;
            row.aim = Aim(">=", kJpegAim);
        }
        Print(row);
    }
}

// ---- The machine --------------------------------------------------------------------

std::string FirstLine(const std::vector<std::string> &argv)
{
    int code = 0;
    const std::string out = RunProcess(argv, "/dev/null", &code);
    const std::string line = out.substr(0, out.find('\n'));
    return code == 0 && !line.empty() ? line : "(not found)";
}

// The CPU's model and its physical cores (distinct package and core ids).
std::string CpuText()
{
    std::ifstream in("/proc/cpuinfo");
    std::string model = "?", physical;
    std::set<std::string> cores;
    for (std::string line; std::getline(in, line);) {
        const size_t colon = line.find(':');
        const std::string value = colon == std::string::npos ? "" : QString::fromStdString(line.substr(colon + 1))
                                                                          .trimmed()
                                                                          .toStdString();
        if (line.rfind("model name", 0) == 0)
            model = value;
        else if (line.rfind("physical id", 0) == 0)
            physical = value;
        else if (line.rfind("core id", 0) == 0)
            cores.insert(physical + "/" + value);
    }
    return model + ", " + (cores.empty() ? std::string("?") : std::to_string(cores.size())) + " core(s)";
}

void PrintMachine(const Options &o, const Runner &r)
{
    utsname u{};
    uname(&u);
    std::printf("machine: %s; nproc %ld; kernel %s %s\n", CpuText().c_str(), sysconf(_SC_NPROCESSORS_ONLN),
                u.sysname, u.release);
    std::printf("FFmpeg (linked) %s; %s\n", av_version_info(),
                FirstLine({"ffmpeg", "-hide_banner", "-version"}).c_str());
    std::printf("%s; libjpeg-turbo %s\n", FirstLine({"mpv", "--no-config", "--version"}).c_str(),
                FirstLine({"dpkg-query", "-W", "-f=${Version}\\n", "libjpeg62-turbo"}).c_str());
    const std::string prepos = r.prepos < 0 ? "?" : std::to_string(r.prepos / 10000) + " ms";
    std::printf("decoder threads %d (ours, mpv --vd-lavc-threads, ffmpeg -threads); SeekPrepos %s (%s); "
                "%d random frame(s) per clip (seed %u); %d step(s) each way from 100 frames past a key frame; "
                "median of %d run(s)\n",
                o.threads, prepos.c_str(), o.preposMs >= 0 ? "--prepos" : "the program's default", o.targets, kSeed,
                o.steps, o.runs);
    std::printf("ours-plain: the decoder's PictureCacheMB and SkipHidden both 0; worst = slowest; "
                "mpv's frame-step is paced by its playback clock\n");
}

// ---- The parent ---------------------------------------------------------------------

// Each side once, starting with another one each run.
void Rotated(int run, const std::vector<std::function<void()>> &sides)
{
    for (size_t i = 0; i < sides.size(); ++i)
        sides[(i + size_t(run)) % sides.size()]();
}

void MeasureClip(Runner &r, const Options &o, const Clip &c, int run)
{
    for (const bool steps : {false, true}) {
        if (!(steps ? o.Wants("steps") : o.Wants("landing") || o.Wants("memory")))
            continue;
        Rotated(run, {[&] { r.Nav(c, "ours", steps); }, [&] { r.Nav(c, "ours-plain", steps); },
                      [&] { r.Nav(c, "mpv", steps); }});
    }
    if (o.Wants("decode")) {
        Rotated(run, {[&] { r.Decode(c, "ours"); }, [&] { r.Decode(c, "ours-plain"); },
                      [&] { r.Decode(c, "ffmpeg"); }});
        r.Decode(c, "libav loop");  // after ours, which tells the renderer's format
    }
}

// The bit rate a clip came out at: the encoders spend what the synthetic
// pictures need, which may be less than asked.
void PrintClips(const std::vector<Clip> &clips)
{
    for (const Clip &c : clips) {
        std::error_code error;
        const double bytes = double(std::filesystem::file_size(c.info.file, error));
        const double seconds = c.info.frames * c.info.frameDuration / 1e7;
        std::printf("clip %-12s %s; key frames at most %d apart; %.1f Mb/s\n", c.name.c_str(), c.info.label.c_str(),
                    c.info.keyInterval, error ? 0.0 : bytes * 8 / seconds / 1e6);
    }
}

void PrintTable(const Runner &r, const Options &o, const std::vector<Clip> &clips)
{
    PrintMachine(o, r);
    PrintClips(clips);
    PrintHeader();
    for (const Clip &c : clips) {
        const std::string ffmpeg = c.name + " ffmpeg";
        const double frameMs = r.fps.count(ffmpeg) ? 1000 / Median(r.fps.at(ffmpeg)) : 0;
        if (o.Wants("landing"))
            LandingRows(r, c);
        if (o.Wants("steps"))
            StepRows(r, c, o.steps, frameMs);
        if (o.Wants("decode"))
            DecodeRows(r, c);
        if (o.Wants("memory"))
            MemoryRows(r, c);
    }
    if (o.Wants("jpeg"))
        JpegRows(r);
}

int Bench(const Options &o, const std::string &folder)
{
    IsolateSettings(folder);
    const bool onClips = o.Wants("landing") || o.Wants("steps") || o.Wants("decode") || o.Wants("memory");
    const std::vector<Clip> clips = onClips ? WriteClips(o, folder) : std::vector<Clip>{};
    const std::string picture = o.Wants("jpeg") ? WritePicture(folder) : "";
    Runner r(o, folder);
    for (int run = 0; run < o.runs; ++run) {
        std::fprintf(stderr, "run %d of %d...\n", run + 1, o.runs);
        for (const Clip &c : clips)
            MeasureClip(r, o, c, run);
        if (o.Wants("jpeg"))
            Rotated(run, {[&] { r.Jpeg("ours", picture); }, [&] { r.Jpeg("tjbench", picture); }});
    }
    PrintTable(r, o, clips);
    if (r.ourMisses > 0) {
        std::printf("\n%d landing(s) or step(s) of ours on the wrong frame\n", r.ourMisses);
        return 1;
    }
    return 0;
}

const char kUsage[] = "usage: players_bench [--targets N] [--steps N] [--runs R] [--threads T] [--prepos MS] "
                      "[--quick] [--only landing,steps,decode,jpeg,memory]";

int IntOption(const std::string &value, int lowest)
{
    return std::max(lowest, std::atoi(value.c_str()));
}

std::set<std::string> ParseOnly(const std::string &list)
{
    std::set<std::string> only;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');) {
        if (item != "landing" && item != "steps" && item != "decode" && item != "jpeg" && item != "memory")
            Fail("unknown measurement " + item + "\n" + kUsage);
        only.insert(item);
    }
    return only;
}

Options Parse(int argc, char **argv)
{
    Options o;
    bool targetsSet = false, stepsSet = false, runsSet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string key = argv[i];
        if (key == "--quick") {
            o.quick = true;
            continue;
        }
        if (i + 1 >= argc)
            Fail(kUsage);
        const std::string value = argv[++i];
        if (key == "--targets")
            o.targets = IntOption(value, 1), targetsSet = true;
        else if (key == "--steps")
            o.steps = IntOption(value, 2), stepsSet = true;
        else if (key == "--runs")
            o.runs = IntOption(value, 1), runsSet = true;
        else if (key == "--threads")
            o.threads = std::min(64, IntOption(value, 1));
        else if (key == "--prepos")
            o.preposMs = IntOption(value, 0);
        else if (key == "--only")
            o.only = ParseOnly(value);
        else
            Fail("unknown option " + key + "\n" + kUsage);
    }
    if (o.quick) {  // a smoke run: short clips, a few moves, one run
        o.targets = targetsSet ? o.targets : 3;
        o.steps = stepsSet ? o.steps : 5;
        o.runs = runsSet ? o.runs : 1;
    }
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    return BenchMain("players_bench", argc, argv, Child, [](int argc, char **argv) {
        const Options o = Parse(argc, argv);
        av_log_set_level(AV_LOG_QUIET);  // the clip writer's encoder chatter
        const TempFolder folder("players_bench");
        return Bench(o, folder.path());
    });
}
