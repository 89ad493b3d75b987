#include "platform/dshow/Guid.h"

#include <array>
#include <cstdio>

size_t std::hash<GUID>::operator()(const GUID &g) const noexcept
{
    // FNV-1a over the fields; FourCC subtypes differ only in Data1, so every
    // byte has to take part.
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            h ^= (value >> (8 * i)) & 0xFF;
            h *= 1099511628211ull;
        }
    };
    mix(g.Data1, 4);
    mix(g.Data2, 2);
    mix(g.Data3, 2);
    for (uint8_t b : g.Data4)
        mix(b, 1);
    return static_cast<size_t>(h);
}

std::string GuidToString(REFGUID g)
{
    std::array<char, 40> buf{};
    std::snprintf(buf.data(), buf.size(),
                  "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2),
                  static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return std::string(buf.data());
}

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Reads `digits` hex digits at `pos`; false on any other character.
bool ReadHex(std::string_view text, size_t pos, int digits, uint64_t &value)
{
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const int v = HexValue(text[pos + static_cast<size_t>(i)]);
        if (v < 0)
            return false;
        value = value << 4 | static_cast<uint64_t>(v);
    }
    return true;
}

} // namespace

std::optional<GUID> StringToGuid(std::string_view text)
{
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-'
        || text[14] != '-' || text[19] != '-' || text[24] != '-')
        return std::nullopt;
    uint64_t d1 = 0, d2 = 0, d3 = 0, d4a = 0, d4b = 0;
    if (!ReadHex(text, 1, 8, d1) || !ReadHex(text, 10, 4, d2) || !ReadHex(text, 15, 4, d3)
        || !ReadHex(text, 20, 4, d4a) || !ReadHex(text, 25, 12, d4b))
        return std::nullopt;
    GUID g{static_cast<uint32_t>(d1), static_cast<uint16_t>(d2), static_cast<uint16_t>(d3), {}};
    g.Data4[0] = static_cast<uint8_t>(d4a >> 8);
    g.Data4[1] = static_cast<uint8_t>(d4a);
    for (int i = 0; i < 6; ++i)
        g.Data4[2 + i] = static_cast<uint8_t>(d4b >> (8 * (5 - i)));
    return g;
}

std::string FourCCText(uint32_t fourcc)
{
    std::string text(4, '\0');
    for (int i = 0; i < 4; ++i)
        text[static_cast<size_t>(i)] = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
    return text;
}
