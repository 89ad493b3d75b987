// What playing through the media graph costs against decoding by hand:
// decoded frames per second of a 1080p H.264 clip through
// "LAV Splitter Source" -> our video decoder -> "Video Mixing Renderer 9"
// with no clock (every frame presented as soon as it comes), against a bare
// libavformat/libavcodec loop on the same file with the same thread count,
// writing each picture into the same output format the renderer was given.
//
// Each measurement runs in a fresh process (the benchmark runs itself again
// with --child), so each one's peak resident size (VmHWM) is its own and the
// clip writer's memory is in neither. Timing starts when decoding starts
// (IMediaControl::Run; the loop's codec open) and ends with the last frame.
// Ratios are printed, never judged.
//
//   decode_bench [--frames N] [--runs R] [--threads 1|2] [--clip FILE]
//
// The clip is written at run time into a temporary folder and removed after.
// One thread of its own (the main one); the graph brings its streaming threads.
#include "bench/BenchSupport.h"
#include "tools/mkmedia/MkMedia.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace bench;

struct Options {
    int frames = 300;
    int runs = 5;  // the machine is shared: the median of a few
    int threads = 2;  // 2 is the frame-threaded catalogue decoder, 1 the single-threaded one
    std::string clip;
};

// ---- The parent -------------------------------------------------------------------

// Runs this program again as `--child MODE FILE THREADS FORMAT` and reads
// the one line it reports.
Measurement Spawn(const std::string &mode, const std::string &file, int threads, const std::string &format)
{
    Measurement m;
    if (!ParseMeasurement(RunSelf({"--child", mode, file, std::to_string(threads), format}, {}), m))
        Fail("the " + mode + " run failed");
    return m;
}

// The run of median speed; its peak is reported with it.
Measurement Median(std::vector<Measurement> runs)
{
    std::sort(runs.begin(), runs.end(), [](const Measurement &a, const Measurement &b) { return Fps(a) < Fps(b); });
    return runs[runs.size() / 2];
}

void PrintTable(const Options &o, const Measurement &graph, const Measurement &loop)
{
    const std::string clip = o.clip.empty() ? "1920x1080 H.264 in MP4, up to 2 B-frames" : o.clip;
    std::printf("clip: %s; decoder threads %d; pictures as %s\n", clip.c_str(), o.threads, graph.format.c_str());
    std::printf("%-12s %8s %10s %14s\n", "", "frames", "fps", "peak RSS MiB");
    for (const auto &[name, m] : {std::pair{"graph", &graph}, std::pair{"libav loop", &loop}})
        std::printf("%-12s %8ld %10.1f %14.1f\n", name, m->frames, Fps(*m), m->peakKb / 1024.0);
    std::printf("ratio graph/loop: %.3f fps (goal >= 0.95), %.2f peak RSS  [median of %d runs each]\n",
                Fps(loop) > 0 ? Fps(graph) / Fps(loop) : 0.0,
                loop.peakKb > 0 ? double(graph.peakKb) / loop.peakKb : 0.0, o.runs);
}

std::string WriteBenchClip(const std::string &folder, int frames)
{
    mkmedia::ClipOptions c;
    c.path = folder + "/bench.mp4";
    c.codec = "h264";
    c.width = 1920;
    c.height = 1080;
    c.frames = frames;
    c.bframes = 2;
    c.audio = 0;
    const mkmedia::ClipResult r = mkmedia::WriteClip(c);
    if (!r.ok)
        Fail("cannot write the clip: " + r.error);
    return c.path;
}

void Bench(const Options &o, const std::string &file)
{
    std::vector<Measurement> graph, loop;
    for (int i = 0; i < o.runs; ++i) {
        // Alternating spreads drifts of the machine over both sides.
        graph.push_back(Spawn("graph", file, o.threads, "-"));
        loop.push_back(Spawn("loop", file, o.threads, graph.back().format));
    }
    PrintTable(o, Median(graph), Median(loop));
}

int Child(int argc, char **argv)
{
    if (argc != 6)
        Fail("bad child arguments");
    const std::string mode = argv[2], file = argv[3], format = argv[5];
    const int threads = std::atoi(argv[4]);
    av_log_set_level(AV_LOG_QUIET);
    Report(mode == "graph" ? RunGraph(file, threads) : HandLoop(file, threads, format).Run());
    return 0;
}

Options Parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string key = argv[i];
        if (i + 1 >= argc)
            Fail("usage: decode_bench [--frames N] [--runs R] [--threads 1|2] [--clip FILE]");
        const std::string value = argv[++i];
        if (key == "--frames")
            o.frames = std::max(1, std::atoi(value.c_str()));
        else if (key == "--runs")
            o.runs = std::max(1, std::atoi(value.c_str()));
        else if (key == "--threads")
            o.threads = std::clamp(std::atoi(value.c_str()), 1, 2);
        else if (key == "--clip")
            o.clip = value;
        else
            Fail("unknown option " + key);
    }
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    return BenchMain("decode_bench", argc, argv, Child, [](int argc, char **argv) {
        const Options o = Parse(argc, argv);
        if (!o.clip.empty()) {
            Bench(o, o.clip);
            return 0;
        }
        av_log_set_level(AV_LOG_QUIET);  // the clip writer's encoder chatter
        const TempFolder folder("decode_bench");
        Bench(o, WriteBenchClip(folder.path(), o.frames));
        return 0;
    });
}
