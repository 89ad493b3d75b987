// Random input through the DV and MPEG-2 readers and the date-time texts.
// The first byte picks the shape: raw bytes; a DV-like frame built here
// (every sequence with the headers and packs the readers look for) with the
// input's edits at those offsets, cut short or not; an MPEG-2 sequence header
// followed by the input; or a picture string and a value. Buffers are
// allocated to the byte, so the address sanitizer sees any read past them.
// Any broken invariant aborts.
#include "KWPack/uDVCodes.h"

#include "platform/base/DateTimeText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

// Offsets within a sequence that some reader looks at.
constexpr size_t kOffsets[] = {3,   5,   7,   110, 111, 112, 113, 114, 190, 243,  248,  448,  453,  455,
                               458, 460, 461, 462, 463, 465, 466, 467, 483, 487, 1763, 4323, 4327, 5603};

std::vector<uint8_t> DVTemplate(bool pal)
{
    const size_t sequences = pal ? 12 : 10;
    std::vector<uint8_t> frame(sequences * kDIFSequenceSize, 0xFF);
    for (size_t s = 0; s < sequences; ++s) {
        uint8_t *seq = frame.data() + s * kDIFSequenceSize;
        seq[3] = pal ? 0xBF : 0x3F;
        seq[5] = 0x0F;
        seq[7] = 0x78;
        const uint8_t tc[] = {0x13, 0x04, 0x03, 0x02, 0x01};
        std::memcpy(seq + 110, tc, 5);
        std::memcpy(seq + 190, tc, 5);
        seq[243] = seq[448] = 0x60;
        seq[248] = seq[453] = 0x61;
        seq[455] = 0xCA;
        const uint8_t date[] = {0x62, 0xFF, 0xD5, 0xE7, 0x04, 0x63, 0xFF, 0x80, 0xB0, 0xD4};
        std::memcpy(seq + 458, date, sizeof date);
        const size_t aaux = s % 2 ? 483 : 4323;
        seq[aaux] = 0x50;
        seq[aaux + 4] = 0x00;
        seq[aaux + 1280] = 0x51;
    }
    return frame;
}

void CheckDV(const uint8_t *data, size_t size)
{
    Check(DVBroadcastSystem(data, size) <= 2);
    const int32_t aspect = DVAspectCode(data, size);
    Check(aspect == acAspect4x3 || aspect == acAspect16x9);
    double date = 0;
    if (DVRecordingDate(data, size, date)) {
        TDateTimeFields f;
        // Year digits past 9 still count: 15 tens and 15 units at most.
        Check(DecodeDateTime(date, f) && f.Year >= 1940 && f.Year <= 2065);
    }
    uint8_t tc[4] = {};
    if (DVTimeCode(data, size, tc))
        Check(tc[0] <= 45 && tc[1] <= 85 && tc[2] <= 85 && tc[3] <= 45);
    int32_t rate = 0, bits = 0;
    const bool audio = DVAudioFormat(data, size, rate, bits);
    Check(audio ? (rate == 0 || rate == 32000 || rate == 44100 || rate == 48000) : rate == -1);
    Check(audio ? (bits == 0 || bits == 12 || bits == 16) : bits == -1);
    if (DVStructureValid(data, size))
        Check(size >= kDVFrameSize525);
    TVideoData video;
    if (MPEG2SequenceHeader(data, size, video))
        Check(size >= 8 && video.Width < 4096 && video.Height < 4096 && video.FrameRate >= 0 && video.FrameRate <= 60);
}

// A DV-like frame with (sequence, offset, value) edits from the input.
void FuzzDVFrame(uint8_t mode, const uint8_t *data, size_t size)
{
    static const std::vector<uint8_t> templates[2] = {DVTemplate(false), DVTemplate(true)};
    std::vector<uint8_t> frame = templates[mode & 0x10 ? 1 : 0];
    const size_t sequences = frame.size() / kDIFSequenceSize;
    for (size_t i = 0; i + 3 <= size; i += 3) {
        const size_t at = (data[i] % sequences) * kDIFSequenceSize + kOffsets[data[i + 1] % std::size(kOffsets)];
        frame[at] = data[i + 2];
    }
    if ((mode & 0x20) && size > 0)
        frame.resize(frame.size() - (size_t(data[0]) * 997 + size) % frame.size());
    CheckDV(frame.empty() ? nullptr : frame.data(), frame.size());
}

const char *const kPieces[] = {
    "d",  "dd", "ddd", "dddd", "ddddd", "dddddd", "m",    "mm", "mmm", "mmmm", "yy", "yyyy", "y",  "h",
    "hh", "n",  "nn",  "s",    "ss",    "z",      "zzz",  "t",  "tt",  "c",    "/",  ":",    "'",  "\"",
    "'x'", "a", "am/pm", "A/P", "ampm", "AMPM",   "AM/P", " ",  "-",   "M",    "H",  "é",    "''", "\"'\"",
};

QString Compose(const uint8_t *data, size_t size)
{
    QString out;
    for (size_t i = 0; i < size; ++i)
        out += QString::fromUtf8(kPieces[data[i] % std::size(kPieces)]);
    return out;
}

void CheckFormat(const QString &format, double value, const TFormatSettings &settings)
{
    const QString text = FormatDateTime(format, value, settings);
    TDateTimeFields f;
    if (!DecodeDateTime(value, f)) {
        Check(text.isEmpty());
        return;
    }
    // Locale formats go one level deep, so a text stays in proportion.
    Check(text.size() <= (format.size() + 1) * 4096);
    double again = 0;
    TDateTimeFields g;
    Check(TryEncodeDateTime(f.Year, f.Month, f.Day, f.Hour, f.Minute, f.Second, f.MilliSecond, again));
    Check(DecodeDateTime(again, g) && g.Year == f.Year && g.Month == f.Month && g.Day == f.Day && g.Hour == f.Hour
          && g.Minute == f.Minute && g.Second == f.Second && g.MilliSecond == f.MilliSecond && g.DayOfWeek == f.DayOfWeek);
}

void FuzzFormat(uint8_t mode, const uint8_t *data, size_t size)
{
    static const TFormatSettings settings[] = {
        FormatSettingsFromLocale(QLocale::c()), FormatSettingsFromLocale(QLocale(QStringLiteral("en_US"))),
        FormatSettingsFromLocale(QLocale(QStringLiteral("de_DE"))), FormatSettingsFromLocale(QLocale(QStringLiteral("ja_JP")))};
    if (size < 8)
        return;
    double value = 0;
    if (mode & 0x10) {
        std::memcpy(&value, data, sizeof value);  // anything, NaN included
    } else {
        int32_t days = 0;
        uint32_t fraction = 0;
        std::memcpy(&days, data, 4);
        std::memcpy(&fraction, data + 4, 4);
        value = days / 256 + fraction / 4294967296.0 * (days < 0 ? -1 : 1);
    }
    data += 8;
    size -= 8;
    const TFormatSettings &s = settings[(mode >> 5) & 3];
    const QString format = mode & 0x80 ? QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size))
                                       : Compose(data, size);
    CheckFormat(format, value, s);
    // The same text read as a Qt pattern, as a locale's formats are.
    TFormatSettings translated = s;
    translated.LongTimeFormat = PictureFromQtFormat(format, s.DateSeparator, s.TimeSeparator);
    translated.ShortDateFormat = QStringLiteral("ddddd tt c");
    CheckFormat(QStringLiteral("tt ddddd"), value, translated);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    switch (mode % 4) {
    case 0: CheckDV(size > 1 ? data + 1 : nullptr, size - 1); break;
    case 1: FuzzDVFrame(mode, data + 1, size - 1); break;
    case 2: {
        std::vector<uint8_t> header = {0x00, 0x00, 0x01, 0xB3};
        header.insert(header.end(), data + 1, data + size);
        CheckDV(header.data(), header.size());
        break;
    }
    case 3: FuzzFormat(mode, data + 1, size - 1); break;
    }
    return 0;
}
