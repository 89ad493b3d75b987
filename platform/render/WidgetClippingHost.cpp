#include "platform/render/WidgetClippingHost.h"

#include <QEvent>
#include <QPainter>
#include <QWidget>

#include <cassert>

namespace {

QColor FromColorRef(COLORREF c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

QRect ToQRect(const RECT &r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

QColor BackgroundOf(const QWidget *widget) { return widget->palette().color(widget->backgroundRole()); }

// Marks the surface in use for a drawing. The pixels are written inside Qt,
// where ThreadSanitizer cannot see them; the mark is ours, so a drawing
// outside m_surfaceLock shows up as a race on it.
class SurfaceUse {
public:
    explicit SurfaceUse(bool &inUse) : m_inUse(inUse)
    {
        assert(!m_inUse);
        m_inUse = true;
    }
    ~SurfaceUse() { m_inUse = false; }
    SurfaceUse(const SurfaceUse &) = delete;
    SurfaceUse &operator=(const SurfaceUse &) = delete;

private:
    bool &m_inUse;
};

} // namespace

CWidgetClippingHost *CWidgetClippingHost::Of(QWidget *widget)
{
    if (!widget)
        return nullptr;
    for (QObject *child : widget->children())
        if (auto *host = dynamic_cast<CWidgetClippingHost *>(child))
            return host;
    return new CWidgetClippingHost(widget);
}

CWidgetClippingHost::CWidgetClippingHost(QWidget *widget) : QObject(widget), m_widget(widget)
{
    m_background = BackgroundOf(widget);
    widget->installEventFilter(this);
    m_repaintWindow = AllocateHWnd([this](TMessage &) {
        m_updatePending.store(false, std::memory_order_release);
        if (m_widget)
            m_widget->update();
    });
    m_hwnd = RegisterClippingHost(this);
}

CWidgetClippingHost::~CWidgetClippingHost()
{
    // Waits for a present in progress; none comes after. A repaint request
    // still queued goes with the window.
    UnregisterClippingHost(m_hwnd);
    DeallocateHWnd(m_repaintWindow);
}

void CWidgetClippingHost::FitSurfaceLocked()
{
    if (!m_widget)
        return;
    m_background = BackgroundOf(m_widget);
    const QSize size = m_widget->size();
    const SurfaceUse use(m_surfaceInUse);
    if (m_surface.size() == size)
        return;
    QImage surface(size, QImage::Format_RGB32);
    surface.fill(m_background);
    if (!m_surface.isNull() && !surface.isNull()) {
        QPainter p(&surface);
        p.drawImage(0, 0, m_surface);  // what was shown stays until redrawn, as in a window
    }
    m_surface = std::move(surface);
}

void CWidgetClippingHost::Paint(const std::function<void(QPainter &)> &draw)
{
    {
        std::lock_guard lock(m_surfaceLock);
        FitSurfaceLocked();
        if (m_surface.isNull())
            return;
        const SurfaceUse use(m_surfaceInUse);
        QPainter p(&m_surface);
        draw(p);
    }
    if (m_widget)
        m_widget->update();
}

void CWidgetClippingHost::Clear()
{
    Paint([this](QPainter &p) { p.fillRect(p.window(), m_background); });
}

QImage CWidgetClippingHost::Surface()
{
    std::lock_guard lock(m_surfaceLock);
    FitSurfaceLocked();
    const SurfaceUse use(m_surfaceInUse);
    return m_surface.copy();
}

void CWidgetClippingHost::PresentImage(const QImage &picture, const RECT &pictureRect, const RECT &dest,
                                       COLORREF border)
{
    {
        std::lock_guard lock(m_surfaceLock);
        const SurfaceUse use(m_surfaceInUse);
        if (m_surface.isNull())
            return;  // not sized by the UI thread yet; its owner repaints the video after
        QPainter p(&m_surface);
        const QRect target = ToQRect(pictureRect);
        if (picture.isNull() || target.isEmpty()) {
            p.fillRect(ToQRect(dest), FromColorRef(border));
        } else {
            // Letterbox bands first, then the picture over its part.
            const QRegion bands = QRegion(ToQRect(dest)).subtracted(QRegion(target));
            for (const QRect &band : bands)
                p.fillRect(band, FromColorRef(border));
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(target, picture);
        }
    }
    RequestUpdate();
}

// Posted, so a streaming thread never waits for the UI thread; one pending
// request at a time however fast frames come.
void CWidgetClippingHost::RequestUpdate()
{
    if (!m_updatePending.exchange(true, std::memory_order_acq_rel))
        PostMessage(m_repaintWindow, kRepaintMessage, 0, 0);
}

bool CWidgetClippingHost::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_widget)
        return false;
    switch (event->type()) {
    case QEvent::Resize:
    case QEvent::PaletteChange: {
        std::lock_guard lock(m_surfaceLock);
        FitSurfaceLocked();
        return false;
    }
    case QEvent::Paint: {
        QPainter p(m_widget);
        std::lock_guard lock(m_surfaceLock);
        FitSurfaceLocked();
        const SurfaceUse use(m_surfaceInUse);
        p.drawImage(0, 0, m_surface);
        return true;  // the surface is the whole picture of the widget
    }
    default:
        return false;
    }
}
