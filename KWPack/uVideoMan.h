// TVideoMan: the video manager. Connects the video stream of the open file
// through a decoder and the frame notifier to its own renderer, chooses the
// decoder and remembers it per stream type, switches to the next decoder on
// request, fits the picture to the stream's aspect or a forced one, shows a
// status panel over the host when there is no video or it cannot be decoded,
// and composes the inlay text from the values other parts send it.
//
// Decoder choice: decoders already tried for the current file are refused
// through the graph builder's callback while this manager connects; the
// chosen decoder is put into the graph before connecting, so intelligent
// connect goes through it (the graph tries its own filters first).
//
// UI thread only. The stream notifier and the frame notifier reach the
// manager through its message window: the video-format record, the per-frame
// DV codes and the frame-time text are sent (they point into the sender,
// which waits), the format text report is posted with its own copy.
//
// Ownership: the frame notifier is created with the manager and lives as
// long as it. Source and SourceManager are borrowed; the source belongs to
// its device, the manager to the main window (SourceManager clears itself
// when that manager goes). The decoder records set by SetDefaultVideoDecoder
// and the others are borrowed: their owner (the private filters, the caller)
// keeps them alive while they are set. The status controls belong to the
// host widget and are forgotten when it goes.
//
// Create with TKWActionComponent::New<TVideoMan>(owner).
#pragma once

#ifndef Q_MOC_RUN  // moc cannot read what this header pulls in
#include "KWPack/uDecoders.h"
#endif
#include "KWPack/uFramesNotifier.h"
#include "KWPack/uMediaFormats.h"
#include "KWPack/uWindowLessMan.h"

#include "platform/base/DateTimeText.h"

#include <QPointer>
#include <QStringList>

#include <functional>

class QLabel;
class TLinkEdit;
class TGrapheMan;
class TNavMan;
class TVideoSource;
class TVostrelPreferences;
class TDecoderVeto;

// Sent by the main window with lParam pointing to the record (Part of the
// inlay): the real date and time, the image number, the video's path.
struct TIncrustSysDate {
    uint8_t Valid = 0;
    TDateTime DateTime = 0;
};
struct TIncrustNumero {
    uint8_t Valid = 0;
    QString Number;
};
struct TIncrustFileName {
    uint8_t Valid = 0;
    QString FileName;
};

// One pattern slot of the inlay; InlayLines[i] shows slot i composed.
struct TInlayPattern {
    QString Pattern;
    QString DateFormat;      // for "%D"; empty: short date and long time
    QString RealDateFormat;  // for "%R"; likewise
};

using TNotifyStringEvent = std::function<void(const QString &notifystring)>;
using TStatusTextEvent = std::function<QString()>;
using TRestorePrivateEvent = std::function<const TFilterRec *(const TFilterRec *aFilterRec)>;

class TVideoMan : public TWindowLessMan {
    Q_OBJECT
public:
    static constexpr UINT WM_VIDEO_SYSDATE = 0x241B;
    static constexpr UINT WM_VIDEO_NUMBER = 0x241D;
    static constexpr UINT WM_VIDEO_FILENAME = 0x241E;
    static constexpr int kStatusImageSize = 192;
    // Kind codes of the source's stream notifiers while this manager uses them.
    static constexpr int kSourceNotifierKind = 128;
    static constexpr int kActiveNotifierKind = 129;
    // NextVideoDecoder lets pictures in flight reach the renderer first.
    static constexpr int kSwitchSettleMs = 600;

    enum TVideoState { vsNoVideo = 0, vsConnected = 1, vsBadVideo = 2 };

    explicit TVideoMan(QObject *owner = nullptr);
    ~TVideoMan() override;

    // ---- operations (UI thread) ----
    bool ConnectVideo(TVideoSource *source);
    // The source's detach result (0 when nothing was detached).
    uint8_t DisconnectVideo(bool showPanel);
    bool NextVideoDecoder();
    void SetForcedAspect(int mode);
    void ComputeAspect(const TVideoData &format);
    void ResetForNewFile();
    // Borrowed; null or an unset record means none.
    void SetDefaultVideoDecoder(const TFilterRec *rec) { DefaultVideoDecoder = rec; }
    void SetFallbackVideoDecoder(const TFilterRec *rec) { FallbackVideoDecoder = rec; }
    void SetExtraVideoFilter(const TFilterRec *rec) { ExtraVideoFilter = rec; }
    // The action values, then the remembered decoders in "VideoDecoders".
    void LoadPrefs(TVostrelPreferences *gp);
    void SavePrefs(TVostrelPreferences *gp);
    void SetDateOffset(double days);
    // Slot i's pattern (0..kInlayLines-1), recomposed at once.
    void SetPattern(int slot, const QString &pattern);
    void SetDateFormat(int slot, const QString &format);
    // Every slot from the latest values, then RefreshInlay.
    void ComposeInlay();

    // ---- overrides ----
    void Setwindow(QWidget *control) override;
    void CreatePanels() override;
    void UpdateVideoPosition() override;
    void RepaintAll() override;
    void WndProc(TMessage &message) override;
    void CreateActions() override;
    void LocateActions() override;
    void BindActions() override;

    // ---- fields of the design ----
    int VideoState = vsNoVideo;
    TVideoSource *Source = nullptr;  // the placeholder when none
    QPointer<TGrapheMan> SourceManager;
    ComPtr<TFramesNotifier> FramesNotifier;
    bool InsertNotifier = true;
    QStringList TriedDecoders;  // sorted GUID texts, no duplicates
    ComPtr<IBaseFilter> DecoderFilter;
    CLSID DecoderClsid = GUID_NULL;
    TMediaKey MediaKey;
    const TFilterRec *ChosenDecoder = nullptr;
    const TFilterRec *DefaultVideoDecoder = nullptr;
    const TFilterRec *FallbackVideoDecoder = nullptr;
    const TFilterRec *ExtraVideoFilter = nullptr;
    TVideoData StoredFormat;
    int ForcedAspect = 0;  // 0 normal, 1 4:3, 2 16:9, 3 native
    QPointer<TLinkEdit> StatusText;
    QPointer<QLabel> StatusImage;
    int leHeight = 32;
    // Whether the stream of the last connection is NTSC DV.
    bool NtscDV = false;

    // ---- inlay values (each with its received flag) ----
    std::array<TInlayPattern, kInlayLines> Patterns;
    bool DateValid = false, TimeCodeValid = false, FrameTimeValid = false, SysDateValid = false,
         NumberValid = false, FileNameValid = false;
    TDateTime DVDate = 0;
    QString TimeCodeText, FrameTimeText, NumberText, FileNameText;
    TDateTime SysDate = 0;
    double DateOffset = 0;

    // ---- published events ----
    TNotifyStringEvent OnNotifyVideoDecoder;
    TNotifyStringEvent OnNotifyVideoFormat;
    TStatusTextEvent OnNoVideoStream;
    TStatusTextEvent OnBadVideoStream;
    TRestorePrivateEvent OnRestorePrivate;

    TNopeAction *naNextDecoderVideo = nullptr;

    // Texts of the design.
    static const QString kNoVideoText;
    static const QString kBadVideoText;
    static const QString kNoDecoderName;  // "No Video Decoder": the source feeds the renderer
    static const QString kRendererName;   // "KW VideoWindow"

    // ---- the graph builder callback's answers ----

    // Short name of a subtype for the decoder rules: its FourCC text in
    // lower case, else the format description's name, lower case.
    static QString SubtypeShortName(const CMediaType &mt);
    // NTSC DV: a DV subtype whose declared frame time is about 1001/30000 s.
    static bool IsNtscDV(const CMediaType &mt);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool TryConnect();
    bool ConnectSteps(TVideoSource *source);
    void AfterConnect(TVideoSource *source);
    void ChooseDecoder();
    bool Render();
    bool PlaceExtraFilter();
    bool InsertFilter(IBaseFilter *filter, IPin *downstream);
    bool IsPlaceholder(TVideoSource *source) const;
    IPin *SourceOutput() const;
    TNavMan *Nav() const;
    void ShowNoVideo();
    void ShowBadVideo();
    void ShowVideo();
    void ShowPanel(const QString &text, const QImage &picture);
    QString ComposeLine(const TInlayPattern &slot) const;
    void ClearInlayFlags();
    void HandleVideoFormat(TMessage &message);

    ComPtr<TDecoderVeto> FCallback;
};
