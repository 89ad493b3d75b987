#include "mainNaming.h"

#include "KWPack/uMediaFormats.h"
#include "platform/base/ImageFiles.h"
#include "platform/shell/PicturesFolder.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

// Where the naming actions sit among the window's; the window's table gives
// them no category of their own.
const QString kCategory = QStringLiteral("cat_Images");

// Longest padding FormatNumber makes: a longer name cannot be saved anyway.
constexpr int32_t kMaxDigits = 255;

template <class T>
T *NewNamingAction(TKWActionList *gpal, const char *name, const char *script, const char *sw)
{
    auto *a = new T(QString::fromLatin1(name), gpal);
    a->SetName(QString::fromLatin1(name));
    a->ScriptName = QString::fromLatin1(script);
    a->Switch = QString::fromLatin1(sw);
    a->Category = kCategory;
    a->IncludePrefs = true;
    return a;
}

TBooleanAction *NewBool(TKWActionList *gpal, const char *name, const char *script, const char *sw, bool def,
                        const char *caption)
{
    auto *a = NewNamingAction<TBooleanAction>(gpal, name, script, sw);
    a->SetCaption(QString::fromLatin1(caption));
    a->ApplyWhenLoad = true;
    a->SetDefaultValue(def);
    return a;
}

TIntegerAction *NewInt(TKWActionList *gpal, const char *name, const char *script, const char *sw, int32_t def,
                       const char *caption)
{
    auto *a = NewNamingAction<TIntegerAction>(gpal, name, script, sw);
    a->SetCaption(QString::fromLatin1(caption));
    a->ApplyWhenLoad = true;
    a->SetDefaultValue(def);
    return a;
}

TWidestringAction *NewText(TKWActionList *gpal, const char *name, const char *script, const char *sw,
                           const QString &def, const char *caption)
{
    auto *a = NewNamingAction<TWidestringAction>(gpal, name, script, sw);
    a->SetCaption(QString::fromLatin1(caption));
    a->ApplyWhenLoad = true;
    a->SetDefaultValue(def);
    return a;
}

// A command that sets `target` to `value`. Not applied on load: loading a
// command would change the setting it stands for.
TNopeAction *NewSetter(TKWActionList *gpal, const char *name, const char *script, const char *sw,
                       const char *caption, TIntegerAction *target, int32_t value)
{
    auto *a = NewNamingAction<TNopeAction>(gpal, name, script, sw);
    a->SetCaption(QString::fromLatin1(caption));
    const QPointer<TIntegerAction> t(target);
    a->InternalApply = [t, value] {
        if (t)
            t->SetValue(value);
    };
    return a;
}

}  // namespace

QString WithTrailingSlash(const QString &folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

TNamingActions CreateNamingActions(TKWActionList *gpal)
{
    TNamingActions n;
    n.baConfirmerImage = NewBool(gpal, "baConfirmerImage", "ConfirmerImage", "swi_ci", false,
                                 "Confirm before replacing an existing image");
    n.baSauverQuandClic = NewBool(gpal, "baSauverQuandClic", "SauverQuandClic", "swi_sq", true,
                                  "Save the image when click on the video");
    n.iaDigits = NewInt(gpal, "iaDigits", "Digits", "swi_dig", 3, "Digits");
    n.iaImageExtension = NewInt(gpal, "iaImageExtension", "ImageExtension", "swi_iex", 0, "Image format");
    n.iaJpegCompressionQuality =
        NewInt(gpal, "iaJpegCompressionQuality", "JpegCompressionQuality", "swi_qual", 50, "Jpeg quality");
    n.iaImageAjouter = NewInt(gpal, "iaImageAjouter", "ImageAjouter", "swi_addi", 0, "Add to the root");
    n.waDossierSave = NewText(gpal, "waDossierSave", "FolderSave", "swi_savfold", WithTrailingSlash(PicturesFolder()),
                              "Folder of the images");
    // Read again at every load: the pictures folder may have moved since.
    n.waDossierSave->OnDefault = [](QString &v) {
        v = WithTrailingSlash(PicturesFolder());
        return true;
    };
    n.iaNomFichierImage = NewInt(gpal, "iaNomFichierImage", "NomFichierImage", "swi_fname", 0, "Root of the names");
    n.baLimiterLongueur = NewBool(gpal, "baLimiterLongueur", "LimiterLongueur", "swi_limit", false,
                                  "Set a maximum length for the root name");
    n.iaRacineLength = NewInt(gpal, "iaRacineLength", "RacineLength", "swi_rootlen", 8, "Length of the root");
    n.waDefaultRacine =
        NewText(gpal, "waDefaultRacine", "DefaultRacine", "swi_root", QStringLiteral("Vidstill"), "Root");
    n.iaNextNum = NewInt(gpal, "iaNextNum", "NextNum", "swi_n", 1, "Next number");
    n.naJpegExtension =
        NewSetter(gpal, "naJpegExtension", "JpegExtension", "swi_swi_ej", "Save as JPEG", n.iaImageExtension, 1);
    n.naBmpExtension =
        NewSetter(gpal, "naBmpExtension", "BmpExtension", "swi_eb", "Save as BMP", n.iaImageExtension, 0);
    n.naAjouterTimeStamp = NewSetter(gpal, "naAjouterTimeStamp", "AjouterTimeStamp", "swi_as", "Add timestamp",
                                     n.iaImageAjouter, 0);
    n.naAjouterNumero =
        NewSetter(gpal, "naAjouterNumero", "AjouterNumero", "swi_an", "Add a number", n.iaImageAjouter, 1);
    n.baRAZWhenOpenFile = NewBool(gpal, "baRAZWhenOpenFile", "RAZWhenOpenFile", "swi_raz", true,
                                  "Put the numbers back to zero when you open a video");
    return n;
}

TNamingSettings NamingSettings(const TNamingActions &acts)
{
    TNamingSettings s;
    s.Folder = acts.waDossierSave->Value();
    s.NomFichierImage = acts.iaNomFichierImage->Value();
    s.DefaultRacine = acts.waDefaultRacine->Value();
    s.LimiterLongueur = acts.baLimiterLongueur->Value();
    s.RacineLength = acts.iaRacineLength->Value();
    s.ImageAjouter = acts.iaImageAjouter->Value();
    s.ImageExtension = acts.iaImageExtension->Value();
    return s;
}

QString FormatNumber(int64_t number, int32_t digits)
{
    QString text = QString::number(number < 0 ? -static_cast<uint64_t>(number) : static_cast<uint64_t>(number));
    const int32_t width = std::min(digits, kMaxDigits) - (number < 0 ? 1 : 0);
    if (text.size() < width)
        text.prepend(QString(width - text.size(), QLatin1Char('0')));
    return number < 0 ? QLatin1Char('-') + text : text;
}

QString RootNameFor(const TNamingSettings &s, const QString &currentVideoFile)
{
    if (s.NomFichierImage == 0)
        return s.DefaultRacine;
    // Windows names end at '\' or ':' as well; harmless for ours.
    qsizetype sep = -1;
    for (const QChar c : {QLatin1Char('/'), QLatin1Char('\\'), QLatin1Char(':')})
        sep = std::max(sep, currentVideoFile.lastIndexOf(c));
    QString name = currentVideoFile.mid(sep + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    if (s.LimiterLongueur)
        name.truncate(std::max<int32_t>(s.RacineLength, 0));
    return name;
}

QString ImageExtensionFor(int32_t imageExtension)
{
    return imageExtension != 0 ? QStringLiteral(".jpg") : QStringLiteral(".bmp");
}

QString ImageNameFor(const TNamingSettings &s, const QString &rootName, const QString &numberText,
                     REFERENCE_TIME position, REFERENCE_TIME frameDuration, const QString &previous)
{
    QString tail;
    if (s.ImageAjouter == 1)
        tail = numberText;
    else if (s.ImageAjouter == 0)
        tail = PositionText(position, frameDuration).replace(QLatin1Char(':'), QLatin1Char('.'));
    else
        return previous;
    return WithTrailingSlash(s.Folder) + rootName + QLatin1Char('_') + tail + ImageExtensionFor(s.ImageExtension);
}

QRect AspectFit(int32_t a, int32_t b, const QRect &r, int32_t margin)
{
    const TRect t = AspectFit(a, b, TRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}, margin,
                              false);
    return QRect(t.Left, t.Top, t.Width(), t.Height());
}

QSize SnapshotSize(int32_t a, int32_t b, const QSize &grab)
{
    return AspectFit(a, b, QRect(QPoint(0, 0), grab), 0).size();
}

QString OverwriteQuestionText(const QString &path)
{
    return QStringLiteral("The file %1 already exists. Do yout want to replace it?\r\n\r\n"
                          "Click on \"Yes to All\" to stop being prompted.")
        .arg(path);
}

TOverwriteAnswer AskOverwrite(QWidget *parent, const QString &path)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Vidstill"), OverwriteQuestionText(path), QMessageBox::NoButton,
                    parent);
    box.setObjectName(QStringLiteral("OverwriteQuestion"));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel | QMessageBox::YesToAll);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    box.button(QMessageBox::YesToAll)->setText(QStringLiteral("Yes to All"));
    switch (box.exec()) {
    case QMessageBox::Yes:
        return TOverwriteAnswer::Yes;
    case QMessageBox::YesToAll:
        return TOverwriteAnswer::YesToAll;
    case QMessageBox::No:
        return TOverwriteAnswer::No;
    default:
        return TOverwriteAnswer::Cancel;
    }
}

bool TSnapshotSaver::WriteImage(const QImage &image, const QString &path, QString *error) const
{
    if (FActs.iaImageExtension->Value() != 0)
        return WriteJpeg(image, path, FActs.iaJpegCompressionQuality->Value(), error);
    return WriteBmp24(image, path, error);
}

bool TSnapshotSaver::SaveSnapshot(const QImage &image, const QString &path, QString *error)
{
    QString why;
    if (!WriteImage(image, path, &why)) {
        std::fprintf(stderr, "vidstill: could not save %s: %s\n", qPrintable(path), qPrintable(why));
        if (error)
            *error = why;
        return false;
    }
    // A script may have set the highest number; stay there rather than wrap.
    const int32_t n = FActs.iaNextNum->Value();
    FActs.iaNextNum->SetValue(n < INT32_MAX ? n + 1 : n);
    return true;
}

TSaveOutcome TSnapshotSaver::SaveSnapshotConfirmed(const QImage &image, const QString &path,
                                                   const TOverwriteQuestion &ask, QString *error)
{
    if (FActs.baConfirmerImage->Value() && QFileInfo::exists(path)) {
        switch (ask ? ask(path) : TOverwriteAnswer::No) {
        case TOverwriteAnswer::Yes:
            break;
        case TOverwriteAnswer::YesToAll:
            FActs.baConfirmerImage->SetValue(false);
            break;
        case TOverwriteAnswer::No:
            return TSaveOutcome::Declined;
        case TOverwriteAnswer::Cancel:
            return TSaveOutcome::Cancelled;
        }
    }
    return SaveSnapshot(image, path, error) ? TSaveOutcome::Saved : TSaveOutcome::Failed;
}
