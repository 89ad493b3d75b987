// CTransInPlaceFilter: a pass-through stage that sees (and may change or
// drop) each sample in its own buffer: the notifiers, the frame notifier.
//
// The output type is the input type. When both connections agree, the
// upstream filter writes straight into the downstream filter's buffers (one
// allocator shared across the filter) and a sample crosses without a copy;
// otherwise, or when upstream hands read-only buffers to a filter that
// modifies data, Receive copies into an output buffer first.
//
// A sample answered S_FALSE by Transform is not delivered; the stream goes on.
//
// Locks and states are CTransformFilter's (TransformFilter.cpp).
// Threads: as CTransformFilter.
#pragma once

#include "platform/dshow/SampleTimeOrder.h"
#include "platform/dshow/TransformFilter.h"

class CTransInPlaceFilter;

class CTransInPlaceInputPin : public CTransformInputPin {
public:
    CTransInPlaceInputPin(CTransInPlaceFilter *pFilter, CCritSec *pLock, LPCWSTR pName);

    // With the output connected: the downstream filter's allocator.
    HRESULT GetAllocator(IMemAllocator **ppAllocator) override;
    HRESULT NotifyAllocator(IMemAllocator *pAllocator, BOOL bReadOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES *pProps) override;
    // Our preferred input types are those downstream takes.
    HRESULT EnumMediaTypes(IEnumMediaTypes **ppEnum) override;
    HRESULT CheckMediaType(const CMediaType *pmt) override;

private:
    CTransInPlaceFilter *const m_pTIPFilter;
};

// Passes the downstream decoder's question about decoding-order times to
// the pin upstream: a pass-through stage changes no sample's time.
class CTransInPlaceOutputPin : public CTransformOutputPin, public ISampleTimeOrder {
public:
    CTransInPlaceOutputPin(CTransInPlaceFilter *pFilter, CCritSec *pLock, LPCWSTR pName);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;
    // The upstream pin's answer; false when it has none.
    bool DecodingOrder() override;

    // The input's allocator when downstream accepts it, else our own.
    HRESULT DecideAllocator(IMemInputPin *pPin, IMemAllocator **ppAlloc) override;
    // Upstream switched allocators and downstream took the new one too.
    void ReplaceAllocator(IMemAllocator *pAllocator) { m_pAllocator = pAllocator; }
    IMemInputPin *ConnectedMemInputPin() const { return m_pInputPin.Get(); }

private:
    CTransInPlaceFilter *const m_pTIPFilter;
};

class CTransInPlaceFilter : public CTransformFilter {
public:
    // bModifiesData: Transform writes into the sample (read-only buffers
    // from upstream are then copied first).
    CTransInPlaceFilter(LPCWSTR pName, REFCLSID clsid, bool bModifiesData = true);

    // Streaming thread, streaming lock held. S_OK delivers the sample,
    // S_FALSE drops it, a failure stops the stream.
    virtual HRESULT Transform(IMediaSample *pSample) = 0;
    virtual HRESULT CheckInputType(const CMediaType *mtIn) override = 0;

    HRESULT Receive(IMediaSample *pSample) override;
    // Not used: samples stay in their buffer.
    HRESULT Transform(IMediaSample *, IMediaSample *) final { return E_UNEXPECTED; }

    // The output type is the input type; no buffers of our own to size
    // unless the allocators differ (then the input's properties are used).
    HRESULT CheckTransform(const CMediaType *mtIn, const CMediaType *mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProp) override;
    HRESULT GetMediaType(int iPosition, CMediaType *pMediaType) override;

    bool ModifiesData() const { return m_bModifiesData; }
    // True when upstream's buffers reach downstream as they are.
    bool UsingSameAllocator() const;

protected:
    // A copy of pSample in an output buffer, or null when none is free.
    HRESULT Copy(IMediaSample *pSource, IMediaSample **ppDest);

private:
    friend class CTransInPlaceInputPin;
    friend class CTransInPlaceOutputPin;
    CTransInPlaceInputPin *InPlaceInput() const;
    CTransInPlaceOutputPin *InPlaceOutput() const;
    const bool m_bModifiesData;
};
