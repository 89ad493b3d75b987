// Writer of type-1 DV AVI files: one interleaved 'iavs' stream (handler 'dvsd')
// with a DVINFO format block, frames as '00__' chunks and an idx1 index.
// libavformat writes only type-2 DV AVI, hence this small writer.
// One writer per file; any single thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace mkmedia {

class DvType1Writer {
public:
    // Opens `path` for writing; ok() tells whether it worked.
    DvType1Writer(const std::string &path, bool pal);
    bool ok() const { return m_file != nullptr && !m_failed; }

    // Appends one DV frame; the first one fills the DVINFO block.
    bool AddFrame(const uint8_t *frame, size_t size);
    // Writes the index and the header fields that need the frame count.
    bool Finish();

private:
    struct FileCloser {
        void operator()(FILE *f) const { std::fclose(f); }
    };
    bool Write(const void *data, size_t size);
    bool WriteHeader(const uint8_t *firstFrame, size_t size);
    bool Put32At(long offset, uint32_t value);

    std::unique_ptr<FILE, FileCloser> m_file;
    bool m_pal;
    bool m_failed = false;
    uint32_t m_frames = 0;
    long m_moviStart = 0; // offset of the 'movi' fourcc
    std::vector<uint32_t> m_offsets;
    std::vector<uint32_t> m_sizes;
    long m_totalFramesAt = 0;
    long m_lengthAt = 0;
    long m_riffSizeAt = 4;
    long m_moviSizeAt = 0;
};

} // namespace mkmedia
