#pragma once

// The APE tag (versions 1.0 and 2.0 read, 2.0 written) at the end of a file, before an
// ID3v1 record when there is one: an ordered list of named items. Values are UTF-8.

#include "core/releasefields.h"
#include "tags/picture.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bw {

class TTagSource;

// The item names of the release fields, in their order.
inline constexpr TReleaseNames kApeReleaseNames{"Album Artist",
                                                "Disc",
                                                "MUSICBRAINZ_ALBUMID",
                                                "MUSICBRAINZ_RELEASEGROUPID",
                                                "MUSICBRAINZ_ALBUMARTISTID",
                                                "MUSICBRAINZ_ARTISTID",
                                                "MUSICBRAINZ_RELEASETRACKID",
                                                "MUSICBRAINZ_TRACKID"};

class TAPETag {
public:
    static constexpr size_t kFooterSize = 32;
    static constexpr size_t kValueBuffer = 250; // the part of a value that is read
    static constexpr size_t kMaxNameSize = 255;
    static constexpr uint32_t kHasHeader = 0x80000000u;
    static constexpr uint32_t kIsHeader = 0x20000000u;
    static constexpr std::string_view kFrontCoverItem = "Cover Art (Front)";
    // The largest cover item read: a file name, its zero byte and the largest picture.
    static constexpr size_t kMaxPictureItemBytes = kMaxCoverBytes + kMaxNameSize + 1;

    using TItem = std::pair<std::string, std::string>;
    // What an item's value holds, from bits 1-2 of its flags (APEv2): UTF-8 text, binary
    // data (a cover picture, say), or a link to an outside resource, itself text.
    enum class EItemKind : uint8_t { Text, Binary, Locator };
    struct TItemInfo {
        EItemKind Kind = EItemKind::Text;
        uint32_t Length = 0; // the value's full byte count, not only the part read
        uint64_t ValueOffset = 0; // where the value starts in the file that was loaded
    };

    TAPETag() { Clear(); }

    void Clear();
    // True when the footer area could be read, tag or not (see Present).
    bool Load(const std::string& path);
    bool Load(TTagSource& source);
    // Like Load, but every value is kept whole and as stored (binary items too, no trimming):
    // what a rewrite of the tag needs so that it loses nothing. A value larger than
    // maxValueBytes leaves the tag without items and false.
    bool LoadWhole(const std::string& path, size_t maxValueBytes);
    // Replaces an existing tag (keeping an ID3v1 record behind it) with the object's items,
    // or appends them as a new tag. A failed write leaves the file as it was.
    bool Save(const std::string& path);
    // Header, items and footer as Save writes them.
    std::string BuildTag() const;
    // The tag size a footer states for these items: items and footer, without the header.
    uint64_t TagBytes() const;

    void AddItem(std::string_view name, std::string_view value);
    // An item of binary data (bits 1-2 of its flags say so), e.g. a cover picture.
    void AddBinaryItem(std::string_view name, std::string_view value);
    // Removes every item whose name matches, ignoring letter case.
    void RemoveItems(std::string_view name);
    // The first item whose name matches, ignoring letter case; empty when there is none.
    std::string GetItem(std::string_view name) const;
    // Puts the picture in as the binary "Cover Art (Front)" item (a file name for its MIME
    // type, a zero byte, then the data), in place of any that was there.
    void SetFrontCover(const TCoverArt& cover);

    // Offers the pictures of the source's tag (its binary "Cover Art (...)" items) in their
    // order until offer answers true; *why says why one could not be read.
    static void ReadPictures(TTagSource& source, const TPictureOffer& offer, std::string* why);
    // Puts text items into the file's tag (a new tag when it has none) in place of items of
    // the same names in any letter case; every other item, pictures too, stays as it was.
    // False, with error, when the file could not be changed: it is then as it was.
    static bool WriteItems(const std::string& path,
                           std::span<const std::pair<std::string, std::string>> items,
                           std::string& error);

    bool Present() const { return present_; }
    int32_t Version() const { return version_; }
    int32_t Size() const { return size_; }
    const std::vector<TItem>& Items() const { return items_; }
    // One entry per item, in the order of Items().
    const std::vector<TItemInfo>& ItemInfos() const { return itemInfos_; }
    const std::string& LastError() const { return error_; }

private:
    struct TProbe {
        uint64_t FileSize = 0;
        uint64_t Shift = 0; // 128 when an ID3v1 record follows the tag
        bool IsApe = false;
        int32_t Version = 0;
        uint32_t TagSize = 0;
        uint32_t ItemCount = 0;
        uint32_t Flags = 0;
    };
    bool ProbeFooter(TTagSource& source, TProbe& probe);
    // valueLimit is the part of each value that is read; whole keeps them untouched.
    bool ReadItems(TTagSource& source, const TProbe& probe, size_t valueLimit, bool whole);

    bool present_;
    int32_t version_;
    int32_t size_;
    std::vector<TItem> items_;
    std::vector<TItemInfo> itemInfos_;
    std::string error_;
};

} // namespace bw
