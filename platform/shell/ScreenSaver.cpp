#include "platform/shell/ScreenSaver.h"

#include <QCoreApplication>
#include <QDBusMessage>

namespace {

// A service started by D-Bus activation may take a moment to answer.
constexpr int kCallTimeoutMs = 3000;

QDBusMessage CallScreenSaver(const QDBusConnection &bus, const QString &method, const QVariantList &args)
{
    const QString service = QStringLiteral("org.freedesktop.ScreenSaver");
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/ScreenSaver"),
                                                       service, method);
    call.setArguments(args);
    return bus.call(call, QDBus::Block, kCallTimeoutMs);
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
