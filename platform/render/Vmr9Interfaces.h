// The video mixing renderer's interfaces (the SDK's vmr9.h), with its
// identifiers and structs, and the host that a windowless renderer draws
// into.
//
// A clipping window here is a host object registered under a window handle
// (RegisterClippingHost); SetVideoClippingWindow and RepaintVideo take that
// handle. A device context (HDC) is the QImage drawn into: the mixer copies
// the bitmap when it is given (SetAlphaBitmap), as the SDK's does.
//
// Threads: as each interface says; the host is called from the streaming
// thread (a new frame) and from the UI thread (repaint, mixer changes).
#pragma once

#include "platform/base/MessageWindow.h"
#include "platform/dshow/Strmif.h"

#include <QImage>

#include <cstdlib>
#include <type_traits>

using COLORREF = DWORD;  // 0x00BBGGRR
using HDC = const QImage *;
using HMONITOR = uintptr_t;
using FLOAT = float;

// The SDK's task allocator, for the DIB GetCurrentImage hands out.
inline void *CoTaskMemAlloc(size_t cb) { return std::malloc(cb); }
inline void CoTaskMemFree(void *pv) { std::free(pv); }

inline constexpr IID IID_IVMRWindowlessControl9{0x8F537D09, 0xF85E, 0x4414, {0xB2, 0x3B, 0x50, 0x2E, 0x54, 0xC7, 0x99, 0x27}};
inline constexpr IID IID_IVMRMixerControl9{0x1A777EAA, 0x47C8, 0x4930, {0xB2, 0xC9, 0x8F, 0xEE, 0x1C, 0x1B, 0x0F, 0x3B}};
inline constexpr IID IID_IVMRMixerBitmap9{0xCED175E5, 0x1935, 0x4820, {0x81, 0xBD, 0xFF, 0x6A, 0xD0, 0x0C, 0x91, 0x08}};
inline constexpr IID IID_IVMRFilterConfig9{0x5A804648, 0x4F66, 0x4867, {0x9C, 0x43, 0x4F, 0x5C, 0x82, 0x2C, 0xF1, 0xB8}};
inline constexpr IID IID_IVMRAspectRatioControl9{0x00D96C29, 0xBBDE, 0x4EFC, {0x99, 0x01, 0xBB, 0x50, 0x36, 0x39, 0x21, 0x46}};
inline constexpr IID IID_IVMRMonitorConfig9{0x46C2E457, 0x8BA0, 0x4EEF, {0xB8, 0x0B, 0x06, 0x80, 0xF0, 0x97, 0x87, 0x49}};
inline constexpr IID IID_IVMRDeinterlaceControl9{0xA215FB8D, 0x13C2, 0x4F7F, {0x99, 0x3C, 0x00, 0x3D, 0x62, 0x71, 0xA4, 0x59}};

enum VMR9Mode : DWORD { VMR9Mode_Windowed = 1, VMR9Mode_Windowless = 2, VMR9Mode_Renderless = 4 };
enum VMR9AspectRatioMode : DWORD { VMR9ARMode_None = 0, VMR9ARMode_LetterBox = 1 };

inline constexpr DWORD VMR9AlphaBitmap_Disable = 0x1;
inline constexpr DWORD VMR9AlphaBitmap_hDC = 0x2;
inline constexpr DWORD VMR9AlphaBitmap_EntireDDS = 0x4;
inline constexpr DWORD VMR9AlphaBitmap_SrcColorKey = 0x8;
inline constexpr DWORD VMR9AlphaBitmap_SrcRect = 0x10;
inline constexpr DWORD VMR9AlphaBitmap_FilterMode = 0x20;
inline constexpr DWORD MixerPref9_PointFiltering = 0x20;

struct VMR9NormalizedRect {
    FLOAT left;
    FLOAT top;
    FLOAT right;
    FLOAT bottom;
};

struct IDirect3DSurface9;  // never used: bitmaps come through hdc

struct VMR9AlphaBitmap {
    DWORD dwFlags;
    HDC hdc;
    IDirect3DSurface9 *pDDS;
    RECT rSrc;
    VMR9NormalizedRect rDest;
    FLOAT fAlpha;
    COLORREF clrSrcKey;
    DWORD dwFilterMode;
};

struct VMR9ProcAmpControl {
    DWORD dwSize;
    DWORD dwFlags;
    FLOAT Brightness;
    FLOAT Contrast;
    FLOAT Hue;
    FLOAT Saturation;
};

struct VMR9ProcAmpControlRange {
    DWORD dwSize;
    DWORD dwProperty;
    FLOAT MinValue;
    FLOAT MaxValue;
    FLOAT DefaultValue;
    FLOAT StepSize;
};

struct VMR9MonitorInfo {
    UINT uDevID;
    RECT rcMonitor;
    HMONITOR hMon;
    DWORD dwFlags;
    WCHAR szDevice[32];
    WCHAR szDescription[512];
    int64_t liDriverVersion;
    DWORD dwVendorId;
    DWORD dwDeviceId;
    DWORD dwSubSysId;
    DWORD dwRevision;
};

struct VMR9VideoDesc;
struct VMR9DeinterlaceCaps;
struct IVMRImageCompositor9;

// UI thread.
struct IVMRWindowlessControl9 : IUnknown {
    static constexpr const IID &iid = IID_IVMRWindowlessControl9;
    virtual HRESULT GetNativeVideoSize(LONG *width, LONG *height, LONG *arwidth, LONG *arheight) = 0;
    virtual HRESULT GetMinIdealVideoSize(LONG *width, LONG *height) = 0;
    virtual HRESULT GetMaxIdealVideoSize(LONG *width, LONG *height) = 0;
    virtual HRESULT SetVideoPosition(const RECT *source, const RECT *dest) = 0;
    virtual HRESULT GetVideoPosition(RECT *source, RECT *dest) = 0;
    virtual HRESULT GetAspectRatioMode(DWORD *mode) = 0;
    virtual HRESULT SetAspectRatioMode(DWORD mode) = 0;
    virtual HRESULT SetVideoClippingWindow(HWND hwnd) = 0;
    virtual HRESULT RepaintVideo(HWND hwnd, HDC hdc) = 0;
    virtual HRESULT DisplayModeChanged() = 0;
    // *dib: a packed DIB (header + pixels) from CoTaskMemAlloc; the caller
    // frees it with CoTaskMemFree.
    virtual HRESULT GetCurrentImage(BYTE **dib) = 0;
    virtual HRESULT SetBorderColor(COLORREF color) = 0;
    virtual HRESULT GetBorderColor(COLORREF *color) = 0;

protected:
    ~IVMRWindowlessControl9() = default;
};

// UI thread.
struct IVMRMixerControl9 : IUnknown {
    static constexpr const IID &iid = IID_IVMRMixerControl9;
    virtual HRESULT SetAlpha(DWORD streamid, FLOAT alpha) = 0;
    virtual HRESULT GetAlpha(DWORD streamid, FLOAT *alpha) = 0;
    virtual HRESULT SetZOrder(DWORD streamid, DWORD zorder) = 0;
    virtual HRESULT GetZOrder(DWORD streamid, DWORD *zorder) = 0;
    // Where the stream goes in the output, normalised; left > right or
    // top > bottom mirror it.
    virtual HRESULT SetOutputRect(DWORD streamid, const VMR9NormalizedRect *rect) = 0;
    virtual HRESULT GetOutputRect(DWORD streamid, VMR9NormalizedRect *rect) = 0;
    virtual HRESULT SetBackgroundClr(COLORREF back) = 0;
    virtual HRESULT GetBackgroundClr(COLORREF *back) = 0;
    virtual HRESULT SetMixingPrefs(DWORD mixingprefs) = 0;
    virtual HRESULT GetMixingPrefs(DWORD *mixingprefs) = 0;
    virtual HRESULT SetProcAmpControl(DWORD streamid, VMR9ProcAmpControl *control) = 0;
    virtual HRESULT GetProcAmpControl(DWORD streamid, VMR9ProcAmpControl *control) = 0;
    virtual HRESULT GetProcAmpControlRange(DWORD streamid, VMR9ProcAmpControlRange *range) = 0;

protected:
    ~IVMRMixerControl9() = default;
};

// UI thread.
struct IVMRMixerBitmap9 : IUnknown {
    static constexpr const IID &iid = IID_IVMRMixerBitmap9;
    virtual HRESULT SetAlphaBitmap(const VMR9AlphaBitmap *bitmap) = 0;
    virtual HRESULT UpdateAlphaBitmapParameters(const VMR9AlphaBitmap *bitmap) = 0;
    virtual HRESULT GetAlphaBitmapParameters(VMR9AlphaBitmap *bitmap) = 0;

protected:
    ~IVMRMixerBitmap9() = default;
};

// UI thread, before the renderer is connected.
struct IVMRFilterConfig9 : IUnknown {
    static constexpr const IID &iid = IID_IVMRFilterConfig9;
    virtual HRESULT SetImageCompositor(IVMRImageCompositor9 *compositor) = 0;
    virtual HRESULT SetNumberOfStreams(DWORD max) = 0;
    virtual HRESULT GetNumberOfStreams(DWORD *max) = 0;
    virtual HRESULT SetRenderingPrefs(DWORD renderflags) = 0;
    virtual HRESULT GetRenderingPrefs(DWORD *renderflags) = 0;
    virtual HRESULT SetRenderingMode(DWORD mode) = 0;
    virtual HRESULT GetRenderingMode(DWORD *mode) = 0;

protected:
    ~IVMRFilterConfig9() = default;
};

struct IVMRAspectRatioControl9 : IUnknown {
    static constexpr const IID &iid = IID_IVMRAspectRatioControl9;
    virtual HRESULT GetAspectRatioMode(DWORD *mode) = 0;
    virtual HRESULT SetAspectRatioMode(DWORD mode) = 0;

protected:
    ~IVMRAspectRatioControl9() = default;
};

struct IVMRMonitorConfig9 : IUnknown {
    static constexpr const IID &iid = IID_IVMRMonitorConfig9;
    virtual HRESULT SetMonitor(UINT uDev) = 0;
    virtual HRESULT GetMonitor(UINT *uDev) = 0;
    virtual HRESULT SetDefaultMonitor(UINT uDev) = 0;
    virtual HRESULT GetDefaultMonitor(UINT *uDev) = 0;
    // info null: *numdev gets the count.
    virtual HRESULT GetAvailableMonitors(VMR9MonitorInfo *info, DWORD arraysize, DWORD *numdev) = 0;

protected:
    ~IVMRMonitorConfig9() = default;
};

// Answered so that callers asking for it in turn find it; no deinterlacing
// modes are offered.
struct IVMRDeinterlaceControl9 : IUnknown {
    static constexpr const IID &iid = IID_IVMRDeinterlaceControl9;
    virtual HRESULT GetNumberOfDeinterlaceModes(VMR9VideoDesc *desc, DWORD *nummodes, GUID *modes) = 0;
    virtual HRESULT GetDeinterlaceModeCaps(GUID *mode, VMR9VideoDesc *desc, VMR9DeinterlaceCaps *caps) = 0;
    virtual HRESULT GetDeinterlaceMode(DWORD streamid, GUID *mode) = 0;
    virtual HRESULT SetDeinterlaceMode(DWORD streamid, GUID *mode) = 0;
    virtual HRESULT GetDeinterlacePrefs(DWORD *prefs) = 0;
    virtual HRESULT SetDeinterlacePrefs(DWORD prefs) = 0;
    virtual HRESULT GetActualDeinterlaceMode(DWORD streamid, GUID *mode) = 0;

protected:
    ~IVMRDeinterlaceControl9() = default;
};

// What a windowless renderer draws into (CWidgetClippingHost makes one of a
// QWidget).
// Called from the streaming thread and the UI thread, never at once for one
// host (the registry's lock is held): a host must not wait for the UI thread
// in it (copy the picture and post an update).
class IVMRClippingHost {
public:
    // `picture` (native size, composed) goes scaled into `pictureRect`; the
    // rest of `dest` (letterboxing) takes `border`. An empty picture: no
    // video yet, paint `dest` with the border colour.
    virtual void PresentImage(const QImage &picture, const RECT &pictureRect, const RECT &dest,
                              COLORREF border) = 0;

protected:
    ~IVMRClippingHost() = default;
};

// UI thread. A handle (never 0) for SetVideoClippingWindow / RepaintVideo;
// the host must stay alive until it is unregistered. After Unregister
// returns the host is never called again.
HWND RegisterClippingHost(IVMRClippingHost *host);
void UnregisterClippingHost(HWND hwnd);
// Any thread: calls fn(host) with the registry lock held; false when the
// handle is unknown.
template <class F>
bool WithClippingHost(HWND hwnd, F &&fn);

namespace vmr9_detail {
bool CallHost(HWND hwnd, void (*thunk)(void *, IVMRClippingHost *), void *context);
}

template <class F>
bool WithClippingHost(HWND hwnd, F &&fn)
{
    return vmr9_detail::CallHost(
        hwnd, [](void *ctx, IVMRClippingHost *host) { (*static_cast<std::remove_reference_t<F> *>(ctx))(host); },
        const_cast<void *>(static_cast<const void *>(&fn)));
}
