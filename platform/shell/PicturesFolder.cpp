#include "platform/shell/PicturesFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString PicturesFolder()
{
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QFileInfo(pictures).isDir())
        return QDir::cleanPath(QFileInfo(pictures).absoluteFilePath());
    return QDir::cleanPath(QDir::homePath());
}
