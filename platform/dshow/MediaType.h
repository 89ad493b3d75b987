// Media types as pins negotiate them, and the format blocks they carry.
//
// The format-block structs have the Windows SDK's binary layouts and sizes
// (little-endian, packed where the SDK packs), because splitters, decoders and
// the notifier read and write them as raw bytes exactly as the SDK's do.
//
// CMediaType is a value: it owns its format block and copies it with itself.
// Not shared between threads; a pin hands out copies.
#pragma once

#include "platform/base/WinTypes.h"
#include "platform/dshow/Guid.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

// ---- Format-block structs ----------------------------------------------------

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // positive: bottom-up rows
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;  // BI_RGB, BI_BITFIELDS or a FourCC
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

// FORMAT_VideoInfo
struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};

// FORMAT_VideoInfo2: adds interlacing and the picture aspect ratio.
struct VIDEOINFOHEADER2 {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    DWORD dwInterlaceFlags;
    DWORD dwCopyProtectFlags;
    DWORD dwPictAspectRatioX;
    DWORD dwPictAspectRatioY;
    union {
        DWORD dwControlFlags;
        DWORD dwReserved1;
    };
    DWORD dwReserved2;
    BITMAPINFOHEADER bmiHeader;
};

// FORMAT_MPEGVideo. The sequence header runs on past the struct; the block
// is SIZE_MPEG1VIDEOINFO bytes long.
struct MPEG1VIDEOINFO {
    VIDEOINFOHEADER hdr;
    DWORD dwStartTimeCode;
    DWORD cbSequenceHeader;
    BYTE bSequenceHeader[1];
};

// FORMAT_MPEG2Video. The sequence header (or avcC data) runs on past the
// struct; the block is SIZE_MPEG2VIDEOINFO bytes long.
struct MPEG2VIDEOINFO {
    VIDEOINFOHEADER2 hdr;
    DWORD dwStartTimeCode;
    DWORD cbSequenceHeader;
    DWORD dwProfile;
    DWORD dwLevel;
    DWORD dwFlags;
    DWORD dwSequenceHeader[1];
};

// FORMAT_DvInfo: the DV packs of an interleaved stream.
struct DVINFO {
    DWORD dwDVAAuxSrc;
    DWORD dwDVAAuxCtl;
    DWORD dwDVAAuxSrc1;
    DWORD dwDVAAuxCtl1;
    DWORD dwDVVAuxSrc;
    DWORD dwDVVAuxCtl;
    DWORD dwDVReserved[2];
};

constexpr WORD WAVE_FORMAT_PCM = 0x0001;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 0x0003;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x0055;

// FORMAT_WaveFormatEx. Byte-packed in the SDK: 18 bytes, cbSize extra bytes
// follow.
#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)

static_assert(sizeof(RECT) == 16);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(sizeof(VIDEOINFOHEADER2) == 112);
static_assert(sizeof(MPEG1VIDEOINFO) == 104);
static_assert(sizeof(MPEG2VIDEOINFO) == 136);
static_assert(sizeof(DVINFO) == 32);
static_assert(sizeof(WAVEFORMATEX) == 18);

// The SDK's size macros: the struct up to its sequence header, plus the header.
inline size_t SIZE_MPEG1VIDEOINFO(const MPEG1VIDEOINFO *info)
{
    return offsetof(MPEG1VIDEOINFO, bSequenceHeader) + info->cbSequenceHeader;
}
inline size_t SIZE_MPEG2VIDEOINFO(const MPEG2VIDEOINFO *info)
{
    return offsetof(MPEG2VIDEOINFO, dwSequenceHeader) + info->cbSequenceHeader;
}

// ---- CMediaType --------------------------------------------------------------

// The SDK's AM_MEDIA_TYPE with its CMediaType helpers. The fields keep the
// SDK's names and defaults (fixed-size samples of 1 byte, no format).
class CMediaType {
public:
    GUID majortype = GUID_NULL;
    GUID subtype = GUID_NULL;
    bool bFixedSizeSamples = true;
    bool bTemporalCompression = false;
    ULONG lSampleSize = 1;
    GUID formattype = GUID_NULL;

    CMediaType() = default;
    explicit CMediaType(REFGUID major, REFGUID sub = GUID_NULL, REFGUID format = GUID_NULL)
        : majortype(major), subtype(sub), formattype(format) {}

    REFGUID Type() const { return majortype; }
    void SetType(REFGUID type) { majortype = type; }
    REFGUID Subtype() const { return subtype; }
    void SetSubtype(REFGUID type) { subtype = type; }
    REFGUID FormatType() const { return formattype; }
    void SetFormatType(REFGUID type) { formattype = type; }

    bool IsFixedSize() const { return bFixedSizeSamples; }
    bool IsTemporalCompressed() const { return bTemporalCompression; }
    void SetTemporalCompression(bool compressed) { bTemporalCompression = compressed; }
    // 0 when samples vary in size.
    ULONG GetSampleSize() const { return bFixedSizeSamples ? lSampleSize : 0; }
    // 0 makes the samples variable-sized.
    void SetSampleSize(ULONG size);
    void SetVariableSize() { bFixedSizeSamples = false; }

    // A major type is the least a usable type has.
    bool IsValid() const { return majortype != GUID_NULL; }
    // True when the major type or the format type is a wildcard.
    bool IsPartiallySpecified() const;
    // Back to the defaults, dropping the format block.
    void InitMediaType() { *this = CMediaType(); }

    // ---- Format block (the SDK's cbFormat / pbFormat) ----
    ULONG FormatLength() const { return static_cast<ULONG>(m_format.size()); }
    const BYTE *Format() const { return m_format.empty() ? nullptr : m_format.data(); }
    BYTE *Format() { return m_format.empty() ? nullptr : m_format.data(); }
    std::span<const BYTE> FormatBytes() const { return m_format; }

    // Copies `length` bytes; a null `data` with a length gives zeroed bytes.
    void SetFormat(const void *data, size_t length);
    // The struct's bytes followed by `extra` (a sequence header, a palette,
    // the bytes a WAVEFORMATEX's cbSize counts).
    template <class T>
    void SetFormat(const T &block, std::span<const BYTE> extra = {})
    {
        static_assert(std::is_trivially_copyable_v<T>);
        SetFormat(&block, sizeof(T));
        m_format.insert(m_format.end(), extra.begin(), extra.end());
    }
    // Resizes the block, keeping what fits and zeroing the rest.
    BYTE *AllocFormatBuffer(size_t length);
    void ResetFormatBuffer() { m_format.clear(); }

    // The block as a T, only when it holds at least sizeof(T) bytes; the
    // pointer lives until the block is next changed.
    template <class T>
    const T *FormatAs() const
    {
        static_assert(std::is_trivially_copyable_v<T>);
        return m_format.size() >= sizeof(T) ? reinterpret_cast<const T *>(m_format.data()) : nullptr;
    }
    template <class T>
    T *FormatAs()
    {
        static_assert(std::is_trivially_copyable_v<T>);
        return m_format.size() >= sizeof(T) ? reinterpret_cast<T *>(m_format.data()) : nullptr;
    }

    // As the SDK compares: the three identifiers and the format bytes (the
    // sample-size fields do not take part).
    friend bool operator==(const CMediaType &a, const CMediaType &b);

    // True when this type fits `partial`, whose GUID_NULL identifiers are
    // wildcards; a set format type also requires the same format bytes.
    bool MatchesPartial(const CMediaType &partial) const;

private:
    std::vector<BYTE> m_format;
};

using AM_MEDIA_TYPE = CMediaType;
