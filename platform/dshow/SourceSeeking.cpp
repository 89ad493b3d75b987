#include "platform/dshow/SourceSeeking.h"

#include "platform/dshow/Uuids.h"

#include <algorithm>

namespace {
constexpr DWORD kCaps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards
    | AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos
    | AM_SEEKING_CanGetDuration;
}

CSeekingSourceStream::CSeekingSourceStream(CSource *pFilter, LPCWSTR pName)
    : CSourceStream(pFilter, pName)
{
}

HRESULT CSeekingSourceStream::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IMediaSeeking)
        return GetInterface(static_cast<IMediaSeeking *>(this), ppv);
    if (riid == IID_ISeekingAtRate)
        return GetInterface(static_cast<ISeekingAtRate *>(this), ppv);
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

void CSeekingSourceStream::SetDuration(REFERENCE_TIME duration)
{
    CAutoLock lock(*m_pLock);
    const bool stopWasEnd = m_rtStop.load() == MAX_TIME || m_rtStop.load() == m_rtDuration;
    m_rtDuration = duration;
    // A length not known (0) is no stop: the stream runs to its last frame.
    if (stopWasEnd)
        m_rtStop.store(duration > 0 ? duration : MAX_TIME);
}

// ---- Capabilities and formats -------------------------------------------------

HRESULT CSeekingSourceStream::GetCapabilities(DWORD *pCapabilities)
{
    if (!pCapabilities)
        return E_POINTER;
    *pCapabilities = kCaps;
    return S_OK;
}

// ---- Positions --------------------------------------------------------------------

HRESULT CSeekingSourceStream::GetDuration(LONGLONG *pDuration)
{
    if (!pDuration)
        return E_POINTER;
    CAutoLock lock(*m_pLock);
    *pDuration = m_rtDuration;
    return S_OK;
}

HRESULT CSeekingSourceStream::GetStopPosition(LONGLONG *pStop)
{
    if (!pStop)
        return E_POINTER;
    *pStop = m_rtStop.load();
    return S_OK;
}

HRESULT CSeekingSourceStream::GetCurrentPosition(LONGLONG *pCurrent)
{
    if (!pCurrent)
        return E_POINTER;
    const REFERENCE_TIME sent = m_rtLastSent.load();
    CAutoLock lock(*m_pLock);
    *pCurrent = sent >= 0 ? sent : m_rtSegmentStart;
    return S_OK;
}

HRESULT CSeekingSourceStream::GetPositions(LONGLONG *pCurrent, LONGLONG *pStop)
{
    HRESULT hr = S_OK;
    if (pCurrent)
        hr = GetCurrentPosition(pCurrent);
    if (pStop && SUCCEEDED(hr))
        hr = GetStopPosition(pStop);
    return hr;
}

HRESULT CSeekingSourceStream::GetAvailable(LONGLONG *pEarliest, LONGLONG *pLatest)
{
    CAutoLock lock(*m_pLock);
    if (pEarliest)
        *pEarliest = 0;
    if (pLatest)
        *pLatest = m_rtDuration;
    return S_OK;
}

HRESULT CSeekingSourceStream::GetPreroll(LONGLONG *pllPreroll)
{
    if (!pllPreroll)
        return E_POINTER;
    *pllPreroll = 0;
    return S_OK;
}

HRESULT CSeekingSourceStream::SetPositions(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop,
                                           DWORD dwStopFlags)
{
    CAutoLock lock(*m_pLock);
    SeekRequest request;
    const HRESULT checked = ResolveSeek(pCurrent, dwCurrentFlags, pStop, dwStopFlags,
                                        {m_rtRequested, m_rtStop.load(), m_rtDuration}, &request);
    if (FAILED(checked))
        return checked;
    if (request.setsStop)
        m_rtStop.store(request.stop);
    HRESULT hr = S_OK;
    if (request.moves)
        hr = Reposition(request.current, request.toKeyFrame);
    if (pCurrent && (dwCurrentFlags & AM_SEEKING_ReturnTime))
        *pCurrent = m_rtSegmentStart;
    if (pStop && (dwStopFlags & AM_SEEKING_ReturnTime))
        *pStop = m_rtStop.load();
    return hr;
}

HRESULT CSeekingSourceStream::SetRate(double dRate)
{
    if (dRate <= 0.0)
        return E_INVALIDARG;
    CAutoLock lock(*m_pLock);
    if (dRate == m_dRate)
        return S_OK;
    if (!ThreadExists()) {
        m_dRate = dRate;
        return S_OK;
    }
    // Stream times change scale: start a new segment where we are.
    REFERENCE_TIME here = m_rtLastSent.load();
    if (here < 0)
        here = m_rtSegmentStart;
    m_dRate = dRate;
    return Reposition(here, false);
}

HRESULT CSeekingSourceStream::SetRateAt(double dRate, REFERENCE_TIME position)
{
    if (dRate <= 0.0)
        return E_INVALIDARG;
    CAutoLock lock(*m_pLock);
    LONGLONG at = position;
    SeekRequest request;
    const HRESULT checked = ResolveSeek(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning,
                                        {m_rtRequested, m_rtStop.load(), m_rtDuration}, &request);
    if (FAILED(checked))
        return checked;
    m_dRate = dRate;
    return Reposition(request.current, false);
}

HRESULT CSeekingSourceStream::GetRate(double *pdRate)
{
    if (!pdRate)
        return E_POINTER;
    CAutoLock lock(*m_pLock);
    *pdRate = m_dRate;
    return S_OK;
}

// ---- Restarting --------------------------------------------------------------------

HRESULT CSeekingSourceStream::Reposition(REFERENCE_TIME target, bool toKeyFrame)
{
    CritCheckIn(*m_pLock);
    const bool streaming = ThreadExists();
    if (streaming) {
        DeliverBeginFlush();  // releases a thread held downstream
        StopThread();
    }
    REFERENCE_TIME keyFrame = target;
    HRESULT hr = SeekTo(target, &keyFrame);
    m_rtRequested = target;
    m_bToKeyFrame = toKeyFrame;
    m_rtSegmentStart = toKeyFrame && SUCCEEDED(hr) ? keyFrame : target;
    m_rtLastSent.store(-1);
    m_bDiscontinuity = true;
    if (streaming) {
        DeliverEndFlush();
        const HRESULT started = StartThread();
        if (SUCCEEDED(hr))
            hr = started;
    }
    return hr;
}

HRESULT CSeekingSourceStream::Active()
{
    CritCheckIn(*m_pLock);
    if (IsConnected()) {
        // Start again from the last position asked for.
        REFERENCE_TIME keyFrame = m_rtRequested;
        if (SUCCEEDED(SeekTo(m_rtRequested, &keyFrame)) && m_bToKeyFrame)
            m_rtSegmentStart = keyFrame;
        m_rtLastSent.store(-1);
        m_bDiscontinuity = true;
    }
    return CSourceStream::Active();
}

HRESULT CSeekingSourceStream::OnThreadStartPlay()
{
    DeliverNewSegment(m_rtSegmentStart, m_rtStop.load(), m_dRate);
    return S_OK;
}

HRESULT CSeekingSourceStream::FillBuffer(IMediaSample *pSample)
{
    const HRESULT hr = FillFrame(pSample);
    if (hr != S_OK)
        return hr;
    REFERENCE_TIME t0 = 0, t1 = 0;
    const HRESULT timed = pSample->GetTime(&t0, &t1);
    if (FAILED(timed))
        return S_OK;  // an untimed frame passes as it is
    if (t0 >= m_rtStop.load())
        return S_FALSE;
    const bool hasStop = timed == S_OK;
    // Preroll: the frame ends before the segment starts (a frame that
    // contains the target is shown, with a negative start).
    const bool preroll = hasStop ? t1 <= m_rtSegmentStart : t0 < m_rtSegmentStart;
    REFERENCE_TIME rel0 = static_cast<REFERENCE_TIME>((t0 - m_rtSegmentStart) / m_dRate);
    REFERENCE_TIME rel1 = static_cast<REFERENCE_TIME>((t1 - m_rtSegmentStart) / m_dRate);
    pSample->SetTime(&rel0, hasStop ? &rel1 : nullptr);
    pSample->SetMediaTime(&t0, &t1);
    pSample->SetPreroll(preroll);
    if (m_bDiscontinuity) {
        pSample->SetDiscontinuity(TRUE);
        m_bDiscontinuity = false;
    }
    if (!preroll)
        m_rtLastSent.store(t0);
    return S_OK;
}
