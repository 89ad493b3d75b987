// The video decoder alone, fed the packets of a clip written at run time:
// the times its pictures carry, what it holds back, and what a flush resets.
#include "ClipMaker.h"
#include "FilterTestKit.h"
#include "platform/dshow/GraphTestKit.h"

#include "platform/ffmpeg/FFmpegFilters.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using graphtest::Collected;
using graphtest::HarnessSink;
using graphtest::HarnessSource;

struct Packet {
    std::vector<BYTE> bytes;
    REFERENCE_TIME start, stop;  // media time, as the splitter stamps it
    bool key;
};

// The clip's video packets, in file order, and the type the splitter offers.
bool ReadClip(const std::string &path, CMediaType *type, std::vector<Packet> *packets)
{
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return false;
    ffmpeg::FormatPtr format(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0 || !ffmpeg::MediaTypeForStream(raw->streams[0], type))
        return false;
    const AVRational tb = raw->streams[0]->time_base;
    ffmpeg::PacketPtr p = ffmpeg::MakePacket();
    while (av_read_frame(raw, p.get()) >= 0) {
        if (p->stream_index == 0)
            packets->push_back({std::vector<BYTE>(p->data, p->data + p->size), ffmpeg::ToRefTime(p->pts, tb),
                                ffmpeg::ToRefTime(p->pts + p->duration, tb), (p->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(p.get());
    }
    return !packets->empty();
}

// A picture's index from its first luma bytes (the clips are flat grey).
int IndexOf(const Collected &c) { return cliptest::IndexForLuma(c.frame & 0xFF); }

// Push source -> the single-threaded video decoder -> a collecting sink.
class DecoderRig {
public:
    DecoderRig(const CMediaType &type, LONG bufferSize)
        : source(MakeCom<HarnessSource>()), decoder(filtertest::Create(CLSID_VidstillVideoDecoderST)),
          sink(MakeCom<HarnessSink>())
    {
        source->pin.type = type;
        source->pin.bufferSize = bufferSize;
        connected = decoder && SUCCEEDED(source->pin.Connect(filtertest::Pin(decoder.Get(), 0), nullptr))
            && SUCCEEDED(filtertest::Pin(decoder.Get(), 1)->Connect(&sink->pin, nullptr));
        if (connected) {
            sink->Pause();
            decoder->Pause();
            source->Pause();
        }
    }
    ~DecoderRig()
    {
        sink->Stop();
        if (decoder)
            decoder->Stop();
        source->Stop();
        for (IPin *pin : {static_cast<IPin *>(&source->pin), static_cast<IPin *>(&sink->pin)})
            pin->Disconnect();
        if (decoder)
            for (int i = 0; i < 2; ++i)
                filtertest::Pin(decoder.Get(), i)->Disconnect();
    }
    // A packet stamped relative to `segmentStart`; untimed when asked.
    HRESULT Push(const Packet &packet, REFERENCE_TIME segmentStart, bool timed = true)
    {
        ComPtr<IMediaSample> s;
        HRESULT hr = source->pin.GetDeliveryBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
        if (FAILED(hr))
            return hr;
        BYTE *p = nullptr;
        s->GetPointer(&p);
        std::copy(packet.bytes.begin(), packet.bytes.end(), p);
        s->SetActualDataLength(LONG(packet.bytes.size()));
        REFERENCE_TIME t0 = packet.start - segmentStart, t1 = packet.stop - segmentStart;
        if (timed)
            s->SetTime(&t0, &t1);
        s->SetSyncPoint(packet.key);
        s->SetPreroll(timed && t1 <= 0);
        return source->pin.Deliver(s.Get());
    }
    std::vector<Collected> Output()
    {
        std::lock_guard lock(sink->m_dataLock);
        return sink->samples;
    }
    void Forget()
    {
        std::lock_guard lock(sink->m_dataLock);
        sink->samples.clear();
    }

    ComPtr<HarnessSource> source;
    ComPtr<IBaseFilter> decoder;
    ComPtr<HarnessSink> sink;
    bool connected = false;
};

class VideoDecoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterFFmpegFilters(); }

    // The packets of a 25-frame clip; false when it cannot be written.
    bool Clip(const char *name, cliptest::ClipSpec spec)
    {
        spec.path = dir.filePath(name).toStdString();
        return cliptest::MakeClip(spec) && ReadClip(spec.path, &type, &packets);
    }

    QTemporaryDir dir;
    CMediaType type;
    std::vector<Packet> packets;
};

// At 29.97 fps the declared frame duration (333667) is rounded up: each
// picture stops where the next one starts, the last one a frame after its
// start.
TEST_F(VideoDecoderTest, PicturesStopWhereTheNextOneStarts)
{
    cliptest::ClipSpec spec;
    spec.fps = AVRational{30000, 1001};
    spec.bFrames = 2;
    ASSERT_TRUE(Clip("ntsc.mp4", spec));
    DecoderRig rig(type, 1 << 20);
    ASSERT_TRUE(rig.connected);
    for (const Packet &p : packets)
        ASSERT_EQ(S_OK, rig.Push(p, 0));
    rig.source->pin.DeliverEndOfStream();
    const auto out = rig.Output();
    ASSERT_EQ(out.size(), 25u);
    for (size_t i = 0; i + 1 < out.size(); ++i) {
        EXPECT_EQ(IndexOf(out[i]), int(i));
        EXPECT_EQ(out[i].stop, out[i + 1].start) << "picture " << i;
    }
    EXPECT_EQ(out.back().stop - out.back().start, 333667);
}

// An exact seek's frames before the target come as preroll: they are
// decoded (the target needs them) and dropped, and the first picture
// delivered is the target, marked as a discontinuity.
TEST_F(VideoDecoderTest, PrerollPicturesAreDecodedButNotDelivered)
{
    ASSERT_TRUE(Clip("gop.mp4", {}));
    DecoderRig rig(type, 1 << 20);
    ASSERT_TRUE(rig.connected);
    const REFERENCE_TIME target = packets[7].start;
    rig.source->pin.DeliverNewSegment(target, MAX_TIME, 1.0);
    for (const Packet &p : packets)
        ASSERT_EQ(S_OK, rig.Push(p, target));
    rig.source->pin.DeliverEndOfStream();
    const auto out = rig.Output();
    ASSERT_EQ(out.size(), 18u);
    EXPECT_EQ(IndexOf(out[0]), 7);
    EXPECT_EQ(out[0].start, 0);
    EXPECT_TRUE(out[0].discontinuity);
    for (const Collected &c : out)
        EXPECT_FALSE(c.preroll);
}

// Pictures without times follow the last one; after a flush (a seek) they
// start from the new segment, not from where the old one got to.
TEST_F(VideoDecoderTest, AFlushStartsTheTimesOfUntimedPicturesAgain)
{
    ASSERT_TRUE(Clip("untimed.mp4", {}));
    DecoderRig rig(type, 1 << 20);
    ASSERT_TRUE(rig.connected);
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(S_OK, rig.Push(packets[size_t(i)], 0, false));
    rig.source->pin.DeliverBeginFlush();
    rig.source->pin.DeliverEndFlush();
    rig.Forget();
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(S_OK, rig.Push(packets[size_t(i)], 0, false));
    rig.source->pin.DeliverEndOfStream();
    const auto out = rig.Output();
    ASSERT_EQ(out.size(), 3u);
    for (size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i].start, REFERENCE_TIME(i) * 400000) << "picture " << i;
}

} // namespace
