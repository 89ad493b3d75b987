#include "tools/mkmedia/RiffDv.h"

#include "tools/mkmedia/DvPacks.h"

#include <cstring>

namespace mkmedia {
namespace {

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;
constexpr uint32_t kAviifKeyframe = 0x10;

void Le32(std::vector<uint8_t> &b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Le16(std::vector<uint8_t> &b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
// Byte by byte: GCC's overflow check misreads a range insert of a literal here.
void Fourcc(std::vector<uint8_t> &b, const char *cc)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(cc[i]));
}

} // namespace

DvType1Writer::DvType1Writer(const std::string &path, bool pal)
    : m_file(std::fopen(path.c_str(), "wb")), m_pal(pal)
{
}

bool DvType1Writer::Write(const void *data, size_t size)
{
    if (!ok() || std::fwrite(data, 1, size, m_file.get()) != size)
        m_failed = true;
    return ok();
}

bool DvType1Writer::Put32At(long offset, uint32_t value)
{
    uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    return ok() && std::fseek(m_file.get(), offset, SEEK_SET) == 0 && Write(b, 4);
}

// Sizes and counts that depend on the frames are written as 0 and patched by Finish.
bool DvType1Writer::WriteHeader(const uint8_t *first, size_t size)
{
    const uint32_t height = m_pal ? 576 : 480;
    std::vector<uint8_t> h;
    Fourcc(h, "RIFF"); Le32(h, 0); Fourcc(h, "AVI ");
    Fourcc(h, "LIST"); Le32(h, 4 + 64 + 116); Fourcc(h, "hdrl");
    Fourcc(h, "avih"); Le32(h, 56);
    Le32(h, m_pal ? 40000 : 33367);
    Le32(h, static_cast<uint32_t>(m_pal ? size * 25 : size * 30));
    Le32(h, 0);
    Le32(h, kAvifHasIndex | kAvifIsInterleaved);
    m_totalFramesAt = static_cast<long>(h.size());
    Le32(h, 0); Le32(h, 0); Le32(h, 1); Le32(h, static_cast<uint32_t>(size));
    Le32(h, 720); Le32(h, height);
    for (int i = 0; i < 4; ++i)
        Le32(h, 0);
    Fourcc(h, "LIST"); Le32(h, 4 + 64 + 40); Fourcc(h, "strl");
    Fourcc(h, "strh"); Le32(h, 56);
    Fourcc(h, "iavs"); Fourcc(h, "dvsd");
    Le32(h, 0); Le16(h, 0); Le16(h, 0); Le32(h, 0);
    Le32(h, m_pal ? 1 : 1001); Le32(h, m_pal ? 25 : 30000); Le32(h, 0);
    m_lengthAt = static_cast<long>(h.size());
    Le32(h, 0); Le32(h, static_cast<uint32_t>(size)); Le32(h, 0xFFFFFFFF); Le32(h, 0);
    Le16(h, 0); Le16(h, 0); Le16(h, 720); Le16(h, static_cast<uint16_t>(height));
    // DVINFO: AAUX source and control for both audio blocks, VAUX source and control.
    Fourcc(h, "strf"); Le32(h, 32);
    const uint32_t aSrc = DvPackData(first, size, 0x50), aCtl = DvPackData(first, size, 0x51);
    Le32(h, aSrc); Le32(h, aCtl); Le32(h, aSrc); Le32(h, aCtl);
    Le32(h, DvPackData(first, size, 0x60)); Le32(h, DvPackData(first, size, 0x61));
    Le32(h, 0); Le32(h, 0);
    Fourcc(h, "LIST");
    m_moviSizeAt = static_cast<long>(h.size());
    Le32(h, 0);
    m_moviStart = static_cast<long>(h.size());
    Fourcc(h, "movi");
    return Write(h.data(), h.size());
}

bool DvType1Writer::AddFrame(const uint8_t *frame, size_t size)
{
    if (!ok() || size % 2)
        return m_failed = true, false;
    if (m_frames == 0 && !WriteHeader(frame, size))
        return false;
    const long at = std::ftell(m_file.get());
    m_offsets.push_back(static_cast<uint32_t>(at - m_moviStart));
    m_sizes.push_back(static_cast<uint32_t>(size));
    std::vector<uint8_t> ck;
    Fourcc(ck, "00db");
    Le32(ck, static_cast<uint32_t>(size));
    ++m_frames;
    return Write(ck.data(), ck.size()) && Write(frame, size);
}

bool DvType1Writer::Finish()
{
    if (!ok() || m_frames == 0)
        return false;
    const long moviEnd = std::ftell(m_file.get());
    std::vector<uint8_t> idx;
    Fourcc(idx, "idx1");
    Le32(idx, static_cast<uint32_t>(m_frames * 16));
    for (uint32_t i = 0; i < m_frames; ++i) {
        Fourcc(idx, "00db");
        Le32(idx, kAviifKeyframe);
        Le32(idx, m_offsets[i]);
        Le32(idx, m_sizes[i]);
    }
    if (!Write(idx.data(), idx.size()))
        return false;
    const long end = std::ftell(m_file.get());
    return Put32At(m_riffSizeAt, static_cast<uint32_t>(end - 8))
        && Put32At(m_moviSizeAt, static_cast<uint32_t>(moviEnd - m_moviStart))
        && Put32At(m_totalFramesAt, m_frames) && Put32At(m_lengthAt, m_frames)
        && std::fflush(m_file.get()) == 0;
}

} // namespace mkmedia
