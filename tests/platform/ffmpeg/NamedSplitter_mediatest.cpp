// "File Source (Async.)" and the named system splitters that read through its
// pull pin: what the source offers, what each splitter takes or refuses, what
// happens to the output pins when the input goes, and type-1 DV as whole
// frames on one interleaved pin.
#include "FilterTestKit.h"
#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/Guid.h"
#include "platform/dshow/Renderer.h"
#include "platform/ffmpeg/FFmpegFilters.h"
#include "platform/ffmpeg/FileSourceAsync.h"
#include "platform/ffmpeg/LavSplitter.h"
#include "tools/mkmedia/MkMedia.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <mutex>

namespace {

using namespace filtertest;

class NamedSplitterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterFFmpegFilters(); }

    void SetUp() override { ASSERT_TRUE(graph = ClocklessGraph()); }
    void TearDown() override
    {
        if (graph)
            ComQuery<IMediaControl>(graph)->Stop();
    }

    std::string Make(const char *name, int audio = 0, const char *codec = "", int dvType = 2)
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(name).toStdString();
        o.codec = codec;
        o.frames = 10;
        o.audio = audio;
        o.dvType = dvType;
        if (!*codec) {
            o.width = 176;
            o.height = 144;
        }
        const auto r = mkmedia::WriteClip(o);
        EXPECT_TRUE(r.ok) << r.error;
        return o.path;
    }

    // A file source loaded with `path`, in the graph.
    ComPtr<IBaseFilter> Source(const std::string &path, HRESULT *hr = nullptr)
    {
        auto source = Create(CLSID_AsyncReader);
        const std::wstring wide(path.begin(), path.end());
        const HRESULT r = ComQuery<IFileSourceFilter>(source)->Load(wide.c_str(), nullptr);
        if (hr)
            *hr = r;
        graph->AddFilter(source.Get(), L"File Source (Async.)");
        return source;
    }

    HRESULT Connect(IBaseFilter *source, IBaseFilter *splitter)
    {
        return graph->ConnectDirect(Pins(source)[0].Get(), Pins(splitter)[0].Get(), nullptr);
    }

    QTemporaryDir dir;
    ComPtr<IGraphBuilder> graph;
};

TEST_F(NamedSplitterTest, FileSourceNamesTheContainerAndFailsCleanlyOnMissingFiles)
{
    const std::pair<const char *, GUID> files[] = {{"a.avi", MEDIASUBTYPE_Avi},
                                                   {"b.mpg", MEDIASUBTYPE_MPEG1System},
                                                   {"c.vob", MEDIASUBTYPE_MPEG2_PROGRAM},
                                                   {"d.ts", MEDIASUBTYPE_MPEG2_TRANSPORT},
                                                   {"e.wav", MEDIASUBTYPE_WAVE},
                                                   {"f.wmv", MEDIASUBTYPE_Asf},
                                                   {"g.mkv", GUID_NULL}};
    for (const auto &[name, subtype] : files) {
        auto source = Source(Make(name, -1));
        auto pins = Pins(source.Get());
        ASSERT_EQ(pins.size(), 1u) << name;
        AM_MEDIA_TYPE *mt = nullptr;
        ComPtr<IEnumMediaTypes> types;
        pins[0]->EnumMediaTypes(types.ReleaseAndGetAddressOf());
        ASSERT_EQ(S_OK, types->Next(1, &mt, nullptr));
        EXPECT_EQ(mt->majortype, MEDIATYPE_Stream) << name;
        EXPECT_EQ(mt->subtype, subtype) << name;
        DeleteMediaType(mt);
        EXPECT_TRUE(ComQuery<IAsyncReader>(pins[0])) << name;
    }

    HRESULT hr = S_OK;
    auto missing = Source(dir.filePath("missing.avi").toStdString(), &hr);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_TRUE(Pins(missing.Get()).empty());
    auto folder = Source(dir.path().toStdString(), &hr);
    EXPECT_TRUE(FAILED(hr));

    auto twice = Source(Make("h.avi"), &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(ComQuery<IFileSourceFilter>(twice)->Load(L"/nonexistent.avi", nullptr), E_UNEXPECTED);
    LPWSTR name = nullptr;
    ASSERT_EQ(S_OK, ComQuery<IFileSourceFilter>(twice)->GetCurFile(&name, nullptr));
    EXPECT_EQ(std::wstring(name), dir.filePath("h.avi").toStdWString());
    delete[] name;
}

TEST_F(NamedSplitterTest, SplitterRefusesOtherContainersAndItsOutputsGoWithItsInput)
{
    auto splitter = Create(CLSID_AviSplitter);
    graph->AddFilter(splitter.Get(), L"AVI Splitter");
    EXPECT_FALSE(ComQuery<IFileSourceFilter>(splitter));
    ASSERT_EQ(Pins(splitter.Get()).size(), 1u);

    auto mp4 = Source(Make("a.mp4"));
    EXPECT_TRUE(FAILED(Connect(mp4.Get(), splitter.Get())));
    EXPECT_EQ(Pins(splitter.Get()).size(), 1u);
    ComPtr<IPin> connected;
    EXPECT_EQ(Pins(mp4.Get())[0]->ConnectedTo(connected.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);

    auto avi = Source(Make("b.avi", 1));
    ASSERT_EQ(S_OK, Connect(avi.Get(), splitter.Get()));
    auto pins = Pins(splitter.Get());
    ASSERT_EQ(pins.size(), 3u);  // input, video, audio
    EXPECT_TRUE(ComQuery<IMediaSeeking>(pins[1]));
    LONGLONG duration = 0;
    ASSERT_EQ(S_OK, ComQuery<IMediaSeeking>(pins[1])->GetDuration(&duration));
    EXPECT_NEAR(double(duration), 4000000.0, 1000000.0);  // audio may run on a little

    // Outputs connected downstream are let go with the input; the old pin
    // objects stay valid for whoever still holds them.
    auto sink = MakeCom<KeepingSink>();
    graph->AddFilter(sink.Get(), L"Sink");
    ASSERT_EQ(S_OK, graph->ConnectDirect(pins[2].Get(), sink->InputPin(), nullptr));
    ASSERT_EQ(S_OK, graph->Disconnect(Pins(avi.Get())[0].Get()));
    ASSERT_EQ(S_OK, graph->Disconnect(pins[0].Get()));
    EXPECT_EQ(Pins(splitter.Get()).size(), 1u);
    PIN_INFO info{};
    EXPECT_EQ(S_OK, pins[2]->QueryPinInfo(&info));
    if (info.pFilter)
        info.pFilter->Release();
    EXPECT_EQ(pins[2]->ConnectedTo(connected.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);

    // And it takes the next file.
    auto again = Source(Make("c.avi"));
    ASSERT_EQ(S_OK, Connect(again.Get(), splitter.Get()));
    EXPECT_EQ(Pins(splitter.Get()).size(), 2u);
}

TEST_F(NamedSplitterTest, EachSplitterTakesOnlyItsOwnContainers)
{
    struct Case {
        const char *file;
        CLSID takes;
    } const cases[] = {{"a.avi", CLSID_AviSplitter},    {"b.mpg", CLSID_MPEG1Splitter},
                       {"c.m1v", CLSID_MPEG1Splitter},  {"d.vob", CLSID_MMSPLITTER},
                       {"e.ts", CLSID_MMSPLITTER},      {"f.wav", CLSID_WAVEParser},
                       {"g.m2v", GUID_NULL},            {"h.mkv", GUID_NULL}};
    const CLSID splitters[] = {CLSID_AviSplitter, CLSID_MMSPLITTER, CLSID_MPEG1Splitter, CLSID_WAVEParser};
    for (const Case &c : cases) {
        const std::string path = Make(c.file, -1);
        for (const CLSID &clsid : splitters) {
            auto source = Source(path);
            auto splitter = Create(clsid);
            graph->AddFilter(splitter.Get(), L"Splitter");
            const HRESULT hr = Connect(source.Get(), splitter.Get());
            EXPECT_EQ(SUCCEEDED(hr), clsid == c.takes) << c.file << " " << GuidToString(clsid);
            EXPECT_EQ(Pins(splitter.Get()).size() > 1, clsid == c.takes) << c.file;
            graph->RemoveFilter(splitter.Get());
            graph->RemoveFilter(source.Get());
        }
    }
    // The ASF reader is a source of its own.
    auto reader = Create(CLSID_WMAsfReader);
    const std::string wmv = Make("i.wmv"), avi = dir.filePath("a.avi").toStdString();
    EXPECT_EQ(S_OK, ComQuery<IFileSourceFilter>(reader)->Load(std::wstring(wmv.begin(), wmv.end()).c_str(), nullptr));
    EXPECT_EQ(Pins(reader.Get()).size(), 1u);
    auto refuses = Create(CLSID_WMAsfReader);
    EXPECT_TRUE(FAILED(ComQuery<IFileSourceFilter>(refuses)->Load(std::wstring(avi.begin(), avi.end()).c_str(), nullptr)));
    EXPECT_TRUE(Pins(refuses.Get()).empty());
}

TEST_F(NamedSplitterTest, TypeOneDvComesAsWholeFramesOnOneInterleavedPin)
{
    auto source = Source(Make("dv.avi", -1, "dv", 1));
    auto splitter = Create(CLSID_AviSplitter);
    graph->AddFilter(splitter.Get(), L"AVI Splitter");
    ASSERT_EQ(S_OK, Connect(source.Get(), splitter.Get()));
    auto pins = Pins(splitter.Get());
    ASSERT_EQ(pins.size(), 2u);
    AM_MEDIA_TYPE *mt = nullptr;
    ComPtr<IEnumMediaTypes> types;
    pins[1]->EnumMediaTypes(types.ReleaseAndGetAddressOf());
    ASSERT_EQ(S_OK, types->Next(1, &mt, nullptr));
    EXPECT_EQ(mt->majortype, MEDIATYPE_Interleaved);
    EXPECT_EQ(mt->subtype, MEDIASUBTYPE_dvsd);
    ASSERT_EQ(mt->formattype, FORMAT_DvInfo);
    const DVINFO *dv = mt->FormatAs<DVINFO>();
    ASSERT_TRUE(dv);
    EXPECT_NE(dv->dwDVVAuxSrc, 0u);  // the stream's own packs, from its format chunk
    EXPECT_NE(dv->dwDVAAuxSrc, 0u);
    DeleteMediaType(mt);

    auto sink = MakeCom<KeepingSink>(GUID_NULL, GUID_NULL, MEDIATYPE_Interleaved);
    graph->AddFilter(sink.Get(), L"Sink");
    ASSERT_EQ(S_OK, graph->ConnectDirect(pins[1].Get(), sink->InputPin(), nullptr));
    ASSERT_TRUE(SUCCEEDED(ComQuery<IMediaControl>(graph)->Run()));
    LONG code = 0;
    EXPECT_EQ(S_OK, ComQuery<IMediaEvent>(graph)->WaitForCompletion(10000, &code));
    const auto frames = sink->Samples();
    ASSERT_EQ(frames.size(), 10u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].bytes.size(), 144000u) << i;
        EXPECT_EQ(frames[i].start, REFERENCE_TIME(i) * 400000) << i;
    }
}

} // namespace
