#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSettings;

namespace bw {

// The per-user settings store: organisation "Halvorix", application "Brindlewave"
// (~/.config/Halvorix/Brindlewave.conf here). Integers and booleans are stored as
// integers; a boolean reads true for any non-zero integer.
class TSettingsStore {
public:
    TSettingsStore();                            // the user's own store
    explicit TSettingsStore(const QString& path); // an explicit file, for tools and tests
    ~TSettingsStore();
    TSettingsStore(const TSettingsStore&) = delete;
    TSettingsStore& operator=(const TSettingsStore&) = delete;

    // The main key exists once anything has been written to the store.
    bool MainKeyExists() const;

    // No value when the name is missing or does not hold an integer.
    std::optional<int> ReadInteger(const QString& name) const;
    std::optional<bool> ReadBool(const QString& name) const;
    // A missing string reads as empty.
    std::string ReadString(const QString& name) const;

    void WriteInteger(const QString& name, int value);
    void WriteBool(const QString& name, bool value);
    void WriteString(const QString& name, const std::string& value);

    // Sub-keys (the preset groups "QualityItem_N") and their values. Groups lists every
    // top-level key of the store and so takes time in proportion to all of it; HasGroup
    // looks at the one group alone.
    std::vector<QString> Groups() const;
    // The names of the top-level values.
    std::vector<QString> Keys() const;
    bool HasGroup(const QString& group) const;
    // Whether the group holds that value: one look-up.
    bool HasGroupValue(const QString& group, const QString& name) const;
    std::string ReadGroupString(const QString& group, const QString& name) const;
    std::optional<int> ReadGroupInteger(const QString& group, const QString& name) const;
    void WriteGroupInteger(const QString& group, const QString& name, int value);
    void WriteGroupString(const QString& group, const QString& name, const std::string& value);
    // Deletes a sub-key with every value in it.
    void RemoveGroup(const QString& group);
    // Moves a sub-key with its values to another name, replacing what that name held.
    void RenameGroup(const QString& from, const QString& to);

    // Writes pending changes to disk. False when the store could not be written.
    bool Sync();
    QString FileName() const;

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace bw
