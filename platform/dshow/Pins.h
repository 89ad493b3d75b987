// Push pins: CBasePin (connection and media-type negotiation), CBaseOutputPin
// (allocator negotiation and delivery) and CBaseInputPin (IMemInputPin).
//
// Connecting. The output pin's Connect holds its filter's state lock and
// offers types to the input pin's ReceiveConnection: the given type if it is
// complete, else the input pin's preferred types, then its own, each one
// matched against the given partial type. CheckMediaType and GetMediaType run
// inside Connect with the state lock held (the lock is recursive, so they may
// take it again). Connections change only while the filter is stopped
// (VFW_E_NOT_STOPPED otherwise), so ConnectedTo and ConnectionMediaType take
// no state lock: a streaming thread may call them from Transform or
// DoRenderSample with its streaming lock held.
//
// Streaming. The output pin commits its allocator in Active (Stopped ->
// Paused) and decommits it in Inactive, which releases a streaming thread
// waiting in GetDeliveryBuffer. The input pin refuses samples while stopped
// (VFW_E_WRONG_STATE) and while flushing (S_FALSE: the upstream thread drops
// the sample and goes on). A media type that changes inside the stream comes
// with a sample: the input pin checks it, the filter that receives the
// sample applies it before it looks at the data.
//
// Threads: Connect, Disconnect, QueryX, Active, Inactive: UI thread.
// Receive, NewSegment, EndOfStream, Deliver*: the streaming thread.
// BeginFlush/EndFlush: the seeking thread (UI) or a streaming thread upstream.
#pragma once

#include "platform/dshow/BaseFilter.h"

#include <atomic>
#include <mutex>
#include <string>

class CBasePin : public CUnknown, public IPin, public IKsPropertySet {
public:
    // The pin counts its references on pFilter. pLock: the filter's state lock.
    CBasePin(CBaseFilter *pFilter, CCritSec *pLock, LPCWSTR pName, PIN_DIRECTION dir);
    ~CBasePin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    // IPin
    HRESULT Connect(IPin *pReceivePin, const AM_MEDIA_TYPE *pmt) override;
    HRESULT ReceiveConnection(IPin *pConnector, const AM_MEDIA_TYPE *pmt) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin **pPin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE *pmt) override;
    HRESULT QueryPinInfo(PIN_INFO *pInfo) override;
    HRESULT QueryDirection(PIN_DIRECTION *pPinDir) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE *pmt) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes **ppEnum) override;
    // Records the segment; derived pins pass it on.
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // IKsPropertySet: the pin category, when one was set.
    HRESULT Set(REFGUID guidPropSet, DWORD dwPropID, void *pInstanceData, DWORD cbInstanceData,
                void *pPropData, DWORD cbPropData) override;
    HRESULT Get(REFGUID guidPropSet, DWORD dwPropID, void *pInstanceData, DWORD cbInstanceData,
                void *pPropData, DWORD cbPropData, DWORD *pcbReturned) override;
    HRESULT QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD *pTypeSupport) override;

    // ---- For derived classes ----
    // S_OK when the pin can take the type (must not wait for anything).
    virtual HRESULT CheckMediaType(const CMediaType *pmt) = 0;
    // Preferred types by position; VFW_S_NO_MORE_ITEMS past the last.
    virtual HRESULT GetMediaType(int iPosition, CMediaType *pMediaType);
    virtual HRESULT SetMediaType(const CMediaType *pmt);
    // Direction and transport checks on the peer; BreakConnect undoes
    // whatever CheckConnect and CompleteConnect set up.
    virtual HRESULT CheckConnect(IPin *pPin);
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin *pReceivePin);
    // Filter state changes (state lock held): Stopped -> Paused, -> Stopped.
    virtual HRESULT Active();
    virtual HRESULT Inactive();

    void SetPinCategory(REFGUID category) { m_category = category; }
    bool IsConnected() const { return m_Connected.Get() != nullptr; }
    IPin *GetConnected() const { return m_Connected.Get(); }
    // The connection type, for the pin's own threads (the UI thread while
    // stopped, the streaming thread while active); others ConnectionMediaType.
    const CMediaType &CurrentMediaType() const { return m_mt; }
    const std::wstring &Name() const { return m_name; }
    PIN_DIRECTION Direction() const { return m_dir; }
    bool IsStopped() const { return m_pFilter->IsStopped(); }
    CBaseFilter *Filter() const { return m_pFilter; }

    // Segment last given to NewSegment (streaming thread).
    REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
    REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
    double CurrentRate() const { return m_dRate; }

protected:
    HRESULT AgreeMediaType(IPin *pReceivePin, const CMediaType *pmt);
    HRESULT TryMediaTypes(IPin *pReceivePin, const CMediaType *pmt, IEnumMediaTypes *pEnum);
    HRESULT AttemptConnection(IPin *pReceivePin, const CMediaType *pmt);
    HRESULT DisconnectInternal();
    void ClearMediaType();

    CBaseFilter *const m_pFilter;
    CCritSec *const m_pLock;
    const std::wstring m_name;
    const PIN_DIRECTION m_dir;
    ComPtr<IPin> m_Connected;
    CMediaType m_mt;           // written under m_mtLock
    mutable std::mutex m_mtLock;
    GUID m_category = GUID_NULL;

    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = MAX_TIME;
    double m_dRate = 1.0;
};

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(CBaseFilter *pFilter, CCritSec *pLock, LPCWSTR pName);

    // Input-side calls: not for an output pin.
    HRESULT EndOfStream() override { return E_UNEXPECTED; }
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }

    HRESULT CheckConnect(IPin *pPin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin *pReceivePin) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // The buffers this pin needs: fills pProperties (the input pin's
    // requirements come in it) and calls SetProperties on pAlloc.
    virtual HRESULT DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProperties) = 0;
    // The input pin's allocator if it offers one, else our own.
    virtual HRESULT DecideAllocator(IMemInputPin *pPin, IMemAllocator **ppAlloc);
    virtual HRESULT InitAllocator(IMemAllocator **ppAlloc);

    // Streaming thread.
    HRESULT GetDeliveryBuffer(IMediaSample **ppSample, REFERENCE_TIME *pStartTime,
                              REFERENCE_TIME *pEndTime, DWORD dwFlags);
    virtual HRESULT Deliver(IMediaSample *pSample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);
    // The seeking thread.
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();

    IMemAllocator *Allocator() const { return m_pAllocator.Get(); }

protected:
    ComPtr<IMemInputPin> m_pInputPin;
    ComPtr<IMemAllocator> m_pAllocator;
};

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(CBaseFilter *pFilter, CCritSec *pLock, LPCWSTR pName);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    // IMemInputPin
    HRESULT GetAllocator(IMemAllocator **ppAllocator) override;
    HRESULT NotifyAllocator(IMemAllocator *pAllocator, BOOL bReadOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES *pProps) override;
    // Checks the state and a media type that came with the sample (one this
    // pin refuses is a runtime error, and the graph hears EC_ERRORABORT);
    // derived pins call it first, then do the work. The type is applied by
    // the filter that receives the sample (ApplySampleType), once.
    HRESULT Receive(IMediaSample *pSample) override;
    HRESULT ReceiveMultiple(IMediaSample **pSamples, LONG nSamples, LONG *nSamplesProcessed) override;
    HRESULT ReceiveCanBlock() override;

    // IPin input-side calls: flushing flag; derived pins pass them on.
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT EndOfStream() override;

    HRESULT BreakConnect() override;
    HRESULT Inactive() override;

    // S_OK, S_FALSE while flushing, VFW_E_WRONG_STATE while stopped,
    // VFW_E_RUNTIME_ERROR after a failed Receive until the next flush/stop.
    HRESULT CheckStreaming();
    // Streaming thread, for the filter that receives the sample, after
    // Receive checked it: the type that came with it becomes the
    // connection's (SetMediaType). S_FALSE when it brought none.
    HRESULT ApplySampleType(IMediaSample *pSample);
    bool IsFlushing() const { return m_bFlushing.load(std::memory_order_acquire); }
    bool IsReadOnly() const { return m_bReadOnly; }
    IMemAllocator *PeekAllocator() const { return m_pAllocator.Get(); }

protected:
    ComPtr<IMemAllocator> m_pAllocator;
    bool m_bReadOnly = false;
    std::atomic<bool> m_bFlushing{false};
    std::atomic<bool> m_bRunTimeError{false};
};
