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
#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/Uuids.h"
#include "platform/ffmpeg/FFmpegCommon.h"
#include "platform/ffmpeg/FFmpegFilters.h"
#include "platform/render/RenderFilters.h"
#include "tools/mkmedia/MkMedia.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// What one child process measured.
struct Measurement {
    long frames = 0;
    double seconds = 0;
    long peakKb = 0;
    std::string format;  // the picture format the frames were written in
};

struct Options {
    int frames = 300;
    int runs = 5;  // the machine is shared: the median of a few
    int threads = 2;  // 2 is the frame-threaded catalogue decoder, 1 the single-threaded one
    std::string clip;
};

[[noreturn]] void Fail(const std::string &what) { throw std::runtime_error(what); }

long PeakRssKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

void Report(const Measurement &m)
{
    std::printf("%ld %.6f %ld %s\n", m.frames, m.seconds, PeakRssKb(), m.format.c_str());
    std::fflush(stdout);
}

// ---- Through the graph ------------------------------------------------------------

ComPtr<IBaseFilter> Create(REFCLSID clsid)
{
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                filter.ReleaseAndGetVoidAddress())))
        Fail("cannot create a filter");
    return filter;
}

ComPtr<IPin> FindPin(IBaseFilter *filter, PIN_DIRECTION wanted, REFGUID majorType)
{
    ComPtr<IEnumPins> pins;
    filter->EnumPins(pins.ReleaseAndGetAddressOf());
    ComPtr<IPin> pin;
    while (pins && pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (FAILED(pin->QueryDirection(&dir)) || dir != wanted)
            continue;
        if (majorType == GUID_NULL)
            return pin;
        ComPtr<IEnumMediaTypes> types;
        AM_MEDIA_TYPE *mt = nullptr;
        if (SUCCEEDED(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf()))
            && types->Next(1, &mt, nullptr) == S_OK && mt) {
            const bool match = mt->majortype == majorType;
            DeleteMediaType(mt);
            if (match)
                return pin;
        }
    }
    Fail("a filter lacks the pin needed");
}

std::string SubtypeName(REFGUID subtype)
{
    if (subtype == MEDIASUBTYPE_I420)
        return "I420";
    if (subtype == MEDIASUBTYPE_YV12)
        return "YV12";
    if (subtype == MEDIASUBTYPE_NV12)
        return "NV12";
    if (subtype == MEDIASUBTYPE_RGB32)
        return "RGB32";
    return "other";
}

// Source, decoder and renderer joined pin to pin: no catalogue search, so
// the decoder measured is the one asked for.
struct BenchGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> source, decoder, renderer;

    BenchGraph(const std::string &file, int threads)
    {
        if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                    graph.ReleaseAndGetVoidAddress())))
            Fail("cannot create a filter graph");
        ComQuery<IMediaFilter>(graph)->SetSyncSource(nullptr);
        source = Create(CLSID_LAVSplitterSource);
        const std::wstring wide(file.begin(), file.end());
        if (FAILED(ComQuery<IFileSourceFilter>(source)->Load(wide.c_str(), nullptr)))
            Fail("the splitter cannot open " + file);
        decoder = Create(threads > 1 ? CLSID_VidstillVideoDecoder : CLSID_VidstillVideoDecoderST);
        renderer = Create(CLSID_VideoMixingRenderer9);
        if (FAILED(graph->AddFilter(source.Get(), L"LAV Splitter Source"))
            || FAILED(graph->AddFilter(decoder.Get(), L"Video Decoder"))
            || FAILED(graph->AddFilter(renderer.Get(), L"Video Mixing Renderer 9")))
            Fail("cannot add the filters");
        if (FAILED(graph->ConnectDirect(FindPin(source.Get(), PINDIR_OUTPUT, MEDIATYPE_Video).Get(),
                                        FindPin(decoder.Get(), PINDIR_INPUT, GUID_NULL).Get(), nullptr)))
            Fail("the decoder refuses the video stream");
        if (FAILED(graph->ConnectDirect(FindPin(decoder.Get(), PINDIR_OUTPUT, GUID_NULL).Get(),
                                        FindPin(renderer.Get(), PINDIR_INPUT, GUID_NULL).Get(), nullptr)))
            Fail("the renderer refuses the decoded video");
    }

    std::string Format() const
    {
        CMediaType mt;
        FindPin(renderer.Get(), PINDIR_INPUT, GUID_NULL)->ConnectionMediaType(&mt);
        return SubtypeName(mt.Subtype());
    }
};

Measurement RunGraph(const std::string &file, int threads)
{
    RegisterFFmpegFilters();
    RegisterRenderFilters();
    BenchGraph g(file, threads);
    auto control = ComQuery<IMediaControl>(g.graph);
    auto events = ComQuery<IMediaEvent>(g.graph);
    const auto start = Clock::now();
    if (FAILED(control->Run()))
        Fail("cannot run the graph");
    LONG code = 0;
    if (events->WaitForCompletion(600000, &code) != S_OK || code != EC_COMPLETE)
        Fail("the graph did not complete");
    Measurement m;
    m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    int drawn = 0;
    ComQuery<IQualProp>(g.renderer)->get_FramesDrawn(&drawn);
    m.frames = drawn;
    m.format = g.Format();
    control->Stop();
    return m;
}

// ---- By hand ----------------------------------------------------------------------

// One output picture, laid out as the decoder lays it out for `format`.
struct Picture {
    std::vector<uint8_t> bytes;
    uint8_t *planes[4] = {};
    int strides[4] = {};
    AVPixelFormat pix = AV_PIX_FMT_NONE;

    Picture(const std::string &format, int w, int h)
    {
        const int cw = (w + 1) / 2, ch = (h + 1) / 2;
        const bool rgb = format == "RGB32";
        bytes.resize(rgb ? size_t(w) * h * 4 : size_t(w) * h + 2 * size_t(cw) * ch);
        uint8_t *p = bytes.data();
        planes[0] = p;
        strides[0] = rgb ? 4 * w : w;
        pix = rgb ? AV_PIX_FMT_BGR0 : format == "NV12" ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
        if (pix == AV_PIX_FMT_NV12) {
            planes[1] = p + size_t(w) * h;
            strides[1] = 2 * cw;
        } else if (pix == AV_PIX_FMT_YUV420P) {
            uint8_t *first = p + size_t(w) * h, *second = first + size_t(cw) * ch;
            planes[1] = format == "YV12" ? second : first;
            planes[2] = format == "YV12" ? first : second;
            strides[1] = strides[2] = cw;
        }
    }
};

class HandLoop {
public:
    HandLoop(const std::string &file, int threads, const std::string &format);
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

HandLoop::HandLoop(const std::string &file, int threads, const std::string &format) : m_outName(format)
{
    AVFormatContext *fc = nullptr;
    if (avformat_open_input(&fc, file.c_str(), nullptr, nullptr) < 0)
        Fail("libavformat cannot open " + file);
    m_format.reset(fc);
    avformat_find_stream_info(fc, nullptr);
    const AVCodec *decoder = nullptr;
    m_stream = av_find_best_stream(fc, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (m_stream < 0 || !decoder)
        Fail("no video stream");
    m_codec.reset(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(m_codec.get(), fc->streams[m_stream]->codecpar);
    // As the graph's decoder configures its context.
    m_codec->thread_count = threads;
    m_codec->thread_type = threads > 1 ? FF_THREAD_FRAME : 0;
    m_out = std::make_unique<Picture>(format, m_codec->width, m_codec->height);
}

// Into the output picture, as the decoder writes a delivery buffer: a plain
// copy when the formats agree, else a conversion.
void HandLoop::Write(const AVFrame *frame)
{
    Picture &o = *m_out;
    const int w = m_codec->width, h = m_codec->height;
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const bool same = (format == o.pix || (o.pix == AV_PIX_FMT_YUV420P && format == AV_PIX_FMT_YUVJ420P))
        && frame->width == w && frame->height == h;
    if (same) {
        av_image_copy(o.planes, o.strides, const_cast<const uint8_t **>(frame->data), frame->linesize, o.pix, w, h);
    } else {
        m_sws.reset(sws_getCachedContext(m_sws.release(), frame->width, frame->height, format, w, h, o.pix,
                                         SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!m_sws)
            Fail("no conversion to " + m_outName);
        sws_scale(m_sws.get(), frame->data, frame->linesize, 0, frame->height, o.planes, o.strides);
    }
    ++m_frames;
}

void HandLoop::Drain()
{
    while (avcodec_receive_frame(m_codec.get(), m_frame.get()) == 0) {
        Write(m_frame.get());
        av_frame_unref(m_frame.get());
    }
}

Measurement HandLoop::Run()
{
    const auto start = Clock::now();
    if (avcodec_open2(m_codec.get(), m_codec->codec, nullptr) < 0)
        Fail("cannot open the decoder");
    ffmpeg::PacketPtr packet = ffmpeg::MakePacket();
    while (av_read_frame(m_format.get(), packet.get()) >= 0) {
        if (packet->stream_index == m_stream) {
            // EAGAIN cannot happen: every frame is taken out before the next send.
            avcodec_send_packet(m_codec.get(), packet.get());
            Drain();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(m_codec.get(), nullptr);
    Drain();
    Measurement m;
    m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    m.frames = m_frames;
    m.format = m_outName;
    return m;
}

// ---- The parent -------------------------------------------------------------------

// Runs this program again as `--child MODE FILE THREADS FORMAT` and reads
// the one line it reports.
Measurement Spawn(const std::string &mode, const std::string &file, int threads, const std::string &format)
{
    int fds[2];
    if (pipe(fds) != 0)
        Fail("pipe");
    const std::string threadText = std::to_string(threads);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        Fail("fork");
    }
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execl("/proc/self/exe", "decode_bench", "--child", mode.c_str(), file.c_str(), threadText.c_str(),
              format.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        out.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    Measurement m;
    char name[32] = {};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0
        || std::sscanf(out.c_str(), "%ld %lf %ld %31s", &m.frames, &m.seconds, &m.peakKb, name) != 4)
        Fail("the " + mode + " run failed");
    m.format = name;
    return m;
}

double Fps(const Measurement &m) { return m.seconds > 0 ? m.frames / m.seconds : 0; }

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
    try {
        if (argc > 1 && std::string(argv[1]) == "--child")
            return Child(argc, argv);
        const Options o = Parse(argc, argv);
        if (!o.clip.empty()) {
            Bench(o, o.clip);
            return 0;
        }
        av_log_set_level(AV_LOG_QUIET);  // the clip writer's encoder chatter
        std::string folder = (std::filesystem::temp_directory_path() / "decode_bench.XXXXXX").string();
        if (!mkdtemp(folder.data()))
            Fail("cannot make a temporary folder");
        try {
            Bench(o, WriteBenchClip(folder, o.frames));
        } catch (...) {
            std::filesystem::remove_all(folder);
            throw;
        }
        std::filesystem::remove_all(folder);
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "decode_bench: %s\n", e.what());
        return 1;
    }
}
