// LAVAudio.ax: "Private LAV Audio Decoder", set up by Software\LBV\LAV Audio.
#include "plugins/common/PrivateFilters.h"

namespace {

// {E8E73B6B-4CB3-44A4-BE99-4F7BCB96E491}
constexpr CLSID CLSID_PrivateLAVAudio{0xE8E73B6B, 0x4CB3, 0x44A4, {0xBE, 0x99, 0x4F, 0x7B, 0xCB, 0x96, 0xE4, 0x91}};

const PrivateDecoderProfile kAudio{CLSID_PrivateLAVAudio, L"Private LAV Audio Decoder",
                                   {"Software\\LBV\\LAV Audio", nullptr, "Formats"}, 0};

const PrivateClass kClasses[] = {
    {CLSID_PrivateLAVAudio, [] () -> CBaseFilter * { return new CPrivateAudioDecoder(kAudio); }},
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
