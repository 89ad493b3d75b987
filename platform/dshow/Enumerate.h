// Enumerating a graph's filters, a filter's pins and a pin's media types:
// the one snapshot enumerator the engine hands out (the items as they were
// when it was made, each handed out as a new reference or copy), and the
// helpers that read an enumerator into a list.
//
// Threads: any; an enumerator is used by one thread at a time.
#pragma once

#include "platform/dshow/MediaType.h"
#include "platform/dshow/Strmif.h"

#include <algorithm>
#include <string>
#include <vector>

namespace enumerate_detail {
// An item handed to the caller: a reference to add, or a type to copy.
template <class T>
void HandOut(const ComPtr<T> &item, T **out)
{
    item.CopyTo(out);
}
inline void HandOut(const CMediaType &item, AM_MEDIA_TYPE **out) { *out = CreateMediaType(&item); }
} // namespace enumerate_detail

// IEnum is IEnumPins, IEnumFilters or IEnumMediaTypes; Item what it holds;
// Out what Next hands out.
template <class IEnum, class Item, class Out>
class CSnapshotEnum final : public CUnknown, public IEnum {
public:
    explicit CSnapshotEnum(std::vector<Item> items, size_t position = 0)
        : m_items(std::move(items)), m_position(position)
    {
    }
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IEnum::iid || riid == IID_IUnknown)
            return GetInterface(static_cast<IEnum *>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT Next(ULONG count, Out *items, ULONG *pFetched) override
    {
        if (!items || (count > 1 && !pFetched))
            return E_POINTER;
        ULONG fetched = 0;
        while (fetched < count && m_position < m_items.size())
            enumerate_detail::HandOut(m_items[m_position++], &items[fetched++]);
        if (pFetched)
            *pFetched = fetched;
        return fetched == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override
    {
        const size_t left = m_items.size() - m_position;
        m_position += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override
    {
        m_position = 0;
        return S_OK;
    }
    HRESULT Clone(IEnum **ppEnum) override
    {
        if (!ppEnum)
            return E_POINTER;
        *ppEnum = MakeCom<CSnapshotEnum>(m_items, m_position).Detach();
        return S_OK;
    }

private:
    std::vector<Item> m_items;
    size_t m_position;
};

using CEnumPins = CSnapshotEnum<IEnumPins, ComPtr<IPin>, IPin *>;
using CEnumFilters = CSnapshotEnum<IEnumFilters, ComPtr<IBaseFilter>, IBaseFilter *>;
using CEnumMediaTypes = CSnapshotEnum<IEnumMediaTypes, CMediaType, AM_MEDIA_TYPE *>;

// The helpers have a namespace of their own: callers elsewhere keep local
// ones of these names.
namespace dshow {

// A filter's pins in order; empty when it has none or cannot tell.
inline std::vector<ComPtr<IPin>> PinsOf(IBaseFilter *filter)
{
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> e;
    if (!filter || FAILED(filter->EnumPins(e.ReleaseAndGetAddressOf())) || !e)
        return pins;
    ComPtr<IPin> pin;
    while (e->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK)
        pins.push_back(pin);
    return pins;
}

// Those of one direction.
inline std::vector<ComPtr<IPin>> PinsOf(IBaseFilter *filter, PIN_DIRECTION wanted)
{
    std::vector<ComPtr<IPin>> pins = PinsOf(filter);
    std::erase_if(pins, [wanted](const ComPtr<IPin> &pin) {
        PIN_DIRECTION dir;
        return FAILED(pin->QueryDirection(&dir)) || dir != wanted;
    });
    return pins;
}

// A graph's filters in order.
inline std::vector<ComPtr<IBaseFilter>> FiltersOf(IFilterGraph *graph)
{
    std::vector<ComPtr<IBaseFilter>> filters;
    ComPtr<IEnumFilters> e;
    if (!graph || FAILED(graph->EnumFilters(e.ReleaseAndGetAddressOf())) || !e)
        return filters;
    ComPtr<IBaseFilter> filter;
    while (e->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK)
        filters.push_back(filter);
    return filters;
}

// The pin's peer, or empty.
inline ComPtr<IPin> PeerOf(IPin *pin)
{
    ComPtr<IPin> peer;
    if (pin->ConnectedTo(peer.ReleaseAndGetAddressOf()) != S_OK)
        peer.Reset();
    return peer;
}

// The filter's n-th pin, or null; the filter keeps its pins, so the pointer
// stays good while the filter lives.
inline IPin *PinAt(IBaseFilter *filter, size_t n)
{
    const auto pins = PinsOf(filter);
    return n < pins.size() ? pins[n].Get() : nullptr;
}

// The filter a pin belongs to, or empty.
inline ComPtr<IBaseFilter> FilterOf(IPin *pin)
{
    PIN_INFO info{};
    if (!pin || FAILED(pin->QueryPinInfo(&info)))
        return nullptr;
    return ComPtr<IBaseFilter>::Attach(info.pFilter);
}

// The name the filter has in its graph; empty when it cannot tell.
inline std::wstring FilterName(IBaseFilter *filter)
{
    FILTER_INFO info{};
    if (!filter || FAILED(filter->QueryFilterInfo(&info)))
        return {};
    if (info.pGraph)
        info.pGraph->Release();
    return info.achName;
}

} // namespace dshow
