// The main window under test: a window with the build's private decoders,
// a throw-away hive and folder, the file browser calls recorded, and clips
// made on demand.
#pragma once

#include "app/main.h"

#include "app/extraireunit.h"
#include "app/optionsunit.h"
#include "app/uImagesOptions.h"
#include "widgets/uAppliMan.h"
#include "KWPack/uAudioMan.h"
#include "KWPack/uDecoders.h"
#include "KWPack/uMonoFichierMan.h"
#include "KWPack/uNavMan.h"
#include "KWPack/uPreferences.h"
#include "KWPack/uVideoMan.h"
#include "platform/base/MessageWindow.h"
#include "platform/ffmpeg/FFmpegFilters.h"
#include "platform/render/RenderFilters.h"
#include "tests/common/TestSupport.h"
#include "tools/mkmedia/MkMedia.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMap>
#include <QMenuBar>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QWidgetAction>
#include <gtest/gtest.h>

#include <memory>

class ShowFormTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        av_log_set_level(AV_LOG_QUIET);
        RegisterFFmpegFilters();
        RegisterRenderFilters();
    }

    void SetUp() override { form = NewForm(); }

    void TearDown() override { form.reset(); }

    std::unique_ptr<TShowForm> NewForm()
    {
        auto f = std::make_unique<TShowForm>(nullptr, QStringLiteral(VIDSTILL_PRIVATE_DIR));
        f->gp->ExeFolder = dir.path() + QLatin1Char('/');  // no portable file next to the test
        f->OnSelectInBrowser = [this](const QString &p) {
            selected << p;
            return true;
        };
        f->OnOpenFolder = [this](const QString &p) {
            opened << p;
            return true;
        };
        return f;
    }

    void Show(TShowForm &f, QSize client = QSize(1000, 700))
    {
        f.show();
        f.activateWindow();
        QApplication::processEvents();
        f.resize(client + (f.size() - f.Client->size()));
        QApplication::processEvents();
    }

    QString Clip(const char *name, const char *codec = "", int audio = 0, int frames = 10)
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(QString::fromLatin1(name)).toStdString();
        o.codec = codec;
        o.frames = frames;
        o.width = 320;
        o.height = 240;
        o.audio = audio;
        const auto made = mkmedia::WriteClip(o);
        EXPECT_TRUE(made.ok) << made.error;
        return dir.filePath(QString::fromLatin1(name));
    }

    void Touch(const QString &path)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }

    // Paused on the first picture: the reports of the first samples handled.
    void Settle()
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 3000) {
            form->NavMan->WaitForStableState();
            WaitMessages(50);
        }
    }

    void ExpectNoMedia(const QString &title)
    {
        EXPECT_FALSE(form->HasVideo);
        EXPECT_FALSE(form->HasAudio);
        EXPECT_FALSE(form->naGrab->isEnabled());
        EXPECT_FALSE(form->naCopy->isEnabled());
        EXPECT_FALSE(form->caIntervalloShow->isEnabled());
        EXPECT_FALSE(form->audman->caMute->isEnabled());
        EXPECT_TRUE(form->PanelHaut->isHidden());
        EXPECT_TRUE(form->ImageLab->isHidden());
        EXPECT_EQ(form->EnCoursLab->text(), title);
        EXPECT_FALSE(form->NavMan->Quiet);
        // The video manager says why the panel is empty.
        EXPECT_EQ(form->vidman->VideoState, TVideoMan::vsNoVideo);
    }

    TempHive hive;
    QTemporaryDir dir;
    std::unique_ptr<TShowForm> form;
    QStringList selected, opened;
};

