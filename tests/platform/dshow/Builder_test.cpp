// Graph building: the filter catalogue, intelligent connect with the builder
// callback, Render, the capture graph builder, the graph description files.
#include "GraphTestKit.h"

#include "platform/dshow/CaptureGraphBuilder.h"
#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/GraphDescription.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace graphtest;

namespace {

constexpr CLSID CLSID_DecoderA{0x7E57D000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xA}};
constexpr CLSID CLSID_DecoderB{0x7E57D000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xB}};
constexpr CLSID CLSID_DecoderC{0x7E57D000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xC}};
constexpr CLSID CLSID_CatalogueRenderer{0x7E57D000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xD}};

// YUY2 in, RGB32 out.
class Decoder : public CTransformFilter {
public:
    explicit Decoder(REFCLSID clsid) : CTransformFilter(L"Decoder", clsid) {}
    HRESULT CheckInputType(const CMediaType *pmt) override
    {
        return pmt->Subtype() == MEDIASUBTYPE_YUY2 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const CMediaType *, const CMediaType *out) override
    {
        return out->Subtype() == MEDIASUBTYPE_RGB32 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int i, CMediaType *pmt) override
    {
        if (i != 0)
            return i < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
        *pmt = TestVideoType(MEDIASUBTYPE_RGB32);
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator *a, ALLOCATOR_PROPERTIES *p) override
    {
        p->cBuffers = 1;
        p->cbBuffer = 64;
        ALLOCATOR_PROPERTIES got{};
        return a->SetProperties(p, &got);
    }
    HRESULT Transform(IMediaSample *in, IMediaSample *out) override
    {
        BYTE *a = nullptr, *b = nullptr;
        in->GetPointer(&a);
        out->GetPointer(&b);
        std::memcpy(b, a, 4);
        out->SetActualDataLength(4);
        return S_OK;
    }
};

// Takes what Decoder takes, gives RGB24.
class Rgb24Decoder : public Decoder {
public:
    using Decoder::Decoder;
    HRESULT CheckTransform(const CMediaType *, const CMediaType *out) override
    {
        return out->Subtype() == MEDIASUBTYPE_RGB24 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int i, CMediaType *pmt) override
    {
        if (i != 0)
            return i < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
        *pmt = TestVideoType(MEDIASUBTYPE_RGB24);
        return S_OK;
    }
};

template <class T, class... Args>
CreateFunction Factory(Args... args)
{
    return [=](REFIID riid, void **ppv) {
        ComPtr<T> object = MakeCom<T>(args...);
        return object->NonDelegatingQueryInterface(riid, ppv);
    };
}

FilterRegistration DecoderEntry(REFCLSID clsid, const wchar_t *name, DWORD merit)
{
    return {clsid, name, merit, {{MEDIATYPE_Video, MEDIASUBTYPE_YUY2}}, false, Factory<Decoder>(clsid)};
}

// The application's callback: remembers what it was shown, vetoes a list.
class Callback : public CUnknown, public IAMGraphBuilderCallback {
public:
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IAMGraphBuilderCallback || riid == IID_IUnknown)
            return GetInterface(static_cast<IAMGraphBuilderCallback *>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    // As the video manager does: bind the moniker, read the class.
    HRESULT SelectedFilter(IMoniker *pMon) override
    {
        ComPtr<IBaseFilter> filter;
        if (FAILED(pMon->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReleaseAndGetVoidAddress())))
            return E_FAIL;
        CLSID clsid;
        filter->GetClassID(&clsid);
        selected.push_back(clsid);
        return vetoSelected.count(clsid) ? E_FAIL : S_OK;
    }
    HRESULT CreatedFilter(IBaseFilter *pFil) override
    {
        CLSID clsid;
        pFil->GetClassID(&clsid);
        created.push_back(clsid);
        return vetoCreated.count(clsid) ? E_FAIL : S_OK;
    }
    std::set<CLSID> vetoSelected, vetoCreated;
    std::vector<CLSID> selected, created;
};

IBaseFilter *OwnerOfPin(IPin *pin)
{
    PIN_INFO info{};
    pin->QueryPinInfo(&info);
    if (info.pFilter)
        info.pFilter->Release();  // the graph keeps it
    return info.pFilter;
}

class BuilderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   graph.ReleaseAndGetVoidAddress()),
                  S_OK);
        source = MakeCom<FrameSource>(10, 1, TestVideoType(MEDIASUBTYPE_YUY2));
        renderer = MakeCom<TestRenderer>();
        renderer->acceptsSubtype = MEDIASUBTYPE_RGB32;
        graph->AddFilter(source.Get(), L"Source");
        graph->AddFilter(renderer.Get(), L"Renderer");
    }
    void TearDown() override
    {
        for (const CLSID &c : {CLSID_DecoderA, CLSID_DecoderB, CLSID_DecoderC, CLSID_CatalogueRenderer})
            UnregisterFilter(c);
        ComQuery<IMediaControl>(graph)->Stop();
    }
    std::vector<std::wstring> FilterNames()
    {
        std::vector<std::wstring> names;
        ComPtr<IEnumFilters> e;
        graph->EnumFilters(e.ReleaseAndGetAddressOf());
        ComPtr<IBaseFilter> f;
        while (e->Next(1, f.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
            FILTER_INFO info{};
            f->QueryFilterInfo(&info);
            info.pGraph->Release();
            names.push_back(info.achName);
        }
        return names;
    }

    ComPtr<IGraphBuilder> graph;
    ComPtr<FrameSource> source;
    ComPtr<TestRenderer> renderer;
};

TEST_F(BuilderTest, IntelligentConnectTakesTheHighestMeritDecoder)
{
    RegisterFilter(DecoderEntry(CLSID_DecoderA, L"Decoder A", MERIT_NORMAL));
    RegisterFilter(DecoderEntry(CLSID_DecoderB, L"Decoder B", MERIT_PREFERRED));
    RegisterFilter(DecoderEntry(CLSID_DecoderC, L"Decoder C", MERIT_DO_NOT_USE));
    EXPECT_EQ(graph->ConnectDirect(source->Out(), renderer->InputPin(), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
    ASSERT_EQ(graph->Connect(source->Out(), renderer->InputPin()), S_OK);
    EXPECT_EQ(FilterNames(), (std::vector<std::wstring>{L"Source", L"Renderer", L"Decoder B"}));

    ComQuery<IMediaControl>(graph)->Pause();
    ASSERT_TRUE(renderer->WaitForPresentations(1));
    EXPECT_EQ(renderer->Frames(true), std::vector<int>{0});  // through the decoder
}

TEST_F(BuilderTest, TheCallbackCanVetoASelectedOrACreatedFilter)
{
    RegisterFilter(DecoderEntry(CLSID_DecoderA, L"Decoder A", MERIT_NORMAL));
    RegisterFilter(DecoderEntry(CLSID_DecoderB, L"Decoder B", MERIT_PREFERRED));
    RegisterFilter(DecoderEntry(CLSID_DecoderC, L"Decoder C", MERIT_NORMAL + 1));
    auto callback = MakeCom<Callback>();
    callback->vetoSelected = {CLSID_DecoderB};
    callback->vetoCreated = {CLSID_DecoderC};
    ASSERT_EQ(ComQuery<IObjectWithSite>(graph)->SetSite(static_cast<IAMGraphBuilderCallback *>(callback.Get())),
              S_OK);
    ASSERT_EQ(graph->Connect(source->Out(), renderer->InputPin()), S_OK);
    EXPECT_EQ(callback->selected, (std::vector<CLSID>{CLSID_DecoderB, CLSID_DecoderC, CLSID_DecoderA}));
    EXPECT_EQ(callback->created, (std::vector<CLSID>{CLSID_DecoderC, CLSID_DecoderA}));
    EXPECT_EQ(FilterNames(), (std::vector<std::wstring>{L"Source", L"Renderer", L"Decoder A"}));

    // Everything vetoed: no connection, and nothing left behind.
    ComQuery<IMediaControl>(graph)->Stop();
    ComPtr<IBaseFilter> decoder;
    graph->FindFilterByName(L"Decoder A", decoder.ReleaseAndGetAddressOf());
    graph->RemoveFilter(decoder.Get());
    callback->vetoSelected.insert(CLSID_DecoderA);
    EXPECT_EQ(graph->Connect(source->Out(), renderer->InputPin()), VFW_E_CANNOT_CONNECT);
    EXPECT_EQ(FilterNames(), (std::vector<std::wstring>{L"Source", L"Renderer"}));
    ComQuery<IObjectWithSite>(graph)->SetSite(nullptr);
}

TEST_F(BuilderTest, ConnectGoesThroughADecoderAlreadyInTheGraphBeforeTheCatalogue)
{
    RegisterFilter(DecoderEntry(CLSID_DecoderB, L"Decoder B", MERIT_PREFERRED));
    // The application's choice, of a class the catalogue does not even list.
    auto chosen = MakeCom<Decoder>(CLSID_DecoderA);
    ASSERT_EQ(graph->AddFilter(chosen.Get(), L"Chosen"), S_OK);
    auto callback = MakeCom<Callback>();
    ComQuery<IObjectWithSite>(graph)->SetSite(static_cast<IAMGraphBuilderCallback *>(callback.Get()));
    ASSERT_EQ(graph->Connect(source->Out(), renderer->InputPin()), S_OK);
    EXPECT_EQ(FilterNames(), (std::vector<std::wstring>{L"Source", L"Renderer", L"Chosen"}));
    EXPECT_TRUE(callback->selected.empty());  // the catalogue was not needed
    ComPtr<IPin> peer;
    ASSERT_EQ(source->Out()->ConnectedTo(peer.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(OwnerOfPin(peer.Get()), static_cast<IBaseFilter *>(chosen.Get()));
    ComQuery<IObjectWithSite>(graph)->SetSite(nullptr);
}

TEST_F(BuilderTest, AFilterInTheGraphThatRefusesTheStreamIsPassedOverAndLeftAlone)
{
    RegisterFilter(DecoderEntry(CLSID_DecoderB, L"Decoder B", MERIT_PREFERRED));
    // Takes YUY2 but gives RGB24, which the renderer refuses: the catalogue's
    // decoder is used after it.
    renderer->acceptsSubtype = MEDIASUBTYPE_RGB32;
    auto deadEnd = MakeCom<Rgb24Decoder>(CLSID_DecoderA);
    ASSERT_EQ(graph->AddFilter(deadEnd.Get(), L"Dead end"), S_OK);
    ASSERT_EQ(graph->Connect(source->Out(), renderer->InputPin()), S_OK);
    ComPtr<IPin> peer;
    ASSERT_EQ(source->Out()->ConnectedTo(peer.ReleaseAndGetAddressOf()), S_OK);
    CLSID clsid{};
    OwnerOfPin(peer.Get())->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_DecoderB);
    EXPECT_EQ(FilterNames(), (std::vector<std::wstring>{L"Source", L"Renderer", L"Dead end", L"Decoder B"}));
    ComPtr<IPin> deadIn;
    EXPECT_NE(deadEnd->GetPin(0)->ConnectedTo(deadIn.ReleaseAndGetAddressOf()), S_OK);
}

TEST_F(BuilderTest, RenderEndsAtARendererInTheGraphOrFromTheCatalogue)
{
    graph->RemoveFilter(renderer.Get());
    EXPECT_EQ(graph->Render(source->Out()), VFW_E_CANNOT_RENDER);
    RegisterFilter(DecoderEntry(CLSID_DecoderA, L"Decoder A", MERIT_NORMAL));
    RegisterFilter({CLSID_CatalogueRenderer, L"Catalogue Renderer", MERIT_NORMAL,
                    {{MEDIATYPE_Video, MEDIASUBTYPE_RGB32}}, true, Factory<TestRenderer>()});
    ASSERT_EQ(graph->Render(source->Out()), S_OK);
    EXPECT_EQ(FilterNames(), (std::vector<std::wstring>{L"Source", L"Decoder A", L"Catalogue Renderer"}));

    // A renderer already in the graph that takes the stream comes first.
    auto second = MakeCom<FrameSource>(5, 1, TestVideoType(MEDIASUBTYPE_YUY2));
    auto waiting = MakeCom<TestRenderer>(L"Waiting");
    graph->AddFilter(second.Get(), L"Second");
    graph->AddFilter(waiting.Get(), L"Waiting");
    ASSERT_EQ(graph->Render(second->Out()), S_OK);
    EXPECT_TRUE(waiting->InputPin()->IsConnected());
    EXPECT_EQ(graph->Render(second->Out()), VFW_E_ALREADY_CONNECTED);
}

TEST(Catalogue, CreatesTheEngineClassesByIdentifier)
{
    ComPtr<IReferenceClock> clock;
    EXPECT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                               clock.ReleaseAndGetVoidAddress()),
              S_OK);
    ComPtr<ICaptureGraphBuilder2> builder;
    EXPECT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICaptureGraphBuilder2, builder.ReleaseAndGetVoidAddress()),
              S_OK);
    ComPtr<IUnknown> nothing;
    EXPECT_EQ(CoCreateInstance(CLSID_DecoderA, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               nothing.ReleaseAndGetVoidAddress()),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, clock.Get(), CLSCTX_INPROC_SERVER, IID_IUnknown,
                               nothing.ReleaseAndGetVoidAddress()),
              CLASS_E_NOAGGREGATION);
    ComPtr<IMediaControl> control;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaControl,
                               control.ReleaseAndGetVoidAddress()),
              S_OK);
}

// ---- Capture graph builder --------------------------------------------------------

class ManyPins : public CSource {
public:
    ManyPins() : CSource(L"Many", CLSID_FrameSource)
    {
        AddStream(std::make_unique<FrameStream>(this, 5, 1, CMediaType(MEDIATYPE_Video), 2));
        AddStream(std::make_unique<FrameStream>(this, 5, 1, CMediaType(MEDIATYPE_Interleaved), 2));
        AddStream(std::make_unique<FrameStream>(this, 5, 1, CMediaType(MEDIATYPE_Video), 2));
        Stream(2)->SetPinCategory(PIN_CATEGORY_CAPTURE);
    }
};

TEST_F(BuilderTest, CaptureBuilderFindsPinsByCategoryTypeAndIndexAndRendersStreams)
{
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(CreateCaptureGraphBuilder(IID_ICaptureGraphBuilder2, builder.ReleaseAndGetVoidAddress()), S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
    auto many = MakeCom<ManyPins>();
    graph->AddFilter(many.Get(), L"Many");
    IBaseFilter *f = many.Get();
    ComPtr<IPin> pin;
    const auto found = [&](const GUID *category, const GUID *type, int num) {
        return builder->FindPin(f, PINDIR_OUTPUT, category, type, TRUE, num, pin.ReleaseAndGetAddressOf()) == S_OK;
    };
    ASSERT_TRUE(found(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, 0));
    EXPECT_EQ(pin.Get(), static_cast<IPin *>(many->Stream(2)));
    EXPECT_FALSE(found(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, 0));
    ASSERT_TRUE(found(nullptr, &MEDIATYPE_Interleaved, 0));
    EXPECT_EQ(pin.Get(), static_cast<IPin *>(many->Stream(1)));
    ASSERT_TRUE(found(nullptr, &MEDIATYPE_Video, 1));
    EXPECT_EQ(pin.Get(), static_cast<IPin *>(many->Stream(2)));
    EXPECT_FALSE(found(nullptr, &MEDIATYPE_Video, 2));
    EXPECT_TRUE(found(nullptr, nullptr, 0));
    EXPECT_EQ(builder->FindPin(f, PINDIR_INPUT, nullptr, nullptr, FALSE, 0, pin.ReleaseAndGetAddressOf()), E_FAIL);

    // Render the first video pin into a given renderer; it is then taken.
    auto sink = MakeCom<TestRenderer>(L"Sink");
    graph->AddFilter(sink.Get(), L"Sink");
    ASSERT_TRUE(found(nullptr, &MEDIATYPE_Video, 0));
    ASSERT_EQ(builder->RenderStream(nullptr, nullptr, pin.Get(), nullptr, sink.Get()), S_OK);
    EXPECT_TRUE(sink->InputPin()->IsConnected());
    ASSERT_TRUE(found(nullptr, &MEDIATYPE_Video, 0));  // unconnected only: the capture pin now
    EXPECT_EQ(pin.Get(), static_cast<IPin *>(many->Stream(2)));
    EXPECT_EQ(builder->FindPin(f, PINDIR_OUTPUT, nullptr, &MEDIATYPE_Video, FALSE, 0, pin.ReleaseAndGetAddressOf()),
              S_OK);
    EXPECT_EQ(pin.Get(), static_cast<IPin *>(many->Stream(0)));
}

// ---- Graph description files (the running-object-table stand-in) -------------------

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(GraphInspection, ARegisteredGraphDescribesItselfInAFileUntilUnregistered)
{
    QTemporaryDir runtime;
    const QByteArray previous = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    {
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(CreateFilterGraph(IID_IGraphBuilder, graph.ReleaseAndGetVoidAddress()), S_OK);
        auto source = MakeCom<FrameSource>();
        graph->AddFilter(source.Get(), L"Frame Source");
        DWORD registration = 0;
        ASSERT_EQ(AddGraphToRot(graph.Get(), &registration), S_OK);
        const std::string folder = runtime.path().toStdString() + "/vidstill-graphs";
        const std::string file = folder + "/" + std::to_string(getpid()) + "-" + std::to_string(registration) + ".txt";
        EXPECT_EQ(GraphDescriptionFolder(), folder);
        ASSERT_TRUE(std::filesystem::exists(file));
        EXPECT_NE(ReadFile(file).find("\"Frame Source\""), std::string::npos);

        auto renderer = MakeCom<TestRenderer>();
        graph->AddFilter(renderer.Get(), L"Video Renderer");
        graph->ConnectDirect(source->Out(), renderer->InputPin(), nullptr);
        const std::string text = ReadFile(file);
        EXPECT_NE(text.find("[out] \"Out\" -> \"Video Renderer\".\"In\""), std::string::npos) << text;
        EXPECT_NE(text.find("State: Stopped"), std::string::npos);

        EXPECT_EQ(RemoveGraphFromRot(registration), S_OK);
        EXPECT_FALSE(std::filesystem::exists(file));
        EXPECT_EQ(RemoveGraphFromRot(registration), S_FALSE);

        // Registered again, then the graph goes: so does its file.
        ASSERT_EQ(AddGraphToRot(graph.Get(), &registration), S_OK);
        const std::string again =
            folder + "/" + std::to_string(getpid()) + "-" + std::to_string(registration) + ".txt";
        ASSERT_TRUE(std::filesystem::exists(again));
        graph.Reset();
        EXPECT_FALSE(std::filesystem::exists(again));
        EXPECT_EQ(RemoveGraphFromRot(registration), S_FALSE);  // forgotten with the graph
    }
    if (previous.isEmpty())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", previous);
}

} // namespace
