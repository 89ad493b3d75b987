#include "KWPack/uDecoderVeto.h"

#include "KWPack/uDecoders.h"

#include "platform/dshow/Enumerate.h"
#include "platform/dshow/Guid.h"
#include "platform/dshow/Iids.h"

#include <algorithm>

namespace {
QString GuidText(REFGUID guid) { return QString::fromStdString(GuidToString(guid)); }
} // namespace

void AddTriedDecoder(QStringList &tried, const CLSID &clsid)
{
    const QString text = GuidText(clsid);
    const auto at = std::lower_bound(tried.begin(), tried.end(), text);
    if (at == tried.end() || *at != text)
        tried.insert(at, text);
}

bool IsTriedDecoder(const QStringList &tried, const CLSID &clsid)
{
    return std::binary_search(tried.begin(), tried.end(), GuidText(clsid));
}

HRESULT TDecoderVeto::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IAMGraphBuilderCallback || riid == IID_IUnknown)
        return GetInterface(static_cast<IAMGraphBuilderCallback *>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT TDecoderVeto::SelectedFilter(IMoniker *pMon)
{
    if (!Tried)
        return S_OK;
    ComPtr<IBaseFilter> filter;
    if (!pMon || FAILED(pMon->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReleaseAndGetVoidAddress()))
        || !filter)
        return E_FAIL;
    CLSID clsid = GUID_NULL;
    if (FAILED(filter->GetClassID(&clsid)))
        return E_FAIL;
    return IsTriedDecoder(*Tried, clsid) ? E_FAIL : S_OK;
}

void TAddedFilters::Add(const TFilterRec *rec)
{
    ComPtr<IBaseFilter> filter = rec->CreateFilter();
    if (filter && SUCCEEDED(Graph->AddFilter(filter.Get(), rec->Name().toStdWString().c_str())))
        Added.push_back(filter);
}

void TAddedFilters::RemoveUnconnected()
{
    for (const ComPtr<IBaseFilter> &filter : Added) {
        bool connected = false;
        for (const ComPtr<IPin> &pin : dshow::PinsOf(filter.Get()))
            connected = connected || dshow::PeerOf(pin.Get());
        if (!connected)
            Graph->RemoveFilter(filter.Get());
    }
}
