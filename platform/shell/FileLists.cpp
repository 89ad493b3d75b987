#include "platform/shell/FileLists.h"

#include <QByteArray>
#include <QDrag>
#include <QMimeData>
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
        if (url.isValid() && url.isLocalFile() && !url.toLocalFile().isEmpty())
            files.append(url.toLocalFile());
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
