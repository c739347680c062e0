#include "tags/oggvorbis.h"

#include "common/asciicase.h"
#include "common/bytereader.h"
#include "common/filebytes.h"
#include "common/outputfile.h"
#include "tags/channeltext.h"
#include "tags/flacfile.h"
#include "tags/oggpacket.h"
#include "tags/tagfile.h"
#include "tags/tagsource.h"
#include "tags/textcodec.h"
#include "tags/vorbiscomment.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bw {

namespace {

constexpr size_t kPageHeader = 27;
constexpr size_t kCommentBytesKept = 250;

uint8_t TrackFrom(std::string_view text) {
    const auto slash = text.find('/');
    const std::string_view number = text.substr(0, slash);
    int v = 0;
    const auto res = std::from_chars(number.data(), number.data() + number.size(), v);
    if (number.empty() || res.ec != std::errc() || res.ptr != number.data() + number.size() || v < 0)
        return 0;
    return static_cast<uint8_t>(v);
}


constexpr std::string_view kVorbisPictureName = "METADATA_BLOCK_PICTURE=";

constexpr std::string_view kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Encode(std::span<const std::byte> in) {
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    for (size_t i = 0; i < in.size(); i += 3) {
        const size_t n = std::min<size_t>(3, in.size() - i);
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k)
            v = v << 8 | (k < n ? static_cast<uint8_t>(in[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            out += k <= n ? kBase64[(v >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

// Ignores line breaks and stops at the padding; nothing on any other stray character.
std::optional<std::vector<std::byte>> Base64Decode(std::string_view in) {
    std::vector<std::byte> out;
    out.reserve(in.size() / 4 * 3);
    uint32_t acc = 0;
    int bits = 0;
    for (char c : in) {
        if (c == '=')
            break;
        if (c == '\r' || c == '\n')
            continue;
        const size_t at = kBase64.find(c);
        if (at == std::string_view::npos)
            return std::nullopt;
        acc = (acc << 6) | static_cast<uint32_t>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::byte>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

// Walks the comment packet of an Ogg Vorbis or Opus stream starting at start: each comment
// is given to take with its length and the stream positioned after the length; take reads
// or skips exactly that many bytes and answers false to stop. False when the stream is
// not one of these or the packet is broken.
bool WalkOggComments(TTagSource& source, uint64_t start,
                     const std::function<bool(TByteStream&, uint32_t)>& take) {
    // The identification header fills the first page alone; the comment starts the second.
    TOggPacketStream first(source, start);
    std::string kind;
    if (!first.Read(8, kind))
        return false;
    std::string_view commentMagic;
    if (kind.starts_with("\x01vorbis"))
        commentMagic = std::string_view("\x03vorbis", 7);
    else if (kind == "OpusHead")
        commentMagic = "OpusTags";
    else
        return false;
    TOggPacketStream in(source, first.NextPageStart());
    std::string magic;
    if (!in.Read(commentMagic.size(), magic) || magic != commentMagic)
        return false;
    return WalkVorbisComment(in, take);
}

// The picture of a METADATA_BLOCK_PICTURE comment whose name the stream is past.
std::optional<TCoverArt> ReadPictureComment(TByteStream& in, uint32_t valueLength, std::string* why) {
    std::string b;
    if (valueLength > kMaxPictureComment) {
        SetPictureWhy(why, "a METADATA_BLOCK_PICTURE comment is too large");
        in.Skip(valueLength);
        return std::nullopt;
    }
    if (!in.Read(valueLength, b)) {
        SetPictureWhy(why, "a METADATA_BLOCK_PICTURE comment runs past the end of its packet");
        return std::nullopt;
    }
    const auto block = Base64Decode(b);
    if (!block) {
        SetPictureWhy(why, "a METADATA_BLOCK_PICTURE comment is not base64");
        return std::nullopt;
    }
    return ParsePictureBlock(*block, why);
}

} // namespace

void TOggVorbis::Clear() {
    fileSize_ = 0;
    channels_ = 0;
    sampleRate_ = 0;
    nominalBitRate_ = 0;
    samples_ = 0;
    id3v2Size_ = 0;
    title_.clear();
    artist_.clear();
    album_.clear();
    date_.clear();
    genre_.clear();
    comment_.clear();
    track_ = 0;
    release_ = {};
}

bool TOggVorbis::Load(const std::string& path) {
    Clear();
    TFileSource source;
    if (!source.Open(path))
        return false;
    return Load(source);
}

bool TOggVorbis::Load(TTagSource& source) {
    Clear();
    fileSize_ = static_cast<int64_t>(source.Size());
    TID3v2 id3;
    if (id3.Load(source) && id3.Present() && id3.Size() > 0 && id3.Size() <= fileSize_)
        id3v2Size_ = id3.Size();

    std::vector<std::byte> head;
    const uint64_t start = static_cast<uint64_t>(id3v2Size_);
    if (!source.ReadExact(start, kPageHeader, head))
        return false;
    TByteReader page(head);
    if (!page.Expect("OggS"))
        return false;
    page.Seek(26);
    const uint8_t s1 = page.U8();

    // The identification header is the first page's only packet.
    const uint64_t idPos = start + kPageHeader + s1;
    std::vector<std::byte> id;
    if (!source.ReadExact(idPos, 30, id))
        return false;
    TByteReader r(id);
    if (r.U8() != 1 || !r.Expect("vorbis"))
        return false;
    r.Skip(4); // version
    channels_ = r.U8();
    sampleRate_ = r.S32LE();
    r.Skip(4); // maximum bit rate
    const int32_t nominal = r.S32LE();
    nominalBitRate_ = nominal > 0 ? static_cast<uint16_t>(std::lround(nominal / 1000.0)) : 0;

    ReadComment(source, idPos + 30);
    ReadSamples(source);
    return true;
}

bool TOggVorbis::ReadComment(TTagSource& source, uint64_t pageStart) {
    TOggPacketStream packet(source, pageStart);
    std::string kind;
    if (!packet.Read(7, kind) || kind != std::string("\x03vorbis", 7))
        return false;
    TVorbisFields f;
    const bool ok = ReadVorbisComment(packet, f, TCommentRule::LastWins, kCommentBytesKept);
    title_ = f.Title;
    artist_ = f.Artist.empty() ? f.Performer : f.Artist;
    album_ = f.Album;
    track_ = TrackFrom(f.TrackText);
    date_ = f.Date;
    genre_ = f.Genre;
    comment_ = f.Comment.empty() ? f.Description : f.Comment;
    release_ = f.Release;
    return ok;
}

void TOggVorbis::ReadSamples(TTagSource& source) {
    // A page further from the end than this leaves the length to the nominal bit rate, as
    // the list has always shown such files.
    constexpr size_t kVorbisTail = 50 * 241 + 10;
    const int64_t granule = LastOggGranule(source, kVorbisTail);
    samples_ = granule > 0 ? granule : 0;
}

int64_t LastOggGranule(TTagSource& source, size_t maxTail) {
    // The last page is looked for in a short tail first, where it nearly always is.
    const uint64_t size = source.Size();
    std::vector<std::byte> tail;
    for (const size_t want : {std::min<size_t>(4096, maxTail), maxTail}) {
        const uint64_t from = size > want ? size - want : 0;
        if (!source.Read(from, static_cast<size_t>(size - from), tail))
            return -1;
        for (size_t off = tail.size() >= kPageHeader ? tail.size() - kPageHeader + 1 : 0; off-- > 0;) {
            TByteReader h(std::span<const std::byte>(tail).subspan(off));
            // A page's capture pattern and version 0; bytes of packet data that happen to
            // read "OggS" are told apart by a granule position of -1 or a page that runs
            // past the end of the file.
            if (!h.Expect("OggS") || h.U8() != 0)
                continue;
            h.Skip(1); // header type
            const auto granule = static_cast<int64_t>(h.U64LE());
            h.Skip(12); // serial number, sequence number, checksum
            uint64_t pageSize = kPageHeader + h.U8();
            for (size_t i = pageSize - kPageHeader; i > 0; --i)
                pageSize += h.U8();
            if (h.Failed() || granule < 0 || off + pageSize > tail.size())
                continue;
            return granule;
        }
        if (from == 0)
            break;
    }
    return -1;
}

double TOggVorbis::Duration() const {
    if (samples_ > 0 && sampleRate_ > 0)
        return static_cast<double>(samples_) / sampleRate_;
    if (nominalBitRate_ > 0 && channels_ > 0)
        return static_cast<double>(fileSize_ - id3v2Size_) / nominalBitRate_ / channels_ / 125 * 2;
    return 0;
}

uint16_t TOggVorbis::BitRate() const {
    const double d = Duration();
    if (d <= 0)
        return 0;
    const double kbps = std::round(static_cast<double>(fileSize_ - id3v2Size_) / d / 125);
    return kbps > 65535 ? 65535 : static_cast<uint16_t>(kbps);
}

bool TOggVorbis::Valid() const { return (channels_ == 1 || channels_ == 2) && HeaderValid(); }

bool TOggVorbis::HeaderValid() const {
    return channels_ > 0 && sampleRate_ > 0 && Duration() > 0.1 && BitRate() != 0;
}

std::string TOggVorbis::ChannelModeText() const { return ChannelCountText(channels_); }

uint64_t PictureCommentSize(const TCoverArt& cover) {
    return kVorbisPictureName.size() + (PictureBlockSize(cover) + 2) / 3 * 4;
}

void ReadOggPictures(TTagSource& source, uint64_t streamStart, const TPictureOffer& offer,
                     std::string* why) {
    const size_t nameSize = kVorbisPictureName.size();
    WalkOggComments(source, streamStart, [&](TByteStream& in, uint32_t length) {
        std::string name;
        const size_t head = std::min<size_t>(length, nameSize);
        if (!in.Read(head, name))
            return false;
        if (head < nameSize || AsciiUpper(name) != kVorbisPictureName)
            return in.Skip(length - head);
        auto cover = ReadPictureComment(in, static_cast<uint32_t>(length - nameSize), why);
        return !(cover && offer(std::move(*cover)));
    });
}

namespace {

// vorbiscomment's escapes (its -e): backslash, line breaks and zero bytes.
std::string EscapeComment(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\0': out += "\\0"; break;
        default: out += c;
        }
    }
    return out;
}

// The comments of an Ogg Vorbis file, one escaped line each, but those drop answers true
// for. No value when the comment packet cannot be read whole.
std::optional<std::string> KeptOggComments(const std::string& path,
                                           const std::function<bool(std::string_view)>& drop,
                                           std::string& error) {
    TFileSource source;
    if (!OpenTagFile(path, source, error))
        return std::nullopt;
    TID3v2 id3;
    const uint64_t start =
        id3.Load(source) && id3.Present() ? static_cast<uint64_t>(std::max(id3.Size(), 0)) : 0;
    std::string lines;
    bool whole = true;
    const bool walked = WalkOggComments(source, start, [&](TByteStream& in, uint32_t length) {
        std::string text;
        if (lines.size() + length > 2 * kMaxPictureComment || !in.Read(length, text)) {
            whole = false;
            return false;
        }
        if (drop(text))
            return true;
        lines += EscapeComment(text);
        lines += '\n';
        return true;
    });
    if (!walked || !whole) {
        error = "cannot read the comments of " + path;
        return std::nullopt;
    }
    return lines;
}

// Runs vorbiscomment with args; false with its messages in error when it fails.
bool RunVorbisComment(std::vector<std::string> args, std::string& error) {
    // Its messages go to a pipe, its other output nowhere.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = std::string("cannot start vorbiscomment: ") + std::strerror(errno);
        return false;
    }
    struct TCloser {
        int& fd;
        ~TCloser() {
            if (fd >= 0)
                ::close(fd);
        }
    } readEnd{pipeFds[0]}, writeEnd{pipeFds[1]};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    args.insert(args.begin(), "vorbiscomment");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // The child is waited for on every way out, so none is left behind as a zombie.
    struct TChild {
        pid_t Pid = -1;
        int Status = 0;
        void Wait() {
            while (Pid > 0 && ::waitpid(Pid, &Status, 0) < 0 && errno == EINTR) {
            }
            Pid = -1;
        }
        ~TChild() { Wait(); }
    } child;
    const int spawned = posix_spawnp(&child.Pid, "vorbiscomment", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    pipeFds[1] = -1;
    if (spawned != 0) {
        child.Pid = -1;
        error = std::string("cannot start vorbiscomment: ") + std::strerror(spawned);
        return false;
    }
    std::string messages;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(pipeFds[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (messages.size() < 4096)
            messages.append(chunk, static_cast<size_t>(got));
    }
    child.Wait();
    const int status = child.Status;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    error = "vorbiscomment failed: " + std::string(TrimControl(messages));
    return false;
}

} // namespace

// The comment packet is rewritten by vorbiscomment (vorbis-tools), which repages the
// headers: it is given every comment the file keeps and the picture, in a file, since a
// picture does not fit on a command line, as UTF-8 (-R) with escapes (-e) so that any
// value comes through unchanged. Its output is a new file that replaces the old one only
// when it is complete.

namespace {

// Gives the file exactly the comments of lines (escaped, one a line).
bool RewriteOggComments(const std::string& path, const std::string& lines, std::string& error) {
    auto fail = [&](std::string why) {
        error = std::move(why);
        return false;
    };
    TScopedFile comment(TemporaryPathFor(path + ".txt"));
    TScopedFile output(TemporaryPathFor(path));
    const int fd = ::open(comment.Path().c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail("cannot create a file beside " + path + ": " + std::strerror(errno));
    const bool written = WriteAllAt(fd, AsBytes(lines), 0);
    if (::close(fd) != 0 || !written)
        return fail("cannot write a file beside " + path + ": " + std::strerror(errno));
    if (!RunVorbisComment({"-w", "-R", "-e", "-c", comment.Path(), path, output.Path()}, error))
        return false;
    TOggVorbis check;
    if (!check.Load(output.Path()) || check.Samples() <= 0)
        return fail("vorbiscomment wrote no playable file");
    const std::string finished = output.Path();
    output.Keep();
    if (!ReplaceWithTemporary(finished, path, error))
        return fail("cannot replace " + path + ": " + error);
    return true;
}

} // namespace

bool WriteOggPicture(const std::string& path, const TCoverArt& cover, std::string& error) {
    auto lines = KeptOggComments(
        path,
        [&cover](std::string_view text) {
            if (AsciiUpper(text.substr(0, kVorbisPictureName.size())) != kVorbisPictureName)
                return false;
            const auto block = Base64Decode(text.substr(kVorbisPictureName.size()));
            const auto old = block ? ParsePictureBlock(*block, nullptr) : std::nullopt;
            return old && old->PictureType == cover.PictureType;
        },
        error);
    if (!lines)
        return false;
    *lines += kVorbisPictureName;
    *lines += Base64Encode(BuildPictureBlock(cover));
    *lines += '\n';
    return RewriteOggComments(path, *lines, error);
}

bool WriteOggComments(const std::string& path,
                      std::span<const std::pair<std::string, std::string>> items,
                      std::string& error) {
    auto lines = KeptOggComments(
        path,
        [&items](std::string_view text) {
            const std::string name = AsciiUpper(text.substr(0, text.find('=')));
            return std::any_of(items.begin(), items.end(),
                               [&](const auto& i) { return AsciiUpper(i.first) == name; });
        },
        error);
    if (!lines)
        return false;
    for (const auto& [name, value] : items)
        *lines += EscapeComment(name + "=" + value) + '\n';
    return RewriteOggComments(path, *lines, error);
}

namespace {

// The Ogg page checksum: CRC-32 of polynomial 0x04C11DB7, unreflected, starting at zero,
// over the page with its checksum field zero.
uint32_t OggCrc(std::span<const std::byte> page) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int k = 0; k < 8; ++k)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    uint32_t crc = 0;
    for (const std::byte b : page)
        crc = (crc << 8) ^ table[((crc >> 24) ^ static_cast<uint8_t>(b)) & 0xFF];
    return crc;
}

void PutU32At(std::span<std::byte> out, size_t at, uint32_t v) {
    for (size_t k = 0; k < 4; ++k)
        out[at + k] = static_cast<std::byte>((v >> (8 * k)) & 0xFF);
}

// Gives a page its sequence number and checksum.
void SealPage(std::span<std::byte> page, uint32_t sequence) {
    PutU32At(page, 18, sequence);
    PutU32At(page, 22, 0);
    PutU32At(page, 22, OggCrc(page));
}

// Where the page at offset ends, and whether its last segment ends a packet; none when no
// whole page stands there.
std::optional<std::pair<size_t, bool>> PageAt(std::span<const std::byte> file, size_t at) {
    if (file.size() - at < kPageHeader || AsText(file.subspan(at, 4)) != "OggS")
        return std::nullopt;
    const auto segments = static_cast<uint8_t>(file[at + 26]);
    if (file.size() - at - kPageHeader < segments)
        return std::nullopt;
    size_t body = 0;
    for (size_t k = 0; k < segments; ++k)
        body += static_cast<uint8_t>(file[at + kPageHeader + k]);
    const size_t end = at + kPageHeader + segments + body;
    if (end > file.size())
        return std::nullopt;
    const bool ends =
        segments > 0 && static_cast<uint8_t>(file[at + kPageHeader + segments - 1]) < 255;
    return std::pair{end, ends};
}

} // namespace

bool WriteOpusComments(const std::string& path,
                       std::span<const std::pair<std::string, std::string>> items,
                       std::string& error, bool fresh) {
    const auto size = FileSizeOf(path);
    const auto file = size ? ReadFileRange(path, 0, static_cast<size_t>(*size)) : std::nullopt;
    if (!file || file->size() != *size) {
        error = "cannot read " + path;
        return false;
    }
    const std::span<const std::byte> in(*file);
    const auto broken = [&] {
        error = "the Ogg Opus headers of " + path + " are broken";
        return false;
    };
    // The identification header fills the first page; the comment runs from the second
    // page to one it ends, and the audio starts on a page of its own.
    const auto first = PageAt(in, 0);
    if (!first ||
        AsText(in.subspan(kPageHeader + static_cast<uint8_t>(in[26]))).substr(0, 8) != "OpusHead")
        return broken();
    std::string packet;
    size_t at = first->first;
    int oldPages = 0;
    for (bool ended = false; !ended; ++oldPages) {
        const auto page = PageAt(in, at);
        if (!page)
            return broken();
        const auto segments = static_cast<uint8_t>(in[at + 26]);
        packet += AsText(
            in.subspan(at + kPageHeader + segments, page->first - at - kPageHeader - segments));
        ended = page->second;
        at = page->first;
    }
    const size_t audioStart = at;
    if (!packet.starts_with("OpusTags"))
        return broken();
    const auto comment = ReplaceVorbisComments(std::string_view(packet).substr(8), items);
    if (!comment)
        return broken();
    packet = "OpusTags" + *comment;

    // The new comment pages: up to 255 segments of 255 bytes each, the last segment shorter.
    std::vector<std::byte> out(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(first->first));
    uint32_t sequence = 1;
    for (size_t done = 0, page = 0;; ++page) {
        std::vector<uint8_t> lacing;
        size_t body = 0;
        bool ends = false;
        while (lacing.size() < 255 && !ends) {
            const size_t take = std::min<size_t>(255, packet.size() - done - body);
            lacing.push_back(static_cast<uint8_t>(take));
            body += take;
            ends = take < 255;
        }
        const size_t start = out.size();
        out.insert(out.end(), in.begin() + 0,
                   in.begin() + static_cast<std::ptrdiff_t>(kPageHeader)); // a header to fill
        out[start + 5] = std::byte{page == 0 ? uint8_t{0} : uint8_t{1}};   // continued packet
        for (size_t k = 6; k < 14; ++k)
            out[start + k] = std::byte{0}; // header pages have granule position 0
        out[start + 26] = static_cast<std::byte>(lacing.size());
        for (const uint8_t l : lacing)
            out.push_back(static_cast<std::byte>(l));
        const auto bytes = AsBytes(std::string_view(packet).substr(done, body));
        out.insert(out.end(), bytes.begin(), bytes.end());
        SealPage(std::span(out).subspan(start), sequence++);
        done += body;
        if (ends)
            break;
    }
    // The audio pages follow as they were, renumbered when the comment's page count changed.
    const auto shift = static_cast<int64_t>(sequence - 1) - oldPages;
    for (at = audioStart; at < in.size();) {
        const auto page = PageAt(in, at);
        if (!page)
            return broken();
        const size_t start = out.size();
        out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(at),
                   in.begin() + static_cast<std::ptrdiff_t>(page->first));
        if (shift != 0) {
            const uint32_t old =
                static_cast<uint32_t>(in[at + 18]) | static_cast<uint32_t>(in[at + 19]) << 8 |
                static_cast<uint32_t>(in[at + 20]) << 16 | static_cast<uint32_t>(in[at + 21]) << 24;
            SealPage(std::span(out).subspan(start), static_cast<uint32_t>(old + shift));
        }
        at = page->first;
    }
    return RebuildFileWithHead(path, out, in.size(), error, !fresh);
}

} // namespace bw
