#include "platform/shell/Shell.h"

#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

namespace {

// A file browser started by D-Bus activation may take a moment to answer.
constexpr int kShowItemsTimeoutMs = 5000;

bool AskFileManager(const QString &path, const QDBusConnection &bus)
{
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, kShowItemsTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

// Qt writes the origin unescaped; the trash's readers unescape it, so a name
// holding "%" or a line break would be restored elsewhere. The record is
// Trash/info/NAME.trashinfo for Trash/files/NAME.
void EscapeTrashOrigin(const QString &trashed, const QString &origin)
{
    const QFileInfo t(trashed);
    const QString info = t.dir().filePath(QStringLiteral("../info/") + t.fileName() + QStringLiteral(".trashinfo"));
    QFile in(info);
    if (!in.open(QIODevice::ReadOnly))
        return;
    QList<QByteArray> lines = in.readAll().split('\n');
    in.close();
    for (QByteArray &line : lines)
        if (line.startsWith("Path="))
            line = "Path=" + QUrl::toPercentEncoding(origin, "/");
    QSaveFile out(info);
    if (out.open(QIODevice::WriteOnly) && out.write(lines.join('\n')) >= 0)
        out.commit();
}

}  // namespace

bool SHOpenFolderAndSelectItems(const QString &path, const QDBusConnection &bus)
{
    if (path.isEmpty())
        return false;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (AskFileManager(absolute, bus))
        return true;
    return ShellOpenFolder(QFileInfo(absolute).absolutePath());
}

bool ShellOpenFolder(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

bool MoveToRecycleBin(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || (!info.exists() && !info.isSymLink()))
        return false;
    // Read-only files go too: moving needs only the folder's permission.
    const QString origin = info.absoluteFilePath();
    QFile file(path);
    if (!file.moveToTrash())
        return false;
    EscapeTrashOrigin(file.fileName(), origin);
    return true;
}
