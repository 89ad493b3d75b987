#include "platform/ffmpeg/VideoDecoder.h"

#include "platform/dshow/SampleTimeOrder.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <cstring>

using namespace ffmpeg;

namespace {

const GUID *const kOutputs[] = {&MEDIASUBTYPE_I420, &MEDIASUBTYPE_YV12, &MEDIASUBTYPE_NV12,
                                &MEDIASUBTYPE_RGB32};

bool IsOutputSubtype(REFGUID g)
{
    return std::any_of(std::begin(kOutputs), std::end(kOutputs), [&](const GUID *o) { return *o == g; });
}

LONG ImageSize(REFGUID subtype, int w, int h)
{
    if (subtype == MEDIASUBTYPE_RGB32)
        return w * h * 4;
    return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
}

// Where each plane of an output picture goes, and its pixel format.
AVPixelFormat PlanesFor(REFGUID subtype, BYTE *dst, int w, int h, uint8_t *data[4], int linesize[4])
{
    std::fill(data, data + 4, nullptr);
    std::fill(linesize, linesize + 4, 0);
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    data[0] = dst;
    linesize[0] = w;
    if (subtype == MEDIASUBTYPE_RGB32) {
        // Bottom-up rows, as a positive biHeight says.
        linesize[0] = -4 * w;
        data[0] = dst + static_cast<ptrdiff_t>(4) * w * (h - 1);
        return AV_PIX_FMT_BGR0;
    }
    if (subtype == MEDIASUBTYPE_NV12) {
        data[1] = dst + static_cast<ptrdiff_t>(w) * h;
        linesize[1] = 2 * cw;
        return AV_PIX_FMT_NV12;
    }
    BYTE *first = dst + static_cast<ptrdiff_t>(w) * h;
    BYTE *second = first + static_cast<ptrdiff_t>(cw) * ch;
    const bool yv12 = subtype == MEDIASUBTYPE_YV12;
    data[1] = yv12 ? second : first;  // U
    data[2] = yv12 ? first : second;  // V
    linesize[1] = linesize[2] = cw;
    return AV_PIX_FMT_YUV420P;
}

} // namespace

CMediaType DecodedVideoType(REFGUID subtype, int width, int height, REFERENCE_TIME frameDuration,
                            int aspectX, int aspectY)
{
    CMediaType mt(MEDIATYPE_Video, subtype, FORMAT_VideoInfo2);
    VIDEOINFOHEADER2 vih{};
    vih.rcSource = {0, 0, width, height};
    vih.rcTarget = vih.rcSource;
    vih.AvgTimePerFrame = frameDuration;
    vih.dwPictAspectRatioX = static_cast<DWORD>(aspectX > 0 ? aspectX : width);
    vih.dwPictAspectRatioY = static_cast<DWORD>(aspectY > 0 ? aspectY : height);
    BITMAPINFOHEADER &bmi = vih.bmiHeader;
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = width;
    bmi.biHeight = height;
    bmi.biPlanes = 1;
    const bool rgb = subtype == MEDIASUBTYPE_RGB32;
    bmi.biBitCount = rgb ? 32 : 12;
    bmi.biCompression = rgb ? BI_RGB : subtype.Data1;
    bmi.biSizeImage = static_cast<DWORD>(ImageSize(subtype, width, height));
    mt.SetFormat(vih);
    mt.SetSampleSize(bmi.biSizeImage);
    return mt;
}

CVideoDecoder::CVideoDecoder(LPCWSTR name, REFCLSID clsid, int threads)
    : CCodecFilter(name, clsid), m_threads(threads)
{
}

CVideoDecoder::~CVideoDecoder() = default;

// ---- Types ------------------------------------------------------------------------

HRESULT CVideoDecoder::CheckInputType(const CMediaType *mtIn)
{
    DecoderInput in;
    if (!ParseVideoType(*mtIn, &in) || !avcodec_find_decoder(in.codec))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CVideoDecoder::CheckTransform(const CMediaType *mtIn, const CMediaType *mtOut)
{
    DecoderInput in;
    if (!ParseVideoType(*mtIn, &in) || mtOut->Type() != MEDIATYPE_Video || !IsOutputSubtype(mtOut->Subtype()))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const BITMAPINFOHEADER *bmi = nullptr;
    if (mtOut->FormatType() == FORMAT_VideoInfo2 && mtOut->FormatAs<VIDEOINFOHEADER2>())
        bmi = &mtOut->FormatAs<VIDEOINFOHEADER2>()->bmiHeader;
    else if (mtOut->FormatType() == FORMAT_VideoInfo && mtOut->FormatAs<VIDEOINFOHEADER>())
        bmi = &mtOut->FormatAs<VIDEOINFOHEADER>()->bmiHeader;
    if (!bmi || bmi->biWidth != in.width || bmi->biHeight != in.height)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CVideoDecoder::GetMediaType(int iPosition, CMediaType *pMediaType)
{
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition >= static_cast<int>(std::size(kOutputs)))
        return VFW_S_NO_MORE_ITEMS;
    *pMediaType = DecodedVideoType(*kOutputs[iPosition], m_in.width, m_in.height, m_in.frameDuration,
                                   m_in.aspectX, m_in.aspectY);
    return S_OK;
}

HRESULT CVideoDecoder::SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt)
{
    if (direction == PINDIR_INPUT) {
        m_in = DecoderInput();
        if (!m_ownSettings)
            m_settings = ReadVideoDecodingSettings();
        // Another stream: no picture kept is one of it.
        m_cache.SetCap(m_settings.cacheBytes);
        m_cache.Clear();
        return ParseVideoType(*pmt, &m_in) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    m_outSubtype = pmt->Subtype();
    m_outWidth = m_in.width;
    m_outHeight = m_in.height;
    return S_OK;
}

void CVideoDecoder::SetDecodingSettings(const VideoDecodingSettings &settings)
{
    m_settings = settings;
    m_ownSettings = true;
    m_cache.SetCap(settings.cacheBytes);
}

HRESULT CVideoDecoder::DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProp)
{
    const LONG size = ImageSize(m_outSubtype, m_outWidth, m_outHeight);
    pProp->cBuffers = std::max<LONG>(pProp->cBuffers, 4);
    pProp->cbBuffer = std::max(pProp->cbBuffer, size);
    pProp->cbAlign = std::max<LONG>(pProp->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(pProp, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer < size ? E_FAIL : S_OK;
}

// ---- Streaming ----------------------------------------------------------------------

void CVideoDecoder::Configure(AVCodecContext *codec)
{
    codec->width = m_in.width;
    codec->height = m_in.height;
    codec->thread_count = m_threads;
    codec->thread_type = m_threads > 1 ? FF_THREAD_FRAME : 0;
}

HRESULT CVideoDecoder::StartStreaming()
{
    const HRESULT hr = CCodecFilter::StartStreaming();
    auto order = ComQuery<ISampleTimeOrder>(ComPtr<IPin>(m_pInput->GetConnected()));
    m_decodingOrder = order && order->DecodingOrder();
    const AVCodecDescriptor *codec = avcodec_descriptor_get(m_in.codec);
    m_intraOnly = codec && (codec->props & AV_CODEC_PROP_INTRA_ONLY);
    FindGate();
    ForgetRun();
    m_fresh = true;
    m_untimed = false;
    return hr;
}

HRESULT CVideoDecoder::StopStreaming()
{
    m_gate.Reset();
    m_held.clear();
    ForgetRun();
    return CCodecFilter::StopStreaming();
}

void CVideoDecoder::Stamp(IMediaSample *sample, AVPacket *packet)
{
    REFERENCE_TIME t0 = 0, t1 = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&t0, &t1));
    (m_decodingOrder ? packet->dts : packet->pts) = timed ? t0 : AV_NOPTS_VALUE;
    if (sample->IsSyncPoint() == S_OK)
        packet->flags |= AV_PKT_FLAG_KEY;
}

REFERENCE_TIME CVideoDecoder::PictureStart(const AVFrame *frame, REFERENCE_TIME duration) const
{
    REFERENCE_TIME t0 = frame->best_effort_timestamp;
    if (m_decodingOrder && frame->pkt_dts != AV_NOPTS_VALUE)
        t0 = frame->pkt_dts - m_codec->has_b_frames * duration;
    return t0 == AV_NOPTS_VALUE ? m_nextTime : t0;
}

// The kept picture goes out; a picture that ends before the segment starts
// is dropped.
HRESULT CVideoDecoder::DeliverKept()
{
    ComPtr<IMediaSample> kept = std::move(m_kept);
    if (!kept)
        return S_OK;
    REFERENCE_TIME t0 = 0, t1 = 0;
    kept->GetTime(&t0, &t1);
    if (t1 <= 0)
        return S_OK;  // preroll: decoded for the pictures after it, never shown
    kept->SetDiscontinuity(m_discontinuity);
    m_discontinuity = false;
    return m_pOutput->Deliver(kept.Get());
}

HRESULT CVideoDecoder::DeliverKeptBefore(REFERENCE_TIME next)
{
    if (!m_kept)
        return S_OK;
    REFERENCE_TIME k0 = 0, k1 = 0;
    m_kept->GetTime(&k0, &k1);
    if (k0 < next && next < k1)
        m_kept->SetTime(&k0, &next);
    return DeliverKept();
}

void CVideoDecoder::ResetKept()
{
    m_sws.reset();
    m_kept.Reset();
}

REFERENCE_TIME CVideoDecoder::Duration(const AVFrame *frame) const
{
    if (m_in.frameDuration > 0)
        return m_in.frameDuration;
    return frame->pkt_duration > 0 ? frame->pkt_duration : 400000;
}

HRESULT CVideoDecoder::DeliverFrame(const AVFrame *frame)
{
    const REFERENCE_TIME duration = Duration(frame);
    const double rate = m_pInput->CurrentRate();
    REFERENCE_TIME t0 = PictureStart(frame, duration);
    // Sample times run at the segment's rate; the duration is in media time.
    REFERENCE_TIME t1 = t0 + (rate > 0 ? static_cast<REFERENCE_TIME>(duration / rate) : duration);
    m_nextTime = t1;
    if (SeenAlready(frame, t0))
        return S_OK;
    const HRESULT hr = DeliverKeptBefore(t0);
    if (hr != S_OK)
        return hr;
    if (t1 <= 0)
        return S_OK;  // preroll: never shown, so never written
    if (!m_runFirstShown)
        m_runFirstShown = t0 + m_pInput->CurrentStartTime();
    REFERENCE_TIME media = 0;
    const bool timed = m_gate && m_gate->MediaTimeOf(t0, &media);
    const bool unwritten = timed && m_settings.skipHidden && m_gate->Swallows(media);
    const HRESULT kept = KeepPicture(frame, t0, t1, unwritten);
    if (kept != S_OK || unwritten || !timed || !DeliverNow(media))
        return kept;
    return DeliverKept();  // its stop stays uncut: it is shown paused
}

HRESULT CVideoDecoder::KeepPicture(const AVFrame *frame, REFERENCE_TIME t0, REFERENCE_TIME t1, bool unwritten)
{
    ComPtr<IMediaSample> out;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(out.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    if (unwritten) {
        out->SetActualDataLength(0);  // the notifier swallows it unread
        out->SetPreroll(TRUE);
        ++m_counters.unwritten;
    } else {
        BYTE *dst = nullptr;
        out->GetPointer(&dst);
        if (FAILED(WritePicture(frame, dst, out->GetSize())))
            return S_OK;  // an odd picture is skipped, the stream goes on
        out->SetActualDataLength(ImageSize(m_outSubtype, m_outWidth, m_outHeight));
        out->SetPreroll(FALSE);
    }
    out->SetTime(&t0, &t1);
    out->SetSyncPoint(frame->key_frame != 0);
    m_kept = std::move(out);
    return S_OK;
}

HRESULT CVideoDecoder::WritePicture(const AVFrame *frame, BYTE *dst, LONG size)
{
    if (size < ImageSize(m_outSubtype, m_outWidth, m_outHeight))
        return E_FAIL;
    uint8_t *planes[4];
    int strides[4];
    const AVPixelFormat want = PlanesFor(m_outSubtype, dst, m_outWidth, m_outHeight, planes, strides);
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const bool same = (format == want || (want == AV_PIX_FMT_YUV420P && format == AV_PIX_FMT_YUVJ420P))
        && frame->width == m_outWidth && frame->height == m_outHeight;
    if (same) {
        av_image_copy(planes, strides, const_cast<const uint8_t **>(frame->data), frame->linesize,
                      want, m_outWidth, m_outHeight);
        return S_OK;
    }
    m_sws.reset(sws_getCachedContext(m_sws.release(), frame->width, frame->height, format, m_outWidth,
                                     m_outHeight, want, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!m_sws)
        return E_FAIL;
    sws_scale(m_sws.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
    return S_OK;
}

