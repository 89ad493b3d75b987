#include "platform/ffmpeg/FFmpegFilters.h"

#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/SmartTee.h"
#include "platform/ffmpeg/AudioDecoder.h"
#include "platform/ffmpeg/DvSplitter.h"
#include "platform/ffmpeg/FileSourceAsync.h"
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

void RegisterSplitter(const SplitterProfile &profile, DWORD merit, std::vector<GUID> streamSubtypes)
{
    std::vector<std::pair<GUID, GUID>> inputs;
    for (const GUID &subtype : streamSubtypes)
        inputs.emplace_back(MEDIATYPE_Stream, subtype);
    RegisterFilter({profile.clsid, profile.name, merit, inputs, false,
                    Factory([&profile] { return new CLavSplitter(profile); })});
}

} // namespace

void RegisterFFmpegFilters()
{
    RegisterSplitter(LavSourceProfile(), MERIT_NORMAL + 4, {});
    RegisterSplitter(AsfReaderProfile(), MERIT_UNLIKELY, {});
    RegisterSplitter(AviSplitterProfile(), MERIT_NORMAL, {MEDIASUBTYPE_Avi});
    RegisterSplitter(Mpeg2SplitterProfile(), MERIT_NORMAL,
                     {MEDIASUBTYPE_MPEG2_PROGRAM, MEDIASUBTYPE_MPEG2_TRANSPORT});
    RegisterSplitter(Mpeg1SplitterProfile(), MERIT_NORMAL,
                     {MEDIASUBTYPE_MPEG1System, MEDIASUBTYPE_MPEG1Video, MEDIASUBTYPE_MPEG1Audio});
    RegisterSplitter(WaveParserProfile(), MERIT_UNLIKELY, {MEDIASUBTYPE_WAVE});
    RegisterFilter({CLSID_AsyncReader, L"File Source (Async.)", MERIT_UNLIKELY, {}, false,
                    Factory([] { return new CFileSourceAsync(); })});
    RegisterFilter({CLSID_DVSplitter, L"DV Splitter", MERIT_NORMAL, {{MEDIATYPE_Interleaved, MEDIASUBTYPE_dvsd}},
                    false, Factory([] { return new CDvSplitter(); })});
    RegisterFilter({CLSID_SmartTee, L"Smart Tee", MERIT_DO_NOT_USE, {{GUID_NULL, GUID_NULL}}, false,
                    Factory([] { return new CSmartTee(); })});
    RegisterFilter({CLSID_MPEG2Demultiplexer, L"MPEG-2 Demultiplexer", MERIT_DO_NOT_USE,
                    {{MEDIATYPE_Stream, GUID_NULL}}, false, Factory([] { return new CMpeg2Demux(); })});
    const auto video = InputTypes(MEDIATYPE_Video, ffmpeg::VideoSubtypes());
    RegisterFilter({CLSID_VidstillVideoDecoder, L"Vidstill Video Decoder", MERIT_PREFERRED, video, false,
                    Factory([] {
                        return new CVideoDecoder(L"Vidstill Video Decoder", CLSID_VidstillVideoDecoder,
                                                 MachineDecoderThreads());
                    })});
    RegisterFilter({CLSID_VidstillVideoDecoderST, L"Vidstill Video Decoder (single thread)", MERIT_NORMAL,
                    video, false, Factory([] {
                        return new CVideoDecoder(L"Vidstill Video Decoder (single thread)",
                                                 CLSID_VidstillVideoDecoderST, 1);
                    })});
    std::vector<std::pair<GUID, GUID>> h264;
    for (const auto &entry : ffmpeg::VideoSubtypes())
        if (entry.codec == AV_CODEC_ID_H264)
            h264.emplace_back(MEDIATYPE_Video, entry.subtype);
    RegisterFilter({CLSID_SystemH264Decoder, L"DTV-DVD Video Decoder", MERIT_PREFERRED + 1, h264, false,
                    Factory([] {
                        return new CVideoDecoder(L"DTV-DVD Video Decoder", CLSID_SystemH264Decoder,
                                                 MachineDecoderThreads());
                    })});
    RegisterFilter({CLSID_VidstillAudioDecoder, L"Vidstill Audio Decoder", MERIT_PREFERRED,
                    InputTypes(MEDIATYPE_Audio, ffmpeg::AudioSubtypes()), false,
                    Factory([] { return new CAudioDecoder(); })});
}
