// CTransformFilter: one input, one output, each sample transformed from an
// input buffer into a separate output buffer (decoders, the resampler).
//
// See TransformFilter.cpp for the states, the locks and the deadlock they
// avoid.
//
// Threads: Stop, Pause, Run and the connection hooks: UI thread.
// Receive, Transform, EndOfStream, NewSegment: the upstream streaming thread.
// BeginFlush/EndFlush: the seeking thread.
#pragma once

#include "platform/dshow/Control.h"
#include "platform/dshow/Pins.h"

#include <memory>

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
public:
    CTransformInputPin(CTransformFilter *pFilter, CCritSec *pLock, LPCWSTR pName);

    HRESULT CheckMediaType(const CMediaType *pmt) override;
    HRESULT SetMediaType(const CMediaType *pmt) override;
    HRESULT CheckConnect(IPin *pPin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin *pReceivePin) override;
    HRESULT Receive(IMediaSample *pSample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

protected:
    CTransformFilter *const m_pTransformFilter;
};

class CTransformOutputPin : public CBaseOutputPin {
public:
    CTransformOutputPin(CTransformFilter *pFilter, CCritSec *pLock, LPCWSTR pName);

    HRESULT CheckMediaType(const CMediaType *pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType *pMediaType) override;
    HRESULT SetMediaType(const CMediaType *pmt) override;
    HRESULT CheckConnect(IPin *pPin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin *pReceivePin) override;
    HRESULT DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProp) override;

protected:
    CTransformFilter *const m_pTransformFilter;
};

class CTransformFilter : public CBaseFilter {
public:
    CTransformFilter(LPCWSTR pName, REFCLSID clsid);
    ~CTransformFilter() override;

    // IMediaFilter (UI thread).
    HRESULT Stop() override;
    HRESULT Pause() override;

    int GetPinCount() override { return 2; }
    CBasePin *GetPin(int n) override;

    // ---- For derived classes ----
    // Streaming thread, streaming lock held. S_OK delivers the output
    // sample, S_FALSE drops it (the stream goes on), a failure stops the
    // stream with EC_ERRORABORT.
    virtual HRESULT Transform(IMediaSample *pIn, IMediaSample *pOut) = 0;
    virtual HRESULT CheckInputType(const CMediaType *mtIn) = 0;
    virtual HRESULT CheckTransform(const CMediaType *mtIn, const CMediaType *mtOut) = 0;
    // Output buffers: fill pProp and call pAlloc->SetProperties.
    virtual HRESULT DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProp) = 0;
    // Output types by position (the input is connected when asked).
    virtual HRESULT GetMediaType(int iPosition, CMediaType *pMediaType) = 0;

    virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt);
    virtual HRESULT CheckConnect(PIN_DIRECTION dir, IPin *pPin);
    virtual HRESULT BreakConnect(PIN_DIRECTION dir);
    virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin *pReceivePin);
    // UI thread, both locks held: Stopped -> Paused and back.
    virtual HRESULT StartStreaming();
    virtual HRESULT StopStreaming();

    // Streaming thread. Receive takes the streaming lock, gets an output
    // buffer, copies the input's times and flags into it, transforms and
    // delivers.
    virtual HRESULT Receive(IMediaSample *pSample);
    virtual HRESULT EndOfStream();
    virtual HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);
    // Seeking thread; no lock (the streaming thread may be blocked downstream
    // with the streaming lock held until the flush reaches the renderer).
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();

    CTransformInputPin *InputPin() const { return m_pInput.get(); }
    CTransformOutputPin *OutputPin() const { return m_pOutput.get(); }

protected:
    // A new output buffer carrying the input sample's times and flags.
    HRESULT InitializeOutputSample(IMediaSample *pSample, IMediaSample **ppOutSample);
    // Streaming lock held: what Transform answered for pOut. A failure stops
    // the stream (EC_ERRORABORT); S_FALSE drops the sample, says so once
    // (EC_QUALITY_CHANGE) and marks the next one; S_OK delivers it.
    HRESULT DeliverTransformed(HRESULT transformed, IMediaSample *pOut);

    CCritSec m_csFilter;   // the state lock
    CCritSec m_csReceive;  // the streaming lock
    std::unique_ptr<CTransformInputPin> m_pInput;
    std::unique_ptr<CTransformOutputPin> m_pOutput;
    bool m_bEOSDelivered = false;     // state lock
    bool m_bSampleSkipped = false;    // streaming lock
    bool m_bQualityChanged = false;   // streaming lock
};

// Copies times, media times and flags (sync point, preroll, discontinuity)
// from one sample to another; the data length too when `withLength`.
void CopySampleProperties(IMediaSample *from, IMediaSample *to, bool withLength);
