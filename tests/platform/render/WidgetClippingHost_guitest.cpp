// A QWidget as the renderer's clipping window: what a presentation leaves
// on it, drawing on it from the UI thread, and its handle going with it.
#include "platform/render/WidgetClippingHost.h"

#include <QApplication>
#include <QPainter>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

QImage Shown(QWidget *w) { return w->grab().toImage().convertToFormat(QImage::Format_RGB32); }

QImage Flat(int w, int h, QRgb c)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

TEST(WidgetClippingHost, PresentationFillsPictureAndLetterbox)
{
    QWidget widget;
    widget.resize(200, 100);
    QPalette pal = widget.palette();
    pal.setColor(widget.backgroundRole(), QColor(10, 20, 30));
    widget.setPalette(pal);
    CWidgetClippingHost *host = CWidgetClippingHost::Of(&widget);
    EXPECT_EQ(CWidgetClippingHost::Of(&widget), host);  // one per widget
    host->Clear();

    // From another thread, as a streaming thread presents.
    std::thread streaming([&] {
        WithClippingHost(host->Handle(), [](IVMRClippingHost *h) {
            h->PresentImage(Flat(4, 4, qRgb(200, 0, 0)), RECT{60, 10, 140, 90}, RECT{10, 10, 190, 90},
                            0x00FF0000);  // blue letterbox
        });
    });
    streaming.join();
    QImage shot = Shown(&widget);
    EXPECT_EQ(shot.pixel(5, 5), qRgb(10, 20, 30));    // outside dest: untouched
    EXPECT_EQ(shot.pixel(20, 50), qRgb(0, 0, 255));   // letterbox band
    EXPECT_EQ(shot.pixel(100, 50), qRgb(200, 0, 0));  // the picture
    EXPECT_EQ(shot.pixel(139, 89), qRgb(200, 0, 0));
    EXPECT_EQ(shot.pixel(140, 50), qRgb(0, 0, 255));

    // No picture yet: all of dest in the border colour.
    host->PresentImage(QImage(), RECT{0, 0, 0, 0}, RECT{0, 0, 50, 50}, 0x0000FF00);
    EXPECT_EQ(Shown(&widget).pixel(25, 25), qRgb(0, 255, 0));

    // The surface follows the widget; what was drawn stays until redrawn.
    widget.resize(300, 150);
    host->Paint([](QPainter &p) { p.fillRect(250, 100, 10, 10, Qt::white); });
    shot = Shown(&widget);
    ASSERT_EQ(shot.size(), QSize(300, 150));
    EXPECT_EQ(shot.pixel(255, 105), qRgb(255, 255, 255));
    EXPECT_EQ(shot.pixel(100, 50), qRgb(200, 0, 0));
    EXPECT_EQ(shot.pixel(280, 140), qRgb(10, 20, 30));
}

// The streaming thread presents while the UI thread draws borders and
// paints the widget: both go through the surface's lock.
TEST(WidgetClippingHost, PresentsAndPaintsAtOnce)
{
    QWidget widget;
    widget.resize(120, 80);
    CWidgetClippingHost *host = CWidgetClippingHost::Of(&widget);
    host->Clear();
    std::atomic<bool> stop{false};
    std::atomic<int> presented{0};
    std::thread streaming([&] {
        const QImage picture = Flat(8, 8, qRgb(0, 200, 0));
        while (!stop.load()) {
            WithClippingHost(host->Handle(), [&](IVMRClippingHost *h) {
                h->PresentImage(picture, RECT{20, 10, 100, 70}, RECT{20, 10, 100, 70}, 0);
            });
            presented.fetch_add(1);
        }
    });
    for (int i = 0; i < 50 || (presented.load() < 50 && i < 100000); ++i) {
        host->Paint([](QPainter &p) { p.fillRect(0, 0, 20, 80, Qt::gray); });
        QCoreApplication::processEvents();
        (void)Shown(&widget);
    }
    stop = true;
    streaming.join();
    EXPECT_EQ(Shown(&widget).pixel(60, 40), qRgb(0, 200, 0));
    EXPECT_EQ(Shown(&widget).pixel(5, 40), QColor(Qt::gray).rgb());
}

TEST(WidgetClippingHost, HandleGoesWithTheWidget)
{
    auto *widget = new QWidget;
    const HWND hwnd = CWidgetClippingHost::Of(widget)->Handle();
    EXPECT_NE(hwnd, HWND(0));
    EXPECT_TRUE(WithClippingHost(hwnd, [](IVMRClippingHost *) {}));
    delete widget;
    EXPECT_FALSE(WithClippingHost(hwnd, [](IVMRClippingHost *) {}));
}

} // namespace
