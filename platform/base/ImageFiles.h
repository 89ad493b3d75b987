// Still-image files: the grabbed frame saved as a 24-bit BMP or a baseline
// JPEG.
//
// Each writer encodes into memory first and then replaces the file all or
// nothing (reg::ReplaceFile: written beside it, synced, renamed over it), so
// a failed write never leaves a half-written file and never harms a file that
// was already there. A new file gets the usual permissions (0666 less the
// umask); a replaced one keeps its own.
//
// Any thread (libjpeg keeps no global state; each call has its own encoder).
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// The BMP file's bytes: BITMAPFILEHEADER (14) and BITMAPINFOHEADER (40), then
// the rows bottom-up in blue, green, red order, each padded to 4 bytes. Alpha
// is dropped. Empty for an empty image or one too large for the format.
QByteArray EncodeBmp24(const QImage &image);

// Baseline JPEG (SOF0), 4:2:0 (2x2 luma sampling), quality clamped to 1..100.
// Empty, with a reason in `error` when given, for an empty image or one
// libjpeg refuses (over 65500 pixels a side).
QByteArray EncodeJpeg(const QImage &image, int quality, QString *error = nullptr);

// False, with a reason in `error` when given, when the image cannot be
// encoded or the file cannot be written; the file is then as it was.
bool WriteBmp24(const QImage &image, const QString &path, QString *error = nullptr);
bool WriteJpeg(const QImage &image, const QString &path, int quality, QString *error = nullptr);
