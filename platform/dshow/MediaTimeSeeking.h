// IMediaSeeking in media time only, the one time format every seeking object
// here knows: the time-format half of the interface, and CheckCapabilities
// from the object's own GetCapabilities. The positions stay with each object.
//
// Threads: whatever the object's GetCapabilities allows; the rest is pure.
#pragma once

#include "platform/dshow/Strmif.h"

class CMediaTimeSeeking : public IMediaSeeking {
public:
    // Keeps the asked bits that GetCapabilities has; S_FALSE when some are
    // missing, E_FAIL when all are.
    HRESULT CheckCapabilities(DWORD *pCapabilities) override;
    HRESULT IsFormatSupported(const GUID *pFormat) override;
    HRESULT QueryPreferredFormat(GUID *pFormat) override;
    HRESULT GetTimeFormat(GUID *pFormat) override;
    HRESULT IsUsingTimeFormat(const GUID *pFormat) override;
    // Media time in any state (the navigation asks for it while paused).
    HRESULT SetTimeFormat(const GUID *pFormat) override;
    HRESULT ConvertTimeFormat(LONGLONG *pTarget, const GUID *pTargetFormat, LONGLONG Source,
                              const GUID *pSourceFormat) override;

protected:
    ~CMediaTimeSeeking() = default;
};
