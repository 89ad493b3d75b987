// The pull pin between a file source and a splitter.
#include "GraphTestKit.h"

#include "platform/dshow/Allocator.h"
#include "platform/dshow/AsyncReader.h"
#include "platform/dshow/FilterGraph.h"

#include <gtest/gtest.h>

#include <future>

using namespace graphtest;

namespace {

class FileSource : public CBaseFilter {
public:
    explicit FileSource(std::vector<BYTE> bytes)
        : CBaseFilter(L"File Source (Async.)", &m_lock, CLSID_AsyncReader), m_stream(std::move(bytes)),
          m_pin(this, &m_lock, L"Output", &m_stream, CMediaType(MEDIATYPE_Stream, MEDIASUBTYPE_Avi))
    {
    }
    int GetPinCount() override { return 1; }
    CBasePin *GetPin(int n) override { return n == 0 ? &m_pin : nullptr; }
    CAsyncOutputPin *Out() { return &m_pin; }

private:
    CCritSec m_lock;
    CMemoryStream m_stream;
    CAsyncOutputPin m_pin;
};

// The splitter's input: takes the reader when connected.
class SplitterInput : public CBasePin {
public:
    SplitterInput(CBaseFilter *f, CCritSec *lock) : CBasePin(f, lock, L"Input", PINDIR_INPUT) {}
    HRESULT CheckMediaType(const CMediaType *pmt) override
    {
        return pmt->majortype == MEDIATYPE_Stream ? S_OK : S_FALSE;
    }
    HRESULT CompleteConnect(IPin *pReceivePin) override
    {
        reader = ComQuery<IAsyncReader>(pReceivePin);
        return reader ? S_OK : VFW_E_NO_TRANSPORT;
    }
    HRESULT BreakConnect() override
    {
        reader.Reset();
        return S_OK;
    }
    HRESULT EndOfStream() override { return S_OK; }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }
    ComPtr<IAsyncReader> reader;
};

class Splitter : public CBaseFilter {
public:
    Splitter() : CBaseFilter(L"Splitter", &m_lock, CLSID_AviSplitter), in(this, &m_lock) {}
    int GetPinCount() override { return 1; }
    CBasePin *GetPin(int n) override { return n == 0 ? &in : nullptr; }
    CCritSec m_lock;
    SplitterInput in;
};

std::vector<BYTE> Bytes(int n)
{
    std::vector<BYTE> b(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        b[static_cast<size_t>(i)] = static_cast<BYTE>(i * 7);
    return b;
}

class PullPin : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CreateFilterGraph(IID_IGraphBuilder, graph.ReleaseAndGetVoidAddress()), S_OK);
        graph->AddFilter(source.Get(), L"File Source (Async.)");
        graph->AddFilter(splitter.Get(), L"AVI Splitter");
        ASSERT_EQ(graph->ConnectDirect(source->Out(), &splitter->in, nullptr), S_OK);
        reader = splitter->in.reader;
        ASSERT_TRUE(reader);
    }
    ComPtr<IGraphBuilder> graph;
    ComPtr<FileSource> source = MakeCom<FileSource>(Bytes(1000));
    ComPtr<Splitter> splitter = MakeCom<Splitter>();
    ComPtr<IAsyncReader> reader;
};

TEST_F(PullPin, ConnectsOnTheStreamTypeAndReadsAtPositions)
{
    CMediaType type;
    splitter->in.ConnectionMediaType(&type);
    EXPECT_EQ(type.Subtype(), MEDIASUBTYPE_Avi);
    LONGLONG total = 0, available = 0;
    ASSERT_EQ(reader->Length(&total, &available), S_OK);
    EXPECT_EQ(total, 1000);
    BYTE buffer[10] = {};
    ASSERT_EQ(reader->SyncRead(100, 10, buffer), S_OK);
    EXPECT_EQ(buffer[3], static_cast<BYTE>(103 * 7));
    EXPECT_EQ(reader->SyncRead(995, 10, buffer), S_FALSE);  // past the end
    EXPECT_EQ(buffer[4], static_cast<BYTE>(999 * 7));
}

TEST_F(PullPin, QueuedRequestsAreReadWhenCollected)
{
    ALLOCATOR_PROPERTIES props{2, 64, 1, 0};
    ComPtr<IMemAllocator> alloc;
    ASSERT_EQ(reader->RequestAllocator(nullptr, &props, alloc.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(alloc->Commit(), S_OK);
    ComPtr<IMediaSample> a, b;
    alloc->GetBuffer(a.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
    alloc->GetBuffer(b.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
    REFERENCE_TIME s0 = 0 * UNITS, e0 = 64 * UNITS, s1 = 980 * UNITS, e1 = 1040 * UNITS;
    a->SetTime(&s0, &e0);
    b->SetTime(&s1, &e1);
    ASSERT_EQ(reader->Request(a.Get(), 1), S_OK);
    ASSERT_EQ(reader->Request(b.Get(), 2), S_OK);
    IMediaSample *got = nullptr;
    DWORD_PTR user = 0;
    EXPECT_EQ(reader->WaitForNext(1000, &got, &user), S_OK);
    EXPECT_EQ(user, 1u);
    EXPECT_EQ(got->GetActualDataLength(), 64);
    got->Release();
    EXPECT_EQ(reader->WaitForNext(1000, &got, &user), S_FALSE);  // only 20 bytes were left
    EXPECT_EQ(got->GetActualDataLength(), 20);
    got->Release();
    EXPECT_EQ(reader->WaitForNext(10, &got, &user), VFW_E_TIMEOUT);
    alloc->Decommit();
}

TEST_F(PullPin, FlushReleasesASplitterThreadWaitingForData)
{
    auto waiter = std::async(std::launch::async, [&] {
        IMediaSample *got = nullptr;
        DWORD_PTR user = 0;
        return reader->WaitForNext(INFINITE, &got, &user);
    });
    EXPECT_EQ(waiter.wait_for(30ms), std::future_status::timeout);
    reader->BeginFlush();
    ASSERT_EQ(waiter.wait_for(kWait), std::future_status::ready);
    EXPECT_EQ(waiter.get(), VFW_E_WRONG_STATE);
    auto alloc = MakeCom<CMemAllocator>();
    ALLOCATOR_PROPERTIES props{1, 16, 1, 0}, got{};
    alloc->SetProperties(&props, &got);
    alloc->Commit();
    ComPtr<IMediaSample> s;
    alloc->GetBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
    REFERENCE_TIME t0 = 0, t1 = 16 * UNITS;
    s->SetTime(&t0, &t1);
    EXPECT_EQ(reader->Request(s.Get(), 0), VFW_E_WRONG_STATE);
    reader->EndFlush();
    EXPECT_EQ(reader->Request(s.Get(), 0), S_OK);
    IMediaSample *back = nullptr;
    DWORD_PTR user = 0;
    EXPECT_EQ(reader->WaitForNext(1000, &back, &user), S_OK);
    back->Release();
    s.Reset();
    alloc->Decommit();
}

} // namespace
