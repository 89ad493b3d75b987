#include "plugins/common/ClassFactory.h"

#include "platform/modules/Module.h"
#include "platform/dshow/FilterCatalogue.h"

#include <atomic>
#include <new>

namespace {

std::atomic<long> gObjects{0};
std::atomic<long> gServerLocks{0};

class CPrivateClassFactory final : private CModuleObject, public CUnknown, public IClassFactory {
public:
    explicit CPrivateClassFactory(CBaseFilter *(*create)()) : m_create(create) {}

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IClassFactory || riid == IID_IUnknown)
            return GetInterface(static_cast<IClassFactory *>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (pUnkOuter)
            return CLASS_E_NOAGGREGATION;
        // Nothing may be thrown across the module's border.
        try {
            ComPtr<CBaseFilter> filter(m_create());
            return filter->NonDelegatingQueryInterface(riid, ppv);
        } catch (const std::bad_alloc &) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }

    HRESULT LockServer(BOOL fLock) override
    {
        if (fLock)
            gServerLocks.fetch_add(1);
        else if (gServerLocks.fetch_sub(1) <= 0)
            gServerLocks.fetch_add(1);  // more unlocks than locks: stay at 0
        return S_OK;
    }

private:
    CBaseFilter *(*const m_create)();
};

} // namespace

CModuleObject::CModuleObject() { gObjects.fetch_add(1); }
CModuleObject::~CModuleObject() { gObjects.fetch_sub(1); }

HRESULT GetPrivateClassObject(std::span<const PrivateClass> classes, REFCLSID clsid, REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (const PrivateClass &c : classes) {
        if (c.clsid != clsid)
            continue;
        try {
            ComPtr<CPrivateClassFactory> factory(new CPrivateClassFactory(c.create));
            return factory->NonDelegatingQueryInterface(riid, ppv);
        } catch (const std::bad_alloc &) {
            return E_OUTOFMEMORY;
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadPrivateModule()
{
    return gObjects.load() == 0 && gServerLocks.load() == 0 ? S_OK : S_FALSE;
}
