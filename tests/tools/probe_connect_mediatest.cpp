// vidstill-probe connect: the video connected as the program connects it,
// read back from the JSON the tool prints.
#include "ProbeSupport.h"
#include "tools/mkmedia/MkMedia.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace probetest;

std::vector<QJsonObject> Objects(const ProbeRun &r)
{
    std::vector<QJsonObject> out;
    for (const QString &line : r.out.split('\n', Qt::SkipEmptyParts))
        out.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
    return out;
}

class ProbeConnectTest : public ::testing::Test {
protected:
    QString Clip(const char *name, const char *codec, int audio = 0)
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(name).toStdString();
        o.codec = codec;
        o.frames = 10;
        o.width = 160;
        o.height = 120;
        o.audio = audio;
        const auto made = mkmedia::WriteClip(o);
        EXPECT_TRUE(made.ok) << made.error;
        return QString::fromStdString(o.path);
    }
    QTemporaryDir dir;
};

TEST_F(ProbeConnectTest, AnH264FileConnectsThenSwitchesToTheNextDecoderKeepingItsSound)
{
    const ProbeRun r = Probe({"connect", Clip("a.mp4", "h264", 1), "--next-decoder"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto objects = Objects(r);
    ASSERT_EQ(objects.size(), 2u) << r.out.toStdString();
    const QJsonObject &first = objects[0], &second = objects[1];
    EXPECT_EQ(first["video_state"].toInt(), 1);
    EXPECT_EQ(first["decoder"]["name"].toString(), "Vidstill Video Decoder");
    EXPECT_EQ(first["decoder"]["clsid"].toString(), "{5A1D0C01-7E3B-4C52-9B61-2F10D43A8801}");
    EXPECT_EQ(first["media_key"].toArray().at(0).toString(), "{73646976-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(first["aspect"].toArray(), (QJsonArray{4, 3}));
    EXPECT_EQ(first["frame_duration"].toInteger(), 400000);
    EXPECT_EQ(first["status_text"].toString(), "");
    EXPECT_EQ(second["decoder"]["name"].toString(), "Vidstill Video Decoder (single thread)");
    EXPECT_EQ(second["video_state"].toInt(), 1);
    EXPECT_EQ(second["media_key"], first["media_key"]);
    for (const QJsonObject &o : objects) {
        EXPECT_EQ(o["audio_decoder"]["name"].toString(), "Vidstill Audio Decoder");
        EXPECT_EQ(o["audio_status"].toString(), "on");
    }
}

TEST_F(ProbeConnectTest, ASoundFileShowsTheNoVideoPanelAndAMissingFileFails)
{
    const ProbeRun r = Probe({"connect", Clip("s.wav", "", 1)});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto objects = Objects(r);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0]["video_state"].toInt(), 0);
    EXPECT_EQ(objects[0]["decoder"]["name"].toString(), "No Video decoder");
    EXPECT_TRUE(objects[0]["status_text"].toString().contains("No video stream has been connected"));
    EXPECT_EQ(objects[0]["audio_status"].toString(), "on");  // PCM goes straight to the renderer

    const ProbeRun missing = Probe({"connect", dir.filePath("none.mkv")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.out.isEmpty());
    EXPECT_TRUE(missing.err.contains("cannot open")) << missing.err.toStdString();
}

} // namespace
