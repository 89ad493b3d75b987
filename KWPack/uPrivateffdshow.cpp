#include "KWPack/uPrivateffdshow.h"

#include "platform/modules/Module.h"
#include "platform/registry/Registry.h"

namespace {

const QString kSettingsKey = QStringLiteral("HKCU\\Software\\VOS");

ComPtr<IBaseFilter> MakeFilter(const QString &path, REFCLSID clsid, std::unique_ptr<CModule> *module)
{
    QString error;
    ComPtr<IBaseFilter> filter = LoadModuleFilter(path, clsid, module, &error);
    if (!filter)
        qWarning("private ffdshow: %s", qPrintable(error));
    return filter;
}

} // namespace

TPrivateffdshow::TPrivateffdshow() = default;

TPrivateffdshow::~TPrivateffdshow()
{
    Unload();
}

bool TPrivateffdshow::Load(const QString &modulePath)
{
    Unload();
    FVideo = MakeFilter(modulePath, CLSID_PrivateffdshowVideo, &FModule);
    if (FModule)
        FAudio = MakeFilter(modulePath, CLSID_PrivateffdshowAudio, &FModule);
    return FVideo && FAudio;
}

void TPrivateffdshow::Unload()
{
    FVideo.Reset();
    FAudio.Reset();
    FModule.reset();
}

bool TPrivateffdshow::ImportSettings(const QString &fileName)
{
    QString error;
    if (reg::ImportFile(fileName, &error))
        return true;
    qWarning("private ffdshow settings: %s", qPrintable(error));
    return false;
}

bool TPrivateffdshow::RemoveSettings()
{
    if (reg::DeleteKeyCommand(kSettingsKey) || !reg::KeyExists(*reg::RelativeKeyPath(kSettingsKey)))
        return true;
    qWarning("private ffdshow settings: cannot delete %s", qPrintable(kSettingsKey));
    return false;
}
