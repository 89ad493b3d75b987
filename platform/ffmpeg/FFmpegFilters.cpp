#include "platform/ffmpeg/FFmpegFilters.h"

#include "platform/dshow/FilterCatalogue.h"
#include "platform/ffmpeg/AudioDecoder.h"
#include "platform/ffmpeg/LavSplitter.h"
#include "platform/ffmpeg/VideoDecoder.h"

namespace {

template <class Make>
CreateFunction Factory(Make make)
{
    return [make](REFIID riid, void **ppv) -> HRESULT {
        ComPtr<CBaseFilter> filter(make());
        return filter->NonDelegatingQueryInterface(riid, ppv);
    };
}

std::vector<std::pair<GUID, GUID>> InputTypes(REFGUID major, const std::vector<ffmpeg::SubtypeCodec> &list)
{
    std::vector<std::pair<GUID, GUID>> types;
    for (const auto &entry : list)
        types.emplace_back(major, entry.subtype);
    return types;
}

} // namespace

void RegisterFFmpegFilters()
{
    RegisterFilter({CLSID_LAVSplitterSource, L"LAV Splitter Source", MERIT_NORMAL + 4, {}, false,
                    Factory([] { return new CLavSplitter(); })});
    const auto video = InputTypes(MEDIATYPE_Video, ffmpeg::VideoSubtypes());
    RegisterFilter({CLSID_VidstillVideoDecoder, L"Vidstill Video Decoder", MERIT_PREFERRED, video, false,
                    Factory([] { return new CVideoDecoder(L"Vidstill Video Decoder", CLSID_VidstillVideoDecoder, 2); })});
    RegisterFilter({CLSID_VidstillVideoDecoderST, L"Vidstill Video Decoder (single thread)", MERIT_NORMAL,
                    video, false, Factory([] {
                        return new CVideoDecoder(L"Vidstill Video Decoder (single thread)",
                                                 CLSID_VidstillVideoDecoderST, 1);
                    })});
    RegisterFilter({CLSID_VidstillAudioDecoder, L"Vidstill Audio Decoder", MERIT_PREFERRED,
                    InputTypes(MEDIATYPE_Audio, ffmpeg::AudioSubtypes()), false,
                    Factory([] { return new CAudioDecoder(); })});
}
