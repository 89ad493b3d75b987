// What the media graph costs per sample: numbered samples through
// source -> in-place filter -> renderer with no clock (as fast as the graph
// can go), against a bare loop that hands the same kind of samples from
// function to function on one thread. The difference per sample is the
// graph's own cost: pins, locks, the streaming thread, state checks.
//
//   graph_bench --benchmark_counter_tables=true
#include "platform/dshow/Allocator.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/Renderer.h"
#include "platform/dshow/Source.h"
#include "platform/dshow/TransInPlace.h"
#include "platform/dshow/Uuids.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr int kSamples = 20000;
constexpr REFERENCE_TIME kFrame = 400000;
constexpr CLSID CLSID_BenchFilter{0xBE4C0000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};

const CMediaType &BenchType()
{
    static const CMediaType type(MEDIATYPE_Video, MEDIASUBTYPE_RGB32, FORMAT_None);
    return type;
}

// The work every sample gets in both set-ups: number, times, flags.
void Fill(IMediaSample *s, int32_t index)
{
    BYTE *p = nullptr;
    s->GetPointer(&p);
    std::memcpy(p, &index, 4);
    s->SetActualDataLength(4);
    REFERENCE_TIME t0 = index * kFrame, t1 = t0 + kFrame;
    s->SetTime(&t0, &t1);
    s->SetSyncPoint(TRUE);
}

int32_t Inspect(IMediaSample *s)
{
    BYTE *p = nullptr;
    s->GetPointer(&p);
    int32_t index;
    std::memcpy(&index, p, 4);
    return index;
}

class CountingStream : public CSourceStream {
public:
    explicit CountingStream(CSource *f) : CSourceStream(f, L"Out") {}
    HRESULT CheckMediaType(const CMediaType *pmt) override { return *pmt == BenchType() ? S_OK : S_FALSE; }
    HRESULT GetMediaType(int i, CMediaType *pmt) override
    {
        if (i != 0)
            return i < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
        *pmt = BenchType();
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator *a, ALLOCATOR_PROPERTIES *p) override
    {
        p->cBuffers = 4;
        p->cbBuffer = 64;
        ALLOCATOR_PROPERTIES got{};
        return a->SetProperties(p, &got);
    }
    HRESULT OnThreadStartPlay() override
    {
        m_next = 0;
        return S_OK;
    }
    HRESULT FillBuffer(IMediaSample *s) override
    {
        if (m_next >= kSamples)
            return S_FALSE;
        Fill(s, m_next++);
        return S_OK;
    }

private:
    int32_t m_next = 0;
};

class CountingSource : public CSource {
public:
    CountingSource() : CSource(L"Counting Source", CLSID_BenchFilter)
    {
        AddStream(std::make_unique<CountingStream>(this));
    }
};

class PassThrough : public CTransInPlaceFilter {
public:
    PassThrough() : CTransInPlaceFilter(L"Pass Through", CLSID_BenchFilter, false) {}
    HRESULT CheckInputType(const CMediaType *) override { return S_OK; }
    HRESULT Transform(IMediaSample *s) override
    {
        benchmark::DoNotOptimize(Inspect(s));
        return S_OK;
    }
};

class NullRenderer : public CBaseRenderer {
public:
    NullRenderer() : CBaseRenderer(CLSID_BenchFilter, L"Null Renderer") {}
    HRESULT CheckMediaType(const CMediaType *) override { return S_OK; }
    HRESULT DoRenderSample(IMediaSample *s) override
    {
        benchmark::DoNotOptimize(Inspect(s));
        return S_OK;
    }
};

void BM_GraphNoClock(benchmark::State &state)
{
    ComPtr<IGraphBuilder> graph;
    CreateFilterGraph(IID_IGraphBuilder, graph.ReleaseAndGetVoidAddress());
    auto source = MakeCom<CountingSource>();
    auto filter = MakeCom<PassThrough>();
    auto renderer = MakeCom<NullRenderer>();
    graph->AddFilter(source.Get(), L"Source");
    graph->AddFilter(filter.Get(), L"Filter");
    graph->AddFilter(renderer.Get(), L"Renderer");
    graph->ConnectDirect(source->Stream(0), filter->InputPin(), nullptr);
    graph->ConnectDirect(filter->OutputPin(), renderer->InputPin(), nullptr);
    ComQuery<IMediaFilter>(graph)->SetSyncSource(nullptr);
    auto control = ComQuery<IMediaControl>(graph);
    auto events = ComQuery<IMediaEvent>(graph);

    for (auto _ : state) {
        control->Run();
        LONG code = 0;
        if (events->WaitForCompletion(60000, &code) != S_OK)
            state.SkipWithError("the graph did not complete");
        state.PauseTiming();
        control->Stop();
        LONG ev;
        LONG_PTR p1, p2;
        while (events->GetEvent(&ev, &p1, &p2, 0) == S_OK)
            events->FreeEventParams(ev, p1, p2);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
    state.counters["per_sample"] = benchmark::Counter(static_cast<double>(state.iterations() * kSamples),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    if (renderer->FramesDrawn() < kSamples)
        state.SkipWithError("frames were lost");
}
BENCHMARK(BM_GraphNoClock)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same samples from the same allocator, handed along by plain calls.
void BM_BareLoop(benchmark::State &state)
{
    auto alloc = MakeCom<CMemAllocator>();
    ALLOCATOR_PROPERTIES want{4, 64, 1, 0}, got{};
    alloc->SetProperties(&want, &got);
    alloc->Commit();
    const auto transform = [](IMediaSample *s) { benchmark::DoNotOptimize(Inspect(s)); };
    const auto render = [](IMediaSample *s) { benchmark::DoNotOptimize(Inspect(s)); };

    for (auto _ : state) {
        for (int32_t i = 0; i < kSamples; ++i) {
            ComPtr<IMediaSample> s;
            alloc->GetBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
            Fill(s.Get(), i);
            transform(s.Get());
            render(s.Get());
        }
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
    state.counters["per_sample"] = benchmark::Counter(static_cast<double>(state.iterations() * kSamples),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    alloc->Decommit();
}
BENCHMARK(BM_BareLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
