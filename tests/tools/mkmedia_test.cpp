// The generator's pure parts: the frame index under damage, the DV pack
// reader on hand-made frames, date arithmetic, and the damaged-copy helper.
#include "tools/mkmedia/DvPacks.h"
#include "tools/mkmedia/FrameIndex.h"
#include "tools/mkmedia/Mutate.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace mkmedia;

namespace {

struct Plane {
    int width, height, stride;
    std::vector<uint8_t> y;
    Plane(int w, int h) : width(w), height(h), stride(w + 32), y(size_t(stride) * h, 128) {}
    int Read() const { return ReadFrameIndex(y.data(), stride, width, height); }
};

TEST(FrameIndex, SurvivesNoiseAndContrastLossAtSeveralSizes)
{
    std::mt19937 rng(7);
    for (auto [w, h] : {std::pair{112, 80}, {176, 144}, {720, 576}, {1920, 1080}}) {
        for (int index : {0, 1, 0x5A5A, 65535}) {
            Plane p(w, h);
            ASSERT_TRUE(DrawFrameIndex(p.y.data(), p.stride, w, h, index));
            // Squeeze the range and add noise, as a starved encoder would.
            for (uint8_t &v : p.y)
                v = uint8_t(std::clamp(80 + (v - 16) * 100 / 219 + int(rng() % 41) - 20, 0, 255));
            EXPECT_EQ(p.Read(), index) << w << "x" << h;
        }
    }
}

TEST(FrameIndex, RejectsPicturesWithoutAnIndex)
{
    Plane flat(176, 144);
    EXPECT_EQ(flat.Read(), -1);
    Plane tooSmall(100, 80);
    EXPECT_FALSE(DrawFrameIndex(tooSmall.y.data(), tooSmall.stride, 100, 80, 1));
    EXPECT_EQ(tooSmall.Read(), -1);
    // One wrong bit cell fails the check nibble instead of giving another index.
    Plane p(176, 144);
    DrawFrameIndex(p.y.data(), p.stride, 176, 144, 1234);
    const int cell = 16, x = cell / 2 + 5 * cell, y = cell / 2;
    for (int r = y; r < y + cell; ++r)
        for (int c = x; c < x + cell; ++c)
            p.y[size_t(r) * p.stride + c] ^= 235 ^ 16; // white <-> black
    EXPECT_EQ(p.Read(), -1);
}

// A blank frame of the right size with the headers a reader checks.
std::vector<uint8_t> BlankDvFrame(bool pal)
{
    std::vector<uint8_t> f(pal ? kDvPalFrameSize : kDvNtscFrameSize, 0xFF);
    for (size_t s = 0; s < f.size() / kDifSequenceSize; ++s)
        f[s * kDifSequenceSize + 3] = pal ? 0xBF : 0x3F;
    return f;
}

TEST(DvPacks, WrittenCodesReadBack)
{
    for (bool pal : {true, false}) {
        std::vector<uint8_t> f = BlankDvFrame(pal);
        DvDateTime start;
        ASSERT_TRUE(ParseDvDateTime("2024-02-28 23:59:58", start));
        // 1 h 2 min 3 s 4 frames into the recording.
        const long long frame = ((62 * 60 + 3) * (pal ? 25 : 30)) + 4;
        ASSERT_TRUE(PatchDvFrame(f.data(), f.size(), frame, start));
        const DvFrameCodes c = ReadDvCodes(f.data(), f.size());
        EXPECT_EQ(c.pal, pal);
        ASSERT_TRUE(c.timecodeValid);
        EXPECT_EQ(c.timecode.hours, 1);
        EXPECT_EQ(c.timecode.minutes, 2);
        EXPECT_EQ(c.timecode.seconds, 3);
        EXPECT_EQ(c.timecode.frames, 4);
        ASSERT_TRUE(c.dateValid);
        const DvDateTime want = AddSeconds(start, pal ? frame / 25 : frame * 1001 / 30000);
        EXPECT_EQ(c.date.day, want.day);
        EXPECT_EQ(c.date.month, 2); // 2024 is a leap year
        EXPECT_EQ(want.day, 29);
        EXPECT_EQ(c.date.minute, want.minute);
        EXPECT_EQ(c.audioRate, 48000);
    }
    std::vector<uint8_t> wrong(1000);
    EXPECT_FALSE(PatchDvFrame(wrong.data(), wrong.size(), 0, DvDateTime{}));
}

TEST(DvPacks, ReaderTakesTheFirstSequenceWithADateAndMapsTwoDigitYears)
{
    std::vector<uint8_t> f = BlankDvFrame(false);
    uint8_t *seq3 = f.data() + 3 * kDifSequenceSize;
    const uint8_t date[] = {0x62, 0xFF, 0xC5, 0xE7, 0x39, 0x63, 0xFF, 0x80, 0x81, 0xC2};
    std::copy(std::begin(date), std::end(date), seq3 + 458);
    DvFrameCodes c = ReadDvCodes(f.data(), f.size());
    ASSERT_TRUE(c.dateValid);
    EXPECT_EQ(c.date.year, 2039);
    EXPECT_EQ(c.date.day, 5);
    EXPECT_EQ(c.date.month, 7);
    EXPECT_EQ(c.date.hour, 2);
    EXPECT_FALSE(c.timecodeValid);
    seq3[462] = 0x40;
    EXPECT_EQ(ReadDvCodes(f.data(), f.size()).date.year, 1940);
    seq3[461] = 0xE0 | 0x13; // month 13
    EXPECT_FALSE(ReadDvCodes(f.data(), f.size()).dateValid);
    EXPECT_FALSE(ReadDvCodes(f.data(), 5000).dateValid); // shorter than a sequence
}

TEST(DvPacks, DateTextIsCheckedAndArithmeticCrossesMonthsAndYears)
{
    DvDateTime t;
    EXPECT_FALSE(ParseDvDateTime("2023-02-29 10:00:00", t));
    EXPECT_FALSE(ParseDvDateTime("2004-07-15 24:00:00", t));
    EXPECT_FALSE(ParseDvDateTime("2004-07-15 10:00:00x", t));
    EXPECT_FALSE(ParseDvDateTime("2040-01-01 00:00:00", t)); // two BCD digits stop at 2039
    ASSERT_TRUE(ParseDvDateTime("1999-12-31 23:59:30", t));
    const DvDateTime n = AddSeconds(t, 31 + 86400 * 59);
    EXPECT_EQ(n.year, 2000);
    EXPECT_EQ(n.month, 2);
    EXPECT_EQ(n.day, 29);
    EXPECT_EQ(n.second, 1);
    EXPECT_EQ(DvAudioSamples(true, 3), 1920);
    int ntsc = 0;
    for (int i = 0; i < 5; ++i)
        ntsc += DvAudioSamples(false, i);
    EXPECT_EQ(ntsc, 8008);
}

TEST(Mutate, EachKindDamagesAsNamed)
{
    QTemporaryDir dir;
    const std::string src = dir.filePath("src.mp4").toStdString();
    {
        QFile f(QString::fromStdString(src));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(1000, 'a'));
    }
    auto read = [&](const char *name) {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
    };
    auto out = [&](const char *name) { return dir.filePath(name).toStdString(); };
    ASSERT_TRUE(MutateFile(src, out("t"), Mutation::Truncate, {.percent = 30}));
    EXPECT_EQ(read("t"), QByteArray(300, 'a'));
    ASSERT_TRUE(MutateFile(src, out("f"), Mutation::FlipBytes, {.count = 10}));
    const QByteArray flipped = read("f");
    EXPECT_EQ(flipped.size(), 1000);
    EXPECT_TRUE(flipped.startsWith(QByteArray(16, 'a')));
    EXPECT_GT(flipped.count(char('a' ^ 0xFF)), 0);
    ASSERT_TRUE(MutateFile(src, out("z"), Mutation::ZeroLength));
    EXPECT_TRUE(read("z").isEmpty());
    ASSERT_TRUE(MutateFile(src, out("r1"), Mutation::RandomBytes, {.size = 500, .seed = 3}));
    ASSERT_TRUE(MutateFile(src, out("r2"), Mutation::RandomBytes, {.size = 500, .seed = 3}));
    EXPECT_EQ(read("r1").size(), 500);
    EXPECT_EQ(read("r1"), read("r2"));
    ASSERT_TRUE(MutateFile(src, out("w.avi"), Mutation::WrongExtension));
    EXPECT_EQ(read("w.avi"), QByteArray(1000, 'a'));
    EXPECT_FALSE(MutateFile(out("nothere"), out("x"), Mutation::Truncate));
}

} // namespace
