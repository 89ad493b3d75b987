// The media graph's core interfaces, with the SDK's names, shapes and
// interface identifiers: filters, pins, samples, allocators, the pull reader,
// reference clocks, seeking, the graph builder and its callback.
//
// Ownership follows the SDK: every interface pointer handed out through an
// out-parameter carries a reference the caller releases (hold it in a
// ComPtr); pointers passed in are borrowed for the call. AM_MEDIA_TYPE
// out-parameters are filled with copies; AM_MEDIA_TYPE ** out-parameters get
// a CreateMediaType copy that the caller frees with DeleteMediaType.
//
// Threads: filter state calls (Stop, Pause, Run, JoinFilterGraph), connection
// calls and graph calls come from the UI thread. Receive, NewSegment and
// EndOfStream come from a streaming thread; BeginFlush/EndFlush from the
// thread that seeks (UI) or from a streaming thread upstream. Clocks and
// allocators may be called from any thread.
#pragma once

#include "platform/dshow/Iids.h"
#include "platform/dshow/MediaType.h"
#include "platform/dshow/Sync.h"
#include "platform/dshow/Unknown.h"
#include "platform/dshow/VfwMsgs.h"

struct IBaseFilter;
struct IFilterGraph;
struct IPin;

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

inline constexpr int MAX_PIN_NAME = 128;
inline constexpr int MAX_FILTER_NAME = 128;

// pFilter carries a reference (QueryPinInfo); release it.
struct PIN_INFO {
    IBaseFilter *pFilter;
    PIN_DIRECTION dir;
    WCHAR achName[MAX_PIN_NAME];
};

// pGraph carries a reference when not null (QueryFilterInfo); release it.
struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME];
    IFilterGraph *pGraph;
};

struct ALLOCATOR_PROPERTIES {
    LONG cBuffers;
    LONG cbBuffer;
    LONG cbAlign;
    LONG cbPrefix;
};

// IMemAllocator::GetBuffer flags.
inline constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 1;
inline constexpr DWORD AM_GBF_NOTASYNCPOINT = 2;
inline constexpr DWORD AM_GBF_NOWAIT = 4;

// IMediaSeeking capabilities.
inline constexpr DWORD AM_SEEKING_CanSeekAbsolute = 0x1;
inline constexpr DWORD AM_SEEKING_CanSeekForwards = 0x2;
inline constexpr DWORD AM_SEEKING_CanSeekBackwards = 0x4;
inline constexpr DWORD AM_SEEKING_CanGetCurrentPos = 0x8;
inline constexpr DWORD AM_SEEKING_CanGetStopPos = 0x10;
inline constexpr DWORD AM_SEEKING_CanGetDuration = 0x20;
inline constexpr DWORD AM_SEEKING_CanPlayBackwards = 0x40;
inline constexpr DWORD AM_SEEKING_CanDoSegments = 0x80;
inline constexpr DWORD AM_SEEKING_Source = 0x100;

// IMediaSeeking::SetPositions flags.
inline constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
inline constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
inline constexpr DWORD AM_SEEKING_RelativePositioning = 0x2;
inline constexpr DWORD AM_SEEKING_IncrementalPositioning = 0x3;
inline constexpr DWORD AM_SEEKING_PositioningBitsMask = 0x3;
inline constexpr DWORD AM_SEEKING_SeekToKeyFrame = 0x4;
inline constexpr DWORD AM_SEEKING_ReturnTime = 0x8;
inline constexpr DWORD AM_SEEKING_Segment = 0x10;
inline constexpr DWORD AM_SEEKING_NoFlush = 0x20;

// IAMFilterMiscFlags.
inline constexpr ULONG AM_FILTER_MISC_FLAGS_IS_RENDERER = 0x1;
inline constexpr ULONG AM_FILTER_MISC_FLAGS_IS_SOURCE = 0x2;

inline constexpr REFERENCE_TIME MAX_TIME = 0x7FFFFFFFFFFFFFFFLL;
inline constexpr REFERENCE_TIME UNITS = 10000000;  // 100 ns units in a second

// The SDK's heap copies of a media type (for AM_MEDIA_TYPE ** out-parameters).
inline AM_MEDIA_TYPE *CreateMediaType(const AM_MEDIA_TYPE *pSrc)
{
    return pSrc ? new AM_MEDIA_TYPE(*pSrc) : new AM_MEDIA_TYPE();
}
inline void DeleteMediaType(AM_MEDIA_TYPE *pmt) { delete pmt; }

struct IPersist : IUnknown {
    static constexpr const IID &iid = IID_IPersist;
    virtual HRESULT GetClassID(CLSID *pClassID) = 0;

protected:
    ~IPersist() = default;
};

// Times are the clock's own (100 ns, monotonic). AdviseTime sets the event
// once when the clock reaches baseTime + streamTime; AdvisePeriodic every
// period from startTime on. The event must outlive the advise (Unadvise).
struct IReferenceClock : IUnknown {
    static constexpr const IID &iid = IID_IReferenceClock;
    virtual HRESULT GetTime(REFERENCE_TIME *pTime) = 0;
    virtual HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime,
                               HEVENT hEvent, DWORD_PTR *pdwAdviseCookie) = 0;
    virtual HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                   HEVENT hSemaphore, DWORD_PTR *pdwAdviseCookie) = 0;
    virtual HRESULT Unadvise(DWORD_PTR dwAdviseCookie) = 0;

protected:
    ~IReferenceClock() = default;
};

struct IMediaFilter : IPersist {
    static constexpr const IID &iid = IID_IMediaFilter;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    // tStart: the reference-clock time that is stream time 0.
    virtual HRESULT Run(REFERENCE_TIME tStart) = 0;
    // VFW_S_STATE_INTERMEDIATE when a transition is not complete after the
    // time-out (a renderer paused without a sample), with the target state.
    virtual HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE *State) = 0;
    virtual HRESULT SetSyncSource(IReferenceClock *pClock) = 0;
    virtual HRESULT GetSyncSource(IReferenceClock **pClock) = 0;

protected:
    ~IMediaFilter() = default;
};

struct IEnumPins : IUnknown {
    static constexpr const IID &iid = IID_IEnumPins;
    // S_FALSE when fewer than cPins were left.
    virtual HRESULT Next(ULONG cPins, IPin **ppPins, ULONG *pcFetched) = 0;
    virtual HRESULT Skip(ULONG cPins) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumPins **ppEnum) = 0;

protected:
    ~IEnumPins() = default;
};

struct IEnumFilters : IUnknown {
    static constexpr const IID &iid = IID_IEnumFilters;
    virtual HRESULT Next(ULONG cFilters, IBaseFilter **ppFilter, ULONG *pcFetched) = 0;
    virtual HRESULT Skip(ULONG cFilters) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFilters **ppEnum) = 0;

protected:
    ~IEnumFilters() = default;
};

// Types come out as CreateMediaType copies; free each with DeleteMediaType.
struct IEnumMediaTypes : IUnknown {
    static constexpr const IID &iid = IID_IEnumMediaTypes;
    virtual HRESULT Next(ULONG cMediaTypes, AM_MEDIA_TYPE **ppMediaTypes, ULONG *pcFetched) = 0;
    virtual HRESULT Skip(ULONG cMediaTypes) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMediaTypes **ppEnum) = 0;

protected:
    ~IEnumMediaTypes() = default;
};

struct IBaseFilter : IMediaFilter {
    static constexpr const IID &iid = IID_IBaseFilter;
    virtual HRESULT EnumPins(IEnumPins **ppEnum) = 0;
    // Id is the pin's name.
    virtual HRESULT FindPin(LPCWSTR Id, IPin **ppPin) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO *pInfo) = 0;
    // The graph is not referenced (it owns the filter); null leaves it.
    virtual HRESULT JoinFilterGraph(IFilterGraph *pGraph, LPCWSTR pName) = 0;
    virtual HRESULT QueryVendorInfo(LPWSTR *pVendorInfo) = 0;

protected:
    ~IBaseFilter() = default;
};

struct IPin : IUnknown {
    static constexpr const IID &iid = IID_IPin;
    // Output pins: connect to pReceivePin, with pmt (may be partial) or any
    // type both agree on.
    virtual HRESULT Connect(IPin *pReceivePin, const AM_MEDIA_TYPE *pmt) = 0;
    virtual HRESULT ReceiveConnection(IPin *pConnector, const AM_MEDIA_TYPE *pmt) = 0;
    // This end only; the graph disconnects both.
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin **pPin) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE *pmt) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO *pInfo) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION *pPinDir) = 0;
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE *pmt) = 0;
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes **ppEnum) = 0;
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) = 0;

protected:
    ~IPin() = default;
};

// A buffer with its times and flags. Times are stream times relative to the
// segment start (NewSegment); media times are the stream's own positions.
struct IMediaSample : IUnknown {
    static constexpr const IID &iid = IID_IMediaSample;
    virtual HRESULT GetPointer(BYTE **ppBuffer) = 0;
    virtual LONG GetSize() = 0;
    // VFW_E_SAMPLE_TIME_NOT_SET, or VFW_S_NO_STOP_TIME with only a start.
    virtual HRESULT GetTime(REFERENCE_TIME *pTimeStart, REFERENCE_TIME *pTimeEnd) = 0;
    // Null start clears both times; null end keeps only the start.
    virtual HRESULT SetTime(REFERENCE_TIME *pTimeStart, REFERENCE_TIME *pTimeEnd) = 0;
    virtual HRESULT IsSyncPoint() = 0;  // S_OK or S_FALSE
    virtual HRESULT SetSyncPoint(BOOL bIsSyncPoint) = 0;
    virtual HRESULT IsPreroll() = 0;
    virtual HRESULT SetPreroll(BOOL bIsPreroll) = 0;
    virtual LONG GetActualDataLength() = 0;
    virtual HRESULT SetActualDataLength(LONG length) = 0;
    // S_FALSE and null when the type did not change with this sample.
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE **ppMediaType) = 0;
    virtual HRESULT SetMediaType(AM_MEDIA_TYPE *pMediaType) = 0;
    virtual HRESULT IsDiscontinuity() = 0;
    virtual HRESULT SetDiscontinuity(BOOL bDiscontinuity) = 0;
    virtual HRESULT GetMediaTime(LONGLONG *pTimeStart, LONGLONG *pTimeEnd) = 0;
    virtual HRESULT SetMediaTime(LONGLONG *pTimeStart, LONGLONG *pTimeEnd) = 0;

protected:
    ~IMediaSample() = default;
};

struct IMemAllocator : IUnknown {
    static constexpr const IID &iid = IID_IMemAllocator;
    // Not while committed or with buffers out; pActual gets what was granted.
    virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES *pRequest, ALLOCATOR_PROPERTIES *pActual) = 0;
    virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES *pProps) = 0;
    virtual HRESULT Commit() = 0;
    // Wakes every GetBuffer waiter (VFW_E_NOT_COMMITTED); memory goes when the
    // last outstanding buffer comes back.
    virtual HRESULT Decommit() = 0;
    // Blocks until a buffer is free or the allocator is decommitted
    // (AM_GBF_NOWAIT: VFW_E_TIMEOUT instead of blocking).
    virtual HRESULT GetBuffer(IMediaSample **ppBuffer, REFERENCE_TIME *pStartTime,
                              REFERENCE_TIME *pEndTime, DWORD dwFlags) = 0;
    // Called by a sample whose last reference went; not for users.
    virtual HRESULT ReleaseBuffer(IMediaSample *pBuffer) = 0;

protected:
    ~IMemAllocator() = default;
};

struct IMemInputPin : IUnknown {
    static constexpr const IID &iid = IID_IMemInputPin;
    virtual HRESULT GetAllocator(IMemAllocator **ppAllocator) = 0;
    virtual HRESULT NotifyAllocator(IMemAllocator *pAllocator, BOOL bReadOnly) = 0;
    virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES *pProps) = 0;
    // Streaming thread. S_FALSE: stop sending (flushing or end reached).
    virtual HRESULT Receive(IMediaSample *pSample) = 0;
    virtual HRESULT ReceiveMultiple(IMediaSample **pSamples, LONG nSamples, LONG *nSamplesProcessed) = 0;
    virtual HRESULT ReceiveCanBlock() = 0;

protected:
    ~IMemInputPin() = default;
};

// The pull pin of a file source: a splitter reads bytes at positions.
struct IAsyncReader : IUnknown {
    static constexpr const IID &iid = IID_IAsyncReader;
    virtual HRESULT RequestAllocator(IMemAllocator *pPreferred, ALLOCATOR_PROPERTIES *pProps,
                                     IMemAllocator **ppActual) = 0;
    // The sample's times give the byte range: start / UNITS to stop / UNITS.
    virtual HRESULT Request(IMediaSample *pSample, DWORD_PTR dwUser) = 0;
    virtual HRESULT WaitForNext(DWORD dwTimeout, IMediaSample **ppSample, DWORD_PTR *pdwUser) = 0;
    virtual HRESULT SyncReadAligned(IMediaSample *pSample) = 0;
    // S_FALSE when fewer bytes than asked were left.
    virtual HRESULT SyncRead(LONGLONG llPosition, LONG lLength, BYTE *pBuffer) = 0;
    virtual HRESULT Length(LONGLONG *pTotal, LONGLONG *pAvailable) = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;

protected:
    ~IAsyncReader() = default;
};

struct IFilterGraph : IUnknown {
    static constexpr const IID &iid = IID_IFilterGraph;
    // A taken name gets " 0001", " 0002" ... and VFW_S_DUPLICATE_NAME.
    virtual HRESULT AddFilter(IBaseFilter *pFilter, LPCWSTR pName) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter *pFilter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters **ppEnum) = 0;
    virtual HRESULT FindFilterByName(LPCWSTR pName, IBaseFilter **ppFilter) = 0;
    virtual HRESULT ConnectDirect(IPin *ppinOut, IPin *ppinIn, const AM_MEDIA_TYPE *pmt) = 0;
    virtual HRESULT Reconnect(IPin *ppin) = 0;
    // One end; call it for both pins of a connection.
    virtual HRESULT Disconnect(IPin *ppin) = 0;
    virtual HRESULT SetDefaultSyncSource() = 0;

protected:
    ~IFilterGraph() = default;
};

struct IGraphBuilder : IFilterGraph {
    static constexpr const IID &iid = IID_IGraphBuilder;
    // Directly, else through catalogue filters (intelligent connect).
    virtual HRESULT Connect(IPin *ppinOut, IPin *ppinIn) = 0;
    // Builds from ppinOut down to a renderer out of the catalogue.
    virtual HRESULT Render(IPin *ppinOut) = 0;
    virtual HRESULT RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) = 0;
    virtual HRESULT AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName,
                                    IBaseFilter **ppFilter) = 0;
    virtual HRESULT SetLogFile(DWORD_PTR hFile) = 0;
    virtual HRESULT Abort() = 0;
    virtual HRESULT ShouldOperationContinue() = 0;

protected:
    ~IGraphBuilder() = default;
};

struct IMediaSeeking : IUnknown {
    static constexpr const IID &iid = IID_IMediaSeeking;
    virtual HRESULT GetCapabilities(DWORD *pCapabilities) = 0;
    // Keeps the asked bits that are supported; S_FALSE when some are not.
    virtual HRESULT CheckCapabilities(DWORD *pCapabilities) = 0;
    virtual HRESULT IsFormatSupported(const GUID *pFormat) = 0;
    virtual HRESULT QueryPreferredFormat(GUID *pFormat) = 0;
    virtual HRESULT GetTimeFormat(GUID *pFormat) = 0;
    virtual HRESULT IsUsingTimeFormat(const GUID *pFormat) = 0;
    virtual HRESULT SetTimeFormat(const GUID *pFormat) = 0;
    virtual HRESULT GetDuration(LONGLONG *pDuration) = 0;
    virtual HRESULT GetStopPosition(LONGLONG *pStop) = 0;
    virtual HRESULT GetCurrentPosition(LONGLONG *pCurrent) = 0;
    virtual HRESULT ConvertTimeFormat(LONGLONG *pTarget, const GUID *pTargetFormat, LONGLONG Source,
                                      const GUID *pSourceFormat) = 0;
    virtual HRESULT SetPositions(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop,
                                 DWORD dwStopFlags) = 0;
    virtual HRESULT GetPositions(LONGLONG *pCurrent, LONGLONG *pStop) = 0;
    virtual HRESULT GetAvailable(LONGLONG *pEarliest, LONGLONG *pLatest) = 0;
    virtual HRESULT SetRate(double dRate) = 0;
    virtual HRESULT GetRate(double *pdRate) = 0;
    virtual HRESULT GetPreroll(LONGLONG *pllPreroll) = 0;

protected:
    ~IMediaSeeking() = default;
};

// Filters report events to the graph through this (EC_COMPLETE ...).
struct IMediaEventSink : IUnknown {
    static constexpr const IID &iid = IID_IMediaEventSink;
    virtual HRESULT Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) = 0;

protected:
    ~IMediaEventSink() = default;
};

struct IAMFilterMiscFlags : IUnknown {
    static constexpr const IID &iid = IID_IAMFilterMiscFlags;
    virtual ULONG GetMiscFlags() = 0;

protected:
    ~IAMFilterMiscFlags() = default;
};

struct IFileSourceFilter : IUnknown {
    static constexpr const IID &iid = IID_IFileSourceFilter;
    virtual HRESULT Load(LPCWSTR pszFileName, const AM_MEDIA_TYPE *pmt) = 0;
    // *ppszFileName is allocated with new[]; free with delete[].
    virtual HRESULT GetCurFile(LPWSTR *ppszFileName, AM_MEDIA_TYPE *pmt) = 0;

protected:
    ~IFileSourceFilter() = default;
};

struct IBindCtx;  // never used; always null

// What the graph builder callback is shown for a catalogue filter it is
// about to use. BindToObject creates a new instance of the filter.
struct IMoniker : IUnknown {
    static constexpr const IID &iid = IID_IMoniker;
    virtual HRESULT BindToObject(IBindCtx *pbc, IMoniker *pmkToLeft, REFIID riidResult,
                                 void **ppvResult) = 0;
    // The filter's name in the catalogue; allocated with new[].
    virtual HRESULT GetDisplayName(IBindCtx *pbc, IMoniker *pmkToLeft, LPWSTR *ppszDisplayName) = 0;

protected:
    ~IMoniker() = default;
};

// Installed on the graph with IObjectWithSite::SetSite. Called on the thread
// that runs IGraphBuilder::Connect / Render.
struct IAMGraphBuilderCallback : IUnknown {
    static constexpr const IID &iid = IID_IAMGraphBuilderCallback;
    // A failure code vetoes the filter.
    virtual HRESULT SelectedFilter(IMoniker *pMon) = 0;
    // A failure code vetoes the created filter too.
    virtual HRESULT CreatedFilter(IBaseFilter *pFil) = 0;

protected:
    ~IAMGraphBuilderCallback() = default;
};

struct IObjectWithSite : IUnknown {
    static constexpr const IID &iid = IID_IObjectWithSite;
    // The site is referenced until replaced (null clears it).
    virtual HRESULT SetSite(IUnknown *pUnkSite) = 0;
    virtual HRESULT GetSite(REFIID riid, void **ppvSite) = 0;

protected:
    ~IObjectWithSite() = default;
};

struct ICaptureGraphBuilder2 : IUnknown {
    static constexpr const IID &iid = IID_ICaptureGraphBuilder2;
    virtual HRESULT SetFiltergraph(IGraphBuilder *pfg) = 0;
    virtual HRESULT GetFiltergraph(IGraphBuilder **ppfg) = 0;
    virtual HRESULT FindInterface(const GUID *pCategory, const GUID *pType, IBaseFilter *pf,
                                  REFIID riid, void **ppint) = 0;
    // pSource: a filter or an output pin; pfCompressor may be null.
    virtual HRESULT RenderStream(const GUID *pCategory, const GUID *pType, IUnknown *pSource,
                                 IBaseFilter *pfCompressor, IBaseFilter *pfRenderer) = 0;
    // The num-th (0-based) pin of pSource that matches; pCategory and pType
    // may be null (any).
    virtual HRESULT FindPin(IUnknown *pSource, PIN_DIRECTION pindir, const GUID *pCategory,
                            const GUID *pType, BOOL fUnconnected, int num, IPin **ppPin) = 0;

protected:
    ~ICaptureGraphBuilder2() = default;
};

// Pins that belong to a category (PIN_CATEGORY_CAPTURE ...) answer Get for
// AMPROPSETID_Pin / AMPROPERTY_PIN_CATEGORY with that GUID.
enum AMPROPERTY_PIN { AMPROPERTY_PIN_CATEGORY = 0, AMPROPERTY_PIN_MEDIUM = 1 };

struct IKsPropertySet : IUnknown {
    static constexpr const IID &iid = IID_IKsPropertySet;
    virtual HRESULT Set(REFGUID guidPropSet, DWORD dwPropID, void *pInstanceData,
                        DWORD cbInstanceData, void *pPropData, DWORD cbPropData) = 0;
    virtual HRESULT Get(REFGUID guidPropSet, DWORD dwPropID, void *pInstanceData,
                        DWORD cbInstanceData, void *pPropData, DWORD cbPropData,
                        DWORD *pcbReturned) = 0;
    virtual HRESULT QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD *pTypeSupport) = 0;

protected:
    ~IKsPropertySet() = default;
};
