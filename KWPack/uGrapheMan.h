// TGrapheMan: owner of one filter graph and the one place where it is run,
// paused and stopped. Devices and sources insert their filters through its
// builder interfaces, the video and audio managers connect decoders and
// renderers into the same graph, the navigation manager seeks through its
// seeking interface. TFilterGraph is the graph object it owns: the filter
// graph with a capture graph builder bound to it, its registration for
// outside inspection, and the volume in the audio manager's scale.
//
// Everything here runs on the UI thread. The graph's events arrive as a
// posted message (WM_GRAPHNOTIFY) to the manager's message window and are
// read there, so OnGraphCompleted and OnGraphError are always raised on the
// UI thread.
//
// Ownership: the manager owns its TFilterGraph (freed last in the destructor)
// and holds one reference to each of GraphBuilder, CaptureBuilder and
// MediaSeeking. VideoSources and AudioSources are borrowed: the sources belong
// to their devices, which add and remove themselves.
#pragma once

#include "uWndComponent.h"

#include "platform/dshow/Control.h"
#include "platform/dshow/Strmif.h"

#include <QList>
#include <QObject>

#include <functional>

class TVideoSource;
class TAudioSource;

// ---- TFilterGraph -------------------------------------------------------------------

// The graph's state as the wrapper reads it; uninitialised while inactive.
enum TGraphState { gsUninitialized, gsStopped, gsPaused, gsRunning };

// The volume scale of the audio manager: 0 (silence) to 10000 (full).
inline constexpr int kVolumeMax = 10000;
// Hundredths of a decibel for a linear volume: ln(v + 1) x 1085.73 - 10000,
// so 10000 is 0 dB and 0 is -10000. v is clamped to [0, 10000].
LONG LinearVolumeToDecibels(int volume);

class TFilterGraph : public QObject {
public:
    // UI thread. Inactive until SetActive(true).
    explicit TFilterGraph(QObject *owner = nullptr);
    // Deactivates (which clears the graph).
    ~TFilterGraph() override;

    // Capture mode: activation also makes a capture graph builder bound to
    // the graph. Takes effect at the next activation.
    bool CaptureMode() const { return FCaptureMode; }
    void SetCaptureMode(bool on) { FCaptureMode = on; }

    // Active: the filter graph exists. Activation creates it (and its
    // capture builder in capture mode), registers it for inspection when
    // GraphEdit is set and routes its events to the notify window; false when
    // the graph cannot be created. Deactivation clears the graph, drops the
    // registration and the notices, and releases it.
    bool Active() const { return static_cast<bool>(FGraph); }
    bool SetActive(bool on);

    // Registration in the running-object table (GraphDescription.h) while active.
    bool GraphEdit() const { return FGraphEdit; }
    void SetGraphEdit(bool on);

    // Where the graph posts its event notices: (msg, 0, instance) to wnd.
    // Kept across activations; wnd 0 stops them.
    void SetNotifyWindow(HWND wnd, UINT msg, LONG_PTR instance);

    // Volume in 0..10000. Linear: through LinearVolumeToDecibels; otherwise
    // v - 10000 hundredths of a decibel. SetVolume clamps, keeps the value
    // (Volume returns it, also when no audio renderer takes it yet) and
    // answers whether the graph's audio renderer took it.
    bool LinearVolume() const { return FLinearVolume; }
    void SetLinearVolume(bool on) { FLinearVolume = on; }
    int Volume() const { return FVolume; }
    bool SetVolume(int volume);

    TGraphState State() const;

    // Stops the graph, disconnects every filter's pins and removes every
    // filter.
    void ClearGraph();

    // The graph (empty while inactive) and its capture builder (empty
    // outside capture mode). References for the caller.
    ComPtr<IGraphBuilder> Graph() const { return FGraph; }
    ComPtr<ICaptureGraphBuilder2> CaptureGraph() const { return FCaptureGraph; }
    // Another interface of the graph, or empty.
    template <class T>
    ComPtr<T> Query() const
    {
        return ComQuery<T>(FGraph);
    }

private:
    void Register();
    void Unregister();
    void ApplyNotifyWindow();

    bool FCaptureMode = false;
    bool FGraphEdit = false;
    bool FLinearVolume = false;
    int FVolume = kVolumeMax;
    DWORD FRotRegister = 0;  // 0: not registered
    HWND FNotifyWindow = 0;
    UINT FNotifyMessage = 0;
    LONG_PTR FNotifyInstance = 0;
    ComPtr<IGraphBuilder> FGraph;
    ComPtr<ICaptureGraphBuilder2> FCaptureGraph;
};

// ---- TGrapheMan ---------------------------------------------------------------------

enum TGrapheManState { gmStopped = 0, gmPaused = 1, gmPlaying = 2 };

using TGraphCompletedEvent = std::function<void()>;
using TGraphErrorEvent = std::function<void(HRESULT result)>;
using TStateEvent = std::function<void(TGrapheManState aGrapheManState)>;
using TBooleanEvent = std::function<void(bool isTrue)>;

class TGrapheMan : public TKWActionComponent {
    Q_OBJECT
public:
    // Posted by the graph to the message window for each queued event.
    // Derived managers keep their own messages clear of it.
    static constexpr UINT WM_GRAPHNOTIFY = 0x8000 + 0x0200;
    // WaitForStableState: at most this many GetState calls of this time-out.
    static constexpr int kStatePolls = 20;
    static constexpr LONG kStatePollMs = 40;
    static constexpr double kFastRate = 4.0;

    // UI thread. Builds the graph and raises onStateChange(gmStopped) once,
    // before returning: a handler assigned after construction could not see
    // it. The handler stays as OnStateChange. It runs while the manager is
    // being built, so it must not reach the manager through the pointer
    // that New is about to return.
    explicit TGrapheMan(QObject *owner = nullptr, TStateEvent onStateChange = {});
    // Stops the graph, lets pending messages run, clears and releases the
    // graph. Raises no published event (the holder may be going as well).
    ~TGrapheMan() override;

    // UI thread. Each returns whether the graph call succeeded and, only
    // then, raises OnStateChange.
    // Rate 1.0, then 4.0 in fast mode, then run.
    virtual bool Play();
    virtual bool Pause();
    // WaitForStableState first, then stop.
    virtual bool Stop();
    // Clear/set FastMode, raise OnVitesseRapide, set the rate (1.0/4.0).
    virtual void SetNormalSpeed();
    virtual void SetFastSpeed();
    // The end of the stream was reached: Stop no longer waits. Cleared by
    // the navigation manager when a new video source is attached.
    virtual void MarkStreamEnded();

    // Polls GetState (kStatePollMs) while it answers VFW_S_STATE_INTERMEDIATE
    // and StreamEnded is clear, kStatePolls calls at most.
    void WaitForStableState();
    // Removes every filter without a connected pin, last to first.
    void RemoveUnconnectedFilters();

    // The graph's end-of-stream handler (EC_COMPLETE): raises
    // OnGraphCompleted when result is a success code, else it is an error
    // (GraphFailed). sender is the graph object.
    void GraphComplete(QObject *sender, HRESULT result, IBaseFilter *renderer);
    // The graph's error handler: a filter gave up (EC_ERRORABORT, a decoder
    // that cannot go on), a stream failed (EC_STREAM_ERROR_STOPPED,
    // EC_STREAM_ERROR_STILLPLAYING, EC_ERROR_STILLPLAYING) or the end came
    // with a failure code. Sets GraphError and LastGraphError, then raises
    // OnGraphError(result).
    void GraphFailed(HRESULT result);

    // Registration of the graph for outside inspection.
    bool GraphEdit() const;
    void SetGraphEdit(bool on);

    TFilterGraph *FilterGraph() const { return FFilterGraph; }

    void WndProc(TMessage &message) override;

    // Published events and fields, in the design's order; the error event
    // and its flag come last.
    TGraphCompletedEvent OnGraphCompleted;
    bool FastMode = false;
    bool StreamEnded = false;
    TStateEvent OnStateChange;
    TBooleanEvent OnVitesseRapide;
    // (the graph object: FilterGraph())
    QList<TVideoSource *> VideoSources;  // not owned
    QList<TAudioSource *> AudioSources;  // not owned
    ComPtr<IGraphBuilder> GraphBuilder;
    ComPtr<ICaptureGraphBuilder2> CaptureBuilder;
    ComPtr<IMediaSeeking> MediaSeeking;
    TGraphErrorEvent OnGraphError;
    // Set by GraphFailed; cleared by the holder (the navigation manager,
    // with StreamEnded), so waits on the graph can end on it.
    bool GraphError = false;
    HRESULT LastGraphError = S_OK;

protected:
    ComPtr<IMediaControl> MediaControl() const;
    void RaiseStateChange(TGrapheManState state);
    void SetRate(double rate);

private:
    void DispatchGraphEvents();

    TFilterGraph *FFilterGraph = nullptr;  // owned; freed last
};
