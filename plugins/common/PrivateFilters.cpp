#include "plugins/common/PrivateFilters.h"

namespace {

const PrivateSettingsKeys kSplitterSettings{"Software\\LBV\\LAV Splitter", nullptr, "Formats"};

bool SplitterTakes(const AVFormatContext *format, const std::vector<uint8_t> &)
{
    return ReadPrivateSettings(kSplitterSettings).TakesAll(QString::fromLatin1(format->iformat->name));
}

const SplitterProfile &PrivateSplitterProfile()
{
    static const SplitterProfile p{CLSID_LAVSplitterSource, L"Private LAV Source Splitter", true, false,
                                   SplitterTakes};
    return p;
}

} // namespace

QString CodecNameOf(const CMediaType &mt)
{
    ffmpeg::DecoderInput in;
    const bool parsed = mt.Type() == MEDIATYPE_Audio ? ffmpeg::ParseAudioType(mt, &in) : ffmpeg::ParseVideoType(mt, &in);
    if (!parsed || !avcodec_find_decoder(in.codec))
        return QString();
    return QString::fromLatin1(avcodec_get_name(in.codec));
}

CPrivateVideoDecoder::CPrivateVideoDecoder(const PrivateDecoderProfile &profile)
    : CVideoDecoder(profile.name, profile.clsid, profile.defaultThreads), m_profile(profile)
{
}

HRESULT CPrivateVideoDecoder::CheckInputType(const CMediaType *mtIn)
{
    const HRESULT hr = CVideoDecoder::CheckInputType(mtIn);
    if (FAILED(hr))
        return hr;
    return ReadPrivateSettings(m_profile.settings).Takes(CodecNameOf(*mtIn)) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CPrivateVideoDecoder::SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt)
{
    if (direction == PINDIR_INPUT) {
        const int threads = ReadPrivateSettings(m_profile.settings).threads;
        SetThreadCount(threads > 0 ? threads : m_profile.defaultThreads);
    }
    return CVideoDecoder::SetMediaType(direction, pmt);
}

CPrivateAudioDecoder::CPrivateAudioDecoder(const PrivateDecoderProfile &profile)
    : CAudioDecoder(profile.name, profile.clsid), m_profile(profile)
{
}

HRESULT CPrivateAudioDecoder::CheckInputType(const CMediaType *mtIn)
{
    const HRESULT hr = CAudioDecoder::CheckInputType(mtIn);
    if (FAILED(hr))
        return hr;
    return ReadPrivateSettings(m_profile.settings).Takes(CodecNameOf(*mtIn)) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

CPrivateSplitter::CPrivateSplitter() : CLavSplitter(PrivateSplitterProfile()) {}
