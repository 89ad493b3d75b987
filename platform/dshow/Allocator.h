// Media samples and the memory allocator that lends them out.
//
// A CMediaSample is a buffer with times and flags. It is not deleted when its
// last reference goes: it goes back to its allocator, which clears it and
// hands it out again. Every sample that is out holds a reference to its
// allocator, so an allocator lives while any of its buffers is in use.
//
// CMemAllocator states:
//   not set      no properties yet: Commit fails (VFW_E_SIZENOTSET)
//   decommitted  properties set; GetBuffer fails (VFW_E_NOT_COMMITTED)
//   committed    buffers allocated; GetBuffer blocks while all are out
// Decommit wakes every blocked GetBuffer and frees the buffers as they come
// back, so a streaming thread waiting for a buffer is released when its filter
// stops. One lock guards the state and the free list; it is never held while
// calling out.
//
// Any thread. A sample is used by one thread at a time (whoever holds it).
#pragma once

#include "platform/dshow/Strmif.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class CMemAllocator;

class CMediaSample final : public IMediaSample {
public:
    // IUnknown: the last Release returns the sample to its allocator.
    HRESULT QueryInterface(REFIID riid, void **ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IMediaSample
    HRESULT GetPointer(BYTE **ppBuffer) override;
    LONG GetSize() override;
    HRESULT GetTime(REFERENCE_TIME *pTimeStart, REFERENCE_TIME *pTimeEnd) override;
    HRESULT SetTime(REFERENCE_TIME *pTimeStart, REFERENCE_TIME *pTimeEnd) override;
    HRESULT IsSyncPoint() override;
    HRESULT SetSyncPoint(BOOL bIsSyncPoint) override;
    HRESULT IsPreroll() override;
    HRESULT SetPreroll(BOOL bIsPreroll) override;
    LONG GetActualDataLength() override;
    HRESULT SetActualDataLength(LONG length) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE **ppMediaType) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE *pMediaType) override;
    HRESULT IsDiscontinuity() override;
    HRESULT SetDiscontinuity(BOOL bDiscontinuity) override;
    HRESULT GetMediaTime(LONGLONG *pTimeStart, LONGLONG *pTimeEnd) override;
    HRESULT SetMediaTime(LONGLONG *pTimeStart, LONGLONG *pTimeEnd) override;

private:
    friend class CMemAllocator;
    CMediaSample(CMemAllocator *allocator, LONG size, LONG align, LONG prefix);
    ~CMediaSample() = default;
    // Back to the state of a fresh buffer (allocator, on return).
    void Clear();

    CMemAllocator *const m_pAllocator;
    // prefix + alignment slack + buffer; left unfilled, so pages a stream
    // never writes are never touched (a 1080p pin reserves megabytes)
    std::unique_ptr<BYTE[]> m_memory;
    BYTE *m_pBuffer = nullptr;
    const LONG m_cbBuffer;
    std::atomic<ULONG> m_cRef{0};

    LONG m_lActual = 0;
    REFERENCE_TIME m_Start = 0;
    REFERENCE_TIME m_End = 0;
    LONGLONG m_MediaStart = 0;
    LONGLONG m_MediaEnd = 0;
    bool m_bTimeValid = false;
    bool m_bStopValid = false;
    bool m_bMediaTimeValid = false;
    bool m_bSyncPoint = false;
    bool m_bPreroll = false;
    bool m_bDiscontinuity = false;
    std::unique_ptr<AM_MEDIA_TYPE> m_pMediaType;
};

class CMemAllocator : public CUnknown, public IMemAllocator {
public:
    CMemAllocator() = default;
    ~CMemAllocator() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    // IMemAllocator
    HRESULT SetProperties(ALLOCATOR_PROPERTIES *pRequest, ALLOCATOR_PROPERTIES *pActual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES *pProps) override;
    HRESULT Commit() override;
    HRESULT Decommit() override;
    HRESULT GetBuffer(IMediaSample **ppBuffer, REFERENCE_TIME *pStartTime, REFERENCE_TIME *pEndTime,
                      DWORD dwFlags) override;
    HRESULT ReleaseBuffer(IMediaSample *pBuffer) override;

    // For tests and stop's postconditions.
    int OutstandingCount() const;
    bool IsCommitted() const;

private:
    void FreeIdleBuffers();  // lock held

    mutable std::mutex m_lock;
    std::condition_variable m_bufferFree;
    ALLOCATOR_PROPERTIES m_props{0, 0, 1, 0};
    bool m_bPropsSet = false;
    bool m_bCommitted = false;
    std::vector<CMediaSample *> m_free;
    int m_outstanding = 0;
};
