// Still-image files: the BMP's bytes field by field, JPEGs decoded back and
// their markers read, and writes that fail (missing or unwritable folder,
// the file-size limit standing in for a full disk) leaving every file as it was.
#include "platform/base/ImageFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <cstdint>
#include <cstdlib>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uint32_t U32(const QByteArray &b, int at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(b.at(at + i));
    return v;
}

uint16_t U16(const QByteArray &b, int at)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(b.at(at)) | (static_cast<uint8_t>(b.at(at + 1)) << 8));
}

// A picture with detail in both directions and flat colour areas.
QImage TestPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, (x / 16 + y / 16) % 2 ? 200 : 40));
    return image;
}

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A JPEG marker segment: its code and its payload (after the length).
struct Segment {
    uint8_t marker;
    QByteArray payload;
};

// The segments up to the start of the scan.
QList<Segment> Segments(const QByteArray &jpeg)
{
    QList<Segment> result;
    int at = 2;  // after SOI
    while (at + 4 <= jpeg.size() && static_cast<uint8_t>(jpeg.at(at)) == 0xFF) {
        const auto marker = static_cast<uint8_t>(jpeg.at(at + 1));
        const int length = (static_cast<uint8_t>(jpeg.at(at + 2)) << 8) | static_cast<uint8_t>(jpeg.at(at + 3));
        result.append({marker, jpeg.mid(at + 4, length - 2)});
        if (marker == 0xDA)
            break;
        at += 2 + length;
    }
    return result;
}

QStringList FilesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

mode_t Mode(const QString &path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 0777;
}

}  // namespace

TEST(ImageFiles, BmpHeadersAndRowsFieldByField)
{
    QImage image(3, 2, QImage::Format_RGB32);  // odd width: each row carries 3 padding bytes
    const QRgb pixels[] = {qRgb(1, 2, 3),    qRgb(4, 5, 6),    qRgb(7, 8, 9),
                           qRgb(10, 20, 30), qRgb(40, 50, 60), qRgb(70, 80, 90)};
    for (int i = 0; i < 6; ++i)
        image.setPixel(i % 3, i / 3, pixels[i]);
    const QByteArray b = EncodeBmp24(image);
    ASSERT_EQ(b.size(), 54 + 2 * 12);
    EXPECT_EQ(b.left(2), QByteArray("BM"));
    EXPECT_EQ(U16(b, 26), 1);   // biPlanes
    EXPECT_EQ(U16(b, 28), 24);  // biBitCount
    // bfSize, bfReserved1+2, bfOffBits, biSize, biWidth, biHeight (positive:
    // bottom-up); after planes and bit count: BI_RGB, biSizeImage, no
    // resolution, no palette.
    const struct {
        int at;
        uint32_t value;
    } fields[] = {{2, 78}, {6, 0}, {10, 54}, {14, 40}, {18, 3}, {22, 2},
                  {30, 0}, {34, 24}, {38, 0}, {42, 0}, {46, 0}, {50, 0}};
    for (const auto &f : fields)
        EXPECT_EQ(U32(b, f.at), f.value) << "at offset " << f.at;
    // The bottom row comes first, blue-green-red, then zero padding.
    EXPECT_EQ(b.mid(54, 12), QByteArray::fromHex("1e140a 3c3228 5a5046 000000"));
    EXPECT_EQ(b.mid(66, 12), QByteArray::fromHex("030201 060504 090807 000000"));

    // Another reader sees the same pictures.
    EXPECT_EQ(QImage::fromData(b, "BMP").convertToFormat(QImage::Format_RGB32), image);
    const QImage wide = TestPicture(641, 37);
    EXPECT_EQ(QImage::fromData(EncodeBmp24(wide), "BMP").convertToFormat(QImage::Format_RGB32), wide);
}

TEST(ImageFiles, JpegIsBaseline420DecodesCloseAndShowsItsQuality)
{
    const QImage image = TestPicture(160, 120);
    const QByteArray jpeg = EncodeJpeg(image, 90);
    ASSERT_TRUE(jpeg.startsWith("\xFF\xD8"));
    ASSERT_TRUE(jpeg.endsWith("\xFF\xD9"));
    const Segment *sof = nullptr;
    const QList<Segment> segments = Segments(jpeg);
    for (const Segment &s : segments) {
        EXPECT_FALSE(s.marker == 0xC1 || s.marker == 0xC2) << "extended or progressive";
        if (s.marker == 0xC0)
            sof = &s;
    }
    ASSERT_NE(sof, nullptr) << "no SOF0";
    // Precision, height, width, components; then id, sampling, table of each.
    EXPECT_EQ(sof->payload.left(6), QByteArray::fromHex("08 0078 00a0 03"));
    EXPECT_EQ(static_cast<uint8_t>(sof->payload.at(7)), 0x22) << "luma 2x2";
    EXPECT_EQ(static_cast<uint8_t>(sof->payload.at(10)), 0x11);
    EXPECT_EQ(static_cast<uint8_t>(sof->payload.at(13)), 0x11);

    const QImage back = QImage::fromData(jpeg, "JPEG").convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(back.size(), image.size());
    double total = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb a = image.pixel(x, y), b = back.pixel(x, y);
            total += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
        }
    EXPECT_LT(total / (3.0 * image.width() * image.height()), 4.0);

    // The first luminance quantizer: 16 in the standard table (quality 50),
    // 1 at quality 100. Out of range is clamped.
    const auto firstQuantizer = [](const QByteArray &bytes) {
        for (const Segment &s : Segments(bytes))
            if (s.marker == 0xDB && s.payload.at(0) == 0)
                return static_cast<int>(static_cast<uint8_t>(s.payload.at(1)));
        return -1;
    };
    EXPECT_EQ(firstQuantizer(EncodeJpeg(image, 50)), 16);
    EXPECT_EQ(firstQuantizer(EncodeJpeg(image, 100)), 1);
    EXPECT_EQ(EncodeJpeg(image, -7), EncodeJpeg(image, 1));
    EXPECT_EQ(EncodeJpeg(image, 1000), EncodeJpeg(image, 100));
}

// Layouts the encoder reads directly and those it converts first give the
// same file; an odd size checks the last rows and columns.
TEST(ImageFiles, JpegIsTheSameWhateverThePixelLayout)
{
    const QImage rgb32 = TestPicture(203, 117).convertToFormat(QImage::Format_RGB32);
    const QByteArray reference = EncodeJpeg(rgb32.convertToFormat(QImage::Format_RGB888), 90);
    ASSERT_FALSE(reference.isEmpty());
    for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_BGR888, QImage::Format_ARGB32,
                                  QImage::Format_RGB16}) {
        const QImage image = rgb32.convertToFormat(format);
        const QImage back = image.convertToFormat(QImage::Format_RGB888);
        EXPECT_EQ(EncodeJpeg(image, 90), EncodeJpeg(back, 90)) << "format " << int(format);
    }
    EXPECT_EQ(EncodeJpeg(rgb32, 90), reference);
}

TEST(ImageFiles, RefusedImagesAndFoldersGiveAReasonAndNoFile)
{
    QTemporaryDir dir;
    const QImage image = TestPicture(32, 32);
    QString error;
    EXPECT_FALSE(WriteJpeg(QImage(), dir.filePath("a.jpg"), 50, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(WriteBmp24(QImage(), dir.filePath("a.bmp"), &error));
    // libjpeg's limit is 65500 a side: its error must come back here, not
    // end the process; the encoder is whole afterwards.
    QImage tooWide(70000, 2, QImage::Format_RGB32);
    tooWide.fill(Qt::gray);
    EXPECT_FALSE(WriteJpeg(tooWide, dir.filePath("b.jpg"), 50, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("65500"))) << error.toStdString();
    EXPECT_TRUE(FilesIn(dir.path()).isEmpty());
    EXPECT_FALSE(EncodeJpeg(image, 50).isEmpty());

    EXPECT_FALSE(WriteBmp24(image, dir.filePath("gone/a.bmp"), &error));
    EXPECT_TRUE(error.contains(dir.filePath("gone"))) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("gone")));
    EXPECT_FALSE(WriteJpeg(image, QString(), 50, &error));
    // Root writes anywhere it may; /proc refuses even root.
    QString locked = QStringLiteral("/proc");
    if (::geteuid() != 0) {
        locked = dir.filePath("locked");
        QDir().mkpath(locked);
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
    }
    error.clear();
    EXPECT_FALSE(WriteJpeg(image, locked + "/a.jpg", 50, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(locked + "/a.jpg"));
    if (locked != QLatin1String("/proc"))
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(ImageFiles, AFailedWriteLeavesTheGoodFileWhole)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("good.bmp");
    ASSERT_TRUE(WriteBmp24(TestPicture(16, 16), path));
    const QByteArray good = ReadFile(path);

    // A file-size limit makes the write fail part-way, like a full disk.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QString bmpError, jpegError;
    const bool bmp = WriteBmp24(TestPicture(200, 200), path, &bmpError);
    const bool jpeg = WriteJpeg(TestPicture(400, 400), path, 100, &jpegError);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);

    EXPECT_FALSE(bmp);
    EXPECT_FALSE(jpeg);
    EXPECT_TRUE(bmpError.contains(path)) << bmpError.toStdString();
    EXPECT_FALSE(jpegError.isEmpty());
    EXPECT_EQ(ReadFile(path), good);
    EXPECT_EQ(FilesIn(dir.path()), QStringList{"good.bmp"}) << "no temporary left";
}

TEST(ImageFiles, NewFilesAreOrdinaryAndReplacedOnesKeepTheirMode)
{
    QTemporaryDir dir;
    const mode_t mask = ::umask(022);
    const QString fresh = dir.filePath("fresh.jpg");
    ASSERT_TRUE(WriteJpeg(TestPicture(16, 16), fresh, 50));
    EXPECT_EQ(Mode(fresh), 0644u);
    const QString kept = dir.filePath("kept.bmp");
    ASSERT_TRUE(WriteBmp24(TestPicture(16, 16), kept));
    ASSERT_EQ(::chmod(QFile::encodeName(kept).constData(), 0640), 0);
    ASSERT_TRUE(WriteBmp24(TestPicture(24, 24), kept));
    EXPECT_EQ(Mode(kept), 0640u);
    EXPECT_EQ(ReadFile(kept), EncodeBmp24(TestPicture(24, 24)));
    EXPECT_EQ(FilesIn(dir.path()), (QStringList{"fresh.jpg", "kept.bmp"}));
    ::umask(mask);
}
