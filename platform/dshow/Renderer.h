// CBaseRenderer: the base of every renderer (the video mixing renderer, the
// audio renderer, test renderers). It decides when a sample is presented;
// the derived class presents it (DoRenderSample).
//
// See Renderer.cpp for the states, the locks and the deadlock they avoid.
//
// Threads: Stop, Pause, Run, GetState, connection: UI thread. Receive,
// EndOfStream: the upstream streaming thread (through the input pin).
// BeginFlush/EndFlush: the seeking thread. FramesDrawn: any thread.
#pragma once

#include "platform/dshow/Control.h"
#include "platform/dshow/Pins.h"

#include <atomic>
#include <memory>

class CBaseRenderer;

// Our own interface: where a renderer's stream stands, for the graph's
// current position. {18CE8362-FDEB-4B2E-8B06-E520F844967B}
inline constexpr IID IID_IPresentedPosition{0x18CE8362, 0xFDEB, 0x4B2E,
                                            {0x8B, 0x06, 0xE5, 0x20, 0xF8, 0x44, 0x96, 0x7B}};
struct IPresentedPosition : IUnknown {
    static constexpr const IID &iid = IID_IPresentedPosition;
    // Any thread. S_OK with the media time of the sample last presented
    // (the paused picture, or the one last drawn while running): the
    // segment's start plus the sample's start scaled by the segment's rate.
    // S_FALSE when nothing was presented since streaming started or the last
    // flush; E_NOTIMPL for a renderer whose presentation is not where its
    // stream stands (the audio renderer writes ahead of what is heard).
    virtual HRESULT GetPresentedPosition(REFERENCE_TIME *pPosition) = 0;
    // The same sample's start in stream time (unscaled), for resuming a run
    // where the paused picture stands; same results.
    virtual HRESULT GetPresentedStreamTime(REFERENCE_TIME *pStreamTime) = 0;

protected:
    ~IPresentedPosition() = default;
};

class CRendererInputPin : public CBaseInputPin {
public:
    CRendererInputPin(CBaseRenderer *pRenderer, CCritSec *pLock, LPCWSTR pName);

    HRESULT CheckMediaType(const CMediaType *pmt) override;
    HRESULT SetMediaType(const CMediaType *pmt) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin *pReceivePin) override;
    HRESULT Receive(IMediaSample *pSample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

private:
    CBaseRenderer *const m_pRenderer;
};

class CBaseRenderer : public CBaseFilter, public IQualProp, public IAMFilterMiscFlags, public IPresentedPosition {
public:
    CBaseRenderer(REFCLSID clsid, LPCWSTR pName);
    ~CBaseRenderer() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    // IMediaFilter. Pause answers S_FALSE while no sample is cued.
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    // Paused without a cued sample (nor end of stream): waits up to the
    // time-out, then VFW_S_STATE_INTERMEDIATE.
    HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE *State) override;

    int GetPinCount() override { return 1; }
    CBasePin *GetPin(int n) override;

    // IQualProp: frames drawn counts every presentation (the cue in Paused
    // and each render while running).
    HRESULT get_FramesDroppedInRenderer(int *pcFrames) override;
    HRESULT get_FramesDrawn(int *pcFramesDrawn) override;
    HRESULT get_AvgFrameRate(int *piAvgFrameRate) override;
    HRESULT get_Jitter(int *iJitter) override;
    HRESULT get_AvgSyncOffset(int *piAvg) override;
    HRESULT get_DevSyncOffset(int *piDev) override;

    // IAMFilterMiscFlags: a renderer (the graph counts it for EC_COMPLETE).
    ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    HRESULT GetPresentedPosition(REFERENCE_TIME *pPosition) override;
    HRESULT GetPresentedStreamTime(REFERENCE_TIME *pStreamTime) override;

    // ---- For derived classes ----
    virtual HRESULT CheckMediaType(const CMediaType *pmt) = 0;
    // Streaming thread, streaming lock held: present the sample now. Must
    // not wait for the UI thread, so no SendMessage, not even through
    // SendGraphMessage: a pause takes the streaming lock held here, and the
    // graph releases sends for a stop or a seek, not for a pause. Post.
    virtual HRESULT DoRenderSample(IMediaSample *pMediaSample) = 0;
    // Streaming thread, streaming lock held (the same rule): the sample that
    // completes a pause (shown as the still picture). Default: DoRenderSample.
    virtual void OnReceiveFirstSample(IMediaSample *pMediaSample);
    // S_OK: present at once; S_FALSE: at its time on the clock.
    virtual HRESULT ShouldDrawSampleNow(IMediaSample *pMediaSample, REFERENCE_TIME *ptrStart,
                                        REFERENCE_TIME *ptrEnd);
    virtual HRESULT SetMediaType(const CMediaType *pmt);
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin *pReceivePin);
    // UI thread, both locks held: Stopped -> Paused, and back.
    virtual HRESULT OnStartStreaming();
    virtual HRESULT OnStopStreaming();
    // Streaming thread: a new segment begins (after a seek).
    virtual void OnNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);
    // True (the default) for a renderer that shows a still picture while
    // paused: a flush then asks the graph to repaint it (EC_REPAINT).
    virtual bool RepaintsWhenPaused() const { return true; }

    // ---- Called by the input pin ----
    HRESULT Receive(IMediaSample *pSample);
    void NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);
    HRESULT EndOfStream();
    HRESULT BeginFlush();
    HRESULT EndFlush();

    int FramesDrawn() const { return m_cFramesDrawn.load(std::memory_order_acquire); }
    CRendererInputPin *InputPin() const { return m_pInputPin.get(); }

protected:
    CCritSec m_InterfaceLock;  // the state lock
    CCritSec m_RendererLock;   // the streaming lock: the sample slot and flags
    std::unique_ptr<CRendererInputPin> m_pInputPin;

private:
    HRESULT PrepareReceive(IMediaSample *pSample);
    HRESULT WaitForRenderTime();
    bool IsTimeToRenderLocked();
    void CueLocked();
    void NotePresentedLocked(IMediaSample *pSample);
    void RenderPending();
    void LeaveReceive();
    void CancelAdviseLocked();
    void AbortLocked();
    void WaitForReceiveToComplete();
    void SendEndOfStreamLocked();
    HRESULT CompleteStateChangeLocked(FILTER_STATE oldState);
    void Ready() { m_evComplete.Set(); }
    void NotReady() { m_evComplete.Reset(); }

    // Guarded by m_RendererLock.
    ComPtr<IMediaSample> m_pMediaSample;  // the sample waiting to be presented
    bool m_bCued = false;       // it was presented as the paused picture
    bool m_bAbort = false;      // stopped or flushing: no waiting, no render
    bool m_bInReceive = false;  // a streaming thread is inside Receive
    bool m_bEOS = false;        // end of stream received
    bool m_bEOSDelivered = false;
    DWORD_PTR m_dwAdvise = 0;
    REFERENCE_TIME m_adviseDue = 0;

    CAMEvent m_RenderEvent{false};  // clock advise, state change, flush
    CAMEvent m_evComplete{true};    // set: the state transition is complete
    CAMEvent m_evIdle{true};        // set: no streaming thread in Receive
    std::atomic<int> m_cFramesDrawn{0};
    // Written under m_RendererLock, read anywhere; kNotPresented when none.
    static constexpr REFERENCE_TIME kNotPresented = INT64_MIN;
    std::atomic<REFERENCE_TIME> m_presented{kNotPresented};
    std::atomic<REFERENCE_TIME> m_presentedStream{kNotPresented};  // its stream time
    REFERENCE_TIME m_flushedPicture = kNotPresented;  // m_RendererLock: what a flush took away
    REFERENCE_TIME m_segmentStart = 0;  // m_RendererLock: the segment, as NewSegment told it
    double m_segmentRate = 1.0;
};
