#include "encoders/coverart.h"

#include "audio/mediafile.h"
#include "tags/covers.h"

namespace bw {

namespace {

TCoverTarget CoverTargetOf(TTargetType target) {
    switch (target) {
    case TTargetType::Mp3:
        return TCoverTarget::Mp3;
    case TTargetType::Ogg:
        return TCoverTarget::OggVorbis;
    case TTargetType::Flac:
        return TCoverTarget::Flac;
    case TTargetType::Ape:
        return TCoverTarget::Ape;
    case TTargetType::Mpc:
        return TCoverTarget::Musepack;
    case TTargetType::Wma:
        return TCoverTarget::Wma;
    case TTargetType::WavPack:
        return TCoverTarget::WavPack;
    case TTargetType::Aac:
        return TCoverTarget::Mp4;
    case TTargetType::Wav:
    case TTargetType::Opus: // opusenc takes the picture as it writes the file
        break;
    }
    return TCoverTarget::Wav;
}

} // namespace

std::optional<TCoverArt> CoverToCarry(TItemContext& context) {
    if (!context.CarryCovers())
        return std::nullopt;
    const TmyMusicFile& item = context.CurrentJob();
    if (item.FetchedCover && !item.FetchedCover->empty()) {
        TCoverArt fetched;
        fetched.Data = *item.FetchedCover;
        FillPictureMimeType(fetched);
        return fetched;
    }
    std::string why;
    std::optional<TCoverArt> cover;
    // FFmpeg reads the pictures of the containers the tag classes do not know (an MP4
    // "covr" item, the ID3v2 chunk of an AIFF or DSF file); failing one, the tag readers
    // and the pictures beside the file have their turn as for any source.
    if (item.SourceType == TSourceType::Other)
        cover = TMediaFile::FrontCover(item.SourcePath);
    if (!cover)
        cover = ReadFrontCover(item.SourcePath, &why);
    if (!cover && !why.empty())
        context.AddNote("The cover art of \"" + item.SourcePath + "\" was not carried: " + why);
    return cover;
}

namespace {

void CarryCoverInto(TItemContext& context, const std::string& written, TCoverTarget kind) {
    // WAV holds no pictures; WMA would get one only as a video stream, which players show
    // as a film.
    if (!context.CarryCovers() || kind == TCoverTarget::Wav || kind == TCoverTarget::Wma)
        return;
    const auto cover = CoverToCarry(context);
    if (!cover)
        return;
    std::string note;
    WriteFrontCover(written, kind, *cover, &note, true);
    if (!note.empty())
        context.AddNote(note);
}

} // namespace

void CarryCover(TItemContext& context, const std::string& written, TTargetType target) {
    // Opus outputs get theirs from the encoder.
    if (target != TTargetType::Opus)
        CarryCoverInto(context, written, CoverTargetOf(target));
}

} // namespace bw
