#include "platform/ffmpeg/FileSourceAsync.h"

#include "platform/ffmpeg/FFmpegCommon.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// ---- CFileStream ----------------------------------------------------------------------

CFileStream::~CFileStream()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool CFileStream::Open(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EISDIR;
        return false;
    }
    if (m_fd >= 0)
        close(m_fd);
    m_fd = fd;
    return true;
}

HRESULT CFileStream::Read(LONGLONG position, LONG length, BYTE *buffer, LONG *pRead)
{
    *pRead = 0;
    if (position < 0 || length < 0)
        return E_INVALIDARG;
    if (m_fd < 0)
        return E_UNEXPECTED;
    while (*pRead < length) {
        const ssize_t n = pread(m_fd, buffer + *pRead, static_cast<size_t>(length - *pRead), position + *pRead);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return E_FAIL;
        if (n == 0)
            break;
        *pRead += static_cast<LONG>(n);
    }
    return *pRead == length ? S_OK : S_FALSE;
}

LONGLONG CFileStream::Size(LONGLONG *pAvailable)
{
    struct stat st {};
    const LONGLONG size = m_fd >= 0 && fstat(m_fd, &st) == 0 ? st.st_size : 0;
    if (pAvailable)
        *pAvailable = size;
    return size;
}

// ---- Container by its first bytes -----------------------------------------------------------

static bool At(const BYTE *head, size_t size, size_t offset, const char *tag)
{
    const size_t n = std::strlen(tag);
    return offset + n <= size && std::memcmp(head + offset, tag, n) == 0;
}

GUID StreamSubtypeFor(const BYTE *head, size_t size)
{
    static const BYTE asfHeader[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};
    if (At(head, size, 0, "RIFF") && At(head, size, 8, "AVI "))
        return MEDIASUBTYPE_Avi;
    if (At(head, size, 0, "RIFF") && At(head, size, 8, "WAVE"))
        return MEDIASUBTYPE_WAVE;
    if (size >= sizeof asfHeader && std::memcmp(head, asfHeader, sizeof asfHeader) == 0)
        return MEDIASUBTYPE_Asf;
    if (size >= 5 && head[0] == 0 && head[1] == 0 && head[2] == 1 && head[3] == 0xBA)
        return (head[4] & 0xC0) == 0x40 ? MEDIASUBTYPE_MPEG2_PROGRAM : MEDIASUBTYPE_MPEG1System;
    if (size >= 189 && head[0] == 0x47 && head[188] == 0x47)
        return MEDIASUBTYPE_MPEG2_TRANSPORT;
    return GUID_NULL;
}

// ---- CFileSourceAsync ---------------------------------------------------------------------

CFileSourceAsync::CFileSourceAsync() : CBaseFilter(L"File Source (Async.)", &m_csFilter, CLSID_AsyncReader) {}

CFileSourceAsync::~CFileSourceAsync() = default;

HRESULT CFileSourceAsync::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IFileSourceFilter)
        return GetInterface(static_cast<IFileSourceFilter *>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin *CFileSourceAsync::GetPin(int n)
{
    return n == 0 ? m_pin.get() : nullptr;
}

HRESULT CFileSourceAsync::Load(LPCWSTR pszFileName, const AM_MEDIA_TYPE *pmt)
{
    if (!pszFileName)
        return E_POINTER;
    CAutoLock lock(m_csFilter);
    if (m_pin)
        return E_UNEXPECTED;
    if (!m_stream.Open(ToUtf8(pszFileName)))
        return errno == ENOENT || errno == ENOTDIR ? VFW_E_NOT_FOUND : E_ACCESSDENIED;
    CMediaType type(MEDIATYPE_Stream);
    if (pmt && pmt->majortype == MEDIATYPE_Stream) {
        type.SetSubtype(pmt->subtype);
    } else {
        BYTE head[256] = {};
        LONG read = 0;
        m_stream.Read(0, sizeof head, head, &read);
        type.SetSubtype(StreamSubtypeFor(head, static_cast<size_t>(read)));
    }
    m_pin = std::make_unique<CAsyncOutputPin>(this, &m_csFilter, L"Output", &m_stream, type);
    m_fileName = pszFileName;
    return S_OK;
}

HRESULT CFileSourceAsync::GetCurFile(LPWSTR *ppszFileName, AM_MEDIA_TYPE *pmt)
{
    if (!ppszFileName)
        return E_POINTER;
    CAutoLock lock(m_csFilter);
    *ppszFileName = nullptr;
    if (!m_pin)
        return E_FAIL;
    *ppszFileName = NewWideCopy(m_fileName);
    if (pmt)
        m_pin->GetMediaType(0, pmt);
    return S_OK;
}
