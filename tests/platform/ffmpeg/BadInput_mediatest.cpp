// Damaged clips through "LAV Splitter Source" (and through the system filters
// of their fallback chain) and the decoders: truncated,
// with flipped bytes, empty, random and mislabelled files either fail to load
// or play to an end, without a crash, a hang or growing memory.
#include "FilterTestKit.h"
#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/Renderer.h"
#include "platform/ffmpeg/FFmpegFilters.h"
#include "platform/ffmpeg/LavSplitter.h"
#include "tools/mkmedia/MkMedia.h"
#include "tools/mkmedia/Mutate.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace {

using namespace filtertest;

const CLSID CLSID_AnyPictureSink{0x7E57F0FF, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0x11}};
const CLSID CLSID_AnySoundSink{0x7E57F0FF, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0x12}};

// Takes decoded pictures only, so the graph has to put a decoder in front.
class PictureSink : public CBaseRenderer {
public:
    PictureSink() : CBaseRenderer(CLSID_AnyPictureSink, L"Picture Sink") {}
    HRESULT CheckMediaType(const CMediaType *pmt) override
    {
        if (pmt->Type() != MEDIATYPE_Video
            || (pmt->FormatType() != FORMAT_VideoInfo && pmt->FormatType() != FORMAT_VideoInfo2))
            return VFW_E_TYPE_NOT_ACCEPTED;
        for (const GUID *g : {&MEDIASUBTYPE_I420, &MEDIASUBTYPE_YV12, &MEDIASUBTYPE_NV12, &MEDIASUBTYPE_RGB32})
            if (pmt->Subtype() == *g)
                return S_OK;
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT DoRenderSample(IMediaSample *) override
    {
        ++frames;
        return S_OK;
    }
    void OnReceiveFirstSample(IMediaSample *) override {}
    std::atomic<int> frames{0};
};

class SoundSink : public CBaseRenderer {
public:
    SoundSink() : CBaseRenderer(CLSID_AnySoundSink, L"Sound Sink") {}
    HRESULT CheckMediaType(const CMediaType *pmt) override
    {
        return pmt->Type() == MEDIATYPE_Audio && pmt->Subtype() == MEDIASUBTYPE_PCM ? S_OK
                                                                                  : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT DoRenderSample(IMediaSample *) override { return S_OK; }
};

GUID MajorOf(IPin *pin)
{
    ComPtr<IEnumMediaTypes> types;
    AM_MEDIA_TYPE *mt = nullptr;
    GUID major = GUID_NULL;
    if (SUCCEEDED(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf())) && types->Next(1, &mt, nullptr) == S_OK) {
        major = mt->majortype;
        DeleteMediaType(mt);
    }
    return major;
}

size_t ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

struct Outcome {
    bool loaded = false;
    int frames = 0;
};

// Load, connect what connects, run without a clock until the end or a
// failure, stop. Test assertions cover the hang and the clean stop.
// The file opened by `sourceClsid`, and through `splitterClsid` when given:
// the filter whose outputs carry the streams, or null when the file was refused.
ComPtr<IBaseFilter> Open(IGraphBuilder *graph, const std::string &path, REFCLSID sourceClsid,
                         REFCLSID splitterClsid)
{
    ComPtr<IBaseFilter> source = Create(sourceClsid);
    const std::wstring wide(path.begin(), path.end());
    const HRESULT loaded = ComQuery<IFileSourceFilter>(source)->Load(wide.c_str(), nullptr);
    if (FAILED(loaded)) {
        EXPECT_TRUE(Pins(source.Get()).empty());
        return nullptr;
    }
    EXPECT_EQ(S_OK, loaded);
    graph->AddFilter(source.Get(), L"Source");
    if (splitterClsid == GUID_NULL)
        return source;
    ComPtr<IBaseFilter> splitter = Create(splitterClsid);
    graph->AddFilter(splitter.Get(), L"Splitter");
    if (FAILED(graph->ConnectDirect(Pins(source.Get())[0].Get(), Pins(splitter.Get())[0].Get(), nullptr))) {
        EXPECT_EQ(Pins(splitter.Get()).size(), 1u);  // its input only
        return nullptr;
    }
    return splitter;
}

Outcome PlayFile(const std::string &path, REFCLSID sourceClsid = CLSID_LAVSplitterSource,
                 REFCLSID splitterClsid = GUID_NULL)
{
    Outcome outcome;
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     graph.ReleaseAndGetVoidAddress()));
    ComQuery<IMediaFilter>(graph)->SetSyncSource(nullptr);
    ComPtr<IBaseFilter> source = Open(graph.Get(), path, sourceClsid, splitterClsid);
    if (!source)
        return outcome;
    outcome.loaded = true;
    auto pictures = MakeCom<PictureSink>();
    auto sound = MakeCom<SoundSink>();
    graph->AddFilter(pictures.Get(), L"Pictures");
    graph->AddFilter(sound.Get(), L"Sound");
    bool connected = false;
    for (const ComPtr<IPin> &pin : Pins(source.Get())) {
        PIN_DIRECTION dir = PINDIR_INPUT;
        pin->QueryDirection(&dir);
        if (dir != PINDIR_OUTPUT)
            continue;
        const GUID major = MajorOf(pin.Get());
        IPin *sink = major == MEDIATYPE_Audio ? sound->InputPin() : pictures->InputPin();
        ComPtr<IPin> peer;
        if (sink->ConnectedTo(peer.ReleaseAndGetAddressOf()) == S_OK)
            continue;
        connected = SUCCEEDED(graph->Connect(pin.Get(), sink)) || connected;
    }
    // Unconnected sinks would never end their streams.
    for (IBaseFilter *f : {static_cast<IBaseFilter *>(pictures.Get()), static_cast<IBaseFilter *>(sound.Get())}) {
        ComPtr<IPin> peer;
        if (Pins(f)[0]->ConnectedTo(peer.ReleaseAndGetAddressOf()) != S_OK)
            graph->RemoveFilter(f);
    }
    if (connected) {
        auto control = ComQuery<IMediaControl>(graph);
        control->Run();
        LONG code = 0;
        EXPECT_EQ(S_OK, ComQuery<IMediaEvent>(graph)->WaitForCompletion(10000, &code)) << "hung";
        EXPECT_EQ(S_OK, control->Stop());
    }
    outcome.frames = pictures->frames;
    return outcome;
}

struct ClipCase {
    const char *name;
    const char *codec;  // "" for the extension's default
    int dvType = 2;
    // The system filters of the extension's fallback chain.
    CLSID source = CLSID_AsyncReader;
    CLSID splitter = GUID_NULL;
};

class BadInputTest : public ::testing::TestWithParam<ClipCase> {
protected:
    static void SetUpTestSuite()
    {
        RegisterFFmpegFilters();
        av_log_set_level(AV_LOG_QUIET);  // damaged files make a lot of noise
    }

    std::string Write(const ClipCase &c)
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(c.name).toStdString();
        o.codec = c.codec;
        o.width = 176;
        o.height = 144;
        o.frames = 15;
        o.dvType = c.dvType;
        const mkmedia::ClipResult r = mkmedia::WriteClip(o);
        EXPECT_TRUE(r.ok) << r.error;
        frames = r.videoEncoder.empty() ? 0 : r.frames;
        return o.path;
    }

    std::string Mutated(const std::string &source, const char *tag, mkmedia::Mutation kind,
                        const mkmedia::MutationParams &params, const std::string &ext)
    {
        const std::string target = dir.filePath(QString("bad-%1.%2").arg(tag).arg(ext.c_str())).toStdString();
        EXPECT_TRUE(mkmedia::MutateFile(source, target, kind, params)) << tag;
        return target;
    }

    QTemporaryDir dir;
    int frames = 0;  // pictures in the written clip
};

// Every kind of damage, several seeds and cut points, twice over so the second
// round shows whether memory keeps growing.
TEST_P(BadInputTest, DamagedCopiesFailOrEndCleanly)
{
    using mkmedia::Mutation;
    const std::string clip = Write(GetParam());
    ASSERT_FALSE(HasFailure());
    const std::string ext = mkmedia::ExtensionOf(clip);
    std::vector<std::string> files;
    for (int percent : {0, 5, 30, 60, 95})
        files.push_back(Mutated(clip, ("cut" + std::to_string(percent)).c_str(), Mutation::Truncate,
                                {.percent = percent}, ext));
    for (uint32_t seed : {1u, 2u, 3u, 4u})
        files.push_back(Mutated(clip, ("flip" + std::to_string(seed)).c_str(), Mutation::FlipBytes,
                                {.count = 8 * static_cast<int>(seed), .seed = seed}, ext));
    files.push_back(Mutated(clip, "empty", Mutation::ZeroLength, {}, ext));
    files.push_back(Mutated(clip, "noise", Mutation::RandomBytes, {.size = 65536, .seed = 9}, ext));
    files.push_back(Mutated(clip, "renamed", Mutation::WrongExtension, {}, ext == "mkv" ? "mpg" : "mkv"));

    size_t baseline = 0;
    for (int round = 0; round < 2; ++round) {
        if (round == 1)
            baseline = ResidentBytes();
        for (const std::string &file : files) {
            SCOPED_TRACE(file);
            const Outcome o = PlayFile(file);
            EXPECT_LE(o.frames, 15 + 2);  // nothing invented
            const ClipCase &c = GetParam();
            if (round == 0 && (c.splitter != GUID_NULL || c.source != CLSID_AsyncReader)) {
                EXPECT_LE(PlayFile(file, c.source, c.splitter).frames, 15 + 2);
            }
            if (::testing::Test::HasFailure())
                return;
        }
    }
    EXPECT_LT(ResidentBytes(), baseline + (300u << 20));
    // The undamaged file under another name still plays in full.
    const Outcome renamed = PlayFile(files.back());
    EXPECT_TRUE(renamed.loaded);
    EXPECT_EQ(frames, renamed.frames);
}

INSTANTIATE_TEST_SUITE_P(Clips, BadInputTest,
                         ::testing::Values(ClipCase{"h264.mp4", "h264"}, ClipCase{"h264.mkv", ""},
                                           ClipCase{"mpeg1.mpg", "", 2, CLSID_AsyncReader, CLSID_MPEG1Splitter},
                                           ClipCase{"mpeg2.ts", "", 2, CLSID_AsyncReader, CLSID_MMSPLITTER},
                                           ClipCase{"mpeg4.avi", "mpeg4", 2, CLSID_AsyncReader, CLSID_AviSplitter},
                                           ClipCase{"dv1.avi", "dv", 1, CLSID_AsyncReader, CLSID_AviSplitter},
                                           ClipCase{"wmv2.wmv", "", 2, CLSID_WMAsfReader, GUID_NULL},
                                           ClipCase{"pcm.wav", "", 2, CLSID_AsyncReader, CLSID_WAVEParser}),
                         [](const auto &info) {
                             std::string n = info.param.name;
                             for (char &c : n)
                                 if (c == '.')
                                     c = '_';
                             return n;
                         });

// Content decides, not the name: MP4 called .avi opens and plays every frame.
TEST(MislabelledTest, Mp4NamedAviPlaysItsFrames)
{
    RegisterFFmpegFilters();
    av_log_set_level(AV_LOG_QUIET);
    QTemporaryDir dir;
    mkmedia::ClipOptions o;
    o.path = dir.filePath("real.mp4").toStdString();
    o.codec = "h264";
    o.width = 176;
    o.height = 144;
    o.frames = 15;
    o.audio = 0;
    const mkmedia::ClipResult r = mkmedia::WriteClip(o);
    ASSERT_TRUE(r.ok) << r.error;
    const std::string avi = dir.filePath("looks-like.avi").toStdString();
    ASSERT_TRUE(mkmedia::MutateFile(o.path, avi, mkmedia::Mutation::WrongExtension));
    const Outcome played = PlayFile(avi);
    EXPECT_TRUE(played.loaded);
    EXPECT_EQ(r.frames, played.frames);
}

} // namespace
