// LAVSplitter.ax: "Private LAV Source Splitter".
#include "plugins/common/PrivateFilters.h"

namespace {

const PrivateClass kClasses[] = {
    {CLSID_LAVSplitterSource, [] () -> CBaseFilter * { return new CPrivateSplitter(); }},
};

} // namespace

VIDSTILL_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void **ppv)
{
    return GetPrivateClassObject(kClasses, clsid, riid, ppv);
}

VIDSTILL_MODULE_EXPORT HRESULT DllCanUnloadNow()
{
    return CanUnloadPrivateModule();
}
