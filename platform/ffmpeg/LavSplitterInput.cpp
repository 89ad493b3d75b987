// The pull-mode side of the splitter engine: its input pin, and libavformat
// reading through the connected pull pin.
#include "platform/ffmpeg/LavSplitter.h"

#include <algorithm>

using namespace ffmpeg;

namespace {

constexpr int kIoBufferSize = 64 * 1024;

int ReadThroughPin(void *opaque, uint8_t *buffer, int size)
{
    auto *io = static_cast<ReaderIo *>(opaque);
    const int64_t left = io->size - io->position;
    if (left <= 0)
        return AVERROR_EOF;
    const LONG n = static_cast<LONG>(std::min<int64_t>(size, left));
    if (FAILED(io->reader->SyncRead(io->position, n, buffer)))
        return AVERROR(EIO);
    io->position += n;
    return n;
}

int64_t SeekThroughPin(void *opaque, int64_t offset, int whence)
{
    auto *io = static_cast<ReaderIo *>(opaque);
    int64_t target = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return io->size;
    case SEEK_SET:
        target = offset;
        break;
    case SEEK_CUR:
        target = io->position + offset;
        break;
    case SEEK_END:
        target = io->size + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (target < 0)
        return AVERROR(EINVAL);
    io->position = target;
    return target;
}

} // namespace

// ---- CLavInputPin -----------------------------------------------------------------------

CLavInputPin::CLavInputPin(CLavSplitter *filter, CCritSec *lock)
    : CBasePin(filter, lock, L"Input", PINDIR_INPUT), m_splitter(filter)
{
}

HRESULT CLavInputPin::CheckMediaType(const CMediaType *pmt)
{
    return pmt->majortype == MEDIATYPE_Stream ? S_OK : S_FALSE;
}

HRESULT CLavInputPin::CheckConnect(IPin *pPin)
{
    const HRESULT hr = CBasePin::CheckConnect(pPin);
    if (FAILED(hr))
        return hr;
    return ComQuery<IAsyncReader>(pPin) ? S_OK : VFW_E_NO_TRANSPORT;
}

HRESULT CLavInputPin::CompleteConnect(IPin *pReceivePin)
{
    const HRESULT hr = CBasePin::CompleteConnect(pReceivePin);
    if (FAILED(hr))
        return hr;
    auto reader = ComQuery<IAsyncReader>(pReceivePin);
    if (!reader)
        return VFW_E_NO_TRANSPORT;
    return m_splitter->OpenReader(reader.Get());
}

HRESULT CLavInputPin::BreakConnect()
{
    m_splitter->Close();
    return CBasePin::BreakConnect();
}

// ---- Opening through the pull pin -----------------------------------------------------------

HRESULT CLavSplitter::OpenReader(IAsyncReader *reader)
{
    CAutoLock lock(m_csFilter);
    Close();
    auto io = std::make_unique<ReaderIo>();
    io->reader = reader;
    LONGLONG available = 0;
    if (FAILED(reader->Length(&io->size, &available)) || io->size <= 0)
        return VFW_E_TYPE_NOT_ACCEPTED;
    std::vector<uint8_t> head(static_cast<size_t>(std::min<int64_t>(io->size, kSplitterHeadSize)));
    if (FAILED(reader->SyncRead(0, static_cast<LONG>(head.size()), head.data())))
        return VFW_E_TYPE_NOT_ACCEPTED;
    auto *buffer = static_cast<uint8_t *>(av_malloc(kIoBufferSize));
    m_io.reset(avio_alloc_context(buffer, kIoBufferSize, 0, io.get(), ReadThroughPin, nullptr, SeekThroughPin));
    if (!m_io) {
        av_free(buffer);
        return E_OUTOFMEMORY;
    }
    m_format.reset(avformat_alloc_context());
    m_format->pb = m_io.get();
    m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
    m_readerIo = std::move(io);
    const HRESULT hr = OpenFormat("", head);
    if (FAILED(hr)) {
        Close();
        // Whatever the reason, the splitter does not take this stream.
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    m_positioned = true;
    return S_OK;
}

// Forgets the file: the output pins are disconnected and set aside (the
// graph may still hold them), and libavformat lets go of the reader.
void CLavSplitter::Close()
{
    CritCheckIn(m_csFilter);
    StopStreaming();
    for (auto &pin : m_pins) {
        if (IPin *peer = pin->GetConnected()) {
            peer->Disconnect();
            pin->Disconnect();
        }
        m_oldPins.push_back(std::move(pin));
    }
    m_pins.clear();
    m_format.reset();
    m_io.reset();
    m_readerIo.reset();
    m_fileName.clear();
    m_duration = 0;
    m_startOffset = 0;
    m_requested = m_segmentStart = 0;
    m_stop.store(MAX_TIME);
    m_lastSent.store(-1);
}
