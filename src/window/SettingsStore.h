#pragma once

#include <QString>
#include <memory>
#include <optional>

class QSettings;

// The per-user store of the check window's fields: text values under the
// program's title, in the section "Settings". A read or write that the store
// refuses gives nothing or false and changes nothing, so every key stands
// alone and no failure ever reaches the user.
class SettingsStore {
public:
    // The user's own store: $XDG_CONFIG_HOME/Ostrel/Ostrel.conf, by default
    // ~/.config/Ostrel/Ostrel.conf.
    SettingsStore();
    // A store kept in this file, in the same format.
    explicit SettingsStore(const QString &fileName);
    ~SettingsStore();

    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    // The stored text of `key`, or `defaultText` when the key is missing;
    // nothing when the store cannot be read, or the key is missing and has no default.
    std::optional<QString> read(const QString &key, const std::optional<QString> &defaultText = std::nullopt) const;

    // Creates the key or replaces its text; false when the store refuses.
    bool write(const QString &key, const QString &text);

    // Puts the writes on disk; false when the store refused them.
    bool flush();

    // A stored truth value: "True" or "False" in any case, or a number
    // (anything but zero is true), blanks around it allowed.
    static std::optional<bool> toTruthValue(const QString &text);

private:
    bool usable() const;

    std::unique_ptr<QSettings> m_settings;
};
