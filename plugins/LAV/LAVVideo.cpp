// LAVVideo.ax: "Private LAV Video Decoder", set up by Software\LBV\LAV Video.
#include "plugins/common/PrivateFilters.h"

namespace {

// {EE30215D-164F-4A92-A4EB-9D4C13390F9F}
constexpr CLSID CLSID_PrivateLAVVideo{0xEE30215D, 0x164F, 0x4A92, {0xA4, 0xEB, 0x9D, 0x4C, 0x13, 0x39, 0x0F, 0x9F}};

const PrivateDecoderProfile kVideo{CLSID_PrivateLAVVideo, L"Private LAV Video Decoder",
                                   {"Software\\LBV\\LAV Video", "NumThreads", "Formats"}, 2};

const PrivateClass kClasses[] = {
    {CLSID_PrivateLAVVideo, [] () -> CBaseFilter * { return new CPrivateVideoDecoder(kVideo); }},
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
