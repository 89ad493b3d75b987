// Screen-saver inhibition against a real dbus-daemon with a screen saver of
// our own on it, which, like the desktops' services, takes a cookie back only
// from the connection it gave it to.
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
    mutable std::mutex lock;
    QMap<uint, QStringList> held;  // cookie -> application, reason, owner
    int unInhibits = 0;
    bool refuse = false;

public slots:
    uint Inhibit(const QString &application, const QString &reason)
    {
        std::lock_guard guard(lock);
        if (refuse) {
            sendErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"), QStringLiteral("not now"));
            return 0;
        }
        held.insert(++FNext, {application, reason, message().service()});
        return FNext;
    }
    void UnInhibit(uint cookie)
    {
        std::lock_guard guard(lock);
        ++unInhibits;
        if (held.value(cookie).value(2) != message().service())
            sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("not your cookie"));
        else
            held.remove(cookie);
    }

private:
    uint FNext = 100;
};

class ScreenSaver : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (bus.Address().isEmpty())
            GTEST_SKIP() << "no dbus-daemon";
        client = bus.Connect(QStringLiteral("screensaver-client"));
        service = bus.Connect(QStringLiteral("screensaver-service"));
        // The service answers on its own thread while the test's blocks in its calls.
        saver.moveToThread(&thread);
        thread.start();
        ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &saver,
                                           QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
    }
    void TearDown() override
    {
        thread.quit();
        thread.wait();
    }
    QMap<uint, QStringList> Held()
    {
        std::lock_guard guard(saver.lock);
        return saver.held;
    }

    PrivateBus bus;
    QDBusConnection client{QString()}, service{QString()};
    FakeScreenSaver saver;
    QThread thread;
};

}  // namespace

TEST_F(ScreenSaver, InhibitedWhileTheObjectLives)
{
    QCoreApplication::setApplicationName(QStringLiteral("Vidstill"));
    {
        ScreenSaverInhibitor playing(QStringLiteral("Playing a video"), client);
        EXPECT_TRUE(playing.Active());
        {
            ScreenSaverInhibitor capture(QStringLiteral("Interval capture"), client);
            EXPECT_TRUE(capture.Active());
            EXPECT_EQ(Held().size(), 2);
        }
        ASSERT_EQ(Held().size(), 1);
        EXPECT_EQ(Held().first(), (QStringList{"Vidstill", "Playing a video", client.baseService()}));
    }
    EXPECT_TRUE(Held().isEmpty());
}

TEST_F(ScreenSaver, NoServiceOrARefusalIsAQuietFalse)
{
    saver.refuse = true;
    {
        ScreenSaverInhibitor refused(QStringLiteral("Playing a video"), client);
        EXPECT_FALSE(refused.Active());
    }
    EXPECT_EQ(saver.unInhibits, 0) << "nothing to give back";

    service.unregisterService(QStringLiteral("org.freedesktop.ScreenSaver"));
    ::testing::internal::CaptureStderr();
    {
        ScreenSaverInhibitor nobody(QStringLiteral("Playing a video"), client);
        EXPECT_FALSE(nobody.Active());
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    const QDBusConnection none(QStringLiteral("screensaver-test-nothing"));
    ASSERT_FALSE(none.isConnected());
    EXPECT_FALSE(ScreenSaverInhibitor(QStringLiteral("Playing a video"), none).Active());
    EXPECT_FALSE(UnInhibitScreenSaver(1, none));
}

#include "ScreenSaver_test.moc"
