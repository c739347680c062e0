#include "tags/asftags.h"

#include "common/filehandle.h"
#include "common/asciicase.h"
#include "common/bytereader.h"
#include "common/filebytes.h"
#include "tags/asfguids.h"
#include "tags/tagfile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>
#include <vector>

namespace bw {

namespace {

constexpr size_t kHeaderObjectHead = 30; // GUID, size, object count, two reserved bytes
constexpr size_t kObjectHead = 24;       // GUID, size
constexpr uint64_t kMaxHeaderBytes = 4 * 1024 * 1024; // ours are a few kilobytes
constexpr uint32_t kMaxObjects = 1000;

using TBytes = std::vector<std::byte>;

void PutGuid(TBytes& out, const TGuid& guid) {
    for (const uint8_t b : guid)
        out.push_back(static_cast<std::byte>(b));
}

void PutLe(TBytes& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::byte>((value >> (8 * i)) & 0xFF));
}

void SetLe(TBytes& out, size_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[at + static_cast<size_t>(i)] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
}

// A UTF-16LE name as ASCII; other characters become '?', which no name we look for has.
std::string AsciiName(std::span<const std::byte> utf16) {
    std::string name;
    for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
        const unsigned unit = std::to_integer<unsigned>(utf16[i]) |
                              (std::to_integer<unsigned>(utf16[i + 1]) << 8);
        if (unit == 0)
            break;
        name.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return name;
}

struct TEntry {
    std::string Name;
    std::span<const std::byte> Value; // UTF-16LE with its terminator, as written
    std::span<const std::byte> Raw;   // the whole descriptor
};

// The descriptors of an Extended Content Description Object's body; no value when the
// body does not hold what its count says.
std::optional<std::vector<TEntry>> ReadEntries(std::span<const std::byte> body) {
    TByteReader r(body);
    const uint16_t count = r.U16LE();
    std::vector<TEntry> entries;
    for (uint16_t i = 0; i < count && !r.Failed(); ++i) {
        const size_t start = r.Pos();
        const uint16_t nameBytes = r.U16LE();
        const auto name = r.Bytes(nameBytes);
        r.Skip(2); // value type
        const uint16_t valueBytes = r.U16LE();
        const auto value = r.Bytes(valueBytes);
        if (r.Failed())
            break;
        entries.push_back({AsciiName(name), value, body.subspan(start, r.Pos() - start)});
    }
    if (r.Failed() || !r.AtEnd())
        return std::nullopt;
    return entries;
}

bool Fail(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
    return false;
}

} // namespace

bool PlaceAsfDescriptionTags(const std::string& path, std::string_view reserveName,
                             std::string* error) {
    std::string why;
    TFileHandle file = OpenRegularFile(path, O_RDWR, &why);
    if (!file.IsOpen())
        return Fail(error, why);
    std::array<std::byte, kHeaderObjectHead> head{};
    if (!ReadAllAt(file.Get(), head, 0))
        return Fail(error, "cannot read the header of \"" + path + "\"");
    TByteReader h(head);
    const bool isHeader = IsAsfGuid(h.Bytes(16), kAsfHeaderObject);
    const uint64_t headerSize = h.U64LE();
    const uint32_t objectCount = h.U32LE();
    if (!isHeader || headerSize < kHeaderObjectHead || headerSize > kMaxHeaderBytes ||
        objectCount > kMaxObjects)
        return Fail(error, "\"" + path + "\" does not start with an ASF header");
    TBytes header(static_cast<size_t>(headerSize));
    if (!ReadAllAt(file.Get(), header, 0))
        return Fail(error, "cannot read the header of \"" + path + "\"");

    // The header's objects as they are, with the two description objects taken apart.
    TByteReader walk(header);
    walk.Seek(kHeaderObjectHead);
    std::vector<std::span<const std::byte>> objects;
    std::vector<TEntry> entries;
    std::optional<size_t> tagsAt; // where among the objects the tags were
    for (uint32_t i = 0; i < objectCount; ++i) {
        const size_t start = walk.Pos();
        const auto id = walk.Bytes(16);
        const uint64_t size = walk.U64LE();
        if (walk.Failed() || size < kObjectHead || size - kObjectHead > walk.Remaining())
            return Fail(error, "the ASF header of \"" + path + "\" is damaged");
        walk.Skip(static_cast<size_t>(size) - kObjectHead);
        const auto object = std::span<const std::byte>(header).subspan(start, static_cast<size_t>(size));
        if (IsAsfGuid(id, kAsfContentDescription) || IsAsfGuid(id, kAsfExtendedContent)) {
            if (!tagsAt)
                tagsAt = objects.size();
            if (IsAsfGuid(id, kAsfExtendedContent)) {
                auto read = ReadEntries(object.subspan(kObjectHead));
                if (!read)
                    return Fail(error, "the ASF tags of \"" + path + "\" are damaged");
                entries = std::move(*read);
            }
            // The old Content Description Object holds only copies of extended entries.
            continue;
        }
        objects.push_back(object);
    }
    if (!tagsAt)
        return true; // no tags at all: nothing to move

    // The Content Description Object: title, author, copyright, description, rating.
    std::array<std::span<const std::byte>, 5> described{};
    TBytes others;
    uint16_t otherCount = 0;
    for (const TEntry& e : entries) {
        if (e.Name == "Title")
            described[0] = e.Value;
        else if (e.Name == "Author")
            described[1] = e.Value;
        else if (e.Name == "Description")
            described[3] = e.Value;
        else if (e.Name != reserveName) {
            others.insert(others.end(), e.Raw.begin(), e.Raw.end());
            ++otherCount;
        }
    }
    TBytes tags;
    uint32_t tagObjects = 0;
    if (std::any_of(described.begin(), described.end(), [](auto v) { return !v.empty(); })) {
        size_t textBytes = 0;
        for (const auto& v : described)
            textBytes += v.size();
        PutGuid(tags, kAsfContentDescription);
        PutLe(tags, kObjectHead + 10 + textBytes, 8);
        for (const auto& v : described)
            PutLe(tags, v.size(), 2);
        for (const auto& v : described)
            tags.insert(tags.end(), v.begin(), v.end());
        ++tagObjects;
    }
    if (otherCount > 0) {
        PutGuid(tags, kAsfExtendedContent);
        PutLe(tags, kObjectHead + 2 + others.size(), 8);
        PutLe(tags, otherCount, 2);
        tags.insert(tags.end(), others.begin(), others.end());
        ++tagObjects;
    }

    // The same header size, the difference made up by a Padding Object.
    size_t rest = kHeaderObjectHead + tags.size();
    for (const auto& o : objects)
        rest += o.size();
    if (rest > header.size() || (rest < header.size() && header.size() - rest < kObjectHead))
        return Fail(error, "the ASF header of \"" + path + "\" has no room for its tags");
    const size_t padding = header.size() - rest;
    TBytes rebuilt(header.begin(), header.begin() + kHeaderObjectHead);
    SetLe(rebuilt, 24, objects.size() + tagObjects + (padding > 0 ? 1 : 0), 4);
    for (size_t i = 0; i < objects.size(); ++i) {
        if (i == *tagsAt)
            rebuilt.insert(rebuilt.end(), tags.begin(), tags.end());
        rebuilt.insert(rebuilt.end(), objects[i].begin(), objects[i].end());
    }
    if (*tagsAt == objects.size())
        rebuilt.insert(rebuilt.end(), tags.begin(), tags.end());
    if (padding > 0) {
        PutGuid(rebuilt, kAsfPadding);
        PutLe(rebuilt, padding, 8);
        rebuilt.resize(header.size(), std::byte{0});
    }
    if (!WriteAllAt(file.Get(), rebuilt, 0))
        return Fail(error, "cannot write the tags of \"" + path + "\": " + std::strerror(errno));
    if (::close(file.Release()) != 0) // a write-back error shows here on some file systems
        return Fail(error, "cannot write the tags of \"" + path + "\": " + std::strerror(errno));
    return true;
}

namespace {

// A text as ASF stores it: UTF-16LE with its terminator. Our attribute texts are ASCII.
TBytes AsfText(std::string_view text) {
    TBytes out;
    for (const char c : text)
        PutLe(out, static_cast<uint8_t>(c), 2);
    PutLe(out, 0, 2);
    return out;
}

} // namespace

bool AddAsfAttributes(const std::string& path,
                      std::span<const std::pair<std::string, std::string>> items,
                      std::string& error, bool fresh) {
    const auto damaged = [&] {
        error = "the ASF header of \"" + path + "\" is damaged";
        return false;
    };
    const auto head = ReadFileRange(path, 0, kHeaderObjectHead);
    if (!head || head->size() < kHeaderObjectHead)
        return (error = "cannot read the header of \"" + path + "\"", false);
    TByteReader h(*head);
    const bool isHeader = IsAsfGuid(h.Bytes(16), kAsfHeaderObject);
    const uint64_t headerSize = h.U64LE();
    const uint32_t objectCount = h.U32LE();
    if (!isHeader || headerSize < kHeaderObjectHead || headerSize > kMaxHeaderBytes ||
        objectCount > kMaxObjects)
        return (error = "\"" + path + "\" does not start with an ASF header", false);
    const auto header = ReadFileRange(path, 0, static_cast<size_t>(headerSize));
    if (!header || header->size() != headerSize)
        return (error = "cannot read the header of \"" + path + "\"", false);

    // The new attributes after those kept of the old object.
    TBytes entries;
    uint32_t entryCount = 0;
    for (const auto& [name, value] : items) {
        const TBytes n = AsfText(name), v = AsfText(value);
        PutLe(entries, n.size(), 2);
        entries.insert(entries.end(), n.begin(), n.end());
        PutLe(entries, 0, 2); // a Unicode string
        PutLe(entries, v.size(), 2);
        entries.insert(entries.end(), v.begin(), v.end());
        ++entryCount;
    }
    const auto buildTags = [&](const std::vector<TEntry>& old) {
        TBytes kept;
        uint32_t count = entryCount;
        for (const TEntry& e : old)
            if (std::none_of(items.begin(), items.end(), [&](const auto& i) {
                    return AsciiUpper(i.first) == AsciiUpper(e.Name);
                })) {
                kept.insert(kept.end(), e.Raw.begin(), e.Raw.end());
                ++count;
            }
        TBytes object;
        PutGuid(object, kAsfExtendedContent);
        PutLe(object, kObjectHead + 2 + kept.size() + entries.size(), 8);
        PutLe(object, count, 2);
        object.insert(object.end(), kept.begin(), kept.end());
        object.insert(object.end(), entries.begin(), entries.end());
        return count > 0xFFFF ? TBytes{} : object;
    };

    TByteReader walk(*header);
    walk.Seek(kHeaderObjectHead);
    TBytes rebuilt(header->begin(), header->begin() + kHeaderObjectHead);
    std::optional<size_t> fileProperties;
    bool placed = false;
    for (uint32_t i = 0; i < objectCount; ++i) {
        const size_t start = walk.Pos();
        const auto id = walk.Bytes(16);
        const uint64_t size = walk.U64LE();
        if (walk.Failed() || size < kObjectHead || size - kObjectHead > walk.Remaining())
            return damaged();
        walk.Skip(static_cast<size_t>(size) - kObjectHead);
        const auto object =
            std::span<const std::byte>(*header).subspan(start, static_cast<size_t>(size));
        if (IsAsfGuid(id, kAsfExtendedContent) && !placed) {
            const auto old = ReadEntries(object.subspan(kObjectHead));
            const TBytes tags = old ? buildTags(*old) : TBytes{};
            if (tags.empty())
                return damaged();
            rebuilt.insert(rebuilt.end(), tags.begin(), tags.end());
            placed = true;
            continue;
        }
        if (IsAsfGuid(id, kAsfFileProperties))
            fileProperties = rebuilt.size();
        rebuilt.insert(rebuilt.end(), object.begin(), object.end());
    }
    if (!placed) {
        const TBytes tags = buildTags({});
        rebuilt.insert(rebuilt.end(), tags.begin(), tags.end());
        SetLe(rebuilt, 24, objectCount + 1, 4);
    }
    // File ID (16 bytes) after the object head, then the file's size.
    constexpr size_t kFileSizeAt = kObjectHead + 16;
    if (!fileProperties || rebuilt.size() - *fileProperties < kFileSizeAt + 8)
        return damaged();
    SetLe(rebuilt, 16, rebuilt.size(), 8);
    const auto fileSize = FileSizeOf(path);
    if (!fileSize)
        return (error = "cannot read \"" + path + "\"", false);
    SetLe(rebuilt, *fileProperties + kFileSizeAt, *fileSize - headerSize + rebuilt.size(), 8);
    return RebuildFileWithHead(path, rebuilt, headerSize, error, !fresh);
}

} // namespace bw
