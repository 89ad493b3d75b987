#include "platform/render/Vmr9.h"

#include "platform/dshow/Uuids.h"

#include <algorithm>
#include <cstring>
#include <map>

// ---- Clipping hosts ------------------------------------------------------------

namespace {

struct HostRegistry {
    std::mutex lock;
    std::map<HWND, IVMRClippingHost *> hosts;
    HWND next = 1;
};

HostRegistry &Hosts()
{
    static HostRegistry registry;
    return registry;
}

bool IsEmptyRect(const RECT &r) { return r.right <= r.left || r.bottom <= r.top; }

// `dest` with the picture's aspect ratio kept, centred (letterbox mode).
RECT LetterBox(const RECT &dest, LONG arX, LONG arY)
{
    const int64_t w = dest.right - dest.left, h = dest.bottom - dest.top;
    if (arX <= 0 || arY <= 0 || w <= 0 || h <= 0)
        return dest;
    RECT r = dest;
    if (w * arY > h * arX) {
        const int64_t nw = h * arX / arY;
        r.left = static_cast<LONG>(dest.left + (w - nw) / 2);
        r.right = static_cast<LONG>(r.left + nw);
    } else {
        const int64_t nh = w * arY / arX;
        r.top = static_cast<LONG>(dest.top + (h - nh) / 2);
        r.bottom = static_cast<LONG>(r.top + nh);
    }
    return r;
}

} // namespace

HWND RegisterClippingHost(IVMRClippingHost *host)
{
    HostRegistry &r = Hosts();
    std::lock_guard lock(r.lock);
    const HWND hwnd = r.next++;
    r.hosts[hwnd] = host;
    return hwnd;
}

void UnregisterClippingHost(HWND hwnd)
{
    HostRegistry &r = Hosts();
    std::lock_guard lock(r.lock);
    r.hosts.erase(hwnd);
}

bool vmr9_detail::CallHost(HWND hwnd, void (*thunk)(void *, IVMRClippingHost *), void *context)
{
    HostRegistry &r = Hosts();
    std::lock_guard lock(r.lock);
    const auto it = r.hosts.find(hwnd);
    if (it == r.hosts.end())
        return false;
    thunk(context, it->second);
    return true;
}

// ---- Renderer ------------------------------------------------------------------

CVideoMixingRenderer9::CVideoMixingRenderer9()
    : CBaseRenderer(CLSID_VideoMixingRenderer9, L"Video Mixing Renderer 9")
{
}

CVideoMixingRenderer9::~CVideoMixingRenderer9() = default;

HRESULT CVideoMixingRenderer9::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IVMRWindowlessControl9)
        return GetInterface(static_cast<IVMRWindowlessControl9 *>(this), ppv);
    if (riid == IID_IVMRMixerControl9)
        return GetInterface(static_cast<IVMRMixerControl9 *>(this), ppv);
    if (riid == IID_IVMRMixerBitmap9)
        return GetInterface(static_cast<IVMRMixerBitmap9 *>(this), ppv);
    if (riid == IID_IVMRFilterConfig9)
        return GetInterface(static_cast<IVMRFilterConfig9 *>(this), ppv);
    if (riid == IID_IVMRAspectRatioControl9)
        return GetInterface(static_cast<IVMRAspectRatioControl9 *>(this), ppv);
    if (riid == IID_IVMRMonitorConfig9)
        return GetInterface(static_cast<IVMRMonitorConfig9 *>(this), ppv);
    if (riid == IID_IVMRDeinterlaceControl9)
        return GetInterface(static_cast<IVMRDeinterlaceControl9 *>(this), ppv);
    return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
}

// Holding a sample takes a buffer from upstream until the next one: only
// where enough are left for the filters above to go on.
static bool HoldsSamples(IMemAllocator *allocator)
{
    ALLOCATOR_PROPERTIES props{};
    return allocator && SUCCEEDED(allocator->GetProperties(&props)) && props.cBuffers >= 3;
}

HRESULT CVideoMixingRenderer9::CheckMediaType(const CMediaType *pmt)
{
    VideoFrameFormat format;
    return pmt && ParseVideoFormat(*pmt, &format) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CVideoMixingRenderer9::SetMediaType(const CMediaType *pmt)
{
    VideoFrameFormat format;
    if (!pmt || !ParseVideoFormat(*pmt, &format))
        return VFW_E_TYPE_NOT_ACCEPTED;
    std::lock_guard lock(m_mixLock);
    m_format = format;
    m_haveFormat = true;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::BreakConnect()
{
    std::lock_guard lock(m_mixLock);
    m_haveFormat = false;
    m_haveFrame = false;
    m_held.Reset();
    m_rgb = m_composed = QImage();
    return S_OK;
}

// Keeps the sample, or a copy when its allocator has few buffers to spare,
// and shows it when there is somewhere to show it; the conversion waits
// until then.
HRESULT CVideoMixingRenderer9::DoRenderSample(IMediaSample *pMediaSample)
{
    BYTE *data = nullptr;
    if (FAILED(pMediaSample->GetPointer(&data)) || !data)
        return E_POINTER;
    const LONG length = pMediaSample->GetActualDataLength();
    HWND host = 0;
    {
        std::lock_guard lock(m_mixLock);
        if (!m_haveFormat || length < 0 || size_t(length) < m_format.frameSize)
            return VFW_E_TYPE_NOT_ACCEPTED;  // a short buffer would be read past its end
        m_held.Reset();
        if (HoldsSamples(InputPin()->PeekAllocator())) {
            m_held = pMediaSample;
        } else {
            m_frame.assign(data, data + m_format.frameSize);
            m_frame.resize(m_format.frameSize + VideoConverter::kInputPadding);  // zeroed
        }
        m_frameFormat = m_format;
        m_haveFrame = true;
        m_rgb = m_composed = QImage();
        host = m_clipWindow;
    }
    if (host)
        PresentTo(host);
    return S_OK;
}

// The held sample's pixels into our own buffer (padded for the converter),
// and the sample back to its allocator.
void CVideoMixingRenderer9::TakeHeldLocked()
{
    if (!m_held)
        return;
    BYTE *data = nullptr;
    m_held->GetPointer(&data);
    m_frame.assign(data, data + m_frameFormat.frameSize);
    m_frame.resize(m_frameFormat.frameSize + VideoConverter::kInputPadding);
    m_held.Reset();
}

HRESULT CVideoMixingRenderer9::OnStopStreaming()
{
    std::lock_guard lock(m_mixLock);
    TakeHeldLocked();  // the picture outlives the stream, its buffer must not
    return CBaseRenderer::OnStopStreaming();
}

const QImage &CVideoMixingRenderer9::ComposedLocked()
{
    if (!m_composed.isNull() || !m_haveFrame)
        return m_composed;
    TakeHeldLocked();
    if (m_rgb.isNull()) {
        m_rgb = m_converter.ToRgb32(m_frameFormat, m_frame.data(), m_frame.size());
        m_conversions.fetch_add(1, std::memory_order_acq_rel);
    }
    m_composed = ComposePicture(m_rgb, m_mixer);
    return m_composed;
}

CVideoMixingRenderer9::Presentation CVideoMixingRenderer9::PresentationLocked()
{
    QImage picture = ComposedLocked();
    if (!picture.isNull() && !IsEmptyRect(m_source))
        picture = picture.copy(m_source.left, m_source.top, m_source.right - m_source.left,
                               m_source.bottom - m_source.top);
    RECT pictureRect = m_dest;
    if (m_aspectMode == VMR9ARMode_LetterBox && m_haveFormat)
        pictureRect = LetterBox(m_dest, m_format.aspectX, m_format.aspectY);
    return {picture, pictureRect, m_dest, m_border};
}

void CVideoMixingRenderer9::PresentTo(HWND hwnd)
{
    Presentation p;
    {
        std::lock_guard lock(m_mixLock);
        p = PresentationLocked();
    }
    WithClippingHost(hwnd, [&](IVMRClippingHost *host) {
        host->PresentImage(p.picture, p.pictureRect, p.dest, p.border);
    });
}

// A mixer setting changed: the paused picture shows it at once.
void CVideoMixingRenderer9::MixerChanged()
{
    HWND host = 0;
    {
        std::lock_guard lock(m_mixLock);
        m_composed = QImage();
        if (m_haveFrame)
            host = m_clipWindow;
    }
    if (host)
        PresentTo(host);
}

// ---- IVMRWindowlessControl9 -------------------------------------------------------

HRESULT CVideoMixingRenderer9::GetNativeVideoSize(LONG *width, LONG *height, LONG *arwidth,
                                                  LONG *arheight)
{
    std::lock_guard lock(m_mixLock);
    const bool have = m_haveFormat;
    if (width)
        *width = have ? m_format.width : 0;
    if (height)
        *height = have ? m_format.height : 0;
    if (arwidth)
        *arwidth = have ? m_format.aspectX : 0;
    if (arheight)
        *arheight = have ? m_format.aspectY : 0;
    return have ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT CVideoMixingRenderer9::GetMinIdealVideoSize(LONG *width, LONG *height)
{
    return GetNativeVideoSize(width, height, nullptr, nullptr);
}

HRESULT CVideoMixingRenderer9::GetMaxIdealVideoSize(LONG *width, LONG *height)
{
    return GetNativeVideoSize(width, height, nullptr, nullptr);
}

HRESULT CVideoMixingRenderer9::SetVideoPosition(const RECT *source, const RECT *dest)
{
    if (!source && !dest)
        return E_POINTER;
    if ((source && (source->left < 0 || source->top < 0 || IsEmptyRect(*source)))
        || (dest && (dest->right < dest->left || dest->bottom < dest->top)))
        return E_INVALIDARG;
    std::lock_guard lock(m_mixLock);
    if (source)
        m_source = *source;
    if (dest)
        m_dest = *dest;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetVideoPosition(RECT *source, RECT *dest)
{
    if (!source || !dest)
        return E_POINTER;
    std::lock_guard lock(m_mixLock);
    *source = m_source;
    if (IsEmptyRect(m_source) && m_haveFormat)
        *source = RECT{0, 0, m_format.width, m_format.height};
    *dest = m_dest;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetAspectRatioMode(DWORD *mode)
{
    if (!mode)
        return E_POINTER;
    std::lock_guard lock(m_mixLock);
    *mode = m_aspectMode;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetAspectRatioMode(DWORD mode)
{
    if (mode != VMR9ARMode_None && mode != VMR9ARMode_LetterBox)
        return E_INVALIDARG;
    std::lock_guard lock(m_mixLock);
    m_aspectMode = mode;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetVideoClippingWindow(HWND hwnd)
{
    if (hwnd != 0 && !WithClippingHost(hwnd, [](IVMRClippingHost *) {}))
        return E_INVALIDARG;
    std::lock_guard lock(m_mixLock);
    m_clipWindow = hwnd;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::RepaintVideo(HWND hwnd, HDC)
{
    if (hwnd == 0)
        return E_INVALIDARG;
    PresentTo(hwnd);
    return S_OK;
}

HRESULT CVideoMixingRenderer9::DisplayModeChanged()
{
    HWND host = 0;
    {
        std::lock_guard lock(m_mixLock);
        host = m_clipWindow;
    }
    if (host)
        PresentTo(host);
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetCurrentImage(BYTE **dib)
{
    if (!dib)
        return E_POINTER;
    *dib = nullptr;
    std::vector<BYTE> packed;
    {
        std::lock_guard lock(m_mixLock);
        const QImage &picture = ComposedLocked();
        if (picture.isNull())
            return E_FAIL;  // nothing presented yet
        packed = PackedDib(picture);
    }
    auto *block = static_cast<BYTE *>(CoTaskMemAlloc(packed.size()));
    if (!block)
        return E_OUTOFMEMORY;
    std::memcpy(block, packed.data(), packed.size());
    *dib = block;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetBorderColor(COLORREF color)
{
    std::lock_guard lock(m_mixLock);
    m_border = color;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetBorderColor(COLORREF *color)
{
    if (!color)
        return E_POINTER;
    std::lock_guard lock(m_mixLock);
    *color = m_border;
    return S_OK;
}
