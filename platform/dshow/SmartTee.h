// "Smart Tee" and "MPEG-2 Demultiplexer": minimal stand-ins. The program
// builds them into stream devices that contribute no sources; the tee passes
// every sample to both its outputs, the demultiplexer takes a byte stream
// and offers nothing.
//
// Threads: as CFanOutFilter.
#pragma once

#include "platform/dshow/FanOutFilter.h"

class CSmartTee final : public CFanOutFilter {
public:
    CSmartTee();
    HRESULT CheckInputType(const CMediaType *pmt) override;
    bool OutputType(int index, CMediaType *pmt) override;
    void OutputBuffers(int index, LONG *count, LONG *size) override;
    HRESULT Process(IMediaSample *sample) override;
};

class CMpeg2Demux final : public CBaseFilter {
public:
    CMpeg2Demux();
    int GetPinCount() override { return 1; }
    CBasePin *GetPin(int n) override;

private:
    class InputPin final : public CBasePin {
    public:
        InputPin(CBaseFilter *filter, CCritSec *lock) : CBasePin(filter, lock, L"MPEG-2 Stream", PINDIR_INPUT) {}
        HRESULT CheckMediaType(const CMediaType *pmt) override;
        HRESULT EndOfStream() override { return S_OK; }
        HRESULT BeginFlush() override { return S_OK; }
        HRESULT EndFlush() override { return S_OK; }
    };
    CCritSec m_csFilter;
    InputPin m_input;
};
