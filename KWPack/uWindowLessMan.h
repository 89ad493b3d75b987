// TWindowLessMan: owner of the video renderer, the "Video Mixing Renderer 9"
// in windowless mode, drawn into a host widget. It fits the picture to an
// aspect ratio inside a coloured border, shows it full screen on the monitor
// of the host or in a separate preview window, mirrors it, lays the inlay (a
// text overlay drawn into a colour-keyed bitmap) over it through the
// renderer's mixer, and grabs the picture shown. The video manager derives
// from it.
//
// Everything here runs on the UI thread; streaming threads reach the
// component only through messages to its message window.
//
// Ownership: the component holds one reference to each renderer interface
// (released at destruction) and owns the full-screen form, the preview
// window, the quit timer and the overlay bitmap. `window` is borrowed and
// watched: when it is destroyed the component forgets it. The widgets'
// clipping hosts belong to the widgets.
//
// Create with TKWActionComponent::New<TWindowLessMan>(owner).
#pragma once

#include "uWndComponent.h"

#include "platform/dshow/Control.h"
#include "platform/render/Vmr9Interfaces.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <array>

class QLabel;
class QPainter;
class QScreen;
class QTimer;

enum TAlignment { taLeftJustify = 0, taRightJustify = 1, taCenter = 2 };

// One line of the inlay. Offsets are fractions of the video width and height.
struct TInlayLine {
    QString Text;
    float HorzOffset = 0.f;
    float VertOffset = 0.f;
    bool Enabled = false;
    bool Stacked = true;  // placed below the previous line
    TAlignment Alignment = taLeftJustify;
};

// Where RebuildInlay draws a line: InlayLines[Line] at At (its cell's
// top-left corner in the overlay bitmap).
struct TInlayPlacement {
    int Line = 0;
    QPoint At;
};

// A filled rectangle on a form.
struct TShape {
    TRect Bounds;
    TColor BrushColor = clWhite;
};

// The borderless full-screen window: background, the border shape behind
// the picture and the quit panel in front of it.
class TFullScreenForm : public QWidget {
public:
    TFullScreenForm();
    TShape BorderShape;
    QLabel *QuitPanel = nullptr;  // owned by the form
};

class TWindowLessMan : public TKWActionComponent {
    Q_OBJECT
public:
    static constexpr UINT WM_DISPLAYCHANGE = 0x7E;
    // Sent: WParam points to the QImage that receives the picture.
    static constexpr UINT WM_VIDEO_GRAB = 0x2401;
    // Sent: LParam points to the int that receives FramesDrawn().
    static constexpr UINT WM_VIDEO_FRAMESDRAWN = 0x2414;
    static constexpr CLSID CLSID_WindowLessMan{
        0xE437A53D, 0x02A2, 0x4A7D, {0xB4, 0x6C, 0xF7, 0x5A, 0x5D, 0x39, 0xC4, 0xE3}};
    static constexpr int kInlayLines = 8;
    static constexpr const char *kQuitText = "Alt+Enter to exit from Full Screen mode";

    explicit TWindowLessMan(QObject *owner = nullptr);
    ~TWindowLessMan() override;

    // ---- virtual operations (the video manager overrides them) ----
    // Host of the picture; null forgets it.
    virtual void Setwindow(QWidget *control);
    // The video manager's status panels (none here). Runs again when
    // `window` is destroyed, since panels on it went with it.
    virtual void CreatePanels() {}
    // Refits the picture to the host (or the monitor in full screen) and
    // applies it. Also runs when the host is resized.
    virtual void UpdateVideoPosition();
    virtual void RepaintAll();

    void WndProc(TMessage &message) override;
    void CreateActions() override;
    void LocateActions() override;
    void BindActions() override;

    // ---- operations ----
    // The renderer leaves the previous graph and joins this one as
    // "KW VideoWindow". The graph is borrowed (a reference is kept).
    void SetGraph(IGraphBuilder *graph);
    void SetAspect(int x, int y);
    // The picture shown, into `bitmap`; false (and `bitmap` untouched)
    // without a renderer or a picture.
    bool GrabCurrentImage(QImage &bitmap);
    int FramesDrawn();
    void ClearHost();
    void RefreshInlay();
    void SetAutoFontSize(bool on);
    void SetFullScreen(bool on);
    void SetDetached(bool on);
    void SetFlipVertical(bool on);
    void SetFlipHorizontal(bool on);
    void SetInlay(bool on);
    HRESULT GetClassID(CLSID *pClassID) const;

    // `outer` shrunk by `border`, then the largest aspectX:aspectY box in
    // it, centred, relative to outer's top-left corner; the shrunk box
    // itself when either aspect is not above 0.
    static TRect FitRect(int aspectX, int aspectY, const TRect &outer, int border);
    // The text at (x, y) (top-left of its cell) in the painter's font and
    // pen, outlined in borderColor borderWidth pixels wide. Smoothing is a
    // property of this drawing only.
    static void DrawOutlinedText(QPainter &canvas, int x, int y, bool antialias, int borderWidth,
                                 TColor borderColor, const QString &text);
    // A BMP file: BITMAPFILEHEADER followed by the packed DIB, which must
    // hold what its header describes. Empty for a header that describes no
    // bitmap.
    static QByteArray BmpFileStream(const BYTE *dib);
    // The enabled lines' places in a width x height overlay, in
    // OverlayFont.
    QList<TInlayPlacement> PlaceInlayLines(int width, int height) const;
    // OverlayFont as the overlay's canvas draws it (sized in pixels).
    QFont OverlayQFont() const;

    // ---- published properties ----
    QWidget *window() const { return FWindow; }
    int WinBorderWidth() const { return FWinBorderWidth; }
    void SetWinBorderWidth(int v);
    int FullBorderWidth() const { return FFullBorderWidth; }
    void SetFullBorderWidth(int v);
    TColor BorderColor() const { return FBorderColor; }
    void SetBorderColor(TColor v);
    TColor BackColor() const { return FBackColor; }
    void SetBackColor(TColor v);
    bool KeepAspectratio() const { return FKeepAspectratio; }
    void SetKeepAspectratio(bool v);
    const TFont &InsertFont() const { return FInsertFont; }
    void SetInsertFont(const TFont &v);
    int InsertBorderWidth() const { return FInsertBorderWidth; }
    void SetInsertBorderWidth(int v);
    TColor InsertBorderColor() const { return FInsertBorderColor; }
    void SetInsertBorderColor(TColor v);
    double InsertTransparency() const { return FInsertTransparency; }
    void SetInsertTransparency(double v);
    TColor InsertTransparentColor() const { return FInsertTransparentColor; }
    void SetInsertTransparentColor(TColor v);
    bool InsertAntiAliasing() const { return FInsertAntiAliasing; }
    void SetInsertAntiAliasing(bool v);
    TAlignment InsertAlignLines() const { return FInsertAlignLines; }
    void SetInsertAlignLines(TAlignment v);
    void SetInsertPosition(const TPoint &v);

    // ---- renderer objects (empty where CreateRenderer stopped) ----
    ComPtr<IBaseFilter> Renderer;
    ComPtr<IVMRWindowlessControl9> WindowlessControl;
    ComPtr<IVMRMixerControl9> MixerControl;
    ComPtr<IVMRMixerBitmap9> MixerBitmap;
    ComPtr<IMediaFilter> MediaFilter;
    ComPtr<IVMRMonitorConfig9> MonitorConfig;
    ComPtr<IVMRDeinterlaceControl9> DeinterlaceControl;
    ComPtr<IQualProp> QualProp;
    ComPtr<IPin> RendererPin;

    // ---- state ----
    QPointer<QWidget> Host;
    ComPtr<IGraphBuilder> Graph;
    int AspectX = 0;
    int AspectY = 0;
    TRect WindowDest;
    TRect FullDest;
    bool FullScreen = false;
    bool Detached = false;
    bool FlipVertical = false;
    bool FlipHorizontal = false;
    int InlayMode = 0;  // 2 shown, 0 not
    bool AutoFontSize = false;
    TPoint InsertPosition{5000, 8200};
    std::array<TInlayLine, kInlayLines> InlayLines;
    QImage OverlayBitmap;  // Format_RGB32
    TFont OverlayFont;     // the overlay canvas's font: InsertFont, sized by AutoFontSize
    VMR9AlphaBitmap AlphaBitmap{};
    int FramesDrawnMark = 0;
    TFullScreenForm *FullScreenForm = nullptr;  // owned
    QTimer *QuitTimer = nullptr;                // owned
    QWidget *PreviewForm = nullptr;             // owned
    TRect PreviewBounds{0, 0, 640, 480};

    // ---- actions (null where a stored list lacks them) ----
    TCheckAction *caFullscreen = nullptr;
    TCheckAction *caFlipVertical = nullptr;
    TCheckAction *caFlipHorizontal = nullptr;
    TCheckAction *caPreviewForm = nullptr;
    TCheckAction *caKeepAspectRatio = nullptr;
    TIntegerAction *iaWinBorderWidth = nullptr;
    TIntegerAction *iaFullBorderWidth = nullptr;
    TColorAction *iaBorderColor = nullptr;
    TColorAction *iaBackColor = nullptr;
    TCheckAction *caInsertTextOn = nullptr;
    TIntegerAction *iaInsertAlignLines = nullptr;
    TIntegerAction *iaInsertBorderWidth = nullptr;
    TColorAction *iaInsertBorderColor = nullptr;
    TFontAction *faInsertFont = nullptr;
    TColorAction *iaInsertTransparentColor = nullptr;
    TCheckAction *caInsertAntiAliasing = nullptr;
    TDoubleAction *daInsertTransparency = nullptr;
    TPointAction *paInsertPosition = nullptr;
    TRectAction *raPreviewSave = nullptr;
    TIntegerAction *iaTimerInterval = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

    void CreateRenderer();
    void SetHost(QWidget *control);
    void ApplyWindowed();
    void ApplyFullScreen();
    void ApplyFlip();
    void PaintBorders();
    void RepaintVideo(QWidget *control);
    void RebuildInlay();
    // The monitor showing `control` (the primary one when unknown).
    static QScreen *MonitorOf(const QWidget *control);
    static UINT MonitorNumber(const QScreen *screen);

private:
    void WindowDestroyed(QObject *control);
    void HideQuitPanel();
    void CreateInlayActions();
    void BindPreviewSave();
    template <class T>
    T *MakeAction(const QString &name, const QString &scriptName);

    QPointer<QWidget> FWindow;
    QMetaObject::Connection FWindowWatch;
    int FWinBorderWidth = 8;
    int FFullBorderWidth = 8;
    TColor FBorderColor = clSilver;
    TColor FBackColor = clBlack;
    bool FKeepAspectratio = false;
    TFont FInsertFont;
    int FInsertBorderWidth = 2;
    TColor FInsertBorderColor = clBlack;
    double FInsertTransparency = 1.0;
    TColor FInsertTransparentColor = clFuchsia;
    bool FInsertAntiAliasing = true;
    TAlignment FInsertAlignLines = taLeftJustify;
};
