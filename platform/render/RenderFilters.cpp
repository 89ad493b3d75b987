#include "platform/render/RenderFilters.h"

#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/Uuids.h"
#include "platform/render/DSoundRender.h"
#include "platform/render/Vmr9.h"

void RegisterRenderFilters()
{
    // Merit above "do not use", so that Render ends at them.
    RegisterFilter({CLSID_VideoMixingRenderer9, L"Video Mixing Renderer 9", MERIT_NORMAL,
                    {{MEDIATYPE_Video, GUID_NULL}}, true, CreateVideoMixingRenderer9});
    RegisterFilter({CLSID_DSoundRender, L"DirectSound Audio Renderer", MERIT_PREFERRED,
                    {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}}, true, CreateDSoundRender});
}
