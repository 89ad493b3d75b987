#include "platform/ffmpeg/LavSplitter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

using namespace ffmpeg;

namespace {

// The demux thread waits when the queues hold this much.
constexpr size_t kQueueSoftPackets = 64;
constexpr size_t kQueueHardPackets = 4000;
constexpr size_t kQueueHardBytes = size_t{64} << 20;
// Packets read while looking for the key frame after a seek.
constexpr int kMaxSeekPackets = 20000;
// A source with nothing to read yet (EAGAIN) is asked again after this.
constexpr std::chrono::milliseconds kReadAgain{5};

// The frames of a type-1 DV stream, whole, as one interleaved stream; the
// audio libavformat takes out of them is left to the DV splitter downstream.
bool InterleavedDvType(const AVStream *s, const DVINFO &dv, CMediaType *mt)
{
    if (s->codecpar->codec_id != AV_CODEC_ID_DVVIDEO)
        return false;
    *mt = CMediaType(MEDIATYPE_Interleaved, MEDIASUBTYPE_dvsd, FORMAT_DvInfo);
    mt->SetFormat(dv);
    mt->SetSampleSize(s->codecpar->height >= 576 ? 144000 : 120000);
    return true;
}

LONG BufferSizeFor(const AVCodecParameters *par)
{
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        const int64_t raw = int64_t{par->width} * par->height * 4 + (64 << 10);
        return static_cast<LONG>(std::clamp<int64_t>(raw, 512 << 10, 64 << 20));
    }
    return 512 << 10;
}

} // namespace

CLavSplitter::CLavSplitter(const SplitterProfile &profile)
    : CBaseFilter(profile.name, &m_csFilter, profile.clsid), m_profile(profile)
{
    if (!profile.fileSource)
        m_input = std::make_unique<CLavInputPin>(this, &m_csFilter);
}

CLavSplitter::~CLavSplitter()
{
    StopStreaming();
}

HRESULT CLavSplitter::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IFileSourceFilter && m_profile.fileSource)
        return GetInterface(static_cast<IFileSourceFilter *>(this), ppv);
    if (riid == IID_IAMStreamSelect)
        return GetInterface(static_cast<IAMStreamSelect *>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

int CLavSplitter::GetPinCount() { return static_cast<int>(m_pins.size()) + (m_input ? 1 : 0); }

CBasePin *CLavSplitter::GetPin(int n)
{
    if (m_input && n == 0)
        return m_input.get();
    return OutputPin(m_input ? n - 1 : n);
}

CLavOutputPin *CLavSplitter::OutputPin(int n) const
{
    if (n < 0 || n >= static_cast<int>(m_pins.size()))
        return nullptr;
    return m_pins[static_cast<size_t>(n)].get();
}

// ---- Loading --------------------------------------------------------------------

HRESULT CLavSplitter::Load(LPCWSTR pszFileName, const AM_MEDIA_TYPE *)
{
    if (!pszFileName)
        return E_POINTER;
    CAutoLock lock(m_csFilter);
    if (!m_profile.fileSource)
        return E_UNEXPECTED;
    if (m_format) {
        // A private filter record hands the same instance to every device,
        // one file after another: a filter nobody streams from or is
        // connected to may take the next file.
        const bool inUse = !IsStopped()
            || std::any_of(m_pins.begin(), m_pins.end(), [](const auto &pin) { return pin->IsConnected(); });
        if (inUse)
            return E_UNEXPECTED;
        Close();
    }
    const HRESULT hr = Open(ToUtf8(pszFileName));
    if (FAILED(hr)) {
        Close();
        return hr;
    }
    m_fileName = pszFileName;
    return S_OK;
}

HRESULT CLavSplitter::Open(const std::string &path)
{
    std::vector<uint8_t> head(kSplitterHeadSize);
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        head.resize(std::fread(head.data(), 1, head.size(), f));
        std::fclose(f);
    } else {
        return VFW_E_NOT_FOUND;
    }
    return OpenFormat(path.c_str(), head);
}

// With m_format allocated (and its reader set) or not yet (a file name).
HRESULT CLavSplitter::OpenFormat(const char *url, const std::vector<uint8_t> &head)
{
    AVFormatContext *raw = m_format.release();
    if (avformat_open_input(&raw, url, nullptr, nullptr) < 0)
        return VFW_E_UNKNOWN_FILE_TYPE;  // raw is freed
    m_format.reset(raw);
    if (avformat_find_stream_info(m_format.get(), nullptr) < 0)
        return VFW_E_INVALID_FILE_FORMAT;
    if (!m_profile.accepts(m_format.get(), head))
        return VFW_E_UNSUPPORTED_STREAM;
    return MakePins(head);
}

HRESULT CLavSplitter::MakePins(const std::vector<uint8_t> &head)
{
    m_decodeOrder = false;
    for (const char *name : {"avi", "mpegvideo", "m4v", "h264", "hevc"})
        m_decodeOrder = m_decodeOrder || DemuxerIs(m_format.get(), name);
    DVINFO dv{};
    const bool interleaved = m_profile.interleavedDv && FindInterleavedDv(head, &dv);
    int videos = 0, audios = 0;
    REFERENCE_TIME videoStart = AV_NOPTS_VALUE;
    for (unsigned i = 0; i < m_format->nb_streams; ++i) {
        AVStream *s = m_format->streams[i];
        CMediaType mt;
        if (interleaved ? !InterleavedDvType(s, dv, &mt) : !MediaTypeForStream(s, &mt)) {
            s->discard = AVDISCARD_ALL;
            continue;
        }
        const bool video = mt.Type() != MEDIATYPE_Audio;
        int &count = video ? videos : audios;
        std::wstring name = interleaved ? L"DV" : video ? L"Video" : L"Audio";
        if (++count > 1)
            name += L" " + std::to_wstring(count);
        if (video && videoStart == AV_NOPTS_VALUE && s->start_time != AV_NOPTS_VALUE)
            videoStart = ToRefTime(s->start_time, s->time_base);
        m_pins.push_back(std::make_unique<CLavOutputPin>(this, &m_csFilter, name.c_str(), static_cast<int>(i),
                                                         std::move(mt), BufferSizeFor(s->codecpar)));
    }
    if (m_pins.empty())
        return VFW_E_UNSUPPORTED_STREAM;
    const REFERENCE_TIME fileStart = m_format->start_time != AV_NOPTS_VALUE
        ? ToRefTime(m_format->start_time, AV_TIME_BASE_Q) : 0;
    m_startOffset = videoStart != AV_NOPTS_VALUE ? videoStart : fileStart;
    FindDuration(fileStart);
    m_positioned = true;
    return S_OK;
}

void CLavSplitter::FindDuration(REFERENCE_TIME fileStart)
{
    m_duration = 0;
    if (m_format->duration != AV_NOPTS_VALUE && m_format->duration > 0)
        m_duration = std::max<REFERENCE_TIME>(
            0, fileStart + ToRefTime(m_format->duration, AV_TIME_BASE_Q) - m_startOffset);
    const VIDEOINFOHEADER *video = nullptr;
    int videoStream = -1;
    for (const auto &pin : m_pins)
        // Every video block here starts like a VIDEOINFOHEADER up to the frame time.
        if (pin->OfferedType().Type() == MEDIATYPE_Video && !video) {
            video = pin->OfferedType().FormatAs<VIDEOINFOHEADER>();
            videoStream = pin->StreamIndex();
        }
    const auto method = m_format->duration_estimation_method;
    if (method == AVFMT_DURATION_FROM_PTS && m_duration > 0 && video)
        m_duration += video->AvgTimePerFrame;  // estimated from the last frame's start
    else if (method == AVFMT_DURATION_FROM_BITRATE && video && video->AvgTimePerFrame > 0)
        CountFrames(videoStream, video->AvgTimePerFrame);
}

// Elementary video streams carry no times to estimate from: a guess from the
// bit rate can be off by any factor, so files of a sensible size are counted.
void CLavSplitter::CountFrames(int stream, REFERENCE_TIME frameDuration)
{
    constexpr int64_t kMaxCountedBytes = int64_t{512} << 20;
    const int64_t size = m_format->pb ? avio_size(m_format->pb) : -1;
    if (size < 0 || size > kMaxCountedBytes)
        return;
    int64_t frames = 0;
    PacketPtr packet = MakePacket();
    while (av_read_frame(m_format.get(), packet.get()) >= 0) {
        frames += packet->stream_index == stream;
        av_packet_unref(packet.get());
    }
    if (frames > 0)
        m_duration = frames * frameDuration;
    av_seek_frame(m_format.get(), -1, 0, AVSEEK_FLAG_BYTE);
}

HRESULT CLavSplitter::GetCurFile(LPWSTR *ppszFileName, AM_MEDIA_TYPE *pmt)
{
    if (!ppszFileName)
        return E_POINTER;
    CAutoLock lock(m_csFilter);
    *ppszFileName = nullptr;
    if (!m_format)
        return E_FAIL;
    *ppszFileName = NewWideCopy(m_fileName);
    if (pmt)
        *pmt = CMediaType(MEDIATYPE_Stream);
    return S_OK;
}

// ---- IAMStreamSelect --------------------------------------------------------------

HRESULT CLavSplitter::Count(DWORD *pcStreams)
{
    if (!pcStreams)
        return E_POINTER;
    CAutoLock lock(m_csFilter);
    *pcStreams = static_cast<DWORD>(m_pins.size());
    return S_OK;
}

HRESULT CLavSplitter::Info(LONG lIndex, AM_MEDIA_TYPE **ppmt, DWORD *pdwFlags, LCID *plcid,
                           DWORD *pdwGroup, WCHAR **ppszName, IUnknown **ppObject, IUnknown **ppUnk)
{
    CAutoLock lock(m_csFilter);
    CLavOutputPin *pin = OutputPin(lIndex);
    if (!pin)
        return S_FALSE;
    if (ppmt)
        *ppmt = CreateMediaType(&pin->OfferedType());
    if (pdwFlags)
        *pdwFlags = pin->enabled.load() ? AMSTREAMSELECTINFO_ENABLED : 0;
    if (plcid)
        *plcid = 0;
    if (pdwGroup)
        *pdwGroup = pin->OfferedType().Type() == MEDIATYPE_Video ? 0 : 1;
    if (ppszName) {
        *ppszName = NewWideCopy(pin->Name());
    }
    if (ppObject)
        *ppObject = nullptr;
    if (ppUnk)
        *ppUnk = nullptr;
    return S_OK;
}

HRESULT CLavSplitter::Enable(LONG lIndex, DWORD dwFlags)
{
    CAutoLock lock(m_csFilter);
    CLavOutputPin *pin = OutputPin(lIndex);
    if (!pin)
        return E_INVALIDARG;
    pin->enabled.store(dwFlags != 0);
    return S_OK;
}

// ---- States ----------------------------------------------------------------------

HRESULT CLavSplitter::Pause()
{
    CAutoLock lock(m_csFilter);
    const bool starting = IsStopped();
    const HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr) || !starting || !m_format)
        return hr;
    if (!m_positioned) {
        REFERENCE_TIME key = m_requested;
        if (SUCCEEDED(SeekFile(m_requested, &key)) && m_toKeyFrame)
            m_segmentStart = key;
    }
    StartStreaming();
    return hr;
}

HRESULT CLavSplitter::Stop()
{
    CAutoLock lock(m_csFilter);
    // Pins first: decommitting releases a delivery thread waiting for a buffer.
    const HRESULT hr = CBaseFilter::Stop();
    StopStreaming();
    return hr;
}

void CLavSplitter::StartStreaming()
{
    CritCheckIn(m_csFilter);
    if (m_demux.joinable())
        return;
    for (auto &pin : m_pins)
        if (pin->IsConnected())
            pin->StartThread(m_segmentStart, StopPosition(), m_rate);
    m_positioned = false;
    m_stopDemux.store(false);
    m_demux = std::thread([this] { DemuxLoop(); });
}

void CLavSplitter::StopStreaming()
{
    if (m_demux.joinable()) {
        {
            std::lock_guard lock(m_qLock);
            m_stopDemux.store(true);
        }
        m_qChanged.notify_all();
        m_demux.join();
    }
    for (auto &pin : m_pins)
        pin->StopThread();
    ClearQueues();
}

void CLavSplitter::ClearQueues()
{
    std::lock_guard lock(m_qLock);
    for (auto &pin : m_pins) {
        pin->m_queue.clear();
        pin->m_ended = false;
    }
    m_queuedBytes = 0;
}

// ---- Demux thread -----------------------------------------------------------------

void CLavSplitter::DemuxLoop()
{
    for (auto &packet : m_pending)
        if (!m_stopDemux.load())
            Enqueue(std::move(packet));
    m_pending.clear();
    while (!m_stopDemux.load()) {
        PacketPtr packet = MakePacket();
        const int r = av_read_frame(m_format.get(), packet.get());
        if (r == AVERROR(EAGAIN)) {
            // Nothing to read yet: look again a little later, or stop at once.
            std::unique_lock lock(m_qLock);
            m_qChanged.wait_for(lock, kReadAgain, [this] { return m_stopDemux.load(); });
            continue;
        }
        if (r < 0)
            break;  // end of file, or a read error: the stream ends either way
        Enqueue(std::move(packet));
        std::lock_guard lock(m_qLock);
        const bool allEnded = std::all_of(m_pins.begin(), m_pins.end(), [](const auto &pin) {
            return pin->m_ended || !pin->IsConnected();
        });
        if (allEnded)
            return;
    }
    if (!m_stopDemux.load())
        EndAllStreams();
}

CLavOutputPin *CLavSplitter::PinForStream(int index) const
{
    for (const auto &pin : m_pins)
        if (pin->StreamIndex() == index)
            return pin.get();
    return nullptr;
}

CLavOutputPin *CLavSplitter::MainPin() const
{
    CLavOutputPin *first = nullptr;
    for (const auto &pin : m_pins) {
        if (!pin->IsConnected() || !pin->enabled.load())
            continue;
        if (pin->OfferedType().Type() == MEDIATYPE_Video)
            return pin.get();
        if (!first)
            first = pin.get();
    }
    return first;
}

// Counted from the first frame in the stream's own units, so that each time
// is rounded to 100 ns once, as the frame times of a rational rate are.
REFERENCE_TIME CLavSplitter::MediaTime(int64_t ts, AVRational timeBase) const
{
    return ToRefTime(ts - FromRefTime(m_startOffset, timeBase), timeBase);
}

bool CLavSplitter::TimesOf(const AVPacket *pkt, QueuedPacket *item) const
{
    const AVStream *s = m_format->streams[pkt->stream_index];
    item->sync = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
    // Without reordering, decoding time is presentation time. AVI and
    // elementary streams know decoding times only: samples go out stamped
    // with those, as from the system's AVI splitter (SampleTimeOrder.h).
    const bool byDts = m_decodeOrder || (pkt->pts == AV_NOPTS_VALUE && s->codecpar->video_delay == 0);
    const int64_t pts = byDts ? pkt->dts : pkt->pts;
    item->timed = pts != AV_NOPTS_VALUE;
    if (!item->timed)
        return false;
    item->start = MediaTime(pts, s->time_base);
    item->hasStop = pkt->duration > 0;
    // Rounded as the next packet's start is, so it never passes that.
    item->stop = item->hasStop ? MediaTime(pts + pkt->duration, s->time_base) : item->start;
    item->preroll = item->hasStop ? item->stop <= m_segmentStart : item->start < m_segmentStart;
    return true;
}

bool CLavSplitter::WaitForQueueSpace(std::unique_lock<std::mutex> &lock)
{
    const auto full = [this] {
        size_t total = 0;
        bool oneFull = false, oneStarving = false;
        for (const auto &pin : m_pins) {
            if (!pin->IsConnected() || pin->m_ended)
                continue;
            total += pin->m_queue.size();
            oneFull = oneFull || pin->m_queue.size() >= kQueueSoftPackets;
            oneStarving = oneStarving || pin->m_queue.empty();
        }
        return total >= kQueueHardPackets || m_queuedBytes >= kQueueHardBytes
            || (oneFull && !oneStarving);
    };
    m_qChanged.wait(lock, [&] { return m_stopDemux.load() || !full(); });
    return !m_stopDemux.load();
}

void CLavSplitter::Enqueue(PacketPtr packet)
{
    CLavOutputPin *pin = PinForStream(packet->stream_index);
    if (!pin || !pin->IsConnected() || !pin->enabled.load())
        return;
    QueuedPacket item;
    TimesOf(packet.get(), &item);
    const REFERENCE_TIME stop = m_stop.load();
    std::unique_lock lock(m_qLock);
    if (pin->m_ended)
        return;
    if (item.timed && item.start >= stop) {
        // Reordered frames may still follow: the stream ends once decoding
        // order passes the stop too.
        const AVStream *s = m_format->streams[packet->stream_index];
        const REFERENCE_TIME dts = packet->dts != AV_NOPTS_VALUE
            ? MediaTime(packet->dts, s->time_base) : item.start;
        if (dts >= stop) {
            pin->m_ended = true;
            pin->m_queue.emplace_back();
            m_qChanged.notify_all();
        }
        return;
    }
    if (!WaitForQueueSpace(lock))
        return;
    m_queuedBytes += static_cast<size_t>(packet->size);
    item.packet = std::move(packet);
    pin->m_queue.push_back(std::move(item));
    lock.unlock();
    m_qChanged.notify_all();
}

void CLavSplitter::EndAllStreams()
{
    {
        std::lock_guard lock(m_qLock);
        for (auto &pin : m_pins) {
            if (pin->m_ended || !pin->IsConnected())
                continue;
            pin->m_ended = true;
            pin->m_queue.emplace_back();
        }
    }
    m_qChanged.notify_all();
}

void CLavSplitter::NoteSent(const CLavOutputPin *pin, REFERENCE_TIME mediaTime)
{
    // Only the stream seeks follow tells the position.
    if (pin == MainPin())
        m_lastSent.store(mediaTime);
}

// ---- Seeking (UI thread) ------------------------------------------------------------

REFERENCE_TIME CLavSplitter::StopPosition() const
{
    const REFERENCE_TIME stop = m_stop.load();
    return stop == MAX_TIME && m_duration > 0 ? m_duration : stop;
}

REFERENCE_TIME CLavSplitter::CurrentPosition() const
{
    const REFERENCE_TIME sent = m_lastSent.load();
    return sent >= 0 ? sent : m_segmentStart;
}

HRESULT CLavSplitter::SetPositions(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop,
                                   DWORD dwStopFlags)
{
    CAutoLock lock(m_csFilter);
    SeekRequest request;
    const HRESULT checked = ResolveSeek(pCurrent, dwCurrentFlags, pStop, dwStopFlags,
                                        {m_requested, StopPosition(), m_duration}, &request);
    if (FAILED(checked))
        return checked;
    if (request.setsStop)
        m_stop.store(request.stop);
    HRESULT hr = S_OK;
    if (request.moves)
        hr = Reposition(request.current, request.toKeyFrame);
    if (pCurrent && (dwCurrentFlags & AM_SEEKING_ReturnTime))
        *pCurrent = m_segmentStart;
    if (pStop && (dwStopFlags & AM_SEEKING_ReturnTime))
        *pStop = StopPosition();
    return hr;
}

HRESULT CLavSplitter::SetRate(double rate)
{
    if (rate <= 0.0)
        return E_INVALIDARG;
    CAutoLock lock(m_csFilter);
    if (rate == m_rate)
        return S_OK;
    m_rate = rate;
    if (!m_demux.joinable())
        return S_OK;
    // Stream times change scale: a new segment where we are.
    return Reposition(CurrentPosition(), false);
}

HRESULT CLavSplitter::SetRateAt(double rate, REFERENCE_TIME position)
{
    if (rate <= 0.0)
        return E_INVALIDARG;
    CAutoLock lock(m_csFilter);
    LONGLONG at = position;
    SeekRequest request;
    const HRESULT checked = ResolveSeek(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning,
                                        {m_requested, StopPosition(), m_duration}, &request);
    if (FAILED(checked))
        return checked;
    m_rate = rate;
    return Reposition(request.current, false);
}

HRESULT CLavSplitter::Reposition(REFERENCE_TIME target, bool toKeyFrame)
{
    CritCheckIn(m_csFilter);
    const bool streaming = m_demux.joinable();
    if (streaming) {
        for (auto &pin : m_pins)
            if (pin->IsConnected())
                pin->DeliverBeginFlush();  // releases threads held downstream
        StopStreaming();
    }
    m_requested = target;
    m_toKeyFrame = toKeyFrame;
    REFERENCE_TIME key = target;
    const HRESULT hr = m_format ? SeekFile(target, &key) : S_OK;
    m_segmentStart = toKeyFrame && SUCCEEDED(hr) ? key : target;
    m_lastSent.store(-1);
    m_positioned = true;
    if (streaming) {
        for (auto &pin : m_pins)
            if (pin->IsConnected())
                pin->DeliverEndFlush();
        StartStreaming();
    }
    return hr;
}

// Goes to the last key frame of the main stream at or before `target`.
// Index-less containers land only near the asked time, so we seek earlier
// and earlier until the key frame found is not after the target.
HRESULT CLavSplitter::SeekFile(REFERENCE_TIME target, REFERENCE_TIME *keyFrame)
{
    m_pending.clear();
    *keyFrame = target;
    if (!MainPin())
        return S_OK;
    for (REFERENCE_TIME backoff : {REFERENCE_TIME{0}, UNITS / 2, UNITS, 2 * UNITS, 5 * UNITS, 10 * UNITS, 30 * UNITS}) {
        if (SeekAttempt(target, std::min(backoff, target), keyFrame))
            return S_OK;
        if (backoff >= target)
            break;
    }
    // From the very beginning: by byte for MPEG streams, where a time seek
    // lands only near the start.
    m_pending.clear();
    const int64_t start = m_format->start_time != AV_NOPTS_VALUE ? m_format->start_time : 0;
    const bool byBytes = (m_format->iformat->flags & AVFMT_TS_DISCONT) != 0;
    if ((!byBytes || av_seek_frame(m_format.get(), -1, 0, AVSEEK_FLAG_BYTE) < 0)
        && av_seek_frame(m_format.get(), -1, start, AVSEEK_FLAG_BACKWARD) < 0)
        return E_FAIL;
    if (!ReadToKeyFrame(keyFrame))
        *keyFrame = 0;
    return S_OK;
}

bool CLavSplitter::SeekAttempt(REFERENCE_TIME target, REFERENCE_TIME backoff, REFERENCE_TIME *keyFrame)
{
    m_pending.clear();
    const int64_t ts = av_rescale_q(m_startOffset + target - backoff, kHundredNs, AV_TIME_BASE_Q);
    if (av_seek_frame(m_format.get(), -1, ts, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    return ReadToKeyFrame(keyFrame) && *keyFrame <= target;
}

// The temporal reference of the first MPEG-1/2 picture in a packet (its
// place in display order within the group of pictures); -1 if none.
static int TemporalReference(const AVPacket *packet)
{
    const uint8_t *p = packet->data;
    for (int i = 0; i + 5 < packet->size; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0)
            return (p[i + 4] << 2) | (p[i + 5] >> 6);
    return -1;
}

// Reads up to the main stream's first key frame, keeping the other streams'
// packets on the way (they go out first, as preroll where early).
bool CLavSplitter::ReadToKeyFrame(REFERENCE_TIME *keyFrame)
{
    const CLavOutputPin *main = MainPin();
    const AVStream *s = m_format->streams[main->StreamIndex()];
    for (int n = 0; n < kMaxSeekPackets; ++n) {
        PacketPtr packet = MakePacket();
        const int r = av_read_frame(m_format.get(), packet.get());
        if (r == AVERROR(EAGAIN))
            continue;
        if (r < 0)
            return false;
        if (packet->stream_index != main->StreamIndex()) {
            m_pending.push_back(std::move(packet));
            continue;
        }
        if (!(packet->flags & AV_PKT_FLAG_KEY))
            continue;  // undecodable without what came before
        const bool timed = packet->pts != AV_NOPTS_VALUE;
        const int64_t pts = timed ? packet->pts : packet->dts;
        *keyFrame = pts != AV_NOPTS_VALUE ? MediaTime(pts, s->time_base) : 0;
        const AVCodecID codec = s->codecpar->codec_id;
        const bool mpeg = codec == AV_CODEC_ID_MPEG1VIDEO || codec == AV_CODEC_ID_MPEG2VIDEO;
        const int reference = mpeg ? TemporalReference(packet.get()) : -1;
        m_pending.push_back(std::move(packet));
        const size_t keyAt = m_pending.size() - 1;
        if (!timed && reference >= 0 && TimeKeyFrameFromFollowers(reference, keyFrame))
            m_pending[keyAt]->pts = FromRefTime(*keyFrame, s->time_base) + FromRefTime(m_startOffset, s->time_base);
        return true;
    }
    return false;
}

// Program streams stamp a key frame only where a packet starts with it; its
// time follows from a later picture of its group that has one.
bool CLavSplitter::TimeKeyFrameFromFollowers(int keyReference, REFERENCE_TIME *keyFrame)
{
    const int main = MainPin()->StreamIndex();
    const AVStream *s = m_format->streams[main];
    const VIDEOINFOHEADER *vih = MainPin()->OfferedType().FormatAs<VIDEOINFOHEADER>();
    const REFERENCE_TIME frame = vih ? vih->AvgTimePerFrame : 0;
    for (int n = 0; n < 64 && frame > 0; ++n) {
        PacketPtr packet = MakePacket();
        if (av_read_frame(m_format.get(), packet.get()) < 0)
            return false;
        const bool ours = packet->stream_index == main;
        const bool nextGroup = ours && (packet->flags & AV_PKT_FLAG_KEY);
        const int reference = ours ? TemporalReference(packet.get()) : -1;
        const int64_t pts = packet->pts;
        m_pending.push_back(std::move(packet));
        if (nextGroup)
            return false;
        if (reference >= 0 && pts != AV_NOPTS_VALUE) {
            *keyFrame = MediaTime(pts, s->time_base) + (keyReference - reference) * frame;
            return true;
        }
    }
    return false;
}
