// Lists of files handed between programs: the clipboard, drops on a window and
// drags out of it. Freedesktop file managers offer them as "text/uri-list"
// (GNOME's also as "x-special/gnome-copied-files"); only local files count.
//
// UI thread only (QMimeData, QDrag).
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class QMimeData;

// The local files a mime payload lists, in order. Empty when it holds no
// file list (plain text, remote addresses, nothing at all).
QStringList DragQueryFiles(const QMimeData *data);

// A new payload offering `paths` as a file list; the caller owns it.
QMimeData *NewFileListData(const QStringList &paths);

// Carries files out of a window: loaded with a list, then Execute runs a
// drag-and-drop from the source object until the drop ends.
class TFileDropSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    QStringList Files() const { return FFiles; }
    void SetFiles(const QStringList &files) { FFiles = files; }
    // Drags started so far (a drop target may refuse any of them).
    int DragCount() const { return FDragCount; }

    // Blocks in the drag's own loop; answers the action the target took
    // (Qt::IgnoreAction when refused or when the list is empty).
    Qt::DropAction Execute(QObject *source);

private:
    QStringList FFiles;
    int FDragCount = 0;
};
