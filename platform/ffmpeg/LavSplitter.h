// The splitter engine over libavformat, one output pin per audio or video
// stream: "LAV Splitter Source" (a file source and splitter in one) and the
// named system splitters (SplitterProfile.h), which read through a pull pin
// connected to their input pin (pin 0) and open the file when it connects.
//
// Threads and queues. While the filter is paused or running, one demux
// thread reads packets and appends them to the queues of the pins, and each
// connected pin has its own delivery thread that takes samples from its queue
// and delivers them downstream. Separate delivery threads keep one stream's
// renderer, holding its paused picture, from starving the others. The demux
// thread waits while every queue has something and one is full, or when all
// queues together hold too much (bounded memory).
//
// Seeking: IMediaSeeking on any output pin moves all streams together:
// flush downstream, stop every thread, seek the file to the key frame before
// the target, end the flush and start again with NewSegment. Exact seeks
// send the frames before the target as preroll. Seek through the graph's
// IMediaSeeking, not a pin's: the graph releases sends that a filter
// downstream is blocked in (the flush would wait for them otherwise), keeps
// its clock and end-of-stream count right, and a stopped graph resumes where
// it was stopped unless it was itself told to seek.
//
// Times: media time 0 is the file's first frame (the first video frame, else
// the container's start), whatever the container's start offset.
//
// Locks: m_csFilter (state lock; UI thread: state changes, Load, seeking,
// connections) and m_qLock (queues; any thread, never held while calling
// out). Streaming threads never take m_csFilter.
#pragma once

#include "platform/dshow/MediaTimeSeeking.h"
#include "platform/dshow/Pins.h"
#include "platform/ffmpeg/FFmpegCommon.h"
#include "platform/dshow/SampleTimeOrder.h"
#include "platform/ffmpeg/SplitterProfile.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// {C1960960-17F5-11D1-ABE1-00A0C905F375}
inline constexpr IID IID_IAMStreamSelect{0xC1960960, 0x17F5, 0x11D1,
                                         {0xAB, 0xE1, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75}};
inline constexpr DWORD AMSTREAMSELECTINFO_ENABLED = 0x1;
inline constexpr DWORD AMSTREAMSELECTINFO_EXCLUSIVE = 0x2;
inline constexpr DWORD AMSTREAMSELECTENABLE_ENABLE = 0x1;
inline constexpr DWORD AMSTREAMSELECTENABLE_ENABLEALL = 0x2;
using LCID = DWORD;

// UI thread. Info's out-parameters may be null; *ppmt is a CreateMediaType
// copy, *ppszName is allocated with new[].
struct IAMStreamSelect : IUnknown {
    static constexpr const IID &iid = IID_IAMStreamSelect;
    virtual HRESULT Count(DWORD *pcStreams) = 0;
    virtual HRESULT Info(LONG lIndex, AM_MEDIA_TYPE **ppmt, DWORD *pdwFlags, LCID *plcid,
                         DWORD *pdwGroup, WCHAR **ppszName, IUnknown **ppObject,
                         IUnknown **ppUnk) = 0;
    virtual HRESULT Enable(LONG lIndex, DWORD dwFlags) = 0;

protected:
    ~IAMStreamSelect() = default;
};

class CLavSplitter;

// The input of a pull-mode splitter: takes any MEDIATYPE_Stream pull pin and
// opens the container when it connects (refusing the connection when the
// splitter does not take the file); disconnecting removes the output pins.
class CLavInputPin final : public CBasePin {
public:
    CLavInputPin(CLavSplitter *filter, CCritSec *lock);
    HRESULT CheckMediaType(const CMediaType *pmt) override;
    HRESULT CheckConnect(IPin *pPin) override;
    HRESULT CompleteConnect(IPin *pReceivePin) override;
    HRESULT BreakConnect() override;
    // Nothing is pushed to a pull-mode input.
    HRESULT EndOfStream() override { return S_OK; }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }

private:
    CLavSplitter *const m_splitter;
};

namespace ffmpeg {
// Reads for libavformat through a pull pin.
struct ReaderIo {
    ComPtr<IAsyncReader> reader;
    int64_t position = 0, size = 0;
};
} // namespace ffmpeg

// One queued item of a pin: a packet, or the end of the stream.
struct QueuedPacket {
    ffmpeg::PacketPtr packet;  // null: end of stream
    REFERENCE_TIME start = 0, stop = 0;  // media times
    bool timed = false, hasStop = false, sync = false, preroll = false;
};

class CLavOutputPin final : public CBaseOutputPin,
                            public CMediaTimeSeeking,
                            public ISeekingAtRate,
                            public ISampleTimeOrder {
public:
    CLavOutputPin(CLavSplitter *filter, CCritSec *lock, LPCWSTR name, int streamIndex,
                  CMediaType type, LONG bufferSize);
    ~CLavOutputPin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    HRESULT CheckMediaType(const CMediaType *pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType *pMediaType) override;
    HRESULT DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProps) override;

    // IMediaSeeking: the filter's, for all streams.
    HRESULT GetCapabilities(DWORD *pCapabilities) override;
    HRESULT GetDuration(LONGLONG *pDuration) override;
    HRESULT GetStopPosition(LONGLONG *pStop) override;
    HRESULT GetCurrentPosition(LONGLONG *pCurrent) override;
    HRESULT SetPositions(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop,
                         DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG *pCurrent, LONGLONG *pStop) override;
    HRESULT GetAvailable(LONGLONG *pEarliest, LONGLONG *pLatest) override;
    HRESULT SetRate(double dRate) override;
    HRESULT GetRate(double *pdRate) override;
    HRESULT GetPreroll(LONGLONG *pllPreroll) override;
    HRESULT SetRateAt(double dRate, REFERENCE_TIME position) override;

    bool DecodingOrder() override;

    int StreamIndex() const { return m_stream; }
    const CMediaType &OfferedType() const { return m_type; }

    // UI thread, filter stopped or flushing: the delivery thread's life.
    void StartThread(REFERENCE_TIME segmentStart, REFERENCE_TIME stop, double rate);
    void StopThread();
    std::atomic<bool> enabled{true};  // IAMStreamSelect; read by the demux thread

private:
    friend class CLavSplitter;
    // Guarded by the splitter's queue lock (m_qLock): the splitter fills
    // them, the delivery thread empties the queue.
    std::deque<QueuedPacket> m_queue;
    bool m_ended = false;  // demux side: nothing more goes to this pin

    void ThreadProc(REFERENCE_TIME segmentStart, REFERENCE_TIME stop, double rate);
    HRESULT DeliverPacket(QueuedPacket &item, REFERENCE_TIME segmentStart, double rate,
                          bool discontinuity);

    CLavSplitter *const m_splitter;
    const int m_stream;
    const CMediaType m_type;
    const LONG m_bufferSize;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

class CLavSplitter : public CBaseFilter, public IFileSourceFilter, public IAMStreamSelect {
    friend class CLavOutputPin;
    friend class CLavInputPin;

public:
    explicit CLavSplitter(const SplitterProfile &profile = LavSourceProfile());
    ~CLavSplitter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    // IMediaFilter (UI thread)
    HRESULT Stop() override;
    HRESULT Pause() override;

    int GetPinCount() override;
    CBasePin *GetPin(int n) override;

    // IFileSourceFilter (file-source profiles only). Load fails (and makes no
    // pins) for what libavformat cannot open or the profile does not take,
    // or where it finds no audio or video stream.
    HRESULT Load(LPCWSTR pszFileName, const AM_MEDIA_TYPE *pmt) override;
    HRESULT GetCurFile(LPWSTR *ppszFileName, AM_MEDIA_TYPE *pmt) override;

    // IAMStreamSelect: one entry per output pin; group = 0 video, 1 audio.
    HRESULT Count(DWORD *pcStreams) override;
    HRESULT Info(LONG lIndex, AM_MEDIA_TYPE **ppmt, DWORD *pdwFlags, LCID *plcid, DWORD *pdwGroup,
                 WCHAR **ppszName, IUnknown **ppObject, IUnknown **ppUnk) override;
    HRESULT Enable(LONG lIndex, DWORD dwFlags) override;

    // Seeking, for the pins (UI thread).
    REFERENCE_TIME Duration() const { return m_duration; }
    // The stop asked for, else the duration (MAX_TIME when neither is known).
    REFERENCE_TIME StopPosition() const;
    REFERENCE_TIME CurrentPosition() const;
    double Rate() const { return m_rate; }
    HRESULT SetPositions(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop, DWORD dwStopFlags);
    HRESULT SetRate(double rate);
    HRESULT SetRateAt(double rate, REFERENCE_TIME position);

private:
    // For the pins' delivery threads.
    void NoteSent(const CLavOutputPin *pin, REFERENCE_TIME mediaTime);

    HRESULT Open(const std::string &path);
    HRESULT OpenReader(IAsyncReader *reader);
    HRESULT OpenFormat(const char *url, const std::vector<uint8_t> &head);
    HRESULT MakePins(const std::vector<uint8_t> &head);
    void FindDuration(REFERENCE_TIME fileStart);
    void CountFrames(int stream, REFERENCE_TIME frameDuration);
    void Close();
    CLavOutputPin *OutputPin(int n) const;
    void StartStreaming();
    void StopStreaming();
    void DemuxLoop();
    bool WaitForQueueSpace(std::unique_lock<std::mutex> &lock);
    void Enqueue(ffmpeg::PacketPtr packet);
    void EndAllStreams();
    HRESULT Reposition(REFERENCE_TIME target, bool toKeyFrame);
    HRESULT SeekFile(REFERENCE_TIME target, REFERENCE_TIME *keyFrame);
    bool SeekAttempt(REFERENCE_TIME target, REFERENCE_TIME backoff, REFERENCE_TIME *keyFrame);
    bool ReadToKeyFrame(REFERENCE_TIME *keyFrame);
    bool TimeKeyFrameFromFollowers(int keyReference, REFERENCE_TIME *keyFrame);
    CLavOutputPin *PinForStream(int index) const;
    CLavOutputPin *MainPin() const;
    void ClearQueues();
    bool TimesOf(const AVPacket *pkt, QueuedPacket *item) const;
    REFERENCE_TIME MediaTime(int64_t ts, AVRational timeBase) const;

    CCritSec m_csFilter;
    const SplitterProfile &m_profile;
    std::unique_ptr<CLavInputPin> m_input;  // pull-mode profiles
    std::wstring m_fileName;
    std::unique_ptr<ffmpeg::ReaderIo> m_readerIo;
    ffmpeg::IoPtr m_io;          // closed after m_format
    ffmpeg::FormatPtr m_format;  // demux thread while streaming, else UI thread
    std::vector<std::unique_ptr<CLavOutputPin>> m_pins;
    // Pins of an earlier connection: others may still hold references.
    std::vector<std::unique_ptr<CLavOutputPin>> m_oldPins;
    REFERENCE_TIME m_startOffset = 0;  // the file's first frame, in 100 ns
    REFERENCE_TIME m_duration = 0;
    bool m_decodeOrder = false;  // samples stamped with decoding times (AVI, elementary streams)

    // Written on the UI thread while no thread runs.
    REFERENCE_TIME m_requested = 0;
    bool m_toKeyFrame = false;
    REFERENCE_TIME m_segmentStart = 0;
    double m_rate = 1.0;
    bool m_positioned = true;  // the file stands where the next run starts
    std::vector<ffmpeg::PacketPtr> m_pending;  // read while seeking; sent first
    // MAX_TIME until a stop is set: an estimated duration must not cut the
    // stream short.
    std::atomic<REFERENCE_TIME> m_stop{MAX_TIME};
    std::atomic<REFERENCE_TIME> m_lastSent{-1};

    std::thread m_demux;
    std::atomic<bool> m_stopDemux{false};
    // The pins' queues and m_queuedBytes; changes are announced on
    // m_qChanged, which the demux thread and the delivery threads wait on.
    std::mutex m_qLock;
    std::condition_variable m_qChanged;
    size_t m_queuedBytes = 0;  // m_qLock
};
