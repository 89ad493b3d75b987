#include "tools/mkmedia/DvPacks.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace mkmedia {
namespace {

// DIF sequence layout: header block, two subcode blocks, three VAUX blocks, then
// nine audio blocks each followed by fifteen video blocks; blocks are 80 bytes.
constexpr size_t kBlock = 80;
constexpr size_t kSubcode0 = 1 * kBlock;
constexpr size_t kVaux0 = 3 * kBlock;
constexpr size_t kAudio0 = 6 * kBlock;
constexpr size_t kAudioStride = 16 * kBlock;

uint8_t Bcd(int v) { return static_cast<uint8_t>(((v / 10) << 4) | (v % 10)); }
int FromBcd(uint8_t b, uint8_t tensMask) { return (b & 0x0F) + 10 * ((b & tensMask) >> 4); }

long long DaysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = static_cast<int>(y - era * 400);
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, int &y, int &m, int &d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const int doe = static_cast<int>(z - era * 146097);
    const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yoe + era * 400) + (m <= 2);
}

void PutPack(uint8_t *p, uint8_t type, uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    p[0] = type; p[1] = a; p[2] = b; p[3] = c; p[4] = d;
}

// Recording date (0x62/0x52) and time (0x63/0x53) packs share their layout.
void PutDate(uint8_t *p, uint8_t type, const DvDateTime &t)
{
    PutPack(p, type, 0xFF, 0xC0 | Bcd(t.day), 0xE0 | Bcd(t.month), Bcd(t.year % 100));
}

void PutTime(uint8_t *p, uint8_t type, const DvDateTime &t)
{
    PutPack(p, type, 0xFF, 0x80 | Bcd(t.second), 0x80 | Bcd(t.minute), 0xC0 | Bcd(t.hour));
}

// Non-drop time code counted from 0:00:00:00 at the nominal rate.
DvTimecode TimecodeFor(bool pal, long long frameNumber)
{
    const int fps = pal ? 25 : 30;
    DvTimecode tc;
    tc.frames = static_cast<int>(frameNumber % fps);
    const long long s = frameNumber / fps;
    tc.seconds = static_cast<int>(s % 60);
    tc.minutes = static_cast<int>((s / 60) % 60);
    tc.hours = static_cast<int>((s / 3600) % 24);
    return tc;
}

void PatchSubcode(uint8_t *seq, const DvTimecode &tc, const DvDateTime &t)
{
    for (int block = 0; block < 2; ++block) {
        uint8_t *b = seq + kSubcode0 + block * kBlock;
        for (int k = 0; k < 6; ++k) {
            uint8_t *pack = b + 3 + 8 * k + 3;
            if (k % 3 == 0)
                PutPack(pack, 0x13, Bcd(tc.frames), Bcd(tc.seconds), Bcd(tc.minutes), Bcd(tc.hours));
            else if (k % 3 == 1)
                PutDate(pack, 0x62, t);
            else
                PutTime(pack, 0x63, t);
        }
    }
}

// The encoder fills packs 0, 1, 9 and 10 of each VAUX block (source and
// source control); the date and time go beside them in 2, 3, 11 and 12.
void PatchVaux(uint8_t *seq, const DvDateTime &t)
{
    for (int block = 0; block < 3; ++block) {
        uint8_t *b = seq + kVaux0 + block * kBlock + 3;
        PutDate(b + 2 * 5, 0x62, t);
        PutTime(b + 3 * 5, 0x63, t);
        PutDate(b + 11 * 5, 0x62, t);
        PutTime(b + 12 * 5, 0x63, t);
    }
}

// AAUX packs 0x50..0x53 go into audio blocks 3..6 of even sequences and 0..3
// of odd ones; the left channel is in the first half of the sequences.
void PatchAudio(uint8_t *seq, int s, int sequences, bool pal, int samples, const DvDateTime &t)
{
    const int minSamples = pal ? 1896 : 1580;
    const int first = (s % 2 == 0) ? 3 : 0;
    const uint8_t mode = s >= sequences / 2 ? 1 : 0;
    for (int k = 0; k < 9; ++k) {
        uint8_t *b = seq + kAudio0 + k * kAudioStride;
        std::memset(b + 3, 0, kBlock - 3);
        uint8_t *pack = b + 3;
        switch (k - first) {
        case 0:
            PutPack(pack, 0x50, 0xC0 | static_cast<uint8_t>(samples - minSamples), mode,
                    0xC0 | (pal ? 0x20 : 0x00), 0x80);
            break;
        case 1: PutPack(pack, 0x51, 0x00, 0xC8, 0xA0, 0xFF); break;
        case 2: PutDate(pack, 0x52, t); break;
        case 3: PutTime(pack, 0x53, t); break;
        default: PutPack(pack, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF); break;
        }
    }
}

// 16-bit 48 kHz samples are spread over the frame: sample n of a channel goes
// to sequence (n/3 + 2(n%3)) mod half, audio block 3(n%3) + (n%rows)/(rows/3),
// byte pair 8 + 2(n/rows), most significant byte first; the right channel
// uses the second half of the sequences.
void WriteTone(uint8_t *frame, bool pal, long long frameNumber, int samples)
{
    const int half = pal ? 6 : 5;
    const int rows = pal ? 54 : 45;
    const long long first = DvSamplesBefore(pal, frameNumber);
    for (int ch = 0; ch < 2; ++ch)
        for (int n = 0; n < samples; ++n) {
            const int seq = (n / 3 + 2 * (n % 3)) % half + ch * half;
            const int block = 3 * (n % 3) + (n % rows) / (rows / 3);
            const size_t at = seq * kDifSequenceSize + kAudio0 + block * kAudioStride + 8 + 2 * (n / rows);
            const int16_t v = DvToneSample(ch, first + n);
            frame[at] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
            frame[at + 1] = static_cast<uint8_t>(v);
        }
}

bool DateIsReal(const DvDateTime &t)
{
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.hour > 23 || t.minute > 59 || t.second > 59)
        return false;
    int y, m, d;
    CivilFromDays(DaysFromCivil(t.year, t.month, t.day), y, m, d);
    return y == t.year && m == t.month && d == t.day;
}

} // namespace

bool ParseDvDateTime(const char *text, DvDateTime &out)
{
    DvDateTime t;
    char tail = 0;
    if (!text || std::sscanf(text, "%d-%d-%d %d:%d:%d%c", &t.year, &t.month, &t.day, &t.hour,
                             &t.minute, &t.second, &tail) != 6)
        return false;
    // Two BCD digits of year: 1940..2039 round-trips through a DV reader.
    if (t.year < 1940 || t.year > 2039 || t.hour < 0 || t.minute < 0 || t.second < 0 || !DateIsReal(t))
        return false;
    out = t;
    return true;
}

DvDateTime AddSeconds(const DvDateTime &start, long long seconds)
{
    long long total = DaysFromCivil(start.year, start.month, start.day) * 86400
        + start.hour * 3600 + start.minute * 60 + start.second + seconds;
    long long days = total / 86400;
    long long rest = total % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    DvDateTime t;
    CivilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>((rest / 60) % 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

int DvAudioSamples(bool pal, long long frameNumber)
{
    if (pal)
        return 1920;
    // 8008 samples per five frames at 30000/1001.
    return frameNumber % 5 == 0 ? 1600 : 1602;
}

long long DvSamplesBefore(bool pal, long long frameNumber)
{
    if (pal)
        return 1920 * frameNumber;
    long long n = 8008 * (frameNumber / 5);
    for (long long f = frameNumber / 5 * 5; f < frameNumber; ++f)
        n += DvAudioSamples(false, f);
    return n;
}

int16_t DvToneSample(int channel, long long n)
{
    // 375 Hz left, 750 Hz right: whole periods in 128 and 64 samples at 48 kHz.
    const double hz = channel == 0 ? 375.0 : 750.0;
    return static_cast<int16_t>(std::lround(8000.0 * std::sin(2 * M_PI * hz * double(n) / 48000.0)));
}

bool PatchDvFrame(uint8_t *frame, size_t size, long long frameNumber, const DvDateTime &start)
{
    const bool pal = size == kDvPalFrameSize;
    if (!frame || (!pal && size != kDvNtscFrameSize))
        return false;
    const int sequences = pal ? 12 : 10;
    // Whole seconds of recording time elapsed at this frame.
    const long long elapsed = pal ? frameNumber / 25 : frameNumber * 1001 / 30000;
    const DvDateTime t = AddSeconds(start, elapsed);
    const DvTimecode tc = TimecodeFor(pal, frameNumber);
    const int samples = DvAudioSamples(pal, frameNumber);
    for (int s = 0; s < sequences; ++s) {
        uint8_t *seq = frame + s * kDifSequenceSize;
        seq[5] &= 0x7F; // audio data valid
        PatchSubcode(seq, tc, t);
        PatchVaux(seq, t);
        PatchAudio(seq, s, sequences, pal, samples, t);
    }
    WriteTone(frame, pal, frameNumber, samples);
    return true;
}

namespace {

bool ReadDate(const uint8_t *seq, DvDateTime &t)
{
    if ((seq[458] != 0x62 && seq[458] != 0) || (seq[463] != 0x63 && seq[463] != 0))
        return false;
    t.day = FromBcd(seq[460], 0x30);
    t.month = (seq[461] & 0x0F) + ((seq[461] & 0x10) ? 10 : 0);
    const int yy = FromBcd(seq[462], 0xF0);
    t.year = yy + (yy < 40 ? 2000 : 1900);
    t.hour = FromBcd(seq[467], 0x30);
    t.minute = FromBcd(seq[466], 0x70);
    t.second = FromBcd(seq[465], 0x70);
    return true;
}

bool ReadTimecode(const uint8_t *seq, DvTimecode &tc)
{
    if (seq[110] != 0x13 || seq[190] != 0x13)
        return false;
    tc.frames = FromBcd(seq[111], 0x30);
    tc.seconds = FromBcd(seq[112], 0x70);
    tc.minutes = FromBcd(seq[113], 0x70);
    tc.hours = FromBcd(seq[114], 0x30);
    return true;
}

bool SequenceLooksRight(const uint8_t *seq, int s, bool pal)
{
    if (seq[3] != (pal ? 0xBF : 0x3F) || (seq[5] & 0x80))
        return false;
    const bool odd = s % 2;
    if (odd ? (seq[243] != 0x60 || seq[248] != 0x61) : (seq[448] != 0x60 || seq[453] != 0x61))
        return false;
    const size_t aaux = odd ? 483 : 4323;
    return seq[aaux] == 0x50 && ((seq[aaux + 4] >> 3) & 7) < 3 && seq[aaux + 1280] == 0x51;
}

} // namespace

DvFrameCodes ReadDvCodes(const uint8_t *frame, size_t size)
{
    DvFrameCodes c;
    const size_t available = frame ? size / kDifSequenceSize : 0;
    const size_t scan = available < 10 ? available : 10;
    int votesPal = 0;
    for (size_t s = 0; s < scan; ++s)
        votesPal += frame[s * kDifSequenceSize + 3] == 0xBF ? 1 : -1;
    c.pal = votesPal > 0;
    for (size_t s = 0; s < scan && !c.dateValid; ++s)
        c.dateValid = ReadDate(frame + s * kDifSequenceSize, c.date) && DateIsReal(c.date);
    for (size_t s = 0; s < scan && !c.timecodeValid; ++s)
        c.timecodeValid = ReadTimecode(frame + s * kDifSequenceSize, c.timecode);
    for (size_t s = 0; s < scan; ++s) {
        const uint8_t *seq = frame + s * kDifSequenceSize;
        if (seq[4323] != 0x50)
            continue;
        static const int rates[] = {48000, 44100, 32000};
        const int r = (seq[4327] >> 3) & 7;
        const int q = seq[4327] & 7;
        c.audioRate = r < 3 ? rates[r] : 0;
        c.audioBits = q == 0 ? 16 : q == 1 ? 12 : 0;
        break;
    }
    const size_t sequences = c.pal ? 12 : 10;
    c.structureValid = available >= sequences;
    for (size_t s = 0; s < sequences && c.structureValid; ++s)
        c.structureValid = SequenceLooksRight(frame + s * kDifSequenceSize, static_cast<int>(s), c.pal);
    return c;
}

uint32_t DvPackData(const uint8_t *frame, size_t size, uint8_t type)
{
    if (!frame || size < kDifSequenceSize)
        return 0;
    for (size_t at = 3; at + 5 <= kDifSequenceSize; at += 1) {
        const bool vaux = at >= kVaux0 && at < kAudio0 && (at - kVaux0) % kBlock >= 3
            && ((at - kVaux0) % kBlock - 3) % 5 == 0 && (at - kVaux0) % kBlock < 78;
        const bool aaux = at >= kAudio0 && (at - kAudio0) % kAudioStride == 3;
        if ((vaux || aaux) && frame[at] == type)
            return frame[at + 1] | (frame[at + 2] << 8) | (frame[at + 3] << 16)
                | (static_cast<uint32_t>(frame[at + 4]) << 24);
    }
    return 0;
}

} // namespace mkmedia
