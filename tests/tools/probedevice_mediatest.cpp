// vidstill-probe device: the factory's device of generated clips as JSON
// (records, sources, the types their notifiers connect with, format texts),
// and one-line failures for files it cannot open.
#include "ProbeSupport.h"
#include "tools/mkmedia/MkMedia.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace probetest;

class ProbeDeviceTest : public ::testing::Test {
protected:
    QString Make(const char *name, int audio)
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(name).toStdString();
        o.width = 176;
        o.height = 144;
        o.frames = 5;
        o.audio = audio;
        const auto r = mkmedia::WriteClip(o);
        EXPECT_TRUE(r.ok) << r.error;
        return QString::fromStdString(o.path);
    }

    QJsonObject Device(const QString &file)
    {
        const ProbeRun r = Probe({"device", file});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
        return doc.object();
    }

    QTemporaryDir dir;
};

TEST_F(ProbeDeviceTest, DescribesTheDeviceAndEverySource)
{
    const QJsonObject o = Device(Make("clip.mp4", 1));
    EXPECT_EQ(o["name"].toString(), "clip.mp4");
    EXPECT_TRUE(o["valid"].toBool());
    EXPECT_EQ(o["source"].toString(), "LAV Splitter Source");
    EXPECT_EQ(o["splitter"].toString(), "");
    EXPECT_TRUE(o["dv_devices"].toArray().isEmpty());
    const QJsonArray sources = o["sources"].toArray();
    ASSERT_EQ(sources.size(), 2);

    const QJsonObject video = sources[0].toObject(), audio = sources[1].toObject();
    EXPECT_EQ(video["kind"].toString(), "video");
    EXPECT_EQ(video["display_name"].toString(), "clip.mp4");
    EXPECT_EQ(video["stream_type"].toArray(),
              (QJsonArray{"{73646976-0000-0010-8000-00AA00389B71}", "{31435641-0000-0010-8000-00AA00389B71}",
                          "{E06D80E3-DB46-11CF-B4D1-00805F6CBBEA}"}));
    EXPECT_EQ(video["format_text"].toString(), "AVC1 (11x9)");
    EXPECT_EQ(audio["kind"].toString(), "audio");
    EXPECT_EQ(audio["stream_type"].toArray()[0].toString(), "{73647561-0000-0010-8000-00AA00389B71}");
    EXPECT_TRUE(audio["format_text"].toString().startsWith("AAC 48000Hz")) << audio["format_text"].toString().toStdString();

    const QJsonObject wav = Device(Make("tone.wav", 1));
    EXPECT_EQ(wav["source"].toString(), "File Source (Async.)");
    EXPECT_EQ(wav["splitter"].toString(), "Wave Parser");
    ASSERT_EQ(wav["sources"].toArray().size(), 1);
    EXPECT_EQ(wav["sources"].toArray()[0].toObject()["stream_type"].toArray()[1].toString(),
              "{00000001-0000-0010-8000-00AA00389B71}");
}

TEST_F(ProbeDeviceTest, FailsWithOneLineWhenTheFileCannotBeOpened)
{
    const QString avi = Make("clip.avi", 0);
    const QString unknown = dir.filePath("clip.xyz"), empty = dir.filePath("empty.mkv");
    ASSERT_TRUE(QFile::copy(avi, unknown));
    QFile(empty).open(QIODevice::WriteOnly);
    const QList<QStringList> calls{
        {"device", unknown},
        {"device", empty},
        {"device", dir.filePath("missing.ts")},
        {"device", avi, "--source", "LAV Splitter Source"},
    };
    for (const QStringList &args : calls) {
        const ProbeRun r = Probe(args);
        EXPECT_EQ(r.exitCode, 1) << args.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << args.join(' ').toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    }
    EXPECT_TRUE(Probe({"device", unknown}).err.contains("unknown extension"));
    EXPECT_TRUE(Probe({"device", empty}).err.contains("cannot open"));
}

} // namespace
