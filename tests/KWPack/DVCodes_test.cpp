// What DV frames and MPEG-2 sequence headers say about themselves, read from
// real encoder output: dvvideo frames given their packs by the test-media
// generator (an independent writer), then edited by hand for the odd cases.
#include "KWPack/uDVCodes.h"

#include "platform/base/DateTimeText.h"
#include "tools/mkmedia/DvPacks.h"
#include "tools/mkmedia/Encoders.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <random>
#include <vector>

QT_BEGIN_NAMESPACE
// Failures show the text, not UTF-16 units.
inline void PrintTo(const QString &text, std::ostream *os) { *os << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace {

using Frame = std::vector<uint8_t>;

struct Shape {
    bool pal;
    bool wide;
};

// The first packet an encoder gives for picture 0.
Frame FirstPacket(const char *encoder, int height, mkmedia::Rational rate, mkmedia::Rational sar)
{
    mkmedia::VideoSettings s;
    s.encoder = encoder;
    s.width = 720;
    s.height = height;
    s.rate = rate;
    s.sar = sar;
    s.gop = 1;
    mkmedia::VideoEncoder video;
    Frame packet;
    const auto keep = [&packet](AVPacket *pkt) {
        if (packet.empty())
            packet.assign(pkt->data, pkt->data + pkt->size);
        return true;
    };
    EXPECT_EQ(video.Open(s), "");
    video.Encode(0, keep);
    video.Encode(-1, keep);
    return packet;
}

// One frame per shape as the encoder wrote it (no date, time code or sound
// packs yet); the sample aspects make 4:3 or 16:9 pictures.
const Frame &EncodedDV(Shape shape)
{
    static Frame cache[2][2];
    Frame &frame = cache[shape.pal][shape.wide];
    if (frame.empty())
        frame = shape.pal ? FirstPacket("dvvideo", 576, {25, 1}, shape.wide ? mkmedia::Rational{64, 45} : mkmedia::Rational{16, 15})
                          : FirstPacket("dvvideo", 480, {30000, 1001}, shape.wide ? mkmedia::Rational{32, 27} : mkmedia::Rational{8, 9});
    return frame;
}

// A frame as a camcorder would record it: frame `number` of a recording that
// started at `start`.
Frame RecordedDV(Shape shape, long long number = 0, const char *start = "2004-07-15 14:30:00")
{
    Frame frame = EncodedDV(shape);
    mkmedia::DvDateTime date;
    EXPECT_TRUE(mkmedia::ParseDvDateTime(start, date));
    EXPECT_TRUE(mkmedia::PatchDvFrame(frame.data(), frame.size(), number, date));
    return frame;
}

size_t SequenceCount(const Frame &frame)
{
    return frame.size() / kDIFSequenceSize;
}

uint8_t &At(Frame &frame, size_t sequence, size_t offset)
{
    return frame[sequence * kDIFSequenceSize + offset];
}

void SetEverywhere(Frame &frame, size_t offset, uint8_t value)
{
    for (size_t s = 0; s < SequenceCount(frame); ++s)
        At(frame, s, offset) = value;
}

double Encoded(int y, int m, int d, int h, int n, int s)
{
    double v = 0;
    EXPECT_TRUE(TryEncodeDateTime(y, m, d, h, n, s, 0, v));
    return v;
}

std::string DateOf(const Frame &frame)
{
    double v = -1;
    if (!DVRecordingDate(frame.data(), frame.size(), v))
        return "none";
    return FormatDateTime(QStringLiteral("yyyy-mm-dd hh:nn:ss"), v, QLocale::c()).toStdString();
}

std::vector<int> TimeCodeOf(const uint8_t tc[4])
{
    return {tc[0], tc[1], tc[2], tc[3]};
}

const Shape kPal{true, false};
const Shape kPalWide{true, true};
const Shape kNtsc{false, false};
const Shape kNtscWide{false, true};

} // namespace

TEST(DVCodes, RecordedFramesReadAsTheGeneratorWroteThem)
{
    for (Shape shape : {kPal, kNtsc}) {
        for (long long number : {0LL, 77LL, 3000LL}) {
            const Frame frame = RecordedDV(shape, number);
            const mkmedia::DvFrameCodes oracle = mkmedia::ReadDvCodes(frame.data(), frame.size());
            ASSERT_TRUE(oracle.dateValid && oracle.timecodeValid);
            SCOPED_TRACE(testing::Message() << (shape.pal ? "625/50" : "525/60") << " frame " << number);

            EXPECT_EQ(DVBroadcastSystem(frame.data(), frame.size()), shape.pal ? 0 : 1);
            double date = 0;
            ASSERT_TRUE(DVRecordingDate(frame.data(), frame.size(), date));
            const mkmedia::DvDateTime &d = oracle.date;
            EXPECT_EQ(date, Encoded(d.year, d.month, d.day, d.hour, d.minute, d.second));
            uint8_t tc[4] = {};
            ASSERT_TRUE(DVTimeCode(frame.data(), frame.size(), tc));
            const mkmedia::DvTimecode &t = oracle.timecode;
            EXPECT_EQ(TimeCodeOf(tc), (std::vector<int>{t.hours, t.minutes, t.seconds, t.frames}));
            int32_t rate = 0, bits = 0;
            EXPECT_TRUE(DVAudioFormat(frame.data(), frame.size(), rate, bits));
            EXPECT_EQ(std::make_pair(rate, bits), std::make_pair(48000, 16));
            EXPECT_TRUE(DVStructureValid(frame.data(), frame.size()));
        }
    }
    // 3000 frames of 625/50 are two minutes after the start.
    EXPECT_EQ(DateOf(RecordedDV(kPal, 3000)), "2004-07-15 14:32:00");
}

TEST(DVCodes, TimeCode)
{
    // Frame 93079 of 625/50 is 1:02:03:04.
    Frame frame = RecordedDV(kPal, (3600 + 2 * 60 + 3) * 25 + 4);
    uint8_t tc[4] = {};
    ASSERT_TRUE(DVTimeCode(frame.data(), frame.size(), tc));
    EXPECT_EQ(QString::asprintf("%d:%.2d:%.2d:%.2d", tc[0], tc[1], tc[2], tc[3]), "1:02:03:04");
    // Colour-frame, drop-frame and parity flags sit above the tens.
    SetEverywhere(frame, 111, 0xC0 | 0x04);
    SetEverywhere(frame, 112, 0x80 | 0x03);
    SetEverywhere(frame, 114, 0xC0 | 0x01);
    ASSERT_TRUE(DVTimeCode(frame.data(), frame.size(), tc));
    EXPECT_EQ(TimeCodeOf(tc), (std::vector<int>{1, 2, 3, 4}));

    // Both subcode packs are needed, in any of the first ten sequences.
    SetEverywhere(frame, 190, 0xFF);
    uint8_t untouched[4] = {9, 9, 9, 9};
    EXPECT_FALSE(DVTimeCode(frame.data(), frame.size(), untouched));
    EXPECT_EQ(untouched[0], 9);
    At(frame, 10, 190) = 0x13;
    EXPECT_FALSE(DVTimeCode(frame.data(), frame.size(), tc));
    At(frame, 6, 190) = 0x13;
    EXPECT_TRUE(DVTimeCode(frame.data(), frame.size(), tc));
}

TEST(DVCodes, RecordingDate)
{
    Frame frame = RecordedDV(kPal);
    SetEverywhere(frame, 462, 0x39);
    EXPECT_EQ(DateOf(frame), "2039-07-15 14:30:00");
    SetEverywhere(frame, 462, 0x40);
    EXPECT_EQ(DateOf(frame), "1940-07-15 14:30:00");

    // Impossible dates and times are no date, and leave the value alone.
    const struct {
        const char *what;
        size_t offset;
        uint8_t value;
    } edits[] = {{"31 February", 460, 0xC0 | 0x31}, {"hour 25", 467, 0xC0 | 0x25},
                 {"minute 60", 466, 0x80 | 0x60}, {"month 13", 461, 0xE0 | 0x13}, {"day 0", 460, 0xC0}};
    for (const auto &e : edits) {
        Frame bad = RecordedDV(kPal);
        SetEverywhere(bad, 461, 0xE0 | 0x02);  // February
        SetEverywhere(bad, e.offset, e.value);
        double date = 123;
        EXPECT_FALSE(DVRecordingDate(bad.data(), bad.size(), date)) << e.what;
        EXPECT_EQ(date, 123) << e.what;
    }
}

TEST(DVCodes, DateComesFromTheFirstSequenceCarryingItsPacks)
{
    Frame frame = RecordedDV(kNtsc);
    // Sequences 0 to 2 lost their date packs; sequence 3 says 24 December 2005.
    for (size_t s = 0; s < 3; ++s) {
        At(frame, s, 458) = 0xFF;
        At(frame, s, 463) = 0xFF;
    }
    const uint8_t date[] = {0xC0 | 0x24, 0xE0 | 0x12, 0x05, 0x63, 0xFF, 0x80 | 0x59, 0x80 | 0x58, 0xC0 | 0x23};
    std::copy(std::begin(date), std::end(date), &At(frame, 3, 460));
    EXPECT_EQ(DateOf(frame), "2005-12-24 23:58:59");

    // Either pack alone is not enough; a type of 0 stands for the pack.
    At(frame, 3, 463) = 0x53;
    EXPECT_EQ(DateOf(frame), "2004-07-15 14:30:00");  // sequence 4, as patched
    At(frame, 3, 463) = 0;
    At(frame, 3, 458) = 0;
    EXPECT_EQ(DateOf(frame), "2005-12-24 23:58:59");
}

TEST(DVCodes, AspectFromTheSourceControlPack)
{
    EXPECT_EQ(DVAspectCode(EncodedDV(kPal).data(), kDVFrameSize625), acAspect4x3);
    EXPECT_EQ(DVAspectCode(EncodedDV(kPalWide).data(), kDVFrameSize625), acAspect16x9);
    EXPECT_EQ(DVAspectCode(EncodedDV(kNtsc).data(), kDVFrameSize525), acAspect4x3);
    EXPECT_EQ(DVAspectCode(EncodedDV(kNtscWide).data(), kDVFrameSize525), acAspect16x9);

    // Display code 7 is 16:9 only while byte 7's low bits are 0 (they are on
    // these 625/50 frames, and not on 525/60 ones).
    for (Shape shape : {kPal, kNtsc}) {
        Frame frame = EncodedDV(shape);
        ASSERT_EQ((At(frame, 0, 7) & 7) == 0, shape.pal);
        SetEverywhere(frame, 455, uint8_t(At(frame, 0, 455) | 7));
        EXPECT_EQ(DVAspectCode(frame.data(), frame.size()), shape.pal ? acAspect16x9 : acAspect4x3);
        SetEverywhere(frame, 7, uint8_t(At(frame, 0, 7) & ~7));
        EXPECT_EQ(DVAspectCode(frame.data(), frame.size()), acAspect16x9);
    }

    // The first sequence with the pack decides; without one it is 4:3.
    Frame wide = EncodedDV(kPalWide);
    At(wide, 0, 453) = 0xFF;
    At(wide, 1, 455) = uint8_t(At(wide, 1, 455) & ~7);
    EXPECT_EQ(DVAspectCode(wide.data(), wide.size()), acAspect4x3);
    At(wide, 1, 453) = 0xFF;
    EXPECT_EQ(DVAspectCode(wide.data(), wide.size()), acAspect16x9);
    SetEverywhere(wide, 453, 0xFF);
    EXPECT_EQ(DVAspectCode(wide.data(), wide.size()), acAspect4x3);
}

TEST(DVCodes, BroadcastSystemByMajorityOfTheFirstTenSequences)
{
    Frame pal = EncodedDV(kPal);
    for (size_t s = 0; s < 4; ++s)
        At(pal, s, 3) = 0x3F;
    EXPECT_EQ(DVBroadcastSystem(pal.data(), pal.size()), 0);
    At(pal, 4, 3) = 0x3F;
    At(pal, 10, 3) = At(pal, 11, 3) = 0x3F;  // never scanned
    EXPECT_EQ(DVBroadcastSystem(pal.data(), pal.size()), 2);
    At(pal, 5, 3) = 0x3F;
    EXPECT_EQ(DVBroadcastSystem(pal.data(), pal.size()), 1);
    // Other values do not vote.
    Frame ntsc = EncodedDV(kNtsc);
    for (size_t s = 0; s < 9; ++s)
        At(ntsc, s, 3) = 0x00;
    EXPECT_EQ(DVBroadcastSystem(ntsc.data(), ntsc.size()), 1);
    At(ntsc, 9, 3) = 0x00;
    EXPECT_EQ(DVBroadcastSystem(ntsc.data(), ntsc.size()), 2);
}

TEST(DVCodes, AudioRatesAndQuantisations)
{
    // The encoder leaves its sound blocks empty: no source pack anywhere.
    int32_t rate = 0, bits = 0;
    EXPECT_FALSE(DVAudioFormat(EncodedDV(kPal).data(), kDVFrameSize625, rate, bits));
    EXPECT_EQ(std::make_pair(rate, bits), std::make_pair(-1, -1));

    const struct {
        uint8_t smpQu;  // bits 5..3 sampling frequency, 2..0 quantisation
        int32_t rate, bits;
    } cases[] = {{1 << 3 | 0, 44100, 16}, {2 << 3 | 1, 32000, 12}, {3 << 3 | 0, 0, 16}, {7 << 3 | 2, 0, 0}};
    Frame frame = RecordedDV(kNtsc);
    for (const auto &c : cases) {
        SetEverywhere(frame, 4327, uint8_t((At(frame, 0, 4327) & 0xC0) | c.smpQu));
        ASSERT_TRUE(DVAudioFormat(frame.data(), frame.size(), rate, bits));
        EXPECT_EQ(std::make_pair(rate, bits), std::make_pair(c.rate, c.bits)) << int(c.smpQu);
    }
    // The first sequence with the pack there decides (odd sequences keep
    // theirs elsewhere).
    At(frame, 0, 4323) = 0xFF;
    At(frame, 1, 4327) = 2 << 3;
    At(frame, 2, 4327) = 1 << 3;
    ASSERT_TRUE(DVAudioFormat(frame.data(), frame.size(), rate, bits));
    EXPECT_EQ(rate, 44100);
}

TEST(DVCodes, StructureCheckFailsOnAnyDamagedSequence)
{
    for (Shape shape : {kPal, kNtsc}) {
        const Frame good = RecordedDV(shape, 3);
        // Without its sound packs the encoder's own frame does not pass.
        EXPECT_FALSE(DVStructureValid(EncodedDV(shape).data(), good.size()));

        const size_t last = SequenceCount(good) - 1;  // 11 on 625/50: checked, though never scanned
        const struct {
            const char *what;
            size_t sequence, offset;
            uint8_t value;
        } damages[] = {
            {"system byte", 4, 3, uint8_t(shape.pal ? 0x3F : 0xBF)},
            {"audio not valid", last, 5, uint8_t(good[last * kDIFSequenceSize + 5] | 0x80)},
            {"odd VAUX control", 3, 248, 0xFF},
            {"even VAUX source", 2, 448, 0xFF},
            {"odd AAUX source", 5, 483, 0xFF},
            {"sampling code 3", 8, 4327, uint8_t(3 << 3)},
            {"even AAUX control", last - 1, 4323 + 1280, 0xFF},
        };
        for (const auto &d : damages) {
            Frame frame = good;
            At(frame, d.sequence, d.offset) = d.value;
            EXPECT_FALSE(DVStructureValid(frame.data(), frame.size())) << d.what;
        }
        // Any length but 144000 means ten 525/60 sequences.
        EXPECT_FALSE(DVStructureValid(good.data(), good.size() - 1));
    }
    Frame ntsc = RecordedDV(kNtsc);
    ntsc.resize(kDVFrameSize525 + 7000, 0xAB);
    EXPECT_TRUE(DVStructureValid(ntsc.data(), ntsc.size()));
    EXPECT_FALSE(DVStructureValid(RecordedDV(kPal).data(), kDVFrameSize525));
}

// Partial sequences are skipped rather than read into: a buffer cut inside
// sequence 2 whose part holds every pack sought gives nothing found.
TEST(DVCodes, PartialSequencesAreNotRead)
{
    Frame frame = RecordedDV(kPal, 10);
    for (size_t s = 0; s < 2; ++s) {
        for (size_t offset : {size_t(110), size_t(458), size_t(453), size_t(4323)})
            At(frame, s, offset) = 0xFF;
        At(frame, s, 3) = 0x00;  // no vote
    }
    const size_t cut = 2 * kDIFSequenceSize + 4400;  // sequence 2's packs all below 4400
    std::vector<uint8_t> part(frame.begin(), frame.begin() + cut);
    double date = 0;
    uint8_t tc[4] = {};
    int32_t rate = 0, bits = 0;
    EXPECT_FALSE(DVRecordingDate(part.data(), part.size(), date));
    EXPECT_FALSE(DVTimeCode(part.data(), part.size(), tc));
    EXPECT_FALSE(DVAudioFormat(part.data(), part.size(), rate, bits));
    EXPECT_EQ(DVBroadcastSystem(part.data(), part.size()), 2);
    // The same bytes with sequence 2 whole are read.
    std::vector<uint8_t> whole(frame.begin(), frame.begin() + 3 * kDIFSequenceSize);
    EXPECT_TRUE(DVRecordingDate(whole.data(), whole.size(), date));
    EXPECT_TRUE(DVTimeCode(whole.data(), whole.size(), tc));
    EXPECT_TRUE(DVAudioFormat(whole.data(), whole.size(), rate, bits));
    EXPECT_EQ(DVBroadcastSystem(whole.data(), whole.size()), 0);
}

// Every reader on buffers of awkward lengths (allocated to the byte, so an
// address sanitizer catches a read past them) and random contents.
TEST(DVCodes, AnyBytesGiveSaneAnswersWithinTheBuffer)
{
    std::mt19937 rng(20240715);
    const size_t sizes[] = {0, 1, 7, 8, 4327, 11999, 12000, 12001, 36005, 119999, 120000, 120001, 143999, 144000, 144001};
    for (size_t size : sizes) {
        for (int round = 0; round < 4; ++round) {
            std::vector<uint8_t> bytes(size);
            for (uint8_t &b : bytes)
                // Mostly pack types and system bytes, so the readers get past their tests.
                b = round == 0 ? uint8_t(rng()) : std::array<uint8_t, 6>{0x13, 0x3F, 0x50, 0x61, 0x62, 0}[rng() % 6];
            const uint8_t *p = bytes.empty() ? nullptr : bytes.data();
            EXPECT_LE(DVBroadcastSystem(p, size), 2);
            const int32_t aspect = DVAspectCode(p, size);
            EXPECT_TRUE(aspect == acAspect4x3 || aspect == acAspect16x9);
            double date = 0;
            if (DVRecordingDate(p, size, date)) {
                TDateTimeFields f;
                ASSERT_TRUE(DecodeDateTime(date, f));
                EXPECT_TRUE(f.Year >= 1940 && f.Year <= 2065) << f.Year;
            }
            uint8_t tc[4] = {};
            if (DVTimeCode(p, size, tc)) {
                EXPECT_TRUE(tc[0] <= 45 && tc[1] <= 85 && tc[2] <= 85 && tc[3] <= 45);
            }
            int32_t rate = 0, bits = 0;
            DVAudioFormat(p, size, rate, bits);
            EXPECT_TRUE(rate == -1 || rate == 0 || rate == 32000 || rate == 44100 || rate == 48000);
            EXPECT_TRUE(bits == -1 || bits == 0 || bits == 12 || bits == 16);
            DVStructureValid(p, size);
            TVideoData video;
            MPEG2SequenceHeader(p, size, video);
        }
    }
    // No buffer at all.
    double date = 0;
    uint8_t tc[4] = {};
    int32_t rate = 0, bits = 0;
    TVideoData video;
    EXPECT_EQ(DVBroadcastSystem(nullptr, 0), 2);
    EXPECT_FALSE(DVRecordingDate(nullptr, 0, date) || DVTimeCode(nullptr, 0, tc) || DVAudioFormat(nullptr, 0, rate, bits)
                 || DVStructureValid(nullptr, 0) || MPEG2SequenceHeader(nullptr, 0, video));
}

namespace {

std::vector<uint8_t> SequenceHeader(int width, int height, uint8_t aspectAndRate)
{
    return {0x00, 0x00, 0x01, 0xB3, uint8_t(width >> 4), uint8_t((width & 0xF) << 4 | height >> 8),
            uint8_t(height), aspectAndRate, 0x12, 0x34};
}

} // namespace

TEST(MPEG2Header, EncoderSequenceHeader)
{
    const Frame packet = FirstPacket("mpeg2video", 576, {25, 1}, {64, 45});
    TVideoData video;
    ASSERT_TRUE(MPEG2SequenceHeader(packet.data(), packet.size(), video));
    EXPECT_EQ(std::make_pair(video.Width, video.Height), std::make_pair(720, 576));
    EXPECT_EQ(video.AspectCode, acAspect16x9);
    EXPECT_EQ(video.FrameRate, 25);
    EXPECT_EQ(video.FormatText, "MPEG2 (16x9)");
}

TEST(MPEG2Header, CodesAndRefusals)
{
    const double rates[16] = {0, 23.976023976023978, 24, 25, 29.97002997002997, 30, 50, 59.94005994005994, 60};
    for (int code = 1; code < 16; ++code) {
        const auto bytes = SequenceHeader(1920, 1080, uint8_t(0x30 | code));
        TVideoData video;
        ASSERT_TRUE(MPEG2SequenceHeader(bytes.data(), bytes.size(), video)) << code;
        EXPECT_EQ(video.FrameRate, rates[code]) << code;  // reserved codes give no rate
        EXPECT_EQ(std::make_pair(video.Width, video.Height), std::make_pair(1920, 1080));
    }
    const struct {
        int aspect;
        int32_t code;
        const char *text;
    } aspects[] = {{1, acAspectNone, "MPEG2"}, {2, acAspect4x3, "MPEG2 (4x3)"}, {4, acAspectNone, "MPEG2"}};
    for (const auto &a : aspects) {
        const auto bytes = SequenceHeader(352, 288, uint8_t(a.aspect << 4 | 3));
        TVideoData video;
        ASSERT_TRUE(MPEG2SequenceHeader(bytes.data(), bytes.size(), video));
        EXPECT_EQ(video.AspectCode, a.code) << a.aspect;
        EXPECT_EQ(video.FormatText, a.text) << a.aspect;
    }

    const std::vector<uint8_t> refused[] = {
        SequenceHeader(720, 576, 0x03),  // aspect code 0
        SequenceHeader(720, 576, 0x30),  // frame rate code 0
        {0x00, 0x00, 0x01, 0xB5, 0x2D, 0x02, 0x40, 0x33},  // an extension, not a sequence header
        {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40},        // cut before byte 7
    };
    for (const auto &bytes : refused) {
        TVideoData video;
        video.FormatText = QStringLiteral("kept");
        EXPECT_FALSE(MPEG2SequenceHeader(bytes.data(), bytes.size(), video));
        EXPECT_EQ(video.Width, 0);
        EXPECT_EQ(video.FormatText, "kept");
    }
}
