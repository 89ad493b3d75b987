// Random files through "LAV Splitter Source" and through "File Source
// (Async.)" into each named splitter: Load or the connection, the pins and
// their media types, stream selection and duration, then a short run into a
// sink that takes every type. The filters read files only, so each input is
// written to one temporary file. A run that does not end in time aborts (a hang).
#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/Renderer.h"
#include "platform/ffmpeg/FFmpegFilters.h"
#include "platform/ffmpeg/LavSplitter.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

const CLSID CLSID_FuzzSink{0x7E57F0FF, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0x21}};

void Check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "fuzz_splitter: %s\n", what);
        abort();
    }
}

// A format block is at least as long as the structure its format type names.
void CheckType(const CMediaType &mt)
{
    if (mt.FormatType() == FORMAT_VideoInfo)
        Check(mt.FormatAs<VIDEOINFOHEADER>() != nullptr, "short VIDEOINFOHEADER");
    else if (mt.FormatType() == FORMAT_VideoInfo2)
        Check(mt.FormatAs<VIDEOINFOHEADER2>() != nullptr, "short VIDEOINFOHEADER2");
    else if (mt.FormatType() == FORMAT_WaveFormatEx)
        Check(mt.FormatAs<WAVEFORMATEX>() != nullptr, "short WAVEFORMATEX");
}

class AnySink : public CBaseRenderer {
public:
    AnySink() : CBaseRenderer(CLSID_FuzzSink, L"Sink") {}
    HRESULT CheckMediaType(const CMediaType *pmt) override
    {
        CheckType(*pmt);
        return S_OK;
    }
    HRESULT DoRenderSample(IMediaSample *s) override
    {
        BYTE *p = nullptr;
        s->GetPointer(&p);
        const long n = s->GetActualDataLength();
        Check(n >= 0 && n <= s->GetSize(), "sample length outside its buffer");
        volatile BYTE sum = 0;
        for (long i = 0; i < n; i += 64)
            sum = static_cast<BYTE>(sum + p[i]);  // ASan sees reads past the buffer
        return S_OK;
    }
    void OnReceiveFirstSample(IMediaSample *) override {}
};

const std::string &TempPath()
{
    static const std::string path = [] {
        char name[] = "/tmp/fuzz_splitter_XXXXXX";
        const int fd = mkstemp(name);
        Check(fd >= 0, "no temporary file");
        close(fd);
        return std::string(name);
    }();
    return path;
}

void WriteInput(const uint8_t *data, size_t size)
{
    FILE *f = fopen(TempPath().c_str(), "wb");
    Check(f != nullptr, "cannot write the temporary file");
    if (size)
        fwrite(data, 1, size, f);
    fclose(f);
}

// Every output pin offers at least one type.
int CheckPins(IBaseFilter *source, std::vector<ComPtr<IPin>> *pins)
{
    ComPtr<IEnumPins> e;
    Check(SUCCEEDED(source->EnumPins(e.ReleaseAndGetAddressOf())), "EnumPins");
    ComPtr<IPin> pin;
    while (e->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        ComPtr<IEnumMediaTypes> types;
        Check(SUCCEEDED(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf())), "EnumMediaTypes");
        AM_MEDIA_TYPE *mt = nullptr;
        int count = 0;
        while (types->Next(1, &mt, nullptr) == S_OK) {
            CheckType(*mt);
            DeleteMediaType(mt);
            ++count;
        }
        PIN_DIRECTION dir = PINDIR_INPUT;
        pin->QueryDirection(&dir);
        Check(count > 0 || dir == PINDIR_INPUT, "an output pin without a type");
        pins->push_back(pin);
    }
    return static_cast<int>(pins->size());
}

void CheckStreams(IBaseFilter *source, int pinCount)
{
    auto select = ComQuery<IAMStreamSelect>(source);
    DWORD count = 0;
    Check(select && select->Count(&count) == S_OK && static_cast<int>(count) == pinCount, "stream count");
    for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
        AM_MEDIA_TYPE *mt = nullptr;
        WCHAR *name = nullptr;
        Check(SUCCEEDED(select->Info(i, &mt, nullptr, nullptr, nullptr, &name, nullptr, nullptr)), "Info");
        if (mt)
            DeleteMediaType(mt);
        delete[] name;
    }
}

// Every output pin into its own sink; runs to the end, which must come quickly.
void Run(IGraphBuilder *graph, const std::vector<ComPtr<IPin>> &pins)
{
    for (const ComPtr<IPin> &pin : pins) {
        PIN_DIRECTION dir = PINDIR_INPUT;
        pin->QueryDirection(&dir);
        if (dir != PINDIR_OUTPUT)
            continue;
        auto sink = MakeCom<AnySink>();
        graph->AddFilter(sink.Get(), L"Sink");
        if (FAILED(graph->ConnectDirect(pin.Get(), sink->InputPin(), nullptr)))
            graph->RemoveFilter(sink.Get());
    }
    auto control = ComQuery<IMediaControl>(graph);
    if (FAILED(control->Run()))
        return control->Stop(), void();
    LONG code = 0;
    Check(ComQuery<IMediaEvent>(graph)->WaitForCompletion(3000, &code) == S_OK, "no end within 3 s");
    Check(control->Stop() == S_OK, "Stop failed");
}

ComPtr<IGraphBuilder> NewGraph()
{
    ComPtr<IGraphBuilder> graph;
    Check(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                           graph.ReleaseAndGetVoidAddress()) == S_OK, "no graph");
    ComQuery<IMediaFilter>(graph)->SetSyncSource(nullptr);
    return graph;
}

ComPtr<IBaseFilter> Create(REFCLSID clsid)
{
    ComPtr<IBaseFilter> filter;
    Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                           filter.ReleaseAndGetVoidAddress()) == S_OK, "cannot create a filter");
    return filter;
}

std::wstring WidePath()
{
    const std::string &path = TempPath();
    return std::wstring(path.begin(), path.end());
}

// The outputs of a loaded or connected splitter: at least one, with types
// that hold what they name, and seeking that knows a duration.
void CheckOpened(IBaseFilter *splitter, int inputs)
{
    std::vector<ComPtr<IPin>> pins;
    const int pinCount = CheckPins(splitter, &pins) - inputs;
    Check(pinCount > 0, "opened without a stream");
    CheckStreams(splitter, pinCount);
    LONGLONG duration = -1;
    Check(ComQuery<IMediaSeeking>(pins[size_t(inputs)])->GetDuration(&duration) == S_OK && duration >= 0,
          "duration");
}

void ThroughLav()
{
    auto source = Create(CLSID_LAVSplitterSource);
    std::vector<ComPtr<IPin>> pins;
    if (FAILED(ComQuery<IFileSourceFilter>(source)->Load(WidePath().c_str(), nullptr))) {
        Check(CheckPins(source.Get(), &pins) == 0, "pins after a failed Load");
        return;
    }
    CheckOpened(source.Get(), 0);
    auto graph = NewGraph();
    graph->AddFilter(source.Get(), L"Source");
    CheckPins(source.Get(), &pins);
    Run(graph.Get(), pins);
}

void ThroughPullPin(REFCLSID splitterClsid)
{
    auto source = Create(CLSID_AsyncReader);
    Check(SUCCEEDED(ComQuery<IFileSourceFilter>(source)->Load(WidePath().c_str(), nullptr)), "file source");
    auto splitter = Create(splitterClsid);
    auto graph = NewGraph();
    graph->AddFilter(source.Get(), L"Source");
    graph->AddFilter(splitter.Get(), L"Splitter");
    std::vector<ComPtr<IPin>> sourcePins, pins;
    CheckPins(source.Get(), &sourcePins);
    CheckPins(splitter.Get(), &pins);
    if (FAILED(graph->ConnectDirect(sourcePins[0].Get(), pins[0].Get(), nullptr))) {
        pins.clear();
        Check(CheckPins(splitter.Get(), &pins) == 1, "outputs after a refused connection");
        return;
    }
    CheckOpened(splitter.Get(), 1);
    pins.clear();
    CheckPins(splitter.Get(), &pins);
    Run(graph.Get(), pins);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool registered = (RegisterFFmpegFilters(), true);
    (void)registered;
    WriteInput(data, size);
    ThroughLav();
    for (const CLSID &clsid : {CLSID_AviSplitter, CLSID_MMSPLITTER, CLSID_MPEG1Splitter, CLSID_WAVEParser})
        ThroughPullPin(clsid);
    return 0;
}
