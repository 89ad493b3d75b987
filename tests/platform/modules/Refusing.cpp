// A module whose entry point misbehaves in the ways a foreign module might:
// a factory that makes nothing, an entry point that says yes and gives
// nothing, and classes it does not know.
#include "platform/dshow/Unknown.h"

#include "TestModuleIds.h"

namespace {

class RefusingFactory final : public CUnknown, public IClassFactory {
public:
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IClassFactory || riid == IID_IUnknown)
            return GetInterface(static_cast<IClassFactory *>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT CreateInstance(IUnknown *, REFIID, void **ppv) override
    {
        *ppv = nullptr;
        return E_OUTOFMEMORY;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
};

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void **ppv)
{
    *ppv = nullptr;
    if (clsid == CLSID_TestRefusingFactory) {
        ComPtr<RefusingFactory> factory(new RefusingFactory);
        return factory->NonDelegatingQueryInterface(riid, ppv);
    }
    if (clsid == CLSID_TestEmptyAnswer)
        return S_OK;
    return static_cast<HRESULT>(0x80040111u);  // CLASS_E_CLASSNOTAVAILABLE
}
