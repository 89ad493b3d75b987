// The object model a media file becomes. A device is a filter, or a short
// chain of filters, whose output pins carry streams; each video or audio
// output pin becomes a source; an interleaved DV pin becomes a DV device of
// its own, whose splitter yields further sources. A device is probed once, in
// a throw-away graph; afterwards its sources are attached to the real graph
// on demand, each building exactly the filters it needs, from the file up to
// a stream notifier of its own, whose output the video or audio manager
// connects onward.
//
// Ownership: a device owns the sources whose ParentDevice it is, and its DV
// and stream devices. A device's source lists also show the sources of its
// DV devices (borrowed from them). Graph managers are never owned: a chunk
// only points at the one it is attached to (GrapheMan) and at the one that
// will use it (OwnerGrapheMan); both pointers clear themselves when that
// manager is destroyed. A source attached to a manager is listed in the
// manager's VideoSources or AudioSources until it is detached (or destroyed).
//
// Threads: UI thread only (the notifiers they hold run on streaming threads
// and reach the managers through window messages).
#pragma once

#include "KWPack/uDecoders.h"
#include "KWPack/uGrapheMan.h"
#include "KWPack/uNotifier.h"

#include <QList>
#include <QPointer>
#include <QString>

struct IAMStreamSelect;
class TMediaDevice;
class TDVDevice;
class TStreamDevice;

// The filter names sources give their notifiers in the graph.
inline const QString kVideoSourceNotifierName = QStringLiteral("Video Source Notifier");
inline const QString kAudioSourceNotifierName = QStringLiteral("Audio Source Notifier");

// A typed list that answers null for an index outside 0..Count()-1. It does
// not own its items.
template <class T>
class TChunkList {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    T *Items(int index) const { return index >= 0 && index < Count() ? FItems[index] : nullptr; }
    T *operator[](int index) const { return Items(index); }
    void Add(T *item) { FItems.append(item); }
    void Clear() { FItems.clear(); }
    typename QList<T *>::const_iterator begin() const { return FItems.begin(); }
    typename QList<T *>::const_iterator end() const { return FItems.end(); }

private:
    QList<T *> FItems;
};

class TVideoSource;
class TAudioSource;
using TVideoSourcesList = TChunkList<TVideoSource>;
using TAudioSourcesList = TChunkList<TAudioSource>;
using TMediaDevicesList = TChunkList<TMediaDevice>;

// ---- TGraphChunk --------------------------------------------------------------------

class TGraphChunk {
public:
    // DisplayName is the name, followed by " #number" from 2 on.
    TGraphChunk(const QString &name, int number);
    virtual ~TGraphChunk();
    TGraphChunk(const TGraphChunk &) = delete;
    TGraphChunk &operator=(const TGraphChunk &) = delete;

    // Builds the chunk's own filters into the attached graph / removes them.
    virtual bool Connect() = 0;
    virtual bool Disconnect() = 0;
    // The attached graph's duration (100 ns); 0 when detached or unknown.
    virtual REFERENCE_TIME Duration() const;

    TGrapheMan *GrapheMan() const { return FGrapheMan; }
    const QString &Name() const { return FName; }
    const QString &DisplayName() const { return FDisplayName; }
    int Number() const { return FNumber; }
    bool Valid() const { return FValid; }
    // The manager that will use the device; the media factory sets it.
    TGrapheMan *OwnerGrapheMan() const { return FOwnerGrapheMan; }
    void SetOwnerGrapheMan(TGrapheMan *manager) { FOwnerGrapheMan = manager; }
    // Null for a file device and for placeholders.
    TMediaDevice *ParentDevice() const { return FParentDevice; }
    // 1-based, among the parent's output pins of the chunk's kind.
    int PinIndex() const { return FPinIndex; }

protected:
    // For sources, which are named only when their index is good.
    TGraphChunk() = default;
    void SetName(const QString &name, int number);

    QPointer<TGrapheMan> FGrapheMan;
    QString FName;
    QString FDisplayName;
    int FNumber = 0;
    bool FValid = false;
    QPointer<TGrapheMan> FOwnerGrapheMan;
    TMediaDevice *FParentDevice = nullptr;
    int FPinIndex = 0;
};

// ---- TMediaDevice -------------------------------------------------------------------

class TMediaDevice : public TGraphChunk {
public:
    ~TMediaDevice() override;

    const TVideoSourcesList &VideoSources() const { return FVideoSources; }
    const TAudioSourcesList &AudioSources() const { return FAudioSources; }
    const TMediaDevicesList &DVDevices() const { return FDVDevices; }
    const TMediaDevicesList &StreamDevices() const { return FStreamDevices; }
    int VideoCount() const { return FVideoCount; }
    int AudioCount() const { return FAudioCount; }
    int StreamCount() const { return FStreamCount; }
    int DVCount() const { return FDVCount; }
    // The filter whose output pins are probed and used; null while detached.
    IBaseFilter *OutputFilter() const { return FOutputFilter.Get(); }
    // The output filter's stream selection, null when it has none.
    IAMStreamSelect *StreamSelect() const;

    // The DV device's notifier, which reports for the sources hanging from it;
    // null for other devices.
    virtual TNotifier *DeviceNotifier() const { return nullptr; }

    // Attaches the chain from the file up to this device: success at once when
    // already attached to `manager`; else the parent first, then Connect. A
    // failure leaves this device detached.
    bool AttachChain(TGrapheMan *manager);
    // Disconnects; when that succeeded, the parent follows unless another of
    // its streams is still in use. Nothing when detached; GrapheMan is cleared
    // in any case.
    bool DetachChain();
    // One of the output filter's pins is connected with a video, audio,
    // interleaved or stream type.
    bool HasConnectedStream() const;
    // True once the destructor started: sources leaving then do not detach
    // the chain, the device disconnects itself.
    bool Destroying() const { return FDestroying; }

protected:
    // Empty lists, counts 0, not valid. The most derived constructor calls
    // Probe() once its own members are set (Connect is theirs).
    TMediaDevice(const QString &name, int number);
    // Probing: in the parent's graph manager, else in a private one. Leaves
    // the device detached; an invalid device keeps no sources.
    void Probe();
    // Frees the owned sources and devices; derived destructors call it first,
    // while their Disconnect can still run.
    void FreeOwned();
    void BeginDestroy() { FDestroying = true; }

    ComPtr<IBaseFilter> FOutputFilter;
    ComPtr<IAMStreamSelect> FStreamSelect;

private:
    bool ProbePins();
    bool ProbeDVPins();
    void ProbeStreamPins();
    void ProbeVideoPins();
    void ProbeAudioPins();
    // FindPin over the output filter's free pins of `major`, index count, until
    // none is left: with the capture category, or without when that found
    // none. onPin returns false to end probing.
    template <class F>
    bool ForEachFreePin(const GUID &major, int &count, F onPin);

    TVideoSourcesList FVideoSources;
    TAudioSourcesList FAudioSources;
    TMediaDevicesList FDVDevices;
    TMediaDevicesList FStreamDevices;
    int FVideoCount = 0;
    int FAudioCount = 0;
    int FStreamCount = 0;
    int FDVCount = 0;
    bool FDestroying = false;
};

// ---- Sources ------------------------------------------------------------------------

// A video or audio output pin of a device. Attaching puts the source's own
// notifier on that pin; the manager connects its decoder after it.
class TavSource : public TGraphChunk {
public:
    // What the attach and detach of the two kinds differ in: the pin's major
    // type, the notifier's name in the graph, the report switch.
    struct Kind {
        const GUID *major;
        const QString *filterName;
        bool video;
    };

    ~TavSource() override;

    // Sources build their filters in Attach: Connect does nothing and fails,
    // Disconnect detaches.
    bool Connect() override { return false; }
    bool Disconnect() override { return Detach(); }

    // notifyWindow receives the active notifier's video or audio reports.
    virtual bool Attach(TGrapheMan *manager, HWND notifyWindow) = 0;
    virtual bool Detach() = 0;

    // Major type, subtype and format type the source's notifier connected
    // with (null GUIDs until the first attach).
    const TMediaKey &StreamType() const { return FStreamType; }
    // The source's own notifier (never null; its filter is the source's filter
    // in the graph, input pin first, output pin second).
    TNotifier *SourceNotifierObj() const { return FSourceNotifier.Get(); }
    IBaseFilter *SourceNotifierFilter() const { return FSourceNotifier.Get(); }
    // The notifier that reports for the source: the DV device's, or its own.
    TNotifier *ActiveNotifierObj() const { return FActiveNotifier; }

    // The DV manager's switches: date and time-code reports to `wnd` on the
    // active notifier, the scene window on both notifiers.
    void StartDateCodes(HWND wnd);
    void StopDateCodes();
    void StartTimeCodes(HWND wnd);
    void StopTimeCodes();
    void SetSceneWindow(HWND wnd);

protected:
    // A placeholder, or a source whose index is outside the device's count.
    TavSource(const QString &name, int number);
    // Named after the device (number = index) when index is in 1..count;
    // unnamed, without device, otherwise.
    TavSource(TMediaDevice *device, int index, int count);

    bool AttachAs(const Kind &kind, TGrapheMan *manager, HWND notifyWindow);
    bool DetachAs(const Kind &kind);
    // The manager's list of attached sources of this kind.
    virtual void ListIn(TGrapheMan *manager, bool listed) = 0;

private:
    bool BuildPath(const Kind &kind, HWND notifyWindow);
    void ArmNotifier(const Kind &kind, HWND notifyWindow);
    void SwitchOff(const Kind &kind);
    // After a failed attach: nothing of the source stays in the graph.
    void Unwind(const Kind &kind);

    TMediaKey FStreamType;
    ComPtr<TNotifier> FSourceNotifier;
    TNotifier *FActiveNotifier = nullptr;  // FSourceNotifier's, or the DV device's
};

class TVideoSource final : public TavSource {
public:
    TVideoSource(const QString &name, int number) : TavSource(name, number) {}
    // Named only when index is in 1..device->VideoCount().
    TVideoSource(TMediaDevice *device, int index);
    ~TVideoSource() override;

    // Adds itself to manager->VideoSources, attaches the device chain and
    // renders the device's video pin PinIndex into "Video Source Notifier".
    bool Attach(TGrapheMan *manager, HWND notifyWindow) override;
    // Out of the graph and the list; the device chain follows when none of
    // its streams is still connected.
    bool Detach() override;

protected:
    void ListIn(TGrapheMan *manager, bool listed) override;
};

class TAudioSource final : public TavSource {
public:
    TAudioSource(const QString &name, int number) : TavSource(name, number) {}
    // Named only when index is in 1..device->AudioCount().
    TAudioSource(TMediaDevice *device, int index);
    ~TAudioSource() override;

    // As the video source, into "Audio Source Notifier", with audio reports;
    // the notifier also keeps the text description of the pin's type.
    bool Attach(TGrapheMan *manager, HWND notifyWindow) override;
    bool Detach() override;

protected:
    void ListIn(TGrapheMan *manager, bool listed) override;
};

// ---- Placeholders and graph surgery -------------------------------------------------

// "No Video", "No Audio", "No DV" and "No Stream": number 1, no parent, never
// valid. Program-wide, made on first use (or by InitPlaceholders) and freed at
// exit. UI thread.
TVideoSource *NoVideo();
TAudioSource *NoAudio();
TDVDevice *NoDV();
TStreamDevice *NoStream();
void InitPlaceholders();

// The topmost device above `chunk` (the chunk itself for a device without a
// parent); null for a source without a device.
TMediaDevice *RootDevice(const TGraphChunk *chunk);

// The free output pin number `index` (from 0) of `filter` whose type has the
// major type `major`: among capture pins first, then among all pins. Null
// when there is none (or the manager has no capture builder).
ComPtr<IPin> FindFreeOutputPin(TGrapheMan *manager, IBaseFilter *filter, const GUID &major, int index);

// Other is reached from filter by following, recursively, the peers of
// filter's connected input pins.
bool IsUpstreamOf(IBaseFilter *filter, IBaseFilter *other);
// When upstream lies upstream of downstream: disconnects downstream's inputs
// and removes from the graph every filter between the two (both stay).
// False when upstream is not upstream of downstream or a step failed.
bool RemoveFiltersBetween(IBaseFilter *downstream, IBaseFilter *upstream, IFilterGraph *graph);
