// CBaseFilter: the IBaseFilter every filter of the engine builds on.
//
// A filter owns its pins (derived classes keep them and answer GetPinCount /
// GetPin); a pin counts its references on its filter. A filter does not
// reference its graph: the graph owns the filter and calls
// JoinFilterGraph(nullptr, ...) before letting it go.
//
// The state lock (m_pLock, given by the derived class) serialises the state
// calls (Stop, Pause, Run), connections and JoinFilterGraph; all of them come
// from the UI thread. m_State is also read without the lock by streaming
// threads (IsStopped, IsActive), hence atomic. Streaming threads never take
// the state lock while they wait for anything.
#pragma once

#include "platform/base/MessageWindow.h"
#include "platform/dshow/Enumerate.h"
#include "platform/dshow/Strmif.h"

#include <atomic>
#include <string>
#include <vector>

class CBasePin;

// Our own interface: the graph's gate for messages that its filters send to
// windows. Stop and flush close it, releasing every send (MessageWindow.h).
inline constexpr IID IID_IGraphSendGate{0xD3F3384B, 0x3FFB, 0x4F4B,
                                        {0x8F, 0x1F, 0xC8, 0xA3, 0xFA, 0x6E, 0x7B, 0x30}};
struct IGraphSendGate : IUnknown {
    static constexpr const IID &iid = IID_IGraphSendGate;
    // Lives as long as the graph.
    virtual SendGate *GetSendGate() = 0;

protected:
    ~IGraphSendGate() = default;
};

class CBaseFilter : public CUnknown, public IBaseFilter {
public:
    // UI thread. pLock: the state lock, owned by the derived filter.
    CBaseFilter(LPCWSTR pName, CCritSec *pLock, REFCLSID clsid);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    // IPersist
    HRESULT GetClassID(CLSID *pClassID) override;

    // IMediaFilter (UI thread). Stop deactivates the connected pins, Pause
    // activates them (from Stopped), Run records tStart.
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE *State) override;
    HRESULT SetSyncSource(IReferenceClock *pClock) override;
    HRESULT GetSyncSource(IReferenceClock **pClock) override;

    // IBaseFilter
    HRESULT EnumPins(IEnumPins **ppEnum) override;
    HRESULT FindPin(LPCWSTR Id, IPin **ppPin) override;
    HRESULT QueryFilterInfo(FILTER_INFO *pInfo) override;
    HRESULT JoinFilterGraph(IFilterGraph *pGraph, LPCWSTR pName) override;
    HRESULT QueryVendorInfo(LPWSTR *pVendorInfo) override;

    // Pins, in a fixed order; GetPin answers null outside 0..count-1.
    virtual int GetPinCount() = 0;
    virtual CBasePin *GetPin(int n) = 0;

    // Any thread.
    bool IsStopped() const { return m_State.load(std::memory_order_acquire) == State_Stopped; }
    bool IsActive() const { return m_State.load(std::memory_order_acquire) != State_Stopped; }
    FILTER_STATE State() const { return m_State.load(std::memory_order_acquire); }
    CCritSec *pStateLock() const { return m_pLock; }
    // UI thread (takes the state lock: not from Transform or DoRenderSample).
    std::wstring Name() const;

    // Streaming thread: tells the graph (EC_COMPLETE ...). E_NOTIMPL when
    // the filter is in no graph.
    HRESULT NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);
    // Streaming thread: SendMessage through the graph's gate, so that a
    // stop or a seek of the graph releases the send (it then returns 0).
    // Only with no lock held that a state change takes (a pause is not
    // released): from Transform, not from a renderer's DoRenderSample.
    LRESULT SendGraphMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // The current stream time (clock time - tStart); VFW_E_NO_CLOCK without a
    // clock. Any thread while running.
    HRESULT StreamTime(REFERENCE_TIME &rtStream);

protected:
    // Written under the state lock, read anywhere.
    std::atomic<FILTER_STATE> m_State{State_Stopped};
    CCritSec *const m_pLock;

    // Written under the state lock while no stream runs (or in Run, before
    // the renderers are told); streaming threads read them.
    ComPtr<IReferenceClock> m_pClock;
    REFERENCE_TIME m_tStart = 0;
    IFilterGraph *m_pGraph = nullptr;    // not referenced
    IMediaEventSink *m_pSink = nullptr;  // the graph's, not referenced
    SendGate *m_pSendGate = nullptr;     // the graph's

private:
    const CLSID m_clsid;
    std::wstring m_name;
};

// Copies `name` into a fixed WCHAR array, cut to fit.
void CopyName(WCHAR *dest, size_t capacity, const std::wstring &name);
