// A clipping window made of a real QWidget: what a windowless renderer
// draws into, and what its owner paints borders on.
//
// The widget gets a surface, a 32-bit picture of its client area that plays
// the part of the window's device context: anyone may draw on it at any
// time (the renderer from its streaming thread, its owner from the UI
// thread) and the widget shows it whenever Qt paints the widget. Child
// widgets still paint over it, as child windows do.
//
// Locks: the host registry's (held by the renderer around PresentImage),
// then m_surfaceLock. The UI thread takes m_surfaceLock alone and never
// calls the renderer while holding it, so a streaming thread presenting a
// frame never waits for the UI thread: it posts its repaint request to a
// message window of the host's.
//
// Ownership: the host is a child of its widget and goes with it; the
// handle is unregistered first, so a renderer still pointing at it finds
// nothing to call from then on.
#pragma once

#include "platform/render/Vmr9Interfaces.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <mutex>

class QPainter;
class QWidget;

class CWidgetClippingHost final : public QObject, public IVMRClippingHost {
public:
    // UI thread. The widget's host, made on first use.
    static CWidgetClippingHost *Of(QWidget *widget);
    ~CWidgetClippingHost() override;

    // For SetVideoClippingWindow and RepaintVideo. Any thread.
    HWND Handle() const { return m_hwnd; }
    // UI thread; null once the widget is going.
    QWidget *Widget() const { return m_widget; }

    // UI thread. Draws on the surface (sized to the widget first), then
    // schedules a repaint of the widget.
    void Paint(const std::function<void(QPainter &)> &draw);
    // UI thread. The whole surface in the widget's own background colour.
    void Clear();
    // UI thread. A copy of the surface (tests, grabs of the window).
    QImage Surface();

    // Streaming or UI thread, under the registry's lock.
    void PresentImage(const QImage &picture, const RECT &pictureRect, const RECT &dest,
                      COLORREF border) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit CWidgetClippingHost(QWidget *widget);
    // UI thread, m_surfaceLock held.
    void FitSurfaceLocked();
    void RequestUpdate();

    static constexpr UINT kRepaintMessage = 0x000F;  // WM_PAINT

    HWND m_hwnd = 0;
    QPointer<QWidget> m_widget;  // UI thread
    HWND m_repaintWindow = 0;    // takes repaint requests from any thread
    std::atomic<bool> m_updatePending{false};

    std::mutex m_surfaceLock;
    // Guarded by m_surfaceLock; drawn by the streaming and UI threads.
    QImage m_surface;
    QColor m_background;  // the widget's colour, as last read on the UI thread
    bool m_surfaceInUse = false;
};
