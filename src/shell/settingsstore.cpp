#include "shell/settingsstore.h"

#include "shell/settingskeys.h"

#include <QSettings>

namespace bw {

TSettingsStore::TSettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QStringLiteral("Halvorix"),
                                            QStringLiteral("Brindlewave"))) {}

TSettingsStore::TSettingsStore(const QString& path)
    : settings_(std::make_unique<QSettings>(path, QSettings::IniFormat)) {}

TSettingsStore::~TSettingsStore() = default;

bool TSettingsStore::MainKeyExists() const {
    // The preset count is written at the first start with everything else: finding it
    // spares listing the top level, which reads every key of a store of many presets.
    if (settings_->contains(QString::fromLatin1(keys::kQualityTotal)))
        return true;
    return !settings_->childKeys().isEmpty() || !settings_->childGroups().isEmpty();
}

std::optional<int> TSettingsStore::ReadInteger(const QString& name) const {
    // One look-up: a missing name reads as an invalid value.
    const QVariant value = settings_->value(name);
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    const int v = value.toString().trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return v;
}

std::optional<bool> TSettingsStore::ReadBool(const QString& name) const {
    const auto v = ReadInteger(name);
    if (!v)
        return std::nullopt;
    return *v != 0;
}

std::string TSettingsStore::ReadString(const QString& name) const {
    return settings_->value(name).toString().toStdString();
}

void TSettingsStore::WriteInteger(const QString& name, int value) {
    settings_->setValue(name, value);
}

void TSettingsStore::WriteBool(const QString& name, bool value) {
    settings_->setValue(name, value ? 1 : 0);
}

void TSettingsStore::WriteString(const QString& name, const std::string& value) {
    settings_->setValue(name, QString::fromStdString(value));
}

namespace {

QString GroupKey(const QString& group, const QString& name) { return group + QLatin1Char('/') + name; }

} // namespace

std::vector<QString> TSettingsStore::Groups() const {
    const QStringList groups = settings_->childGroups();
    return {groups.begin(), groups.end()};
}

std::vector<QString> TSettingsStore::Keys() const {
    const QStringList keys = settings_->childKeys();
    return {keys.begin(), keys.end()};
}

bool TSettingsStore::HasGroup(const QString& group) const {
    if (group.isEmpty())
        return false;
    settings_->beginGroup(group);
    const bool has = !settings_->childKeys().isEmpty() || !settings_->childGroups().isEmpty();
    settings_->endGroup();
    return has;
}

bool TSettingsStore::HasGroupValue(const QString& group, const QString& name) const {
    return !group.isEmpty() && settings_->contains(GroupKey(group, name));
}

std::string TSettingsStore::ReadGroupString(const QString& group, const QString& name) const {
    return settings_->value(GroupKey(group, name)).toString().toStdString();
}

std::optional<int> TSettingsStore::ReadGroupInteger(const QString& group, const QString& name) const {
    return ReadInteger(GroupKey(group, name));
}

void TSettingsStore::WriteGroupInteger(const QString& group, const QString& name, int value) {
    settings_->setValue(GroupKey(group, name), value);
}

void TSettingsStore::WriteGroupString(const QString& group, const QString& name, const std::string& value) {
    settings_->setValue(GroupKey(group, name), QString::fromStdString(value));
}

void TSettingsStore::RemoveGroup(const QString& group) {
    // An empty name would remove every key of the store.
    if (!group.isEmpty())
        settings_->remove(group);
}

void TSettingsStore::RenameGroup(const QString& from, const QString& to) {
    if (from.isEmpty() || to.isEmpty() || from == to)
        return;
    settings_->remove(to);
    settings_->beginGroup(from);
    const QStringList keys = settings_->allKeys();
    settings_->endGroup();
    for (const QString& k : keys)
        settings_->setValue(GroupKey(to, k), settings_->value(GroupKey(from, k)));
    settings_->remove(from);
}

bool TSettingsStore::Sync() {
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

QString TSettingsStore::FileName() const { return settings_->fileName(); }

} // namespace bw
