#include "tags/covers.h"

#include "common/asciicase.h"
#include "common/filebytes.h"
#include "tags/apetag.h"
#include "tags/flacfile.h"
#include "tags/id3v2.h"
#include "tags/mp4tags.h"
#include "tags/oggvorbis.h"
#include "tags/tagsource.h"
#include "tags/textcodec.h"
#include "tags/wmafile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>

namespace bw {

namespace {

// Pictures of one source as they are found: the first front cover wins, else the first.
class TPicked {
public:
    // True once a front cover is held and the search may stop.
    bool Offer(TCoverArt&& cover) {
        if (!IsUsablePicture(cover))
            return Done();
        if (!picked_ || (picked_->PictureType != kFrontCoverType && cover.PictureType == kFrontCoverType))
            picked_ = std::move(cover);
        return Done();
    }
    bool Done() const { return picked_ && picked_->PictureType == kFrontCoverType; }
    std::optional<TCoverArt> Take() { return std::move(picked_); }
    // What a format's walk offers its pictures to.
    TPictureOffer AsOffer() {
        return [this](TCoverArt&& cover) { return Offer(std::move(cover)); };
    }

private:
    std::optional<TCoverArt> picked_;
};

// ---- Writing --------------------------------------------------------------------------

std::string SizeText(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

std::string TooLarge(const TCoverArt& cover, std::string_view format) {
    return "The cover art (" + SizeText(cover.Data.size()) + ") is too large for " + std::string(format) +
           " and was left out.";
}

std::string CouldNotWrite(const std::string& why) { return "The cover art could not be written: " + why; }

bool WriteMp3Cover(const std::string& path, const TCoverArt& cover, std::string* note) {
    TID3v2 tag;
    if (!tag.Load(path)) {
        SetPictureWhy(note, tag.LastError());
        return false;
    }
    tag.SetPicture(cover);
    if (tag.NeededSize() == 0) {
        SetPictureWhy(note, TooLarge(cover, "an MP3 file"));
        return true;
    }
    if (!tag.Save(path)) {
        SetPictureWhy(note, CouldNotWrite(tag.LastError()));
        return false;
    }
    return true;
}

bool WriteFlacCover(const std::string& path, const TCoverArt& cover, std::string* note, bool fresh) {
    if (PictureBlockSize(cover) > kMaxFlacBlockBytes) {
        SetPictureWhy(note, TooLarge(cover, "a FLAC file"));
        return true;
    }
    std::string error;
    if (!TFLACfile::WritePicture(path, cover, fresh, error)) {
        SetPictureWhy(note, CouldNotWrite(error));
        return false;
    }
    return true;
}

bool WriteOggCover(const std::string& path, const TCoverArt& cover, std::string* note) {
    if (PictureCommentSize(cover) > kMaxPictureComment) {
        SetPictureWhy(note, TooLarge(cover, "an Ogg Vorbis file"));
        return true;
    }
    std::string error;
    if (!WriteOggPicture(path, cover, error)) {
        SetPictureWhy(note, CouldNotWrite(error));
        return false;
    }
    return true;
}

bool WriteApeCover(const std::string& path, const TCoverArt& cover, std::string_view format, std::string* note) {
    TAPETag tag;
    if (!tag.LoadWhole(path, TAPETag::kMaxPictureItemBytes)) {
        SetPictureWhy(note, CouldNotWrite(tag.LastError()));
        return false;
    }
    tag.SetFrontCover(cover);
    if (tag.TagBytes() > UINT32_MAX) {
        SetPictureWhy(note, TooLarge(cover, format));
        return true;
    }
    if (!tag.Save(path)) {
        SetPictureWhy(note, CouldNotWrite(tag.LastError()));
        return false;
    }
    return true;
}

bool WriteMp4Cover(const std::string& path, const TCoverArt& cover, std::string* note, bool fresh) {
    TMp4Tags tags;
    if (!tags.Load(path)) {
        SetPictureWhy(note, CouldNotWrite(tags.LastError()));
        return false;
    }
    if (cover.Data.size() > kMaxCoverBytes) {
        SetPictureWhy(note, TooLarge(cover, "an MP4 file"));
        return true;
    }
    if (!tags.SetCover(cover)) {
        SetPictureWhy(note, "The cover art (" + (cover.MimeType.empty() ? std::string("of an unknown kind") : cover.MimeType) +
                                ") is neither JPEG nor PNG, the kinds an MP4 file holds, and was left out.");
        return true;
    }
    if (!tags.Save(path, fresh)) {
        SetPictureWhy(note, CouldNotWrite(tags.LastError()));
        return false;
    }
    return true;
}

} // namespace

std::optional<TCoverArt> ReadEmbeddedCover(TTagSource& source, std::string* why) {
    SetPictureWhy(why, {});
    TPicked picked;
    TID3v2::ReadPictures(source, picked.AsOffer(), why);
    if (!picked.Done()) {
        TID3v2 id3;
        const uint64_t start =
            id3.Load(source) && id3.Present() ? static_cast<uint64_t>(std::max(id3.Size(), 0)) : 0;
        std::vector<std::byte> magic;
        if (source.ReadExact(start, 4, magic)) {
            if (AsText(magic) == "fLaC")
                TFLACfile::ReadPictures(source, start, picked.AsOffer(), why);
            else if (AsText(magic) == "OggS")
                ReadOggPictures(source, start, picked.AsOffer(), why);
        }
    }
    if (!picked.Done())
        TMp4Tags::ReadPictures(source, picked.AsOffer(), why);
    if (!picked.Done())
        TWMAfile::ReadPictures(source, picked.AsOffer(), why);
    if (!picked.Done())
        TAPETag::ReadPictures(source, picked.AsOffer(), why);
    auto cover = picked.Take();
    if (cover)
        SetPictureWhy(why, {});
    return cover;
}

std::optional<TCoverArt> ReadSidecarCover(const std::string& sourcePath, std::string* why) {
    static constexpr std::array<std::string_view, 4> kNames{"cover.jpg", "folder.jpg", "front.jpg", "cover.png"};
    const std::filesystem::path folder = std::filesystem::path(sourcePath).parent_path();
    std::error_code ec;
    std::filesystem::directory_iterator it(folder.empty() ? std::filesystem::path(".") : folder, ec);
    size_t best = kNames.size();
    std::filesystem::path bestPath;
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = AsciiLower(it->path().filename().string());
        const auto at = std::find(kNames.begin(), kNames.end(), name);
        const auto rank = static_cast<size_t>(at - kNames.begin());
        // A lower rank wins; between names differing only in case, the first in byte order.
        if (rank < best || (rank == best && it->path() < bestPath)) {
            std::error_code typeError;
            if (!it->is_regular_file(typeError))
                continue;
            best = rank;
            bestPath = it->path();
        }
    }
    if (best == kNames.size())
        return std::nullopt;
    const auto size = FileSizeOf(bestPath.string());
    if (size && *size > kMaxCoverBytes) {
        SetPictureWhy(why, "the picture " + bestPath.string() + " is too large");
        return std::nullopt;
    }
    // Read at its own size: a buffer of the largest size allowed would be cleared page by
    // page for every file of a library.
    auto data = size ? ReadFileRange(bestPath.string(), 0, static_cast<size_t>(*size)) : std::nullopt;
    if (!data || data->empty()) {
        SetPictureWhy(why, "cannot read the picture " + bestPath.string());
        return std::nullopt;
    }
    TCoverArt cover;
    cover.Data = std::move(*data);
    FillPictureMimeType(cover, bestPath.filename().string());
    return cover;
}

std::optional<TCoverArt> ReadFrontCover(const std::string& sourcePath, std::string* why) {
    SetPictureWhy(why, {});
    std::string embeddedWhy;
    TFileSource source;
    if (source.Open(sourcePath)) {
        if (auto cover = ReadEmbeddedCover(source, &embeddedWhy))
            return cover;
    }
    std::string sidecarWhy;
    if (auto cover = ReadSidecarCover(sourcePath, &sidecarWhy))
        return cover;
    SetPictureWhy(why, !sidecarWhy.empty() ? sidecarWhy : embeddedWhy);
    return std::nullopt;
}

bool WriteFrontCover(const std::string& outputPath, TCoverTarget kind, const TCoverArt& cover,
                     std::string* note, bool fresh) {
    SetPictureWhy(note, {});
    if (cover.Data.empty())
        return true;
    switch (kind) {
    case TCoverTarget::Mp3:
        return WriteMp3Cover(outputPath, cover, note);
    case TCoverTarget::Flac:
        return WriteFlacCover(outputPath, cover, note, fresh);
    case TCoverTarget::OggVorbis:
        return WriteOggCover(outputPath, cover, note);
    case TCoverTarget::Ape:
        return WriteApeCover(outputPath, cover, "a Monkey's Audio file", note);
    case TCoverTarget::Musepack:
        return WriteApeCover(outputPath, cover, "a Musepack file", note);
    case TCoverTarget::WavPack:
        return WriteApeCover(outputPath, cover, "a WavPack file", note);
    case TCoverTarget::Mp4:
        return WriteMp4Cover(outputPath, cover, note, fresh);
    case TCoverTarget::Wma:
    case TCoverTarget::Wav:
        // FFmpeg would store a WMA picture as a video stream, which players show as video.
        return true;
    }
    return true;
}

} // namespace bw
