// The hive file and the operations on it.
//
// Locks, in the order they are taken:
//   1. HiveStore::mutex - this process; guards the parsed-hive cache, the
//      warned-about paths and the last error. Held for a whole write, so the
//      threads of one process never contend for the file lock.
//   2. flock() on "<hive>.lock" - between processes; held by writers from the
//      re-read to the rename. Readers take no file lock: the file is only ever
//      replaced by rename(), so a reader sees the old or the new file whole.
// The lock file is never removed (removing it would let two writers lock two
// different files).
//
// A change is a Mutation applied to a freshly read hive under both locks. A
// Batch collects a thread's mutations instead, applying them to a private
// copy (its "view", which that thread's reads see) and replays them on the
// current file when the outermost Batch ends: one lock, one write, and the
// changes other processes made in the meantime are kept.
#include "platform/registry/Registry.h"

#include "platform/registry/RegHive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace reg {

namespace {

using Mutation = std::function<bool(RegHive &)>;

struct FileImage {
    bool exists = false;
    QString error;  // set when the file exists but cannot be read
    QByteArray bytes;
    bool operator==(const FileImage &) const = default;
};

struct HiveStore {
    std::mutex mutex;
    // Guarded by mutex.
    QString cachedPath;
    FileImage cachedImage;
    RegHive cachedHive;
    QSet<QString> warnedPaths;
    QString lastError;
    detail::WriteHook hook = nullptr;
};

HiveStore &store()
{
    static HiveStore s;
    return s;
}

// The open Batch of this thread; touched by this thread only.
struct ThreadBatch {
    int depth = 0;
    QString path;
    std::optional<RegHive> view;
    std::vector<Mutation> log;
};
thread_local ThreadBatch tBatch;

QString systemError(const QString &what, const QString &path)
{
    return QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(strerror(errno)));
}

FileImage readFile(const QString &path)
{
    FileImage image;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            image.error = systemError(QStringLiteral("cannot open"), path);
        return image;
    }
    image.exists = true;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            image.bytes.append(buffer, n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            image.error = systemError(QStringLiteral("cannot read"), path);
            image.bytes.clear();
            break;
        }
    }
    ::close(fd);
    return image;
}

// The store's strings share no data with the callers' own: the last release of
// shared data may happen inside Qt, where ThreadSanitizer cannot see it.
QString ownCopy(const QString &s)
{
    return QString(s.constData(), s.size());
}

// The hive held by `image`, parsed once per content. Mutex held.
const RegHive &hiveOf(HiveStore &s, const QString &path, const FileImage &image)
{
    if (s.cachedPath == path && s.cachedImage == image)
        return s.cachedHive;
    s.cachedPath = ownCopy(path);
    s.cachedImage = image;
    s.cachedHive = HiveFromText(DecodeRegBytes(image.bytes));
    if (!image.error.isEmpty())
        s.cachedHive.error = image.error;
    s.lastError = s.cachedHive.error;
    if (!s.lastError.isEmpty() && !s.warnedPaths.contains(path)) {
        s.warnedPaths.insert(path);
        qWarning("registry hive %s: %s; %s", qPrintable(path), qPrintable(s.lastError),
                 image.error.isEmpty() ? "the rest of the file is kept as it is" : "it will not be written");
    }
    return s.cachedHive;
}

const RegHive &loadHive(HiveStore &s, const QString &path)
{
    return hiveOf(s, path, readFile(path));
}

// Calls f with the hive this thread sees: its batch's view, or the file.
template <typename F>
auto readHive(F &&f)
{
    if (tBatch.view)
        return f(std::as_const(*tBatch.view));
    HiveStore &s = store();
    std::lock_guard lock(s.mutex);
    return f(loadHive(s, HivePath()));
}

class FileLock {
public:
    explicit FileLock(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0)
            return;
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);  // releases the lock
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    bool locked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

void syncFolder(const QString &dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Temporary files left by writers that died; only called under the file lock,
// when no other writer can be using one.
void removeStaleTemporaries(const QString &path)
{
    const QFileInfo info(path);
    const QString prefix = info.fileName() + QStringLiteral(".tmp.");
    QDir dir = info.dir();
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (name.startsWith(prefix))
            dir.remove(name);
    }
}

// Temporary file in the same folder, fsync, rename over, fsync the folder.
// The replaced file's permissions carry over to the new one.
// Asking umask() itself would change it for a moment under other threads.
mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (!line.startsWith("Umask:"))
                continue;
            bool ok = false;
            const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
            if (ok)
                return static_cast<mode_t>(mask & 0777);
        }
    }
    return 022;
}

struct ReplaceTarget {
    QString *error = nullptr;  // the reason goes here, else to the log
    bool ordinaryFile = false;
};

void reportWriteError(const ReplaceTarget &target, const QString &text)
{
    if (target.error)
        *target.error = text;
    else
        qWarning("registry: %s", qPrintable(text));
}

bool replaceFile(const QString &path, const QByteArray &bytes, detail::WriteHook hook, ReplaceTarget target = {})
{
    QByteArray name = QFile::encodeName(path + QStringLiteral(".tmp.XXXXXX"));
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        reportWriteError(target, systemError(QStringLiteral("cannot create"), path));
        return false;
    }
    struct stat old {};
    const mode_t mode = ::stat(QFile::encodeName(path).constData(), &old) == 0 ? (old.st_mode & 07777)
                        : target.ordinaryFile                                ? (0666 & ~currentUmask())
                                                                             : 0600;
    bool ok = ::fchmod(fd, mode) == 0;
    ok = ok && writeAll(fd, bytes);
    if (ok && hook && !hook(detail::WriteStep::TempWritten)) {
        ::close(fd);
        return false;
    }
    ok = ok && ::fsync(fd) == 0;
    if (ok && hook && !hook(detail::WriteStep::TempSynced)) {
        ::close(fd);
        return false;
    }
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(name.constData(), QFile::encodeName(path).constData()) == 0;
    if (!ok) {
        reportWriteError(target, systemError(QStringLiteral("cannot write"), path));
        ::unlink(name.constData());
        return false;
    }
    syncFolder(QFileInfo(path).absolutePath());
    return true;
}

// Applies `ops` to the current file under both locks and writes the result
// when it differs. With `all`, a failing op cancels the whole write.
bool commit(const QString &path, const std::vector<Mutation> &ops, bool all)
{
    HiveStore &s = store();
    std::lock_guard lock(s.mutex);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    FileLock fileLock(path + QStringLiteral(".lock"));
    if (!fileLock.locked()) {
        qWarning("registry: %s", qPrintable(systemError(QStringLiteral("cannot lock"), path)));
        return false;
    }
    const FileImage image = readFile(path);
    RegHive hive = hiveOf(s, path, image);
    if (!image.error.isEmpty())
        return false;  // never replace a file we could not read
    const QString before = HiveToText(hive);
    bool ok = true;
    for (const Mutation &op : ops)
        ok = op(hive) && ok;
    if (!ok && all)
        return false;
    const QString after = HiveToText(hive);
    if (after == before)
        return ok;
    removeStaleTemporaries(path);
    FileImage written{true, {}, EncodeRegText(after)};
    if (!replaceFile(path, written.bytes, s.hook))
        return false;
    s.cachedPath = ownCopy(path);
    s.cachedImage = std::move(written);
    s.cachedHive = std::move(hive);
    return ok;
}

bool mutate(Mutation op)
{
    if (tBatch.depth > 0) {
        if (!tBatch.view) {
            HiveStore &s = store();
            std::lock_guard lock(s.mutex);
            tBatch.path = HivePath();
            tBatch.view = loadHive(s, tBatch.path);
        }
        if (!op(*tBatch.view))
            return false;
        tBatch.log.push_back(std::move(op));
        return true;
    }
    return commit(HivePath(), {std::move(op)}, true);
}

// Key path parts, or nullopt for a path no key can have.
std::optional<QStringList> keyParts(const QString &path)
{
    QStringList parts = SplitKeyPath(path);
    if (parts.size() > 512)
        return std::nullopt;
    for (const QString &part : parts) {
        if (!IsValidKeyName(part))
            return std::nullopt;
    }
    return parts;
}

// Runs f on the key at `path` (nullptr when there is none) in the hive seen.
template <typename F>
auto readKey(const QString &path, F &&f)
{
    const auto parts = keyParts(path);
    return readHive([&](const RegHive &hive) {
        return f(parts ? hive.find(*parts) : static_cast<const RegKey *>(nullptr));
    });
}

// Applies f to the key at `path`; false when there is none.
bool changeKey(const QString &path, std::function<bool(RegKey &)> f)
{
    const auto parts = keyParts(path);
    if (!parts)
        return false;
    return mutate([parts = *parts, f = std::move(f)](RegHive &hive) {
        RegKey *key = hive.find(parts);
        return key && f(*key);
    });
}

}  // namespace

QString HivePath()
{
    const QString explicitPath = qEnvironmentVariable("VIDSTILL_REGISTRY");
    if (!explicitPath.isEmpty())
        return explicitPath;
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Vostrel/registry/HKCU.reg");
}

bool KeyExists(const QString &path)
{
    return readKey(path, [](const RegKey *key) { return key != nullptr; });
}

bool CreateKey(const QString &path)
{
    const auto parts = keyParts(path);
    return parts && mutate([parts = *parts](RegHive &hive) {
        hive.create(parts);
        return true;
    });
}

std::optional<RegValue> QueryValue(const QString &path, const QString &name)
{
    return readKey(path, [&](const RegKey *key) -> std::optional<RegValue> {
        const RegValue *value = key ? key->value(name) : nullptr;
        return value ? std::optional(*value) : std::nullopt;
    });
}

bool SetValue(const QString &path, const QString &name, const RegValue &value)
{
    if (!IsValidValueName(name))
        return false;
    return changeKey(path, [name, value](RegKey &key) {
        key.setValue(name, value);
        return true;
    });
}

bool DeleteValue(const QString &path, const QString &name)
{
    return changeKey(path, [name](RegKey &key) { return key.removeValue(name); });
}

std::optional<QStringList> ValueNames(const QString &path)
{
    return readKey(path, [](const RegKey *key) -> std::optional<QStringList> {
        if (!key)
            return std::nullopt;
        QStringList names;
        for (const NamedValue &v : key->values)
            names.append(v.name);
        return names;
    });
}

std::optional<QStringList> SubKeyNames(const QString &path)
{
    return readKey(path, [](const RegKey *key) -> std::optional<QStringList> {
        if (!key)
            return std::nullopt;
        QStringList names;
        for (const RegKey &sub : key->subkeys)
            names.append(sub.name);
        return names;
    });
}

bool DeleteKey(const QString &path)
{
    const auto parts = keyParts(path);
    return parts && mutate([parts = *parts](RegHive &hive) {
        const RegKey *key = hive.find(parts);
        return key && key->subkeys.empty() && hive.removeTree(parts);
    });
}

bool DeleteKeyTree(const QString &path)
{
    // In the hive model every subkey can be removed, so the tree goes at once.
    const auto parts = keyParts(path);
    return parts && mutate([parts = *parts](RegHive &hive) { return hive.removeTree(parts); });
}

QString ExportKey(const QString &path)
{
    const auto parts = keyParts(path);
    return readHive([&](const RegHive &hive) {
        if (!parts)
            return QString();
        QStringList stored;  // the names as the hive spells them
        const RegKey *key = &hive.root;
        for (const QString &part : *parts) {
            key = key->subkey(part);
            if (!key)
                return QString();
            stored.append(key->name);
        }
        return KeyToText(*key, stored);
    });
}

bool ImportFile(const QString &fileName, QString *error)
{
    QStringList notes;
    const bool ok = ImportFile(fileName, error, &notes);
    for (const QString &note : notes)
        qInfo("reg import %s: %s", qPrintable(fileName), qPrintable(note));
    return ok;
}

bool ImportFile(const QString &fileName, QString *error, QStringList *notes)
{
    auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot open %1: %2").arg(fileName, file.errorString()));
    const RegParse parse = ParseRegText(DecodeRegBytes(file.readAll()), ParseMode::Import);
    if (!parse.hasHeader)
        return fail(QStringLiteral("%1 is not a registry file").arg(fileName));
    if (!parse.error.isEmpty())
        return fail(QStringLiteral("%1 line %2: %3").arg(fileName).arg(parse.errorLine).arg(parse.error));
    for (const RegSection &section : parse.sections) {
        if (notes && section.root.compare(QLatin1StringView("HKEY_CURRENT_USER"), Qt::CaseInsensitive) != 0)
            notes->append(QStringLiteral("skipped key outside HKEY_CURRENT_USER: %1\\%2")
                              .arg(section.root, section.path.join(u'\\')));
    }
    if (!mutate([sections = parse.sections](RegHive &hive) {
            ApplySections(hive, sections);
            return true;
        }))
        return fail(QStringLiteral("cannot write the registry hive %1").arg(HivePath()));
    if (error)
        error->clear();
    return true;
}

std::optional<QString> RelativeKeyPath(const QString &fullKey)
{
    for (QLatin1StringView root : {QLatin1StringView("HKEY_CURRENT_USER"), QLatin1StringView("HKCU")}) {
        if (!fullKey.startsWith(root, Qt::CaseInsensitive))
            continue;
        const QStringView rest = QStringView(fullKey).mid(root.size());
        if (rest.isEmpty())
            return QString();
        if (rest.startsWith(u'\\'))
            return rest.mid(1).toString();
    }
    return std::nullopt;
}

bool DeleteKeyCommand(const QString &fullKey)
{
    const auto path = RelativeKeyPath(fullKey);
    return path && !SplitKeyPath(*path).isEmpty() && DeleteKeyTree(*path);
}

bool ReplaceFile(const QString &path, const QByteArray &bytes, QString *error, bool ordinaryFile)
{
    return replaceFile(path, bytes, nullptr, ReplaceTarget{error, ordinaryFile});
}

Batch::Batch()
{
    ++tBatch.depth;
}

Batch::~Batch()
{
    Commit();
}

bool Batch::Commit()
{
    if (!FOpen)
        return FResult;
    FOpen = false;
    if (--tBatch.depth > 0)
        return FResult;
    const std::vector<Mutation> log = std::move(tBatch.log);
    const QString path = tBatch.path;
    tBatch = ThreadBatch{};
    FResult = log.empty() || commit(path, log, false);
    if (!FResult)
        qWarning("registry: the changes of a batch could not be written to %s", qPrintable(path));
    return FResult;
}

QString LastHiveError()
{
    HiveStore &s = store();
    std::lock_guard lock(s.mutex);
    return s.lastError;
}

namespace detail {
void SetWriteHook(WriteHook hook)
{
    HiveStore &s = store();
    std::lock_guard lock(s.mutex);
    s.hook = hook;
}
}  // namespace detail

}  // namespace reg
