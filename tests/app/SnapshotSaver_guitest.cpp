// Saving snapshots into real files: the format and quality the settings ask
// for, the number advancing only when the file is written, nothing harmed when
// the write fails, and the overwrite question with each of its answers.
#include "common/TestSupport.h"

#include "app/mainNaming.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// Four coloured quarters: wrong channel order or a flipped row order shows.
QImage Quarters(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool right = x >= w / 2, bottom = y >= h / 2;
            img.setPixelColor(x, y, !bottom ? (right ? QColor(255, 0, 0) : QColor(0, 255, 0))
                                            : (right ? QColor(0, 0, 255) : QColor(255, 255, 255)));
        }
    return img;
}

// Detail that only a high quality keeps.
QImage Noise(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB888);
    uint32_t x = 12345;
    for (int y = 0; y < h; ++y)
        for (int c = 0; c < w * 3; ++c) {
            x = x * 1664525u + 1013904223u;
            img.scanLine(y)[c] = uchar(x >> 24);
        }
    return img;
}

QByteArray Bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class SnapshotSaver : public ::testing::Test {
protected:
    QWidget form;
    TKWActionList gpal{&form};
    TNamingActions acts = CreateNamingActions(&gpal);
    TSnapshotSaver saver{acts};
    QTemporaryDir dir;
    QImage image = Quarters(64, 48);

    QString Path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }

    // An existing image the tests must not lose.
    QByteArray PutGoodFile(const QString &path)
    {
        const QByteArray good("a good picture already there");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(good);
        return good;
    }
};

}  // namespace

TEST_F(SnapshotSaver, WritesTheFormatAndQualityTheSettingsAskAndCounts)
{
    QString error;
    ASSERT_TRUE(saver.SaveSnapshot(image, Path("a.bmp"), &error)) << error.toStdString();
    const QByteArray bmp = Bytes(Path("a.bmp"));
    ASSERT_GE(bmp.size(), 54);
    EXPECT_TRUE(bmp.startsWith("BM"));
    EXPECT_EQ(uint8_t(bmp[28]), 24);  // bits per pixel
    EXPECT_EQ(QImage(Path("a.bmp")).pixelColor(60, 3), QColor(255, 0, 0));

    acts.iaImageExtension->SetValue(1);
    acts.iaJpegCompressionQuality->SetValue(95);
    ASSERT_TRUE(saver.SaveSnapshot(Noise(64, 48), Path("fine.jpg"), nullptr));
    acts.iaJpegCompressionQuality->SetValue(5);
    ASSERT_TRUE(saver.SaveSnapshot(Noise(64, 48), Path("coarse.jpg"), nullptr));
    const QByteArray fine = Bytes(Path("fine.jpg")), coarse = Bytes(Path("coarse.jpg"));
    EXPECT_TRUE(fine.startsWith("\xFF\xD8\xFF"));
    EXPECT_GT(fine.size(), coarse.size() * 2) << "the quality setting did not reach the encoder";
    EXPECT_EQ(QImage(Path("fine.jpg")).size(), image.size());
    EXPECT_EQ(acts.iaNextNum->Value(), 4);
}

TEST_F(SnapshotSaver, AFailedWriteLeavesNoFileKeepsTheOldOneAndTheNumber)
{
    acts.iaNextNum->SetValue(7);
    QString error;
    // A folder that does not exist (the folder edit cannot create one).
    const QString missing = Path("nowhere/Vidstill_007.bmp");
    EXPECT_FALSE(saver.SaveSnapshot(image, missing, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(missing));
    // A "folder" that is a file.
    PutGoodFile(Path("plainfile"));
    EXPECT_FALSE(saver.SaveSnapshot(image, Path("plainfile/x.bmp"), nullptr));
    // A read-only folder (root writes anywhere, so only as a user).
    if (geteuid() != 0) {
        ASSERT_TRUE(QDir().mkdir(Path("locked")));
        QFile::setPermissions(Path("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        EXPECT_FALSE(saver.SaveSnapshot(image, Path("locked/x.bmp"), nullptr));
        EXPECT_FALSE(QFileInfo::exists(Path("locked/x.bmp")));
        QFile::setPermissions(Path("locked"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner);
    }
    // A picture that cannot be encoded must not replace a good file.
    for (int ext : {0, 1}) {
        acts.iaImageExtension->SetValue(ext);
        const QString path = Path(ext ? "good.jpg" : "good.bmp");
        const QByteArray good = PutGoodFile(path);
        EXPECT_FALSE(saver.SaveSnapshot(QImage(), path, nullptr));
        EXPECT_EQ(Bytes(path), good);
    }
    EXPECT_EQ(acts.iaNextNum->Value(), 7);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3)
        << "a temporary file was left behind";
}

TEST_F(SnapshotSaver, EachAnswerOfTheOverwriteQuestion)
{
    const QString path = Path("Vidstill_001.bmp");
    acts.baConfirmerImage->SetValue(true);
    QStringList asked;
    TOverwriteAnswer answer = TOverwriteAnswer::No;
    const TOverwriteQuestion ask = [&](const QString &p) {
        asked << p;
        return answer;
    };

    // No file yet: no question.
    EXPECT_EQ(saver.SaveSnapshotConfirmed(image, path, ask, nullptr), TSaveOutcome::Saved);
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(acts.iaNextNum->Value(), 2);

    const QByteArray good = PutGoodFile(path);
    answer = TOverwriteAnswer::No;
    EXPECT_EQ(saver.SaveSnapshotConfirmed(image, path, ask, nullptr), TSaveOutcome::Declined);
    answer = TOverwriteAnswer::Cancel;
    EXPECT_EQ(saver.SaveSnapshotConfirmed(image, path, ask, nullptr), TSaveOutcome::Cancelled);
    EXPECT_EQ(saver.SaveSnapshotConfirmed(image, path, nullptr, nullptr), TSaveOutcome::Declined);
    EXPECT_EQ(asked, QStringList({path, path}));
    EXPECT_EQ(Bytes(path), good);
    EXPECT_EQ(acts.iaNextNum->Value(), 2);

    answer = TOverwriteAnswer::Yes;
    EXPECT_EQ(saver.SaveSnapshotConfirmed(image, path, ask, nullptr), TSaveOutcome::Saved);
    EXPECT_EQ(QImage(path).size(), image.size());
    EXPECT_TRUE(acts.baConfirmerImage->Value());
    EXPECT_EQ(acts.iaNextNum->Value(), 3);

    answer = TOverwriteAnswer::YesToAll;
    EXPECT_EQ(saver.SaveSnapshotConfirmed(image, path, ask, nullptr), TSaveOutcome::Saved);
    EXPECT_FALSE(acts.baConfirmerImage->Value());
    EXPECT_EQ(acts.iaNextNum->Value(), 4);
    // Not asked any more: the file is replaced at once.
    answer = TOverwriteAnswer::No;
    EXPECT_EQ(saver.SaveSnapshotConfirmed(image, path, ask, nullptr), TSaveOutcome::Saved);
    EXPECT_EQ(asked.size(), 4);

    // A failed write behind a "Yes" is a failure, not a save.
    acts.baConfirmerImage->SetValue(true);
    answer = TOverwriteAnswer::Yes;
    EXPECT_EQ(saver.SaveSnapshotConfirmed(QImage(), path, ask, nullptr), TSaveOutcome::Failed);
    EXPECT_EQ(acts.iaNextNum->Value(), 5);
}

TEST_F(SnapshotSaver, TheQuestionBoxOffersFourAnswers)
{
    const QString path = Path("Vidstill_001.bmp");
    const struct {
        QMessageBox::StandardButton button;
        TOverwriteAnswer answer;
    } cases[] = {{QMessageBox::Yes, TOverwriteAnswer::Yes},
                 {QMessageBox::No, TOverwriteAnswer::No},
                 {QMessageBox::Cancel, TOverwriteAnswer::Cancel},
                 {QMessageBox::YesToAll, TOverwriteAnswer::YesToAll}};
    for (const auto &c : cases) {
        QString text, yesToAll;
        int buttons = 0;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            text = box->text();
            buttons = int(box->buttons().size());
            yesToAll = box->button(QMessageBox::YesToAll)->text();
            EXPECT_EQ(box->icon(), QMessageBox::Warning);
            if (c.answer == TOverwriteAnswer::Yes)
                box->grab().save(TestArtifactsDir() + QStringLiteral("/overwrite-question.png"));
            box->button(c.button)->click();
        });
        EXPECT_EQ(AskOverwrite(&form, path), c.answer);
        EXPECT_EQ(buttons, 4);
        EXPECT_EQ(yesToAll, QStringLiteral("Yes to All"));
        EXPECT_TRUE(text.startsWith(QStringLiteral("The file ") + path + QStringLiteral(" already exists. Do yout")));
        EXPECT_TRUE(text.endsWith(QStringLiteral("Click on \"Yes to All\" to stop being prompted.")));
    }
}
