#include "platform/shell/FileLists.h"

#include <QByteArray>
#include <QDrag>
#include <QMimeData>
#include <QSysInfo>
#include <QUrl>

namespace {

const QString kGnomeCopied = QStringLiteral("x-special/gnome-copied-files");

// "copy" or "cut", then one URI a line.
QList<QUrl> GnomeCopiedUrls(const QByteArray &payload)
{
    QList<QUrl> urls;
    const QList<QByteArray> lines = payload.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (!line.isEmpty())
            urls.append(QUrl::fromEncoded(line, QUrl::StrictMode));
    }
    return urls;
}

// A file of this machine named in full: "file:relative" or a file on another
// host is not one a drop or a paste can open.
bool IsLocalFile(const QUrl &url)
{
    if (!url.isValid() || !url.isLocalFile())
        return false;
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) != 0 &&
        host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) != 0)
        return false;
    // Not QDir::isAbsolutePath: it takes ":name" (a Qt resource) as absolute.
    return url.path().startsWith(QLatin1Char('/'));
}

}  // namespace

QStringList DragQueryFiles(const QMimeData *data)
{
    if (!data)
        return {};
    QList<QUrl> urls;
    if (data->hasUrls())
        urls = data->urls();
    else if (data->hasFormat(kGnomeCopied))
        urls = GnomeCopiedUrls(data->data(kGnomeCopied));
    QStringList files;
    for (const QUrl &url : urls)
        if (IsLocalFile(url)) {
            // "file://///x" names /x; left as "///x" it would read as a
            // network name once offered again.
            QString path = url.path();
            while (path.startsWith(QStringLiteral("//")))
                path.remove(0, 1);
            files.append(path);
        }
    return files;
}

QMimeData *NewFileListData(const QStringList &paths)
{
    auto *data = new QMimeData;
    QList<QUrl> urls;
    QByteArray gnome("copy");
    for (const QString &path : paths) {
        const QUrl url = QUrl::fromLocalFile(path);
        urls.append(url);
        gnome += '\n' + url.toEncoded();
    }
    data->setUrls(urls);
    data->setData(kGnomeCopied, gnome);
    return data;
}

Qt::DropAction TFileDropSource::Execute(QObject *source)
{
    if (FFiles.isEmpty() || !source)
        return Qt::IgnoreAction;
    ++FDragCount;
    // The drag owns the payload; the source object owns the drag until exec ends.
    QDrag drag(source);
    drag.setMimeData(NewFileListData(FFiles));
    return drag.exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
}
