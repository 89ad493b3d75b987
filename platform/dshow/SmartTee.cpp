#include "platform/dshow/SmartTee.h"

#include "platform/dshow/Uuids.h"

CSmartTee::CSmartTee() : CFanOutFilter(L"Smart Tee", CLSID_SmartTee, {L"Capture", L"Preview"}) {}

HRESULT CSmartTee::CheckInputType(const CMediaType *pmt)
{
    return pmt->IsValid() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

bool CSmartTee::OutputType(int, CMediaType *pmt)
{
    if (!InputPin()->IsConnected())
        return false;
    *pmt = InputPin()->CurrentMediaType();
    return true;
}

void CSmartTee::OutputBuffers(int, LONG *count, LONG *size)
{
    *count = 4;
    ALLOCATOR_PROPERTIES props{};
    IMemAllocator *upstream = InputPin()->PeekAllocator();
    *size = upstream && SUCCEEDED(upstream->GetProperties(&props)) && props.cbBuffer > 0 ? props.cbBuffer : 1 << 20;
}

HRESULT CSmartTee::Process(IMediaSample *sample)
{
    BYTE *data = nullptr;
    sample->GetPointer(&data);
    const LONG length = sample->GetActualDataLength();
    HRESULT result = S_OK;
    for (int i = 0; i < 2; ++i) {
        const HRESULT hr = DeliverCopy(i, sample, data, length);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    return result;
}

CMpeg2Demux::CMpeg2Demux() : CBaseFilter(L"MPEG-2 Demultiplexer", &m_csFilter, CLSID_MPEG2Demultiplexer), m_input(this, &m_csFilter) {}

CBasePin *CMpeg2Demux::GetPin(int n) { return n == 0 ? &m_input : nullptr; }

HRESULT CMpeg2Demux::InputPin::CheckMediaType(const CMediaType *pmt)
{
    return pmt->majortype == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}
