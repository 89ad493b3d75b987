#include "tools/probe/ProbeConnect.h"

#include "KWPack/uAudioMan.h"
#include "KWPack/uLinkEdit.h"
#include "KWPack/uMediaDevices.h"
#include "KWPack/uMediaFactory.h"
#include "KWPack/uNavMan.h"
#include "KWPack/uVideoMan.h"
#include "tools/probe/ProbeApp.h"
#include "tools/probe/ProbeGraph.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWidget>

#include <cstdio>
#include <memory>

namespace {

struct ConnectArgs {
    std::string file;
    std::string privateFolder;
    bool nextDecoder = false;
};

ConnectArgs ParseConnect(const std::vector<std::string> &args)
{
    ConnectArgs a;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--next-decoder") {
            a.nextDecoder = true;
        } else if (args[i] == "--private") {
            if (i + 1 >= args.size())
                throw ProbeError("missing value for --private");
            a.privateFolder = args[++i];
        } else if (args[i].rfind("--", 0) == 0) {
            throw ProbeError("unknown option for connect: " + args[i]);
        } else if (a.file.empty()) {
            a.file = args[i];
        } else {
            throw ProbeError("connect takes one FILE");
        }
    }
    if (a.file.empty())
        throw ProbeError("connect needs a FILE");
    if (a.privateFolder.empty()) {
        const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
        a.privateFolder = QFileInfo(self).dir().filePath(QStringLiteral("../bin/")).toStdString();
    }
    return a;
}

QString Guid(REFGUID guid) { return QString::fromStdString(GuidToString(guid)); }

// Paused on the first picture, with the reports of the first samples handled.
void Settle(TNavMan &nav)
{
    nav.Quiet = true;
    nav.SetRange(true, -1, -1);
    nav.Quiet = false;
    nav.Pause();
    nav.WaitForStableState();
    ProcessMessages();
}

QString StatusName(TAudioStatus status)
{
    switch (status) {
    case asNoAudio:
        return QStringLiteral("no audio");
    case asErrorAudio:
        return QStringLiteral("error");
    case asBadAudio:
        return QStringLiteral("bad audio");
    case asMuted:
        return QStringLiteral("muted");
    case asAudioOn:
        return QStringLiteral("on");
    }
    return QString();
}

struct Names {
    QString video;
    QString audio;
};

QJsonObject Report(const TVideoMan &vid, const TAudioMan &aud, const TNavMan &nav, const Names &names)
{
    QJsonObject decoder{{"name", names.video}, {"clsid", Guid(vid.DecoderClsid)}};
    QJsonObject audioDecoder{{"name", names.audio}, {"clsid", Guid(aud.DecoderClsid)}};
    const QJsonArray key{Guid(vid.MediaKey.majortype), Guid(vid.MediaKey.subtype), Guid(vid.MediaKey.formattype)};
    const QString status = vid.VideoState != TVideoMan::vsConnected && vid.StatusText ? vid.StatusText->RichText()
                                                                                       : QString();
    return QJsonObject{{"video_state", vid.VideoState},
                       {"decoder", decoder},
                       {"media_key", key},
                       {"aspect", QJsonArray{vid.AspectX, vid.AspectY}},
                       {"status_text", status},
                       {"audio_decoder", audioDecoder},
                       {"audio_status", StatusName(aud.Status())},
                       {"frame_duration", static_cast<qint64>(nav.FrameDuration)}};
}

void Print(const QJsonObject &object)
{
    std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

} // namespace

void ProbeConnect(const std::vector<std::string> &args)
{
    const ConnectArgs a = ParseConnect(args);
    QuietOffscreen();
    ProbeArgv av;
    QApplication app(av.argc, av.argv);
    QWidget host;
    host.resize(640, 480);
    std::unique_ptr<TNavMan> nav(TKWActionComponent::New<TNavMan>());
    TMediaFactory factory;
    factory.SetGrapheMan(nav.get());
    std::unique_ptr<TVideoMan> vid(TKWActionComponent::New<TVideoMan>());
    vid->Setwindow(&host);
    std::unique_ptr<TAudioMan> aud(TKWActionComponent::New<TAudioMan>());
    TPrivateFilters privateFilters;
    if (privateFilters.Load(QString::fromStdString(a.privateFolder))) {
        vid->SetFallbackVideoDecoder(privateFilters.Record(TPrivateFilters::pfLAVVideo));
        aud->SetFallbackAudioDecoder(privateFilters.Record(TPrivateFilters::pfLAVAudio));
    }
    vid->OnRestorePrivate = [&privateFilters](const TFilterRec *rec) { return privateFilters.RestorePrivate(rec); };
    Names names{NoVideoDecoder().Name(), NoAudioDecoder().Name()};
    vid->OnNotifyVideoDecoder = [&names](const QString &text) { names.video = text; };
    aud->OnNotifyAudioDecoder = [&names](const QString &text) { names.audio = text; };

    TFileDevice *device = factory.GetDevice(QFile::decodeName(a.file.c_str()));
    if (!device || !device->Valid())
        throw ProbeError("cannot open " + a.file);
    // The main window's order: the sound first, then the picture.
    vid->ResetForNewFile();
    const bool audio = device->AudioSources()[0] && aud->ConnectAudio(device->AudioSources()[0]);
    const bool video = vid->ConnectVideo(device->VideoSources()[0]);
    if (audio || video) {
        nav->RemoveUnconnectedFilters();
        vid->FramesNotifier->SetNotify(true);
        Settle(*nav);
    }
    Print(Report(*vid, *aud, *nav, names));
    if (a.nextDecoder) {
        if (vid->NextVideoDecoder())
            Settle(*nav);
        Print(Report(*vid, *aud, *nav, names));
    }
    nav->Stop();
    aud->DisconnectAudio();
    vid->DisconnectVideo(false);
    aud.reset();
    vid.reset();
}
