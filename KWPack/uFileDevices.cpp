#include "KWPack/uFileDevices.h"

#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/Uuids.h"
#include "platform/ffmpeg/LavSplitter.h"  // IAMStreamSelect

#include <QFileInfo>

namespace {

// Pin number n of the filter, counting all pins in their order.
ComPtr<IPin> NthPin(IBaseFilter *filter, int n)
{
    ComPtr<IEnumPins> e;
    if (!filter || FAILED(filter->EnumPins(e.ReleaseAndGetAddressOf())))
        return nullptr;
    ComPtr<IPin> pin;
    for (int i = 0; e->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK; ++i)
        if (i == n)
            return pin;
    return nullptr;
}

ComPtr<IBaseFilter> CreateSystemFilter(REFCLSID clsid)
{
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC, IID_IBaseFilter, filter.ReleaseAndGetVoidAddress())))
        return nullptr;
    return filter;
}

// Out of the graph when in it; false when the graph refused (a running graph).
bool RemoveFromGraph(IFilterGraph *graph, IBaseFilter *filter)
{
    if (!graph || !filter)
        return true;
    const HRESULT hr = graph->RemoveFilter(filter);
    return SUCCEEDED(hr) || hr == VFW_E_NOT_FOUND;
}

IGraphBuilder *GraphOf(const TGraphChunk &chunk)
{
    return chunk.GrapheMan() ? chunk.GrapheMan()->GraphBuilder.Get() : nullptr;
}

} // namespace

// ---- TFileDevice --------------------------------------------------------------------

TFileDevice::TFileDevice(const QString &fileName, TFilterRecPtr splitterRecord, TFilterRecPtr sourceRecord)
    : TMediaDevice(QFileInfo(fileName).fileName(), 1), FFileName(fileName),
      FSourceRecord(std::move(sourceRecord)), FSplitterRecord(std::move(splitterRecord))
{
    Probe();
}

TFileDevice::~TFileDevice()
{
    BeginDestroy();
    FreeOwned();
    if (GrapheMan())
        Disconnect();
}

bool TFileDevice::Connect()
{
    bool ok = false;
    try {
        ok = Build();
    } catch (...) {
        ok = false;
    }
    if (!ok)
        Disconnect();
    return ok;
}

bool TFileDevice::Build()
{
    IGraphBuilder *graph = GraphOf(*this);
    if (!graph || !IsSet(FSourceRecord.get()))
        return false;
    FSourceFilter = FSourceRecord->CreateFilter();
    const auto file = ComQuery<IFileSourceFilter>(FSourceFilter);
    if (!file || FAILED(file->Load(FFileName.toStdWString().c_str(), nullptr)))
        return false;
    FOutputFilter = FSourceFilter;
    if (FAILED(graph->AddFilter(FSourceFilter.Get(), FSourceRecord->Name().toStdWString().c_str())))
        return false;
    if (IsSet(FSplitterRecord.get())) {
        FSplitterFilter = FSplitterRecord->CreateFilter();
        if (!FSplitterFilter)
            return false;
        FOutputFilter = FSplitterFilter;
        if (FAILED(graph->AddFilter(FSplitterFilter.Get(), FSplitterRecord->Name().toStdWString().c_str())))
            return false;
        const ComPtr<IPin> out = NthPin(FSourceFilter.Get(), 0);
        const ComPtr<IPin> in = NthPin(FSplitterFilter.Get(), 0);
        if (!out || !in || FAILED(graph->ConnectDirect(out.Get(), in.Get(), nullptr)))
            return false;
    }
    FStreamSelect = ComQuery<IAMStreamSelect>(FOutputFilter);
    return true;
}

bool TFileDevice::Disconnect()
{
    bool ok = true;
    try {
        IGraphBuilder *graph = GraphOf(*this);
        ok = RemoveFromGraph(graph, FSplitterFilter.Get());
        ok = RemoveFromGraph(graph, FSourceFilter.Get()) && ok;
    } catch (...) {
        ok = false;
    }
    FSplitterFilter.Reset();
    FSourceFilter.Reset();
    FOutputFilter.Reset();
    FStreamSelect.Reset();
    return ok;
}

// ---- TDVDevice ----------------------------------------------------------------------

TDVDevice::TDVDevice(const QString &name, int number) : TMediaDevice(name, number)
{
    Probe();
}

TDVDevice::TDVDevice(TMediaDevice *device, int index)
    : TMediaDevice(device ? device->DisplayName() : QString(), index)
{
    FParentDevice = device;
    FPinIndex = index;
    FSplitter = CreateSystemFilter(CLSID_DVSplitter);
    FNotifier = MakeCom<TNotifier>();
    FNotifier->KindCode = kNotifierDVDevice;
    if (FSplitter)
        Probe();
}

TDVDevice::~TDVDevice()
{
    BeginDestroy();
    FreeOwned();
    if (GrapheMan())
        Disconnect();
}

bool TDVDevice::Connect()
{
    bool ok = false;
    try {
        ok = Build();
    } catch (...) {
        ok = false;
    }
    if (!ok)
        Disconnect();
    return ok;
}

// Parent's interleaved pin -> "DV Notifier" -> "DV Splitter".
bool TDVDevice::Build()
{
    TMediaDevice *parent = ParentDevice();
    IGraphBuilder *graph = GraphOf(*this);
    if (!parent || !graph || !FSplitter || !FNotifier)
        return false;
    const ComPtr<IPin> pin =
        FindFreeOutputPin(GrapheMan(), parent->OutputFilter(), MEDIATYPE_Interleaved, PinIndex() - 1);
    if (!pin || FAILED(graph->AddFilter(FNotifier.Get(), L"DV Notifier"))
        || FAILED(graph->AddFilter(FSplitter.Get(), L"DV Splitter")))
        return false;
    const ComPtr<IPin> notifierIn = NthPin(FNotifier.Get(), 0);
    const ComPtr<IPin> notifierOut = NthPin(FNotifier.Get(), 1);
    const ComPtr<IPin> splitterIn = NthPin(FSplitter.Get(), 0);
    if (!notifierIn || !notifierOut || !splitterIn || FAILED(graph->Connect(pin.Get(), notifierIn.Get()))
        || FAILED(graph->Connect(notifierOut.Get(), splitterIn.Get())))
        return false;
    FOutputFilter = FSplitter;
    return true;
}

bool TDVDevice::Disconnect()
{
    bool ok = true;
    try {
        IGraphBuilder *graph = GraphOf(*this);
        ok = RemoveFromGraph(graph, FNotifier.Get());
        ok = RemoveFromGraph(graph, FSplitter.Get()) && ok;
    } catch (...) {
        ok = false;
    }
    FOutputFilter.Reset();
    return ok;
}

// ---- TStreamDevice ------------------------------------------------------------------

TStreamDevice::TStreamDevice(const QString &name, int number) : TMediaDevice(name, number)
{
    Probe();
}

TStreamDevice::TStreamDevice(TMediaDevice *device, int index)
    : TMediaDevice(device ? device->DisplayName() : QString(), index)
{
    FParentDevice = device;
    FPinIndex = index;
    FDemultiplexer = CreateSystemFilter(CLSID_MPEG2Demultiplexer);
    FSmartTee = CreateSystemFilter(CLSID_SmartTee);
    Probe();
}

TStreamDevice::~TStreamDevice()
{
    BeginDestroy();
    FreeOwned();
}
