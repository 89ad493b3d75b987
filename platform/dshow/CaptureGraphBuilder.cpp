#include "platform/dshow/CaptureGraphBuilder.h"

#include "platform/dshow/FilterGraph.h"

namespace {

bool PinHasCategory(IPin *pin, const GUID &category)
{
    ComPtr<IKsPropertySet> props = ComQuery<IKsPropertySet>(pin);
    if (!props)
        return false;
    GUID found = GUID_NULL;
    DWORD size = 0;
    return props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &found, sizeof found, &size)
            == S_OK
        && found == category;
}

bool PinCarriesMajorType(IPin *pin, const GUID &major)
{
    CMediaType connected;
    if (pin->ConnectionMediaType(&connected) == S_OK)
        return connected.majortype == major;
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf())) || !types)
        return false;
    AM_MEDIA_TYPE *type = nullptr;
    while (types->Next(1, &type, nullptr) == S_OK && type) {
        const bool match = type->majortype == major;
        DeleteMediaType(type);
        if (match)
            return true;
    }
    return false;
}

bool PinMatches(IPin *pin, PIN_DIRECTION pindir, const GUID *pCategory, const GUID *pType, BOOL fUnconnected)
{
    PIN_DIRECTION dir;
    if (FAILED(pin->QueryDirection(&dir)) || dir != pindir)
        return false;
    if (fUnconnected) {
        ComPtr<IPin> peer;
        if (pin->ConnectedTo(peer.ReleaseAndGetAddressOf()) == S_OK)
            return false;
    }
    if (pCategory && !PinHasCategory(pin, *pCategory))
        return false;
    return !pType || PinCarriesMajorType(pin, *pType);
}

} // namespace

HRESULT CreateCaptureGraphBuilder(REFIID riid, void **ppv)
{
    ComPtr<CCaptureGraphBuilder> builder = MakeCom<CCaptureGraphBuilder>();
    return builder->NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CCaptureGraphBuilder::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_ICaptureGraphBuilder2 || riid == IID_IUnknown)
        return GetInterface(static_cast<ICaptureGraphBuilder2 *>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CCaptureGraphBuilder::SetFiltergraph(IGraphBuilder *pfg)
{
    if (!pfg)
        return E_POINTER;
    if (m_graph)
        return E_UNEXPECTED;  // bound once, as the SDK's builder is
    m_graph = pfg;
    return S_OK;
}

HRESULT CCaptureGraphBuilder::GetFiltergraph(IGraphBuilder **ppfg)
{
    if (!ppfg)
        return E_POINTER;
    if (!m_graph) {
        const HRESULT hr = CreateFilterGraph(IID_IGraphBuilder, m_graph.ReleaseAndGetVoidAddress());
        if (FAILED(hr))
            return hr;
    }
    return m_graph.CopyTo(ppfg);
}

HRESULT CCaptureGraphBuilder::FindPin(IUnknown *pSource, PIN_DIRECTION pindir, const GUID *pCategory,
                                      const GUID *pType, BOOL fUnconnected, int num, IPin **ppPin)
{
    if (!pSource || !ppPin)
        return E_POINTER;
    *ppPin = nullptr;
    if (ComPtr<IPin> pin = ComQuery<IPin>(pSource)) {
        if (num == 0 && PinMatches(pin.Get(), pindir, pCategory, pType, fUnconnected))
            return pin.CopyTo(ppPin);
        return E_FAIL;
    }
    for (const ComPtr<IPin> &pin : dshow::PinsOf(ComQuery<IBaseFilter>(pSource).Get())) {
        if (!PinMatches(pin.Get(), pindir, pCategory, pType, fUnconnected))
            continue;
        if (num-- == 0)
            return pin.CopyTo(ppPin);
    }
    return E_FAIL;
}

HRESULT CCaptureGraphBuilder::FindInterface(const GUID *pCategory, const GUID *pType, IBaseFilter *pf,
                                            REFIID riid, void **ppint)
{
    if (!pf || !ppint)
        return E_POINTER;
    *ppint = nullptr;
    if (!pCategory && !pType && SUCCEEDED(pf->QueryInterface(riid, ppint)))
        return S_OK;
    for (PIN_DIRECTION dir : {PINDIR_OUTPUT, PINDIR_INPUT}) {
        ComPtr<IPin> pin;
        for (int i = 0; SUCCEEDED(FindPin(pf, dir, pCategory, pType, FALSE, i, pin.ReleaseAndGetAddressOf()));
             ++i)
            if (SUCCEEDED(pin->QueryInterface(riid, ppint)))
                return S_OK;
    }
    return E_NOINTERFACE;
}

// Into the filter's free input pins in turn, through the catalogue if needed.
HRESULT CCaptureGraphBuilder::ConnectToFilter(IPin *pOut, IBaseFilter *pFilter)
{
    ComPtr<IPin> in;
    for (int i = 0; SUCCEEDED(FindPin(pFilter, PINDIR_INPUT, nullptr, nullptr, TRUE, i, in.ReleaseAndGetAddressOf()));
         ++i)
        if (SUCCEEDED(m_graph->Connect(pOut, in.Get())))
            return S_OK;
    return VFW_E_CANNOT_CONNECT;
}

HRESULT CCaptureGraphBuilder::RenderStream(const GUID *pCategory, const GUID *pType, IUnknown *pSource,
                                           IBaseFilter *pfCompressor, IBaseFilter *pfRenderer)
{
    if (!pSource)
        return E_POINTER;
    if (!m_graph)
        return E_UNEXPECTED;
    ComPtr<IPin> out;
    if (FAILED(FindPin(pSource, PINDIR_OUTPUT, pCategory, pType, TRUE, 0, out.ReleaseAndGetAddressOf())))
        return E_FAIL;
    if (pfCompressor) {
        HRESULT hr = ConnectToFilter(out.Get(), pfCompressor);
        if (FAILED(hr))
            return hr;
        if (FAILED(FindPin(pfCompressor, PINDIR_OUTPUT, nullptr, nullptr, TRUE, 0, out.ReleaseAndGetAddressOf())))
            return pfRenderer ? E_FAIL : S_OK;
    }
    if (pfRenderer)
        return ConnectToFilter(out.Get(), pfRenderer);
    return m_graph->Render(out.Get());
}
