#include "uWindowLessMan.h"

#include "uMediaFormats.h"

#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/Uuids.h"
#include "platform/render/WidgetClippingHost.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace {

RECT ToRECT(const TRect &r) { return RECT{r.Left, r.Top, r.Right, r.Bottom}; }

QRect ToQRect(const TRect &r) { return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top); }

TRect Grown(const TRect &r, int by) { return TRect{r.Left - by, r.Top - by, r.Right + by, r.Bottom + by}; }

void FillRect(QPainter &p, const TRect &r, const QColor &color)
{
    if (r.Right > r.Left && r.Bottom > r.Top)
        p.fillRect(ToQRect(r), color);
}

// The four bands between an outer rectangle and an inner one.
void FillBands(QPainter &p, const TRect &o, const TRect &i, const QColor &color)
{
    FillRect(p, TRect{o.Left, o.Top, i.Left, o.Bottom}, color);
    FillRect(p, TRect{i.Right, o.Top, o.Right, o.Bottom}, color);
    FillRect(p, TRect{i.Left, o.Top, i.Right, i.Top}, color);
    FillRect(p, TRect{i.Left, i.Bottom, i.Right, o.Bottom}, color);
}

QColor HostColor(const QWidget *w) { return w->palette().color(w->backgroundRole()); }

void SetPalette(QWidget *w, QPalette::ColorRole role, const QColor &color)
{
    QPalette pal = w->palette();
    pal.setColor(role, color);
    w->setPalette(pal);
}

} // namespace

// ---- TFullScreenForm ------------------------------------------------------------

TFullScreenForm::TFullScreenForm() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
{
    setAutoFillBackground(true);
    QuitPanel = new QLabel(QString::fromLatin1(TWindowLessMan::kQuitText), this);
    QuitPanel->setAlignment(Qt::AlignCenter);
    QuitPanel->setMargin(12);
    QuitPanel->setAutoFillBackground(true);
    SetPalette(QuitPanel, QPalette::Window, ColorToQColor(clInfoBk));
    SetPalette(QuitPanel, QPalette::WindowText, ColorToQColor(clInfoText));
    QuitPanel->hide();
}

// ---- construction ---------------------------------------------------------------

TWindowLessMan::TWindowLessMan(QObject *owner) : TKWActionComponent(owner)
{
    try {
        // A derived class's panels come from its own constructor: C++ does
        // not reach an override from here.
        CreatePanels();
        CreateRenderer();
        FullScreenForm = new TFullScreenForm();
        SetPalette(FullScreenForm, QPalette::Window, ColorToQColor(FBackColor));
        FullScreenForm->installEventFilter(this);
        FullScreenForm->QuitPanel->installEventFilter(this);
        QuitTimer = new QTimer(this);
        QuitTimer->setInterval(3000);
        connect(QuitTimer, &QTimer::timeout, this, [this] { HideQuitPanel(); });
        PreviewForm = new QWidget(nullptr, Qt::Window);
        PreviewForm->setGeometry(ToQRect(PreviewBounds));
        PreviewForm->setAutoFillBackground(true);
        PreviewForm->installEventFilter(this);
        FInsertFont.Name = QStringLiteral("Arial");
        FInsertFont.Size = 16;
        FInsertFont.Color = clNavy;
        OverlayFont = FInsertFont;
        InlayLines[0].Text = QStringLiteral("Write an inlay");
        InlayLines[0].Enabled = true;
        InlayLines[0].Stacked = false;
    } catch (...) {
    }
}

TWindowLessMan::~TWindowLessMan()
{
    disconnect(FWindowWatch);
    if (WindowlessControl)
        WindowlessControl->SetVideoClippingWindow(0);  // the forms' hosts go with them
    delete FullScreenForm;
    delete PreviewForm;
}

void TWindowLessMan::CreateRenderer()
{
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                filter.ReleaseAndGetVoidAddress())))
        return;
    Renderer = filter;
    // Mixing mode (several streams) is what gives the mixer bitmap.
    const auto config = ComQuery<IVMRFilterConfig9>(Renderer);
    if (!config || FAILED(config->SetRenderingMode(VMR9Mode_Windowless))
        || FAILED(config->SetNumberOfStreams(4)))
        return;
    if (!(WindowlessControl = ComQuery<IVMRWindowlessControl9>(Renderer))
        || !(MixerControl = ComQuery<IVMRMixerControl9>(Renderer))
        || !(MixerBitmap = ComQuery<IVMRMixerBitmap9>(Renderer))
        || !(MediaFilter = ComQuery<IMediaFilter>(Renderer))
        || !(MonitorConfig = ComQuery<IVMRMonitorConfig9>(Renderer))
        || !(DeinterlaceControl = ComQuery<IVMRDeinterlaceControl9>(Renderer))
        || !(QualProp = ComQuery<IQualProp>(Renderer)))
        return;
    ComPtr<IEnumPins> pins;
    if (FAILED(Renderer->EnumPins(pins.ReleaseAndGetAddressOf())))
        return;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION dir = PINDIR_OUTPUT;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == PINDIR_INPUT) {
            RendererPin = pin;
            return;
        }
    }
}

// ---- actions --------------------------------------------------------------------

// The renderer's settings all take effect when the preferences load.
template <class T>
T *TWindowLessMan::MakeAction(const QString &name, const QString &scriptName)
{
    auto *a = NewAction<T>(name, scriptName);
    a->ApplyWhenLoad = true;
    return a;
}

void TWindowLessMan::CreateActions()
{
    caFullscreen = MakeAction<TCheckAction>(QStringLiteral("caFullscreen"), QStringLiteral("FullScreen"));
    caFullscreen->IncludePrefs = false;
    caFullscreen->ApplyWhenLoad = false;
    caFullscreen->Switch = QStringLiteral("swi_fs");
    caFullscreen->SetShortCut(QKeySequence(Qt::ALT | Qt::Key_Return));
    caFullscreen->SetSecondaryShortcuts({QKeySequence(Qt::ALT | Qt::Key_Enter)});
    SetCheckTexts(caFullscreen, QStringLiteral("Quit fullscreen"), QStringLiteral("Fullscreen"),
               QStringLiteral("Quit fullscreen"), QStringLiteral("Put Full screen"));

    caFlipVertical = MakeAction<TCheckAction>(QStringLiteral("caFlipVertical"), QStringLiteral("FlipVertical"));
    caFlipVertical->Switch = QStringLiteral("swi_fv");
    caFlipVertical->SetShortCut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_V));
    SetCheckTexts(caFlipVertical, QStringLiteral("Flip vertical"), QStringLiteral("Flip vertical"),
               QStringLiteral("Disable Vertical Flip"), QStringLiteral("Activate Flip Vertical"));

    caFlipHorizontal =
        MakeAction<TCheckAction>(QStringLiteral("caFlipHorizontal"), QStringLiteral("FlipHorizontal"));
    caFlipHorizontal->Switch = QStringLiteral("swi_fh");
    caFlipHorizontal->SetShortCut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_H));
    SetCheckTexts(caFlipHorizontal, QStringLiteral("Flip horizontal"), QStringLiteral("Flip horizontal"),
               QStringLiteral("Disable Horizontal Flip"), QStringLiteral("Activate Horizontal Flip"));

    caPreviewForm = MakeAction<TCheckAction>(QStringLiteral("caPreviewForm"), QStringLiteral("Previewform"));
    caPreviewForm->Switch = QStringLiteral("swi_pf");
    caPreviewForm->SetShortCut(QKeySequence(Qt::ALT | Qt::Key_Backspace));
    SetCheckTexts(caPreviewForm, QStringLiteral("Detached window"), QStringLiteral("Detached window"),
               QStringLiteral("Reintegrate the video into the main window."),
               QStringLiteral("Show video in a separate window"));

    caKeepAspectRatio =
        MakeAction<TCheckAction>(QStringLiteral("caKeepAspectRatio"), QStringLiteral("KeepAspectRatio"));
    caKeepAspectRatio->IncludePrefs = false;
    caKeepAspectRatio->ApplyWhenLoad = false;
    caKeepAspectRatio->SetShortCut(QKeySequence(Qt::ALT | Qt::Key_R));
    SetCheckTexts(caKeepAspectRatio, QStringLiteral("Keep aspect ratio"), QStringLiteral("Keep aspect ratio"),
               QStringLiteral("Do not force the original aspect ratio for the video"),
               QStringLiteral("Keep the original aspect ratio for the video"));
    caKeepAspectRatio->SetDefaultValue(false);
    caKeepAspectRatio->SetEnabled(false);

    iaWinBorderWidth = MakeAction<TIntegerAction>(QStringLiteral("iaWinBorderWidth"), QStringLiteral("WinBorderWidth"));
    iaWinBorderWidth->SetDefaultValue(4);
    iaFullBorderWidth =
        MakeAction<TIntegerAction>(QStringLiteral("iaFullBorderWidth"), QStringLiteral("FullBorderWidth"));
    iaFullBorderWidth->SetDefaultValue(0);
    iaBorderColor = MakeAction<TColorAction>(QStringLiteral("iaBorderColor"), QStringLiteral("BorderColor"));
    iaBorderColor->SetDefaultValue(clSilver);
    iaBackColor = MakeAction<TColorAction>(QStringLiteral("iaBackColor"), QStringLiteral("BackColor"));
    iaBackColor->SetDefaultValue(clSilver);

    CreateInlayActions();

    raPreviewSave = MakeAction<TRectAction>(QStringLiteral("raPreviewSave"), QStringLiteral("PreviewSave"));
    iaTimerInterval = MakeAction<TIntegerAction>(QStringLiteral("iaTimerInterval"), QStringLiteral("TimerInterval"));
    iaTimerInterval->SetDefaultValue(3000);
    iaTimerInterval->SetHint(QStringLiteral("Timeout to display how to exit the full screen (in milliseconds)"));
}

void TWindowLessMan::CreateInlayActions()
{
    caInsertTextOn = MakeAction<TCheckAction>(QStringLiteral("caInsertTextOn"), QStringLiteral("InsertTextOn"));
    caInsertTextOn->SetShortCut(QKeySequence(Qt::CTRL | Qt::Key_I));
    SetCheckTexts(caInsertTextOn, QStringLiteral("Disable Inlay"), QStringLiteral("Activate Inlay"), {}, {});
    caInsertTextOn->SetDefaultValue(false);

    iaInsertAlignLines = MakeAction<TIntegerAction>(QStringLiteral("iaInsertAlignLines"), QStringLiteral("AlignLines"));
    iaInsertAlignLines->SetDefaultValue(taCenter);
    iaInsertBorderWidth =
        MakeAction<TIntegerAction>(QStringLiteral("iaInsertBorderWidth"), QStringLiteral("InsertBorderWidth"));
    iaInsertBorderWidth->SetDefaultValue(2);
    iaInsertBorderColor =
        MakeAction<TColorAction>(QStringLiteral("iaInsertBorderColor"), QStringLiteral("InsertBorderColor"));
    iaInsertBorderColor->SetDefaultValue(clBlack);

    faInsertFont = MakeAction<TFontAction>(QStringLiteral("faInsertFont"), QStringLiteral("InsertFont"));
    TFont font;
    font.Name = QStringLiteral("Arial");
    font.SetHeight(33);
    font.Color = clYellow;
    font.Style = fsBold;
    faInsertFont->SetDefaultValue(font);

    iaInsertTransparentColor =
        MakeAction<TColorAction>(QStringLiteral("iaInsertTransparentColor"), QStringLiteral("InsertTransparentColor"));
    iaInsertTransparentColor->SetDefaultValue(clFuchsia);
    caInsertAntiAliasing =
        MakeAction<TCheckAction>(QStringLiteral("caInsertAntiAliasing"), QStringLiteral("InsertAntiAliasing"));
    caInsertAntiAliasing->SetShortCut(QKeySequence(Qt::CTRL | Qt::Key_N));
    caInsertAntiAliasing->SetDefaultValue(true);
    daInsertTransparency =
        MakeAction<TDoubleAction>(QStringLiteral("daInsertTransparency"), QStringLiteral("InsertTransparency"));
    daInsertTransparency->SetDefaultValue(1.0);
    paInsertPosition = MakeAction<TPointAction>(QStringLiteral("paInsertPosition"), QStringLiteral("InsertPosition"));
}

void TWindowLessMan::LocateActions()
{
    caFullscreen = Locate<TCheckAction>(QStringLiteral("caFullscreen"));
    caFlipVertical = Locate<TCheckAction>(QStringLiteral("caFlipVertical"));
    caFlipHorizontal = Locate<TCheckAction>(QStringLiteral("caFlipHorizontal"));
    caPreviewForm = Locate<TCheckAction>(QStringLiteral("caPreviewForm"));
    caKeepAspectRatio = Locate<TCheckAction>(QStringLiteral("caKeepAspectRatio"));
    iaWinBorderWidth = Locate<TIntegerAction>(QStringLiteral("iaWinBorderWidth"));
    iaFullBorderWidth = Locate<TIntegerAction>(QStringLiteral("iaFullBorderWidth"));
    iaBorderColor = Locate<TColorAction>(QStringLiteral("iaBorderColor"));
    iaBackColor = Locate<TColorAction>(QStringLiteral("iaBackColor"));
    caInsertTextOn = Locate<TCheckAction>(QStringLiteral("caInsertTextOn"));
    iaInsertAlignLines = Locate<TIntegerAction>(QStringLiteral("iaInsertAlignLines"));
    iaInsertBorderWidth = Locate<TIntegerAction>(QStringLiteral("iaInsertBorderWidth"));
    iaInsertBorderColor = Locate<TColorAction>(QStringLiteral("iaInsertBorderColor"));
    faInsertFont = Locate<TFontAction>(QStringLiteral("faInsertFont"));
    iaInsertTransparentColor = Locate<TColorAction>(QStringLiteral("iaInsertTransparentColor"));
    caInsertAntiAliasing = Locate<TCheckAction>(QStringLiteral("caInsertAntiAliasing"));
    daInsertTransparency = Locate<TDoubleAction>(QStringLiteral("daInsertTransparency"));
    paInsertPosition = Locate<TPointAction>(QStringLiteral("paInsertPosition"));
    raPreviewSave = Locate<TRectAction>(QStringLiteral("raPreviewSave"));
    iaTimerInterval = Locate<TIntegerAction>(QStringLiteral("iaTimerInterval"));
}

namespace {

// Both apply events of a check action to one setter taking the state.
template <class F>
void BindCheck(TCheckAction *a, F set)
{
    if (!a)
        return;
    a->InternalTrueApply = [set] { set(true); };
    a->InternalFalseApply = [set] { set(false); };
}

template <class A, class F>
void BindApply(A *a, F set)
{
    if (a)
        a->InternalApply = set;
}

} // namespace

// The handlers reach the component through a guard: the actions belong to
// the form and may outlive it.
void TWindowLessMan::BindActions()
{
    const QPointer<TWindowLessMan> self(this);
    const auto call = [self](auto method) {
        return [self, method](const auto &v) {
            if (self)
                (self.data()->*method)(v);
        };
    };
    BindCheck(caFullscreen, call(&TWindowLessMan::SetFullScreen));
    BindCheck(caFlipVertical, call(&TWindowLessMan::SetFlipVertical));
    BindCheck(caFlipHorizontal, call(&TWindowLessMan::SetFlipHorizontal));
    BindCheck(caPreviewForm, call(&TWindowLessMan::SetDetached));
    BindCheck(caKeepAspectRatio, call(&TWindowLessMan::SetKeepAspectratio));
    BindApply(iaWinBorderWidth, call(&TWindowLessMan::SetWinBorderWidth));
    BindApply(iaFullBorderWidth, call(&TWindowLessMan::SetFullBorderWidth));
    BindApply(iaBorderColor, call(&TWindowLessMan::SetBorderColor));
    BindApply(iaBackColor, call(&TWindowLessMan::SetBackColor));
    BindCheck(caInsertTextOn, call(&TWindowLessMan::SetInlay));
    BindApply(iaInsertAlignLines, [self](const int32_t &v) {
        if (self)
            self->SetInsertAlignLines(v == taRightJustify ? taRightJustify : v == taCenter ? taCenter : taLeftJustify);
    });
    BindApply(iaInsertBorderWidth, call(&TWindowLessMan::SetInsertBorderWidth));
    BindApply(iaInsertBorderColor, call(&TWindowLessMan::SetInsertBorderColor));
    BindApply(faInsertFont, call(&TWindowLessMan::SetInsertFont));
    BindApply(iaInsertTransparentColor, call(&TWindowLessMan::SetInsertTransparentColor));
    BindCheck(caInsertAntiAliasing, call(&TWindowLessMan::SetInsertAntiAliasing));
    BindApply(daInsertTransparency, call(&TWindowLessMan::SetInsertTransparency));
    BindApply(paInsertPosition, call(&TWindowLessMan::SetInsertPosition));
    if (paInsertPosition)
        paInsertPosition->InternalDefault = [](TPoint &v) {
            v = TPoint{5000, 8200};
            return true;
        };
    BindPreviewSave();
    BindApply(iaTimerInterval, [self](const int32_t &v) {
        if (self && self->QuitTimer)
            self->QuitTimer->setInterval(std::max(0, v));  // negative: never shown, like 0
    });
    // Their shortcuts must also work while the picture has a window of its own.
    for (QWidget *form : {static_cast<QWidget *>(FullScreenForm), PreviewForm})
        if (form && caFullscreen)
            form->addAction(caFullscreen);
    if (PreviewForm && caPreviewForm)
        PreviewForm->addAction(caPreviewForm);
}

void TWindowLessMan::BindPreviewSave()
{
    if (!raPreviewSave)
        return;
    const QPointer<TWindowLessMan> self(this);
    raPreviewSave->InternalDefault = [](TRect &v) {
        v = TRect{0, 0, 640, 480};
        return true;
    };
    raPreviewSave->InternalApply = [self](const TRect &v) {
        if (!self)
            return;
        self->PreviewBounds = v;
        if (self->PreviewForm)
            self->PreviewForm->setGeometry(ToQRect(v));
    };
    raPreviewSave->InternalBeforeSave = [self](TRect &v) {
        if (!self)
            return true;
        if (self->PreviewForm && self->PreviewForm->isVisible()) {
            const QRect g = self->PreviewForm->geometry();
            self->PreviewBounds = TRect{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
        }
        v = self->PreviewBounds;
        return true;
    };
}

// ---- messages -------------------------------------------------------------------

void TWindowLessMan::WndProc(TMessage &message)
{
    switch (message.Msg) {
    case WM_DISPLAYCHANGE:
        if (WindowlessControl)
            WindowlessControl->DisplayModeChanged();
        message.Result = 0;
        return;
    case WM_VIDEO_GRAB: {
        auto *bitmap = reinterpret_cast<QImage *>(message.wParam);
        message.Result = bitmap && GrabCurrentImage(*bitmap) ? 1 : 0;
        return;
    }
    case WM_VIDEO_FRAMESDRAWN:
        if (auto *count = reinterpret_cast<int *>(message.lParam))
            *count = FramesDrawn();
        message.Result = 0;
        return;
    default:
        TKWActionComponent::WndProc(message);
    }
}

HRESULT TWindowLessMan::GetClassID(CLSID *pClassID) const
{
    if (!pClassID)
        return E_POINTER;
    *pClassID = CLSID_WindowLessMan;
    return S_OK;
}

bool TWindowLessMan::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Resize) {
        if ((watched == Host && !FullScreen) || (watched == FullScreenForm && FullScreen))
            UpdateVideoPosition();
    } else if (type == QEvent::Close && watched == PreviewForm && Detached) {
        if (caPreviewForm)
            caPreviewForm->SetChecked(false);
        else
            SetDetached(false);
    } else if (type == QEvent::Close && watched == FullScreenForm && FullScreen) {
        if (caFullscreen)
            caFullscreen->SetChecked(false);
        else
            SetFullScreen(false);
    } else if (type == QEvent::MouseButtonPress && FullScreenForm && watched == FullScreenForm->QuitPanel) {
        HideQuitPanel();
    }
    return false;
}

// ---- hosts and modes ------------------------------------------------------------

void TWindowLessMan::Setwindow(QWidget *control)
{
    disconnect(FWindowWatch);
    FWindow = control;
    if (control)
        FWindowWatch = connect(control, &QObject::destroyed, this, [this](QObject *gone) { WindowDestroyed(gone); });
    SetHost(control);
    // No paint hook on the form: the host's surface is repainted with the
    // form by Qt itself, and letting events run inside a paint would
    // re-enter painting.
}

void TWindowLessMan::WindowDestroyed(QObject *control)
{
    CreatePanels();
    FWindow = nullptr;
    if (!Host || Host.data() == control)
        Host = nullptr;
}

void TWindowLessMan::SetHost(QWidget *control)
{
    Host = control;
    if (!control)
        return;
    CWidgetClippingHost::Of(control);
    control->installEventFilter(this);
    QScreen *monitor = MonitorOf(control);
    if (monitor && FullScreenForm)
        FullScreenForm->setGeometry(monitor->geometry());
    if (MonitorConfig)
        MonitorConfig->SetMonitor(MonitorNumber(monitor));
    if (WindowlessControl)
        WindowlessControl->DisplayModeChanged();
    UpdateVideoPosition();
}

QScreen *TWindowLessMan::MonitorOf(const QWidget *control)
{
    return control ? control->screen() : QGuiApplication::primaryScreen();
}

UINT TWindowLessMan::MonitorNumber(const QScreen *screen)
{
    const qsizetype i = QGuiApplication::screens().indexOf(const_cast<QScreen *>(screen));
    return i > 0 ? static_cast<UINT>(i) : 0;
}

TRect TWindowLessMan::FitRect(int aspectX, int aspectY, const TRect &outer, int border)
{
    return AspectFit(aspectX, aspectY, outer, border, true);
}

void TWindowLessMan::UpdateVideoPosition()
{
    if (FullScreen) {
        const QScreen *monitor = MonitorOf(Host);
        const QSize size = monitor ? monitor->geometry().size() : QSize();
        FullDest = FitRect(AspectX, AspectY, TRect{0, 0, size.width(), size.height()}, FFullBorderWidth);
        ApplyFullScreen();
    } else {
        const TRect outer = Host ? TRect{0, 0, Host->width(), Host->height()} : TRect{};
        WindowDest = FitRect(AspectX, AspectY, outer, FWinBorderWidth);
        ApplyWindowed();
    }
}

void TWindowLessMan::ApplyWindowed()
{
    if (WindowlessControl) {
        WindowlessControl->SetVideoClippingWindow(Host ? CWidgetClippingHost::Of(Host)->Handle() : 0);
        const RECT dest = ToRECT(WindowDest);
        WindowlessControl->SetVideoPosition(nullptr, &dest);
    }
    PaintBorders();
    RepaintVideo(Host);
    ApplyFlip();
}

void TWindowLessMan::ApplyFullScreen()
{
    if (!FullScreenForm)
        return;
    TShape &shape = FullScreenForm->BorderShape;
    shape.Bounds = Grown(FullDest, FFullBorderWidth);
    shape.BrushColor = FBorderColor;
    CWidgetClippingHost *host = CWidgetClippingHost::Of(FullScreenForm);
    host->Paint([&](QPainter &p) {
        p.fillRect(p.window(), ColorToQColor(FBackColor));
        FillRect(p, shape.Bounds, ColorToQColor(shape.BrushColor));
    });
    if (WindowlessControl) {
        WindowlessControl->SetVideoClippingWindow(host->Handle());
        const RECT dest = ToRECT(FullDest);
        WindowlessControl->SetVideoPosition(nullptr, &dest);
    }
    FullScreenForm->raise();
    FullScreenForm->update();
    RepaintVideo(FullScreenForm);
}

void TWindowLessMan::PaintBorders()
{
    if (!Host)
        return;
    const TRect outer{0, 0, Host->width(), Host->height()};
    const TRect grown = Grown(WindowDest, FWinBorderWidth);
    const QColor own = HostColor(Host);
    CWidgetClippingHost::Of(Host)->Paint([&](QPainter &p) {
        FillBands(p, outer, grown, own);
        FillBands(p, grown, WindowDest, ColorToQColor(FBorderColor));
    });
}

void TWindowLessMan::RepaintVideo(QWidget *control)
{
    if (control && WindowlessControl)
        WindowlessControl->RepaintVideo(CWidgetClippingHost::Of(control)->Handle(), nullptr);
}

// The picture goes where it is now: the preview window while detached.
void TWindowLessMan::RepaintAll()
{
    PaintBorders();
    RepaintVideo(FullScreen ? FullScreenForm : Host.data());
}

void TWindowLessMan::ClearHost()
{
    if (Host)
        CWidgetClippingHost::Of(Host)->Clear();
}

void TWindowLessMan::SetFullScreen(bool on)
{
    FullScreen = on;
    if (!FullScreenForm)
        return;
    if (on) {
        if (QScreen *monitor = MonitorOf(Host))
            FullScreenForm->setGeometry(monitor->geometry());
        FullScreenForm->show();
        FullScreenForm->raise();
        FullScreenForm->activateWindow();
        QLabel *panel = FullScreenForm->QuitPanel;
        if (QuitTimer && QuitTimer->interval() != 0) {
            panel->adjustSize();
            panel->move((FullScreenForm->width() - panel->width()) / 2,
                        (FullScreenForm->height() - panel->height()) / 2);
            panel->show();
            panel->raise();
            QuitTimer->start();
        } else {
            panel->hide();
        }
    } else {
        FullScreenForm->hide();
        if (MonitorConfig)
            MonitorConfig->SetMonitor(MonitorNumber(MonitorOf(Host)));
        PostMessage(MessageWindow(), WM_DISPLAYCHANGE, 0, 0);
    }
    UpdateVideoPosition();
}

void TWindowLessMan::HideQuitPanel()
{
    if (QuitTimer)
        QuitTimer->stop();
    if (!FullScreenForm)
        return;
    FullScreenForm->QuitPanel->hide();
    FullScreenForm->update();
    RepaintVideo(FullScreenForm);
}

void TWindowLessMan::SetDetached(bool on)
{
    Detached = on;
    if (!PreviewForm)
        return;
    if (on) {
        PreviewForm->setGeometry(ToQRect(PreviewBounds));
        PreviewForm->show();
        PreviewForm->raise();
        SetHost(PreviewForm);
    } else {
        const QRect g = PreviewForm->geometry();
        PreviewBounds = TRect{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
        PreviewForm->hide();
        SetHost(FWindow);
    }
    UpdateVideoPosition();
}

void TWindowLessMan::SetGraph(IGraphBuilder *graph)
{
    if (Graph.Get() != graph) {
        if (Graph && Renderer)
            Graph->RemoveFilter(Renderer.Get());
        Graph = graph;
        if (Graph && Renderer)
            Graph->AddFilter(Renderer.Get(), L"KW VideoWindow");
    }
    ApplyWindowed();
}

void TWindowLessMan::SetAspect(int x, int y)
{
    AspectX = x;
    AspectY = y;
    UpdateVideoPosition();
}

// ---- flips and settings ---------------------------------------------------------

void TWindowLessMan::ApplyFlip()
{
    if (!MixerControl)
        return;
    // Reversed edges mirror the stream.
    const VMR9NormalizedRect r{FlipHorizontal ? 1.f : 0.f, FlipVertical ? 1.f : 0.f, FlipHorizontal ? 0.f : 1.f,
                               FlipVertical ? 0.f : 1.f};
    MixerControl->SetOutputRect(0, &r);
}

void TWindowLessMan::SetFlipVertical(bool on)
{
    FlipVertical = on;
    ApplyFlip();
}

void TWindowLessMan::SetFlipHorizontal(bool on)
{
    FlipHorizontal = on;
    ApplyFlip();
}

void TWindowLessMan::SetKeepAspectratio(bool v)
{
    FKeepAspectratio = v;
    if (const auto control = ComQuery<IVMRAspectRatioControl9>(Renderer))
        control->SetAspectRatioMode(v ? VMR9ARMode_LetterBox : VMR9ARMode_None);
}

void TWindowLessMan::SetWinBorderWidth(int v)
{
    FWinBorderWidth = v;
    UpdateVideoPosition();
}

void TWindowLessMan::SetFullBorderWidth(int v)
{
    FFullBorderWidth = v;
    UpdateVideoPosition();
}

void TWindowLessMan::SetBorderColor(TColor v)
{
    FBorderColor = v;
    RepaintAll();
    if (FullScreen)
        UpdateVideoPosition();
}

void TWindowLessMan::SetBackColor(TColor v)
{
    FBackColor = v;
    if (FullScreenForm)
        SetPalette(FullScreenForm, QPalette::Window, ColorToQColor(v));
    if (FullScreen)
        UpdateVideoPosition();
}

int TWindowLessMan::FramesDrawn()
{
    int drawn = 0;
    if (QualProp)
        QualProp->get_FramesDrawn(&drawn);
    return drawn;
}
