// Naming and saving the grabbed images: the main window's settings for them,
// the next image's name, the snapshot's size, and the save with its overwrite
// question. No widgets here except the question box, so batch runs and tests
// drive all of it.
//
// UI thread only (the actions are QActions).
#pragma once

#include "KWPack/uScriptAction.h"
#include "platform/base/WinTypes.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>

class QWidget;

// The naming and saving actions of the main window's list. The list owns them;
// these are references only.
struct TNamingActions {
    TBooleanAction *baConfirmerImage = nullptr;
    TBooleanAction *baSauverQuandClic = nullptr;
    TIntegerAction *iaDigits = nullptr;
    TIntegerAction *iaImageExtension = nullptr;  // 0 BMP, anything else JPEG
    TIntegerAction *iaJpegCompressionQuality = nullptr;
    TIntegerAction *iaImageAjouter = nullptr;  // 0 position, 1 number
    TWidestringAction *waDossierSave = nullptr;
    TIntegerAction *iaNomFichierImage = nullptr;  // 0 fixed root, else the video's name
    TBooleanAction *baLimiterLongueur = nullptr;
    TIntegerAction *iaRacineLength = nullptr;
    TWidestringAction *waDefaultRacine = nullptr;
    TIntegerAction *iaNextNum = nullptr;
    TNopeAction *naJpegExtension = nullptr;
    TNopeAction *naBmpExtension = nullptr;
    TNopeAction *naAjouterTimeStamp = nullptr;
    TNopeAction *naAjouterNumero = nullptr;
    TBooleanAction *baRAZWhenOpenFile = nullptr;
};

// Creates the seventeen actions in `gpal`, in the window's list order, with
// their script names, switches, defaults and category. The four commands set
// the extension or the naming mode through their internal apply; the
// published events stay free for the window.
TNamingActions CreateNamingActions(TKWActionList *gpal);

// The naming settings as one value, read from the actions.
struct TNamingSettings {
    QString Folder;
    int32_t NomFichierImage = 0;
    QString DefaultRacine;
    bool LimiterLongueur = false;
    int32_t RacineLength = 8;
    int32_t ImageAjouter = 0;
    int32_t ImageExtension = 0;
};
TNamingSettings NamingSettings(const TNamingActions &acts);

// `folder` ending with one '/' (added when missing).
QString WithTrailingSlash(const QString &folder);

// The number padded with zeros in front to `digits` characters; never cut.
// The sign stays in front of the zeros, and the padding stops at 255 (no file
// name is longer), so a script's odd value cannot ask for gigabytes.
QString FormatNumber(int64_t number, int32_t digits);

// The root of the next names: the fixed root, or the video's file name
// without its extension (cut to the length when asked); empty with no video.
QString RootNameFor(const TNamingSettings &s, const QString &currentVideoFile);

// ".jpg" or ".bmp".
QString ImageExtensionFor(int32_t imageExtension);

// The next image's full path: folder (with a trailing '/'), root, "_", then
// the number text or the position ("h.mm.ss.ff"), then the extension. Any
// other naming mode keeps `previous`.
QString ImageNameFor(const TNamingSettings &s, const QString &rootName, const QString &numberText,
                     REFERENCE_TIME position, REFERENCE_TIME frameDuration, const QString &previous);

// The largest a:b box inside `r` shrunk by `margin`, centred (integer
// division, spare space halved downwards); the shrunk box when a or b is not
// above 0.
QRect AspectFit(int32_t a, int32_t b, const QRect &r, int32_t margin);
// The saved image's size for a grab of `grab` shown at the aspect a:b.
QSize SnapshotSize(int32_t a, int32_t b, const QSize &grab);

enum class TOverwriteAnswer { Yes, No, Cancel, YesToAll };
// Asked with the full path of the file that exists.
using TOverwriteQuestion = std::function<TOverwriteAnswer(const QString &path)>;

// The question box: a warning with Yes, No, Cancel and "Yes to All".
TOverwriteAnswer AskOverwrite(QWidget *parent, const QString &path);
// Its text for `path`.
QString OverwriteQuestionText(const QString &path);

enum class TSaveOutcome {
    Saved,      // written, the number advanced
    Declined,   // "No": nothing written
    Cancelled,  // "Cancel": nothing written; the caller ends a running series
    Failed,     // the write failed: nothing replaced, the number kept
};

// Writes snapshots where the actions say, as they say. Holds references to
// the actions only; the list owns them.
class TSnapshotSaver {
public:
    explicit TSnapshotSaver(const TNamingActions &acts) : FActs(acts) {}

    // Writes `image` to `path` as BMP (24 bits) or JPEG (with the quality
    // setting). The file is written aside and renamed into place, so a failure
    // leaves no partial file and keeps an existing one. False with a reason.
    bool WriteImage(const QImage &image, const QString &path, QString *error) const;

    // WriteImage, then the next number on success. A failure is also written
    // to stderr, so a batch run leaves a trace without a box.
    bool SaveSnapshot(const QImage &image, const QString &path, QString *error);

    // Asks before replacing an existing file when baConfirmerImage is on;
    // "Yes to All" turns it off. Then SaveSnapshot. Without anyone to ask
    // (`ask` empty) an existing file is kept, as with "No".
    TSaveOutcome SaveSnapshotConfirmed(const QImage &image, const QString &path, const TOverwriteQuestion &ask,
                                       QString *error);

private:
    TNamingActions FActs;
};
