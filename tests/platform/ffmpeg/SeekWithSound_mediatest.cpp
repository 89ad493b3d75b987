// A seek in a running graph that has sound, as precise navigation makes it:
// the stage where the frame notifier stands swallows the pictures before
// the target while the audio renderer plays in real time. The splitter must
// keep the pictures coming: reaching the target must not wait for the sound
// in between to be heard.
#include "ClipMaker.h"
#include "FilterTestKit.h"

#include "platform/dshow/TransInPlace.h"
#include "platform/ffmpeg/FFmpegFilters.h"
#include "platform/ffmpeg/LavSplitter.h"
#include "platform/render/DSoundRender.h"

#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <condition_variable>

namespace {

using namespace std::chrono_literals;
using filtertest::Pin;

constexpr REFERENCE_TIME kFrame = 5000000;  // 2 frames a second
const CLSID CLSID_Swallower{0x7E57F0FF, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0x31}};

// Drops every picture before the armed target, as the frame notifier does
// with PassFrames cleared, and tells when the target came.
class Swallower : public CTransInPlaceFilter {
public:
    Swallower() : CTransInPlaceFilter(L"Swallower", CLSID_Swallower, false) {}
    HRESULT CheckInputType(const CMediaType *pmt) override
    {
        return pmt->Type() == MEDIATYPE_Video && pmt->Subtype() == MEDIASUBTYPE_I420 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT Transform(IMediaSample *s) override
    {
        BYTE *p = nullptr;
        s->GetPointer(&p);
        const int index = cliptest::IndexForLuma(p[0]);
        std::lock_guard lock(m_lock);
        if (m_target < 0)
            return S_OK;
        if (index < m_target)
            return S_FALSE;
        m_target = -1;
        m_reached.notify_all();
        return S_OK;
    }
    void Arm(int target)
    {
        std::lock_guard lock(m_lock);
        m_target = target;
    }
    bool WaitForTarget(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_lock);
        return m_reached.wait_for(lock, limit, [this] { return m_target < 0; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_reached;
    int m_target = -1;
};

TEST(SeekWithSound, TheSwallowedPicturesDoNotWaitForTheSound)
{
    RegisterFFmpegFilters();
    QTemporaryDir dir;
    cliptest::ClipSpec spec;
    spec.path = dir.filePath("long.mkv").toStdString();
    spec.frames = 29;  // the most a picture's luma can number
    spec.fps = AVRational{2, 1};
    spec.audio = true;
    ASSERT_TRUE(cliptest::MakeClip(spec));

    ComPtr<IBaseFilter> source = filtertest::Create(CLSID_LAVSplitterSource);
    const std::wstring wide(spec.path.begin(), spec.path.end());
    ASSERT_EQ(S_OK, ComQuery<IFileSourceFilter>(source)->Load(wide.c_str(), nullptr));
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     graph.ReleaseAndGetVoidAddress()));
    auto swallower = MakeCom<Swallower>();
    auto pictures = MakeCom<filtertest::KeepingSink>(MEDIASUBTYPE_I420);
    auto sound = MakeCom<CDSoundRender>(std::make_shared<AudioOutput>(false));
    for (auto [f, name] : {std::pair<IBaseFilter *, LPCWSTR>{source.Get(), L"Source"},
                           {swallower.Get(), L"Swallower"}, {pictures.Get(), L"Pictures"}, {sound.Get(), L"Sound"}})
        ASSERT_EQ(S_OK, graph->AddFilter(f, name));
    ASSERT_EQ(S_OK, graph->Connect(Pin(source.Get(), 0), swallower->InputPin()));
    ASSERT_EQ(S_OK, graph->Connect(swallower->OutputPin(), pictures->GetPin(0)));
    ASSERT_EQ(S_OK, graph->Connect(Pin(source.Get(), 1), sound->GetPin(0)));  // the sound renderer is the clock

    auto control = ComQuery<IMediaControl>(graph);
    auto seeking = ComQuery<IMediaSeeking>(graph);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    OAFilterState state = 0;
    ASSERT_EQ(S_OK, control->GetState(5000, &state));

    // Twelve and a half seconds of pictures to swallow after the key frame.
    swallower->Arm(25);
    LONGLONG from = 1 * kFrame;
    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(S_OK, seeking->SetPositions(&from, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame,
                                          nullptr, AM_SEEKING_NoPositioning));
    const bool reached = swallower->WaitForTarget(30s);
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_TRUE(reached);
    // About 10 ms (1 s under ThreadSanitizer); waiting for the sound: about 11 s.
    EXPECT_LT(took, 4s) << "the pictures waited for the sound";
    control->Stop();
}

} // namespace
