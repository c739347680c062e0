#pragma once

// The MusicBrainz web service's disc lookup and the Cover Art Archive's front covers, over
// the shared bounded HTTP client. MusicBrainz asks its clients for a User-Agent that names
// them and for at most one request a second; both are kept here for the whole process.

#include <QByteArray>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

struct TMbTrack {
    std::string Id; // the release track
    std::string RecordingId;
    std::string Title;
    std::string Artist;   // its artist credit as written
    std::string ArtistId; // the credit's first artist
};

// A release whose medium carries the disc looked up, with that medium's tracks.
struct TMbRelease {
    std::string Id;
    std::string ReleaseGroupId;
    std::string Title;
    std::string Artist;   // the release's artist credit as written
    std::string ArtistId; // the credit's first artist
    std::string Date;     // "YYYY", "YYYY-MM" or "YYYY-MM-DD"; may be empty
    std::string Country;
    std::string Label;               // the first label named
    std::string Format;              // of the medium, "CD" say
    std::vector<std::string> Genres; // the release's, then its release group's, most voted first
    int Medium = 1;                  // the medium's position
    int MediumCount = 1;
    std::vector<TMbTrack> Tracks;

    // "Artist - Title (date, country, label, format, medium n of m)", the parts the release
    // lacks left out.
    std::string Line() const;
};

// The releases of a discid answer (JSON) whose media carry discId, each with the first such
// medium. False, with why, when the answer is no JSON object with a "releases" list.
bool ParseMbDiscAnswer(const QByteArray& json, const std::string& discId,
                       std::vector<TMbRelease>& out, std::string& why);

// "Brindlewave/VERSION ( CONTACT )", or "Brindlewave/VERSION" without a contact.
std::string MusicBrainzUserAgent(std::string_view contact);

// How a disc lookup ended.
struct TMbAnswer {
    enum class TKind { Found, NotFound, Failed };
    TKind Kind = TKind::Failed;
    std::vector<TMbRelease> Releases; // Found: at least one
    std::string Error;                // Failed: why, for the user
};

// The largest answers taken: a disc's releases, and one cover.
inline constexpr int64_t kMaxMbAnswerBytes = 4 << 20;
inline constexpr int64_t kMaxFetchedCoverBytes = 10 << 20;

// Asks server ("https://musicbrainz.org") for the releases of a disc id, waiting on a local
// event loop: no sooner than a second after the previous request to the service began,
// timeoutMs for the answer, a 503 asked once more after its Retry-After (at most 5 s).
// 404 and an answer without a release carrying the disc are NotFound.
TMbAnswer FetchMbReleases(const std::string& server, const std::string& discId,
                          const std::string& userAgent, int timeoutMs);

// The release's front cover from server ("https://coverartarchive.org"), 500 pixels wide,
// redirects followed, at most 10 MB. Empty, with why, when there is none or it can't be had.
std::vector<std::byte> FetchFrontCover(const std::string& server, const std::string& releaseId,
                                       const std::string& userAgent, int timeoutMs,
                                       std::string& why);

} // namespace bw
