// IMediaSeeking in media time only, the one time format every seeking object
// here knows: the time-format half of the interface, and CheckCapabilities
// from the object's own GetCapabilities. The positions stay with each object;
// ResolveSeek reads what a SetPositions call asks of them, the same way for
// every seeking object.
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

// Our own interface: a new rate and a new position with one restart of the
// stream, one seek of the file (SetRate while streaming restarts it too).
// The graph's SetRate uses it. {0B3FB848-6BD3-4284-A9D9-FF3506224826}
inline constexpr IID IID_ISeekingAtRate{0x0B3FB848, 0x6BD3, 0x4284,
                                        {0xA9, 0xD9, 0xFF, 0x35, 0x06, 0x22, 0x48, 0x26}};
struct ISeekingAtRate : IUnknown {
    static constexpr const IID &iid = IID_ISeekingAtRate;
    // UI thread. As SetRate(dRate) and an exact seek to `position`.
    virtual HRESULT SetRateAt(double dRate, REFERENCE_TIME position) = 0;

protected:
    ~ISeekingAtRate() = default;
};

// The flags of a SetPositions call have their values: E_POINTER when a
// position is to be set through a null pointer.
HRESULT CheckSeekingFlags(const LONGLONG *pCurrent, DWORD dwCurrentFlags, const LONGLONG *pStop,
                          DWORD dwStopFlags);

// A seeking object's positions, as SetPositions starts from them.
struct SeekingState {
    REFERENCE_TIME requested = 0;   // the current position last asked for
    REFERENCE_TIME stop = MAX_TIME; // the stop in force
    REFERENCE_TIME duration = 0;    // 0 or less: not known
};

// What a SetPositions call asks for, in media time.
struct SeekRequest {
    bool moves = false;       // a new current position (a seek)
    bool toKeyFrame = false;  // AM_SEEKING_SeekToKeyFrame
    bool setsStop = false;
    REFERENCE_TIME current = 0;  // kept inside [0, duration]; at least 0 when the duration is not known
    REFERENCE_TIME stop = 0;     // never before current
};

// Checks the flags (CheckSeekingFlags; E_INVALIDARG for an incremental
// current position) and works out the new positions from `state`.
HRESULT ResolveSeek(const LONGLONG *pCurrent, DWORD dwCurrentFlags, const LONGLONG *pStop, DWORD dwStopFlags,
                    const SeekingState &state, SeekRequest *request);
