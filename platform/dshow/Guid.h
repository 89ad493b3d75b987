// Globally unique identifiers as the media graph names types, formats,
// interfaces and filter classes, with the registry's text form and the
// FourCC identifiers that video and audio codecs are known by.
//
// Value types and pure functions; any thread.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Same layout as the SDK's GUID (16 bytes, little-endian fields), so format
// blocks and remembered keys written as text mean the same everywhere.
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];

    // Field by field, so sorting groups the FourCC family together.
    friend constexpr bool operator==(const GUID &, const GUID &) = default;
    friend constexpr std::strong_ordering operator<=>(const GUID &, const GUID &) = default;
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID &;
using REFIID = const IID &;
using REFCLSID = const CLSID &;

inline constexpr GUID GUID_NULL{};

template <>
struct std::hash<GUID> {
    size_t operator()(const GUID &g) const noexcept;
};

// "{73646976-0000-0010-8000-00AA00389B71}": upper case, braces, as the
// registry and the remembered decoder keys write it.
std::string GuidToString(REFGUID guid);
// Reads the form above in either case; braces and dashes are required, nothing
// may surround it. Empty on any other text.
std::optional<GUID> StringToGuid(std::string_view text);

// The SDK's MAKEFOURCC: first character in the lowest byte.
constexpr uint32_t MAKEFOURCC(char c0, char c1, char c2, char c3)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(c0))
        | static_cast<uint32_t>(static_cast<uint8_t>(c1)) << 8
        | static_cast<uint32_t>(static_cast<uint8_t>(c2)) << 16
        | static_cast<uint32_t>(static_cast<uint8_t>(c3)) << 24;
}

// {XXXXXXXX-0000-0010-8000-00AA00389B71}: the identifier of a FourCC (or of a
// wave format tag) as a media subtype.
constexpr GUID FourCCGuid(uint32_t fourcc)
{
    return GUID{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

// True when everything but the first 32 bits is the FourCC base above.
constexpr bool IsFourCCGuid(REFGUID guid)
{
    const GUID base = FourCCGuid(guid.Data1);
    return guid == base;
}

// The four bytes of a code, lowest first, as characters (always 4 of them,
// zero bytes included).
std::string FourCCText(uint32_t fourcc);
