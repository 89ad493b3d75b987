// The desktop's shell: the file browser showing a file, opening a folder, and
// the recycle bin (the freedesktop trash).
//
// UI thread only (D-Bus calls block it for at most the call's time-out).
#pragma once

#include <QDBusConnection>
#include <QString>

// Asks the file browser to open the file's folder with the file selected
// (org.freedesktop.FileManager1.ShowItems on `bus`); when no browser answers
// there, opens the folder itself. False when neither could be asked or the
// file is not named.
bool SHOpenFolderAndSelectItems(const QString &path,
                                const QDBusConnection &bus = QDBusConnection::sessionBus());

// Opens a folder with the desktop's handler for folders.
bool ShellOpenFolder(const QString &folder);

// Moves a file or folder to the trash of its volume, silently, so it can be
// restored from there. False when it could not be moved (it is left as it was).
bool MoveToRecycleBin(const QString &path);
