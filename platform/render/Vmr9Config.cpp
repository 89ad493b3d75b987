// The video mixing renderer's mixer, configuration and monitor interfaces.
#include "platform/render/Vmr9.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {

bool ValidNormalized(const VMR9NormalizedRect &r)
{
    // Reversed edges are allowed (mirroring); an empty rectangle is not.
    return r.left != r.right && r.top != r.bottom;
}

QList<QScreen *> Screens()
{
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return QGuiApplication::screens();
    return {};
}

UINT MonitorCount() { return static_cast<UINT>(std::max<qsizetype>(1, Screens().size())); }

} // namespace

// ---- IVMRMixerControl9 -------------------------------------------------------------

HRESULT CVideoMixingRenderer9::SetAlpha(DWORD streamid, FLOAT alpha)
{
    return streamid == 0 && alpha >= 0.f && alpha <= 1.f ? S_OK : E_INVALIDARG;
}

HRESULT CVideoMixingRenderer9::GetAlpha(DWORD streamid, FLOAT *alpha)
{
    if (!alpha)
        return E_POINTER;
    *alpha = 1.f;
    return streamid == 0 ? S_OK : E_INVALIDARG;
}

HRESULT CVideoMixingRenderer9::SetZOrder(DWORD streamid, DWORD)
{
    std::lock_guard lock(m_mixLock);
    return streamid < m_streams ? S_OK : E_INVALIDARG;
}

HRESULT CVideoMixingRenderer9::GetZOrder(DWORD streamid, DWORD *zorder)
{
    if (!zorder)
        return E_POINTER;
    *zorder = streamid;
    std::lock_guard lock(m_mixLock);
    return streamid < m_streams ? S_OK : E_INVALIDARG;
}

HRESULT CVideoMixingRenderer9::SetOutputRect(DWORD streamid, const VMR9NormalizedRect *rect)
{
    if (!rect)
        return E_POINTER;
    if (streamid != 0 || !ValidNormalized(*rect))
        return E_INVALIDARG;
    {
        std::lock_guard lock(m_mixLock);
        m_mixer.output = *rect;
    }
    MixerChanged();
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetOutputRect(DWORD streamid, VMR9NormalizedRect *rect)
{
    if (!rect)
        return E_POINTER;
    if (streamid != 0)
        return E_INVALIDARG;
    std::lock_guard lock(m_mixLock);
    *rect = m_mixer.output;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetBackgroundClr(COLORREF back)
{
    {
        std::lock_guard lock(m_mixLock);
        m_mixer.background = back;
    }
    MixerChanged();
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetBackgroundClr(COLORREF *back)
{
    if (!back)
        return E_POINTER;
    std::lock_guard lock(m_mixLock);
    *back = m_mixer.background;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetMixingPrefs(DWORD mixingprefs)
{
    std::lock_guard lock(m_mixLock);
    m_mixingPrefs = mixingprefs;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetMixingPrefs(DWORD *mixingprefs)
{
    if (!mixingprefs)
        return E_POINTER;
    std::lock_guard lock(m_mixLock);
    *mixingprefs = m_mixingPrefs;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetProcAmpControl(DWORD, VMR9ProcAmpControl *) { return E_NOTIMPL; }
HRESULT CVideoMixingRenderer9::GetProcAmpControl(DWORD, VMR9ProcAmpControl *) { return E_NOTIMPL; }
HRESULT CVideoMixingRenderer9::GetProcAmpControlRange(DWORD, VMR9ProcAmpControlRange *) { return E_NOTIMPL; }

// ---- IVMRMixerBitmap9 ----------------------------------------------------------------

// The bitmap comes from a device context (our QImage); its rSrc part is
// copied now, so the caller may draw on for the next one.
HRESULT CVideoMixingRenderer9::SetAlphaBitmap(const VMR9AlphaBitmap *bitmap)
{
    if (!bitmap)
        return E_POINTER;
    if (bitmap->dwFlags & VMR9AlphaBitmap_Disable) {
        {
            std::lock_guard lock(m_mixLock);
            m_mixer.bitmapOn = false;
            m_mixer.bitmap = QImage();
            m_alphaBitmapFlags = VMR9AlphaBitmap_Disable;
        }
        MixerChanged();
        return S_OK;
    }
    const QImage *source = bitmap->hdc;
    const RECT &r = bitmap->rSrc;
    if (!(bitmap->dwFlags & VMR9AlphaBitmap_hDC) || !source || source->isNull())
        return E_INVALIDARG;  // surfaces are not supported, only device contexts
    if (r.left < 0 || r.top < 0 || r.right > source->width() || r.bottom > source->height()
        || r.right <= r.left || r.bottom <= r.top || !ValidNormalized(bitmap->rDest)
        || bitmap->fAlpha < 0.f || bitmap->fAlpha > 1.f)
        return E_INVALIDARG;
    QImage copy = source->copy(r.left, r.top, r.right - r.left, r.bottom - r.top)
                      .convertToFormat(QImage::Format_RGB32);
    {
        std::lock_guard lock(m_mixLock);
        m_mixer.bitmap = std::move(copy);
        m_mixer.bitmapOn = true;
        m_mixer.bitmapDest = bitmap->rDest;
        m_mixer.alpha = bitmap->fAlpha;
        m_mixer.colorKey = (bitmap->dwFlags & VMR9AlphaBitmap_SrcColorKey) != 0;
        m_mixer.key = bitmap->clrSrcKey;
        m_alphaBitmapFlags = bitmap->dwFlags;
        m_bitmapSource = r;
        m_filterMode = bitmap->dwFilterMode;
    }
    MixerChanged();
    return S_OK;
}

// Changes the placement, opacity and colour key of the bitmap already
// given, or disables it; a new bitmap needs SetAlphaBitmap.
HRESULT CVideoMixingRenderer9::UpdateAlphaBitmapParameters(const VMR9AlphaBitmap *bitmap)
{
    if (!bitmap)
        return E_POINTER;
    if (bitmap->dwFlags & VMR9AlphaBitmap_Disable)
        return SetAlphaBitmap(bitmap);
    if (!ValidNormalized(bitmap->rDest) || bitmap->fAlpha < 0.f || bitmap->fAlpha > 1.f)
        return E_INVALIDARG;
    {
        std::lock_guard lock(m_mixLock);
        if (m_mixer.bitmap.isNull())
            return E_INVALIDARG;
        m_mixer.bitmapOn = true;
        m_mixer.bitmapDest = bitmap->rDest;
        m_mixer.alpha = bitmap->fAlpha;
        m_mixer.colorKey = (bitmap->dwFlags & VMR9AlphaBitmap_SrcColorKey) != 0;
        m_mixer.key = bitmap->clrSrcKey;
        m_alphaBitmapFlags = bitmap->dwFlags | VMR9AlphaBitmap_hDC;  // the bitmap is still the one given
    }
    MixerChanged();
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetAlphaBitmapParameters(VMR9AlphaBitmap *bitmap)
{
    if (!bitmap)
        return E_POINTER;
    std::lock_guard lock(m_mixLock);
    *bitmap = VMR9AlphaBitmap{};
    bitmap->dwFlags = m_alphaBitmapFlags;
    bitmap->rSrc = m_bitmapSource;
    bitmap->rDest = m_mixer.bitmapDest;
    bitmap->fAlpha = m_mixer.alpha;
    bitmap->clrSrcKey = m_mixer.key;
    bitmap->dwFilterMode = m_filterMode;
    return S_OK;
}

// ---- IVMRFilterConfig9 ---------------------------------------------------------------

HRESULT CVideoMixingRenderer9::SetImageCompositor(IVMRImageCompositor9 *) { return E_NOTIMPL; }

HRESULT CVideoMixingRenderer9::SetNumberOfStreams(DWORD max)
{
    if (max < 1 || max > 16)
        return E_INVALIDARG;
    std::lock_guard lock(m_mixLock);
    m_streams = max;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetNumberOfStreams(DWORD *max)
{
    if (!max)
        return E_POINTER;
    std::lock_guard lock(m_mixLock);
    *max = m_streams;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetRenderingPrefs(DWORD renderflags)
{
    std::lock_guard lock(m_mixLock);
    m_renderingPrefs = renderflags;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetRenderingPrefs(DWORD *renderflags)
{
    if (!renderflags)
        return E_POINTER;
    std::lock_guard lock(m_mixLock);
    *renderflags = m_renderingPrefs;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetRenderingMode(DWORD mode)
{
    if (mode != VMR9Mode_Windowed && mode != VMR9Mode_Windowless && mode != VMR9Mode_Renderless)
        return E_INVALIDARG;
    std::lock_guard lock(m_mixLock);
    m_mode = mode;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetRenderingMode(DWORD *mode)
{
    if (!mode)
        return E_POINTER;
    std::lock_guard lock(m_mixLock);
    *mode = m_mode;
    return S_OK;
}

// ---- IVMRMonitorConfig9 -------------------------------------------------------------

HRESULT CVideoMixingRenderer9::SetMonitor(UINT uDev)
{
    if (uDev >= MonitorCount())
        return E_INVALIDARG;
    std::lock_guard lock(m_mixLock);
    m_monitor = uDev;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetMonitor(UINT *uDev)
{
    if (!uDev)
        return E_POINTER;
    std::lock_guard lock(m_mixLock);
    *uDev = m_monitor;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetDefaultMonitor(UINT uDev)
{
    if (uDev >= MonitorCount())
        return E_INVALIDARG;
    std::lock_guard lock(m_mixLock);
    m_defaultMonitor = uDev;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetDefaultMonitor(UINT *uDev)
{
    if (!uDev)
        return E_POINTER;
    std::lock_guard lock(m_mixLock);
    *uDev = m_defaultMonitor;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetAvailableMonitors(VMR9MonitorInfo *info, DWORD arraysize,
                                                    DWORD *numdev)
{
    if (!numdev)
        return E_POINTER;
    const QList<QScreen *> screens = Screens();
    const DWORD count = MonitorCount();
    if (!info) {
        *numdev = count;
        return S_OK;
    }
    *numdev = std::min(count, arraysize);
    for (DWORD i = 0; i < *numdev; ++i) {
        VMR9MonitorInfo &m = info[i];
        m = VMR9MonitorInfo{};
        m.uDevID = i;
        const QRect g = i < DWORD(screens.size()) ? screens[i]->geometry() : QRect(0, 0, 640, 480);
        m.rcMonitor = RECT{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
        m.dwFlags = i == 0 ? 1 : 0;  // MONITORINFOF_PRIMARY
        const std::wstring name = L"DISPLAY" + std::to_wstring(i + 1);
        CopyName(m.szDevice, 32, name);
        CopyName(m.szDescription, 512, i < DWORD(screens.size()) ? screens[i]->name().toStdWString() : name);
    }
    return S_OK;
}

// ---- IVMRDeinterlaceControl9 ---------------------------------------------------------

HRESULT CVideoMixingRenderer9::GetNumberOfDeinterlaceModes(VMR9VideoDesc *, DWORD *nummodes, GUID *)
{
    if (!nummodes)
        return E_POINTER;
    *nummodes = 0;
    return S_OK;
}
HRESULT CVideoMixingRenderer9::GetDeinterlaceModeCaps(GUID *, VMR9VideoDesc *, VMR9DeinterlaceCaps *)
{
    return E_NOTIMPL;
}
HRESULT CVideoMixingRenderer9::GetDeinterlaceMode(DWORD, GUID *mode)
{
    if (!mode)
        return E_POINTER;
    *mode = GUID_NULL;
    return S_FALSE;
}
HRESULT CVideoMixingRenderer9::SetDeinterlaceMode(DWORD, GUID *) { return E_NOTIMPL; }
HRESULT CVideoMixingRenderer9::GetDeinterlacePrefs(DWORD *prefs)
{
    if (!prefs)
        return E_POINTER;
    *prefs = 0;
    return S_OK;
}
HRESULT CVideoMixingRenderer9::SetDeinterlacePrefs(DWORD) { return S_OK; }
HRESULT CVideoMixingRenderer9::GetActualDeinterlaceMode(DWORD streamid, GUID *mode)
{
    return GetDeinterlaceMode(streamid, mode);
}

HRESULT CreateVideoMixingRenderer9(REFIID riid, void **ppv)
{
    ComPtr<CVideoMixingRenderer9> vmr = MakeCom<CVideoMixingRenderer9>();
    return vmr->NonDelegatingQueryInterface(riid, ppv);
}
