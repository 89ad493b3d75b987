// The video mixing renderer: what it accepts, the picture it composes
// (mirroring, colour key, opacity), the DIB it hands out, the host it
// presents to, and that it converts only what is shown or asked for.
#include "RenderTestKit.h"

#include "platform/dshow/FilterCatalogue.h"
#include "platform/render/RenderFilters.h"
#include "platform/render/Vmr9.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace rendertest;

namespace {

constexpr int W = 4, H = 2;

QRgb Pixel(int x, int y) { return qRgb(x * 60, y * 100 + 20, 7); }

// The W x H test picture as bottom-up X8R8G8B8 rows.
std::vector<BYTE> Rgb32Frame()
{
    std::vector<BYTE> bytes(W * H * 4);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            BYTE *p = &bytes[((H - 1 - y) * W + x) * 4];
            p[0] = BYTE(qBlue(Pixel(x, y)));
            p[1] = BYTE(qGreen(Pixel(x, y)));
            p[2] = BYTE(qRed(Pixel(x, y)));
            p[3] = 0;  // X8: not alpha
        }
    return bytes;
}

struct RecordingHost : IVMRClippingHost {
    void PresentImage(const QImage &picture, const RECT &pictureRect, const RECT &dest, COLORREF) override
    {
        std::lock_guard lock(m);
        pictures.push_back(picture);
        rects.push_back(pictureRect);
        dests.push_back(dest);
    }
    size_t Count()
    {
        std::lock_guard lock(m);
        return pictures.size();
    }
    std::mutex m;
    std::vector<QImage> pictures;
    std::vector<RECT> rects, dests;
};

class Vmr9Test : public ::testing::Test {
protected:
    void Connect(CMediaType type, LONG bufferSize = 4096)
    {
        source = MakeCom<PushSource>(std::move(type), bufferSize);
        ASSERT_EQ(source->pin.Connect(vmr->InputPin(), nullptr), S_OK);
        vmr->Pause();
        source->Pause();
        vmr->Run(0);  // no clock: each sample is presented as it comes
        source->Run(0);
    }
    void TearDown() override
    {
        vmr->Stop();
        if (source) {
            source->Stop();
            source->pin.Disconnect();  // connected pins hold each other's filters
            vmr->InputPin()->Disconnect();
        }
    }
    // The composed picture, read back from GetCurrentImage's DIB.
    QImage Current()
    {
        BYTE *dib = nullptr;
        if (vmr->GetCurrentImage(&dib) != S_OK)
            return {};
        BITMAPINFOHEADER h;
        std::memcpy(&h, dib, sizeof h);
        QImage img(h.biWidth, h.biHeight, QImage::Format_RGB32);
        for (int y = 0; y < h.biHeight; ++y)
            std::memcpy(img.scanLine(y), dib + h.biSize + size_t(h.biHeight - 1 - y) * h.biWidth * 4,
                        size_t(h.biWidth) * 4);
        CoTaskMemFree(dib);
        return img;
    }

    HRESULT Accepts(const CMediaType &mt) { return vmr->CheckMediaType(&mt); }

    ComPtr<CVideoMixingRenderer9> vmr = MakeCom<CVideoMixingRenderer9>();
    ComPtr<PushSource> source;
};

TEST_F(Vmr9Test, AcceptsUncompressedVideoOnly)
{
    EXPECT_EQ(Accepts(VideoType(MEDIASUBTYPE_RGB32, 8, 8, 32)), S_OK);
    EXPECT_EQ(Accepts(VideoType(MEDIASUBTYPE_RGB32, 8, -8, 32)), S_OK);
    for (const GUID &yuv : {MEDIASUBTYPE_I420, MEDIASUBTYPE_IYUV, MEDIASUBTYPE_YV12, MEDIASUBTYPE_NV12,
                            MEDIASUBTYPE_YUY2})
        EXPECT_EQ(Accepts(VideoType(yuv, 8, 8, 12)), S_OK);
    EXPECT_NE(Accepts(VideoType(MEDIASUBTYPE_RGB24, 8, 8, 24)), S_OK);
    EXPECT_NE(Accepts(VideoType(MEDIASUBTYPE_I420, 7, 8, 12)), S_OK);
    EXPECT_NE(Accepts(VideoType(MEDIASUBTYPE_H264, 8, 8, 24)), S_OK);
    EXPECT_NE(Accepts(PcmType(44100, 2)), S_OK);
    EXPECT_NE(Accepts(CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_RGB32, FORMAT_VideoInfo)), S_OK);
}

TEST_F(Vmr9Test, CurrentImageIsBottomUpPacked32BitDib)
{
    Connect(VideoType(MEDIASUBTYPE_RGB32, W, H, 32));
    BYTE *dib = nullptr;
    EXPECT_EQ(vmr->GetCurrentImage(&dib), E_FAIL);  // nothing shown yet
    ASSERT_EQ(source->Push(Rgb32Frame()), S_OK);
    ASSERT_EQ(vmr->GetCurrentImage(&dib), S_OK);
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib, sizeof h);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, W);
    EXPECT_EQ(h.biHeight, H);
    EXPECT_EQ(h.biBitCount, 32);
    EXPECT_EQ(h.biCompression, BI_RGB);
    EXPECT_EQ(h.biSizeImage, DWORD(W * H * 4));
    EXPECT_EQ(h.biClrUsed, 0u);
    // First row in the block is the picture's bottom row; bytes B, G, R.
    const BYTE *first = dib + 40;
    EXPECT_EQ(first[0], qBlue(Pixel(0, H - 1)));
    EXPECT_EQ(first[1], qGreen(Pixel(0, H - 1)));
    EXPECT_EQ(first[2], qRed(Pixel(0, H - 1)));
    CoTaskMemFree(dib);

    LONG w = 0, hgt = 0, ax = 0, ay = 0;
    EXPECT_EQ(vmr->GetNativeVideoSize(&w, &hgt, &ax, &ay), S_OK);
    EXPECT_EQ(w, W);
    EXPECT_EQ(hgt, H);
}

TEST_F(Vmr9Test, OutputRectMirrorsThePicture)
{
    Connect(VideoType(MEDIASUBTYPE_RGB32, W, H, 32));
    ASSERT_EQ(source->Push(Rgb32Frame()), S_OK);
    EXPECT_EQ(Current().pixel(1, 0), Pixel(1, 0));

    const VMR9NormalizedRect horizontal{1.f, 0.f, 0.f, 1.f};
    ASSERT_EQ(vmr->SetOutputRect(0, &horizontal), S_OK);
    QImage img = Current();
    for (int x = 0; x < W; ++x)
        EXPECT_EQ(img.pixel(x, 0), Pixel(W - 1 - x, 0)) << x;

    const VMR9NormalizedRect both{1.f, 1.f, 0.f, 0.f};
    ASSERT_EQ(vmr->SetOutputRect(0, &both), S_OK);
    img = Current();
    EXPECT_EQ(img.pixel(0, 0), Pixel(W - 1, H - 1));
    EXPECT_EQ(img.pixel(W - 1, H - 1), Pixel(0, 0));

    const VMR9NormalizedRect vertical{0.f, 1.f, 1.f, 0.f};
    ASSERT_EQ(vmr->SetOutputRect(0, &vertical), S_OK);
    img = Current();
    EXPECT_EQ(img.pixel(2, 0), Pixel(2, H - 1));

    const VMR9NormalizedRect empty{0.5f, 0.f, 0.5f, 1.f};
    EXPECT_EQ(vmr->SetOutputRect(0, &empty), E_INVALIDARG);
    EXPECT_EQ(vmr->SetOutputRect(1, &vertical), E_INVALIDARG);
}

TEST_F(Vmr9Test, AlphaBitmapIsColourKeyedAndBlendedWithItsOpacity)
{
    Connect(VideoType(MEDIASUBTYPE_RGB32, W, H, 32));
    ASSERT_EQ(source->Push(Rgb32Frame()), S_OK);
    // Left half the key colour (fuchsia), right half white.
    QImage overlay(W, H, QImage::Format_RGB32);
    overlay.fill(qRgb(255, 0, 255));
    for (int y = 0; y < H; ++y)
        for (int x = W / 2; x < W; ++x)
            overlay.setPixel(x, y, qRgb(255, 255, 255));
    VMR9AlphaBitmap bmp{};
    bmp.dwFlags = VMR9AlphaBitmap_hDC | VMR9AlphaBitmap_SrcColorKey | VMR9AlphaBitmap_FilterMode;
    bmp.hdc = &overlay;
    bmp.rSrc = RECT{0, 0, W, H};
    bmp.rDest = VMR9NormalizedRect{0.f, 0.f, 1.f, 1.f};
    bmp.fAlpha = 0.5f;
    bmp.clrSrcKey = 0x00FF00FF;  // COLORREF fuchsia
    bmp.dwFilterMode = MixerPref9_PointFiltering;
    ASSERT_EQ(vmr->SetAlphaBitmap(&bmp), S_OK);
    overlay.fill(Qt::black);  // copied at SetAlphaBitmap: later drawing does not show

    QImage img = Current();
    for (int y = 0; y < H; ++y) {
        EXPECT_EQ(img.pixel(0, y), Pixel(0, y));  // keyed out
        const QRgb v = Pixel(3, y), o = img.pixel(3, y);
        EXPECT_EQ(qRed(o), (255 + qRed(v) + 1) / 2);
        EXPECT_EQ(qGreen(o), (255 + qGreen(v) + 1) / 2);
        EXPECT_EQ(qBlue(o), (255 + qBlue(v) + 1) / 2);
    }

    bmp.fAlpha = 1.f;
    bmp.dwFlags = VMR9AlphaBitmap_hDC;  // no colour key: everything covers
    ASSERT_EQ(vmr->UpdateAlphaBitmapParameters(&bmp), S_OK);
    img = Current();
    EXPECT_EQ(img.pixel(0, 0), qRgb(255, 0, 255));
    EXPECT_EQ(img.pixel(3, 1), qRgb(255, 255, 255));

    bmp.dwFlags = VMR9AlphaBitmap_Disable;
    ASSERT_EQ(vmr->SetAlphaBitmap(&bmp), S_OK);
    EXPECT_EQ(Current().pixel(3, 1), Pixel(3, 1));

    bmp.dwFlags = VMR9AlphaBitmap_hDC;
    bmp.rSrc = RECT{0, 0, W + 1, H};  // outside the bitmap
    EXPECT_EQ(vmr->SetAlphaBitmap(&bmp), E_INVALIDARG);
}

TEST_F(Vmr9Test, ConvertsOnlyFramesThatAreShownOrAskedFor)
{
    Connect(VideoType(MEDIASUBTYPE_RGB32, W, H, 32));
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(source->Push(Rgb32Frame(), i * 400000, (i + 1) * 400000), S_OK);
    ASSERT_EQ(source->Push(Rgb32Frame(), 0, 400000, /*preroll=*/true), S_OK);
    int drawn = 0;
    EXPECT_EQ(vmr->get_FramesDrawn(&drawn), S_OK);
    EXPECT_EQ(drawn, 5);  // preroll is never presented
    EXPECT_EQ(vmr->ConversionCount(), 0);  // nowhere to show them

    EXPECT_FALSE(Current().isNull());
    EXPECT_FALSE(Current().isNull());
    const VMR9NormalizedRect mirrored{1.f, 0.f, 0.f, 1.f};
    vmr->SetOutputRect(0, &mirrored);
    EXPECT_FALSE(Current().isNull());
    EXPECT_EQ(vmr->ConversionCount(), 1);  // the mixer works from the converted frame

    RecordingHost host;
    const HWND hwnd = RegisterClippingHost(&host);
    ASSERT_EQ(vmr->SetVideoClippingWindow(hwnd), S_OK);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(source->Push(Rgb32Frame()), S_OK);
    EXPECT_EQ(vmr->ConversionCount(), 4);
    EXPECT_EQ(host.Count(), 3u);
    vmr->SetVideoClippingWindow(0);
    UnregisterClippingHost(hwnd);
}

TEST_F(Vmr9Test, PresentsToTheHostInItsRectangle)
{
    Connect(VideoType(MEDIASUBTYPE_RGB32, 4, 4, 32), 4096);
    RecordingHost host;
    const HWND hwnd = RegisterClippingHost(&host);
    EXPECT_EQ(vmr->SetVideoClippingWindow(hwnd + 1000), E_INVALIDARG);
    ASSERT_EQ(vmr->SetVideoClippingWindow(hwnd), S_OK);
    const RECT dest{0, 0, 200, 100};
    ASSERT_EQ(vmr->SetVideoPosition(nullptr, &dest), S_OK);
    ASSERT_EQ(vmr->RepaintVideo(hwnd, nullptr), S_OK);
    ASSERT_EQ(host.Count(), 1u);
    EXPECT_TRUE(host.pictures[0].isNull());  // no video yet: the host paints the border

    std::vector<BYTE> frame(4 * 4 * 4, 0x80);
    ASSERT_EQ(source->Push(frame), S_OK);
    ASSERT_EQ(host.Count(), 2u);
    EXPECT_EQ(host.pictures[1].size(), QSize(4, 4));
    EXPECT_EQ(host.rects[1].right, 200);

    ASSERT_EQ(vmr->SetAspectRatioMode(VMR9ARMode_LetterBox), S_OK);
    ASSERT_EQ(vmr->DisplayModeChanged(), S_OK);
    ASSERT_EQ(host.Count(), 3u);
    EXPECT_EQ(host.rects[2].left, 50);  // a square picture in 200 x 100
    EXPECT_EQ(host.rects[2].right, 150);
    EXPECT_EQ(host.dests[2].right, 200);

    UnregisterClippingHost(hwnd);
    EXPECT_EQ(source->Push(frame), S_OK);  // a host gone is not called
    EXPECT_EQ(host.Count(), 3u);
}

TEST_F(Vmr9Test, ShortSampleIsNotKept)
{
    Connect(VideoType(MEDIASUBTYPE_RGB32, W, H, 32));
    ASSERT_EQ(source->Push(std::vector<BYTE>(W * H * 4 - 1, 0)), S_OK);
    BYTE *dib = nullptr;
    EXPECT_EQ(vmr->GetCurrentImage(&dib), E_FAIL);
    ASSERT_EQ(source->Push(Rgb32Frame()), S_OK);
    ASSERT_EQ(source->Push(std::vector<BYTE>(8, 0)), S_OK);
    EXPECT_EQ(Current().pixel(1, 1), Pixel(1, 1));  // the last whole frame stays
}

// The last frame's sample is kept rather than copied while streaming; it
// goes back to its allocator when streaming stops, and the picture stays.
TEST_F(Vmr9Test, KeptSampleGoesBackAtStopAndThePictureStays)
{
    Connect(VideoType(MEDIASUBTYPE_RGB32, W, H, 32));
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(source->Push(Rgb32Frame()), S_OK);  // never more than one kept
    IMemAllocator *allocator = source->pin.Allocator();
    std::vector<ComPtr<IMediaSample>> taken(2);
    for (auto &sample : taken)
        ASSERT_EQ(allocator->GetBuffer(sample.ReleaseAndGetAddressOf(), nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    ComPtr<IMediaSample> third;
    EXPECT_EQ(allocator->GetBuffer(third.ReleaseAndGetAddressOf(), nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    vmr->Stop();  // decommits the allocator; a buffer still out stays out
    taken.clear();
    ASSERT_EQ(allocator->Commit(), S_OK);
    taken.resize(3);
    for (auto &sample : taken) {
        ASSERT_EQ(allocator->GetBuffer(sample.ReleaseAndGetAddressOf(), nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
        BYTE *p = nullptr;
        sample->GetPointer(&p);
        std::memset(p, 0, size_t(sample->GetSize()));  // the renderer must not be reading it
    }
    EXPECT_EQ(Current().pixel(1, 1), Pixel(1, 1));
}

TEST_F(Vmr9Test, TypeChangeKeepsTheShownFrameReadable)
{
    Connect(VideoType(MEDIASUBTYPE_RGB32, W, H, 32));
    ASSERT_EQ(source->Push(Rgb32Frame()), S_OK);
    const CMediaType bigger = VideoType(MEDIASUBTYPE_I420, 64, 64, 12);
    ASSERT_EQ(vmr->SetMediaType(&bigger), S_OK);  // as a sample carrying a new type does
    EXPECT_EQ(Current().pixel(2, 1), Pixel(2, 1));
}

// A red picture in each YUV layout comes out red: planes are where the
// layout says (a swapped U and V would make it blue).
TEST_F(Vmr9Test, YuvLayoutsConvertToTheSameColour)
{
    const BYTE Y = 81, U = 90, V = 240;  // BT.601 red
    struct Case {
        GUID subtype;
        std::vector<BYTE> bytes;
    };
    const int w = 4, h = 2;
    std::vector<BYTE> i420(w * h, Y), yv12(w * h, Y), nv12(w * h, Y), yuy2;
    for (int i = 0; i < w / 2 * h / 2; ++i) {
        i420.push_back(U);
        yv12.push_back(V);
    }
    for (int i = 0; i < w / 2 * h / 2; ++i) {
        i420.push_back(V);
        yv12.push_back(U);
        nv12.push_back(U);
        nv12.push_back(V);
    }
    for (int i = 0; i < w / 2 * h; ++i)
        yuy2.insert(yuy2.end(), {Y, U, Y, V});
    for (const Case &c : {Case{MEDIASUBTYPE_I420, i420}, Case{MEDIASUBTYPE_YV12, yv12},
                          Case{MEDIASUBTYPE_NV12, nv12}, Case{MEDIASUBTYPE_YUY2, yuy2}}) {
        vmr = MakeCom<CVideoMixingRenderer9>();
        Connect(VideoType(c.subtype, w, h, c.subtype == MEDIASUBTYPE_YUY2 ? 16 : 12));
        ASSERT_EQ(source->Push(c.bytes), S_OK);
        const QRgb px = Current().pixel(1, 1);
        EXPECT_GT(qRed(px), 220) << GuidName(c.subtype);
        EXPECT_LT(qGreen(px), 40) << GuidName(c.subtype);
        EXPECT_LT(qBlue(px), 40) << GuidName(c.subtype);
        TearDown();
    }
}

// A decoder's padded buffer: rows wider than the picture and more rows than
// it shows (VIDEOINFOHEADER2 with rcSource); the chroma planes follow the
// padded rows, and the picture aspect comes from the format.
TEST_F(Vmr9Test, PaddedYuvBufferShowsItsVisiblePart)
{
    VIDEOINFOHEADER2 vih2{};
    vih2.rcSource = RECT{0, 0, 6, 2};
    vih2.dwPictAspectRatioX = 16;
    vih2.dwPictAspectRatioY = 9;
    vih2.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih2.bmiHeader.biWidth = 8;
    vih2.bmiHeader.biHeight = 4;
    vih2.bmiHeader.biBitCount = 12;
    vih2.bmiHeader.biCompression = MEDIASUBTYPE_I420.Data1;
    CMediaType mt(MEDIATYPE_Video, MEDIASUBTYPE_I420, FORMAT_VideoInfo2);
    mt.SetFormat(vih2);
    Connect(mt);
    std::vector<BYTE> frame(8 * 4, 81);              // Y
    frame.insert(frame.end(), 4 * 2, 90);            // U
    frame.insert(frame.end(), 4 * 2, 240);           // V
    ASSERT_EQ(source->Push(frame), S_OK);
    LONG w = 0, h = 0, ax = 0, ay = 0;
    ASSERT_EQ(vmr->GetNativeVideoSize(&w, &h, &ax, &ay), S_OK);
    EXPECT_EQ(w, 6);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(ax, 16);
    EXPECT_EQ(ay, 9);
    const QImage img = Current();
    ASSERT_EQ(img.size(), QSize(6, 2));
    EXPECT_GT(qRed(img.pixel(5, 1)), 220);
    EXPECT_LT(qBlue(img.pixel(5, 1)), 40);
}

TEST(RenderFilters, RegisteredByClassAndName)
{
    RegisterRenderFilters();
    FilterRegistration r;
    ASSERT_TRUE(FindFilterRegistration(CLSID_VideoMixingRenderer9, &r));
    EXPECT_EQ(r.name, L"Video Mixing Renderer 9");
    ASSERT_TRUE(FindFilterRegistration(CLSID_DSoundRender, &r));
    EXPECT_EQ(r.name, L"DirectSound Audio Renderer");

    // What the windowless manager asks for, in its order.
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               filter.ReleaseAndGetVoidAddress()),
              S_OK);
    auto config = ComQuery<IVMRFilterConfig9>(filter);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->SetRenderingMode(VMR9Mode_Windowless), S_OK);
    EXPECT_EQ(config->SetNumberOfStreams(4), S_OK);
    EXPECT_TRUE(ComQuery<IVMRWindowlessControl9>(filter));
    EXPECT_TRUE(ComQuery<IVMRMixerControl9>(filter));
    EXPECT_TRUE(ComQuery<IVMRMixerBitmap9>(filter));
    EXPECT_TRUE(ComQuery<IVMRMonitorConfig9>(filter));
    EXPECT_TRUE(ComQuery<IVMRDeinterlaceControl9>(filter));
    EXPECT_TRUE(ComQuery<IQualProp>(filter));
    auto monitors = ComQuery<IVMRMonitorConfig9>(filter);
    EXPECT_EQ(monitors->SetMonitor(0), S_OK);
    EXPECT_EQ(monitors->SetMonitor(99), E_INVALIDARG);

    ComPtr<IBaseFilter> audio;
    ASSERT_EQ(CoCreateInstance(CLSID_DSoundRender, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               audio.ReleaseAndGetVoidAddress()),
              S_OK);
    EXPECT_TRUE(ComQuery<IBasicAudio>(audio));
    EXPECT_TRUE(ComQuery<IReferenceClock>(audio));
}

} // namespace
