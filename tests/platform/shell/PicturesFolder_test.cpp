// The default folder for saved images, with the user folders of a temporary home.
#include "platform/shell/PicturesFolder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

TEST(PicturesFolder, ThePicturesFolderWhenItExistsElseHome)
{
    QTemporaryDir dir;
    const QString home = QDir(dir.path()).canonicalPath();
    const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + "/config"));
    QDir(home).mkpath("config");
    QFile dirs(home + "/config/user-dirs.dirs");
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_PICTURES_DIR=\"$HOME/Mes images\"\n");
    dirs.close();

    EXPECT_EQ(PicturesFolder(), home) << "not there yet";
    QDir(home).mkpath("Mes images");
    EXPECT_EQ(PicturesFolder(), home + "/Mes images");
    // Without the user's list: ~/Pictures, when there is one.
    dirs.remove();
    EXPECT_EQ(PicturesFolder(), home);
    QDir(home).mkpath("Pictures");
    EXPECT_EQ(PicturesFolder(), home + "/Pictures");

    qputenv("HOME", oldHome);
    qputenv("XDG_CONFIG_HOME", oldConfig);
}
