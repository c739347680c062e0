#include "tags/id3v1.h"

#include "common/bytereader.h"
#include "tags/tagfile.h"
#include "tags/tagsource.h"
#include "tags/textcodec.h"

#include <algorithm>
#include <vector>

namespace bw {

namespace {

constexpr std::string_view kLyricsBegin = "LYRICSBEGIN";
constexpr std::string_view kLyricsEnd = "LYRICS200";
constexpr size_t kMaxLyricsField = 99999; // what a 5-digit length can state

// The value of a field of decimal digits; -1 when it is empty or holds anything else.
int64_t DecimalField(std::string_view s) {
    if (s.empty())
        return -1;
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

std::string Digits(size_t value, int width) {
    std::string s = std::to_string(value);
    return std::string(static_cast<size_t>(std::max(0, width - static_cast<int>(s.size()))), '0') + s;
}

// A record field as ISO-8859-1 bytes: trailing control bytes removed, cut to its width.
std::string RecordText(std::string_view utf8, size_t width) {
    std::string s = Utf8ToLatin1(TrimRightControl(utf8));
    if (s.size() > width)
        s.resize(width);
    return s;
}

std::string FromRecord(std::span<const std::byte> field) {
    return Latin1ToUtf8(TrimRightControl(AsText(field)));
}

// Lyrics text in the file ends lines with CR; keep CR LF pairs without doubling the LF.
std::string NormaliseLineEnds(std::string_view s) {
    std::string crlf;
    for (char c : s) {
        crlf += c;
        if (c == '\r')
            crlf += '\n';
    }
    std::string out;
    for (size_t i = 0; i < crlf.size(); ++i) {
        out += crlf[i];
        if (crlf[i] == '\r' && i + 2 < crlf.size() && crlf[i + 1] == '\n' && crlf[i + 2] == '\n') {
            out += '\n';
            i += 2;
        }
    }
    return out;
}

} // namespace

void TID3v1::Clear() {
    present_ = false;
    revision_ = 1;
    title_.clear();
    artist_.clear();
    album_.clear();
    comment_.clear();
    year_.clear();
    track_ = 0;
    genreIndex_ = 255;
    lyricsPresent_ = false;
    lyricsSize_ = 0;
    extTitle_.clear();
    extArtist_.clear();
    extAlbum_.clear();
    extComment_.clear();
    author_.clear();
    lyrics_.clear();
    image_.clear();
    error_.clear();
}

void TID3v1::SetPair(std::string_view value, std::string& plain, std::string& extended) {
    value = TrimRightControl(value);
    plain = value;
    if (Utf8Length(value) > kFieldSize)
        extended = value;
    else
        extended.clear();
}

void TID3v1::SetYear(std::string_view v) {
    year_ = Utf8Left(TrimRightControl(v), 4);
}

bool TID3v1::Load(const std::string& path) {
    Clear();
    TFileSource source;
    return OpenTagFile(path, source, error_) && ReadBlocks(source, true);
}

bool TID3v1::Load(TTagSource& source) {
    Clear();
    return ReadBlocks(source, true);
}

bool TID3v1::ReadBlocks(TTagSource& source, bool parse) {
    // What the file holds now decides these, whatever an earlier read found.
    present_ = lyricsPresent_ = false;
    lyricsSize_ = 0;
    const uint64_t size = source.Size();
    std::vector<std::byte> buf;
    if (!source.ReadExact(size < kRecordSize ? 0 : size - kRecordSize, kRecordSize, buf)) {
        error_ = "the file is shorter than an ID3v1 record";
        return false;
    }
    if (AsText(buf).substr(0, 3) == "TAG") {
        present_ = true;
        if (parse)
            ReadRecord(buf);
    }

    // A Lyrics3 block ends where the record begins, or at the end of the file.
    const uint64_t end = present_ ? size - kRecordSize : size;
    if (end < kLyricsTrailerSize)
        return true;
    if (!source.ReadExact(end - kLyricsTrailerSize, kLyricsTrailerSize, buf)) {
        error_ = "cannot read the Lyrics3 trailer";
        return false;
    }
    const std::string_view trailer = AsText(buf);
    if (trailer.substr(6) == kLyricsEnd)
        lyricsSize_ = static_cast<int32_t>(std::max<int64_t>(0, DecimalField(trailer.substr(0, 6))));
    if (lyricsSize_ <= 0)
        return true;

    // The stated size must leave room for the start marker inside the file.
    const uint64_t blockSize = static_cast<uint64_t>(lyricsSize_) + kLyricsTrailerSize;
    if (static_cast<uint64_t>(lyricsSize_) < kLyricsBegin.size() || blockSize > end ||
        !source.ReadExact(end - blockSize, kLyricsBegin.size(), buf) || AsText(buf) != kLyricsBegin) {
        lyricsPresent_ = false;
        lyricsSize_ = 0;
        return true;
    }
    lyricsPresent_ = true;
    if (parse) {
        const size_t fieldsSize = static_cast<size_t>(lyricsSize_) - kLyricsBegin.size();
        if (!source.ReadExact(end - blockSize + kLyricsBegin.size(), fieldsSize, buf)) {
            error_ = "cannot read the Lyrics3 block";
            return false;
        }
        ReadLyricsFields(buf);
    }
    return true;
}

void TID3v1::ReadRecord(std::span<const std::byte> record) {
    const auto b125 = static_cast<uint8_t>(record[125]);
    const auto b126 = static_cast<uint8_t>(record[126]);
    revision_ = ((b125 == 0 && b126 != 0) || (b125 == 0x20 && b126 != 0x20)) ? 2 : 1;
    SetTitle(FromRecord(record.subspan(3, kFieldSize)));
    SetArtist(FromRecord(record.subspan(33, kFieldSize)));
    SetAlbum(FromRecord(record.subspan(63, kFieldSize)));
    SetYear(FromRecord(record.subspan(93, 4)));
    SetComment(FromRecord(record.subspan(97, revision_ == 2 ? 28 : kFieldSize)));
    if (revision_ == 2)
        track_ = b126;
    genreIndex_ = static_cast<uint8_t>(record[127]);
}

void TID3v1::ReadLyricsFields(std::span<const std::byte> fields) {
    TByteReader r(fields);
    while (r.Has(8)) {
        const std::string id = r.Text(3);
        const int64_t length = DecimalField(r.Text(5));
        if (length < 0 || !r.Has(static_cast<size_t>(length)))
            break;
        const std::string content = r.Text(static_cast<size_t>(length));
        const std::string trimmed = Latin1ToUtf8(TrimControl(content));
        if (id == "IND") {
            // Only says whether lyrics and time stamps are there; we read them anyway.
        } else if (id == "LYR") {
            lyrics_ = NormaliseLineEnds(trimmed);
        } else if (id == "INF") {
            SetComment(trimmed);
        } else if (id == "EAL") {
            SetAlbum(trimmed);
        } else if (id == "EAR") {
            SetArtist(trimmed);
        } else if (id == "ETT") {
            SetTitle(trimmed);
        } else if (id == "AUT") {
            author_ = trimmed;
        } else if (id == "IMG") {
            image_ = Latin1ToUtf8(content);
        } else {
            break;
        }
    }
}

std::string TID3v1::BuildBlocks(bool withLyrics) const {
    std::string out;
    const bool lyricsOwn = !lyrics_.empty() || !author_.empty() || !image_.empty();
    const bool lyricsText = !lyrics_.empty() || !author_.empty() || !extArtist_.empty() ||
                            !extAlbum_.empty() || !extComment_.empty() || !extTitle_.empty();
    if (withLyrics && lyricsOwn && lyricsText) {
        out = std::string(kLyricsBegin) + (lyrics_.empty() ? "IND0000200" : "IND0000210");
        const std::pair<const char*, const std::string*> fields[] = {
            {"EAL", &extAlbum_}, {"EAR", &extArtist_}, {"ETT", &extTitle_}, {"INF", &extComment_},
            {"AUT", &author_},   {"LYR", &lyrics_},    {"IMG", &image_}};
        for (const auto& [id, value] : fields) {
            if (TrimControl(*value).empty())
                continue;
            // A 5-digit length cannot state more; longer content is cut.
            std::string content = Utf8ToLatin1(*value);
            if (content.size() > kMaxLyricsField)
                content.resize(kMaxLyricsField);
            out += id + Digits(content.size(), 5) + content;
        }
        out += Digits(out.size(), 6) + std::string(kLyricsEnd);
    }

    std::string record(kRecordSize, '\0');
    auto put = [&](size_t offset, const std::string& s) { record.replace(offset, s.size(), s); };
    put(0, "TAG");
    put(3, RecordText(Title(), kFieldSize));
    put(33, RecordText(Artist(), kFieldSize));
    put(63, RecordText(Album(), kFieldSize));
    put(93, RecordText(year_, 4));
    put(97, RecordText(Comment(), track_ != 0 ? 28 : kFieldSize));
    if (track_ != 0) {
        record[125] = '\0';
        record[126] = static_cast<char>(track_);
    }
    record[127] = static_cast<char>(genreIndex_);
    return out + record;
}

bool TID3v1::FindBlocks(const std::string& path, TFileSource& source) {
    error_.clear();
    if (!OpenTagFile(path, source, error_))
        return false;
    // A file shorter than a record has no blocks.
    if (source.Size() < kRecordSize) {
        present_ = lyricsPresent_ = false;
        lyricsSize_ = 0;
        return true;
    }
    return ReadBlocks(source, false);
}

void TID3v1::NoteLyricsWritten(size_t blocksSize) {
    lyricsPresent_ = blocksSize > kRecordSize;
    lyricsSize_ = lyricsPresent_ ? static_cast<int32_t>(blocksSize - kRecordSize - kLyricsTrailerSize) : 0;
}

bool TID3v1::AppendBlocks(const std::string& path, bool withLyrics) {
    error_.clear();
    TFileSource source;
    if (!MakeWritable(path, error_) || !OpenTagFile(path, source, error_))
        return false;
    const std::string blocks = BuildBlocks(withLyrics);
    if (!ReplaceFileTail(path, source.Size(), AsBytes(blocks), error_))
        return false;
    if (blocks.size() > kRecordSize)
        NoteLyricsWritten(blocks.size());
    return true;
}

bool TID3v1::Save(const std::string& path) {
    // Find the old blocks, then write the new ones over them in one step: a failed write
    // puts the old ones back rather than leaving the file without a tag.
    TFileSource source;
    if (!MakeWritable(path, error_) || !FindBlocks(path, source))
        return false;
    const uint64_t cut = source.Size() - static_cast<uint64_t>(TotalSize());
    const std::string blocks = BuildBlocks(true);
    if (!ReplaceFileTail(path, cut, AsBytes(blocks), error_))
        return false;
    present_ = true;
    NoteLyricsWritten(blocks.size());
    return true;
}

bool TID3v1::Strip(const std::string& path) {
    TFileSource source;
    if (!FindBlocks(path, source))
        return false;
    if (!present_ && !lyricsPresent_)
        return true;
    if (!MakeWritable(path, error_) ||
        !TruncateFile(path, source.Size() - static_cast<uint64_t>(TotalSize()), error_))
        return false;
    present_ = lyricsPresent_ = false;
    lyricsSize_ = 0;
    return true;
}

} // namespace bw
