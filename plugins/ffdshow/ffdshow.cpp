// ffdshow.ax: "Private ffdshow Video decoder" and "Private ffdshow Audio
// decoder", set up by Software\VOS\ffdshow and Software\VOS\ffdshow_audio.
#include "plugins/common/PrivateFilters.h"

namespace {

// {04FE9017-F873-410E-871E-AB91661A4EF7}
constexpr CLSID CLSID_PrivateffdshowVideo{0x04FE9017, 0xF873, 0x410E, {0x87, 0x1E, 0xAB, 0x91, 0x66, 0x1A, 0x4E, 0xF7}};
// {0F40E1E5-4F79-4988-B1A9-CC98794E6B55}
constexpr CLSID CLSID_PrivateffdshowAudio{0x0F40E1E5, 0x4F79, 0x4988, {0xB1, 0xA9, 0xCC, 0x98, 0x79, 0x4E, 0x6B, 0x55}};

const PrivateDecoderProfile kVideo{CLSID_PrivateffdshowVideo, L"Private ffdshow Video decoder",
                                   {"Software\\VOS\\ffdshow", "threadsNum", "Codecs"}, 2};
const PrivateDecoderProfile kAudio{CLSID_PrivateffdshowAudio, L"Private ffdshow Audio decoder",
                                   {"Software\\VOS\\ffdshow_audio", nullptr, "Codecs"}, 0};

const PrivateClass kClasses[] = {
    {CLSID_PrivateffdshowVideo, [] () -> CBaseFilter * { return new CPrivateVideoDecoder(kVideo); }},
    {CLSID_PrivateffdshowAudio, [] () -> CBaseFilter * { return new CPrivateAudioDecoder(kAudio); }},
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
