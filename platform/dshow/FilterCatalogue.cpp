#include "platform/dshow/FilterCatalogue.h"

#include "platform/base/WideText.h"

#include "platform/dshow/CaptureGraphBuilder.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/RefClock.h"
#include "platform/dshow/Uuids.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

struct Catalogue {
    std::mutex lock;
    std::vector<FilterRegistration> entries;  // registration order

    Catalogue()
    {
        // The engine's own classes; not filters, so no merit.
        entries.push_back({CLSID_FilterGraph, L"Filter Graph", 0, {}, false, CreateFilterGraph});
        entries.push_back({CLSID_SystemClock, L"System Reference Clock", 0, {}, false, CreateSystemClock});
        entries.push_back({CLSID_CaptureGraphBuilder2, L"Capture Graph Builder", 0, {}, false,
                           CreateCaptureGraphBuilder});
    }
};

Catalogue &TheCatalogue()
{
    static Catalogue catalogue;
    return catalogue;
}

bool Accepts(const FilterRegistration &r, REFGUID major, REFGUID sub)
{
    for (const auto &[m, s] : r.inputTypes) {
        const bool majorOk = m == GUID_NULL || major == GUID_NULL || m == major;
        const bool subOk = s == GUID_NULL || sub == GUID_NULL || s == sub;
        if (majorOk && subOk)
            return true;
    }
    return false;
}

std::vector<FilterRegistration> ByMerit(std::vector<FilterRegistration> list)
{
    std::stable_sort(list.begin(), list.end(),
                     [](const auto &a, const auto &b) { return a.merit > b.merit; });
    return list;
}

// BindToObject creates a new instance each time, as a device moniker does.
class CCatalogueMoniker final : public CUnknown, public IMoniker {
public:
    explicit CCatalogueMoniker(FilterRegistration r) : m_registration(std::move(r)) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IMoniker || riid == IID_IUnknown)
            return GetInterface(static_cast<IMoniker *>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT BindToObject(IBindCtx *, IMoniker *, REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        return m_registration.create ? m_registration.create(riid, ppv) : E_FAIL;
    }
    HRESULT GetDisplayName(IBindCtx *, IMoniker *, LPWSTR *ppszDisplayName) override
    {
        if (!ppszDisplayName)
            return E_POINTER;
        *ppszDisplayName = NewWideCopy(m_registration.name);
        return S_OK;
    }

private:
    const FilterRegistration m_registration;
};

} // namespace

void RegisterFilter(FilterRegistration registration)
{
    Catalogue &c = TheCatalogue();
    std::lock_guard lock(c.lock);
    const auto it = std::find_if(c.entries.begin(), c.entries.end(),
                                 [&](const auto &e) { return e.clsid == registration.clsid; });
    if (it != c.entries.end())
        *it = std::move(registration);
    else
        c.entries.push_back(std::move(registration));
}

void UnregisterFilter(REFCLSID clsid)
{
    Catalogue &c = TheCatalogue();
    std::lock_guard lock(c.lock);
    std::erase_if(c.entries, [&](const auto &e) { return e.clsid == clsid; });
}

bool FindFilterRegistration(REFCLSID clsid, FilterRegistration *out)
{
    Catalogue &c = TheCatalogue();
    std::lock_guard lock(c.lock);
    for (const auto &e : c.entries) {
        if (e.clsid == clsid) {
            if (out)
                *out = e;
            return true;
        }
    }
    return false;
}

std::vector<FilterRegistration> FiltersAccepting(REFGUID major, REFGUID sub)
{
    Catalogue &c = TheCatalogue();
    std::vector<FilterRegistration> found;
    {
        std::lock_guard lock(c.lock);
        for (const auto &e : c.entries)
            if (e.merit > MERIT_DO_NOT_USE && e.create && Accepts(e, major, sub))
                found.push_back(e);
    }
    return ByMerit(std::move(found));
}

std::vector<FilterRegistration> RendererFilters()
{
    Catalogue &c = TheCatalogue();
    std::vector<FilterRegistration> found;
    {
        std::lock_guard lock(c.lock);
        for (const auto &e : c.entries)
            if (e.isRenderer && e.merit > MERIT_DO_NOT_USE && e.create)
                found.push_back(e);
    }
    return ByMerit(std::move(found));
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD, REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;
    FilterRegistration r;
    if (!FindFilterRegistration(rclsid, &r) || !r.create)
        return REGDB_E_CLASSNOTREG;
    return r.create(riid, ppv);
}

ComPtr<IMoniker> CreateCatalogueMoniker(const FilterRegistration &registration)
{
    return MakeCom<CCatalogueMoniker>(registration);
}
