// "File Source (Async.)": opens a file and offers its bytes on a pull pin
// (MEDIATYPE_Stream) to a splitter, which reads where it likes. The subtype
// names the container when the first bytes tell it (AVI, WAV, ASF, MPEG
// program or system stream, transport stream), else it is left empty.
//
// Threads: Load and connections on the UI thread; reads on the splitter's.
#pragma once

#include "platform/dshow/AsyncReader.h"

#include <string>

// The bytes of an open file. Reads never move a shared position (pread), so
// any thread may read.
class CFileStream final : public CAsyncStream {
public:
    CFileStream() = default;
    ~CFileStream() override;
    CFileStream(const CFileStream &) = delete;
    CFileStream &operator=(const CFileStream &) = delete;

    // False (errno kept) when the file cannot be opened for reading or is a folder.
    bool Open(const std::string &path);
    bool IsOpen() const { return m_fd >= 0; }

    HRESULT Read(LONGLONG position, LONG length, BYTE *buffer, LONG *pRead) override;
    LONGLONG Size(LONGLONG *pAvailable) override;

private:
    int m_fd = -1;
};

// The container subtype for a file's first bytes; GUID_NULL when unknown.
GUID StreamSubtypeFor(const BYTE *head, size_t size);

class CFileSourceAsync final : public CBaseFilter, public IFileSourceFilter {
public:
    CFileSourceAsync();
    ~CFileSourceAsync() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    int GetPinCount() override { return m_pin ? 1 : 0; }
    CBasePin *GetPin(int n) override;

    // Fails for a file that cannot be opened; the pin exists only after a Load.
    HRESULT Load(LPCWSTR pszFileName, const AM_MEDIA_TYPE *pmt) override;
    HRESULT GetCurFile(LPWSTR *ppszFileName, AM_MEDIA_TYPE *pmt) override;

private:
    CCritSec m_csFilter;
    std::wstring m_fileName;
    CFileStream m_stream;
    std::unique_ptr<CAsyncOutputPin> m_pin;  // after m_stream: it reads from it
};
