// Keeping the screen saver off while the program runs, through the desktop's
// org.freedesktop.ScreenSaver service on the session bus.
//
// The service ties each inhibition to the caller's bus connection, so a
// program that dies (even killed) never leaves the screen saver off: the bus
// tells the service, which forgets the cookie. No bus or no service is not an
// error: the screen saver then simply stays as it is.
//
// UI thread only (each call blocks for at most its time-out).
#pragma once

#include <QDBusConnection>
#include <QString>

#include <cstdint>
#include <optional>

// Inhibit(application, reason) on `bus`: the cookie, or nullopt (quietly)
// when there is no bus or no service.
std::optional<uint32_t> InhibitScreenSaver(const QString &application, const QString &reason,
                                           const QDBusConnection &bus = QDBusConnection::sessionBus());
// UnInhibit(cookie) on the bus the cookie came from. False when not answered.
bool UnInhibitScreenSaver(uint32_t cookie, const QDBusConnection &bus = QDBusConnection::sessionBus());

// The screen saver stays off while the object lives. Keeps its own copy of the
// connection (the cookie belongs to it).
class ScreenSaverInhibitor {
public:
    // The application name is QCoreApplication::applicationName().
    explicit ScreenSaverInhibitor(const QString &reason,
                                  const QDBusConnection &bus = QDBusConnection::sessionBus());
    ~ScreenSaverInhibitor();
    ScreenSaverInhibitor(const ScreenSaverInhibitor &) = delete;
    ScreenSaverInhibitor &operator=(const ScreenSaverInhibitor &) = delete;

    // True when the service granted the inhibition.
    bool Active() const { return FCookie.has_value(); }

private:
    QDBusConnection FBus;
    std::optional<uint32_t> FCookie;
};
