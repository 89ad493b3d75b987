// Video decoders on libavcodec: compressed video in (the types the splitter
// offers), decoded pictures out as I420, YV12 or NV12 when downstream takes
// them, RGB32 otherwise. The output type carries the input's frame duration
// and picture aspect (VIDEOINFOHEADER2).
//
// Every decoded picture (CodecFilter.h) goes out stamped with its
// presentation time (the decoder's best-effort timestamp of the input times;
// for input stamped in decoding order, SampleTimeOrder.h). A picture is kept
// until the next one is decoded, so that its stop time is the next one's
// start when that comes first: frame durations rounded to 100 ns (333667 at
// 29.97 fps) would otherwise end a picture after the next began, and an
// exact seek to a picture's own time would show the one before. Pictures
// that end before the segment starts (preroll) are decoded, so the next ones
// can be, but not delivered. End of stream drains the decoder and delivers
// the kept picture; a flush empties both.
//
// In front of our frame notifier (IPictureGate) it spares what a precise
// seek never shows and keeps what a step will show again
// (VideoDecoderReuse.cpp): pictures the notifier will swallow go out
// unwritten, and well before the target the pictures nothing refers to are
// not decoded; every decoded picture is kept by media time (PictureCache,
// capped), so that a seek whose target is kept is served from memory. After
// such a seek the decoder goes on from its own state when the splitter sends
// again what it has decoded already (the packets are passed over), otherwise
// it decodes from the key frame again without delivering what was served.
// The settings (DecodingSettings.h) switch both off.
//
// Threads: as CCodecFilter. The counters may be read from any thread.
#pragma once

#include "platform/dshow/PictureGate.h"
#include "platform/ffmpeg/CodecFilter.h"
#include "platform/ffmpeg/DecodingSettings.h"
#include "platform/ffmpeg/PictureCache.h"

#include <atomic>
#include <optional>
#include <deque>

class CVideoDecoder : public CCodecFilter {
public:
    // threads: 1 decodes on the streaming thread alone; more uses libavcodec's
    // frame threads.
    CVideoDecoder(LPCWSTR name, REFCLSID clsid, int threads);
    ~CVideoDecoder() override;

    HRESULT CheckInputType(const CMediaType *mtIn) override;
    HRESULT CheckTransform(const CMediaType *mtIn, const CMediaType *mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProp) override;
    HRESULT GetMediaType(int iPosition, CMediaType *pMediaType) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt) override;
    HRESULT StartStreaming() override;

    HRESULT StopStreaming() override;

    // State lock, before streaming starts: the threads of the next stream.
    void SetThreadCount(int threads) { m_threads = threads; }
    // State lock, before streaming starts (it trims the cache): settings of
    // our own instead of the registry's, kept over later connections.
    void SetDecodingSettings(const VideoDecodingSettings &settings);

    // What was spared and served so far. Any thread.
    struct Counters {
        std::atomic<int64_t> served{0};      // seeks whose target came from the cache
        std::atomic<int64_t> resumed{0};     // seeks after which the decoder went on from its own state
        std::atomic<int64_t> unwritten{0};   // pictures sent unwritten
        std::atomic<int64_t> unreferenced{0};  // packets decoded without their unreferenced pictures
        std::atomic<int64_t> undecoded{0};   // packets not decoded: intra-only, or before a later key frame
        std::atomic<int64_t> passedOver{0};  // packets decoded already, passed over after a seek
    };
    const Counters &Spared() const { return m_counters; }
    int64_t CacheBytes() const { return m_cache.Bytes; }
    int64_t CachePeakBytes() const { return m_cache.PeakBytes; }

private:
    void Configure(AVCodecContext *codec) override;
    void Stamp(IMediaSample *sample, AVPacket *packet) override;
    HRESULT DeliverFrame(const AVFrame *frame) override;
    HRESULT DeliverKept() override;
    void ResetKept() override;
    HRESULT WritePicture(const AVFrame *frame, BYTE *dst, LONG size);
    REFERENCE_TIME PictureStart(const AVFrame *frame, REFERENCE_TIME duration) const;
    REFERENCE_TIME Duration(const AVFrame *frame) const;
    // The kept picture goes out, its stop cut back to `next` when that comes first.
    HRESULT DeliverKeptBefore(REFERENCE_TIME next);
    // A picture written (or not, `unwritten`) into a delivery buffer and kept.
    HRESULT KeepPicture(const AVFrame *frame, REFERENCE_TIME t0, REFERENCE_TIME t1, bool unwritten);

    // VideoDecoderReuse.cpp
    bool Admit(AVPacket *packet) override;
    void FlushCodec() override;
    void BeforeDrain() override;
    void FindGate();
    bool Reusing() const;
    REFERENCE_TIME FrameStep() const;
    int64_t PacketTime(const AVPacket *packet) const;
    bool Serve(const AVPacket *first);
    bool GoOnTowards(const AVPacket *first);
    bool MapServed(const AVPacket *first, REFERENCE_TIME at, REFERENCE_TIME *start);
    bool CanResume(const AVPacket *first, REFERENCE_TIME served);
    HRESULT Replay(REFERENCE_TIME media);
    void ForgetRun();
    void SettleCodec();
    bool FarBefore(const AVPacket *packet);
    bool HiddenLimit(REFERENCE_TIME *limit);
    REFERENCE_TIME StepWindow(REFERENCE_TIME target);
    bool DeliverNow(REFERENCE_TIME media);
    void FeedHeld();
    void Remember(const AVPacket *packet);
    // Before delivery: keeps the picture, tells whether it was shown already.
    bool SeenAlready(const AVFrame *frame, REFERENCE_TIME t0);

    int m_threads;  // state lock
    GUID m_outSubtype = GUID_NULL;  // state lock (connection)
    int m_outWidth = 0, m_outHeight = 0;

    VideoDecodingSettings m_settings;  // state lock
    bool m_ownSettings = false;

    // Streaming lock.
    ffmpeg::SwsPtr m_sws;
    bool m_decodingOrder = false;  // input stamped with decoding times
    bool m_intraOnly = false;
    bool m_untimed = false;        // a packet without a time came since streaming started
    ComPtr<IMediaSample> m_kept;   // the last picture, its stop not final yet
    ComPtr<IPictureGate> m_gate;   // the notifier below, while streaming
    PictureCache m_cache;
    bool m_fresh = true;           // no packet since the stream (re)started
    bool m_flushPending = false;   // the decoder's state is from before the flush
    // What the decoder has been sent since its state was last emptied: the
    // stream times (segment start + sample time) of the packets, and the
    // media time of the last picture that came out.
    struct Sent {
        REFERENCE_TIME time;
        bool key;
    };
    std::deque<Sent> m_sent;
    int m_keysSent = 0;
    size_t m_resumeAt = 0;         // the next of m_sent to pass over
    bool m_runKnown = false;       // every packet of the run was timed
    std::optional<REFERENCE_TIME> m_runKey;        // the key frame the run began with
    REFERENCE_TIME m_runSegment = 0;               // the start of the segment its packets came in
    std::optional<REFERENCE_TIME> m_runFirstShown;  // its first picture for delivery
    std::optional<REFERENCE_TIME> m_lastOut;
    bool m_passingOver = false;    // after a seek, the packets in m_sent are passed over
    // Pictures up to this media time were delivered since the seek: later
    // copies are kept but not delivered again.
    std::optional<REFERENCE_TIME> m_shownUpTo;
    // Packets of hidden pictures far before the target, not decoded yet: a
    // later key frame before the target makes them needless.
    std::deque<ffmpeg::PacketPtr> m_held;
    std::optional<REFERENCE_TIME> m_lastTarget;  // the target before the current one
    REFERENCE_TIME m_windowTarget = -1;
    REFERENCE_TIME m_window = 0;
    bool m_targetIsStep = false;   // the target is near the one before
    Counters m_counters;
};

// The output types a decoder offers for a decoded picture of w x h.
CMediaType DecodedVideoType(REFGUID subtype, int width, int height, REFERENCE_TIME frameDuration,
                            int aspectX, int aspectY);
