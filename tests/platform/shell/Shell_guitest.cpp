// The shell stand-ins against the real parts: mime payloads as file managers
// write them, a private D-Bus daemon with a file browser of our own on it,
// the freedesktop trash in a temporary data folder. No real file browser is
// ever started: the folder fallback goes to a URL handler of the test.
#include "PrivateBus.h"
#include "platform/shell/FileLists.h"
#include "platform/shell/Shell.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <memory>
#include <mutex>

namespace {

QString Touch(const QString &path, const QByteArray &contents = "x")
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write(contents);
    return path;
}

// Catches what would go to the desktop's URL handler.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> opened;
public slots:
    void Open(const QUrl &url) { opened.append(url); }
};

// A file browser on the bus: records what it is asked to show.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList Shown() const
    {
        std::lock_guard<std::mutex> lock(FLock);
        return FShown;
    }
public slots:
    void ShowItems(const QStringList &uris, const QString &)
    {
        std::lock_guard<std::mutex> lock(FLock);
        FShown += uris;
    }

private:
    mutable std::mutex FLock;
    QStringList FShown;
};


}  // namespace

// ---- file lists --------------------------------------------------------------------

TEST(FileLists, OnlyAbsoluteFilesOfThisMachineCount)
{
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"),
                 "# written by a file manager\r\n"
                 "file:///tmp/My%20Clips/caf%C3%A9.mkv\r\n"
                 "https://example.org/remote.mp4\r\n"
                 "file:relative.avi\r\n"
                 "file::resource.avi\r\n"
                 "file://elsewhere.example.org/tmp/remote.avi\r\n"
                 "file://localhost/tmp/third.avi\r\n"
                 "file://///tmp/fourth.avi\r\n");
    EXPECT_EQ(DragQueryFiles(&data),
              (QStringList{QString::fromUtf8("/tmp/My Clips/café.mkv"), "/tmp/third.avi", "/tmp/fourth.avi"}));
    QMimeData gnome;
    gnome.setData(QStringLiteral("x-special/gnome-copied-files"), "copy\nfile:///home/u/a.mp4\nfile:///home/u/b.mp4");
    EXPECT_EQ(DragQueryFiles(&gnome), (QStringList{"/home/u/a.mp4", "/home/u/b.mp4"}));
    QMimeData text;
    text.setText(QStringLiteral("/tmp/clip.avi"));  // text is no file list
    EXPECT_TRUE(DragQueryFiles(&text).isEmpty());
    EXPECT_TRUE(DragQueryFiles(nullptr).isEmpty());
}

TEST(FileLists, OfferedListsReadBackInBothFormats)
{
    const QStringList paths{QString::fromUtf8("/tmp/a b#c%20d?.mkv"), QString::fromUtf8("/tmp/日本/é.avi")};
    std::unique_ptr<QMimeData> data(NewFileListData(paths));
    EXPECT_EQ(DragQueryFiles(data.get()), paths);
    QMimeData gnomeOnly;
    gnomeOnly.setData(QStringLiteral("x-special/gnome-copied-files"), data->data("x-special/gnome-copied-files"));
    EXPECT_EQ(DragQueryFiles(&gnomeOnly), paths);
}

// ---- file browser --------------------------------------------------------------------

TEST(ShellFolders, FileBrowserOnTheBusShowsTheFileSelected)
{
    PrivateBus bus;
    if (bus.Address().isEmpty())
        GTEST_SKIP() << "no dbus-daemon";
    QDBusConnection service = bus.Connect(QStringLiteral("shell-test-service"));
    QDBusConnection client = bus.Connect(QStringLiteral("shell-test-client"));
    ASSERT_TRUE(service.isConnected() && client.isConnected());
    // The browser answers from its own thread while the caller blocks.
    QThread thread;
    FakeFileManager browser;
    browser.moveToThread(&thread);
    thread.start();
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &browser,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    UrlCatcher desktop;

    EXPECT_TRUE(SHOpenFolderAndSelectItems(QStringLiteral("/tmp/My Clips/a#1.mkv"), client));
    EXPECT_EQ(browser.Shown(), QStringList{"file:///tmp/My%20Clips/a%231.mkv"});
    EXPECT_TRUE(desktop.opened.isEmpty());

    service.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    EXPECT_TRUE(SHOpenFolderAndSelectItems(QStringLiteral("/tmp/My Clips/a#1.mkv"), client));
    EXPECT_EQ(desktop.opened, QList<QUrl>{QUrl::fromLocalFile("/tmp/My Clips")});
    EXPECT_EQ(browser.Shown().size(), 1);
    service.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
    thread.quit();
    thread.wait();
}

TEST(ShellFolders, WithoutABusTheFolderOpens)
{
    UrlCatcher desktop;
    const QDBusConnection none(QStringLiteral("shell-test-nothing"));
    ASSERT_FALSE(none.isConnected());
    EXPECT_TRUE(SHOpenFolderAndSelectItems(QStringLiteral("/tmp/clips/a.avi"), none));
    EXPECT_FALSE(SHOpenFolderAndSelectItems(QString(), none));
    EXPECT_EQ(desktop.opened, QList<QUrl>{QUrl::fromLocalFile("/tmp/clips")});
}

// ---- recycle bin ---------------------------------------------------------------------

class RecycleBin : public ::testing::Test {
protected:
    void SetUp() override
    {
        FOldHome = qgetenv("HOME");
        FOldData = qgetenv("XDG_DATA_HOME");
        // Home and data on the folder's volume, so the trash is the one here.
        qputenv("HOME", QFile::encodeName(dir.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
        QDir(dir.path()).mkpath("data");
        QDir(dir.path()).mkpath("clips");
    }
    void TearDown() override
    {
        qputenv("HOME", FOldHome);
        if (FOldData.isEmpty())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", FOldData);
    }
    QString Trash(const QString &sub) const { return dir.filePath("data/Trash/" + sub); }

    QTemporaryDir dir;

private:
    QByteArray FOldHome, FOldData;
};

TEST_F(RecycleBin, FilesGoToTheTrashWithTheirOrigin)
{
    // The origin is stored escaped, so "%41" is not restored as "A".
    const QString clip = Touch(dir.filePath("clips/one clip%41.avi"), "payload");
    ASSERT_TRUE(MoveToRecycleBin(clip));
    EXPECT_FALSE(QFile::exists(clip));
    QFile kept(Trash("files/one clip%41.avi"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "payload");
    QFile info(Trash("info/one clip%41.avi.trashinfo"));
    ASSERT_TRUE(info.open(QIODevice::ReadOnly));
    const QByteArray text = info.readAll();
    EXPECT_TRUE(text.startsWith("[Trash Info]\n")) << text.constData();
    EXPECT_TRUE(text.contains("\nPath=" + QUrl::toPercentEncoding(clip, "/") + "\n")) << text.constData();
    EXPECT_TRUE(text.contains("one%20clip%2541.avi")) << text.constData();
    EXPECT_TRUE(text.contains("\nDeletionDate=")) << text.constData();
}

TEST_F(RecycleBin, SecondFileOfTheSameNameKeepsTheFirst)
{
    const QString a = Touch(dir.filePath("clips/same.avi"), "first");
    ASSERT_TRUE(MoveToRecycleBin(a));
    const QString b = Touch(dir.filePath("clips/same.avi"), "second");
    QFile::setPermissions(b, QFile::ReadOwner);  // read-only goes too
    ASSERT_TRUE(MoveToRecycleBin(b));
    const QStringList names = QDir(Trash("files")).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 2);
    QStringList contents;
    for (const QString &n : names) {
        QFile f(Trash("files/" + n));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        contents << QString::fromLatin1(f.readAll());
    }
    contents.sort();
    EXPECT_EQ(contents, (QStringList{"first", "second"}));
    EXPECT_FALSE(MoveToRecycleBin(dir.filePath("clips/none.avi")));
    EXPECT_FALSE(MoveToRecycleBin(QString()));
}

#include "Shell_guitest.moc"
