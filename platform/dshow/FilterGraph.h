// The filter graph manager (CLSID_FilterGraph): the filters of one graph,
// their connections, their common state and clock, seeking, graph events,
// volume, and the graph builder with intelligent connect.
//
// Ownership: the graph holds a reference to each of its filters and drops
// them when they are removed or the graph goes (after stopping it). Filters
// do not reference the graph. The builder callback (IObjectWithSite::SetSite)
// is referenced until replaced.
//
// Threads: everything but the events is called from the UI thread (the
// thread that owns the graph, where it keeps a hidden message window for the
// repaints it does itself; it is released there too). IMediaEventSink::Notify
// comes from any thread (streaming threads), and GetEvent / WaitForCompletion
// may be called from any thread. The parts live in FilterGraph.cpp (filters, connections),
// GraphControl.cpp (states and clock; its essay tells the locks),
// GraphSeeking.cpp, GraphEvents.cpp and GraphBuilder.cpp.
#pragma once

#include "platform/dshow/MediaTimeSeeking.h"
#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/Control.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct FilterRegistration;  // FilterCatalogue.h

// Our own interface behind the running-object-table stand-in (GraphDescription.h):
// while a description file is set, the graph rewrites it on every change.
inline constexpr IID IID_IGraphInspection{0xDA2F183C, 0xB7F5, 0x4146,
                                          {0xAA, 0x0F, 0x9B, 0xC0, 0xB6, 0x47, 0x60, 0x51}};
struct IGraphInspection : IUnknown {
    static constexpr const IID &iid = IID_IGraphInspection;
    // UI thread. Empty path: stop describing and remove the file.
    virtual HRESULT SetDescriptionFile(const std::string &path) = 0;
    // UI thread: the text written to the file.
    virtual std::string Describe() = 0;

protected:
    ~IGraphInspection() = default;
};

class CFilterGraph final : public CUnknown,
                           public IGraphBuilder,
                           public IMediaControl,
                           public CMediaTimeSeeking,
                           public IMediaEventEx,
                           public IMediaEventSink,
                           public IMediaFilter,
                           public IBasicAudio,
                           public IObjectWithSite,
                           public IGraphSendGate,
                           public IGraphInspection {
public:
    CFilterGraph();
    ~CFilterGraph() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    // IFilterGraph
    HRESULT AddFilter(IBaseFilter *pFilter, LPCWSTR pName) override;
    // VFW_E_NOT_STOPPED unless the graph is stopped.
    HRESULT RemoveFilter(IBaseFilter *pFilter) override;
    HRESULT EnumFilters(IEnumFilters **ppEnum) override;
    HRESULT FindFilterByName(LPCWSTR pName, IBaseFilter **ppFilter) override;
    HRESULT ConnectDirect(IPin *ppinOut, IPin *ppinIn, const AM_MEDIA_TYPE *pmt) override;
    HRESULT Reconnect(IPin *ppin) override;
    HRESULT Disconnect(IPin *ppin) override;
    HRESULT SetDefaultSyncSource() override;

    // IGraphBuilder (GraphBuilder.cpp)
    HRESULT Connect(IPin *ppinOut, IPin *ppinIn) override;
    HRESULT Render(IPin *ppinOut) override;
    HRESULT RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) override;
    HRESULT AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName,
                            IBaseFilter **ppFilter) override;
    HRESULT SetLogFile(DWORD_PTR hFile) override;
    HRESULT Abort() override;
    HRESULT ShouldOperationContinue() override;

    // IMediaControl and IMediaFilter (GraphControl.cpp)
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(LONG msTimeout, OAFilterState *pfs) override;
    HRESULT StopWhenReady() override;
    HRESULT GetClassID(CLSID *pClassID) override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE *State) override;
    // Null: no clock, every sample is presented as soon as it arrives.
    HRESULT SetSyncSource(IReferenceClock *pClock) override;
    HRESULT GetSyncSource(IReferenceClock **pClock) override;

    // IMediaSeeking (GraphSeeking.cpp)
    HRESULT GetCapabilities(DWORD *pCapabilities) override;
    HRESULT GetDuration(LONGLONG *pDuration) override;
    HRESULT GetStopPosition(LONGLONG *pStop) override;
    HRESULT GetCurrentPosition(LONGLONG *pCurrent) override;
    HRESULT SetPositions(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop,
                         DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG *pCurrent, LONGLONG *pStop) override;
    HRESULT GetAvailable(LONGLONG *pEarliest, LONGLONG *pLatest) override;
    HRESULT SetRate(double dRate) override;
    HRESULT GetRate(double *pdRate) override;
    HRESULT GetPreroll(LONGLONG *pllPreroll) override;

    // IMediaEventEx, IMediaEventSink (GraphEvents.cpp)
    HRESULT GetEvent(LONG *lEventCode, LONG_PTR *lParam1, LONG_PTR *lParam2, LONG msTimeout) override;
    HRESULT WaitForCompletion(LONG msTimeout, LONG *pEvCode) override;
    HRESULT CancelDefaultHandling(LONG lEvCode) override;
    HRESULT RestoreDefaultHandling(LONG lEvCode) override;
    HRESULT FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) override;
    HRESULT SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) override;
    HRESULT SetNotifyFlags(LONG lNoNotifyFlags) override;
    HRESULT GetNotifyFlags(LONG *lplNoNotifyFlags) override;
    HRESULT Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

    // IBasicAudio: forwarded to the first filter that has it (the audio
    // renderer); E_NOTIMPL when none.
    HRESULT put_Volume(LONG lVolume) override;
    HRESULT get_Volume(LONG *plVolume) override;
    HRESULT put_Balance(LONG lBalance) override;
    HRESULT get_Balance(LONG *plBalance) override;

    // IObjectWithSite: the site may answer IAMGraphBuilderCallback.
    HRESULT SetSite(IUnknown *pUnkSite) override;
    HRESULT GetSite(REFIID riid, void **ppvSite) override;

    // IGraphSendGate
    SendGate *GetSendGate() override { return &m_sendGate; }

    // IGraphInspection (GraphDescription.cpp)
    HRESULT SetDescriptionFile(const std::string &path) override;
    std::string Describe() override;

private:
    enum class GraphState { Stopped, Paused, Running };

    struct Entry {
        ComPtr<IBaseFilter> filter;
        std::wstring name;
    };

    // ---- FilterGraph.cpp ----
    int FindEntry(IBaseFilter *pFilter) const;
    bool InGraph(IPin *pin) const;
    std::wstring UniqueName(LPCWSTR pName) const;
    void RemoveAllFilters();
    void TopologyChanged();
    // Downstream first: every filter before the filters that feed it.
    std::vector<ComPtr<IBaseFilter>> DownstreamFirst() const;

    // ---- GraphControl.cpp ----
    HRESULT PauseFilters();
    HRESULT RunFilters(REFERENCE_TIME tStart);
    HRESULT StopFilters();
    void ChooseDefaultClock();
    void DistributeClock();
    REFERENCE_TIME ClockTime() const;
    REFERENCE_TIME StreamTime() const;
    static FILTER_STATE ToFilterState(GraphState state);
    static HRESULT WaitForFilter(IBaseFilter *filter, bool unlimited, std::chrono::steady_clock::time_point deadline);

    // ---- GraphSeeking.cpp ----
    std::vector<ComPtr<IMediaSeeking>> SeekableFilters() const;
    HRESULT SeekAll(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop, DWORD dwStopFlags);
    bool PresentedPosition(REFERENCE_TIME *pPosition) const;
    bool PresentedStreamTime(REFERENCE_TIME *pStreamTime) const;
    void KeepResume(REFERENCE_TIME position);
    void ForgetResume();
    void ResumeWhereStopped();
    static HRESULT SetRateAt(IMediaSeeking *seeking, double rate, REFERENCE_TIME position);

    // ---- GraphEvents.cpp ----
    void ResetCompletion();
    bool RepaintEventLocked(LONG_PTR position);
    void RepaintIfPending();
    void QueueEventLocked(LONG code, LONG_PTR p1, LONG_PTR p2);
    bool IsCountedRenderer(IBaseFilter *filter) const;
    void FreeQueuedEvents();

    // ---- GraphBuilder.cpp ----
    HRESULT ConnectThroughCatalogue(IPin *pOut, IPin *pIn, int depth);
    HRESULT RenderPin(IPin *pOut, int depth);
    HRESULT TryIntermediate(IPin *pOut, const FilterRegistration &candidate,
                            IPin *pIn, int depth);
    ComPtr<IAMGraphBuilderCallback> BuilderCallback() const;

    // ---- GraphDescription.cpp ----
    void WriteDescription();

    // The graph's state lock (UI thread; see GraphControl.cpp).
    CCritSec m_csGraph;
    std::vector<Entry> m_filters;
    GraphState m_state = GraphState::Stopped;

    enum class ClockMode { Default, Chosen, None };
    ClockMode m_clockMode = ClockMode::Default;
    ComPtr<IReferenceClock> m_clock;
    ComPtr<IReferenceClock> m_systemClock;  // made when first needed
    REFERENCE_TIME m_tStart = 0;            // clock time of stream time 0
    REFERENCE_TIME m_pausedStreamTime = 0;  // stream time when paused

    REFERENCE_TIME m_segmentStart = 0;  // media time of stream time 0
    double m_rate = 1.0;
    REFERENCE_TIME m_resumeAt = 0;  // the position a stop left
    bool m_resumePending = false;   // the sources are to go back there
    std::vector<ComPtr<IMediaSeeking>> m_resumeSources;  // the ones it was for

    ComPtr<IUnknown> m_site;
    SendGate m_sendGate;
    // Set while the graph moves its sources itself: the flushes that cost a
    // renderer its still picture need no repaint then.
    std::atomic<bool> m_repositioning{false};
    // The window of the thread that made the graph, where a repaint is done
    // (EC_REPAINT's default handling).
    std::thread::id m_owner;
    HWND m_window = 0;
    static constexpr UINT kRepaintMessage = 0x0400;
    std::string m_descriptionFile;

    // Events: guarded by m_eventLock, which nothing else is taken under
    // (streaming threads notify while holding their filters' locks).
    mutable std::mutex m_eventLock;
    std::condition_variable m_eventArrived;
    struct Event {
        LONG code;
        LONG_PTR p1, p2;
    };
    std::deque<Event> m_events;
    OAHWND m_notifyWindow = 0;
    LONG m_notifyMessage = 0;
    LONG_PTR m_notifyInstance = 0;
    LONG m_notifyFlags = 0;
    bool m_defaultCompleteHandling = true;
    std::vector<IBaseFilter *> m_renderers;  // counted at the start of a run
    std::vector<IBaseFilter *> m_completed;
    HRESULT m_completeResult = S_OK;
    bool m_completeSent = false;
    LONG m_completionCode = 0;  // for WaitForCompletion
    bool m_repaintPending = false;
    REFERENCE_TIME m_repaintAt = 0;
};

// The catalogue's factory for CLSID_FilterGraph.
HRESULT CreateFilterGraph(REFIID riid, void **ppv);
