#include "platform/dshow/MediaTimeSeeking.h"

#include "platform/dshow/Uuids.h"

#include <algorithm>

HRESULT CMediaTimeSeeking::CheckCapabilities(DWORD *pCapabilities)
{
    if (!pCapabilities)
        return E_POINTER;
    DWORD have = 0;
    const HRESULT hr = GetCapabilities(&have);
    if (FAILED(hr))
        return hr;
    const DWORD asked = *pCapabilities;
    *pCapabilities &= have;
    if (*pCapabilities == asked)
        return S_OK;
    return *pCapabilities ? S_FALSE : E_FAIL;
}

HRESULT CMediaTimeSeeking::IsFormatSupported(const GUID *pFormat)
{
    if (!pFormat)
        return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT CMediaTimeSeeking::QueryPreferredFormat(GUID *pFormat)
{
    if (!pFormat)
        return E_POINTER;
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT CMediaTimeSeeking::GetTimeFormat(GUID *pFormat) { return QueryPreferredFormat(pFormat); }

HRESULT CMediaTimeSeeking::IsUsingTimeFormat(const GUID *pFormat) { return IsFormatSupported(pFormat); }

HRESULT CMediaTimeSeeking::SetTimeFormat(const GUID *pFormat)
{
    if (!pFormat)
        return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT CMediaTimeSeeking::ConvertTimeFormat(LONGLONG *pTarget, const GUID *pTargetFormat, LONGLONG Source,
                                             const GUID *pSourceFormat)
{
    if (!pTarget)
        return E_POINTER;
    const auto isMediaTime = [](const GUID *f) { return !f || *f == TIME_FORMAT_MEDIA_TIME; };
    if (!isMediaTime(pTargetFormat) || !isMediaTime(pSourceFormat))
        return E_INVALIDARG;
    *pTarget = Source;
    return S_OK;
}

HRESULT CheckSeekingFlags(const LONGLONG *pCurrent, DWORD dwCurrentFlags, const LONGLONG *pStop,
                          DWORD dwStopFlags)
{
    const bool current = (dwCurrentFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_NoPositioning;
    const bool stop = (dwStopFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_NoPositioning;
    return (current && !pCurrent) || (stop && !pStop) ? E_POINTER : S_OK;
}

HRESULT ResolveSeek(const LONGLONG *pCurrent, DWORD dwCurrentFlags, const LONGLONG *pStop, DWORD dwStopFlags,
                    const SeekingState &state, SeekRequest *request)
{
    const HRESULT hr = CheckSeekingFlags(pCurrent, dwCurrentFlags, pStop, dwStopFlags);
    if (FAILED(hr))
        return hr;
    const DWORD currentBits = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
    if (currentBits == AM_SEEKING_IncrementalPositioning)
        return E_INVALIDARG;
    SeekRequest r;
    r.moves = currentBits != AM_SEEKING_NoPositioning;
    r.toKeyFrame = (dwCurrentFlags & AM_SEEKING_SeekToKeyFrame) != 0;
    r.current = state.requested;
    if (currentBits == AM_SEEKING_AbsolutePositioning)
        r.current = *pCurrent;
    else if (currentBits == AM_SEEKING_RelativePositioning)
        r.current = state.requested + *pCurrent;
    // A length that is not known is no limit: the target is not moved to 0.
    r.current = std::max<REFERENCE_TIME>(r.current, 0);
    if (state.duration > 0)
        r.current = std::min(r.current, state.duration);
    r.stop = state.stop;
    switch (dwStopFlags & AM_SEEKING_PositioningBitsMask) {
    case AM_SEEKING_AbsolutePositioning:
        r.stop = *pStop;
        r.setsStop = true;
        break;
    case AM_SEEKING_RelativePositioning:
        r.stop = state.stop == MAX_TIME ? MAX_TIME : state.stop + *pStop;
        r.setsStop = true;
        break;
    case AM_SEEKING_IncrementalPositioning:
        r.stop = r.current + std::max<LONGLONG>(*pStop, 0);
        r.setsStop = true;
        break;
    default:
        break;
    }
    if (r.setsStop)
        r.stop = std::max(r.stop, r.current);
    *request = r;
    return S_OK;
}
