#include "KWPack/uPrivateLAV.h"

#include "platform/modules/Module.h"
#include "platform/registry/Registry.h"

#include <QDir>

namespace {

const QString kSettingsKey = QStringLiteral("HKCU\\Software\\LBV");

ComPtr<IBaseFilter> MakeFilter(const QDir &folder, const char *file, REFCLSID clsid, std::unique_ptr<CModule> *module)
{
    QString error;
    ComPtr<IBaseFilter> filter = LoadModuleFilter(folder.filePath(QLatin1String(file)), clsid, module, &error);
    if (!filter)
        qWarning("private LAV: %s", qPrintable(error));
    return filter;
}

} // namespace

TPrivateLAV::TPrivateLAV() = default;

TPrivateLAV::~TPrivateLAV()
{
    Unload();
}

bool TPrivateLAV::Load(const QString &folder)
{
    Unload();
    const QDir dir(folder);
    FSplitter = MakeFilter(dir, "LAVSplitter.ax", CLSID_PrivateLAVSplitter, &FSplitterModule);
    if (FSplitter)
        FVideo = MakeFilter(dir, "LAVVideo.ax", CLSID_PrivateLAVVideo, &FVideoModule);
    if (FVideo)
        FAudio = MakeFilter(dir, "LAVAudio.ax", CLSID_PrivateLAVAudio, &FAudioModule);
    return FSplitter && FVideo && FAudio;
}

void TPrivateLAV::Unload()
{
    FAudio.Reset();
    FVideo.Reset();
    FSplitter.Reset();
    FAudioModule.reset();
    FVideoModule.reset();
    FSplitterModule.reset();
}

bool TPrivateLAV::ImportSettings(const QString &fileName)
{
    QString error;
    if (reg::ImportFile(fileName, &error))
        return true;
    qWarning("private LAV settings: %s", qPrintable(error));
    return false;
}

bool TPrivateLAV::RemoveSettings()
{
    if (reg::DeleteKeyCommand(kSettingsKey) || !reg::KeyExists(*reg::RelativeKeyPath(kSettingsKey)))
        return true;
    qWarning("private LAV settings: cannot delete %s", qPrintable(kSettingsKey));
    return false;
}
