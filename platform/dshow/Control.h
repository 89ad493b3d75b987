// The graph's control interfaces (the SDK's control.h): media control, graph
// events, volume and the renderer's quality properties, with the event codes.
//
// UI thread, except where a method says otherwise.
#pragma once

#include "platform/dshow/Strmif.h"

using OAFilterState = LONG;  // FILTER_STATE as a LONG
using OAHWND = LONG_PTR;     // a message window (HWND)

// Event codes (evcode.h). Parameters as the SDK gives them.
inline constexpr LONG EC_COMPLETE = 0x01;  // (HRESULT result, IBaseFilter *renderer)
inline constexpr LONG EC_USERABORT = 0x02;
inline constexpr LONG EC_ERRORABORT = 0x03;  // (HRESULT, 0)
inline constexpr LONG EC_TIME = 0x04;
inline constexpr LONG EC_REPAINT = 0x05;
inline constexpr LONG EC_STREAM_ERROR_STOPPED = 0x06;
inline constexpr LONG EC_STREAM_ERROR_STILLPLAYING = 0x07;
inline constexpr LONG EC_ERROR_STILLPLAYING = 0x08;
inline constexpr LONG EC_VIDEO_SIZE_CHANGED = 0x0A;
inline constexpr LONG EC_QUALITY_CHANGE = 0x0B;
inline constexpr LONG EC_SHUTTING_DOWN = 0x0C;
inline constexpr LONG EC_CLOCK_CHANGED = 0x0D;
inline constexpr LONG EC_PAUSED = 0x0E;  // (HRESULT, 0)
inline constexpr LONG EC_DISPLAY_CHANGED = 0x16;
inline constexpr LONG EC_STATE_CHANGE = 0x32;
inline constexpr LONG EC_GRAPH_CHANGED = 0x50;
inline constexpr LONG EC_USER = 0x8000;

// IMediaEventEx::SetNotifyFlags.
inline constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x01;

struct IMediaControl : IUnknown {
    static constexpr const IID &iid = IID_IMediaControl;
    // S_FALSE: the graph is on its way (a renderer still waits for data);
    // GetState tells when it has arrived.
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    // Returns when no filter streams any more.
    virtual HRESULT Stop() = 0;
    // VFW_S_STATE_INTERMEDIATE (with the target state) when a filter has not
    // finished its transition within msTimeout.
    virtual HRESULT GetState(LONG msTimeout, OAFilterState *pfs) = 0;
    // Pauses, waits for the renderers' first samples, then stops.
    virtual HRESULT StopWhenReady() = 0;

protected:
    ~IMediaControl() = default;
};

// Events queued by the graph. The parameters of a fetched event are freed
// with FreeEventParams (EC_COMPLETE's renderer is referenced until then).
struct IMediaEvent : IUnknown {
    static constexpr const IID &iid = IID_IMediaEvent;
    // Any thread. E_ABORT when no event came within msTimeout.
    virtual HRESULT GetEvent(LONG *lEventCode, LONG_PTR *lParam1, LONG_PTR *lParam2, LONG msTimeout) = 0;
    // Any thread. E_ABORT on time-out; *pEvCode is EC_COMPLETE, EC_USERABORT
    // or EC_ERRORABORT otherwise. Does not consume the queued events.
    virtual HRESULT WaitForCompletion(LONG msTimeout, LONG *pEvCode) = 0;
    // Without default handling, each renderer's EC_COMPLETE is queued as is.
    virtual HRESULT CancelDefaultHandling(LONG lEvCode) = 0;
    virtual HRESULT RestoreDefaultHandling(LONG lEvCode) = 0;
    virtual HRESULT FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) = 0;

protected:
    ~IMediaEvent() = default;
};

struct IMediaEventEx : IMediaEvent {
    static constexpr const IID &iid = IID_IMediaEventEx;
    // Each queued event posts (lMsg, 0, lInstanceData) to hwnd, on the thread
    // that owns the window; the handler fetches events with GetEvent until
    // E_ABORT. hwnd 0 stops the notices.
    virtual HRESULT SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) = 0;
    virtual HRESULT SetNotifyFlags(LONG lNoNotifyFlags) = 0;
    virtual HRESULT GetNotifyFlags(LONG *lplNoNotifyFlags) = 0;

protected:
    ~IMediaEventEx() = default;
};

// Volume in hundredths of a decibel, -10000 (silence) to 0 (full).
struct IBasicAudio : IUnknown {
    static constexpr const IID &iid = IID_IBasicAudio;
    virtual HRESULT put_Volume(LONG lVolume) = 0;
    virtual HRESULT get_Volume(LONG *plVolume) = 0;
    // -10000 (left) to 10000 (right).
    virtual HRESULT put_Balance(LONG lBalance) = 0;
    virtual HRESULT get_Balance(LONG *plBalance) = 0;

protected:
    ~IBasicAudio() = default;
};

inline constexpr LONG AUDIO_VOLUME_MIN = -10000;
inline constexpr LONG AUDIO_VOLUME_MAX = 0;

// A renderer's statistics. Any thread.
struct IQualProp : IUnknown {
    static constexpr const IID &iid = IID_IQualProp;
    virtual HRESULT get_FramesDroppedInRenderer(int *pcFrames) = 0;
    virtual HRESULT get_FramesDrawn(int *pcFramesDrawn) = 0;
    virtual HRESULT get_AvgFrameRate(int *piAvgFrameRate) = 0;
    virtual HRESULT get_Jitter(int *iJitter) = 0;
    virtual HRESULT get_AvgSyncOffset(int *piAvg) = 0;
    virtual HRESULT get_DevSyncOffset(int *piDev) = 0;

protected:
    ~IQualProp() = default;
};
