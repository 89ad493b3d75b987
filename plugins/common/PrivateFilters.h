// The filters of the private modules: the libavformat splitter and the
// libavcodec decoders of platform/ffmpeg under the private class identifiers
// and names, each reading its settings (PrivateSettings.h) when it connects.
// A codec or container switched off in the settings is refused the way a
// decoder refuses a type it does not know, so the graph moves on to the next
// filter.
//
// Threads: as the filters they build on.
#pragma once

#include "platform/ffmpeg/AudioDecoder.h"
#include "platform/ffmpeg/LavSplitter.h"
#include "platform/ffmpeg/VideoDecoder.h"
#include "plugins/common/ClassFactory.h"
#include "plugins/common/PrivateSettings.h"

struct PrivateDecoderProfile {
    CLSID clsid;
    const wchar_t *name;
    PrivateSettingsKeys settings;
    int defaultThreads;  // video: when the settings name none
};

class CPrivateVideoDecoder final : private CModuleObject, public CVideoDecoder {
public:
    explicit CPrivateVideoDecoder(const PrivateDecoderProfile &profile);

    HRESULT CheckInputType(const CMediaType *mtIn) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt) override;

private:
    const PrivateDecoderProfile &m_profile;
};

class CPrivateAudioDecoder final : private CModuleObject, public CAudioDecoder {
public:
    explicit CPrivateAudioDecoder(const PrivateDecoderProfile &profile);

    HRESULT CheckInputType(const CMediaType *mtIn) override;

private:
    const PrivateDecoderProfile &m_profile;
};

// "Private LAV Source Splitter": a file source taking what libavformat opens,
// less the containers switched off in Software\LBV\LAV Splitter\Formats.
class CPrivateSplitter final : private CModuleObject, public CLavSplitter {
public:
    CPrivateSplitter();
};

// The codec name the settings use for a compressed type ("h264", "mpeg4",
// "mp2" ...); empty when libavcodec has no decoder for it.
QString CodecNameOf(const CMediaType &mt);
