// CFanOutFilter: one push input, several outputs, each input sample handed
// to the derived filter's Process, which delivers to whichever outputs are
// connected (a tee copies it to each, the DV splitter sends the picture one
// way and the sound the other). Flushes, new segments and end of stream go
// to every connected output; the outputs stream with any of them connected.
// Each output delivers on its own thread (OutputQueue.h).
//
// Locks: m_csFilter (state, connections; UI thread) and m_csReceive (held by
// the streaming thread for the whole of Process). Stop first inactivates the
// pins, which releases a streaming thread waiting for an output buffer, then
// takes m_csReceive so that no Process runs once Stop returns.
//
// Threads: as CTransformFilter.
#pragma once

#include "platform/dshow/OutputQueue.h"
#include "platform/dshow/Pins.h"

#include <memory>
#include <vector>

class CFanOutFilter;

class CFanOutInputPin final : public CBaseInputPin {
public:
    CFanOutInputPin(CFanOutFilter *filter, CCritSec *lock, LPCWSTR name);
    HRESULT CheckMediaType(const CMediaType *pmt) override;
    HRESULT CompleteConnect(IPin *pReceivePin) override;
    HRESULT BreakConnect() override;
    HRESULT Receive(IMediaSample *pSample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

private:
    CFanOutFilter *const m_fan;
};

class CFanOutOutputPin final : public CBaseOutputPin {
public:
    CFanOutOutputPin(CFanOutFilter *filter, CCritSec *lock, LPCWSTR name, int index);
    HRESULT CheckMediaType(const CMediaType *pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType *pMediaType) override;
    HRESULT DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProps) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    int Index() const { return m_index; }
    COutputQueue &Queue() { return m_queue; }

private:
    CFanOutFilter *const m_fan;
    const int m_index;
    COutputQueue m_queue;
};

class CFanOutFilter : public CBaseFilter {
    friend class CFanOutInputPin;

public:
    // One output per name.
    CFanOutFilter(LPCWSTR name, REFCLSID clsid, const std::vector<std::wstring> &outputs);
    ~CFanOutFilter() override;

    int GetPinCount() override { return 1 + static_cast<int>(m_outputs.size()); }
    CBasePin *GetPin(int n) override;
    HRESULT Stop() override;

    CFanOutInputPin *InputPin() { return m_input.get(); }
    CFanOutOutputPin *OutputPin(int index) { return m_outputs[static_cast<size_t>(index)].get(); }

    // ---- For derived classes ----
    // The input's types (UI thread).
    virtual HRESULT CheckInputType(const CMediaType *pmt) = 0;
    // The input connected with `type`: work out the output types.
    virtual HRESULT InputConnected(const CMediaType &type) { (void)type; return S_OK; }
    virtual void InputDisconnected() {}
    // The type output `index` offers; false while it has none (input not connected).
    virtual bool OutputType(int index, CMediaType *pmt) = 0;
    // Buffers output `index` needs.
    virtual void OutputBuffers(int index, LONG *count, LONG *size) = 0;
    // One input sample (streaming thread, m_csReceive held). S_OK goes on.
    virtual HRESULT Process(IMediaSample *sample) = 0;
    // A flush ended or the stream stopped: forget what was kept between samples.
    virtual void ResetStream() {}

    // For Process: a buffer from output `index` with the sample's
    // properties, the data copied in when `data` is set.
    HRESULT DeliverCopy(int index, IMediaSample *from, const BYTE *data, LONG length);

protected:
    CCritSec m_csFilter;
    CCritSec m_csReceive;

private:
    std::unique_ptr<CFanOutInputPin> m_input;
    std::vector<std::unique_ptr<CFanOutOutputPin>> m_outputs;
};
