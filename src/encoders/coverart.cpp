#include "encoders/coverart.h"

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
    case TTargetType::Wav:
        break;
    }
    return TCoverTarget::Wav;
}

} // namespace

void CarryCover(TItemContext& context, const std::string& written, TTargetType target) {
    CarryCover(context, written, CoverTargetOf(target));
}

void CarryCover(TItemContext& context, const std::string& written, TCoverTarget kind) {
    // WAV holds no pictures; WMA would get one only as a video stream, which players show
    // as a film.
    if (!context.CarryCovers() || kind == TCoverTarget::Wav || kind == TCoverTarget::Wma)
        return;
    const TmyMusicFile& item = context.CurrentJob();
    std::string why;
    const auto cover = ReadFrontCover(item.SourcePath, &why);
    if (!cover) {
        if (!why.empty())
            context.AddNote("The cover art of \"" + item.SourcePath + "\" was not carried: " + why);
        return;
    }
    std::string note;
    WriteFrontCover(written, kind, *cover, &note, true);
    if (!note.empty())
        context.AddNote(note);
}

} // namespace bw
