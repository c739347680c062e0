#pragma once

#include "cd/cdtoc.h"
#include "net/httpget.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

class TCdDriveList;

enum class TServerType { CDDBP, HTTP };
enum class TCDInterface { cdiAutoDetect, cdiASPI, cdiNTSCSI };

// What the disc database knows of a disc, and the disc's table of contents.
struct TCDInfo {
    std::string DiscId;                     // 8 hexadecimal digits
    std::string Artist;                     // DTITLE before " / "
    std::string Title;                      // DTITLE after " / "
    std::string Year;                       // DYEAR
    std::string Genre;                      // DGENRE
    std::string ExtendedData;               // EXTD
    std::array<std::string, 100> TrackTitles;   // TTITLE0 .. TTITLE99
    std::array<std::string, 100> TrackExtended; // EXTT0 .. EXTT99
    std::string Category;                   // the database category of the chosen match
    int32_t Revision = 0;
    TCDToc Toc;
};

// Match lines of a query ("category discid title"), and the lines of a read entry.
using TMatchArray = std::array<std::string, 100>;
using TEntryArray = std::array<std::string, 1024>;

// The values of TCddb::LookupState.
namespace TLookupState {
inline constexpr int32_t Idle = -1;
inline constexpr int32_t MatchChosen = 3;
inline constexpr int32_t MatchesReceived = 4;
inline constexpr int32_t QueryFailed = 5;
inline constexpr int32_t QuerySent = 6;
inline constexpr int32_t ReadSent = 11;
inline constexpr int32_t EntryRead = 12;
inline constexpr int32_t ReadFailed = 13;
inline constexpr int32_t TransferFailed = 16;
} // namespace TLookupState

// The database's disc identifier of a table of contents.
uint32_t ComputeDiscId(const TCDToc& toc);
// "cddb query <id> <tracks> <offset>... <seconds>".
std::string BuildQueryCommand(const TCDToc& toc);
// Spaces become "+", letters and digits stay, every other byte becomes %XX.
std::string UrlEncode(std::string_view text);
// The "user host" pair of the hello from a mail address: split at its last "@"; empty when
// there is none.
std::string HelloUserHost(std::string_view email);
// The meaning of a three-digit response code. closes is set when the code says the server
// will close the connection.
std::string GeneralResponseText(int code, bool* closes = nullptr);
// A response body as lines: breaks are CR LF, a lone CR or a lone LF; a last line without a
// break is taken whole. Each line is read as UTF-8, or as ISO-8859-1 when it is not valid
// UTF-8, and handed on as UTF-8.
std::vector<std::string> SplitResponseLines(const QByteArray& body);

// The disc database client: identifies a disc by its table of contents and fetches its
// entry over the database's HTTP interface, a query and then a read. Completion arrives on
// the thread that owns the client (the user-interface thread), through its event loop; all
// state is touched only there. The client sets no deadline of its own: the lookup driver
// bounds a lookup and calls Abort.
class TCddb {
public:
    using TStatusEvent = std::function<void(TCddb& sender, const std::string& status)>;
    using TMatchEvent = std::function<void(TCddb& sender, const TMatchArray& matches, int& rightOne)>;

    // A response body past this size is refused as corrupt: an entry is a few kilobytes,
    // and a server that streams without end must not fill the memory.
    static constexpr qint64 kMaxBodyBytes = 1 << 20;

    explicit TCddb(TCdDriveList& drives);
    ~TCddb();
    TCddb(const TCddb&) = delete;
    TCddb& operator=(const TCddb&) = delete;

    std::string ServerAddr;
    std::string ServerPort = "80";
    std::string ServerAdditionalAddr = "/~cddb/cddb.cgi";
    TServerType ServerType = TServerType::HTTP;
    std::string EmailUser;
    std::string ClientName = "Brindlewave";
    std::string ClientVersion = "0.001";
    bool InternalTOCRetrieve = true;
    TCDInterface CDInterface = TCDInterface::cdiAutoDetect;

    TStatusEvent OnStatusMessage;
    TStatusEvent OnDataExchange;
    TMatchEvent OnMatch;
    // Called when a request has ended and its answer was handled, or it failed: the state
    // then is what the request left, so a driver can act on it at once.
    std::function<void(TCddb& sender)> OnRequestDone;

    // Reads the drive's table of contents into the record and computes its identifier.
    bool ReadDiscToc(int drive);
    // Start the query, or the read of the chosen match: 0 when started, -1 when not.
    int QueryHttp();
    int ReadHttp();
    // Ends the request under way; its completion reports "Connection aborted on request".
    void Abort();
    bool Busy() const { return http_.Busy(); }

    TCDInfo& DiscInfo() { return info_; }
    const TCDInfo& DiscInfo() const { return info_; }
    int32_t LookupState() const { return lookupState_; }
    // The state is not reset between lookups; an owner (or a test replaying an answer) may.
    void SetLookupState(int32_t state) { lookupState_ = state; }

    // The URLs the query and the read fetch, as sent.
    std::string QueryUrl() const;
    std::string ReadUrl() const;

    // The handlers of one response line each, as the request's end calls them; public so
    // that each answer of the protocol can be tried line by line.
    void HandleQueryLine(const std::string& line);
    // A line with a general response code: its text, and Idle when it closes the
    // connection. False, with "Unrecognised server response", for a line without a code.
    bool ReportGeneralResponse(int code);
    void HandleReadLine(const std::string& line);
    // Parses the read buffer into the record and reads the table of contents again.
    void ParseReadEntry();
    // Handles the lines of a finished response as the state at its end asks.
    void HandleResponse(std::span<const std::string> lines);

    const TMatchArray& Matches() const { return matches_; }
    const TEntryArray& ReadBuffer() const { return entry_; }

private:
    void Report(const std::string& status);
    void Exchange(const std::string& data);
    int Start(const std::string& url, int32_t stateOnStart);
    // The shared part of the query and the read: the status line, then the request.
    int SendHttp(const std::string& url, const char* status, int32_t sent);
    void StartFailed(const std::string& reason);
    void RequestDone(THttpResult result);
    void HandleResult(THttpResult result);
    void CallOnMatch(bool afterExactMatch);
    std::string HelloPart() const;
    std::string ServerPart() const;

    TCdDriveList& drives_;
    TCDInfo info_;
    TMatchArray matches_;
    TEntryArray entry_;
    int32_t lookupState_ = TLookupState::Idle;
    int currentDrive_ = -1;
    THttpGet http_{kMaxBodyBytes};
};

} // namespace bw
