// Random clipboard and drop payloads through the file-list reader. The first
// byte picks the format (a URI list or GNOME's copied files), the rest is the
// payload as another program would offer it. Any broken invariant aborts.
#include "platform/shell/FileLists.h"

#include <QMimeData>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray payload(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1));
    QMimeData mime;
    mime.setData(data[0] & 1 ? QStringLiteral("x-special/gnome-copied-files") : QStringLiteral("text/uri-list"),
                 payload);
    const QStringList files = DragQueryFiles(&mime);
    for (const QString &f : files)
        if (!f.startsWith(QLatin1Char('/')))
            abort();
    // What we offer reads back the same.
    std::unique_ptr<QMimeData> again(NewFileListData(files));
    if (DragQueryFiles(again.get()) != files)
        abort();
    return 0;
}
