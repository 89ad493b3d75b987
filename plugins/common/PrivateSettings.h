// The settings a private filter reads from the current user's registry, under
// the key its settings file creates (Software\LBV\..., Software\VOS\...):
// a number of decoding threads, and a formats subkey where a name (a codec or
// demuxer name as libavcodec and libavformat call it) with the DWORD value 0
// is switched off. A missing key, value or name means the default: on.
//
// Read at connection time, so an import or a deletion of the keys takes
// effect on the next file without reloading the module.
//
// UI thread (connections).
#pragma once

#include <QSet>
#include <QString>

struct PrivateSettingsKeys {
    const char *key;           // below HKEY_CURRENT_USER
    const char *threadsValue;  // null: the filter has no thread setting
    const char *formatsSubkey;
};

struct PrivateSettings {
    int threads = 0;      // 0: not set
    QSet<QString> off;    // lower-case names switched off

    bool Takes(const QString &name) const { return !off.contains(name.toLower()); }
    // A comma-separated list of names (a demuxer's) is taken unless one is off.
    bool TakesAll(const QString &names) const;
};

PrivateSettings ReadPrivateSettings(const PrivateSettingsKeys &keys);
