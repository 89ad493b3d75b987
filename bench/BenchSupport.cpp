#include "bench/BenchSupport.h"

#include "KWPack/uNavMan.h"
#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/Uuids.h"
#include "platform/ffmpeg/FFmpegFilters.h"
#include "platform/ffmpeg/VideoDecoder.h"
#include "platform/render/RenderFilters.h"
#include "platform/render/Vmr9Interfaces.h"
#include "tools/mkmedia/FrameIndex.h"
#include "tools/probe/NavGraph.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace bench {

using ffmpeg::kHundredNs;

constexpr int kStepStartPastKey = 100;

void Fail(const std::string &what) { throw std::runtime_error(what); }

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

long PeakRssKb(pid_t pid)
{
    std::ifstream status(pid ? "/proc/" + std::to_string(pid) + "/status" : std::string("/proc/self/status"));
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

int BenchMain(const char *name, int argc, char **argv, int (*child)(int, char **), int (*parent)(int, char **))
{
    try {
        if (argc > 1 && std::string(argv[1]) == "--child")
            return child(argc, argv);
        return parent(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
        return 1;
    }
}

// ---- Processes ----------------------------------------------------------------------

pid_t StartProcess(const std::vector<std::string> &args, int stdoutFd, const std::string &log)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        Fail("fork");
    if (pid == 0) {
        // Library and tool chatter stays out of the table.
        const int err = log.empty() ? -1 : open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (err >= 0)
            dup2(err, STDERR_FILENO);
        dup2(stdoutFd >= 0 ? stdoutFd : STDERR_FILENO, STDOUT_FILENO);
        if (args.front() == "/proc/self/exe")
            execv(argv[0], argv.data());
        else
            execvp(argv[0], argv.data());
        const std::string error = "cannot run " + args.front() + ": " + std::strerror(errno) + "\n";
        (void)!write(STDERR_FILENO, error.data(), error.size());
        _exit(127);
    }
    return pid;
}

int WaitProcess(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string RunProcess(const std::vector<std::string> &argv, const std::string &log, int *exitCode)
{
    int fds[2];
    if (pipe(fds) != 0)
        Fail("pipe");
    pid_t pid = -1;
    try {
        pid = StartProcess(argv, fds[1], log);
    } catch (...) {
        close(fds[0]);
        close(fds[1]);
        throw;
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        out.append(buf, size_t(n));
    close(fds[0]);
    *exitCode = WaitProcess(pid);
    return out;
}

std::string RunSelf(const std::vector<std::string> &args, const std::string &log)
{
    std::vector<std::string> argv{"/proc/self/exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!log.empty())
        std::ofstream(log, std::ios::trunc);
    int code = 0;
    std::string out = RunProcess(argv, log, &code);
    if (code != 0) {
        std::ifstream in(log);
        std::fprintf(stderr, "%s", std::string(std::istreambuf_iterator<char>(in), {}).c_str());
        Fail("a " + (args.size() > 1 ? args[1] : std::string("child")) + " run failed");
    }
    return out;
}

TempFolder::TempFolder(const std::string &prefix)
{
    m_path = (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
    if (!mkdtemp(m_path.data()))
        Fail("cannot make a temporary folder");
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void IsolateSettings(const std::string &folder)
{
    setenv("HOME", folder.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    setenv("VIDSTILL_REGISTRY", (folder + "/HKCU.reg").c_str(), 1);
    setenv("VIDSTILL_AUDIO", "silent", 0);
}

// ---- Clips --------------------------------------------------------------------------

namespace {

int FrameNumber(int64_t pts, int64_t start, AVRational tb, REFERENCE_TIME frame)
{
    const REFERENCE_TIME t = av_rescale_q(pts - start, tb, kHundredNs);
    return int((t + frame / 2) / frame);
}

void ReadPackets(AVFormatContext *fc, int stream, ClipInfo &info)
{
    const AVStream *s = fc->streams[stream];
    const int64_t start = s->start_time != AV_NOPTS_VALUE ? s->start_time : 0;
    ffmpeg::PacketPtr packet = ffmpeg::MakePacket();
    while (av_read_frame(fc, packet.get()) >= 0) {
        if (packet->stream_index == stream) {
            ++info.frames;
            if ((packet->flags & AV_PKT_FLAG_KEY) && packet->pts != AV_NOPTS_VALUE)
                info.keys.push_back(FrameNumber(packet->pts, start, s->time_base, info.frameDuration));
        }
        av_packet_unref(packet.get());
    }
    std::sort(info.keys.begin(), info.keys.end());
    if (info.keys.empty() || info.keys.front() != 0)
        Fail(info.file + " does not start with a key frame");
    info.keyInterval = info.frames - info.keys.back();
    for (size_t i = 1; i < info.keys.size(); ++i)
        info.keyInterval = std::max(info.keyInterval, info.keys[i] - info.keys[i - 1]);
}

} // namespace

ClipInfo Inspect(const std::string &file, const std::string &label)
{
    ClipInfo info;
    info.file = file;
    info.label = label;
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0)
        Fail("libavformat cannot open " + file);
    ffmpeg::FormatPtr fc(raw);
    avformat_find_stream_info(raw, nullptr);
    const int stream = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0 || raw->streams[stream]->avg_frame_rate.num <= 0)
        Fail(file + " has no video stream with a frame rate");
    info.frameDuration = av_rescale_q(1, av_inv_q(raw->streams[stream]->avg_frame_rate), kHundredNs);
    info.audio = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) >= 0;
    ReadPackets(raw, stream, info);
    if (info.frames < 8)
        Fail(file + " is too short");
    return info;
}

std::vector<int> RandomTargets(const ClipInfo &clip, int count, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> frame(1, clip.frames - 3);
    std::vector<int> targets;
    for (int i = 0; i < count; ++i)
        targets.push_back(frame(random));
    return targets;
}

int StepStart(const ClipInfo &clip)
{
    int key = 0;
    for (int k : clip.keys)
        if (k <= clip.frames / 3)
            key = k;
    return std::min(key + kStepStartPastKey, clip.frames - 3);
}

// ---- Landings and steps -------------------------------------------------------------

void Report(const Landing &l)
{
    std::printf("%c %d %.3f %d %d %.3f\n", l.kind, l.target, l.ms, l.shown, l.position, l.cpuMs);
    std::fflush(stdout);
}

bool ParseLanding(const std::string &line, Landing &l)
{
    return std::sscanf(line.c_str(), "%c %d %lf %d %d %lf", &l.kind, &l.target, &l.ms, &l.shown, &l.position,
                       &l.cpuMs)
        == 6;
}

std::vector<Landing> StepPlan(int start, int steps)
{
    std::vector<Landing> plan;
    for (int i = 1; i <= steps; ++i)
        plan.push_back({'B', std::max(0, start - i)});
    for (int i = steps - 1; i >= 0; --i)
        plan.push_back({'F', std::max(0, start - i)});
    return plan;
}

std::string JoinTargets(const std::vector<int> &targets)
{
    std::string text;
    for (int t : targets) {
        if (!text.empty())
            text += ',';
        text += std::to_string(t);
    }
    return text.empty() ? "-" : text;
}

std::vector<int> SplitTargets(const std::string &text)
{
    std::vector<int> targets;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        if (item != "-")
            targets.push_back(std::stoi(item));
    return targets;
}

namespace {

void WrapDecoderThreads(REFCLSID clsid, int threads)
{
    FilterRegistration r;
    if (!FindFilterRegistration(clsid, &r))
        return;
    const CreateFunction make = r.create;
    r.create = [make, threads](REFIID riid, void **ppv) -> HRESULT {
        ComPtr<IBaseFilter> filter;
        const HRESULT hr = make(IID_IBaseFilter, filter.ReleaseAndGetVoidAddress());
        if (FAILED(hr))
            return hr;
        auto *decoder = dynamic_cast<CVideoDecoder *>(filter.Get());
        if (!decoder)
            return E_FAIL;
        decoder->SetThreadCount(threads);
        return filter->QueryInterface(riid, ppv);
    };
    RegisterFilter(r);
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

std::string RendererFormat(IBaseFilter *renderer)
{
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> pin;
    CMediaType mt;
    if (FAILED(renderer->EnumPins(pins.ReleaseAndGetAddressOf()))
        || pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) != S_OK || FAILED(pin->ConnectionMediaType(&mt)))
        Fail("the renderer is not connected");
    return SubtypeName(mt.Subtype());
}

// The index drawn in the picture the renderer shows now.
int ShownIndex(IBaseFilter *renderer)
{
    BYTE *dib = nullptr;
    if (FAILED(ComQuery<IVMRWindowlessControl9>(ComPtr<IBaseFilter>(renderer))->GetCurrentImage(&dib)) || !dib)
        return -1;
    const auto *h = reinterpret_cast<const BITMAPINFOHEADER *>(dib);
    const int index = mkmedia::ReadFrameIndexFromDib(dib, h->biSize + h->biSizeImage);
    CoTaskMemFree(dib);
    return index;
}

template <class Move>
Landing Timed(TNavMan &nav, IBaseFilter *renderer, Landing l, Move move)
{
    const double cpu = ThreadCpuMs();
    const auto start = Clock::now();
    move();
    l.ms = MsSince(start);
    l.cpuMs = ThreadCpuMs() - cpu;
    l.shown = ShownIndex(renderer);
    l.position = int((nav.CurrentPosition() + nav.FrameDuration / 2) / nav.FrameDuration);
    return l;
}

} // namespace

// Both of our decoders the catalogue may pick for a stream.
void SetDecoderThreads(int threads)
{
    WrapDecoderThreads(CLSID_VidstillVideoDecoder, threads);
    WrapDecoderThreads(CLSID_SystemH264Decoder, threads);
}

void RunOurs(const NavJob &job)
{
    RegisterFFmpegFilters();
    RegisterRenderFilters();
    SetDecoderThreads(job.threads);
    std::unique_ptr<TNavMan> nav(TKWActionComponent::New<TNavMan>());
    ComPtr<IBaseFilter> renderer;
    if (FAILED(CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                renderer.ReleaseAndGetVoidAddress())))
        Fail("no video renderer");
    NavGraph graph(*nav, renderer.Get(), QString::fromStdString(job.file), job.audio);
    if (job.audio && !graph.HasAudio())
        Fail("the sound does not connect");
    if (job.prepos >= 0)
        nav->SeekPrepos = job.prepos;
    nav->WaitForStableState();
    std::printf("format %s\nprepos %lld\n", RendererFormat(renderer.Get()).c_str(),
                static_cast<long long>(nav->SeekPrepos));
    const REFERENCE_TIME frame = nav->FrameDuration;
    for (int target : job.targets)
        Report(Timed(*nav, renderer.Get(), {'L', target}, [&] { nav->SeekPrecise(target * frame); }));
    if (job.steps <= 0)
        return;
    nav->SeekPrecise(job.stepStart * frame);
    for (const Landing &step : StepPlan(job.stepStart, job.steps))
        Report(Timed(*nav, renderer.Get(), step, [&] {
            if (step.kind == 'B')
                nav->StepBackward(frame);
            else
                nav->StepForward(frame);
        }));
}

// ---- Sequential decoding through the graph ------------------------------------------

double Fps(const Measurement &m) { return m.seconds > 0 ? m.frames / m.seconds : 0; }

void Report(const Measurement &m)
{
    std::printf("%ld %.6f %ld %s\n", m.frames, m.seconds, PeakRssKb(), m.format.c_str());
    std::fflush(stdout);
}

bool ParseMeasurement(const std::string &text, Measurement &m)
{
    char name[32] = {};
    if (std::sscanf(text.c_str(), "%ld %lf %ld %31s", &m.frames, &m.seconds, &m.peakKb, name) != 4)
        return false;
    m.format = name;
    return true;
}

namespace {

ComPtr<IBaseFilter> Create(REFCLSID clsid)
{
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                filter.ReleaseAndGetVoidAddress())))
        Fail("cannot create a filter");
    return filter;
}

bool PinMatches(IPin *pin, PIN_DIRECTION wanted, REFGUID majorType)
{
    PIN_DIRECTION dir;
    if (FAILED(pin->QueryDirection(&dir)) || dir != wanted)
        return false;
    if (majorType == GUID_NULL)
        return true;
    ComPtr<IEnumMediaTypes> types;
    AM_MEDIA_TYPE *mt = nullptr;
    if (FAILED(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf())) || types->Next(1, &mt, nullptr) != S_OK || !mt)
        return false;
    const bool match = mt->majortype == majorType;
    DeleteMediaType(mt);
    return match;
}

ComPtr<IPin> FindPin(IBaseFilter *filter, PIN_DIRECTION wanted, REFGUID majorType)
{
    ComPtr<IEnumPins> pins;
    filter->EnumPins(pins.ReleaseAndGetAddressOf());
    ComPtr<IPin> pin;
    while (pins && pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK)
        if (PinMatches(pin.Get(), wanted, majorType))
            return pin;
    Fail("a filter lacks the pin needed");
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

} // namespace

Measurement RunGraph(const std::string &file, int threads)
{
    RegisterFFmpegFilters();
    RegisterRenderFilters();
    if (threads > 1)
        SetDecoderThreads(threads);
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

// ---- Sequential decoding by hand ----------------------------------------------------

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

VideoInput OpenVideo(const std::string &file, int threads)
{
    VideoInput in;
    AVFormatContext *fc = nullptr;
    if (avformat_open_input(&fc, file.c_str(), nullptr, nullptr) < 0)
        Fail("libavformat cannot open " + file);
    in.format.reset(fc);
    avformat_find_stream_info(fc, nullptr);
    const AVCodec *decoder = nullptr;
    in.stream = av_find_best_stream(fc, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (in.stream < 0 || !decoder)
        Fail("no video stream");
    in.codec.reset(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(in.codec.get(), fc->streams[in.stream]->codecpar);
    in.codec->thread_count = threads;
    in.codec->thread_type = threads > 1 ? FF_THREAD_FRAME : 0;
    return in;
}

HandLoop::HandLoop(const std::string &file, int threads, const std::string &format) : m_outName(format)
{
    VideoInput in = OpenVideo(file, threads);
    m_format = std::move(in.format);
    m_codec = std::move(in.codec);
    m_stream = in.stream;
    m_out = std::make_unique<Picture>(format, m_codec->width, m_codec->height);
}

HandLoop::~HandLoop() = default;

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

} // namespace bench
