#include "plugins/common/PrivateSettings.h"

#include "platform/registry/Registry.h"

#include <QStringList>

#include <algorithm>

namespace {

// Beyond this, more threads only cost memory.
constexpr uint32_t kMaxThreads = 16;

} // namespace

bool PrivateSettings::TakesAll(const QString &names) const
{
    const QStringList parts = names.split(u',', Qt::SkipEmptyParts);
    return std::all_of(parts.begin(), parts.end(), [this](const QString &n) { return Takes(n.trimmed()); });
}

PrivateSettings ReadPrivateSettings(const PrivateSettingsKeys &keys)
{
    PrivateSettings settings;
    const QString key = QString::fromLatin1(keys.key);
    if (keys.threadsValue) {
        const auto value = reg::QueryValue(key, QString::fromLatin1(keys.threadsValue));
        const auto threads = value ? value->ToDword() : std::nullopt;
        if (threads)
            settings.threads = static_cast<int>(std::min(*threads, kMaxThreads));
    }
    const QString formats = key + u'\\' + QString::fromLatin1(keys.formatsSubkey);
    for (const QString &name : reg::ValueNames(formats).value_or(QStringList())) {
        const auto value = reg::QueryValue(formats, name);
        const auto on = value ? value->ToDword() : std::nullopt;
        if (on && *on == 0)
            settings.off.insert(name.toLower());
    }
    return settings;
}
