// Screen-saver inhibition against a real dbus-daemon with a screen saver of
// our own on it, which, like the desktops' services, hands out cookies and
// takes each back only from the connection it gave it to.
#include "PrivateBus.h"

#include "platform/shell/ScreenSaver.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusContext>
#include <QDBusMessage>
#include <QMap>
#include <QThread>

#include <mutex>

namespace {

class FakeScreenSaver : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    struct Hold {
        QString application, reason, owner;
    };
    QMap<uint, Hold> Held() const
    {
        std::lock_guard lock(FLock);
        return FHeld;
    }
    int UnInhibits() const
    {
        std::lock_guard lock(FLock);
        return FUnInhibits;
    }
    void Refuse(bool refuse)
    {
        std::lock_guard lock(FLock);
        FRefuse = refuse;
    }

public slots:
    uint Inhibit(const QString &application, const QString &reason)
    {
        std::lock_guard lock(FLock);
        if (FRefuse) {
            sendErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"), QStringLiteral("not now"));
            return 0;
        }
        FHeld.insert(++FNext, {application, reason, message().service()});
        return FNext;
    }
    void UnInhibit(uint cookie)
    {
        std::lock_guard lock(FLock);
        ++FUnInhibits;
        if (!FHeld.contains(cookie) || FHeld.value(cookie).owner != message().service()) {
            sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("not your cookie"));
            return;
        }
        FHeld.remove(cookie);
    }

private:
    mutable std::mutex FLock;
    QMap<uint, Hold> FHeld;
    uint FNext = 100;
    int FUnInhibits = 0;
    bool FRefuse = false;
};

// The screen saver answering on its own thread, on `path`, while the test's
// thread blocks in its calls.
class ScreenSaverService {
public:
    ScreenSaverService(PrivateBus &bus, const QString &path) : FPath(path)
    {
        FService = bus.Connect(QStringLiteral("screensaver-service-") + QString::number(++Count));
        saver.moveToThread(&FThread);
        FThread.start();
        FRegistered = FService.registerObject(path, &saver, QDBusConnection::ExportAllSlots) &&
                      FService.registerService(QStringLiteral("org.freedesktop.ScreenSaver"));
    }
    ~ScreenSaverService()
    {
        FService.unregisterService(QStringLiteral("org.freedesktop.ScreenSaver"));
        FService.unregisterObject(FPath);
        FThread.quit();
        FThread.wait();
    }
    bool Registered() const { return FRegistered; }

    FakeScreenSaver saver;

private:
    static inline int Count = 0;
    QString FPath;
    QDBusConnection FService{QString()};
    QThread FThread;
    bool FRegistered = false;
};

class ScreenSaver : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (bus.Address().isEmpty())
            GTEST_SKIP() << "no dbus-daemon";
        client = bus.Connect(QStringLiteral("screensaver-client-") + QString::number(++Count));
        ASSERT_TRUE(client.isConnected());
    }

    PrivateBus bus;
    QDBusConnection client{QString()};
    static inline int Count = 0;
};

}  // namespace

TEST_F(ScreenSaver, InhibitedWhileTheObjectLives)
{
    ScreenSaverService service(bus, QStringLiteral("/org/freedesktop/ScreenSaver"));
    ASSERT_TRUE(service.Registered());
    QCoreApplication::setApplicationName(QStringLiteral("Vidstill"));
    {
        ScreenSaverInhibitor playing(QStringLiteral("Playing a video"), client);
        EXPECT_TRUE(playing.Active());
        const auto held = service.saver.Held();
        ASSERT_EQ(held.size(), 1);
        EXPECT_EQ(held.first().application, QStringLiteral("Vidstill"));
        EXPECT_EQ(held.first().reason, QStringLiteral("Playing a video"));
        EXPECT_EQ(held.first().owner, client.baseService());
        {
            ScreenSaverInhibitor capture(QStringLiteral("Interval capture"), client);
            EXPECT_TRUE(capture.Active());
            EXPECT_EQ(service.saver.Held().size(), 2);
        }
        ASSERT_EQ(service.saver.Held().size(), 1);
        EXPECT_EQ(service.saver.Held().first().reason, QStringLiteral("Playing a video"));
    }
    EXPECT_TRUE(service.saver.Held().isEmpty());
    EXPECT_EQ(service.saver.UnInhibits(), 2);
}

TEST_F(ScreenSaver, TheShortPathServesWhenTheLongOneIsMissing)
{
    ScreenSaverService service(bus, QStringLiteral("/ScreenSaver"));
    ASSERT_TRUE(service.Registered());
    {
        ScreenSaverInhibitor playing(QStringLiteral("Playing a video"), client);
        EXPECT_TRUE(playing.Active());
        EXPECT_EQ(service.saver.Held().size(), 1);
    }
    EXPECT_TRUE(service.saver.Held().isEmpty());
}

TEST_F(ScreenSaver, NoServiceOrARefusalIsAQuietFalse)
{
    ::testing::internal::CaptureStderr();
    {
        ScreenSaverInhibitor nobody(QStringLiteral("Playing a video"), client);
        EXPECT_FALSE(nobody.Active());
        EXPECT_FALSE(InhibitScreenSaver(QStringLiteral("Vidstill"), QStringLiteral("x"), client));
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    ScreenSaverService service(bus, QStringLiteral("/org/freedesktop/ScreenSaver"));
    ASSERT_TRUE(service.Registered());
    service.saver.Refuse(true);
    {
        ScreenSaverInhibitor refused(QStringLiteral("Playing a video"), client);
        EXPECT_FALSE(refused.Active());
    }
    EXPECT_EQ(service.saver.UnInhibits(), 0) << "nothing to give back";
    // A cookie is given back only where it was taken.
    service.saver.Refuse(false);
    const auto cookie = InhibitScreenSaver(QStringLiteral("Vidstill"), QStringLiteral("x"), client);
    ASSERT_TRUE(cookie);
    QDBusConnection other = bus.Connect(QStringLiteral("screensaver-other"));
    EXPECT_FALSE(UnInhibitScreenSaver(*cookie, other));
    EXPECT_TRUE(UnInhibitScreenSaver(*cookie, client));
}

TEST(ScreenSaverNoBus, WithoutABusNothingIsAsked)
{
    const QDBusConnection none(QStringLiteral("screensaver-test-nothing"));
    ASSERT_FALSE(none.isConnected());
    ScreenSaverInhibitor inhibitor(QStringLiteral("Playing a video"), none);
    EXPECT_FALSE(inhibitor.Active());
    EXPECT_FALSE(UnInhibitScreenSaver(1, none));
}

#include "ScreenSaver_test.moc"
