#include "KWPack/uMediaFactory.h"

#include "platform/dshow/Uuids.h"

#include <QFileInfo>

// ---- TGrapheComponent ---------------------------------------------------------------

TGrapheComponent::TGrapheComponent(QObject *owner) : QObject(owner) {}

TGrapheComponent::~TGrapheComponent()
{
    disconnect(FWatch);
}

void TGrapheComponent::SetGrapheMan(TGrapheMan *manager)
{
    if (manager == FGrapheMan)
        return;
    disconnect(FWatch);
    FGrapheMan = manager;
    if (manager)
        FWatch = connect(manager, &QObject::destroyed, this, [this] { FGrapheMan = nullptr; });
}

// ---- TMediaFactory ------------------------------------------------------------------

namespace {

TFilterRecPtr Record(REFCLSID clsid, const char *name)
{
    return std::make_shared<const TFilterRec>(clsid, QString::fromLatin1(name));
}

bool IsOneOf(const QString &ext, std::initializer_list<const char *> list)
{
    for (const char *item : list)
        if (ext == QLatin1String(item))
            return true;
    return false;
}

} // namespace

TMediaFactory::TMediaFactory(QObject *owner)
    : TGrapheComponent(owner), FLAVSplitterSource(Record(CLSID_LAVSplitterSource, "LAV Splitter Source")),
      FFileSource(Record(CLSID_AsyncReader, "File Source (Async.)")),
      FAVISplitter(Record(CLSID_AviSplitter, "AVI Splitter")),
      FASFReader(Record(CLSID_WMAsfReader, "WM ASF Reader")),
      FWaveParser(Record(CLSID_WAVEParser, "Wave Parser")),
      FMPEG2Splitter(Record(CLSID_MMSPLITTER, "MPEG-2 Splitter")),
      FMPEG1Splitter(Record(CLSID_MPEG1Splitter, "MPEG-I Stream Splitter")), FSplitterSource(FLAVSplitterSource)
{
}

// The devices go before the graph reference: a device still attached
// takes its filters out of the graph.
TMediaFactory::~TMediaFactory()
{
    FDevices.clear();
}

void TMediaFactory::SetSplitterSource(TFilterRecPtr record)
{
    FSplitterSource = IsSet(record.get()) ? std::move(record) : FLAVSplitterSource;
}

QString TMediaFactory::FileExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    qsizetype folder = -1;
    for (QChar separator : {QLatin1Char('/'), QLatin1Char('\\'), QLatin1Char(':')})
        folder = std::max(folder, fileName.lastIndexOf(separator));
    return dot > folder ? fileName.mid(dot).toLower() : QString();
}

TFileDevice *TMediaFactory::GetDevice(const QString &fileName)
{
    if (!GrapheMan())
        return nullptr;
    const QString key = QFileInfo(fileName).absoluteFilePath();
    std::unique_ptr<TFileDevice> &device = FDevices[key];
    if (!device)
        device = CreateFileDevice(fileName);
    if (device)
        device->SetOwnerGrapheMan(GrapheMan());
    return device.get();
}

std::unique_ptr<TFileDevice> TMediaFactory::CreateFileDevice(const QString &fileName) const
{
    const QString ext = FileExtension(fileName);
    if (IsOneOf(ext, {".mts", ".m2ts", ".mkv", ".mov", ".mp4", ".3g2", ".ts", ".mpg", ".mpeg", ".m1v", ".mp2",
                      ".mpe", ".vob", ".m4v", ".m2v"}))
        return TryInTurn(fileName,
                         {{nullptr, FSplitterSource}, {FMPEG2Splitter, FFileSource}, {FMPEG1Splitter, FFileSource}});
    if (IsOneOf(ext, {".avi", ".ivf"}))
        return TryInTurn(fileName, {{nullptr, FSplitterSource}, {FAVISplitter, FFileSource}});
    if (IsOneOf(ext, {".wmv", ".asf"}))
        return TryInTurn(fileName, {{nullptr, FSplitterSource}, {nullptr, FASFReader}});
    if (ext == QLatin1String(".wav"))
        return TryInTurn(fileName, {{FWaveParser, FFileSource}});
    return nullptr;
}

std::unique_ptr<TFileDevice> TMediaFactory::TryInTurn(const QString &fileName,
                                                      std::initializer_list<TAttempt> attempts) const
{
    std::unique_ptr<TFileDevice> device;
    for (const auto &[splitter, source] : attempts) {
        device = std::make_unique<TFileDevice>(fileName, splitter, source);
        if (device->Valid())
            break;
    }
    return device;
}
