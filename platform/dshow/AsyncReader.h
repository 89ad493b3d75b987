// The pull pin a file source offers to a splitter (IAsyncReader, media type
// MEDIATYPE_Stream): the splitter reads bytes at positions of its choosing,
// on its own thread, instead of being pushed samples.
//
// CAsyncStream is the bytes behind the pin (a file, or memory in tests).
// Requests queued with Request are read when the splitter collects them with
// WaitForNext; BeginFlush makes WaitForNext hand back every queued sample at
// once with VFW_E_WRONG_STATE, so a splitter thread waiting there returns
// while the graph seeks or stops.
//
// Threads: connection calls: UI thread. IAsyncReader: the splitter's thread
// (and the seeking thread for BeginFlush/EndFlush). One lock guards the
// request queue; reads run outside it, serialised by the stream lock.
#pragma once

#include "platform/dshow/Pins.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

class CAsyncStream {
public:
    virtual ~CAsyncStream() = default;
    // Reads up to `length` bytes at `position`; *pRead gets how many. S_FALSE
    // when fewer were left.
    virtual HRESULT Read(LONGLONG position, LONG length, BYTE *buffer, LONG *pRead) = 0;
    // The whole length; *pAvailable what can be read now (the same for files).
    virtual LONGLONG Size(LONGLONG *pAvailable) = 0;
};

// Bytes in memory.
class CMemoryStream final : public CAsyncStream {
public:
    explicit CMemoryStream(std::vector<BYTE> bytes) : m_bytes(std::move(bytes)) {}
    HRESULT Read(LONGLONG position, LONG length, BYTE *buffer, LONG *pRead) override;
    LONGLONG Size(LONGLONG *pAvailable) override;

private:
    const std::vector<BYTE> m_bytes;
};

class CAsyncOutputPin : public CBasePin, public IAsyncReader {
public:
    // The stream must outlive the pin (the filter owns both).
    CAsyncOutputPin(CBaseFilter *pFilter, CCritSec *pLock, LPCWSTR pName, CAsyncStream *pStream,
                    const CMediaType &type);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    HRESULT CheckMediaType(const CMediaType *pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType *pMediaType) override;
    HRESULT EndOfStream() override { return E_UNEXPECTED; }

    // IAsyncReader (the IPin flushing calls are the same methods).
    HRESULT RequestAllocator(IMemAllocator *pPreferred, ALLOCATOR_PROPERTIES *pProps,
                             IMemAllocator **ppActual) override;
    HRESULT Request(IMediaSample *pSample, DWORD_PTR dwUser) override;
    HRESULT WaitForNext(DWORD dwTimeout, IMediaSample **ppSample, DWORD_PTR *pdwUser) override;
    HRESULT SyncReadAligned(IMediaSample *pSample) override;
    HRESULT SyncRead(LONGLONG llPosition, LONG lLength, BYTE *pBuffer) override;
    HRESULT Length(LONGLONG *pTotal, LONGLONG *pAvailable) override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

private:
    struct PendingRead {
        ComPtr<IMediaSample> sample;
        DWORD_PTR user;
    };
    HRESULT ReadInto(IMediaSample *pSample);

    CAsyncStream *const m_pStream;
    const CMediaType m_type;
    std::mutex m_streamLock;  // one read at a time

    std::mutex m_queueLock;
    std::condition_variable m_queueChanged;
    std::deque<PendingRead> m_requests;
    bool m_bFlushing = false;
};
