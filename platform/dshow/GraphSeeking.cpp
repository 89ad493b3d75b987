// The graph's IMediaSeeking: forwarded to the filters that can seek.
//
// A filter that can seek is one with a connected output pin answering
// IMediaSeeking (a splitter's or a source's pin); the first such pin of each
// filter is told, and a filter seeks all its streams together. A filter
// without such pins may answer IMediaSeeking itself.
//
// A seek of a running graph pauses it, seeks (each source flushes
// downstream and sends NewSegment), and runs it again from stream time 0;
// the graph's SendGate is closed meanwhile, so a streaming thread waiting in
// a send to the UI thread returns. A rate change is a seek too: each source
// starts a new segment at the new rate where the picture on screen is (one
// seek of the file, ISeekingAtRate), and the renderers' ends are counted
// again. While the graph moves its sources itself, the repaints renderers
// ask for after the flushes are not needed (m_repositioning).
//
// The current position is where the picture on screen stands: the media
// time of the sample a renderer last presented (IPresentedPosition; the
// paused picture, or the one being shown while running). Until one has been
// presented (and in graphs whose renderers cannot tell, audio alone) it is
// the segment start plus the stream time scaled by the rate while running,
// else what the source says. Stopped, it is where the next run resumes.
#include "platform/dshow/FilterGraph.h"

#include "platform/dshow/Renderer.h"
#include "platform/dshow/Uuids.h"

#include <algorithm>

std::vector<ComPtr<IMediaSeeking>> CFilterGraph::SeekableFilters() const
{
    std::vector<ComPtr<IMediaSeeking>> found;
    for (const Entry &e : m_filters) {
        bool hasOutput = false;
        ComPtr<IMediaSeeking> seeking;
        for (const ComPtr<IPin> &pin : dshow::PinsOf(e.filter.Get(), PINDIR_OUTPUT)) {
            if (!dshow::PeerOf(pin.Get()))
                continue;
            hasOutput = true;
            if ((seeking = ComQuery<IMediaSeeking>(pin.Get())))
                break;
        }
        if (!seeking && hasOutput)
            seeking = ComQuery<IMediaSeeking>(e.filter.Get());
        if (seeking)
            found.push_back(seeking);
    }
    return found;
}

// ---- Capabilities and formats -------------------------------------------------

HRESULT CFilterGraph::GetCapabilities(DWORD *pCapabilities)
{
    if (!pCapabilities)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    const auto seekables = SeekableFilters();
    *pCapabilities = 0;
    if (seekables.empty())
        return E_NOTIMPL;
    DWORD all = ~DWORD{0};
    for (const auto &s : seekables) {
        DWORD caps = 0;
        s->GetCapabilities(&caps);
        all &= caps;
    }
    *pCapabilities = all;
    return S_OK;
}

// ---- Positions --------------------------------------------------------------------

HRESULT CFilterGraph::GetDuration(LONGLONG *pDuration)
{
    if (!pDuration)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    const auto seekables = SeekableFilters();
    if (seekables.empty())
        return E_NOTIMPL;
    LONGLONG longest = 0;
    for (const auto &s : seekables) {
        LONGLONG d = 0;
        if (SUCCEEDED(s->GetDuration(&d)))
            longest = std::max(longest, d);
    }
    *pDuration = longest;
    return S_OK;
}

HRESULT CFilterGraph::GetStopPosition(LONGLONG *pStop)
{
    if (!pStop)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    const auto seekables = SeekableFilters();
    if (seekables.empty())
        return E_NOTIMPL;
    return seekables.front()->GetStopPosition(pStop);
}

HRESULT CFilterGraph::GetCurrentPosition(LONGLONG *pCurrent)
{
    if (!pCurrent)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    const auto seekables = SeekableFilters();
    if (seekables.empty())
        return E_NOTIMPL;
    if (m_state == GraphState::Stopped) {
        if (!m_resumePending)
            return seekables.front()->GetCurrentPosition(pCurrent);
        *pCurrent = m_resumeAt;
        return S_OK;
    }
    if (PresentedPosition(pCurrent))
        return S_OK;
    if (m_state != GraphState::Running || !m_clock)
        return seekables.front()->GetCurrentPosition(pCurrent);
    const REFERENCE_TIME streamed = std::max<REFERENCE_TIME>(StreamTime(), 0);
    LONGLONG position = m_segmentStart + static_cast<LONGLONG>(static_cast<double>(streamed) * m_rate);
    LONGLONG stop = MAX_TIME;
    if (SUCCEEDED(seekables.front()->GetStopPosition(&stop)))
        position = std::min(position, stop);
    *pCurrent = position;
    return S_OK;
}

// The first renderer, downstream first, that has presented a sample.
bool CFilterGraph::PresentedPosition(REFERENCE_TIME *pPosition) const
{
    for (const ComPtr<IBaseFilter> &filter : DownstreamFirst())
        if (auto presented = ComQuery<IPresentedPosition>(filter.Get()))
            if (presented->GetPresentedPosition(pPosition) == S_OK)
                return true;
    return false;
}

bool CFilterGraph::PresentedStreamTime(REFERENCE_TIME *pStreamTime) const
{
    for (const ComPtr<IBaseFilter> &filter : DownstreamFirst())
        if (auto presented = ComQuery<IPresentedPosition>(filter.Get()))
            if (presented->GetPresentedStreamTime(pStreamTime) == S_OK)
                return true;
    return false;
}

HRESULT CFilterGraph::GetPositions(LONGLONG *pCurrent, LONGLONG *pStop)
{
    HRESULT hr = S_OK;
    if (pCurrent)
        hr = GetCurrentPosition(pCurrent);
    if (pStop && SUCCEEDED(hr))
        hr = GetStopPosition(pStop);
    return hr;
}

HRESULT CFilterGraph::GetAvailable(LONGLONG *pEarliest, LONGLONG *pLatest)
{
    if (pEarliest)
        *pEarliest = 0;
    return pLatest ? GetDuration(pLatest) : S_OK;
}

HRESULT CFilterGraph::GetPreroll(LONGLONG *pllPreroll)
{
    if (!pllPreroll)
        return E_POINTER;
    *pllPreroll = 0;
    return S_OK;
}

namespace {
// Marks the graph's own moves of its sources while they last.
class Repositioning {
public:
    explicit Repositioning(std::atomic<bool> &flag) : m_flag(flag), m_was(flag.exchange(true)) {}
    ~Repositioning() { m_flag.store(m_was); }
    Repositioning(const Repositioning &) = delete;
    Repositioning &operator=(const Repositioning &) = delete;

private:
    std::atomic<bool> &m_flag;
    const bool m_was;
};
} // namespace

// Every seekable filter, each with its own copy of the positions; the first
// one's answer is the graph's.
HRESULT CFilterGraph::SeekAll(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop, DWORD dwStopFlags)
{
    const Repositioning own(m_repositioning);
    HRESULT first = S_OK;
    bool answered = false;
    for (const auto &s : SeekableFilters()) {
        LONGLONG current = pCurrent ? *pCurrent : 0;
        LONGLONG stop = pStop ? *pStop : 0;
        const HRESULT hr = s->SetPositions(pCurrent ? &current : nullptr, dwCurrentFlags | AM_SEEKING_ReturnTime,
                                           pStop ? &stop : nullptr, dwStopFlags | AM_SEEKING_ReturnTime);
        if (!answered) {
            first = hr;
            answered = true;
            if (pCurrent)
                *pCurrent = current;
            if (pStop)
                *pStop = stop;
        }
    }
    return first;
}

HRESULT CFilterGraph::SetPositions(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop,
                                   DWORD dwStopFlags)
{
    const HRESULT checked = CheckSeekingFlags(pCurrent, dwCurrentFlags, pStop, dwStopFlags);
    if (FAILED(checked))
        return checked;
    const DWORD currentBits = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopBits = dwStopFlags & AM_SEEKING_PositioningBitsMask;
    CAutoLock lock(m_csGraph);
    if (SeekableFilters().empty())
        return E_NOTIMPL;
    LONGLONG current = pCurrent ? *pCurrent : 0;
    DWORD currentFlags = dwCurrentFlags;
    if (currentBits == AM_SEEKING_RelativePositioning) {
        LONGLONG here = 0;
        GetCurrentPosition(&here);
        current += here;
        currentFlags = (dwCurrentFlags & ~AM_SEEKING_PositioningBitsMask) | AM_SEEKING_AbsolutePositioning;
    }
    LONGLONG stop = pStop ? *pStop : 0;

    const bool wasRunning = m_state == GraphState::Running;
    if (currentBits && wasRunning) {
        m_pausedStreamTime = StreamTime();
        PauseFilters();
        m_state = GraphState::Paused;
    }
    m_sendGate.Close();  // the flush must not wait for the UI thread
    const HRESULT hr = SeekAll(currentBits ? &current : nullptr, currentFlags, stopBits ? &stop : nullptr,
                               dwStopFlags);
    m_sendGate.Open();
    if (currentBits) {
        ForgetResume();  // asked for: no longer where a stop left it
        m_segmentStart = current;
        m_pausedStreamTime = 0;
        ResetCompletion();
        if (wasRunning)
            RunFilters(ClockTime());
    }
    if (pCurrent && (dwCurrentFlags & AM_SEEKING_ReturnTime))
        *pCurrent = current;
    if (pStop && (dwStopFlags & AM_SEEKING_ReturnTime))
        *pStop = stop;
    return hr;
}

void CFilterGraph::KeepResume(REFERENCE_TIME position)
{
    m_resumeAt = position;
    m_resumeSources = SeekableFilters();
    m_resumePending = true;
}

void CFilterGraph::ForgetResume()
{
    m_resumePending = false;
    m_resumeSources.clear();
}

// Leaving Stopped: the sources go back to the picture the stop left on
// screen (exactly, not to the key frame before it).
void CFilterGraph::ResumeWhereStopped()
{
    if (!m_resumePending)
        return;
    ForgetResume();
    LONGLONG at = m_resumeAt;
    SeekAll(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    m_segmentStart = at;
}

// ---- Rate -----------------------------------------------------------------------------

// A rate change restarts the streams where the picture on screen is, each
// with one seek, and counts the renderers' ends again: the streams are
// played anew from there.
HRESULT CFilterGraph::SetRate(double dRate)
{
    if (dRate <= 0.0)
        return E_INVALIDARG;
    CAutoLock lock(m_csGraph);
    if (dRate == m_rate)
        return S_OK;  // playing calls it every time: no needless restart
    const auto seekables = SeekableFilters();
    LONGLONG here = 0;
    const bool restarts = m_state != GraphState::Stopped && !seekables.empty()
        && SUCCEEDED(GetCurrentPosition(&here));
    const bool wasRunning = m_state == GraphState::Running;
    if (wasRunning) {
        PauseFilters();
        m_state = GraphState::Paused;
    }
    m_sendGate.Close();
    HRESULT hr = S_OK;
    const Repositioning own(m_repositioning);
    for (const auto &s : seekables) {
        const HRESULT one = restarts ? SetRateAt(s.Get(), dRate, here) : s->SetRate(dRate);
        if (FAILED(one) && SUCCEEDED(hr))
            hr = one;
    }
    m_sendGate.Open();
    if (FAILED(hr))
        return hr;
    m_rate = dRate;
    if (restarts) {
        m_segmentStart = here;
        ResetCompletion();
    }
    m_pausedStreamTime = 0;
    if (wasRunning)
        RunFilters(ClockTime());
    return S_OK;
}

// One restart where the filter can, else a rate change and a seek.
HRESULT CFilterGraph::SetRateAt(IMediaSeeking *seeking, double rate, REFERENCE_TIME position)
{
    if (auto atRate = ComQuery<ISeekingAtRate>(seeking))
        return atRate->SetRateAt(rate, position);
    const HRESULT hr = seeking->SetRate(rate);
    if (FAILED(hr))
        return hr;
    LONGLONG at = position;
    return seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
}

HRESULT CFilterGraph::GetRate(double *pdRate)
{
    if (!pdRate)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    *pdRate = m_rate;
    return S_OK;
}
