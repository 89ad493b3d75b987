// The windowless renderer manager with the real renderer in a real graph,
// fed by a push source, drawing into real widgets on the offscreen
// platform: where the picture and its borders land, full screen, the
// preview window, flips, the inlay as the grab sees it, the BMP stream of
// the grab, and a host that goes away while frames arrive.
//
// Pictures for a person to look at go to the test-artifacts folder.
#include "KWPack/uWindowLessMan.h"

#include "platform/render/RenderTestKit.h"

#include "common/TestSupport.h"
#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/render/RenderFilters.h"
#include "platform/render/WidgetClippingHost.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QSet>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

using namespace rendertest;

// Qt's raster engine hands large drawings to its own pool of threads and
// synchronises them with futexes that ThreadSanitizer cannot see; what it
// then reports are Qt's own allocations and copies. Qt is not instrumented
// anyway: only its calls into the sanitizer's interceptors are ignored, our
// code stays checked.
extern "C" const char *__tsan_default_suppressions()
{
    return "called_from_lib:libQt6Gui.so\ncalled_from_lib:libQt6Core.so\n";
}

namespace {

const QColor kHostColour(40, 60, 90);
const QRgb kTopLeft = qRgb(220, 30, 30), kTopRight = qRgb(30, 200, 40), kBottomLeft = qRgb(30, 40, 220),
           kBottomRight = qRgb(235, 235, 235);

// Four flat quadrants, so mirrors and scaling can be told apart.
QImage Quadrants(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.fillRect(0, 0, w / 2, h / 2, QColor(kTopLeft));
    p.fillRect(w / 2, 0, w - w / 2, h / 2, QColor(kTopRight));
    p.fillRect(0, h / 2, w / 2, h - h / 2, QColor(kBottomLeft));
    p.fillRect(w / 2, h / 2, w - w / 2, h - h / 2, QColor(kBottomRight));
    return img;
}

// The bottom-up X8R8G8B8 rows an RGB32 sample carries.
std::vector<BYTE> BottomUp(const QImage &img)
{
    const size_t row = size_t(img.width()) * 4;
    std::vector<BYTE> bytes(row * size_t(img.height()));
    for (int y = 0; y < img.height(); ++y)
        std::memcpy(&bytes[size_t(img.height() - 1 - y) * row], img.constScanLine(y), row);
    return bytes;
}

// The offscreen platform cannot raise windows and says so each time.
void QuietRaise(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!text.contains(QLatin1String("does not support raise()")))
        qt_message_output(type, context, text);
}

void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    do
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    while (t.elapsed() < ms);
}

template <class Pred>
bool PumpUntil(Pred done, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

void Save(const QImage &img, const QString &name)
{
    EXPECT_TRUE(img.save(QDir(TestArtifactsDir()).filePath(name))) << name.toStdString();
}

QImage Shown(QWidget *w) { return w->grab().toImage().convertToFormat(QImage::Format_RGB32); }

QRgb Rgb(TColor c) { return ColorToQColor(c).rgb(); }

class WindowLessManTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RegisterRenderFilters();
        qInstallMessageHandler(QuietRaise);
    }

    void SetUp() override
    {
        form = std::make_unique<QWidget>();
        form->resize(660, 500);
        host = new QWidget(form.get());
        host->setGeometry(10, 10, 640, 480);
        host->setAutoFillBackground(true);
        QPalette pal = host->palette();
        pal.setColor(host->backgroundRole(), kHostColour);
        host->setPalette(pal);
        form->show();
        man = TKWActionComponent::New<TWindowLessMan>(form.get());
        ASSERT_TRUE(man->RendererPin);
        ASSERT_EQ(CreateFilterGraph(IID_IGraphBuilder, graph.ReleaseAndGetVoidAddress()), S_OK);
        ComQuery<IMediaFilter>(graph)->SetSyncSource(nullptr);  // present each frame as it comes
        man->Setwindow(host);
        man->SetGraph(graph.Get());
    }

    void TearDown() override
    {
        if (auto control = ComQuery<IMediaControl>(graph))
            control->Stop();
        if (source) {
            graph->Disconnect(&source->pin);
            graph->Disconnect(man->RendererPin.Get());
            graph->RemoveFilter(source.Get());
        }
        delete man;
        graph.Reset();
        form.reset();
    }

    // A running source of w x h RGB32 frames connected to the renderer.
    void Connect(int w, int h)
    {
        source = MakeCom<PushSource>(VideoType(MEDIASUBTYPE_RGB32, w, h, 32), w * h * 4);
        ASSERT_EQ(graph->AddFilter(source.Get(), L"Push"), S_OK);
        ASSERT_EQ(graph->ConnectDirect(&source->pin, man->RendererPin.Get(), nullptr), S_OK);
        ComQuery<IMediaControl>(graph)->Run();
    }

    void Show(const QImage &picture) { ASSERT_EQ(source->Push(BottomUp(picture)), S_OK); }

    QImage Grab()
    {
        QImage img;
        EXPECT_TRUE(man->GrabCurrentImage(img));
        return img.convertToFormat(QImage::Format_RGB32);
    }

    std::unique_ptr<QWidget> form;
    QWidget *host = nullptr;
    TWindowLessMan *man = nullptr;
    ComPtr<IGraphBuilder> graph;
    ComPtr<PushSource> source;
};

// ---- geometry ------------------------------------------------------------------

TEST(WindowLessManFit, FitsTheAspectInsideTheBorderCentred)
{
    const TRect host{0, 0, 640, 480};
    EXPECT_EQ(TWindowLessMan::FitRect(16, 9, host, 8), (TRect{8, 64, 632, 415}));  // 113 spare rows, 56 above
    EXPECT_EQ(TWindowLessMan::FitRect(0, 0, host, 8), (TRect{8, 8, 632, 472}));
    EXPECT_EQ(TWindowLessMan::FitRect(4, 0, host, 8), (TRect{8, 8, 632, 472}));
    // A tall box: the width limits, the picture is centred across.
    EXPECT_EQ(TWindowLessMan::FitRect(4, 3, TRect{0, 0, 1000, 480}, 0), (TRect{180, 0, 820, 480}));
    // Relative to the outer rectangle's corner.
    EXPECT_EQ(TWindowLessMan::FitRect(16, 9, TRect{100, 50, 740, 530}, 8), (TRect{8, 64, 632, 415}));
}

TEST_F(WindowLessManTest, PictureBordersAndLetterboxLandWhereTheyShould)
{
    man->iaWinBorderWidth->SetValue(8);
    man->iaBorderColor->SetValue(clSilver);
    man->SetAspect(16, 9);
    EXPECT_EQ(man->WindowDest, (TRect{8, 64, 632, 415}));
    Connect(160, 90);
    Show(Quadrants(160, 90));

    const QImage shot = Shown(host);
    Save(shot, QStringLiteral("windowless-letterbox.png"));
    ASSERT_EQ(shot.size(), QSize(640, 480));
    const QRgb own = kHostColour.rgb(), border = Rgb(clSilver);
    // Host colour outside the grown picture, border colour in the 8-pixel
    // frame, the picture inside.
    EXPECT_EQ(shot.pixel(320, 30), own);
    EXPECT_EQ(shot.pixel(320, 479), own);
    EXPECT_EQ(shot.pixel(3, 40), own);
    EXPECT_EQ(shot.pixel(320, 56), border);
    EXPECT_EQ(shot.pixel(320, 63), border);
    EXPECT_EQ(shot.pixel(320, 415), border);
    EXPECT_EQ(shot.pixel(320, 422), border);
    EXPECT_EQ(shot.pixel(320, 423), own);
    EXPECT_EQ(shot.pixel(0, 200), border);
    EXPECT_EQ(shot.pixel(639, 200), border);
    EXPECT_EQ(shot.pixel(8, 64), kTopLeft);
    EXPECT_EQ(shot.pixel(620, 100), kTopRight);
    EXPECT_EQ(shot.pixel(20, 400), kBottomLeft);
    EXPECT_EQ(shot.pixel(631, 414), kBottomRight);

    // The host follows a resize: the picture refits.
    host->resize(400, 400);
    EXPECT_EQ(man->WindowDest, (TRect{8, 92, 392, 308}));  // 216 rows of 384, 84 above
    EXPECT_EQ(Shown(host).pixel(200, 88), border);
    EXPECT_EQ(Shown(host).pixel(200, 80), own);

    // No aspect: the picture fills the host minus the border.
    man->SetAspect(0, 0);
    EXPECT_EQ(man->WindowDest, (TRect{8, 8, 392, 392}));
    EXPECT_EQ(Shown(host).pixel(10, 10), kTopLeft);

    man->ClearHost();
    EXPECT_EQ(Shown(host).pixel(200, 200), own);
}

// ---- flips ---------------------------------------------------------------------

TEST_F(WindowLessManTest, FlipsMirrorTheShownAndGrabbedPicture)
{
    man->SetAspect(16, 9);
    Connect(160, 90);
    Show(Quadrants(160, 90));
    QImage g = Grab();
    EXPECT_EQ(g.pixel(10, 10), kTopLeft);

    man->caFlipHorizontal->SetChecked(true);
    g = Grab();
    EXPECT_EQ(g.pixel(10, 10), kTopRight);
    EXPECT_EQ(g.pixel(150, 80), kBottomLeft);
    EXPECT_EQ(man->caFlipHorizontal->Hint(), QStringLiteral("Disable Horizontal Flip"));

    man->caFlipVertical->SetChecked(true);
    g = Grab();
    EXPECT_EQ(g.pixel(10, 10), kBottomRight);
    const QImage shot = Shown(host);
    Save(shot, QStringLiteral("windowless-flipped.png"));
    EXPECT_EQ(shot.pixel(20, 80), kBottomRight);

    man->caFlipHorizontal->SetChecked(false);
    EXPECT_EQ(Grab().pixel(10, 10), kBottomLeft);
    man->caFlipVertical->SetChecked(false);
    EXPECT_EQ(Grab().pixel(10, 10), kTopLeft);
}

// ---- full screen and the preview window ------------------------------------------

TEST_F(WindowLessManTest, FullScreenCoversTheHostsMonitorEdgeToEdge)
{
    const QRect monitor = host->screen()->geometry();
    man->iaFullBorderWidth->SetValue(0);
    man->iaBackColor->SetValue(clBlack);
    man->iaTimerInterval->SetValue(0);
    man->SetAspect(16, 9);
    Connect(160, 90);
    Show(Quadrants(160, 90));

    man->caFullscreen->SetChecked(true);
    TFullScreenForm *fs = man->FullScreenForm;
    ASSERT_TRUE(fs->isVisible());
    EXPECT_EQ(fs->geometry(), monitor);
    EXPECT_FALSE(fs->QuitPanel->isVisible());  // interval 0: never shown
    // 16:9 is wider than the monitor: edge to edge across, centred down.
    EXPECT_EQ(man->FullDest.Left, 0);
    EXPECT_EQ(man->FullDest.Right, monitor.width());
    const int h = monitor.width() * 9 / 16;
    EXPECT_EQ(man->FullDest.Top, (monitor.height() - h) / 2);
    EXPECT_EQ(man->FullDest.Bottom - man->FullDest.Top, h);

    // A border: the shape behind the picture, the back colour around it.
    man->iaFullBorderWidth->SetValue(16);
    man->iaBorderColor->SetValue(clSilver);
    Show(Quadrants(160, 90));
    const QImage shot = Shown(fs);
    Save(shot, QStringLiteral("windowless-fullscreen.png"));
    const TRect d = man->FullDest;
    EXPECT_EQ(d.Left, 16);
    EXPECT_EQ(shot.pixel(monitor.width() / 2, 2), Rgb(clBlack));
    EXPECT_EQ(shot.pixel(monitor.width() / 2, d.Top - 8), Rgb(clSilver));
    EXPECT_EQ(shot.pixel(8, monitor.height() / 2), Rgb(clSilver));
    EXPECT_EQ(shot.pixel(d.Left + 5, d.Top + 5), kTopLeft);
    EXPECT_EQ(man->caFullscreen->Hint(), QStringLiteral("Quit fullscreen"));

    man->caFullscreen->SetChecked(false);
    EXPECT_FALSE(fs->isVisible());
    EXPECT_EQ(Shown(host).pixel(man->WindowDest.Left + 5, man->WindowDest.Top + 5), kTopLeft);
}

TEST_F(WindowLessManTest, QuitPanelShowsUntilItsTimerFires)
{
    man->iaTimerInterval->SetValue(80);
    man->caFullscreen->SetChecked(true);
    QLabel *panel = man->FullScreenForm->QuitPanel;
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->text(), QStringLiteral("Alt+Enter to exit from Full Screen mode"));
    Save(Shown(man->FullScreenForm), QStringLiteral("windowless-fullscreen-quit.png"));
    EXPECT_TRUE(PumpUntil([&] { return !panel->isVisible(); }));
    EXPECT_FALSE(man->QuitTimer->isActive());
    man->caFullscreen->SetChecked(false);
}

TEST_F(WindowLessManTest, PreviewWindowTakesThePictureUntilItCloses)
{
    man->raPreviewSave->SetValue(TRect{30, 40, 350, 280});
    Connect(160, 90);
    Show(Quadrants(160, 90));
    man->caPreviewForm->SetChecked(true);
    QWidget *preview = man->PreviewForm;
    ASSERT_TRUE(preview->isVisible());
    EXPECT_EQ(man->Host, preview);
    EXPECT_EQ(preview->size(), QSize(320, 240));
    Show(Quadrants(160, 90));
    EXPECT_EQ(Shown(preview).pixel(man->WindowDest.Left + 3, man->WindowDest.Top + 3), kTopLeft);

    preview->setGeometry(60, 70, 320, 240);
    preview->close();
    EXPECT_FALSE(man->caPreviewForm->Checked());
    EXPECT_FALSE(man->Detached);
    EXPECT_EQ(man->Host, host);
    EXPECT_EQ(man->PreviewBounds, (TRect{60, 70, 380, 310}));
}

// ---- the inlay -----------------------------------------------------------------

TEST_F(WindowLessManTest, InlayLinesArePlacedFromThePositionAndAlignment)
{
    Connect(720, 576);
    Show(Quadrants(720, 576));
    man->SetAutoFontSize(true);
    man->caInsertTextOn->SetChecked(true);
    EXPECT_EQ(man->OverlayFont.Size, 20);  // 720 / 36 against 576 / 28
    EXPECT_EQ(man->OverlayBitmap.size(), QSize(720, 576));

    man->SetInsertBorderWidth(3);
    man->SetInsertAlignLines(taLeftJustify);
    man->SetInsertPosition(TPoint{5000, 8200});
    man->InlayLines[1].Text = QStringLiteral("second line");
    man->InlayLines[1].Enabled = true;
    const QFontMetrics fm(man->OverlayQFont());
    QList<TInlayPlacement> at = man->PlaceInlayLines(720, 576);
    ASSERT_EQ(at.size(), 2);
    EXPECT_EQ(at[0].At, QPoint(360 + 3, 472 + 3));
    EXPECT_EQ(at[1].At, QPoint(360 + 3, 472 + 3 + fm.height()));  // stacked below

    man->SetInsertAlignLines(taCenter);
    at = man->PlaceInlayLines(720, 576);
    EXPECT_EQ(at[0].At.x(), 360 - fm.horizontalAdvance(man->InlayLines[0].Text) / 2 + 3);
    man->SetInsertAlignLines(taRightJustify);
    at = man->PlaceInlayLines(720, 576);
    EXPECT_EQ(at[1].At.x(), 360 - fm.horizontalAdvance(QStringLiteral("second line")) + 3);

    man->InlayLines[0].Enabled = false;
    at = man->PlaceInlayLines(720, 576);
    ASSERT_EQ(at.size(), 1);
    EXPECT_EQ(at[0].At.y(), 472 + 3);  // a stacked line after none starts at the origin
}

// The overlay as the mixer shows it: the key colour disappears, letters and
// outline cover the picture with the inlay's opacity.
TEST_F(WindowLessManTest, InlayIsKeyedAndBlendedInTheGrab)
{
    Connect(720, 576);
    const QImage video = Quadrants(720, 576);
    Show(video);
    TFont font;
    font.Name = QStringLiteral("Arial");
    font.Size = 28;
    font.Color = clYellow;
    font.Style = fsBold;
    man->faInsertFont->SetValue(font);
    man->iaInsertBorderWidth->SetValue(2);
    man->iaInsertBorderColor->SetValue(clBlack);
    man->iaInsertAlignLines->SetValue(taCenter);
    man->InlayLines[0].Text = QStringLiteral("Vidstill 0:01:02:03");
    man->caInsertTextOn->SetChecked(true);

    const QImage overlay = man->OverlayBitmap.convertToFormat(QImage::Format_RGB32);
    const QRgb key = Rgb(clFuchsia), yellow = Rgb(clYellow), black = Rgb(clBlack);
    QImage g = Grab();
    ASSERT_EQ(g.size(), overlay.size());
    int letters = 0, outline = 0;
    for (int y = 0; y < g.height(); ++y)
        for (int x = 0; x < g.width(); ++x) {
            const QRgb o = overlay.pixel(x, y);
            ASSERT_NE(g.pixel(x, y), key) << x << "," << y;
            if (o == key) {
                ASSERT_EQ(g.pixel(x, y), video.pixel(x, y)) << x << "," << y;
            }
            letters += o == yellow;
            outline += o == black;
            if (o == yellow) {
                ASSERT_EQ(g.pixel(x, y), yellow);
            }
        }
    EXPECT_GT(letters, 200);
    EXPECT_GT(outline, 200);
    Save(Shown(host), QStringLiteral("windowless-inlay.png"));
    Save(g.copy(160, 440, 400, 90).scaled(1200, 270), QStringLiteral("windowless-inlay-zoom.png"));

    man->daInsertTransparency->SetValue(0.5);
    g = Grab();
    for (int y = 0; y < g.height(); ++y)
        for (int x = 0; x < g.width(); ++x)
            if (overlay.pixel(x, y) == yellow) {
                const QRgb v = video.pixel(x, y);
                ASSERT_NEAR(qRed(g.pixel(x, y)), (255 + qRed(v)) / 2.0, 1.0);
                ASSERT_NEAR(qBlue(g.pixel(x, y)), qBlue(v) / 2.0, 1.0);
            }

    man->caInsertTextOn->SetChecked(false);
    EXPECT_EQ(Grab(), video);
}

// Smoothing belongs to the inlay's drawing alone, and only over an outline
// (over the key colour, smoothed edges would leave a fringe of it).
TEST_F(WindowLessManTest, AntialiasingSmoothsOnlyOutlinedLetters)
{
    Connect(320, 240);
    Show(Quadrants(320, 240));
    const auto colours = [&] {
        QSet<QRgb> seen;
        const QImage o = man->OverlayBitmap.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < o.height(); ++y)
            for (int x = 0; x < o.width(); ++x)
                seen.insert(o.pixel(x, y));
        return seen.size();
    };
    man->SetInsertPosition(TPoint{500, 500});
    man->caInsertTextOn->SetChecked(true);
    man->caInsertAntiAliasing->SetChecked(true);
    EXPECT_GT(colours(), 3);
    man->caInsertAntiAliasing->SetChecked(false);
    EXPECT_EQ(colours(), 3);  // key, outline, letters
    man->SetInsertBorderWidth(0);
    man->caInsertAntiAliasing->SetChecked(true);
    EXPECT_EQ(colours(), 2);
}

TEST_F(WindowLessManTest, RefreshRecordsTheFramesDrawnAndMessagesReport)
{
    Connect(32, 18);
    for (int i = 0; i < 3; ++i)
        Show(Quadrants(32, 18));
    EXPECT_EQ(man->FramesDrawn(), 3);
    man->RefreshInlay();
    EXPECT_EQ(man->FramesDrawnMark, 3);

    int drawn = -1;
    SendMessage(man->MessageWindow(), TWindowLessMan::WM_VIDEO_FRAMESDRAWN, 0, reinterpret_cast<LPARAM>(&drawn));
    EXPECT_EQ(drawn, 3);
    QImage bitmap;
    EXPECT_EQ(SendMessage(man->MessageWindow(), TWindowLessMan::WM_VIDEO_GRAB, reinterpret_cast<WPARAM>(&bitmap), 0),
              1);
    EXPECT_EQ(bitmap.size(), QSize(32, 18));
    EXPECT_EQ(SendMessage(man->MessageWindow(), TWindowLessMan::WM_VIDEO_GRAB, 0, 0), 0);

    CLSID id{};
    EXPECT_EQ(man->GetClassID(&id), S_OK);
    EXPECT_EQ(GuidToString(id), "{E437A53D-02A2-4A7D-B46C-F75A5D39C4E3}");
}

TEST_F(WindowLessManTest, RendererMovesBetweenGraphsUnderItsName)
{
    ComPtr<IBaseFilter> found;
    ASSERT_EQ(graph->FindFilterByName(L"KW VideoWindow", found.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_TRUE(IsEqualObject(found.Get(), man->Renderer.Get()));
    ComPtr<IGraphBuilder> other;
    ASSERT_EQ(CreateFilterGraph(IID_IGraphBuilder, other.ReleaseAndGetVoidAddress()), S_OK);
    man->SetGraph(other.Get());
    EXPECT_EQ(graph->FindFilterByName(L"KW VideoWindow", found.ReleaseAndGetAddressOf()), VFW_E_NOT_FOUND);
    EXPECT_EQ(other->FindFilterByName(L"KW VideoWindow", found.ReleaseAndGetAddressOf()), S_OK);
    man->SetGraph(nullptr);
    EXPECT_EQ(other->FindFilterByName(L"KW VideoWindow", found.ReleaseAndGetAddressOf()), VFW_E_NOT_FOUND);
    man->SetGraph(graph.Get());

    man->caKeepAspectRatio->SetChecked(true);
    DWORD mode = 0;
    ASSERT_EQ(ComQuery<IVMRAspectRatioControl9>(man->Renderer)->GetAspectRatioMode(&mode), S_OK);
    EXPECT_EQ(mode, DWORD(VMR9ARMode_LetterBox));
}

// ---- the grab ------------------------------------------------------------------

TEST_F(WindowLessManTest, GrabFailsWithoutAPictureAndLeavesTheBitmap)
{
    QImage bitmap(3, 3, QImage::Format_RGB32);
    bitmap.fill(Qt::green);
    EXPECT_FALSE(man->GrabCurrentImage(bitmap));  // connected to nothing yet
    EXPECT_EQ(bitmap.size(), QSize(3, 3));
    EXPECT_EQ(bitmap.pixel(1, 1), qRgb(0, 255, 0));

    Connect(160, 90);
    Show(Quadrants(160, 90));
    ASSERT_TRUE(man->GrabCurrentImage(bitmap));
    EXPECT_EQ(bitmap.convertToFormat(QImage::Format_RGB32), Quadrants(160, 90));
}

TEST(WindowLessManNoRenderer, EveryOperationStillAnswers)
{
    RegisterRenderFilters();
    UnregisterFilter(CLSID_VideoMixingRenderer9);
    QWidget form;
    auto *host = new QWidget(&form);
    host->resize(100, 80);
    auto *man = TKWActionComponent::New<TWindowLessMan>(&form);
    RegisterRenderFilters();
    EXPECT_FALSE(man->Renderer);
    EXPECT_FALSE(man->WindowlessControl);
    man->Setwindow(host);
    man->SetAspect(4, 3);
    man->caFlipVertical->SetChecked(true);
    man->caInsertTextOn->SetChecked(true);
    man->RefreshInlay();
    man->RepaintAll();
    man->caFullscreen->SetChecked(true);
    man->caFullscreen->SetChecked(false);
    EXPECT_EQ(man->FramesDrawn(), 0);
    QImage bitmap(2, 2, QImage::Format_RGB32);
    bitmap.fill(Qt::red);
    EXPECT_FALSE(man->GrabCurrentImage(bitmap));
    EXPECT_EQ(bitmap.pixel(0, 0), qRgb(255, 0, 0));
}

namespace {

struct Dib {
    BITMAPINFOHEADER h{};
    std::vector<BYTE> bytes;  // header, table, pixels
    void Build(const std::vector<uint32_t> &table, const std::vector<BYTE> &pixels)
    {
        bytes.resize(sizeof h);
        std::memcpy(bytes.data(), &h, sizeof h);
        for (uint32_t c : table)
            for (int i = 0; i < 4; ++i)
                bytes.push_back(BYTE(c >> (8 * i)));
        bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    }
};

uint32_t Field(const QByteArray &s, int at, int size)
{
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = (v << 8) | uint8_t(s[at + i]);
    return v;
}

} // namespace

TEST(WindowLessManBmp, StreamHeaderCountsTheTableThePixelsNeed)
{
    // 32 bits, no table: 14 + 40 + pixels. biSizeImage 0 is allowed for
    // uncompressed bitmaps and means stride x height.
    Dib rgb;
    rgb.h = BITMAPINFOHEADER{40, 3, 2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    rgb.Build({}, std::vector<BYTE>(24, 0x7F));
    QByteArray s = TWindowLessMan::BmpFileStream(rgb.bytes.data());
    ASSERT_EQ(s.size(), 14 + 40 + 24);
    EXPECT_EQ(s.left(2), QByteArray("BM"));
    EXPECT_EQ(Field(s, 2, 4), 78u);   // bfSize
    EXPECT_EQ(Field(s, 6, 4), 0u);    // reserved
    EXPECT_EQ(Field(s, 10, 4), 54u);  // bfOffBits
    EXPECT_EQ(s.mid(14), QByteArray(reinterpret_cast<const char *>(rgb.bytes.data()), 64));
    QImage img;
    ASSERT_TRUE(img.loadFromData(s, "BMP"));
    EXPECT_EQ(img.size(), QSize(3, 2));

    // 8 bits with biClrUsed 0: the full 256-entry table comes before the
    // pixels, and the file must hold both.
    Dib pal;
    pal.h = BITMAPINFOHEADER{40, 2, 2, 1, 8, BI_RGB, 8, 0, 0, 0, 0};
    std::vector<uint32_t> table(256, 0);
    table[1] = 0x00FF0000;  // red
    table[2] = 0x000000FF;  // blue
    pal.Build(table, {1, 2, 0, 0, 2, 1, 0, 0});  // bottom row first, rows of 4 bytes
    s = TWindowLessMan::BmpFileStream(pal.bytes.data());
    EXPECT_EQ(Field(s, 10, 4), 14u + 40 + 1024);
    EXPECT_EQ(Field(s, 2, 4), 14u + 40 + 1024 + 8);
    ASSERT_TRUE(img.loadFromData(s, "BMP"));
    EXPECT_EQ(img.pixel(0, 1), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(1, 1), qRgb(0, 0, 255));
    EXPECT_EQ(img.pixel(0, 0), qRgb(0, 0, 255));

    // Headers that describe no bitmap give nothing to load.
    Dib bad = rgb;
    for (auto h : {BITMAPINFOHEADER{0, 3, 2, 1, 32, BI_RGB, 24, 0, 0, 0, 0},
                   BITMAPINFOHEADER{40, 0, 2, 1, 32, BI_RGB, 24, 0, 0, 0, 0},
                   BITMAPINFOHEADER{40, 3, 2, 1, 0, BI_RGB, 24, 0, 0, 0, 0}}) {
        std::memcpy(bad.bytes.data(), &h, sizeof h);
        EXPECT_TRUE(TWindowLessMan::BmpFileStream(bad.bytes.data()).isEmpty());
    }
}

// ---- a host that goes while frames arrive ------------------------------------------

TEST_F(WindowLessManTest, HostDestroyedWhileTheGraphRuns)
{
    man->SetAspect(16, 9);
    Connect(64, 36);
    std::atomic<bool> stop{false};
    std::atomic<int> pushed{0};
    std::thread streaming([&] {
        const std::vector<BYTE> frame = BottomUp(Quadrants(64, 36));
        while (!stop.load()) {
            source->Push(frame);
            pushed.fetch_add(1);
        }
    });
    EXPECT_TRUE(PumpUntil([&] { return pushed.load() > 20; }));
    Pump(50);
    delete host;
    host = nullptr;
    const int before = pushed.load();
    EXPECT_TRUE(PumpUntil([&] { return pushed.load() > before + 20; }));
    EXPECT_EQ(man->window(), nullptr);
    EXPECT_EQ(man->Host, nullptr);
    man->UpdateVideoPosition();
    man->RepaintAll();
    man->ClearHost();
    man->caInsertTextOn->SetChecked(true);
    Pump(30);
    stop = true;
    streaming.join();
    QImage last;
    EXPECT_TRUE(man->GrabCurrentImage(last));  // the renderer still has its picture

    auto *again = new QWidget(form.get());
    again->resize(320, 240);
    man->Setwindow(again);
    source->Push(BottomUp(Quadrants(64, 36)));
    EXPECT_EQ(Shown(again).pixel(man->WindowDest.Left + 2, man->WindowDest.Top + 2), kTopLeft);
}

} // namespace
