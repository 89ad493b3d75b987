#include "KWPack/uMediaDevices.h"

#include "KWPack/uFileDevices.h"

#include "platform/dshow/Uuids.h"
#include "platform/ffmpeg/LavSplitter.h"  // IAMStreamSelect

#include <memory>
#include <set>
#include <vector>

namespace {

const QString kNoDV = QStringLiteral("No DV");
const QString kNoStream = QStringLiteral("No Stream");

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter *filter, PIN_DIRECTION wanted)
{
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> e;
    if (!filter || FAILED(filter->EnumPins(e.ReleaseAndGetAddressOf())))
        return pins;
    ComPtr<IPin> pin;
    while (e->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted)
            pins.push_back(pin);
    }
    return pins;
}

ComPtr<IBaseFilter> FilterOf(IPin *pin)
{
    PIN_INFO info{};
    if (!pin || FAILED(pin->QueryPinInfo(&info)))
        return nullptr;
    return ComPtr<IBaseFilter>::Attach(info.pFilter);
}

// The filters feeding `filter`'s connected input pins, with those pins.
std::vector<std::pair<ComPtr<IPin>, ComPtr<IBaseFilter>>> UpstreamNeighbours(IBaseFilter *filter)
{
    std::vector<std::pair<ComPtr<IPin>, ComPtr<IBaseFilter>>> out;
    for (const ComPtr<IPin> &pin : PinsOf(filter, PINDIR_INPUT)) {
        ComPtr<IPin> peer;
        if (pin->ConnectedTo(peer.ReleaseAndGetAddressOf()) == S_OK && peer)
            out.emplace_back(pin, FilterOf(peer.Get()));
    }
    return out;
}

// The visited set keeps a malformed (cyclic) graph from recursing forever.
bool ReachesUpstream(IBaseFilter *filter, IBaseFilter *other, std::set<IBaseFilter *> &visited)
{
    if (!visited.insert(filter).second)
        return false;
    for (const auto &[pin, neighbour] : UpstreamNeighbours(filter)) {
        if (!neighbour)
            continue;
        if (IsEqualObject(neighbour.Get(), other) || ReachesUpstream(neighbour.Get(), other, visited))
            return true;
    }
    return false;
}

bool IsStreamType(REFGUID major)
{
    return major == MEDIATYPE_Video || major == MEDIATYPE_Audio || major == MEDIATYPE_Interleaved
        || major == MEDIATYPE_Stream;
}

} // namespace

ComPtr<IPin> FindFreeOutputPin(TGrapheMan *manager, IBaseFilter *filter, const GUID &major, int index)
{
    ICaptureGraphBuilder2 *builder = manager ? manager->CaptureBuilder.Get() : nullptr;
    if (!builder || !filter || index < 0)
        return nullptr;
    ComPtr<IPin> pin;
    for (const GUID *category : {&PIN_CATEGORY_CAPTURE, static_cast<const GUID *>(nullptr)})
        if (SUCCEEDED(builder->FindPin(filter, PINDIR_OUTPUT, category, &major, TRUE, index,
                                       pin.ReleaseAndGetAddressOf())))
            return pin;
    return nullptr;
}

// ---- TGraphChunk --------------------------------------------------------------------

TGraphChunk::TGraphChunk(const QString &name, int number)
{
    SetName(name, number);
}

TGraphChunk::~TGraphChunk() = default;

void TGraphChunk::SetName(const QString &name, int number)
{
    FName = name;
    FNumber = number;
    FDisplayName = number < 2 ? name : name + QStringLiteral(" #") + QString::number(number);
}

REFERENCE_TIME TGraphChunk::Duration() const
{
    if (!FGrapheMan || !FGrapheMan->MediaSeeking)
        return 0;
    LONGLONG duration = 0;
    return SUCCEEDED(FGrapheMan->MediaSeeking->GetDuration(&duration)) ? duration : 0;
}

// ---- TMediaDevice: probing ----------------------------------------------------------

TMediaDevice::TMediaDevice(const QString &name, int number) : TGraphChunk(name, number) {}

TMediaDevice::~TMediaDevice()
{
    BeginDestroy();
    FreeOwned();
}

IAMStreamSelect *TMediaDevice::StreamSelect() const
{
    return FStreamSelect.Get();
}

void TMediaDevice::FreeOwned()
{
    // Borrowed entries (a DV device's sources) go with their own device.
    std::vector<std::unique_ptr<TavSource>> owned;
    for (TVideoSource *source : FVideoSources)
        if (source->ParentDevice() == this)
            owned.emplace_back(source);
    for (TAudioSource *source : FAudioSources)
        if (source->ParentDevice() == this)
            owned.emplace_back(source);
    FVideoSources.Clear();
    FAudioSources.Clear();
    owned.clear();
    for (TMediaDevice *device : FDVDevices)
        delete device;
    for (TMediaDevice *device : FStreamDevices)
        delete device;
    FDVDevices.Clear();
    FStreamDevices.Clear();
    FVideoCount = FAudioCount = FStreamCount = FDVCount = 0;
}

void TMediaDevice::Probe()
{
    if (FName == kNoDV || FName == kNoStream)
        return;
    std::unique_ptr<TGrapheMan> privateManager;
    TGrapheMan *manager = nullptr;
    bool valid = false;
    try {
        if (FParentDevice) {
            manager = FParentDevice->GrapheMan();
        } else {
            privateManager.reset(TKWActionComponent::New<TGrapheMan>());
            manager = privateManager.get();
        }
        FGrapheMan = manager;
        if (manager && Connect() && FOutputFilter)
            valid = ProbePins();
    } catch (...) {
        valid = false;
    }
    try {
        if (FGrapheMan)
            Disconnect();
    } catch (...) {
        valid = false;
    }
    FGrapheMan = nullptr;
    FValid = valid;
    if (!valid)
        FreeOwned();  // an invalid device offers nothing to attach
}

bool TMediaDevice::ProbePins()
{
    if (!ProbeDVPins())
        return false;
    ProbeStreamPins();
    if (FDVCount == 0 && FStreamCount == 0) {
        ProbeVideoPins();
        ProbeAudioPins();
    }
    return true;
}

template <class F>
bool TMediaDevice::ForEachFreePin(const GUID &major, int &count, F onPin)
{
    ICaptureGraphBuilder2 *builder = FGrapheMan ? FGrapheMan->CaptureBuilder.Get() : nullptr;
    if (!builder)
        return true;
    for (const GUID *category : {&PIN_CATEGORY_CAPTURE, static_cast<const GUID *>(nullptr)}) {
        ComPtr<IPin> pin;
        while (FOutputFilter
               && SUCCEEDED(builder->FindPin(FOutputFilter.Get(), PINDIR_OUTPUT, category, &major, TRUE, count,
                                             pin.ReleaseAndGetAddressOf()))) {
            ++count;
            if (!onPin())
                return false;
        }
        if (count > 0)
            break;
    }
    return true;
}

// Each DV device probes itself on its pin (and frees the pin again); its
// sources are this device's too.
bool TMediaDevice::ProbeDVPins()
{
    return ForEachFreePin(MEDIATYPE_Interleaved, FDVCount, [this] {
        auto device = std::make_unique<TDVDevice>(this, FDVCount);
        if (!device->HasSplitter())
            return false;
        for (TVideoSource *source : device->VideoSources()) {
            FVideoSources.Add(source);
            ++FVideoCount;
        }
        for (TAudioSource *source : device->AudioSources()) {
            FAudioSources.Add(source);
            ++FAudioCount;
        }
        FDVDevices.Add(device.release());
        return true;
    });
}

void TMediaDevice::ProbeStreamPins()
{
    ForEachFreePin(MEDIATYPE_Stream, FStreamCount, [this] {
        FStreamDevices.Add(new TStreamDevice(this, FStreamCount));
        return true;
    });
}

void TMediaDevice::ProbeVideoPins()
{
    ForEachFreePin(MEDIATYPE_Video, FVideoCount, [this] {
        FVideoSources.Add(new TVideoSource(this, FVideoCount));
        return true;
    });
}

void TMediaDevice::ProbeAudioPins()
{
    ForEachFreePin(MEDIATYPE_Audio, FAudioCount, [this] {
        FAudioSources.Add(new TAudioSource(this, FAudioCount));
        return true;
    });
}

// ---- TMediaDevice: chains -----------------------------------------------------------

bool TMediaDevice::AttachChain(TGrapheMan *manager)
{
    if (!manager)
        return false;
    if (FGrapheMan == manager)
        return true;
    if (FGrapheMan)
        return false;  // in use in another graph
    bool ok = false;
    try {
        FGrapheMan = manager;
        const bool parentReady =
            !FParentDevice || (FParentDevice->AttachChain(manager) && FParentDevice->OutputFilter());
        ok = parentReady && Connect();
        if (!ok)
            Disconnect();
    } catch (...) {
        ok = false;
    }
    if (ok)
        return true;
    FGrapheMan = nullptr;
    // A parent attached only for this device is not left behind.
    if (FParentDevice && !FParentDevice->HasConnectedStream())
        FParentDevice->DetachChain();
    return false;
}

bool TMediaDevice::DetachChain()
{
    if (!FGrapheMan)
        return true;
    bool ok = false;
    try {
        ok = Disconnect();
    } catch (...) {
        ok = false;
    }
    FGrapheMan = nullptr;
    // A parent with another stream still in use (a second DV pin) stays.
    if (ok && FParentDevice && !FParentDevice->Destroying() && !FParentDevice->HasConnectedStream())
        ok = FParentDevice->DetachChain();
    return ok;
}

bool TMediaDevice::HasConnectedStream() const
{
    for (const ComPtr<IPin> &pin : PinsOf(FOutputFilter.Get(), PINDIR_OUTPUT)) {
        CMediaType mt;
        if (SUCCEEDED(pin->ConnectionMediaType(&mt)) && IsStreamType(mt.Type()))
            return true;
    }
    return false;
}

// ---- TavSource ----------------------------------------------------------------------

TavSource::TavSource(const QString &name, int number)
    : TGraphChunk(name, number), FSourceNotifier(MakeCom<TNotifier>())
{
    FSourceNotifier->KindCode = kNotifierSource;
    FActiveNotifier = FSourceNotifier.Get();
}

TavSource::TavSource(TMediaDevice *device, int index, int count) : FSourceNotifier(MakeCom<TNotifier>())
{
    FSourceNotifier->KindCode = kNotifierSource;
    FActiveNotifier = FSourceNotifier.Get();
    if (!device || index < 1 || index > count)
        return;
    SetName(device->DisplayName(), index);
    FParentDevice = device;
    FPinIndex = index;
    if (TNotifier *dv = device->DeviceNotifier())
        FActiveNotifier = dv;
}

TavSource::~TavSource() = default;

bool TavSource::AttachAs(const Kind &kind, TGrapheMan *manager, HWND notifyWindow)
{
    if (!manager)
        return false;
    if (FGrapheMan == manager)
        return true;
    if (FGrapheMan || !FParentDevice)
        return false;  // attached elsewhere, or a placeholder
    FGrapheMan = manager;
    ListIn(manager, true);
    bool ok = false;
    try {
        ok = BuildPath(kind, notifyWindow);
    } catch (...) {
        ok = false;
    }
    if (!ok)
        Unwind(kind);
    return ok;
}

bool TavSource::BuildPath(const Kind &kind, HWND notifyWindow)
{
    TMediaDevice *device = FParentDevice;
    if (!device->AttachChain(FGrapheMan) || !device->OutputFilter())
        return false;
    IGraphBuilder *graph = FGrapheMan->GraphBuilder.Get();
    ICaptureGraphBuilder2 *builder = FGrapheMan->CaptureBuilder.Get();
    const ComPtr<IPin> pin = FindFreeOutputPin(FGrapheMan, device->OutputFilter(), *kind.major, FPinIndex - 1);
    if (!graph || !builder || !pin)
        return false;
    ArmNotifier(kind, notifyWindow);
    if (FAILED(graph->AddFilter(FSourceNotifier.Get(), kind.filterName->toStdWString().c_str())))
        return false;
    // The notifier takes any type first, so the pin connects to it directly.
    if (FAILED(builder->RenderStream(nullptr, nullptr, pin.Get(), nullptr, FSourceNotifier.Get())))
        return false;
    if (!kind.video) {
        CMediaType mt;
        if (SUCCEEDED(pin->ConnectionMediaType(&mt)))
            FSourceNotifier->StoreAudioDescription(mt);
    }
    FStreamType = MediaKeyOf(FSourceNotifier->StoredType());
    return true;
}

void TavSource::ArmNotifier(const Kind &kind, HWND notifyWindow)
{
    FSourceNotifier->Reset();
    TNotifier *dv = FParentDevice->DeviceNotifier();
    FActiveNotifier = dv ? dv : FSourceNotifier.Get();
    if (dv) {
        dv->Reset();
        FSourceNotifier->SetBehindDVNotifier(true);
    }
    if (kind.video) {
        FActiveNotifier->SetVideoWindow(notifyWindow);
        FActiveNotifier->SetVideoReports(true);
    } else {
        FActiveNotifier->SetAudioWindow(notifyWindow);
        FActiveNotifier->SetAudioReports(true);
    }
}

// Both notifiers: a DV notifier that stays for the device's other source
// must not go on reporting to this one's manager.
void TavSource::SwitchOff(const Kind &kind)
{
    for (TNotifier *notifier : {FSourceNotifier.Get(), FActiveNotifier}) {
        if (kind.video)
            notifier->SetVideoReports(false);
        else
            notifier->SetAudioReports(false);
    }
}

void TavSource::Unwind(const Kind &kind)
{
    try {
        SwitchOff(kind);
        if (FGrapheMan && FGrapheMan->GraphBuilder)
            FGrapheMan->GraphBuilder->RemoveFilter(FSourceNotifier.Get());
        if (FGrapheMan)
            ListIn(FGrapheMan, false);
        if (!FParentDevice->HasConnectedStream())
            FParentDevice->DetachChain();
    } catch (...) {
    }
    FGrapheMan = nullptr;
}

bool TavSource::DetachAs(const Kind &kind)
{
    if (!FGrapheMan)
        return false;
    bool ok = false;
    try {
        ListIn(FGrapheMan, false);
        if (!kind.video)
            SwitchOff(kind);
        const HRESULT hr =
            FGrapheMan->GraphBuilder ? FGrapheMan->GraphBuilder->RemoveFilter(FSourceNotifier.Get()) : E_NOINTERFACE;
        if (kind.video)
            SwitchOff(kind);
        ok = SUCCEEDED(hr) || hr == VFW_E_NOT_FOUND;
        TMediaDevice *device = FParentDevice;
        if (ok && device && !device->Destroying() && !device->HasConnectedStream())
            ok = device->DetachChain();
    } catch (...) {
        ok = false;
    }
    FGrapheMan = nullptr;
    return ok;
}

void TavSource::StartDateCodes(HWND wnd)
{
    FActiveNotifier->SetDateReports(true, wnd);
}

void TavSource::StopDateCodes()
{
    FActiveNotifier->SetDateReports(false, 0);
}

void TavSource::StartTimeCodes(HWND wnd)
{
    FActiveNotifier->SetTimeCodeReports(true, wnd);
}

void TavSource::StopTimeCodes()
{
    FActiveNotifier->SetTimeCodeReports(false, 0);
}

void TavSource::SetSceneWindow(HWND wnd)
{
    FSourceNotifier->SetSceneWindow(wnd);
    FActiveNotifier->SetSceneWindow(wnd);
}

// ---- TVideoSource, TAudioSource -----------------------------------------------------

namespace {
const TavSource::Kind kVideoKind{&MEDIATYPE_Video, &kVideoSourceNotifierName, true};
const TavSource::Kind kAudioKind{&MEDIATYPE_Audio, &kAudioSourceNotifierName, false};
} // namespace

TVideoSource::TVideoSource(TMediaDevice *device, int index)
    : TavSource(device, index, device ? device->VideoCount() : 0)
{
}

TVideoSource::~TVideoSource()
{
    if (FGrapheMan)
        Detach();
}

bool TVideoSource::Attach(TGrapheMan *manager, HWND notifyWindow)
{
    return AttachAs(kVideoKind, manager, notifyWindow);
}

bool TVideoSource::Detach()
{
    return DetachAs(kVideoKind);
}

void TVideoSource::ListIn(TGrapheMan *manager, bool listed)
{
    manager->VideoSources.removeAll(this);
    if (listed)
        manager->VideoSources.append(this);
}

TAudioSource::TAudioSource(TMediaDevice *device, int index)
    : TavSource(device, index, device ? device->AudioCount() : 0)
{
}

TAudioSource::~TAudioSource()
{
    if (FGrapheMan)
        Detach();
}

bool TAudioSource::Attach(TGrapheMan *manager, HWND notifyWindow)
{
    return AttachAs(kAudioKind, manager, notifyWindow);
}

bool TAudioSource::Detach()
{
    return DetachAs(kAudioKind);
}

void TAudioSource::ListIn(TGrapheMan *manager, bool listed)
{
    manager->AudioSources.removeAll(this);
    if (listed)
        manager->AudioSources.append(this);
}

// ---- Placeholders -------------------------------------------------------------------

namespace {

struct Placeholders {
    TVideoSource video{QStringLiteral("No Video"), 1};
    TAudioSource audio{QStringLiteral("No Audio"), 1};
    TDVDevice dv{kNoDV, 1};
    TStreamDevice stream{kNoStream, 1};
};

// Built on first use, destroyed at exit.
Placeholders &ThePlaceholders()
{
    static Placeholders placeholders;
    return placeholders;
}

} // namespace

TVideoSource *NoVideo() { return &ThePlaceholders().video; }
TAudioSource *NoAudio() { return &ThePlaceholders().audio; }
TDVDevice *NoDV() { return &ThePlaceholders().dv; }
TStreamDevice *NoStream() { return &ThePlaceholders().stream; }
void InitPlaceholders() { ThePlaceholders(); }

// ---- Graph surgery ------------------------------------------------------------------

TMediaDevice *RootDevice(const TGraphChunk *chunk)
{
    if (!chunk)
        return nullptr;
    TMediaDevice *device = chunk->ParentDevice();
    if (!device)
        device = dynamic_cast<TMediaDevice *>(const_cast<TGraphChunk *>(chunk));
    while (device && device->ParentDevice())
        device = device->ParentDevice();
    return device;
}

bool IsUpstreamOf(IBaseFilter *filter, IBaseFilter *other)
{
    if (!filter || !other)
        return false;
    std::set<IBaseFilter *> visited;
    return ReachesUpstream(filter, other, visited);
}

bool RemoveFiltersBetween(IBaseFilter *downstream, IBaseFilter *upstream, IFilterGraph *graph)
{
    if (!graph || !IsUpstreamOf(downstream, upstream))
        return false;
    bool ok = true;
    try {
        for (const auto &[pin, neighbour] : UpstreamNeighbours(downstream)) {
            ComPtr<IPin> peer;
            pin->ConnectedTo(peer.ReleaseAndGetAddressOf());
            ok = SUCCEEDED(graph->Disconnect(pin.Get())) && ok;
            if (peer)
                ok = SUCCEEDED(graph->Disconnect(peer.Get())) && ok;
            if (!neighbour || IsEqualObject(neighbour.Get(), upstream) || !IsUpstreamOf(neighbour.Get(), upstream))
                continue;
            ok = RemoveFiltersBetween(neighbour.Get(), upstream, graph) && ok;
            ok = SUCCEEDED(graph->RemoveFilter(neighbour.Get())) && ok;
        }
    } catch (...) {
        ok = false;
    }
    return ok;
}
