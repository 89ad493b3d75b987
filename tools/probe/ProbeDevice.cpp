#include "tools/probe/ProbeDevice.h"

#include "KWPack/uMediaFactory.h"
#include "KWPack/uMediaFormats.h"
#include "platform/dshow/Guid.h"
#include "tools/probe/ProbeApp.h"
#include "tools/probe/ProbeGraph.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <map>
#include <memory>

namespace {

QString Text(REFGUID guid)
{
    return QString::fromStdString(GuidToString(guid));
}

QString RecordName(const TFilterRec *record)
{
    return record ? record->Name() : QString();
}

// The type the notifier's input connected with, format block included.
CMediaType NotifierInputType(TavSource *source)
{
    CMediaType mt;
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> input;
    if (SUCCEEDED(source->SourceNotifierFilter()->EnumPins(pins.ReleaseAndGetAddressOf()))
        && pins->Next(1, input.ReleaseAndGetAddressOf(), nullptr) == S_OK)
        input->ConnectionMediaType(&mt);
    return mt;
}

// Attached for as long as it takes to read what it connected with.
QJsonObject SourceObject(TavSource *source, bool video, TGrapheMan *manager)
{
    QJsonObject o;
    o["kind"] = video ? "video" : "audio";
    o["display_name"] = source->DisplayName();
    if (!source->Attach(manager, 0))
        throw ProbeError("cannot attach " + source->DisplayName().toStdString());
    const TMediaKey key = source->StreamType();
    o["stream_type"] = QJsonArray{Text(key.majortype), Text(key.subtype), Text(key.formattype)};
    o["format_text"] = video ? VideoDataFromMediaType(NotifierInputType(source)).FormatText
                             : source->SourceNotifierObj()->FrameData().AudioLabel;
    source->Detach();
    return o;
}

using SourceObjects = std::map<const TavSource *, QJsonObject>;

QJsonArray SourcesOf(const TMediaDevice &device, const SourceObjects &objects)
{
    QJsonArray out;
    for (TVideoSource *source : device.VideoSources())
        out.append(objects.at(source));
    for (TAudioSource *source : device.AudioSources())
        out.append(objects.at(source));
    return out;
}

QJsonObject DeviceObject(const TFileDevice &device, TGrapheMan *manager)
{
    SourceObjects objects;
    for (TVideoSource *source : device.VideoSources())
        objects[source] = SourceObject(source, true, manager);
    for (TAudioSource *source : device.AudioSources())
        objects[source] = SourceObject(source, false, manager);
    QJsonArray dvDevices;
    for (TMediaDevice *dv : device.DVDevices())
        dvDevices.append(QJsonObject{{"display_name", dv->DisplayName()}, {"sources", SourcesOf(*dv, objects)}});
    QJsonObject o;
    o["name"] = device.Name();
    o["valid"] = device.Valid();
    o["source"] = RecordName(device.SourceRecord());
    o["splitter"] = RecordName(device.SplitterRecord());
    o["dv_devices"] = dvDevices;
    o["sources"] = SourcesOf(device, objects);
    return o;
}

} // namespace

void ProbeDevice(const std::string &file)
{
    // The graph manager is a component with a message window.
    ProbeArgv av;
    QCoreApplication app(av.argc, av.argv);
    std::unique_ptr<TGrapheMan> manager(TKWActionComponent::New<TGrapheMan>());
    TMediaFactory factory;
    factory.SetGrapheMan(manager.get());
    TFileDevice *device = OpenFileDevice(factory, file);
    const QJsonObject o = DeviceObject(*device, manager.get());
    std::fputs(QJsonDocument(o).toJson(QJsonDocument::Indented).constData(), stdout);
}
