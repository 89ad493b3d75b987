// The video decoder's sparing and serving: what it leaves undone for the
// pictures a precise seek swallows, and how it serves a target from the
// pictures it kept (VideoDecoder.h).
#include "platform/ffmpeg/VideoDecoder.h"

#include <algorithm>

namespace {

// Pictures just before a step back's target are decoded whole, unreferenced
// ones too, when the cache can keep them: the next steps back go there.
constexpr int64_t kStepWindow = 30;
// Pictures kept before what is decoded whole before a target.
constexpr int64_t kKeptBeforeWindow = 10;
// At most this many packets are remembered for going on after a seek.
constexpr size_t kMaxRemembered = 4096;

} // namespace

// One picture's time, as the notifier counts it.
REFERENCE_TIME CVideoDecoder::FrameStep() const
{
    return std::max<REFERENCE_TIME>(2 * m_gate->HalfFrame(), 1);
}

void CVideoDecoder::FindGate()
{
    m_gate.Reset();
    IPin *peer = m_pOutput->GetConnected();
    PIN_INFO info{};
    if (!peer || FAILED(peer->QueryPinInfo(&info)) || !info.pFilter)
        return;
    m_gate = ComQuery<IPictureGate>(ComPtr<IBaseFilter>::Attach(info.pFilter));
}

bool CVideoDecoder::Reusing() const
{
    return m_gate && m_cache.Enabled() && m_pInput->CurrentRate() == 1.0;
}

// The packet's stream time: its segment's start plus its sample time.
int64_t CVideoDecoder::PacketTime(const AVPacket *packet) const
{
    const int64_t t = m_decodingOrder ? packet->dts : packet->pts;
    return t == AV_NOPTS_VALUE ? t : t + m_pInput->CurrentStartTime();
}

void CVideoDecoder::ForgetRun()
{
    m_sent.clear();
    m_keysSent = 0;
    m_runKnown = true;
    m_lastOut.reset();
    m_runKey.reset();
    m_runFirstShown.reset();
    m_flushPending = false;
    m_passingOver = false;
}

// A seek's flush: when the decoder may go on from its state afterwards, the
// state stays until the first packet shows whether it can.
void CVideoDecoder::FlushCodec()
{
    m_held.clear();
    m_fresh = true;
    m_shownUpTo.reset();
    m_passingOver = false;
    // (The segment's rate is the streaming thread's: Serve checks it.)
    if (m_gate && m_cache.Enabled() && m_runKnown && !m_intraOnly) {
        m_flushPending = true;
        return;
    }
    avcodec_flush_buffers(m_codec.get());
    ForgetRun();
}

void CVideoDecoder::SettleCodec()
{
    if (!m_flushPending)
        return;
    avcodec_flush_buffers(m_codec.get());
    ForgetRun();
}

void CVideoDecoder::BeforeDrain()
{
    SettleCodec();
    FeedHeld();
}

bool CVideoDecoder::Admit(AVPacket *packet)
{
    if (m_fresh) {
        m_fresh = false;
        if (!Serve(packet) && !GoOnTowards(packet))
            SettleCodec();
        if (m_pInput->IsFlushing())
            return false;  // the served picture was flushed away: so is this packet
    }
    if (m_passingOver) {
        if (m_resumeAt < m_sent.size() && PacketTime(packet) == m_sent[m_resumeAt].time) {
            ++m_resumeAt;
            ++m_counters.passedOver;
            return false;
        }
        m_passingOver = false;
        if (m_resumeAt < m_sent.size())
            SettleCodec();  // not what was sent before: from this key frame again
        m_flushPending = false;
    }
    m_codec->skip_frame = AVDISCARD_DEFAULT;
    m_untimed = m_untimed || PacketTime(packet) == AV_NOPTS_VALUE;
    if (FarBefore(packet)) {
        if (m_intraOnly) {
            ++m_counters.undecoded;
            return false;
        }
        // Nothing after a key frame needs what came before it: what was
        // held goes, and the decoder starts from the key frame as after a seek.
        if (packet->flags & AV_PKT_FLAG_KEY) {
            m_counters.undecoded += int64_t(m_held.size());
            m_held.clear();
            m_flushPending = true;
            SettleCodec();
        }
        if (ffmpeg::PacketPtr copy{av_packet_clone(packet)}) {
            m_held.push_back(std::move(copy));
            return false;
        }
    }
    FeedHeld();
    Remember(packet);
    return true;
}

// What was held is needed after all: decoded first, without the pictures
// nothing refers to. Not where some pictures come untimed: their times are
// guessed from the picture before, which must not be missing.
void CVideoDecoder::FeedHeld()
{
    std::deque<ffmpeg::PacketPtr> held = std::move(m_held);
    m_held.clear();
    const AVDiscard skip = m_codec->skip_frame;
    for (const ffmpeg::PacketPtr &packet : held) {
        m_codec->skip_frame = m_untimed ? AVDISCARD_DEFAULT : AVDISCARD_NONREF;
        m_counters.unreferenced += m_untimed ? 0 : 1;
        Remember(packet.get());
        Decode(packet.get());
    }
    m_codec->skip_frame = skip;
}

void CVideoDecoder::Remember(const AVPacket *packet)
{
    const int64_t t = PacketTime(packet);
    if (t == AV_NOPTS_VALUE) {
        m_runKnown = false;
        return;
    }
    const bool key = packet->flags & AV_PKT_FLAG_KEY;
    if (m_sent.empty() && !m_runKey && key)
        m_runKey = t;
    if (m_sent.empty())
        m_runSegment = m_pInput->CurrentStartTime();
    // The last two groups of pictures are enough to go on after a step.
    if ((key && m_keysSent >= 2) || m_sent.size() >= kMaxRemembered) {
        do {
            m_keysSent -= m_sent.front().key ? 1 : 0;
            m_sent.pop_front();
        } while (!m_sent.empty() && !m_sent.front().key);
    }
    m_sent.push_back({t, key});
    m_keysSent += key ? 1 : 0;
}

// Whether a packet's picture is hidden (a precise seek swallows it, or it
// was served already) and not among those just before: when the target is
// a step back, those are decoded whole for the steps after it.
bool CVideoDecoder::FarBefore(const AVPacket *packet)
{
    if (!m_gate || !m_settings.skipHidden || (m_decodingOrder && !m_intraOnly))
        return false;
    REFERENCE_TIME limit = 0, media = 0;
    const int64_t t = m_decodingOrder ? packet->dts : packet->pts;
    return t != AV_NOPTS_VALUE && HiddenLimit(&limit) && m_gate->MediaTimeOf(t, &media) && media < limit;
}

// Pictures before this media time will not be shown (a precise seek
// swallows them, or they were served already) and are not among those just
// before a step back's target; false when every picture may be.
bool CVideoDecoder::HiddenLimit(REFERENCE_TIME *limit)
{
    REFERENCE_TIME at = 0;
    if (m_gate->PendingTarget(&at)) {
        *limit = at - m_gate->HalfFrame() - StepWindow(at);
        return true;
    }
    if (m_shownUpTo) {
        *limit = *m_shownUpTo - StepWindow(*m_shownUpTo);
        return true;
    }
    return false;
}

// A target a little before the last one is a step back, and more steps back
// tend to follow: the pictures before it are decoded whole and kept for them.
// A landing's are not, so that it costs no more than it must.
REFERENCE_TIME CVideoDecoder::StepWindow(REFERENCE_TIME target)
{
    if (target == m_windowTarget)
        return m_window;
    const REFERENCE_TIME frame = FrameStep();
    const int64_t pictureBytes = std::max<int64_t>(1, int64_t(m_outWidth) * m_outHeight * 3 / 2);
    const REFERENCE_TIME window = std::min(kStepWindow, m_cache.Cap() / pictureBytes) * frame;
    const REFERENCE_TIME near = 2 * kStepWindow * frame;
    const bool stepBack = m_lastTarget && target < *m_lastTarget && target >= *m_lastTarget - near;
    m_targetIsStep = m_lastTarget && std::llabs(target - *m_lastTarget) <= near;
    m_lastTarget = target;
    m_windowTarget = target;
    m_window = stepBack ? window : 0;
    return m_window;
}

// A landing's target goes out as soon as it is decoded. After a step the
// decoder first decodes the picture after it, which the next step forward
// then finds kept.
bool CVideoDecoder::DeliverNow(REFERENCE_TIME media)
{
    REFERENCE_TIME target = 0;
    if (!m_gate->PendingTarget(&target) || media <= target - m_gate->HalfFrame())
        return false;
    StepWindow(target);
    return !m_targetIsStep || !m_cache.Enabled();
}

// After a seek: the decoder may go on from its state when the splitter sends
// again, from one of their key frames, packets it was sent in a segment
// starting at the same time, and every picture it gave out past `served` is
// kept, to be sent again in order.
bool CVideoDecoder::CanResume(const AVPacket *first, REFERENCE_TIME served)
{
    if (!m_flushPending || !m_runKnown || !(first->flags & AV_PKT_FLAG_KEY) || !m_lastOut)
        return false;
    // Pictures still inside the decoder carry sample times of the run's
    // segment: the new one must count from the same start.
    if (m_runSegment != m_pInput->CurrentStartTime())
        return false;
    const int64_t t = PacketTime(first);
    const auto at = std::find_if(m_sent.begin(), m_sent.end(), [t](const Sent &s) { return s.key && s.time == t; });
    if (at == m_sent.end())
        return false;
    const REFERENCE_TIME half = m_gate->HalfFrame();
    const REFERENCE_TIME step = FrameStep();
    for (REFERENCE_TIME m = served + step; m < *m_lastOut + half; m += step)
        if (!m_cache.Find(m, half, nullptr))
            return false;
    m_resumeAt = size_t(at - m_sent.begin());
    return true;
}

// A target not kept but ahead of what the decoder has given out, in the
// run it decodes: it goes on from its state (a step forward beyond the
// pictures kept), the packets it has decoded passed over.
bool CVideoDecoder::GoOnTowards(const AVPacket *first)
{
    REFERENCE_TIME target = 0, start = 0;
    if (!Reusing() || !m_gate->PendingTarget(&target) || !m_lastOut || *m_lastOut >= target - m_gate->HalfFrame())
        return false;
    if (!CanResume(first, *m_lastOut) || !MapServed(first, target, &start))
        return false;
    m_passingOver = true;
    ++m_counters.resumed;
    return true;
}

// The first packet after a seek: a target the cache holds is served.
bool CVideoDecoder::Serve(const AVPacket *first)
{
    REFERENCE_TIME target = 0, at = 0, start = 0;
    if (!Reusing() || !m_gate->PendingTarget(&target))
        return false;
    const REFERENCE_TIME half = m_gate->HalfFrame();
    if (!m_cache.Find(target, half, &at) || !MapServed(first, at, &start))
        return false;
    const bool resume = CanResume(first, at);
    if (resume) {
        m_passingOver = true;
        ++m_counters.resumed;
    } else {
        SettleCodec();
    }
    ++m_counters.served;
    const REFERENCE_TIME last = resume ? std::max(at, *m_lastOut) : at;
    m_shownUpTo = last;
    if (Replay(at) != S_OK)
        return true;
    // Then what the decoder gave out after it, each delivering the one
    // before. Without those the served picture waits for the decoder's next
    // one when it goes on from its state (a step forward finds that one kept
    // in turn), and goes at once when it starts again from a key frame.
    const REFERENCE_TIME step = FrameStep();
    for (REFERENCE_TIME m = at + step; m < last + half; m += step)
        if (Replay(m) != S_OK)
            return true;
    if (!resume || *m_lastOut < at - half)
        DeliverKept();
    return true;
}

// The served picture's sample time. A segment starting at 0 takes its time
// base from its first picture: when the splitter sends again the key frame
// the decoder's run began with, that picture is known.
bool CVideoDecoder::MapServed(const AVPacket *first, REFERENCE_TIME at, REFERENCE_TIME *start)
{
    if (m_gate->SampleTimeOf(at, start))
        return true;
    const bool sameKey = m_pInput->CurrentStartTime() == 0 && (first->flags & AV_PKT_FLAG_KEY) && m_runKey
        && PacketTime(first) == *m_runKey && m_runFirstShown;
    return sameKey && m_gate->AdoptTimeBase(*m_runFirstShown) && m_gate->SampleTimeOf(at, start);
}

// The kept picture nearest `media` goes the way of a decoded one.
HRESULT CVideoDecoder::Replay(REFERENCE_TIME media)
{
    REFERENCE_TIME at = 0, t0 = 0;
    const AVFrame *picture = m_cache.Find(media, m_gate->HalfFrame(), &at);
    if (!picture || !m_gate->SampleTimeOf(at, &t0))
        return E_FAIL;
    const HRESULT hr = DeliverKeptBefore(t0);
    if (hr != S_OK)
        return hr;
    const REFERENCE_TIME t1 = t0 + Duration(picture);
    if (t1 <= 0)
        return S_OK;
    return KeepPicture(picture, t0, t1, false);
}

// Every picture the decoder gives out is kept; those delivered already since
// the seek (served from the cache) are not delivered again.
bool CVideoDecoder::SeenAlready(const AVFrame *frame, REFERENCE_TIME t0)
{
    REFERENCE_TIME media = 0;
    if (!m_gate || !m_gate->MediaTimeOf(t0, &media))
        return false;
    m_lastOut = media;
    // Pictures far before a target are seldom asked for again: keeping them
    // would only cost memory, first touched a picture at a time.
    REFERENCE_TIME limit = 0;
    const REFERENCE_TIME margin = kKeptBeforeWindow * FrameStep();
    if (m_cache.Enabled() && !(HiddenLimit(&limit) && media < limit - margin))
        m_cache.Keep(media, frame);
    if (m_shownUpTo) {
        if (media < *m_shownUpTo + m_gate->HalfFrame())
            return true;
        m_shownUpTo.reset();
    }
    return false;
}
