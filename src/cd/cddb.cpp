#include "cd/cddb.h"

#include "cd/cddrives.h"
#include "cd/localcddb.h"
#include "common/asciicase.h"
#include "common/utf8.h"

#include <cstdio>

namespace bw {

namespace {

constexpr const char* kGetAsyncFailed = "CDDB Component Internal Error: THttpCli.GetAsync failed because of error ";

int DigitSum(int n) {
    int sum = 0;
    for (; n > 0; n /= 10)
        sum += n % 10;
    return sum;
}

int Seconds(const TCdMsf& a) { return a.Minute * 60 + a.Second; }

std::string Hex8(uint32_t v, bool upper) {
    char buf[9];
    std::snprintf(buf, sizeof buf, upper ? "%08X" : "%08x", v);
    return buf;
}

// The three-digit code a line begins with; -1 when it begins otherwise.
int CodeOf(std::string_view line) {
    if (line.size() < 3)
        return -1;
    int code = 0;
    for (size_t i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return -1;
        code = code * 10 + (line[i] - '0');
    }
    return code;
}

bool IsValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        char32_t cp = 0;
        size_t len = 0;
        if (!DecodeUtf8At(s, i, cp, len))
            return false;
        i += len;
    }
    return true;
}

std::string Latin1ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

// Puts text into the first empty slot; a full list drops it.
template <size_t N> void AppendToFirstEmpty(std::array<std::string, N>& list, std::string text) {
    for (auto& slot : list)
        if (slot.empty()) {
            slot = std::move(text);
            return;
        }
}

} // namespace

uint32_t ComputeDiscId(const TCDToc& toc) {
    uint32_t n = 0;
    for (int i = 0; i < toc.TrackCount; ++i)
        n += static_cast<uint32_t>(DigitSum(Seconds(toc.Tracks[static_cast<size_t>(i)].Start)));
    const uint32_t t = static_cast<uint32_t>(Seconds(toc.LeadOut) - Seconds(toc.Tracks[0].Start));
    return (n % 255) << 24 | t << 8 | toc.TrackCount;
}

std::string BuildQueryCommand(const TCDToc& toc) {
    std::string cmd = "cddb query " + Hex8(ComputeDiscId(toc), false) + " " + std::to_string(toc.TrackCount);
    for (int i = 0; i < toc.TrackCount; ++i)
        cmd += " " + std::to_string(toc.Tracks[static_cast<size_t>(i)].Start.FrameOffset());
    return cmd + " " + std::to_string(Seconds(toc.LeadOut));
}

std::string UrlEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == ' ')
            out += '+';
        else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            out += c;
        else
            out += {'%', kHex[b >> 4], kHex[b & 15]};
    }
    return out;
}

std::string HelloUserHost(std::string_view email) {
    const size_t at = email.rfind('@');
    if (at == std::string_view::npos)
        return {};
    return std::string(email.substr(0, at)) + " " + std::string(email.substr(at + 1));
}

std::string GeneralResponseText(int code, bool* closes) {
    if (closes)
        *closes = false;
    switch (code) {
    case 402: return "Server error";
    case 408: return "CGI environment error";
    case 500: return "Command syntax error, command unknown, command unimplemented";
    case 530: return "Server error, server timeout";
    default: break;
    }
    std::string text;
    switch (code / 100) {
    case 1: text = "Informative message"; break;
    case 2: text = "Command OK"; break;
    case 3: text = "Command OK so far"; break;
    case 4: text = "Command OK, but cannot be performed"; break;
    case 5: text = "Command unimplemented, incorrect, or program error"; break;
    default: break;
    }
    switch (code % 100) {
    case 0: text += ", ready for further commands"; break;
    case 10: text += ", more server-to-client output follows"; break;
    case 20: text += ", more client-to-server input follows"; break;
    case 30:
        text += ", connection will close";
        if (closes)
            *closes = true;
        break;
    default: break;
    }
    return text;
}

std::vector<std::string> SplitResponseLines(const QByteArray& body) {
    std::vector<std::string> lines;
    const std::string_view all(body.constData(), static_cast<size_t>(body.size()));
    const auto add = [&lines](std::string_view raw) {
        lines.push_back(IsValidUtf8(raw) ? std::string(raw) : Latin1ToUtf8(raw));
    };
    size_t start = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i] != '\r' && all[i] != '\n')
            continue;
        add(all.substr(start, i - start));
        if (all[i] == '\r' && i + 1 < all.size() && all[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < all.size())
        add(all.substr(start));
    return lines;
}

TCddb::TCddb(TCdDriveList& drives) : drives_(drives) {}

TCddb::~TCddb() = default;

void TCddb::Report(const std::string& status) {
    if (OnStatusMessage)
        OnStatusMessage(*this, status);
}

void TCddb::Exchange(const std::string& data) {
    if (OnDataExchange)
        OnDataExchange(*this, data);
}

bool TCddb::ReadDiscToc(int drive) {
    if (!InternalTOCRetrieve) {
        Report("No CD-ROM interface detected!");
        return false;
    }
    drives_.Fill();
    if (drive < 0 || static_cast<size_t>(drive) >= drives_.Count())
        return false;
    const bool read = drives_.ReadToc(drive, info_.Toc);
    if (!read)
        Report("No CD in CD/DVD drive!");
    info_.DiscId = Hex8(ComputeDiscId(info_.Toc), false);
    currentDrive_ = drive;
    return read;
}

std::string TCddb::ServerPart() const {
    return "http://" + ServerAddr + ":" + ServerPort + ServerAdditionalAddr;
}

std::string TCddb::HelloPart() const {
    // Level 6: the server answers in UTF-8.
    return "&hello=" + UrlEncode(HelloUserHost(EmailUser)) + "+" + UrlEncode(ClientName) + "+" +
           UrlEncode(ClientVersion) + "&proto=6";
}

std::string TCddb::QueryUrl() const {
    return ServerPart() + "?cmd=" + UrlEncode(BuildQueryCommand(info_.Toc)) + HelloPart();
}

std::string TCddb::ReadUrl() const {
    // The category and the identifier come from the server's answer: encoded, so that an
    // answer can add no parameter of its own ("&", "#") nor break the request line.
    return ServerPart() + "?cmd=cddb+read+" + UrlEncode(TrimControlAndSpace(info_.Category)) + "+" +
           UrlEncode(TrimControlAndSpace(info_.DiscId)) + HelloPart();
}

int TCddb::QueryHttp() { return SendHttp(QueryUrl(), "Querying CD", TLookupState::QuerySent); }

int TCddb::ReadHttp() {
    if (lookupState_ == TLookupState::QueryFailed) {
        Report("Can't perform a CDDB READ without a successful CDDB QUERY!");
        return -1;
    }
    return SendHttp(ReadUrl(), "Reading CD info", TLookupState::ReadSent);
}

int TCddb::SendHttp(const std::string& url, const char* status, int32_t sent) {
    if (ServerType != TServerType::HTTP) {
        Report("Selected server not an HTTP server");
        return -1;
    }
    Report(status);
    Exchange(url + "\r\n");
    return Start(url, sent);
}

void TCddb::StartFailed(const std::string& reason) {
    lookupState_ = TLookupState::TransferFailed;
    Report(kGetAsyncFailed + reason + "\"");
}

int TCddb::Start(const std::string& url, int32_t stateOnStart) {
    const std::string refused = http_.Start(url, [this](THttpResult result) { RequestDone(std::move(result)); });
    if (!refused.empty()) {
        StartFailed(refused);
        return -1;
    }
    lookupState_ = stateOnStart;
    return 0;
}

void TCddb::Abort() { http_.Abort(); }

void TCddb::RequestDone(THttpResult result) {
    HandleResult(std::move(result));
    if (OnRequestDone)
        OnRequestDone(*this);
}

void TCddb::HandleResult(THttpResult result) {
    switch (result.Outcome) {
    case THttpResult::TOutcome::Ok: break;
    case THttpResult::TOutcome::TooLarge: {
        // A body that never ends is no entry: the lookup fails as with a corrupt one.
        const bool query = lookupState_ == TLookupState::QuerySent;
        if (query || lookupState_ == TLookupState::ReadSent) {
            lookupState_ = query ? TLookupState::QueryFailed : TLookupState::ReadFailed;
            Report("Database entry is corrupt");
        }
        return;
    }
    default:
        lookupState_ = TLookupState::TransferFailed;
        Report(kGetAsyncFailed + result.Error + "\"");
        return;
    }
    const std::vector<std::string> lines = SplitResponseLines(result.Body);
    HandleResponse(lines);
}

void TCddb::HandleResponse(std::span<const std::string> lines) {
    // The state at the end of the request decides for all its lines, whatever the
    // handlers change on the way.
    const int32_t state = lookupState_;
    if (state == TLookupState::QuerySent) {
        for (const std::string& line : lines) {
            Exchange(line);
            HandleQueryLine(line);
        }
    } else if (state == TLookupState::ReadSent) {
        for (const std::string& line : lines) {
            Exchange(line);
            HandleReadLine(line);
        }
        ParseReadEntry();
    }
}

void TCddb::CallOnMatch(bool afterExactMatch) {
    int rightOne = 0;
    if (OnMatch)
        OnMatch(*this, matches_, rightOne);
    if (rightOne < 0 || static_cast<size_t>(rightOne) >= matches_.size()) {
        lookupState_ = TLookupState::QueryFailed;
        return;
    }
    const std::string& m = matches_[static_cast<size_t>(rightOne)];
    const size_t space = m.find(' ');
    if (afterExactMatch) {
        info_.Category = TrimControlAndSpace(m.substr(0, space == std::string::npos ? m.size() : space + 1));
        info_.DiscId = Hex8(ComputeDiscId(info_.Toc), true);
    } else {
        info_.Category = m.substr(0, space);
        info_.DiscId = space == std::string::npos ? std::string() : m.substr(space + 1, 8);
        lookupState_ = TLookupState::MatchChosen;
    }
}

void TCddb::HandleQueryLine(const std::string& line) {
    const int code = CodeOf(line);
    switch (code) {
    case 200:
        lookupState_ = TLookupState::MatchChosen;
        matches_ = {};
        matches_[0] = TrimControlAndSpace(line.size() > 4 ? std::string_view(line).substr(4) : std::string_view());
        Report("Found exact match");
        CallOnMatch(true);
        return;
    case 202:
        lookupState_ = TLookupState::QueryFailed;
        Report("No match found");
        return;
    case 210:
    case 211:
        matches_ = {};
        Report(code == 210 ? "Found exact matches" : "Found inexact matches");
        Report("OK, receiving matches");
        return;
    case 403:
        lookupState_ = TLookupState::QueryFailed;
        Report("Database entry is corrupt");
        return;
    case 409:
        lookupState_ = TLookupState::QueryFailed;
        Report("No handshake");
        return;
    default: break;
    }
    if (line == ".") {
        lookupState_ = TLookupState::MatchesReceived;
        Report("Received matches");
        CallOnMatch(false);
        return;
    }
    if (!line.empty() && line[0] >= '0' && line[0] <= '9') {
        // A line that starts like a code but is none: nothing to go on.
        if (!ReportGeneralResponse(code))
            lookupState_ = TLookupState::QueryFailed;
        return;
    }
    AppendToFirstEmpty(matches_, TrimControlAndSpace(line));
}

void TCddb::HandleReadLine(const std::string& line) {
    const int code = CodeOf(line);
    switch (code) {
    case 210:
        entry_ = {};
        Report("OK, CDDB database entry follows");
        return;
    case 401:
    case 403:
    case 409:
        lookupState_ = TLookupState::ReadFailed;
        Report(code == 401 ? "Specified CDDB entry not found"
                           : code == 403 ? "Database entry is corrupt" : "No handshake");
        return;
    case 402: return;
    default: break;
    }
    const char first = line.empty() ? '\0' : line[0];
    if (first == '.') {
        lookupState_ = TLookupState::EntryRead;
        Report("Entry read");
        return;
    }
    if (first == '#' || first == 'T' || first == 'D' || first == 'E' || first == 'P') {
        AppendToFirstEmpty(entry_, TrimControlAndSpace(line));
        return;
    }
    lookupState_ = TLookupState::ReadFailed;
    ReportGeneralResponse(code);
}

bool TCddb::ReportGeneralResponse(int code) {
    if (code < 0) {
        Report("Unrecognised server response");
        return false;
    }
    bool closes = false;
    Report(GeneralResponseText(code, &closes));
    if (closes)
        lookupState_ = TLookupState::Idle;
    return true;
}

void TCddb::ParseReadEntry() {
    const std::string category = info_.Category;
    size_t used = 0;
    while (used < entry_.size() && !entry_[used].empty())
        ++used;
    if (TLocalCDDB().ParseXmcd(std::span<const std::string>(entry_.data(), used), info_) == -4)
        Report("The entry is corrupt");
    ReadDiscToc(currentDrive_);
    info_.Category = category;
}

} // namespace bw
