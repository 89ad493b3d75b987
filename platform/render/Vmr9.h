// "Video Mixing Renderer 9" in windowless mode: keeps the last frame it
// presented, converts it to RGB only when it is shown (a clipping host is
// set) or asked for (GetCurrentImage, RepaintVideo), mirrors it as the
// mixer's output rectangle says and blends the mixer bitmap over it.
//
// Locks: the renderer's two (CBaseRenderer), then m_mixLock, which guards
// the frame, the picture caches and every setting below. The host is called
// with no lock of ours held, under the host registry's lock only.
//
// Threads: the IVMR* interfaces: UI thread. DoRenderSample, SetMediaType
// (a type that came with a sample): streaming thread. ConversionCount: any.
#pragma once

#include "platform/dshow/Renderer.h"
#include "platform/render/VideoFrame.h"
#include "platform/render/VmrMixer.h"

#include <atomic>
#include <mutex>
#include <vector>

class CVideoMixingRenderer9 final : public CBaseRenderer,
                                    public IVMRWindowlessControl9,
                                    public IVMRMixerControl9,
                                    public IVMRMixerBitmap9,
                                    public IVMRFilterConfig9,
                                    public IVMRAspectRatioControl9,
                                    public IVMRMonitorConfig9,
                                    public IVMRDeinterlaceControl9 {
public:
    CVideoMixingRenderer9();
    ~CVideoMixingRenderer9() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    // CBaseRenderer
    HRESULT CheckMediaType(const CMediaType *pmt) override;
    HRESULT SetMediaType(const CMediaType *pmt) override;
    HRESULT BreakConnect() override;
    HRESULT OnStopStreaming() override;
    HRESULT DoRenderSample(IMediaSample *pMediaSample) override;

    // IVMRWindowlessControl9 (and IVMRAspectRatioControl9's two methods)
    HRESULT GetNativeVideoSize(LONG *width, LONG *height, LONG *arwidth, LONG *arheight) override;
    HRESULT GetMinIdealVideoSize(LONG *width, LONG *height) override;
    HRESULT GetMaxIdealVideoSize(LONG *width, LONG *height) override;
    HRESULT SetVideoPosition(const RECT *source, const RECT *dest) override;
    HRESULT GetVideoPosition(RECT *source, RECT *dest) override;
    HRESULT GetAspectRatioMode(DWORD *mode) override;
    HRESULT SetAspectRatioMode(DWORD mode) override;
    HRESULT SetVideoClippingWindow(HWND hwnd) override;
    HRESULT RepaintVideo(HWND hwnd, HDC hdc) override;
    HRESULT DisplayModeChanged() override;
    HRESULT GetCurrentImage(BYTE **dib) override;
    HRESULT SetBorderColor(COLORREF color) override;
    HRESULT GetBorderColor(COLORREF *color) override;

    // IVMRMixerControl9 (stream 0 is the video; others are not mixed)
    HRESULT SetAlpha(DWORD streamid, FLOAT alpha) override;
    HRESULT GetAlpha(DWORD streamid, FLOAT *alpha) override;
    HRESULT SetZOrder(DWORD streamid, DWORD zorder) override;
    HRESULT GetZOrder(DWORD streamid, DWORD *zorder) override;
    HRESULT SetOutputRect(DWORD streamid, const VMR9NormalizedRect *rect) override;
    HRESULT GetOutputRect(DWORD streamid, VMR9NormalizedRect *rect) override;
    HRESULT SetBackgroundClr(COLORREF back) override;
    HRESULT GetBackgroundClr(COLORREF *back) override;
    HRESULT SetMixingPrefs(DWORD mixingprefs) override;
    HRESULT GetMixingPrefs(DWORD *mixingprefs) override;
    HRESULT SetProcAmpControl(DWORD streamid, VMR9ProcAmpControl *control) override;
    HRESULT GetProcAmpControl(DWORD streamid, VMR9ProcAmpControl *control) override;
    HRESULT GetProcAmpControlRange(DWORD streamid, VMR9ProcAmpControlRange *range) override;

    // IVMRMixerBitmap9
    HRESULT SetAlphaBitmap(const VMR9AlphaBitmap *bitmap) override;
    HRESULT UpdateAlphaBitmapParameters(const VMR9AlphaBitmap *bitmap) override;
    HRESULT GetAlphaBitmapParameters(VMR9AlphaBitmap *bitmap) override;

    // IVMRFilterConfig9
    HRESULT SetImageCompositor(IVMRImageCompositor9 *compositor) override;
    HRESULT SetNumberOfStreams(DWORD max) override;
    HRESULT GetNumberOfStreams(DWORD *max) override;
    HRESULT SetRenderingPrefs(DWORD renderflags) override;
    HRESULT GetRenderingPrefs(DWORD *renderflags) override;
    HRESULT SetRenderingMode(DWORD mode) override;
    HRESULT GetRenderingMode(DWORD *mode) override;

    // IVMRMonitorConfig9: the screens of a QGuiApplication, else one.
    HRESULT SetMonitor(UINT uDev) override;
    HRESULT GetMonitor(UINT *uDev) override;
    HRESULT SetDefaultMonitor(UINT uDev) override;
    HRESULT GetDefaultMonitor(UINT *uDev) override;
    HRESULT GetAvailableMonitors(VMR9MonitorInfo *info, DWORD arraysize, DWORD *numdev) override;

    // IVMRDeinterlaceControl9: no modes.
    HRESULT GetNumberOfDeinterlaceModes(VMR9VideoDesc *desc, DWORD *nummodes, GUID *modes) override;
    HRESULT GetDeinterlaceModeCaps(GUID *mode, VMR9VideoDesc *desc, VMR9DeinterlaceCaps *caps) override;
    HRESULT GetDeinterlaceMode(DWORD streamid, GUID *mode) override;
    HRESULT SetDeinterlaceMode(DWORD streamid, GUID *mode) override;
    HRESULT GetDeinterlacePrefs(DWORD *prefs) override;
    HRESULT SetDeinterlacePrefs(DWORD prefs) override;
    HRESULT GetActualDeinterlaceMode(DWORD streamid, GUID *mode) override;

    // Frames converted to RGB so far (tests, benchmarks). Any thread.
    int ConversionCount() const { return m_conversions.load(std::memory_order_acquire); }

private:
    struct Presentation {
        QImage picture;
        RECT pictureRect;
        RECT dest;
        COLORREF border;
    };
    const QImage &ComposedLocked();
    void TakeHeldLocked();
    Presentation PresentationLocked();
    void PresentTo(HWND hwnd);
    void MixerChanged();

    std::mutex m_mixLock;
    // Guarded by m_mixLock. Written by the streaming thread (frame, format)
    // and the UI thread (settings), read by both.
    VideoFrameFormat m_format;
    bool m_haveFormat = false;
    std::vector<BYTE> m_frame;  // the last presented frame, as it came
    // Or the sample itself, kept until its pixels are wanted or streaming
    // stops: most frames are never looked at, and a 1080p copy each is dear.
    ComPtr<IMediaSample> m_held;
    VideoFrameFormat m_frameFormat;  // its layout (the type may change after it)
    bool m_haveFrame = false;
    QImage m_rgb;       // m_frame converted; null until needed
    QImage m_composed;  // m_rgb mixed; null until needed
    VideoConverter m_converter;
    MixerState m_mixer;
    HWND m_clipWindow = 0;
    RECT m_source{0, 0, 0, 0};  // empty: the whole picture
    RECT m_dest{0, 0, 0, 0};
    DWORD m_aspectMode = VMR9ARMode_None;
    COLORREF m_border = 0;
    DWORD m_mode = VMR9Mode_Windowed;
    DWORD m_streams = 1;
    DWORD m_mixingPrefs = 0;
    DWORD m_renderingPrefs = 0;
    UINT m_monitor = 0;
    UINT m_defaultMonitor = 0;
    DWORD m_alphaBitmapFlags = VMR9AlphaBitmap_Disable;
    RECT m_bitmapSource{0, 0, 0, 0};
    DWORD m_filterMode = 0;

    std::atomic<int> m_conversions{0};
};

// Creates the renderer (its catalogue entry).
HRESULT CreateVideoMixingRenderer9(REFIID riid, void **ppv);
