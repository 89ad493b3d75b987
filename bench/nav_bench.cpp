// What landing on an exact frame costs through the navigation manager,
// against the least any player has to do for it: seek libavformat to the key
// frame before the frame and decode up to it.
//
// Ours: the graph the program builds for a file (NavGraph: "LAV Splitter
// Source", our video decoder found by intelligent connect, the frame notifier,
// "Video Mixing Renderer 9"; optionally the sound through the audio renderer),
// paused, driven by TNavMan::SeekPrecise, StepBackward and StepForward. The
// floor: av_seek_frame(AVSEEK_FLAG_BACKWARD) to the target, a decoder flush,
// then decoding until the target picture comes out, with the same decoder
// threads. Both sides write every decoded picture once in the format the
// renderer was given (ours: the decoder into the renderer's buffers, also the
// pictures the notifier swallows; the floor: the same copy or conversion).
//
// Each landing is checked by the frame index mkmedia draws into each picture
// (ours: the renderer's current image; the floor: the decoded picture); a
// miss makes the benchmark fail. Times are printed, never judged.
//
//   nav_bench [--targets N] [--steps N] [--runs R] [--threads N] [--prepos MS] [--clip FILE]
//
// Each measurement runs in a fresh process (the benchmark runs itself again
// with --child). The clips are written at run time into a temporary folder,
// which also holds the settings the children may write, removed after.
#include "bench/BenchSupport.h"
#include "tools/mkmedia/FrameIndex.h"
#include "tools/mkmedia/MkMedia.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
}

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace bench;

constexpr unsigned kSeed = 20240917;  // the same targets from run to run

// What a child is asked to do; passed on its command line.
struct Job {
    std::string side;  // "ours" or "floor"
    std::string file;
    int threads = 2;
    REFERENCE_TIME prepos = 0;
    bool audio = false;
    std::string format = "-";  // the renderer's picture format (the floor's output)
    std::vector<int> targets;
    int stepStart = 0;
    int steps = 0;
    std::string log;  // the child's stderr goes here (parent side only)
};

// ---- Ours: the navigation manager on the program's graph --------------------------

void RunOurs(const Job &job)
{
    bench::RunOurs({job.file, job.threads, job.prepos, job.audio, job.targets, job.stepStart, job.steps});
}

// ---- The floor: seek and decode by hand -------------------------------------------

AVPixelFormat PixelFormatOf(const std::string &name)
{
    if (name == "RGB32")
        return AV_PIX_FMT_BGR0;
    return name == "NV12" ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;  // I420 and YV12 alike
}

class FloorLoop {
public:
    FloorLoop(const std::string &file, int threads, const std::string &format);
    Landing Land(Landing l);

private:
    void Write(const AVFrame *frame);
    // Reads and decodes until a picture at or after `ts`; false at the end.
    bool DecodeTo(int64_t ts);

    ffmpeg::FormatPtr m_format;
    ffmpeg::CodecPtr m_codec;
    ffmpeg::FramePtr m_frame = ffmpeg::MakeFrame();
    ffmpeg::FramePtr m_out = ffmpeg::MakeFrame();
    ffmpeg::PacketPtr m_packet = ffmpeg::MakePacket();
    ffmpeg::SwsPtr m_sws;
    int m_stream = -1;
    int64_t m_start = 0;  // the first picture's time, in the stream's time base
    int64_t m_frameTicks = 1;
};

FloorLoop::FloorLoop(const std::string &file, int threads, const std::string &format)
{
    VideoInput in = OpenVideo(file, threads);
    m_format = std::move(in.format);
    m_codec = std::move(in.codec);
    m_stream = in.stream;
    const AVStream *s = m_format->streams[m_stream];
    m_start = s->start_time != AV_NOPTS_VALUE ? s->start_time : 0;
    m_frameTicks = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(s->avg_frame_rate), s->time_base));
    if (avcodec_open2(m_codec.get(), m_codec->codec, nullptr) < 0)
        Fail("cannot open the decoder");
    m_out->format = PixelFormatOf(format);
    m_out->width = m_codec->width;
    m_out->height = m_codec->height;
    if (av_frame_get_buffer(m_out.get(), 0) < 0)
        Fail("out of memory");
}

// As our decoder fills a delivery buffer: a plain copy when the formats
// agree, else a conversion.
void FloorLoop::Write(const AVFrame *frame)
{
    const auto want = static_cast<AVPixelFormat>(m_out->format);
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const bool same = (format == want || (want == AV_PIX_FMT_YUV420P && format == AV_PIX_FMT_YUVJ420P))
        && frame->width == m_out->width && frame->height == m_out->height;
    if (same) {
        av_image_copy(m_out->data, m_out->linesize, const_cast<const uint8_t **>(frame->data), frame->linesize,
                      want, m_out->width, m_out->height);
        return;
    }
    m_sws.reset(sws_getCachedContext(m_sws.release(), frame->width, frame->height, format, m_out->width,
                                     m_out->height, want, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!m_sws)
        Fail("no conversion to the renderer's format");
    sws_scale(m_sws.get(), frame->data, frame->linesize, 0, frame->height, m_out->data, m_out->linesize);
}

bool FloorLoop::DecodeTo(int64_t ts)
{
    const int64_t early = ts - m_frameTicks / 2;
    bool draining = false;
    for (;;) {
        while (avcodec_receive_frame(m_codec.get(), m_frame.get()) == 0) {
            Write(m_frame.get());
            if (m_frame->best_effort_timestamp > early)
                return true;  // the frame stays in m_frame for the check
            av_frame_unref(m_frame.get());
        }
        if (draining)
            return false;
        if (av_read_frame(m_format.get(), m_packet.get()) < 0) {
            avcodec_send_packet(m_codec.get(), nullptr);
            draining = true;
            continue;
        }
        if (m_packet->stream_index == m_stream)
            avcodec_send_packet(m_codec.get(), m_packet.get());
        av_packet_unref(m_packet.get());
    }
}

Landing FloorLoop::Land(Landing l)
{
    const int64_t ts = m_start + l.target * m_frameTicks;
    const double cpu = ThreadCpuMs();
    const auto start = Clock::now();
    av_frame_unref(m_frame.get());
    if (av_seek_frame(m_format.get(), m_stream, ts, AVSEEK_FLAG_BACKWARD) < 0)
        Fail("libavformat cannot seek");
    avcodec_flush_buffers(m_codec.get());
    const bool landed = DecodeTo(ts);
    l.ms = MsSince(start);
    l.cpuMs = ThreadCpuMs() - cpu;
    if (landed) {
        l.shown = mkmedia::ReadFrameIndex(m_frame.get());
        const int64_t t = m_frame->best_effort_timestamp - m_start;
        l.position = int((t + m_frameTicks / 2) / m_frameTicks);
    }
    return l;
}

void RunFloor(const Job &job)
{
    FloorLoop floor(job.file, job.threads, job.format);
    for (int target : job.targets)
        Report(floor.Land({'L', target}));
    // Each step is a landing of its own for the floor: what it costs to be
    // on that frame from anywhere.
    for (const Landing &step : StepPlan(job.stepStart, job.steps))
        Report(floor.Land(step));
}

// ---- Children -----------------------------------------------------------------------

std::vector<std::string> ChildArguments(const Job &job)
{
    return {"--child", job.side, job.file, std::to_string(job.threads), std::to_string(job.prepos),
            job.audio ? "1" : "0", job.format, JoinTargets(job.targets), std::to_string(job.stepStart),
            std::to_string(job.steps)};
}

Job ParseChild(int argc, char **argv)
{
    if (argc != 11)
        Fail("bad child arguments");
    Job job;
    job.side = argv[2];
    job.file = argv[3];
    job.threads = std::atoi(argv[4]);
    job.prepos = std::atoll(argv[5]);
    job.audio = std::string(argv[6]) == "1";
    job.format = argv[7];
    job.targets = SplitTargets(argv[8]);
    job.stepStart = std::atoi(argv[9]);
    job.steps = std::atoi(argv[10]);
    return job;
}

int Child(int argc, char **argv)
{
    const Job job = ParseChild(argc, argv);
    av_log_set_level(AV_LOG_QUIET);
    if (job.side == "floor") {
        RunFloor(job);
        return 0;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);  // the message windows need the event loop
    RunOurs(job);
    return 0;
}

// What one child run reported.
struct RunResult {
    std::string format;
    std::vector<Landing> landings;
    std::vector<Landing> steps;
};

RunResult Spawn(const Job &job)
{
    RunResult r;
    std::istringstream in(RunSelf(ChildArguments(job), job.log));
    for (std::string line; std::getline(in, line);) {
        Landing l;
        char format[32] = {};
        if (std::sscanf(line.c_str(), "format %31s", format) == 1)
            r.format = format;
        else if (ParseLanding(line, l))
            (l.kind == 'L' ? r.landings : r.steps).push_back(l);
    }
    if (r.landings.size() != job.targets.size() || r.steps.size() != size_t(2 * job.steps))
        Fail("the " + job.side + " run reported too little");
    return r;
}

// ---- The clips ----------------------------------------------------------------------

ClipInfo WriteBenchClip(const std::string &folder, int gop)
{
    mkmedia::ClipOptions c;
    c.path = folder + "/gop" + std::to_string(gop) + ".mp4";
    c.codec = "h264";
    c.width = 1920;
    c.height = 1080;
    c.frames = 750;  // 30 s at 25 fps: three long groups
    c.gop = gop;
    c.audio = 1;
    std::fprintf(stderr, "writing a 30 s 1080p clip, key frame every %d...\n", gop);
    const mkmedia::ClipResult r = mkmedia::WriteClip(c);
    if (!r.ok)
        Fail("cannot write the clip: " + r.error);
    return Inspect(c.path, r.description);
}

// ---- The parent ---------------------------------------------------------------------

struct Options {
    int targets = 10;
    int steps = 5;
    int runs = 1;
    int threads = 2;  // what the catalogue's preferred decoder uses
    int preposMs = -1;  // -1: from the clip's key-frame interval
    std::string clip;
};

REFERENCE_TIME Prepos(const Options &o, const ClipInfo &clip)
{
    if (o.preposMs >= 0)
        return REFERENCE_TIME(o.preposMs) * 10000;
    return clip.keyInterval * clip.frameDuration + 5'000'000;
}

// The pictures each side decodes to land on `target`: from the key frame at
// or before where it seeks.
int PicturesFrom(const ClipInfo &clip, int target, int seekFrame)
{
    int key = 0;
    for (int k : clip.keys)
        if (k <= seekFrame)
            key = k;
    return target - key + 1;
}

// Per landing, the median of the runs; misses counted over every run.
struct Side {
    std::string name;
    std::vector<double> landingMs, stepMs;
    int landingMisses = 0, stepMisses = 0;
    double callerCpu = 0;  // share of the landings' time the asking thread was on a CPU
    bool byIndex = true;  // checked by the drawn index, else by the side's clock
};

bool Exact(const Landing &l, bool byIndex) { return (byIndex ? l.shown : l.position) == l.target; }

Side Summarize(const std::string &name, const std::vector<RunResult> &runs)
{
    Side side;
    side.name = name;
    // A clip without drawn indexes (--clip) is checked by the frame times.
    side.byIndex = std::any_of(runs.front().landings.begin(), runs.front().landings.end(),
                               [](const Landing &l) { return l.shown >= 0; });
    const auto pool = [&](auto member, std::vector<double> &out, int &misses) {
        for (size_t i = 0; i < (runs.front().*member).size(); ++i) {
            std::vector<double> ms;
            for (const RunResult &r : runs) {
                ms.push_back((r.*member)[i].ms);
                misses += Exact((r.*member)[i], side.byIndex) ? 0 : 1;
            }
            out.push_back(Median(ms));
        }
    };
    pool(&RunResult::landings, side.landingMs, side.landingMisses);
    double cpu = 0, wall = 0;
    for (const RunResult &r : runs)
        for (const Landing &l : r.landings) {
            cpu += l.cpuMs;
            wall += l.ms;
        }
    side.callerCpu = wall > 0 ? cpu / wall : 0;
    pool(&RunResult::steps, side.stepMs, side.stepMisses);
    return side;
}

void PrintSteps(const Side &side, int steps)
{
    for (const auto &[label, from] : {std::pair{"back", 0}, std::pair{"forward", steps}}) {
        const std::vector<double> ms(side.stepMs.begin() + from, side.stepMs.begin() + from + steps);
        std::printf("  %-13s %-8s median %7.1f ms  per step:", side.name.c_str(), label, Median(ms));
        for (double m : ms)
            std::printf(" %.0f", m);
        std::printf("\n");
    }
    if (side.stepMisses > 0)
        std::printf("  %-13s %d step(s) on the wrong frame\n", side.name.c_str(), side.stepMisses);
}

struct Plan {
    ClipInfo clip;
    std::vector<int> targets;
    int stepStart = 0;
    REFERENCE_TIME prepos = 0;
};

// The pictures each side decodes per landing, target by target.
std::vector<int> Pictures(const Plan &p, bool ours)
{
    const int prepos = int(p.prepos / p.clip.frameDuration);
    std::vector<int> pictures;
    for (int t : p.targets)
        pictures.push_back(PicturesFrom(p.clip, t, ours ? std::max(0, t - prepos) : t));
    return pictures;
}

void PrintLandings(const Plan &p, const std::vector<Side> &sides)
{
    std::printf("%-15s %10s %10s %10s %11s %11s %7s\n", "landing", "median ms", "worst ms", "pictures",
                "ms/picture", "caller CPU", "misses");
    for (const Side &s : sides) {
        const std::vector<int> pictures = Pictures(p, s.name != "floor");
        const double total = std::accumulate(pictures.begin(), pictures.end(), 0.0);
        const double ms = std::accumulate(s.landingMs.begin(), s.landingMs.end(), 0.0);
        const double worst = *std::max_element(s.landingMs.begin(), s.landingMs.end());
        std::printf("%-15s %10.1f %10.1f %10.1f %11.2f %10.0f%% %7d\n", s.name.c_str(), Median(s.landingMs), worst,
                    total / double(pictures.size()), total > 0 ? ms / total : 0.0, 100 * s.callerCpu,
                    s.landingMisses);
    }
}

void PrintRatios(const std::vector<Side> &sides)
{
    const Side &ours = sides.front(), &floor = sides.back();
    std::printf("ratio ours/floor (medians): %.2f (aim <= 1.2)", Median(ours.landingMs) / Median(floor.landingMs));
    if (sides.size() == 3) {
        const Side &audio = sides[1];
        std::printf("; ours+audio/floor %.2f; ours+audio/ours %.2f (aim <= 1.1)",
                    Median(audio.landingMs) / Median(floor.landingMs),
                    Median(audio.landingMs) / Median(ours.landingMs));
    }
    std::printf("\n");
}

void PrintPlan(const Options &o, const Plan &p, const std::string &format)
{
    const ClipInfo &c = p.clip;
    std::printf("\nclip: %s\n", c.label.c_str());
    std::printf("  %d frames of %.2f ms, key frames at most %d frames apart (%.1f s)\n", c.frames,
                c.frameDuration / 1e4, c.keyInterval, c.keyInterval * c.frameDuration / 1e7);
    std::printf("  SeekPrepos %.3f s (%s); decoder threads %d; pictures written as %s by both sides\n",
                p.prepos / 1e7, o.preposMs >= 0 ? "--prepos" : "key-frame interval + 0.5 s", o.threads,
                format.c_str());
    std::printf("  %zu random frames (seed %u), median of %d run(s) per landing; pictures = mean decoded per "
                "landing, from the key frame each side seeks to; ms/picture = all landing ms over all pictures;\n"
                "  caller CPU = CPU time of the thread asking for the landings (ours: the UI thread) over their time\n",
                p.targets.size(), kSeed, o.runs);
}

// Ours, ours with the sound when the clip has some, and the floor, each run
// `o.runs` times. `format` is set to the renderer's picture format.
std::vector<Side> RunSides(const Options &o, const Plan &p, const std::string &log, std::string &format)
{
    const Job base{"ours", p.clip.file, o.threads, p.prepos, false, "-", p.targets, p.stepStart, o.steps, log};
    std::vector<Job> jobs{base};
    if (p.clip.audio) {
        jobs.push_back(base);
        jobs.back().audio = true;
    }
    jobs.push_back(base);
    jobs.back().side = "floor";
    std::vector<std::vector<RunResult>> results(jobs.size());
    for (int run = 0; run < o.runs; ++run) {
        // Each run starts with another side, spreading drifts of the machine
        // over all; the first learns the renderer's format for the floor.
        for (size_t i = 0; i < jobs.size(); ++i) {
            const size_t side = (i + size_t(run)) % jobs.size();
            results[side].push_back(Spawn(jobs[side]));
            if (side == 0)
                jobs.back().format = results[0].back().format;
        }
    }
    format = jobs.back().format;
    std::vector<Side> sides{Summarize("ours", results[0])};
    if (p.clip.audio)
        sides.push_back(Summarize("ours+audio", results[1]));
    sides.push_back(Summarize("floor", results.back()));
    return sides;
}

// Returns the landings on a wrong frame.
int BenchClip(const Options &o, const ClipInfo &clip, const std::string &folder)
{
    const Plan p{clip, RandomTargets(clip, o.targets, kSeed), StepStart(clip), Prepos(o, clip)};
    std::string format;
    const std::vector<Side> sides = RunSides(o, p, folder + "/child.log", format);
    PrintPlan(o, p, format);
    PrintLandings(p, sides);
    PrintRatios(sides);
    if (o.steps > 0) {
        std::printf("one-frame steps from frame %d: %d back, then %d forward (the floor seeks and decodes to each):\n",
                    p.stepStart, o.steps, o.steps);
        for (const Side &s : sides)
            PrintSteps(s, o.steps);
    }
    int misses = 0;
    for (const Side &s : sides) {
        if (!s.byIndex)
            std::printf("  %s: no frame index in the pictures, landings checked by the frame time\n",
                        s.name.c_str());
        misses += s.landingMisses + s.stepMisses;
    }
    std::fflush(stdout);
    return misses;
}

int IntOption(const std::string &value, int lowest)
{
    return std::max(lowest, std::atoi(value.c_str()));
}

Options Parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string key = argv[i];
        if (i + 1 >= argc)
            Fail("usage: nav_bench [--targets N] [--steps N] [--runs R] [--threads N] [--prepos MS] [--clip FILE]");
        const std::string value = argv[++i];
        if (key == "--targets")
            o.targets = IntOption(value, 1);
        else if (key == "--steps")
            o.steps = IntOption(value, 0);
        else if (key == "--runs")
            o.runs = IntOption(value, 1);
        else if (key == "--threads")
            o.threads = std::min(16, IntOption(value, 1));
        else if (key == "--prepos")
            o.preposMs = IntOption(value, 0);
        else if (key == "--clip")
            o.clip = value;
        else
            Fail("unknown option " + key);
    }
    return o;
}

int Bench(const Options &o, const std::string &folder)
{
    IsolateSettings(folder);
    int misses = 0;
    if (!o.clip.empty()) {
        misses += BenchClip(o, Inspect(o.clip, o.clip), folder);
    } else {
        for (int gop : {250, 25})
            misses += BenchClip(o, WriteBenchClip(folder, gop), folder);
    }
    if (misses > 0) {
        std::printf("%d landing(s) on the wrong frame\n", misses);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    return BenchMain("nav_bench", argc, argv, Child, [](int argc, char **argv) {
        const Options o = Parse(argc, argv);
        av_log_set_level(AV_LOG_QUIET);  // the clip writer's encoder chatter
        const TempFolder folder("nav_bench");
        return Bench(o, folder.path());
    });
}
