// The default folder for saved images, with the user's folders of a
// temporary home.
#include "platform/shell/PicturesFolder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

class PicturesFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FOldHome = qgetenv("HOME");
        FOldConfig = qgetenv("XDG_CONFIG_HOME");
        home = QDir(dir.path()).canonicalPath();
        qputenv("HOME", QFile::encodeName(home));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + "/config"));
        QDir(home).mkpath("config");
    }
    void TearDown() override
    {
        qputenv("HOME", FOldHome);
        qputenv("XDG_CONFIG_HOME", FOldConfig);
    }
    void UserDirs(const QByteArray &picturesLine)
    {
        QFile f(home + "/config/user-dirs.dirs");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n" + picturesLine + "\n");
    }

    QTemporaryDir dir;
    QString home;

private:
    QByteArray FOldHome, FOldConfig;
};

}  // namespace

TEST_F(PicturesFolderTest, TheUsersPicturesFolderWhenItExists)
{
    UserDirs("XDG_PICTURES_DIR=\"$HOME/Mes images\"");
    ASSERT_TRUE(QDir(home).mkpath("Mes images"));
    EXPECT_EQ(PicturesFolder(), home + "/Mes images");
}

TEST_F(PicturesFolderTest, TheHomeFolderWhenThePicturesFolderIsMissing)
{
    UserDirs("XDG_PICTURES_DIR=\"$HOME/Mes images\"");
    EXPECT_EQ(PicturesFolder(), home);
    // No user-dirs file: ~/Pictures, when there is one.
    QFile::remove(home + "/config/user-dirs.dirs");
    EXPECT_EQ(PicturesFolder(), home);
    ASSERT_TRUE(QDir(home).mkpath("Pictures"));
    EXPECT_EQ(PicturesFolder(), home + "/Pictures");
}
