#include "platform/shell/ScreenSaver.h"

#include <QCoreApplication>
#include <QDBusMessage>

namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
// KDE also answers on the short path; some desktops answer only there.
const QString kPaths[] = {QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("/ScreenSaver")};
// A service started by D-Bus activation may take a moment to answer.
constexpr int kCallTimeoutMs = 3000;

// The reply of the first path that knows the method; an error reply otherwise.
QDBusMessage CallScreenSaver(const QDBusConnection &bus, const QString &method, const QVariantList &args)
{
    QDBusMessage reply;
    for (const QString &path : kPaths) {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, path, kService, method);
        call.setArguments(args);
        reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return reply;
        const QString error = reply.errorName();
        if (error != QLatin1String("org.freedesktop.DBus.Error.UnknownObject") &&
            error != QLatin1String("org.freedesktop.DBus.Error.UnknownMethod"))
            return reply;  // no service, time-out, refusal: the other path would say the same
    }
    return reply;
}

}  // namespace

std::optional<uint32_t> InhibitScreenSaver(const QString &application, const QString &reason,
                                           const QDBusConnection &bus)
{
    if (!bus.isConnected())
        return std::nullopt;
    const QDBusMessage reply = CallScreenSaver(bus, QStringLiteral("Inhibit"), {application, reason});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return std::nullopt;
    const QVariant cookie = reply.arguments().constFirst();
    if (cookie.metaType().id() != QMetaType::UInt)
        return std::nullopt;
    return cookie.toUInt();
}

bool UnInhibitScreenSaver(uint32_t cookie, const QDBusConnection &bus)
{
    if (!bus.isConnected())
        return false;
    return CallScreenSaver(bus, QStringLiteral("UnInhibit"), {cookie}).type() == QDBusMessage::ReplyMessage;
}

ScreenSaverInhibitor::ScreenSaverInhibitor(const QString &reason, const QDBusConnection &bus)
    : FBus(bus), FCookie(InhibitScreenSaver(QCoreApplication::applicationName(), reason, bus))
{
}

ScreenSaverInhibitor::~ScreenSaverInhibitor()
{
    if (FCookie)
        UnInhibitScreenSaver(*FCookie, FBus);
}
