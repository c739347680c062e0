#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace bw {

class TTagSource;

// A CD audio track file (.cda): 44 bytes naming a track of a disc, with titles looked up in
// the CD player title database (cdplayer.ini).
class TCDAtrack {
public:
    static constexpr size_t kFileSize = 44;

    TCDAtrack() { Clear(); }
    void Clear();
    // True when the file could be opened and read; Valid() tells whether it is a track file.
    bool ReadFromFile(const std::string& path);
    bool ReadFrom(TTagSource& source);

    bool Valid() const { return valid_; }
    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    double Duration() const { return duration_; }
    int16_t TrackNumber() const { return trackNumber_; }
    double StartPosition() const { return startPosition_; }
    uint32_t VolumeSerial() const { return serial_; }

    // The title database: $XDG_CONFIG_HOME/Halvorix/cdplayer.ini (~/.config when unset).
    static std::string DefaultDatabasePath();
    void SetDatabasePath(std::string path) { databasePath_ = std::move(path); }

private:
    bool valid_;
    std::string title_, artist_, album_;
    double duration_;
    int16_t trackNumber_;
    double startPosition_;
    uint32_t serial_;
    std::string databasePath_ = DefaultDatabasePath();
};

// The keys (in lower case) and values of an INI file's section, whose name is compared
// without regard to letter case; empty when the file or the section is missing. Reads at
// most a few megabytes of the file.
std::map<std::string, std::string> ReadIniSection(const std::string& path, const std::string& section);

} // namespace bw
