#include "tools/probe/FrameTap.h"

#include <chrono>

namespace {
// {8F3B2C10-5D4E-4A61-9C2B-7E0A1D6F4B21}: only ever created by the probe.
constexpr CLSID CLSID_ProbeFrameTap{0x8F3B2C10, 0x5D4E, 0x4A61, {0x9C, 0x2B, 0x7E, 0x0A, 0x1D, 0x6F, 0x4B, 0x21}};
} // namespace

CFrameTap::CFrameTap(IPin *renderer)
    : CTransInPlaceFilter(L"Frame Tap", CLSID_ProbeFrameTap, false), m_renderer(renderer)
{
}

HRESULT CFrameTap::CheckInputType(const CMediaType *mtIn)
{
    // Compressed types are refused here so intelligent connect puts a decoder in.
    if (mtIn->Type() != MEDIATYPE_Video)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return m_renderer->QueryAccept(mtIn) == S_OK ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CFrameTap::Transform(IMediaSample *pSample)
{
    if (pSample->IsPreroll() == S_OK)
        return S_OK;
    REFERENCE_TIME start = 0, stop = 0;
    if (FAILED(pSample->GetTime(&start, &stop)))
        return S_OK;
    {
        std::lock_guard lock(m_lock);
        m_times.push_back(m_segmentStart + start);
    }
    m_noted.notify_all();
    return S_OK;
}

HRESULT CFrameTap::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    {
        std::lock_guard lock(m_lock);
        m_segmentStart = tStart;
    }
    return CTransInPlaceFilter::NewSegment(tStart, tStop, dRate);
}

std::vector<REFERENCE_TIME> CFrameTap::Times()
{
    std::lock_guard lock(m_lock);
    return m_times;
}

void CFrameTap::Clear()
{
    std::lock_guard lock(m_lock);
    m_times.clear();
}

bool CFrameTap::WaitForCount(size_t count, int ms)
{
    std::unique_lock lock(m_lock);
    return m_noted.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_times.size() >= count; });
}
