#include "tools/mkmedia/MkMedia.h"

#include "tools/mkmedia/Encoders.h"
#include "tools/mkmedia/FrameIndex.h"
#include "tools/mkmedia/RiffDv.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace mkmedia {
namespace {

struct ContainerDefaults {
    const char *ext;
    const char *format; // libavformat muxer
    const char *video;  // codec alias, "" for audio only
    const char *audio;  // encoder, "" when the container takes no audio
    bool audioOn;
};

// What `mkmedia out.EXT` writes without options.
const ContainerDefaults kContainers[] = {
    {"avi", "avi", "mpeg4", "mp2", true},
    {"ivf", "ivf", "vp8", "", false},
    {"mpg", "mpeg", "mpeg1", "mp2", true},
    {"mpeg", "vob", "mpeg2", "mp2", true},
    {"m1v", "mpeg1video", "mpeg1", "", false},
    {"mp2", "vob", "mpeg2", "mp2", true},
    {"mpe", "mpeg", "mpeg1", "mp2", true},
    {"m2v", "mpeg2video", "mpeg2", "", false},
    {"wmv", "asf", "wmv2", "wmav2", true},
    {"asf", "asf", "wmv2", "wmav2", true},
    {"mts", "mpegts", "h264", "ac3", true},
    {"m2ts", "mpegts", "h264", "ac3", true},
    {"ts", "mpegts", "mpeg2", "mp2", true},
    {"vob", "vob", "mpeg2", "ac3", true},
    {"mkv", "matroska", "h264", "aac", true},
    {"mov", "mov", "h264", "aac", true},
    {"mp4", "mp4", "h264", "aac", true},
    {"3g2", "3g2", "mpeg4", "aac", true},
    {"m4v", "mp4", "mpeg4", "aac", false},
    {"wav", "wav", "", "pcm_s16le", true},
};

const char *const kExtensions[] = {"avi", "ivf", "mpg", "mpeg", "m1v", "mp2", "mpe", "m2v",
                                   "wmv", "asf", "mts", "m2ts", "ts", "vob", "mkv", "mov",
                                   "mp4", "3g2", "m4v", "wav", nullptr};

struct VideoCodec {
    const char *alias;
    const char *encoder;
    int gop;
    int bframes;
};

// H.264 gets long GOPs and B-frames on purpose: that is what exact seeking must survive.
const VideoCodec kVideoCodecs[] = {
    {"mpeg1", "mpeg1video", 12, 2}, {"mpeg2", "mpeg2video", 12, 2}, {"mpeg4", "mpeg4", 12, 1},
    {"h264", "libx264", 100, 3},    {"vp8", "libvpx", 30, 0},        {"wmv2", "wmv2", 12, 0},
    {"dv", "dvvideo", 1, 0},
};

struct Plan {
    ContainerDefaults container;
    VideoCodec video{"", "", 0, 0};
    VideoSettings settings;
    std::string audio;
    int frames = 0;
    bool dv = false;
    std::string note; // said in the description line (fallbacks, forced sizes)
};

[[noreturn]] void Fail(const std::string &why) { throw std::runtime_error(why); }

VideoCodec ResolveCodec(const std::string &name)
{
    for (const VideoCodec &c : kVideoCodecs)
        if (name == c.alias || name == c.encoder)
            return c;
    if (avcodec_find_encoder_by_name(name.c_str()))
        return VideoCodec{"", "", 12, 0};
    Fail("unknown video codec " + name);
}

// A missing libx264 is survivable: MPEG-4 part 2 with B-frames stands in.
void ApplyFallback(Plan &p)
{
    if (avcodec_find_encoder_by_name(p.video.encoder))
        return;
    if (std::strcmp(p.video.alias, "h264") != 0)
        Fail(std::string("no encoder ") + p.video.encoder + " in this libavcodec");
    p.note += " (libx264 missing, mpeg4 instead)";
    p.video = ResolveCodec("mpeg4");
}

void ApplyDvConstraints(Plan &p, const ClipOptions &o)
{
    VideoSettings &s = p.settings;
    const bool ntsc = s.rate.num == 30000 && s.rate.den == 1001;
    if (!ntsc && !(s.rate.num == 25 && s.rate.den == 1))
        Fail("DV takes 25 or 30000/1001 frames per second");
    s.width = 720;
    s.height = ntsc ? 480 : 576;
    if (o.width || o.height)
        if (o.width != s.width || o.height != s.height)
            p.note += " (DV size forced)";
    if (!o.sar.num)
        s.sar = ntsc ? Rational{10, 11} : Rational{59, 54};
    s.gop = 1;
    s.bframes = 0;
    if (p.container.format != std::string("avi"))
        Fail("DV is written to AVI only");
    if (o.dvType != 1 && o.dvType != 2)
        Fail("DV type must be 1 or 2");
}

Plan MakePlan(const ClipOptions &o)
{
    const std::string ext = ExtensionOf(o.path);
    const auto *it = std::find_if(std::begin(kContainers), std::end(kContainers),
                                  [&](const ContainerDefaults &c) { return ext == c.ext; });
    if (it == std::end(kContainers))
        Fail("unsupported extension ." + ext);
    Plan p;
    p.container = *it;
    p.frames = o.frames > 0 ? o.frames : 50;
    VideoSettings &s = p.settings;
    s.rate = o.rate.num > 0 && o.rate.den > 0 ? o.rate : Rational{25, 1};
    const bool withVideo = *p.container.video || !o.codec.empty();
    if (ext == "wav" && !o.codec.empty())
        Fail("WAV holds audio only");
    if (withVideo) {
        p.video = ResolveCodec(o.codec.empty() ? p.container.video : o.codec);
        if (!*p.video.alias)
            p.video.encoder = o.codec.c_str();
        ApplyFallback(p);
        s.encoder = p.video.encoder;
        s.width = o.width > 0 ? o.width : 320;
        s.height = o.height > 0 ? o.height : 240;
        s.sar = o.sar.num > 0 && o.sar.den > 0 ? o.sar : Rational{1, 1};
        s.gop = o.gop > 0 ? o.gop : p.video.gop;
        s.bframes = o.bframes >= 0 ? o.bframes : p.video.bframes;
        s.bitRate = o.bitRate;
        p.dv = s.encoder == "dvvideo";
        if (p.dv)
            ApplyDvConstraints(p, o);
        if (s.width < kMinIndexWidth || s.height < kMinIndexHeight)
            Fail("picture too small for the frame index");
    }
    const bool audio = o.audio < 0 ? p.container.audioOn : o.audio > 0;
    if (audio && !*p.container.audio)
        Fail("." + ext + " takes no audio here");
    if (audio)
        p.audio = p.dv ? "pcm_s16le" : p.container.audio;
    if (p.dv && o.dvType == 1)
        p.audio.clear(); // type 1 carries its sound inside the DV frames
    return p;
}

std::string Describe(const ClipOptions &o, const Plan &p, ClipResult &r)
{
    const VideoSettings &s = p.settings;
    std::ostringstream d;
    d << o.path << ": " << (p.dv && o.dvType == 1 ? "avi (DV type 1)" : p.container.format);
    if (!s.encoder.empty())
        d << ", " << s.encoder << " " << s.width << "x" << s.height << " " << s.rate.num << "/"
          << s.rate.den << " fps sar " << s.sar.num << ":" << s.sar.den << " gop " << s.gop
          << " bframes " << s.bframes;
    d << ", " << p.frames << " frames";
    if (!p.audio.empty())
        d << ", " << p.audio << " 48000 Hz stereo";
    if (p.dv) {
        const DvDateTime &t = o.dvStart;
        char when[64];
        std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                      t.hour, t.minute, t.second);
        d << ", recorded from " << when;
    }
    d << p.note;
    r.container = p.container.format;
    r.videoEncoder = s.encoder;
    r.audioEncoder = p.audio;
    r.width = s.width;
    r.height = s.height;
    r.rate = s.rate;
    r.sar = s.sar;
    r.frames = p.frames;
    return d.str();
}

} // namespace

namespace {

struct DictDeleter {
    void operator()(AVDictionary *d) const { av_dict_free(&d); }
};

AVStream *AddStream(AVFormatContext *oc, AVCodecContext *enc)
{
    AVStream *st = avformat_new_stream(oc, nullptr);
    if (!st || avcodec_parameters_from_context(st->codecpar, enc) < 0)
        Fail("cannot add a stream");
    st->time_base = enc->time_base;
    return st;
}

// Packets of the dvvideo encoder get their date, time code and audio packs.
bool PatchDv(AVPacket *pkt, const DvDateTime &start)
{
    return av_packet_make_writable(pkt) >= 0
        && PatchDvFrame(pkt->data, static_cast<size_t>(pkt->size), pkt->pts, start);
}

int64_t SamplesBefore(int frame, Rational rate)
{
    return av_rescale(frame, int64_t(48000) * rate.den, rate.num);
}

// One muxed output and the encoders feeding it.
struct Muxed {
    OutputContextPtr oc;
    VideoEncoder video;
    AudioEncoder audio;
    AVStream *vs = nullptr;
    AVStream *as = nullptr;
};

void OpenStreams(const ClipOptions &o, Plan &p, Muxed &m)
{
    AVFormatContext *raw = nullptr;
    avformat_alloc_output_context2(&raw, nullptr, p.container.format, o.path.c_str());
    if (!raw)
        Fail(std::string("no muxer ") + p.container.format);
    m.oc.reset(raw);
    const bool global = m.oc->oformat->flags & AVFMT_GLOBALHEADER;
    if (!p.settings.encoder.empty()) {
        p.settings.globalHeader = global;
        if (std::string e = m.video.Open(p.settings); !e.empty())
            Fail(e);
        m.vs = AddStream(m.oc.get(), m.video.context());
        m.vs->avg_frame_rate = AVRational{p.settings.rate.num, p.settings.rate.den};
        m.vs->sample_aspect_ratio = AVRational{p.settings.sar.num, p.settings.sar.den};
    }
    if (!p.audio.empty()) {
        if (std::string e = m.audio.Open(p.audio, global); !e.empty())
            Fail(e);
        m.as = AddStream(m.oc.get(), m.audio.context());
    }
}

void WriteHeader(const ClipOptions &o, AVFormatContext *oc)
{
    if (!(oc->oformat->flags & AVFMT_NOFILE) && avio_open(&oc->pb, o.path.c_str(), AVIO_FLAG_WRITE) < 0)
        Fail("cannot write " + o.path);
    AVDictionary *opts = nullptr;
    const std::string ext = ExtensionOf(o.path);
    if (ext == "mts" || ext == "m2ts")
        av_dict_set(&opts, "mpegts_m2ts_mode", "1", 0); // 192-byte packets
    const int header = avformat_write_header(oc, &opts);
    std::unique_ptr<AVDictionary, DictDeleter> unused(opts); // what the muxer did not take
    if (header < 0)
        Fail("cannot write the header of " + o.path);
}

PacketSink SinkFor(AVFormatContext *oc, AVStream *st, AVCodecContext *enc, const DvDateTime *dv)
{
    if (!st)
        return {};
    return [oc, st, enc, dv](AVPacket *pkt) {
        if (dv && !PatchDv(pkt, *dv))
            return false;
        av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
        pkt->stream_index = st->index;
        return av_interleaved_write_frame(oc, pkt) >= 0;
    };
}

// Audio runs one frame ahead of video so the muxer interleaves evenly.
void WriteMuxed(const ClipOptions &o, Plan &p)
{
    Muxed m;
    OpenStreams(o, p, m);
    WriteHeader(o, m.oc.get());
    const PacketSink vsink = SinkFor(m.oc.get(), m.vs, m.video.context(), p.dv ? &o.dvStart : nullptr);
    const PacketSink asink = SinkFor(m.oc.get(), m.as, m.audio.context(), nullptr);
    for (int i = 0; i < p.frames; ++i) {
        if (m.as && !m.audio.EncodeUntil(SamplesBefore(i + 1, p.settings.rate), asink))
            Fail("audio encoding failed");
        if (m.vs && !m.video.Encode(i, vsink))
            Fail("video encoding failed");
    }
    if ((m.vs && !m.video.Encode(-1, vsink)) || (m.as && !m.audio.Flush(asink)))
        Fail("flushing the encoders failed");
    if (av_write_trailer(m.oc.get()) < 0)
        Fail("cannot finish " + o.path);
}

void WriteDvType1(const ClipOptions &o, const Plan &p)
{
    VideoEncoder video;
    if (std::string e = video.Open(p.settings); !e.empty())
        Fail(e);
    DvType1Writer writer(o.path, p.settings.height == 576);
    if (!writer.ok())
        Fail("cannot write " + o.path);
    const PacketSink sink = [&](AVPacket *pkt) {
        return PatchDv(pkt, o.dvStart) && writer.AddFrame(pkt->data, static_cast<size_t>(pkt->size));
    };
    for (int i = 0; i < p.frames; ++i)
        if (!video.Encode(i, sink))
            Fail("DV encoding failed");
    if (!video.Encode(-1, sink) || !writer.Finish())
        Fail("cannot finish " + o.path);
}

} // namespace

std::string ExtensionOf(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

const char *const *SupportedExtensions() { return kExtensions; }

ClipResult WriteClip(const ClipOptions &options)
{
    ClipResult r;
    try {
        Plan p = MakePlan(options);
        if (p.dv && options.dvType == 1)
            WriteDvType1(options, p);
        else
            WriteMuxed(options, p);
        r.description = Describe(options, p, r);
        r.ok = true;
    } catch (const std::exception &e) {
        r.error = options.path + ": " + e.what();
    }
    return r;
}

} // namespace mkmedia
