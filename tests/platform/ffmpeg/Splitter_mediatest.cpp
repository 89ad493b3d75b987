// "LAV Splitter Source" with the libavcodec decoders, on clips written at
// run time: media types, frames and their times from the start and after
// exact and key-frame seeks, and bad input.
#include "ClipMaker.h"

#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/Renderer.h"
#include "platform/dshow/TransInPlace.h"
#include "platform/ffmpeg/AudioDecoder.h"
#include "platform/ffmpeg/FFmpegFilters.h"
#include "platform/ffmpeg/LavSplitter.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <random>

// FFmpeg is not built for ThreadSanitizer: the atomics its frame threads and
// buffer pools synchronise with are invisible to it.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:libavcodec.so\nrace:libavutil.so\n";
}

namespace {

constexpr REFERENCE_TIME kFrame = 400000;
const CLSID CLSID_PictureRenderer{0x7E57F0FF, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
const CLSID CLSID_SoundSink{0x7E57F0FF, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};

struct Shown {
    int index;
    REFERENCE_TIME start;
};

// Takes I420 pictures; records each presented frame's index and stream time.
class PictureRenderer : public CBaseRenderer {
public:
    PictureRenderer() : CBaseRenderer(CLSID_PictureRenderer, L"Picture Renderer") {}
    HRESULT CheckMediaType(const CMediaType *pmt) override
    {
        const auto *vih = pmt->FormatAs<VIDEOINFOHEADER2>();
        if (pmt->Type() != MEDIATYPE_Video || pmt->Subtype() != subtype || pmt->FormatType() != FORMAT_VideoInfo2
            || !vih)
            return VFW_E_TYPE_NOT_ACCEPTED;
        width = vih->bmiHeader.biWidth;
        return S_OK;
    }
    HRESULT DoRenderSample(IMediaSample *s) override
    {
        BYTE *p = nullptr;
        s->GetPointer(&p);
        REFERENCE_TIME t0 = -1, t1 = -1;
        s->GetTime(&t0, &t1);
        // The centre pixel: luma for the planar types, blue for RGB32.
        const int luma = subtype == MEDIASUBTYPE_RGB32 ? p[(72 * width + 88) * 4] : p[72 * width + 88];
        const int index = subtype == MEDIASUBTYPE_RGB32 ? cliptest::IndexForLuma(luma * 219 / 255 + 16)
                                                        : cliptest::IndexForLuma(luma);
        std::lock_guard lock(m_lock);
        m_shown.push_back({index, t0});
        return S_OK;
    }
    void OnReceiveFirstSample(IMediaSample *) override {}  // the paused picture is not counted
    std::vector<Shown> Shown_()
    {
        std::lock_guard lock(m_lock);
        return m_shown;
    }
    void Clear()
    {
        std::lock_guard lock(m_lock);
        m_shown.clear();
    }
    GUID subtype = MEDIASUBTYPE_I420;
    int width = 0;

private:
    std::mutex m_lock;
    std::vector<Shown> m_shown;
};

// Takes 16-bit PCM and counts the bytes.
class SoundSink : public CBaseRenderer {
public:
    SoundSink() : CBaseRenderer(CLSID_SoundSink, L"Sound Sink") {}
    HRESULT CheckMediaType(const CMediaType *pmt) override
    {
        return pmt->Type() == MEDIATYPE_Audio && pmt->Subtype() == MEDIASUBTYPE_PCM ? S_OK
                                                                                  : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT DoRenderSample(IMediaSample *s) override
    {
        bytes += s->GetActualDataLength();
        return S_OK;
    }
    std::atomic<long> bytes{0};
};

const CLSID CLSID_FrameTimes{0x7E57F0FF, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};

// A pass-through stage where the frame notifier stands: the segment it was
// told of, and each picture's index and media time by the segment's rule
// (segment start + sample start x rate).
class FrameTimes : public CTransInPlaceFilter {
public:
    FrameTimes() : CTransInPlaceFilter(L"Frame Times", CLSID_FrameTimes, false) {}
    HRESULT CheckInputType(const CMediaType *pmt) override
    {
        return pmt->Type() == MEDIATYPE_Video && pmt->Subtype() == MEDIASUBTYPE_I420 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override
    {
        {
            std::lock_guard lock(m_lock);
            m_start = tStart;
            m_rate = dRate;
        }
        return CTransInPlaceFilter::NewSegment(tStart, tStop, dRate);
    }
    HRESULT Transform(IMediaSample *s) override
    {
        BYTE *p = nullptr;
        s->GetPointer(&p);
        REFERENCE_TIME t0 = 0, t1 = 0;
        s->GetTime(&t0, &t1);
        std::lock_guard lock(m_lock);
        m_seen.push_back({cliptest::IndexForLuma(p[0]), m_start + std::llround(double(t0) * m_rate)});
        return S_OK;
    }
    std::vector<Shown> Seen()
    {
        std::lock_guard lock(m_lock);
        return m_seen;
    }
    double Rate()
    {
        std::lock_guard lock(m_lock);
        return m_rate;
    }

private:
    std::mutex m_lock;
    REFERENCE_TIME m_start = 0;
    double m_rate = 1.0;
    std::vector<Shown> m_seen;  // start: media time
};

ComPtr<IPin> PinOf(IBaseFilter *f, int n)
{
    ComPtr<IEnumPins> pins;
    f->EnumPins(pins.ReleaseAndGetAddressOf());
    ComPtr<IPin> pin;
    for (int i = 0; i <= n; ++i)
        if (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) != S_OK)
            return nullptr;
    return pin;
}

class SplitterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterFFmpegFilters(); }

    std::string Clip(const char *name, cliptest::ClipSpec spec = {})
    {
        spec.path = dir.filePath(name).toStdString();
        EXPECT_TRUE(cliptest::MakeClip(spec)) << name;
        return spec.path;
    }

    // Loads `path` into a new splitter; the HRESULT of Load.
    HRESULT Load(const std::string &path)
    {
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_LAVSplitterSource, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IBaseFilter, source.ReleaseAndGetVoidAddress()));
        auto file = ComQuery<IFileSourceFilter>(source);
        const std::wstring wide(path.begin(), path.end());
        return file->Load(wide.c_str(), nullptr);
    }

    // Source -> decoder -> renderer in a graph without a clock.
    void Build(const std::string &path)
    {
        ASSERT_EQ(S_OK, Load(path));
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph.ReleaseAndGetVoidAddress()));
        ComQuery<IMediaFilter>(graph)->SetSyncSource(nullptr);
        ASSERT_EQ(S_OK, graph->AddFilter(source.Get(), L"Source"));
        renderer = MakeCom<PictureRenderer>();
        renderer->subtype = subtype;
        ASSERT_EQ(S_OK, graph->AddFilter(renderer.Get(), L"Renderer"));
        ASSERT_EQ(S_OK, graph->Connect(PinOf(source.Get(), 0).Get(), renderer->InputPin()));
    }

    // Runs to the end; the frames presented.
    std::vector<Shown> Play()
    {
        renderer->Clear();
        auto control = ComQuery<IMediaControl>(graph);
        EXPECT_TRUE(SUCCEEDED(control->Run()));
        LONG code = 0;
        EXPECT_EQ(S_OK, ComQuery<IMediaEvent>(graph)->WaitForCompletion(10000, &code));
        EXPECT_EQ(EC_COMPLETE, code);
        control->Stop();
        return renderer->Shown_();
    }

    // Seeks the stopped graph (through the graph, as the program does); the
    // segment start.
    REFERENCE_TIME Seek(REFERENCE_TIME target, bool keyFrame)
    {
        LONGLONG pos = target;
        const DWORD flags = AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime
            | (keyFrame ? AM_SEEKING_SeekToKeyFrame : 0);
        EXPECT_EQ(S_OK, ComQuery<IMediaSeeking>(graph)->SetPositions(&pos, flags, nullptr, AM_SEEKING_NoPositioning));
        return pos;
    }

    void TearDown() override
    {
        if (graph)
            ComQuery<IMediaControl>(graph)->Stop();
    }

    QTemporaryDir dir;
    ComPtr<IBaseFilter> source;
    ComPtr<IGraphBuilder> graph;
    ComPtr<PictureRenderer> renderer;
    GUID subtype = MEDIASUBTYPE_I420;
};

// The index of the last key frame at or before frame `before`, as the file
// marks them (by decoding: containers without an index do not mark them all).
int LastKeyFrameBefore(const std::string &path, int before)
{
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return -1;
    ffmpeg::FormatPtr format(raw);
    avformat_find_stream_info(raw, nullptr);
    const AVStream *st = raw->streams[0];
    ffmpeg::CodecPtr codec(avcodec_alloc_context3(avcodec_find_decoder(st->codecpar->codec_id)));
    avcodec_parameters_to_context(codec.get(), st->codecpar);
    codec->pkt_timebase = st->time_base;
    if (avcodec_open2(codec.get(), avcodec_find_decoder(st->codecpar->codec_id), nullptr) < 0)
        return -1;
    ffmpeg::PacketPtr packet = ffmpeg::MakePacket();
    ffmpeg::FramePtr frame = ffmpeg::MakeFrame();
    std::vector<bool> keys;  // display order
    bool more = true;
    while (more) {
        more = av_read_frame(raw, packet.get()) >= 0;
        if (!more || packet->stream_index == 0)
            avcodec_send_packet(codec.get(), more ? packet.get() : nullptr);
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(codec.get(), frame.get()) == 0)
            keys.push_back(frame->key_frame != 0);
    }
    for (int i = std::min(before, static_cast<int>(keys.size()) - 1); i >= 0; --i)
        if (keys[static_cast<size_t>(i)])
            return i;
    return -1;
}

void ExpectFrames(const std::vector<Shown> &shown, int first, int last, REFERENCE_TIME segmentStart)
{
    std::string seen;
    for (const Shown &s : shown)
        seen += std::to_string(s.index) + "@" + std::to_string(s.start) + " ";
    SCOPED_TRACE(seen);
    ASSERT_EQ(static_cast<size_t>(last - first + 1), shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        const int n = first + static_cast<int>(i);
        EXPECT_EQ(n, shown[i].index) << "at " << i;
        EXPECT_EQ(n * kFrame - segmentStart, shown[i].start) << "frame " << n;
    }
}

} // namespace

// ---- Media types ------------------------------------------------------------------

struct TypeCase {
    const char *name;
    AVCodecID codec;
    GUID subtype, format;
};

TEST_F(SplitterTest, OffersTheWindowsMediaTypesPerContainer)
{
    const TypeCase cases[] = {
        {"clip.mp4", AV_CODEC_ID_MPEG4, FourCCGuid(MAKEFOURCC('M', 'P', '4', 'V')), FORMAT_VideoInfo2},
        {"clip.mkv", AV_CODEC_ID_MPEG4, FourCCGuid(MAKEFOURCC('F', 'M', 'P', '4')), FORMAT_VideoInfo2},
        {"clip.mpg", AV_CODEC_ID_MPEG2VIDEO, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video},
        {"clip1.mpg", AV_CODEC_ID_MPEG1VIDEO, MEDIASUBTYPE_MPEG1Payload, FORMAT_MPEGVideo},
        {"clip.ts", AV_CODEC_ID_MPEG2VIDEO, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video},
        {"avc.mp4", AV_CODEC_ID_H264, MEDIASUBTYPE_AVC1, FORMAT_MPEG2Video},
        {"avc.ts", AV_CODEC_ID_H264, MEDIASUBTYPE_H264, FORMAT_VideoInfo2},
    };
    for (const TypeCase &c : cases) {
        SCOPED_TRACE(c.name);
        cliptest::ClipSpec spec;
        spec.codec = c.codec;
        const bool anamorphic = c.codec != AV_CODEC_ID_MPEG1VIDEO && c.codec != AV_CODEC_ID_MPEG2VIDEO;
        if (anamorphic)
            spec.sar = AVRational{4, 3};
        ASSERT_EQ(S_OK, Load(Clip(c.name, spec)));
        ComPtr<IPin> pin = PinOf(source.Get(), 0);
        ASSERT_TRUE(pin);
        EXPECT_FALSE(PinOf(source.Get(), 1));
        ComPtr<IEnumMediaTypes> types;
        pin->EnumMediaTypes(types.ReleaseAndGetAddressOf());
        AM_MEDIA_TYPE *mt = nullptr;
        ASSERT_EQ(S_OK, types->Next(1, &mt, nullptr));
        const CMediaType type = *mt;
        DeleteMediaType(mt);
        EXPECT_EQ(MEDIATYPE_Video, type.Type());
        EXPECT_EQ(GuidToString(c.subtype), GuidToString(type.Subtype()));
        EXPECT_EQ(GuidToString(c.format), GuidToString(type.FormatType()));
        // Every block these carry starts with the VIDEOINFOHEADER2 fields or,
        // for MPEG-1, with a VIDEOINFOHEADER.
        const bool mpeg1 = type.FormatType() == FORMAT_MPEGVideo;
        const auto *v1 = type.FormatAs<VIDEOINFOHEADER>();
        const auto *v2 = type.FormatAs<VIDEOINFOHEADER2>();
        ASSERT_TRUE(v1 && (mpeg1 || v2));
        EXPECT_EQ(kFrame, mpeg1 ? v1->AvgTimePerFrame : v2->AvgTimePerFrame);
        EXPECT_EQ(176, mpeg1 ? v1->bmiHeader.biWidth : v2->bmiHeader.biWidth);
        if (type.FormatType() == FORMAT_MPEG2Video) {
            const auto *info = type.FormatAs<MPEG2VIDEOINFO>();
            ASSERT_GE(info->cbSequenceHeader, 6u);
            const auto *seq = reinterpret_cast<const BYTE *>(info->dwSequenceHeader);
            if (c.codec == AV_CODEC_ID_H264) {
                EXPECT_EQ(1, seq[0]);  // avcC
                EXPECT_EQ(4u, info->dwFlags);  // NAL length size
                EXPECT_EQ(44u, info->hdr.dwPictAspectRatioX);
                EXPECT_EQ(27u, info->hdr.dwPictAspectRatioY);
            } else {
                EXPECT_EQ(0xB3, seq[3]);  // a sequence header
                EXPECT_EQ(11u, info->hdr.dwPictAspectRatioX);
                EXPECT_EQ(9u, info->hdr.dwPictAspectRatioY);
            }
        } else if (type.FormatType() == FORMAT_VideoInfo2) {
            // 176x144 with 4:3 pixels shows as 44:27.
            const auto *v2 = type.FormatAs<VIDEOINFOHEADER2>();
            EXPECT_EQ(44u, v2->dwPictAspectRatioX);
            EXPECT_EQ(27u, v2->dwPictAspectRatioY);
        }
        LONGLONG duration = 0;
        ComQuery<IMediaSeeking>(pin)->GetDuration(&duration);
        // Program and transport streams have no index: their length is
        // estimated from the last time stamps.
        const std::string name = c.name;
        const bool indexed = name.ends_with(".mp4") || name.ends_with(".mkv");
        EXPECT_NEAR(25 * kFrame, duration, indexed ? 0 : 4 * kFrame);
    }
}

// ---- Playing and seeking ----------------------------------------------------------------

struct PlayCase {
    const char *name;
    AVCodecID codec;
    int bFrames;
    bool exactSeeks, keySeeks;
};

class PlayTest : public SplitterTest, public ::testing::WithParamInterface<PlayCase> {};

TEST_P(PlayTest, PresentsEveryFrameAtItsTimeFromTheStartAndAfterSeeks)
{
    cliptest::ClipSpec spec;
    spec.codec = GetParam().codec;
    spec.bFrames = GetParam().bFrames;
    const std::string path = Clip(GetParam().name, spec);
    Build(path);
    ExpectFrames(Play(), 0, 24, 0);
    if (!GetParam().exactSeeks)
        return;

    // Exact seeks: the frame that contains the target comes first.
    for (REFERENCE_TIME target : {7 * kFrame, 13 * kFrame + kFrame / 2, 24 * kFrame, 1 * kFrame}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(target, Seek(target, false));
        ExpectFrames(Play(), static_cast<int>(target / kFrame), 24, target);
    }

    if (!GetParam().keySeeks)
        return;
    // A key-frame seek starts the segment on the key frame before the target
    // (the encoder chose where its key frames are).
    const int keyIndex = LastKeyFrameBefore(path, 17);
    ASSERT_GT(keyIndex, 0);
    const REFERENCE_TIME key = Seek(17 * kFrame, true);
    EXPECT_EQ(keyIndex * kFrame, key);
    ExpectFrames(Play(), keyIndex, 24, key);
}

INSTANTIATE_TEST_SUITE_P(Containers, PlayTest,
                         ::testing::Values(PlayCase{"mpeg4.mp4", AV_CODEC_ID_MPEG4, 0, true, true},
                                           PlayCase{"mpeg4b.mkv", AV_CODEC_ID_MPEG4, 2, true, true},
                                           PlayCase{"mpeg2b.mpg", AV_CODEC_ID_MPEG2VIDEO, 2, true, true},
                                           PlayCase{"mpeg2b.ts", AV_CODEC_ID_MPEG2VIDEO, 2, true, true},
                                           PlayCase{"mpeg1.mpg", AV_CODEC_ID_MPEG1VIDEO, 0, true, true},
                                           PlayCase{"h264b.mp4", AV_CODEC_ID_H264, 2, true, true},
                                           PlayCase{"h264b.mkv", AV_CODEC_ID_H264, 2, true, true},
                                           PlayCase{"h264b.ts", AV_CODEC_ID_H264, 2, true, true}),
                         [](const auto &info) {
                             std::string n = info.param.name;
                             for (char &c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return n;
                         });

TEST_F(SplitterTest, TransportStreamStartOffsetIsMediaTimeZero)
{
    cliptest::ClipSpec spec;
    spec.codec = AV_CODEC_ID_MPEG2VIDEO;
    const std::string path = Clip("offset.ts", spec);
    {
        AVFormatContext *raw = nullptr;
        ASSERT_EQ(0, avformat_open_input(&raw, path.c_str(), nullptr, nullptr));
        ffmpeg::FormatPtr probe(raw);
        avformat_find_stream_info(raw, nullptr);
        EXPECT_GT(raw->start_time, 0) << "the clip should start late";
    }
    Build(path);
    ExpectFrames(Play(), 0, 24, 0);
}

TEST_F(SplitterTest, DecoderFallsBackToRgb32AndSecondDecoderIsRegistered)
{
    subtype = MEDIASUBTYPE_RGB32;
    Build(Clip("rgb.mp4"));
    ExpectFrames(Play(), 0, 24, 0);

    auto decoders = FiltersAccepting(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO);
    ASSERT_GE(decoders.size(), 2u);
    EXPECT_EQ(GuidToString(CLSID_VidstillVideoDecoder), GuidToString(decoders[0].clsid));
    EXPECT_EQ(GuidToString(CLSID_VidstillVideoDecoderST), GuidToString(decoders[1].clsid));
}

TEST_F(SplitterTest, AudioStreamGetsItsOwnPinAndDecodesToPcm)
{
    cliptest::ClipSpec spec;
    spec.audio = true;
    Build(Clip("av.mkv", spec));
    ComPtr<IPin> audio = PinOf(source.Get(), 1);
    ASSERT_TRUE(audio);
    auto sink = MakeCom<SoundSink>();
    ASSERT_EQ(S_OK, graph->AddFilter(sink.Get(), L"Sound"));
    ASSERT_EQ(S_OK, graph->Connect(audio.Get(), sink->InputPin()));

    auto select = ComQuery<IAMStreamSelect>(source);
    DWORD count = 0;
    select->Count(&count);
    EXPECT_EQ(2u, count);
    DWORD group = 9;
    EXPECT_EQ(S_OK, select->Info(1, nullptr, nullptr, nullptr, &group, nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, group);

    // Each renderer gets its first sample while the other holds its own.
    auto control = ComQuery<IMediaControl>(graph);
    control->Pause();
    OAFilterState state = State_Stopped;
    EXPECT_EQ(S_OK, control->GetState(5000, &state));
    EXPECT_EQ(State_Paused, state);
    control->Stop();

    ExpectFrames(Play(), 0, 24, 0);
    // A second of 48 kHz stereo, give or take the coder's delay.
    EXPECT_NEAR(48000 * 4, sink->bytes.load(), 48000 * 4 / 10);
}

TEST_F(SplitterTest, SeeksWhilePausedAndStopsWhileStreaming)
{
    cliptest::ClipSpec spec;
    spec.bFrames = 2;
    Build(Clip("pause.mkv", spec));
    auto control = ComQuery<IMediaControl>(graph);
    control->Pause();
    OAFilterState state = State_Stopped;
    ASSERT_EQ(S_OK, control->GetState(5000, &state));

    // Threads are held by the paused renderer: the seek must flush them out.
    LONGLONG target = 9 * kFrame;
    ASSERT_EQ(S_OK, ComQuery<IMediaSeeking>(graph)->SetPositions(&target, AM_SEEKING_AbsolutePositioning,
                                                                 nullptr, AM_SEEKING_NoPositioning));
    ASSERT_EQ(S_OK, control->GetState(5000, &state));
    renderer->Clear();
    control->Run();
    LONG code = 0;
    EXPECT_EQ(S_OK, ComQuery<IMediaEvent>(graph)->WaitForCompletion(10000, &code));
    ASSERT_FALSE(renderer->Shown_().empty());
    EXPECT_EQ(9, renderer->Shown_().front().index);
    control->Stop();

    for (int i = 0; i < 5; ++i) {
        control->Run();
        EXPECT_EQ(S_OK, control->Stop());
    }
}

// The single-threaded decoder is a real alternative; DV comes as 'dvsd'.
TEST_F(SplitterTest, SingleThreadedDecoderPlaysDvInAvi)
{
    cliptest::ClipSpec spec;
    spec.codec = AV_CODEC_ID_DVVIDEO;
    spec.width = 720;
    spec.height = 576;
    ASSERT_EQ(S_OK, Load(Clip("dv.avi", spec)));
    ComPtr<IPin> out = PinOf(source.Get(), 0);
    CMediaType type;
    ComPtr<IEnumMediaTypes> types;
    out->EnumMediaTypes(types.ReleaseAndGetAddressOf());
    AM_MEDIA_TYPE *mt = nullptr;
    ASSERT_EQ(S_OK, types->Next(1, &mt, nullptr));
    EXPECT_EQ(GuidToString(MEDIASUBTYPE_dvsd), GuidToString(mt->Subtype()));
    EXPECT_EQ(GuidToString(FORMAT_VideoInfo), GuidToString(mt->FormatType()));
    DeleteMediaType(mt);

    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     graph.ReleaseAndGetVoidAddress()));
    ComQuery<IMediaFilter>(graph)->SetSyncSource(nullptr);
    ComPtr<IBaseFilter> decoder;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VidstillVideoDecoderST, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     decoder.ReleaseAndGetVoidAddress()));
    renderer = MakeCom<PictureRenderer>();
    graph->AddFilter(source.Get(), L"Source");
    graph->AddFilter(decoder.Get(), L"Decoder");
    graph->AddFilter(renderer.Get(), L"Renderer");
    ASSERT_EQ(S_OK, graph->ConnectDirect(out.Get(), PinOf(decoder.Get(), 0).Get(), nullptr));
    ASSERT_EQ(S_OK, graph->ConnectDirect(PinOf(decoder.Get(), 1).Get(), renderer->InputPin(), nullptr));
    ExpectFrames(Play(), 0, 24, 0);
}

// 29.97 frames per second: times are whole 100 ns units, rounded per frame,
// and no picture ends after the next one starts (the frame duration, 333667,
// is rounded up), so an exact seek to a picture's own time, as the frames
// played from the start list it, shows that picture and not the one before.
TEST_F(SplitterTest, NtscFrameRateKeepsEveryFrameTime)
{
    const auto at = [](int n) { return av_rescale(n, 1001 * UNITS, 30000); };
    for (const char *name : {"ntsc.mp4", "ntsc.mpg"}) {
        SCOPED_TRACE(name);
        cliptest::ClipSpec spec;
        spec.fps = AVRational{30000, 1001};
        spec.codec = std::string(name).ends_with(".mpg") ? AV_CODEC_ID_MPEG2VIDEO : AV_CODEC_ID_MPEG4;
        Build(Clip(name, spec));
        ComPtr<IEnumMediaTypes> types;
        PinOf(source.Get(), 0)->EnumMediaTypes(types.ReleaseAndGetAddressOf());
        AM_MEDIA_TYPE *mt = nullptr;
        ASSERT_EQ(S_OK, types->Next(1, &mt, nullptr));
        EXPECT_EQ(333667, mt->FormatAs<VIDEOINFOHEADER2>()->AvgTimePerFrame);
        DeleteMediaType(mt);
        const auto listed = Play();
        ASSERT_EQ(listed.size(), 25u);
        for (int n = 0; n < 25; ++n) {
            EXPECT_EQ(n, listed[size_t(n)].index);
            EXPECT_NEAR(at(n), listed[size_t(n)].start, 1) << "frame " << n;
        }
        for (int first : {1, 2, 10, 23}) {
            const REFERENCE_TIME start = Seek(listed[size_t(first)].start, false);
            const auto shown = Play();
            ASSERT_EQ(static_cast<size_t>(25 - first), shown.size()) << "from " << first;
            for (size_t i = 0; i < shown.size(); ++i) {
                const int n = first + static_cast<int>(i);
                EXPECT_EQ(n, shown[i].index);
                EXPECT_EQ(listed[size_t(n)].start - start, shown[i].start) << "frame " << n;
            }
        }
        ComQuery<IMediaControl>(graph)->Stop();
        graph.Reset();
    }
}

// In fast play the new segment carries the rate and the samples' times are
// stream times: (media time - segment start) / rate. A stage that takes the
// rate into account finds each picture's own media time.
TEST_F(SplitterTest, FastPlaySegmentsCarryTheRateAndTimesFollowIt)
{
    ASSERT_EQ(S_OK, Load(Clip("fast.mp4")));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     graph.ReleaseAndGetVoidAddress()));
    ComQuery<IMediaFilter>(graph)->SetSyncSource(nullptr);
    renderer = MakeCom<PictureRenderer>();
    auto times = MakeCom<FrameTimes>();
    ASSERT_EQ(S_OK, graph->AddFilter(source.Get(), L"Source"));
    ASSERT_EQ(S_OK, graph->AddFilter(times.Get(), L"Frame Times"));
    ASSERT_EQ(S_OK, graph->AddFilter(renderer.Get(), L"Renderer"));
    ASSERT_EQ(S_OK, graph->Connect(PinOf(source.Get(), 0).Get(), times->InputPin()));  // through a decoder
    ASSERT_EQ(S_OK, graph->Connect(times->OutputPin(), renderer->InputPin()));
    auto seeking = ComQuery<IMediaSeeking>(graph);
    ASSERT_EQ(S_OK, seeking->SetRate(4.0));
    Seek(6 * kFrame, true);  // the segment starts at a key frame, not at 0
    const auto shown = Play();
    EXPECT_EQ(4.0, times->Rate());
    const auto seen = times->Seen();
    ASSERT_EQ(shown.size(), seen.size());
    ASSERT_GT(seen.size(), 10u);
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_NEAR(seen[i].index * kFrame, seen[i].start, 4) << "picture " << seen[i].index;
        EXPECT_EQ(seen[i].index, shown[i].index);
    }
}

// ---- Bad input ----------------------------------------------------------------------------

TEST_F(SplitterTest, UnreadableFilesFailToLoad)
{
    const std::string empty = dir.filePath("empty.mp4").toStdString();
    std::ofstream(empty).close();
    EXPECT_TRUE(FAILED(Load(empty)));
    EXPECT_FALSE(PinOf(source.Get(), 0));
    EXPECT_TRUE(FAILED(Load(dir.filePath("missing.mkv").toStdString())));
}

// One instance serves one file after another, as a private filter record
// hands it out, but never while a graph still uses what it has.
TEST_F(SplitterTest, AnIdleSplitterTakesTheNextFile)
{
    cliptest::ClipSpec withSound;
    withSound.audio = true;
    const std::string first = Clip("first.mkv", withSound), second = Clip("second.mp4");
    Build(first);
    auto file = ComQuery<IFileSourceFilter>(source);
    const std::wstring next(second.begin(), second.end());
    EXPECT_EQ(E_UNEXPECTED, file->Load(next.c_str(), nullptr)) << "its pin feeds the renderer";
    EXPECT_TRUE(PinOf(source.Get(), 1)) << "the first file's sound pin is still there";

    graph->Disconnect(PinOf(source.Get(), 0).Get());
    graph->Disconnect(renderer->InputPin());
    ASSERT_EQ(S_OK, file->Load(next.c_str(), nullptr));
    LPWSTR name = nullptr;
    ASSERT_EQ(S_OK, file->GetCurFile(&name, nullptr));
    EXPECT_EQ(std::wstring(name), next);
    delete[] name;
    EXPECT_FALSE(PinOf(source.Get(), 1)) << "the second file has no sound";
    ASSERT_EQ(S_OK, graph->Connect(PinOf(source.Get(), 0).Get(), renderer->InputPin()));
    EXPECT_EQ(Play().size(), 25u);
}

// Whatever libavformat makes of it, loading and playing end without a hang.
TEST_F(SplitterTest, RandomAndTruncatedFilesEndCleanly)
{
    std::vector<std::string> paths;
    const std::string noise = dir.filePath("noise.avi").toStdString();
    {
        std::mt19937 random(7);
        std::ofstream out(noise, std::ios::binary);
        for (int i = 0; i < 65536; ++i)
            out.put(static_cast<char>(random()));
    }
    paths.push_back(noise);
    for (const char *name : {"cut.mpg", "cut.mkv", "cut.ts", "cut.mp4"}) {
        cliptest::ClipSpec spec;
        spec.codec = AV_CODEC_ID_MPEG2VIDEO;
        const std::string path = Clip(name, spec);
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size() / 2);
        paths.push_back(path);
    }
    for (const std::string &path : paths) {
        SCOPED_TRACE(path);
        graph.Reset();
        if (FAILED(Load(path)))
            continue;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph.ReleaseAndGetVoidAddress()));
        ComQuery<IMediaFilter>(graph)->SetSyncSource(nullptr);
        graph->AddFilter(source.Get(), L"Source");
        renderer = MakeCom<PictureRenderer>();
        graph->AddFilter(renderer.Get(), L"Renderer");
        if (FAILED(graph->Connect(PinOf(source.Get(), 0).Get(), renderer->InputPin())))
            continue;
        auto control = ComQuery<IMediaControl>(graph);
        control->Run();
        LONG code = 0;
        EXPECT_EQ(S_OK, ComQuery<IMediaEvent>(graph)->WaitForCompletion(10000, &code));
        EXPECT_EQ(S_OK, control->Stop());
        EXPECT_LE(renderer->Shown_().size(), 25u);
    }
}
