#include "net/musicbrainz.h"

#include "common/buildinfo.h"
#include "common/filehandle.h"
#include "net/httpget.h"

#include <QDir>
#include <QFile>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <unistd.h>

namespace bw {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// When the last request to the MusicBrainz service began: the service blocks clients that
// ask more than once a second, so every lookup of the process waits its turn here.
std::optional<steady_clock::time_point> gLastMbRequest;

constexpr milliseconds kMbInterval{1000};
constexpr int kMaxRetryAfterSeconds = 5;
constexpr int kMaxCoverRedirects = 5;

void Wait(milliseconds span) {
    if (span.count() <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
}

// Waits until a second has passed since the last request to the service, in this process or
// in any other of the user's (command-line runs started back to back), and marks the new
// request's time. The time is kept in a small file, locked while it is read and written;
// where the file cannot be used, the process's own last request alone counts.
void WaitForRequestTurn() {
    if (gLastMbRequest)
        Wait(std::chrono::duration_cast<milliseconds>(*gLastMbRequest + kMbInterval - steady_clock::now()));
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                           QStringLiteral("/brindlewave");
    TFileHandle file;
    if (QDir().mkpath(folder))
        file = TFileHandle(::open(QFile::encodeName(folder + QStringLiteral("/musicbrainz-turn")).constData(),
                                  O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (file.IsOpen() && ::flock(file.Get(), LOCK_EX) == 0) {
        using std::chrono::system_clock;
        int64_t last = 0;
        if (::pread(file.Get(), &last, sizeof last, 0) == static_cast<ssize_t>(sizeof last)) {
            const auto now = std::chrono::duration_cast<milliseconds>(system_clock::now().time_since_epoch());
            // A clock set back, or a broken file, never holds a request longer than the interval.
            Wait(std::clamp(milliseconds(last) + kMbInterval - now, milliseconds(0), kMbInterval));
        }
        const int64_t now =
            std::chrono::duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
        [[maybe_unused]] const ssize_t written = ::pwrite(file.Get(), &now, sizeof now, 0);
        // Closing the file lets the next process have its turn.
    }
    gLastMbRequest = steady_clock::now();
}

// One GET to its end on a local event loop; a refused start comes back as Failed.
THttpResult Get(THttpGet& http, const std::string& url) {
    QEventLoop loop;
    THttpResult result;
    bool ended = false;
    const std::string refused = http.Start(url, [&](THttpResult r) {
        result = std::move(r);
        ended = true;
        loop.quit();
    });
    if (!refused.empty()) {
        result.Error = refused;
        return result;
    }
    if (!ended)
        loop.exec();
    return result;
}

std::string Str(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toString().toStdString();
}

// An artist credit as the release prints it, and the id of its first artist.
std::pair<std::string, std::string> Credit(const QJsonValue& value) {
    std::string text, id;
    for (const QJsonValue& part : value.toArray()) {
        const QJsonObject o = part.toObject();
        text += Str(o, "name") + Str(o, "joinphrase");
        if (id.empty())
            id = Str(o.value(QLatin1String("artist")).toObject(), "id");
    }
    return {text, id};
}

// Genre names, the most voted first.
void AddGenres(const QJsonValue& value, std::vector<std::string>& out) {
    std::vector<std::pair<int, std::string>> genres;
    for (const QJsonValue& g : value.toArray())
        genres.emplace_back(g.toObject().value(QLatin1String("count")).toInt(),
                            Str(g.toObject(), "name"));
    std::stable_sort(genres.begin(), genres.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (auto& g : genres)
        if (!g.second.empty())
            out.push_back(std::move(g.second));
}

bool CarriesDisc(const QJsonObject& medium, const std::string& discId) {
    const QJsonArray discs = medium.value(QLatin1String("discs")).toArray();
    return std::any_of(discs.begin(), discs.end(),
                       [&](const QJsonValue& d) { return Str(d.toObject(), "id") == discId; });
}

std::string ServerFault(const std::string& what, const std::string& server,
                        const std::string& error) {
    return what + " \"" + server + "\" gave no answer: " + error;
}

} // namespace

std::string TMbRelease::Line() const {
    std::string details;
    for (const std::string* part : {&Date, &Country, &Label, &Format})
        if (!part->empty())
            details += *part + ", ";
    details += "medium " + std::to_string(Medium) + " of " + std::to_string(MediumCount);
    return Artist + " - " + Title + " (" + details + ")";
}

bool ParseMbDiscAnswer(const QByteArray& json, const std::string& discId,
                       std::vector<TMbRelease>& out, std::string& why) {
    out.clear();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (!doc.isObject() || !doc.object().value(QLatin1String("releases")).isArray()) {
        why = doc.isNull() ? "the answer is no JSON: " + error.errorString().toStdString()
                           : "the answer lists no releases";
        return false;
    }
    for (const QJsonValue& r : doc.object().value(QLatin1String("releases")).toArray()) {
        const QJsonObject o = r.toObject();
        const QJsonArray media = o.value(QLatin1String("media")).toArray();
        const auto medium = std::find_if(media.begin(), media.end(), [&](const QJsonValue& m) {
            return CarriesDisc(m.toObject(), discId);
        });
        if (medium == media.end())
            continue;
        const QJsonObject m = medium->toObject();
        TMbRelease release;
        release.Id = Str(o, "id");
        release.Title = Str(o, "title");
        std::tie(release.Artist, release.ArtistId) =
            Credit(o.value(QLatin1String("artist-credit")));
        release.Date = Str(o, "date");
        release.Country = Str(o, "country");
        const QJsonArray labels = o.value(QLatin1String("label-info")).toArray();
        if (!labels.isEmpty())
            release.Label =
                Str(labels.first().toObject().value(QLatin1String("label")).toObject(), "name");
        const QJsonObject group = o.value(QLatin1String("release-group")).toObject();
        release.ReleaseGroupId = Str(group, "id");
        AddGenres(o.value(QLatin1String("genres")), release.Genres);
        AddGenres(group.value(QLatin1String("genres")), release.Genres);
        release.Format = Str(m, "format");
        release.Medium = m.value(QLatin1String("position")).toInt(1);
        release.MediumCount = std::max(1, static_cast<int>(media.size()));
        for (const QJsonValue& t : m.value(QLatin1String("tracks")).toArray()) {
            const QJsonObject to = t.toObject();
            const QJsonObject recording = to.value(QLatin1String("recording")).toObject();
            TMbTrack track{Str(to, "id"), Str(recording, "id"), Str(to, "title"), {}, {}};
            // The track's own credit, else its recording's, else the release's.
            QJsonValue credit = to.value(QLatin1String("artist-credit"));
            if (credit.toArray().isEmpty())
                credit = recording.value(QLatin1String("artist-credit"));
            std::tie(track.Artist, track.ArtistId) = Credit(credit);
            if (track.Artist.empty())
                std::tie(track.Artist, track.ArtistId) =
                    std::pair(release.Artist, release.ArtistId);
            release.Tracks.push_back(std::move(track));
        }
        out.push_back(std::move(release));
    }
    return true;
}

std::string MusicBrainzUserAgent(std::string_view contact) {
    std::string agent = std::string(kProgramName) + "/" + kVersion;
    if (!contact.empty())
        agent += " ( " + std::string(contact) + " )";
    return agent;
}

TMbAnswer FetchMbReleases(const std::string& server, const std::string& discId,
                          const std::string& userAgent, int timeoutMs) {
    TMbAnswer answer;
    THttpGet http(kMaxMbAnswerBytes);
    http.SetTimeout(timeoutMs);
    http.SetUserAgent(userAgent);
    const std::string url = server + "/ws/2/discid/" + discId +
                            "?inc=artist-credits+labels+recordings+release-groups+genres&fmt=json";
    THttpResult result;
    for (int attempt = 0; attempt < 2; ++attempt) {
        WaitForRequestTurn();
        result = Get(http, url);
        // Busy: the service asks to be asked again later, once; a longer wait than a few
        // seconds is not worth holding the user for.
        if (result.Status != 503 || attempt > 0)
            break;
        Wait(milliseconds(1000 * std::clamp(result.RetryAfterSeconds, 0, kMaxRetryAfterSeconds)));
    }
    // Qt reports a 404 as a failed transfer that carries the status.
    if (result.Status == 404 && result.Outcome != THttpResult::TOutcome::Ok) {
        answer.Kind = TMbAnswer::TKind::NotFound;
        return answer;
    }
    if (result.Outcome != THttpResult::TOutcome::Ok) {
        answer.Error = ServerFault("MusicBrainz", server, result.Error);
        return answer;
    }
    std::string why;
    if (!ParseMbDiscAnswer(result.Body, discId, answer.Releases, why)) {
        answer.Error = "MusicBrainz \"" + server + "\" sent an unusable answer: " + why;
        return answer;
    }
    answer.Kind = answer.Releases.empty() ? TMbAnswer::TKind::NotFound : TMbAnswer::TKind::Found;
    return answer;
}

std::vector<std::byte> FetchFrontCover(const std::string& server, const std::string& releaseId,
                                       const std::string& userAgent, int timeoutMs,
                                       std::string& why) {
    THttpGet http(kMaxFetchedCoverBytes);
    http.SetTimeout(timeoutMs);
    http.SetUserAgent(userAgent);
    http.SetMaxRedirects(kMaxCoverRedirects);
    const THttpResult result = Get(http, server + "/release/" + releaseId + "/front-500");
    if (result.Status == 404 && result.Outcome != THttpResult::TOutcome::Ok) {
        why = "the release has no front cover";
        return {};
    }
    if (result.Outcome != THttpResult::TOutcome::Ok) {
        why = ServerFault("The cover art server", server, result.Error);
        return {};
    }
    std::vector<std::byte> data(static_cast<size_t>(result.Body.size()));
    std::memcpy(data.data(), result.Body.constData(), data.size());
    return data;
}

} // namespace bw
