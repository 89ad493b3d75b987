#include "platform/dshow/MediaTimeSeeking.h"

#include "platform/dshow/Uuids.h"

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
