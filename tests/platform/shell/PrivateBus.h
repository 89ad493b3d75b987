// A session bus of our own for a test: a real dbus-daemon started for the
// object's life, with named connections to it that go with it.
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

class PrivateBus {
public:
    PrivateBus()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return;
        FProcess.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                QStringLiteral("--print-address=1")});
        if (!FProcess.waitForStarted(5000) || !FProcess.waitForReadyRead(5000))
            return;
        FAddress = QString::fromUtf8(FProcess.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const QString &name : std::as_const(FNames))
            QDBusConnection::disconnectFromBus(name);
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // Empty when there is no dbus-daemon here.
    QString Address() const { return FAddress; }
    // A new connection under a name not used before in the process.
    QDBusConnection Connect(const QString &name)
    {
        FNames << name;
        return QDBusConnection::connectToBus(FAddress, name);
    }

private:
    QProcess FProcess;
    QString FAddress;
    QStringList FNames;
};
