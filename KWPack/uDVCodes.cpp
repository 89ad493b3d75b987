#include "KWPack/uDVCodes.h"

#include "platform/base/DateTimeText.h"

#include <algorithm>

namespace {

// Offsets within a DIF sequence.
constexpr size_t kDSF = 3;              // 0xBF 625/50, 0x3F 525/60
constexpr size_t kAudioFlags = 5;       // bit 7 set: no valid audio
constexpr size_t kAP3 = 7;              // low three bits checked with the source control pack
constexpr size_t kTimeCode0 = 110;      // subcode packs in both subcode blocks
constexpr size_t kTimeCode1 = 190;
constexpr size_t kRecDate = 458;        // VAUX recording date pack
constexpr size_t kRecTime = 463;        // VAUX recording time pack
constexpr size_t kSourceControl = 453;  // VAUX source control pack
constexpr size_t kAauxSource = 4323;    // AAUX source pack of an even sequence
constexpr size_t kAauxStride = 1280;    // to the next audio block

constexpr uint8_t kPackTimeCode = 0x13;
constexpr uint8_t kPackAauxSource = 0x50;
constexpr uint8_t kPackAauxControl = 0x51;
constexpr uint8_t kPackVauxSource = 0x60;
constexpr uint8_t kPackVauxControl = 0x61;
constexpr uint8_t kPackRecDate = 0x62;
constexpr uint8_t kPackRecTime = 0x63;

int FromBcd(uint8_t b, uint8_t tensMask)
{
    return (b & 0x0F) + 10 * ((b & tensMask) >> 4);
}

// Whole sequences in the buffer, at most `limit`.
size_t SequencesIn(const uint8_t *frame, size_t size, size_t limit)
{
    return frame ? std::min(size / kDIFSequenceSize, limit) : 0;
}

const uint8_t *Sequence(const uint8_t *frame, size_t s)
{
    return frame + s * kDIFSequenceSize;
}

bool DateFromSequence(const uint8_t *seq, double &dateTime)
{
    const int day = FromBcd(seq[kRecDate + 2], 0x30);
    const int month = (seq[kRecDate + 3] & 0x0F) + ((seq[kRecDate + 3] & 0x10) ? 10 : 0);
    const int yy = FromBcd(seq[kRecDate + 4], 0xF0);
    const int year = yy + (yy < 40 ? 2000 : 1900);
    const int hour = FromBcd(seq[kRecTime + 4], 0x30);
    const int minute = FromBcd(seq[kRecTime + 3], 0x70);
    const int second = FromBcd(seq[kRecTime + 2], 0x70);
    return TryEncodeDateTime(year, month, day, hour, minute, second, 0, dateTime);
}

bool SequenceValid(const uint8_t *seq, size_t s, bool pal)
{
    if (seq[kDSF] != (pal ? 0xBF : 0x3F) || (seq[kAudioFlags] & 0x80))
        return false;
    const bool odd = s % 2 == 1;
    const size_t vaux = odd ? 243 : 448;
    if (seq[vaux] != kPackVauxSource || seq[vaux + 5] != kPackVauxControl)
        return false;
    const size_t aaux = odd ? 483 : kAauxSource;
    return seq[aaux] == kPackAauxSource && ((seq[aaux + 4] >> 3) & 7) < 3
        && seq[aaux + kAauxStride] == kPackAauxControl;
}

} // namespace

uint8_t DVBroadcastSystem(const uint8_t *frame, size_t size)
{
    int votes625 = 0;
    int votes525 = 0;
    const size_t n = SequencesIn(frame, size, kDVScannedSequences);
    for (size_t s = 0; s < n; ++s) {
        const uint8_t dsf = Sequence(frame, s)[kDSF];
        votes625 += dsf == 0xBF;
        votes525 += dsf == 0x3F;
    }
    return votes625 > votes525 ? 0 : votes525 > votes625 ? 1 : 2;
}

bool DVRecordingDate(const uint8_t *frame, size_t size, double &dateTime)
{
    const size_t n = SequencesIn(frame, size, kDVScannedSequences);
    for (size_t s = 0; s < n; ++s) {
        const uint8_t *seq = Sequence(frame, s);
        const uint8_t dateType = seq[kRecDate];
        const uint8_t timeType = seq[kRecTime];
        if ((dateType != kPackRecDate && dateType != 0) || (timeType != kPackRecTime && timeType != 0))
            continue;
        // The first sequence with the packs decides, even when its values are
        // no date.
        return DateFromSequence(seq, dateTime);
    }
    return false;
}

bool DVTimeCode(const uint8_t *frame, size_t size, uint8_t timeCode[4])
{
    const size_t n = SequencesIn(frame, size, kDVScannedSequences);
    for (size_t s = 0; s < n; ++s) {
        const uint8_t *seq = Sequence(frame, s);
        if (seq[kTimeCode0] != kPackTimeCode || seq[kTimeCode1] != kPackTimeCode)
            continue;
        timeCode[0] = static_cast<uint8_t>(FromBcd(seq[kTimeCode0 + 4], 0x30));
        timeCode[1] = static_cast<uint8_t>(FromBcd(seq[kTimeCode0 + 3], 0x70));
        timeCode[2] = static_cast<uint8_t>(FromBcd(seq[kTimeCode0 + 2], 0x70));
        timeCode[3] = static_cast<uint8_t>(FromBcd(seq[kTimeCode0 + 1], 0x30));
        return true;
    }
    return false;
}

int32_t DVAspectCode(const uint8_t *frame, size_t size)
{
    const size_t n = SequencesIn(frame, size, kDVScannedSequences);
    for (size_t s = 0; s < n; ++s) {
        const uint8_t *seq = Sequence(frame, s);
        if (seq[kSourceControl] != kPackVauxControl)
            continue;
        const int disp = seq[kSourceControl + 2] & 7;
        return disp == 2 || (disp == 7 && (seq[kAP3] & 7) == 0) ? acAspect16x9 : acAspect4x3;
    }
    return acAspect4x3;
}

bool DVAudioFormat(const uint8_t *frame, size_t size, int32_t &rate, int32_t &bits)
{
    const size_t n = SequencesIn(frame, size, kDVScannedSequences);
    for (size_t s = 0; s < n; ++s) {
        const uint8_t *seq = Sequence(frame, s);
        if (seq[kAauxSource] != kPackAauxSource)
            continue;
        static constexpr int32_t kRates[] = {48000, 44100, 32000};
        const int smp = (seq[kAauxSource + 4] >> 3) & 7;
        const int qu = seq[kAauxSource + 4] & 7;
        rate = smp < 3 ? kRates[smp] : 0;
        bits = qu == 0 ? 16 : qu == 1 ? 12 : 0;
        return true;
    }
    rate = -1;
    bits = -1;
    return false;
}

bool DVStructureValid(const uint8_t *frame, size_t size)
{
    const bool pal = size == kDVFrameSize625;
    const size_t sequences = pal ? 12 : 10;
    if (SequencesIn(frame, size, sequences) < sequences)
        return false;
    for (size_t s = 0; s < sequences; ++s)
        if (!SequenceValid(Sequence(frame, s), s, pal))
            return false;
    return true;
}

bool MPEG2SequenceHeader(const uint8_t *data, size_t size, TVideoData &video)
{
    if (!data || size < 8 || data[0] != 0 || data[1] != 0 || data[2] != 1 || data[3] != 0xB3)
        return false;
    const int aspectRatio = data[7] >> 4;
    const int rateCode = data[7] & 0x0F;
    if (aspectRatio == 0 || rateCode == 0)
        return false;
    // Codes 9 to 15 are reserved: no rate rather than a guess.
    static constexpr double kRates[] = {0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
    video.Width = data[4] * 16 + (data[5] >> 4);
    video.Height = (data[5] & 0x0F) * 256 + data[6];
    video.AspectCode = aspectRatio == 2 ? acAspect4x3 : aspectRatio == 3 ? acAspect16x9 : acAspectNone;
    video.FrameRate = rateCode <= 8 ? kRates[rateCode] : 0;
    video.FormatText = QStringLiteral("MPEG2");
    if (video.AspectCode == acAspect4x3)
        video.FormatText += QStringLiteral(" (4x3)");
    else if (video.AspectCode == acAspect16x9)
        video.FormatText += QStringLiteral(" (16x9)");
    return true;
}
