// What the benchmarks share: child processes and their peak memory, medians,
// isolated settings, the clips' key frames and random targets, landings and
// steps through the navigation manager, and sequential decoding through the
// graph or a bare libav loop.
//
// Every benchmark runs each measurement in a fresh process (itself again with
// --child, or another program), so each one's peak resident size is its own.
// Single thread (the benchmark's main one); the graph brings its own threads.
#pragma once

#include "platform/base/WinTypes.h"
#include "platform/ffmpeg/FFmpegCommon.h"

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string &what);
double MsSince(Clock::time_point start);
// CPU time of the calling thread: how much of a wait the UI thread spends busy.
double ThreadCpuMs();
double Median(std::vector<double> values);
// The peak resident size (VmHWM) of a running process, this one by default; -1 when unknown.
long PeakRssKb(pid_t pid = 0);

// A benchmark's main: with --child first, `child` (this program run again by
// itself), else `parent`; an exception ends either with its text and exit code 1.
int BenchMain(const char *name, int argc, char **argv, int (*child)(int, char **), int (*parent)(int, char **));

// ---- Processes ----------------------------------------------------------------------

// Starts `argv` (argv[0] is the program, found on PATH) with its stdout on
// `stdoutFd` (-1: the log too) and its stderr appended to `log` (empty: ours).
pid_t StartProcess(const std::vector<std::string> &argv, int stdoutFd, const std::string &log);
// Waits for `pid`; its exit code, or -1 when it did not exit by itself.
int WaitProcess(pid_t pid);
// Runs `argv` to its end and returns what it wrote to stdout; `exitCode` gets its exit code.
std::string RunProcess(const std::vector<std::string> &argv, const std::string &log, int *exitCode);
// Runs this program again with `args`; fails (printing the log) unless it exits with 0.
std::string RunSelf(const std::vector<std::string> &args, const std::string &log);

// A temporary folder removed with everything in it on destruction.
class TempFolder {
public:
    explicit TempFolder(const std::string &prefix);
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const std::string &path() const { return m_path; }

private:
    std::string m_path;
};

// The children's settings go to `folder`, never the user's; the sound goes to
// the clock-keeping silent sink unless VIDSTILL_AUDIO says otherwise, so the
// machine's sound device does not change the numbers.
void IsolateSettings(const std::string &folder);

// ---- Clips --------------------------------------------------------------------------

// What the parent knows of a clip, from its packets alone.
struct ClipInfo {
    std::string file;
    std::string label;
    int frames = 0;
    REFERENCE_TIME frameDuration = 0;
    std::vector<int> keys;  // key frames, by frame number
    int keyInterval = 0;   // the longest distance between key frames
    bool audio = false;
};

ClipInfo Inspect(const std::string &file, const std::string &label);
// `count` frames drawn with a fixed seed, never the last two (a precise seek
// there is a jump to the end).
std::vector<int> RandomTargets(const ClipInfo &clip, int count, unsigned seed);
// A hundred frames past the last key frame before a third of the clip, when
// the clip is long enough.
int StepStart(const ClipInfo &clip);

// ---- Landings and steps through the navigation manager ------------------------------

// One landing as a child saw it: the frame asked for, how long it took, the
// index drawn in the picture shown (-1: none readable) and the frame the
// side's own clock says it is on.
struct Landing {
    char kind = 'L';  // L landing, B step back, F step forward
    int target = 0;
    double ms = 0;
    int shown = -1;
    int position = -1;
    double cpuMs = 0;  // the calling thread's CPU time meanwhile
};

void Report(const Landing &l);
bool ParseLanding(const std::string &line, Landing &l);
// The frames a step sequence visits: `steps` back from `start`, then as many
// forward again. Every side derives them the same way.
std::vector<Landing> StepPlan(int start, int steps);

std::string JoinTargets(const std::vector<int> &targets);
std::vector<int> SplitTargets(const std::string &text);

// What an "ours" child does on the navigation side.
struct NavJob {
    std::string file;
    int threads = 2;
    REFERENCE_TIME prepos = -1;  // -1: the navigation manager's own default
    bool audio = false;
    std::vector<int> targets;
    int stepStart = 0;
    int steps = 0;
};

// Our video decoders from the catalogue get `threads` decoding threads.
void SetDecoderThreads(int threads);
// Opens the file in the program's graph and reports on stdout "format F",
// "prepos P" and one Report line per landing and step. Needs a QApplication.
void RunOurs(const NavJob &job);

// ---- Sequential decoding ------------------------------------------------------------

// What one decoding child measured.
struct Measurement {
    long frames = 0;
    double seconds = 0;
    long peakKb = 0;
    std::string format;  // the picture format the frames were written in
};

double Fps(const Measurement &m);
void Report(const Measurement &m);  // with this process's peak
bool ParseMeasurement(const std::string &text, Measurement &m);

// "LAV Splitter Source" -> our video decoder (single-threaded for threads 1)
// -> "Video Mixing Renderer 9" with no clock, run to its end.
Measurement RunGraph(const std::string &file, int threads);

// A file opened on its best video stream, with a decoder context set up as
// our decoder sets up its own, not opened yet.
struct VideoInput {
    ffmpeg::FormatPtr format;
    ffmpeg::CodecPtr codec;
    int stream = -1;
};
VideoInput OpenVideo(const std::string &file, int threads);

struct Picture;

// The same file decoded by hand with the same thread count, each picture
// written into `format` (the renderer's) as the decoder writes its buffers.
class HandLoop {
public:
    HandLoop(const std::string &file, int threads, const std::string &format);
    ~HandLoop();
    Measurement Run();

private:
    void Write(const AVFrame *frame);
    void Drain();

    ffmpeg::FormatPtr m_format;
    ffmpeg::CodecPtr m_codec;
    ffmpeg::FramePtr m_frame = ffmpeg::MakeFrame();
    ffmpeg::SwsPtr m_sws;
    std::unique_ptr<Picture> m_out;
    std::string m_outName;
    int m_stream = -1;
    long m_frames = 0;
};

} // namespace bench
