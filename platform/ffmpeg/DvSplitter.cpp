#include "platform/ffmpeg/DvSplitter.h"

#include "platform/dshow/Uuids.h"
#include "platform/ffmpeg/AudioDecoder.h"
#include "platform/ffmpeg/DvAudio.h"

namespace {

constexpr LONG kPalFrame = 144000, kNtscFrame = 120000;
constexpr LONG kSoundBuffer = 16 * 1024;  // 1920 stereo samples and more

CMediaType DvVideoType(bool pal)
{
    CMediaType mt(MEDIATYPE_Video, MEDIASUBTYPE_dvsd, FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = pal ? 400000 : 333667;
    vih.dwBitRate = pal ? 28800000 : 28771200;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = 720;
    vih.bmiHeader.biHeight = pal ? 576 : 480;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 24;
    vih.bmiHeader.biCompression = MAKEFOURCC('d', 'v', 's', 'd');
    vih.bmiHeader.biSizeImage = static_cast<DWORD>(pal ? kPalFrame : kNtscFrame);
    mt.SetFormat(vih);
    mt.SetSampleSize(vih.bmiHeader.biSizeImage);
    return mt;
}

} // namespace

CDvSplitter::CDvSplitter() : CFanOutFilter(L"DV Splitter", CLSID_DVSplitter, {L"DVVidOut0", L"AudOut00"}) {}

HRESULT CDvSplitter::CheckInputType(const CMediaType *pmt)
{
    return pmt->majortype == MEDIATYPE_Interleaved && pmt->subtype == MEDIASUBTYPE_dvsd ? S_OK
                                                                                      : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CDvSplitter::InputConnected(const CMediaType &type)
{
    DvStreamInfo info;
    if (const DVINFO *dv = type.FormatType() == FORMAT_DvInfo ? type.FormatAs<DVINFO>() : nullptr)
        info = DvInfoFromPacks(dv->dwDVVAuxSrc, dv->dwDVAAuxSrc);
    m_pal = info.pal;
    m_rate = info.rate;
    return S_OK;
}

bool CDvSplitter::OutputType(int index, CMediaType *pmt)
{
    if (!InputPin()->IsConnected())
        return false;
    *pmt = index == kDvVideoOut ? DvVideoType(m_pal) : PcmAudioType(m_rate, 2);
    return true;
}

void CDvSplitter::OutputBuffers(int index, LONG *count, LONG *size)
{
    *count = index == kDvVideoOut ? 4 : 8;
    *size = index == kDvVideoOut ? kPalFrame : kSoundBuffer;
}

HRESULT CDvSplitter::Process(IMediaSample *sample)
{
    BYTE *frame = nullptr;
    sample->GetPointer(&frame);
    const LONG length = sample->GetActualDataLength();
    if (!frame || length != (m_pal ? kPalFrame : kNtscFrame))
        return S_OK;  // not a frame of this stream: skipped
    const bool video = OutputPin(kDvVideoOut)->IsConnected(), sound = OutputPin(kDvAudioOut)->IsConnected();
    const HRESULT v = video ? DeliverCopy(kDvVideoOut, sample, frame, length) : S_OK;
    const HRESULT a = sound ? DeliverSound(sample, frame, length) : S_OK;
    // One stream refused downstream does not stop the other.
    if (video && sound)
        return FAILED(v) && FAILED(a) ? v : S_OK;
    return FAILED(v) ? v : a;
}

HRESULT CDvSplitter::DeliverSound(IMediaSample *sample, const BYTE *frame, LONG length)
{
    DvFrameAudio audio;
    if (!DecodeDvAudio(frame, static_cast<size_t>(length), &audio) || audio.channels < 2
        || audio.rate != m_rate)
        return S_OK;  // a frame without sound of this stream's kind
    // The first pair of channels.
    std::vector<int16_t> stereo;
    stereo.reserve(audio.samples.size() / static_cast<size_t>(audio.channels) * 2);
    for (size_t i = 0; i + 1 < audio.samples.size(); i += static_cast<size_t>(audio.channels)) {
        stereo.push_back(audio.samples[i]);
        stereo.push_back(audio.samples[i + 1]);
    }
    const auto bytes = static_cast<LONG>(stereo.size() * sizeof(int16_t));
    return DeliverCopy(kDvAudioOut, sample, reinterpret_cast<const BYTE *>(stereo.data()), std::min(bytes, kSoundBuffer));
}
