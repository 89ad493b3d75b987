#include "platform/modules/Module.h"

#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <vector>

QString HResultText(HRESULT hr)
{
    return QStringLiteral("0x") + QString::number(static_cast<uint32_t>(hr), 16).rightJustified(8, u'0').toUpper();
}

namespace {

QString ClsidText(REFCLSID clsid)
{
    return QString::fromStdString(GuidToString(clsid));
}

// dlerror() is per thread and cleared by reading it.
QString LastDlError()
{
    const char *text = dlerror();
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown error");
}

// The loader maps a module's segments as its program headers say; parts that
// lie beyond the end of a cut-off file fault (SIGBUS) when touched. Empty when
// every segment of a 64-bit ELF file is inside the file; other files are left
// to dlopen, which refuses them before mapping anything.
QString CheckSegments(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    Elf64_Ehdr header{};
    if (file.read(reinterpret_cast<char *>(&header), sizeof header) != sizeof header
        || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64)
        return QString();
    const auto fits = [size](uint64_t offset, uint64_t length) {
        return offset <= uint64_t(size) && length <= uint64_t(size) - offset;
    };
    if (header.e_phentsize != sizeof(Elf64_Phdr) || !fits(header.e_phoff, uint64_t{header.e_phnum} * sizeof(Elf64_Phdr)))
        return QStringLiteral("its program headers are cut off");
    for (int i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr ph{};
        if (!file.seek(qint64(header.e_phoff + i * sizeof ph))
            || file.read(reinterpret_cast<char *>(&ph), sizeof ph) != sizeof ph)
            return QStringLiteral("cannot read its program headers");
        if (ph.p_type == PT_LOAD && !fits(ph.p_offset, ph.p_filesz))
            return QStringLiteral("the file is cut off");
    }
    return QString();
}

// Handles given up by their CModule but not closed yet: each holds one
// reference of the loader's count for its module.
std::vector<void *> &PendingModules()
{
    static std::vector<void *> pending;
    return pending;
}

} // namespace

void CoFreeUnusedLibraries()
{
    std::erase_if(PendingModules(), [](void *handle) {
        auto *canUnload = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(handle, "DllCanUnloadNow"));
        if (canUnload && canUnload() != S_OK)
            return false;
        dlclose(handle);
        return true;
    });
}

std::unique_ptr<CModule> CModule::Load(const QString &path, QString *error)
{
    const auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        return std::unique_ptr<CModule>();
    };
    const QFileInfo info(path);
    if (!info.isFile())
        return fail(QStringLiteral("cannot load %1: no such file").arg(path));
    // An absolute path, so dlopen never searches the library path for it;
    // every symbol bound now, so a broken module fails here and not mid-call.
    const QString absolute = info.absoluteFilePath();
    const QString damaged = CheckSegments(absolute, info.size());
    if (!damaged.isEmpty())
        return fail(QStringLiteral("cannot load %1: %2").arg(path, damaged));
    dlerror();
    void *handle = dlopen(QFile::encodeName(absolute).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return fail(QStringLiteral("cannot load %1: %2").arg(path, LastDlError()));
    dlerror();
    auto *entry = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle, "DllGetClassObject"));
    if (!entry) {
        dlclose(handle);
        return fail(QStringLiteral("%1 does not export DllGetClassObject").arg(path));
    }
    return std::unique_ptr<CModule>(new CModule(handle, absolute, entry));
}

CModule::CModule(void *handle, QString path, LPFNGETCLASSOBJECT getClassObject)
    : m_handle(handle), m_path(std::move(path)), m_getClassObject(getClassObject)
{
}

CModule::~CModule()
{
    PendingModules().push_back(m_handle);
    CoFreeUnusedLibraries();
}

void *CModule::GetProcAddress(const char *name) const
{
    return dlsym(m_handle, name);
}

HRESULT CModule::GetClassObject(REFCLSID clsid, ComPtr<IClassFactory> *factory, QString *error) const
{
    void *raw = nullptr;
    const HRESULT hr = m_getClassObject(clsid, IID_IClassFactory, &raw);
    *factory = ComPtr<IClassFactory>::Attach(SUCCEEDED(hr) ? static_cast<IClassFactory *>(raw) : nullptr);
    if (SUCCEEDED(hr) && *factory)
        return S_OK;
    if (error)
        *error = QStringLiteral("%1 has no class factory for %2 (%3)").arg(m_path, ClsidText(clsid), HResultText(hr));
    return FAILED(hr) ? hr : E_FAIL;
}

HRESULT CModule::CreateInstance(REFCLSID clsid, REFIID riid, void **ppv, QString *error) const
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    ComPtr<IClassFactory> factory;
    HRESULT hr = GetClassObject(clsid, &factory, error);
    if (FAILED(hr))
        return hr;
    hr = factory->CreateInstance(nullptr, riid, ppv);
    if (SUCCEEDED(hr) && *ppv)
        return S_OK;
    *ppv = nullptr;
    if (error)
        *error = QStringLiteral("%1: the factory of %2 made no object (%3)").arg(m_path, ClsidText(clsid), HResultText(hr));
    return FAILED(hr) ? hr : E_FAIL;
}

ComPtr<IBaseFilter> CModule::CreateFilter(REFCLSID clsid, QString *error) const
{
    void *raw = nullptr;
    if (FAILED(CreateInstance(clsid, IID_IBaseFilter, &raw, error)))
        return nullptr;
    return ComPtr<IBaseFilter>::Attach(static_cast<IBaseFilter *>(raw));
}

ComPtr<IBaseFilter> LoadModuleFilter(const QString &path, REFCLSID clsid, std::unique_ptr<CModule> *module,
                                     QString *error)
{
    if (!*module)
        *module = CModule::Load(path, error);
    return *module ? (*module)->CreateFilter(clsid, error) : nullptr;
}
