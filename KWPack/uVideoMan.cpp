#include "KWPack/uVideoMan.h"

#include "KWPack/uLinkEdit.h"
#include "KWPack/uDecoderVeto.h"
#include "KWPack/uMediaDevices.h"
#include "KWPack/uNavMan.h"
#include "KWPack/uPreferences.h"
#include "KWPack/uPrivateffdshow.h"

#include "platform/dshow/Enumerate.h"
#include "platform/dshow/Uuids.h"
#include "platform/ffmpeg/FFmpegFilters.h"  // the system's H.264 decoder

#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <cstring>

const QString TVideoMan::kNoVideoText = QStringLiteral("<color blue>No video stream has been connected</color><br center>");
const QString TVideoMan::kBadVideoText = QStringLiteral("The video stream could not be decoded<br center>");
const QString TVideoMan::kNoDecoderName = QStringLiteral("No Video Decoder");
const QString TVideoMan::kRendererName = QStringLiteral("KW VideoWindow");

namespace {

// The status pictures: a frame with a mark, drawn rather than shipped.
QImage StatusPicture(bool bad)
{
    const int s = TVideoMan::kStatusImageSize;
    QImage picture(s, s, QImage::Format_RGB32);
    picture.fill(QColor(64, 64, 64));
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(200, 200, 200), 6));
    p.drawRoundedRect(QRectF(24, 48, 144, 96), 10, 10);
    p.setPen(QPen(bad ? QColor(220, 40, 40) : QColor(90, 140, 230), 10));
    p.drawLine(40, 40, 152, 152);
    if (bad)
        p.drawLine(152, 40, 40, 152);
    return picture;
}

const QStringList kDVNames = {"dvsd", "dvcp", "cdvc", "dvcs", "dvhd", "dvsl", "dv25", "dv50", "dvh1", "dsvd"};

// {8D2D71CB-243F-45E3-B2D8-5FD7967EC09B}: H.264 by another name.
constexpr GUID kH264Other{0x8D2D71CB, 0x243F, 0x45E3, {0xB2, 0xD8, 0x5F, 0xD7, 0x96, 0x7E, 0xC0, 0x9B}};

} // namespace

TVideoMan::TVideoMan(QObject *owner) : TWindowLessMan(owner)
{
    Source = NoVideo();
    FramesNotifier = MakeCom<TFramesNotifier>();
    FramesNotifier->VideoWindow = MessageWindow();
    FCallback = MakeCom<TDecoderVeto>(&TriedDecoders);
}

TVideoMan::~TVideoMan()
{
    FCallback->Tried = nullptr;
    // The holder may be going as well: no published event from here on.
    OnNotifyVideoDecoder = nullptr;
    OnNotifyVideoFormat = nullptr;
    OnNoVideoStream = nullptr;
    OnBadVideoStream = nullptr;
    OnRestorePrivate = nullptr;
    try {
        if (SourceManager && !IsPlaceholder(Source))
            DisconnectVideo(false);
    } catch (...) {
    }
    FramesNotifier->VideoWindow = 0;
    delete StatusText.data();
    delete StatusImage.data();
}

bool TVideoMan::IsPlaceholder(TVideoSource *source) const { return !source || source == NoVideo(); }

TNavMan *TVideoMan::Nav() const { return qobject_cast<TNavMan *>(SourceManager.data()); }

IPin *TVideoMan::SourceOutput() const
{
    return IsPlaceholder(Source) ? nullptr : dshow::PinAt(Source->SourceNotifierFilter(), 1);
}

// ---- actions and preferences ----------------------------------------------------

void TVideoMan::CreateActions()
{
    TWindowLessMan::CreateActions();
    naNextDecoderVideo = NewAction<TNopeAction>(QStringLiteral("naNextDecoderVideo"), QStringLiteral("NextDecoderVideo"));
    naNextDecoderVideo->Switch = QStringLiteral("swi_nextdv");
    naNextDecoderVideo->SetShortCut(QKeySequence(Qt::CTRL | Qt::Key_F8));
    naNextDecoderVideo->SetHint(QStringLiteral("Looks for another Video decoder for the current video."));
    naNextDecoderVideo->ApplyWhenLoad = false;
}

void TVideoMan::LocateActions()
{
    TWindowLessMan::LocateActions();
    naNextDecoderVideo = Locate<TNopeAction>(QStringLiteral("naNextDecoderVideo"));
}

void TVideoMan::BindActions()
{
    TWindowLessMan::BindActions();
    const QPointer<TVideoMan> self(this);
    if (naNextDecoderVideo)
        naNextDecoderVideo->InternalApply = [self] {
            if (self)
                self->NextVideoDecoder();
        };
}

void TVideoMan::LoadPrefs(TVostrelPreferences *gp)
{
    if (!gp)
        return;
    LoadFromPrefs(gp);
    VideoDecoderList().LoadSection(*gp, QStringLiteral("VideoDecoders"));
}

void TVideoMan::SavePrefs(TVostrelPreferences *gp)
{
    if (!gp)
        return;
    SaveToPrefs(gp);
    VideoDecoderList().SaveSection(*gp, QStringLiteral("VideoDecoders"));
}

// ---- connection -----------------------------------------------------------------

bool TVideoMan::ConnectVideo(TVideoSource *source)
{
    // The placeholder is never "connected": it gets the no-video panel below.
    if (source == Source && !IsPlaceholder(source))
        return true;
    ClearHost();
    StoredFormat = TVideoData();
    Source = source ? source : NoVideo();
    if (IsPlaceholder(Source)) {
        ShowNoVideo();
        return false;
    }
    bool ok = false;
    try {
        ok = ConnectSteps(Source);
    } catch (...) {
        ok = false;
    }
    if (SourceManager && SourceManager->GraphBuilder)
        if (auto site = ComQuery<IObjectWithSite>(SourceManager->GraphBuilder))
            site->SetSite(nullptr);
    if (ok) {
        ShowVideo();
        // The source reports its format as it attaches, before the video
        // counts as connected: that report sets the aspect now.
        if (StoredFormat.VideoPresent)
            ComputeAspect(StoredFormat);
    } else {
        DisconnectVideo(true);
        ShowBadVideo();
    }
    return ok;
}

bool TVideoMan::ConnectSteps(TVideoSource *source)
{
    TGrapheMan *manager = source->OwnerGrapheMan();
    if (!manager)
        if (TMediaDevice *root = RootDevice(source))
            manager = root->OwnerGrapheMan();
    SourceManager = manager;
    if (!manager || !manager->GraphBuilder || !source->Attach(manager, MessageWindow()))
        return false;
    SetGraph(nullptr);
    SetGraph(manager->GraphBuilder.Get());
    if (auto site = ComQuery<IObjectWithSite>(manager->GraphBuilder))
        site->SetSite(static_cast<IAMGraphBuilderCallback *>(FCallback.Get()));
    if (TNavMan *nav = Nav()) {
        nav->ResetTimeline();
        nav->Notifier = FramesNotifier;
        FramesNotifier->NavWindow = nav->MessageWindow();
        FramesNotifier->SetNotify(true);
    }
    CMediaType first;
    IPin *in = dshow::PinAt(source->SourceNotifierFilter(), 0);
    NtscDV = in && SUCCEEDED(in->ConnectionMediaType(&first)) && IsNtscDV(first);
    bool ok = TryConnect();
    if (!ok && !TriedDecoders.isEmpty()) {
        TriedDecoders.clear();
        ok = TryConnect();
    }
    if (ok)
        AfterConnect(source);
    return ok;
}

void TVideoMan::AfterConnect(TVideoSource *source)
{
    MediaKey = source->StreamType();
    QString name = QString::fromStdWString(dshow::FilterName(DecoderFilter.Get()));
    if (name == kRendererName)
        name = kNoDecoderName;
    VideoDecoderList().SetDecoder(MediaKey, TFilterRec(DecoderClsid, name));
    if (OnNotifyVideoDecoder)
        OnNotifyVideoDecoder(name);
    VideoState = vsConnected;
    TNotifier *own = source->SourceNotifierObj();
    TNotifier *active = source->ActiveNotifierObj();
    if (active) {
        active->SetVideoWindow(MessageWindow());
        active->SetVideoReports(true);
        active->KindCode = kActiveNotifierKind;
    }
    if (own && own != active)
        own->KindCode = kSourceNotifierKind;
    TGrapheMan *manager = SourceManager;
    if (auto *dv = qobject_cast<TDVMan *>(manager)) {
        const auto free = [](TavSource *held) { return !held || !dynamic_cast<TVideoSource *>(held); };
        if (free(dv->DateSource()))
            dv->SetDateSource(source);
        if (free(dv->TimeCodeSource()))
            dv->SetTimeCodeSource(source);
        if (free(dv->SceneSource()))
            dv->SetSceneSource(source);
    }
    if (TNavMan *nav = Nav(); nav && (!nav->NavSource() || !dynamic_cast<TVideoSource *>(nav->NavSource())))
        nav->SetNavSource(source);
    manager->RemoveUnconnectedFilters();
}

bool TVideoMan::TryConnect()
{
    IGraphBuilder *graph = SourceManager->GraphBuilder.Get();
    TAddedFilters added(graph);
    ChosenDecoder = nullptr;
    if (TriedDecoders.isEmpty()) {
        ChooseDecoder();
        if (IsSet(ChosenDecoder) && (!NtscDV || ChosenDecoder->Clsid() != CLSID_PrivateffdshowVideo))
            added.Add(ChosenDecoder);
    }
    if (!Render()) {
        if (!IsSet(FallbackVideoDecoder)) {
            added.RemoveUnconnected();
            return false;
        }
        added.Add(FallbackVideoDecoder);
        if (!Render()) {
            added.RemoveUnconnected();
            return false;
        }
    }
    if (IsSet(ExtraVideoFilter))
        PlaceExtraFilter();
    if (InsertNotifier) {
        graph->AddFilter(FramesNotifier.Get(), L"Frames Notifier");
        if (!InsertFilter(FramesNotifier.Get(), RendererPin.Get())) {
            RemoveFiltersBetween(Renderer.Get(), Source->SourceNotifierFilter(), graph);
            AddTriedDecoder(TriedDecoders, DecoderClsid);
            graph->RemoveFilter(FramesNotifier.Get());
            added.RemoveUnconnected();
            return false;
        }
    }
    return true;
}

void TVideoMan::ChooseDecoder()
{
    const CMediaType *type = nullptr;
    CMediaType mt;
    if (IPin *in = dshow::PinAt(Source->SourceNotifierFilter(), 0); in && SUCCEEDED(in->ConnectionMediaType(&mt)))
        type = &mt;
    if (type) {
        const QString name = SubtypeShortName(*type);
        if (name == QLatin1String("h264") || name == QLatin1String("avc1") || type->Subtype() == kH264Other)
            AddTriedDecoder(TriedDecoders, CLSID_SystemH264Decoder);
    }
    const TFilterRec *found = VideoDecoderList().GetDecoder(Source->StreamType());
    if (found)
        ChosenDecoder = OnRestorePrivate ? OnRestorePrivate(found) : found;
    if (!IsSet(ChosenDecoder) && IsSet(DefaultVideoDecoder))
        ChosenDecoder = DefaultVideoDecoder;
}

bool TVideoMan::Render()
{
    IGraphBuilder *graph = SourceManager->GraphBuilder.Get();
    IPin *out = SourceOutput();
    if (!out || !RendererPin || FAILED(graph->Connect(out, RendererPin.Get())))
        return false;
    DecoderFilter = dshow::FilterOf(dshow::PeerOf(out).Get());
    DecoderClsid = GUID_NULL;
    if (DecoderFilter && DecoderFilter.Get() != Renderer.Get())
        DecoderFilter->GetClassID(&DecoderClsid);
    SourceManager->RemoveUnconnectedFilters();
    return true;
}

// The extra filter goes in front of the renderer; when the graph picked
// another instance of its class as the decoder, it takes that one's place.
bool TVideoMan::PlaceExtraFilter()
{
    IGraphBuilder *graph = SourceManager->GraphBuilder.Get();
    ComPtr<IBaseFilter> extra = ExtraVideoFilter->CreateFilter();
    if (!extra || extra.Get() == DecoderFilter.Get())
        return false;
    if (FAILED(graph->AddFilter(extra.Get(), ExtraVideoFilter->Name().toStdWString().c_str())))
        return false;
    if (ExtraVideoFilter->Clsid() != DecoderClsid)
        return InsertFilter(extra.Get(), RendererPin.Get());
    IPin *out = SourceOutput();
    IPin *extraIn = dshow::PinAt(extra.Get(), 0), *extraOut = dshow::PinAt(extra.Get(), 1);
    graph->Disconnect(dshow::PeerOf(out).Get());
    graph->Disconnect(out);
    if (ComPtr<IPin> peer = dshow::PeerOf(RendererPin.Get())) {
        graph->Disconnect(peer.Get());
        graph->Disconnect(RendererPin.Get());
    }
    graph->RemoveFilter(DecoderFilter.Get());
    DecoderFilter = extra;
    return extraIn && extraOut && SUCCEEDED(graph->ConnectDirect(out, extraIn, nullptr))
        && SUCCEEDED(graph->ConnectDirect(extraOut, RendererPin.Get(), nullptr));
}

bool TVideoMan::InsertFilter(IBaseFilter *filter, IPin *downstream)
{
    IGraphBuilder *graph = SourceManager->GraphBuilder.Get();
    ComPtr<IPin> upstream = downstream ? dshow::PeerOf(downstream) : nullptr;
    CMediaType mt;
    if (!upstream || FAILED(downstream->ConnectionMediaType(&mt)))
        return false;
    IPin *in = dshow::PinAt(filter, 0), *out = dshow::PinAt(filter, 1);
    graph->Disconnect(upstream.Get());
    graph->Disconnect(downstream);
    try {
        if (in && out && SUCCEEDED(graph->ConnectDirect(upstream.Get(), in, &mt))
            && SUCCEEDED(graph->ConnectDirect(out, downstream, &mt)))
            return true;
    } catch (...) {
    }
    for (IPin *pin : {in, out})
        if (ComPtr<IPin> peer = pin ? dshow::PeerOf(pin) : nullptr) {
            graph->Disconnect(peer.Get());
            graph->Disconnect(pin);
        }
    graph->ConnectDirect(upstream.Get(), downstream, &mt);
    return false;
}

QString TVideoMan::SubtypeShortName(const CMediaType &mt)
{
    // The FourCC itself: the description's "DV Type 2" would hide "dvsd".
    if (IsFourCCGuid(mt.Subtype()))
        return QString::fromStdString(FourCCText(mt.Subtype().Data1)).toLower();
    return VideoSubtypeText(mt).toLower();
}

bool TVideoMan::IsNtscDV(const CMediaType &mt)
{
    if (!kDVNames.contains(SubtypeShortName(mt).left(4)))
        return false;
    // VIDEOINFOHEADER and VIDEOINFOHEADER2 both keep AvgTimePerFrame at 40.
    constexpr size_t kAvgTimeOffset = 40;
    const auto bytes = mt.FormatBytes();
    if ((mt.FormatType() != FORMAT_VideoInfo && mt.FormatType() != FORMAT_VideoInfo2)
        || bytes.size() < kAvgTimeOffset + sizeof(REFERENCE_TIME))
        return false;
    REFERENCE_TIME avg = 0;
    std::memcpy(&avg, bytes.data() + kAvgTimeOffset, sizeof avg);
    const uint32_t low = uint32_t(uint64_t(avg) & 0xFFFFFFFFu);
    return low >= 333000 && low <= 334000;
}

uint8_t TVideoMan::DisconnectVideo(bool showPanel)
{
    ClearHost();
    uint8_t result = 0;
    TGrapheMan *manager = SourceManager;
    if (manager && !IsPlaceholder(Source)) {
        try {
            if (auto *dv = qobject_cast<TDVMan *>(manager))
                dv->ForgetSource(Source);
            // Filters cannot leave a graph that runs.
            if (manager->FilterGraph()->State() != gsStopped)
                manager->Stop();
            IBaseFilter *up = Source->SourceNotifierFilter();
            IGraphBuilder *graph = manager->GraphBuilder.Get();
            const bool connected = Renderer && IsUpstreamOf(Renderer.Get(), up);
            // A source whose connection failed leaves the graph all the same.
            if (!connected || RemoveFiltersBetween(Renderer.Get(), up, graph)) {
                result = Source->Detach() ? 1 : 0;
                SetGraph(nullptr);
                DecoderFilter.Reset();
                DecoderClsid = GUID_NULL;
                if (graph)
                    graph->RemoveFilter(FramesNotifier.Get());
            }
            // The navigation manager's own detach comes after ours.
            if (TNavMan *nav = Nav(); nav && nav->NavSource() == Source)
                nav->SetNavSource(nullptr);
        } catch (...) {
        }
    }
    if (OnNotifyVideoDecoder)
        OnNotifyVideoDecoder(NoVideoDecoder().Name());
    if (OnNotifyVideoFormat)
        OnNotifyVideoFormat(QStringLiteral("No Video"));
    Source = NoVideo();
    if (showPanel)
        ShowNoVideo();
    if (TNavMan *nav = Nav())
        nav->ResetTimeline();
    ClearInlayFlags();
    SourceManager = nullptr;
    return result;
}

bool TVideoMan::NextVideoDecoder()
{
    TGrapheMan *manager = SourceManager;
    if (!manager || IsPlaceholder(Source))
        return false;
    bool ok = false;
    try {
        AddTriedDecoder(TriedDecoders, DecoderClsid);
        VideoDecoderList().RemoveDecoder(MediaKey);
        FramesNotifier->NotifyOn = false;
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < kSwitchSettleMs)
            WaitMessages(int(std::max<qint64>(1, kSwitchSettleMs - settle.elapsed())));
        const TGraphState before = manager->FilterGraph()->State();
        if (before != gsStopped)
            manager->Stop();
        TVideoSource *source = Source;
        ComPtr<IGraphBuilder> graph = manager->GraphBuilder;
        DisconnectVideo(false);
        SetGraph(nullptr);
        SetGraph(graph.Get());
        manager->RemoveUnconnectedFilters();
        ok = ConnectVideo(source);
        if (ok) {
            manager->Play();
            if (before != gsRunning)
                manager->Pause();
        }
    } catch (...) {
        ok = false;
    }
    return ok;
}

void TVideoMan::ResetForNewFile()
{
    if (!IsPlaceholder(Source))
        if (TNotifier *notifier = Source->ActiveNotifierObj())
            notifier->Reset();
    TriedDecoders.clear();
}

// ---- aspect ---------------------------------------------------------------------

void TVideoMan::SetForcedAspect(int mode)
{
    ForcedAspect = mode;
    ComputeAspect(StoredFormat);
}

void TVideoMan::ComputeAspect(const TVideoData &format)
{
    if (VideoState != vsConnected)
        return;
    const int w = std::abs(format.Width), h = std::abs(format.Height);
    switch (ForcedAspect) {
    case 1:
        return SetAspect(4, 3);
    case 2:
        return SetAspect(16, 9);
    case 3:
        return SetAspect(w, h);
    default:
        break;
    }
    if (format.AspectCode == acAspect4x3)
        SetAspect(4, 3);
    else if (format.AspectCode == acAspect16x9)
        SetAspect(16, 9);
    else if (format.AspectCode == acAspectOther)
        SetAspect(format.AspectX, format.AspectY);
    else
        SetAspect(w, h);
}

// ---- status panels --------------------------------------------------------------

void TVideoMan::CreatePanels()
{
    QWidget *host = window();
    if (!host)
        return;  // made when a host is given
    if (!StatusText) {
        StatusText = new TLinkEdit(host);
        StatusText->setReadOnly(true);
        StatusText->setFrameShape(QFrame::NoFrame);
        StatusText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        StatusText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        StatusText->Alignment = TMarkupAlign::Center;
        StatusText->installEventFilter(this);
        StatusText->hide();
    }
    if (!StatusImage) {
        StatusImage = new QLabel(host);
        StatusImage->resize(kStatusImageSize, kStatusImageSize);
        StatusImage->hide();
    }
}

void TVideoMan::Setwindow(QWidget *control)
{
    TWindowLessMan::Setwindow(control);
    if (!control)
        return;
    for (QWidget *panel : {static_cast<QWidget *>(StatusText.data()), static_cast<QWidget *>(StatusImage.data())})
        if (panel)
            panel->setParent(control);
    CreatePanels();
    RepaintAll();
}

void TVideoMan::ShowPanel(const QString &text, const QImage &picture)
{
    CreatePanels();
    if (!StatusText || !StatusImage)
        return;
    StatusText->SetRichText(text);
    StatusText->setTextInteractionFlags(Qt::NoTextInteraction);  // no selection, no caret
    StatusImage->setPixmap(QPixmap::fromImage(picture));
    UpdateVideoPosition();
    StatusText->raise();
    StatusImage->raise();
}

void TVideoMan::ShowNoVideo()
{
    VideoState = vsNoVideo;
    ShowPanel(OnNoVideoStream ? OnNoVideoStream() : kNoVideoText, StatusPicture(false));
}

void TVideoMan::ShowBadVideo()
{
    VideoState = vsBadVideo;
    ShowPanel(OnBadVideoStream ? OnBadVideoStream() : kBadVideoText, StatusPicture(true));
}

void TVideoMan::ShowVideo()
{
    VideoState = vsConnected;
    if (StatusText)
        StatusText->hide();
    if (StatusImage)
        StatusImage->hide();
    UpdateVideoPosition();
}

void TVideoMan::UpdateVideoPosition()
{
    QWidget *host = window();
    if (host && StatusText && StatusImage) {
        const bool panel = VideoState != vsConnected;
        const int textTop = host->height() - leHeight - 8;
        StatusText->setGeometry(8, textTop, host->width() - 16, leHeight);
        StatusImage->move((host->width() - kStatusImageSize) / 2, (textTop - kStatusImageSize) / 2);
        StatusText->setVisible(panel && host->width() > 16);
        StatusImage->setVisible(panel);
    }
    if (VideoState == vsConnected)
        TWindowLessMan::UpdateVideoPosition();
    else
        PaintBorders();
}

void TVideoMan::RepaintAll()
{
    switch (VideoState) {
    case vsNoVideo:
        return ShowNoVideo();
    case vsBadVideo:
        return ShowBadVideo();
    default:
        TWindowLessMan::RepaintAll();
    }
}

bool TVideoMan::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == StatusText.data() && event->type() == QEvent::FocusIn && window()) {
        window()->setFocus();
        return false;
    }
    return TWindowLessMan::eventFilter(watched, event);
}
