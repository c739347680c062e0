#pragma once

#include "core/releasefields.h"
#include "tags/picture.h"

#include <array>
#include <cstdint>
#include <string>

namespace bw {

class TTagSource;

// The attribute names of the release fields, in their order.
inline constexpr TReleaseNames kWmaReleaseNames{"WM/AlbumArtist",
                                                "WM/PartOfSet",
                                                "MusicBrainz/Album Id",
                                                "MusicBrainz/Release Group Id",
                                                "MusicBrainz/Album Artist Id",
                                                "MusicBrainz/Artist Id",
                                                "MusicBrainz/Release Track Id",
                                                "MusicBrainz/Track Id"};

// Stream information and tags of a WMA file, from the objects of its ASF header.
class TWMAfile {
public:
    TWMAfile() { Clear(); }
    void Clear();
    // False only on a read error.
    bool Load(const std::string& path);
    bool Load(TTagSource& source);

    bool Valid() const { return valid_; }
    int64_t FileSize() const { return fileSize_; }
    int Channels() const { return channels_; }
    int32_t SampleRate() const { return sampleRate_; }
    int32_t MaxBitRate() const { return maxBitRate_; }
    int32_t AvgBytesPerSecond() const { return avgBytesPerSecond_; }
    double Duration() const { return duration_; }
    int BitRate() const { return bitRate_; } // kbit/s
    std::string ChannelModeText() const;
    // Texts, converted to UTF-8 and trimmed.
    const std::string& Title() const { return slots_[0]; }
    const std::string& Artist() const { return slots_[1]; }
    const std::string& Album() const { return slots_[2]; }
    uint8_t Track() const { return track_; }
    const std::string& Year() const { return slots_[4]; }
    const std::string& Genre() const { return slots_[5]; }
    const std::string& Comment() const { return slots_[6]; }
    // The release fields, from the extended content's attributes, trimmed.
    const TReleaseTexts& Release() const { return release_; }

    // Offers the WM/Picture values of the ASF header (in the Extended Content Description
    // Object and the Metadata Library Object) in their order until offer answers true;
    // *why says why one could not be read.
    static void ReadPictures(TTagSource& source, const TPictureOffer& offer, std::string* why);

private:
    bool ReadObjects(TTagSource& source, uint64_t& playDuration100ns, uint64_t& prerollMs);

    bool valid_;
    int64_t fileSize_;
    int channels_;
    int32_t sampleRate_, maxBitRate_, avgBytesPerSecond_;
    double duration_;
    int bitRate_;
    uint8_t track_;
    std::array<std::string, 7> slots_;
    TReleaseTexts release_;
};

} // namespace bw
