// The disc database client without a server: the disc identifier, the URLs it sends, each
// answer line of the query and the read, the line splitting, and the xmcd records.

#include "cd/cddb.h"
#include "cd/cddrives.h"
#include "cd/localcddb.h"
#include "support/cddbserver.h"

#include <gtest/gtest.h>

using namespace bw;

namespace {

TCDToc TwoTrackToc() {
    TCDToc toc;
    toc.TrackCount = 2;
    toc.Tracks[0].Start = {0, 2, 0};
    toc.Tracks[1].Start = {2, 15, 25};
    toc.LeadOut = {7, 34, 0};
    return toc;
}

struct TClient {
    TClient() : Cddb(Drives) {
        bwtest::CoreApp();
        Cddb.ServerAddr = "S";
        Cddb.EmailUser = "me@home";
        Cddb.DiscInfo().Toc = TwoTrackToc();
        Cddb.OnStatusMessage = [this](TCddb&, const std::string& s) { Status.push_back(s); };
    }
    // Feeds a finished response, as the transport hands it over at the end of a request.
    void Answer(int32_t stateBefore, const std::vector<std::string>& lines) {
        Cddb.SetLookupState(stateBefore);
        Cddb.HandleResponse(lines);
    }
    TCdDriveList Drives;
    TCddb Cddb;
    std::vector<std::string> Status;
};

} // namespace

TEST(Cddb, DiscIdAndQueryOfATwoTrackDisc) {
    const TCDToc toc = TwoTrackToc();
    EXPECT_EQ(ComputeDiscId(toc), 0x0b01c402u);
    EXPECT_EQ(BuildQueryCommand(toc), "cddb query 0b01c402 2 150 10150 454");
    // Digit sums over 255 wrap; a 99-track disc's count is the low byte.
    TCDToc big;
    big.TrackCount = 99;
    for (int i = 0; i < 99; ++i)
        big.Tracks[static_cast<size_t>(i)].Start = {static_cast<uint8_t>(i / 2 + 1), 59, 0};
    big.LeadOut = {60, 0, 0};
    uint32_t n = 0;
    for (int i = 0; i < 99; ++i) {
        int s = (i / 2 + 1) * 60 + 59;
        for (; s > 0; s /= 10)
            n += static_cast<uint32_t>(s % 10);
    }
    EXPECT_EQ(ComputeDiscId(big), (n % 255) << 24 | (3600u - 119u) << 8 | 99u);
}

TEST(Cddb, UrlsAndHello) {
    EXPECT_EQ(UrlEncode("0.001"), "0%2E001");
    EXPECT_EQ(UrlEncode("a b~Zz9\xc3\xa9"), "a+b%7EZz9%C3%A9");
    EXPECT_EQ(HelloUserHost("a@b@c.example"), "a@b c.example");
    EXPECT_EQ(HelloUserHost("nobody"), "");

    TClient c;
    EXPECT_EQ(c.Cddb.QueryUrl(), "http://S:80/~cddb/cddb.cgi?cmd=cddb+query+0b01c402+2+150+10150+454"
                                 "&hello=me+home+Brindlewave+0%2E001&proto=6");
    c.Answer(TLookupState::QuerySent, {"200 rock 7a0b1c0d Some Artist / Some Title"});
    EXPECT_EQ(c.Cddb.LookupState(), TLookupState::MatchChosen);
    // One exact match: the identifier is the one computed, in upper case.
    EXPECT_EQ(c.Cddb.ReadUrl(), "http://S:80/~cddb/cddb.cgi?cmd=cddb+read+rock+0B01C402"
                                "&hello=me+home+Brindlewave+0%2E001&proto=6");
    c.Cddb.EmailUser = "nobody";
    EXPECT_NE(c.Cddb.ReadUrl().find("&hello=+Brindlewave+0%2E001&proto=6"), std::string::npos);
    // Not an HTTP server: nothing is sent.
    c.Cddb.ServerType = TServerType::CDDBP;
    EXPECT_EQ(c.Cddb.QueryHttp(), -1);
    EXPECT_EQ(c.Status.back(), "Selected server not an HTTP server");
}

TEST(Cddb, QueryAnswers) {
    struct TCase {
        std::vector<std::string> Lines;
        int32_t State;
        std::vector<std::string> Status;
    };
    const std::vector<TCase> cases{
        {{"202 No match for disc ID 0b01c402."}, TLookupState::QueryFailed, {"No match found"}},
        {{"403 Database entry is corrupt."}, TLookupState::QueryFailed, {"Database entry is corrupt"}},
        {{"409 No handshake."}, TLookupState::QueryFailed, {"No handshake"}},
        {{"500 Command syntax error."}, TLookupState::QuerySent,
         {"Command syntax error, command unknown, command unimplemented"}},
        {{"402 Server error."}, TLookupState::QuerySent, {"Server error"}},
        {{"408 CGI environment error."}, TLookupState::QuerySent, {"CGI environment error"}},
        {{"530 Server error, server timeout."}, TLookupState::QuerySent, {"Server error, server timeout"}},
        {{"110 informative"}, TLookupState::QuerySent, {"Informative message, more server-to-client output follows"}},
        {{"320 so far"}, TLookupState::QuerySent, {"Command OK so far, more client-to-server input follows"}},
        {{"201 ok"}, TLookupState::QuerySent, {"Command OK"}},
        {{"230 bye"}, TLookupState::Idle, {"Command OK, connection will close"}},
        {{"400 no"}, TLookupState::QuerySent, {"Command OK, but cannot be performed, ready for further commands"}},
        {{"510 no"}, TLookupState::QuerySent, {"Command unimplemented, incorrect, or program error, more server-to-client output follows"}},
        {{"900 odd"}, TLookupState::QuerySent, {", ready for further commands"}},
        // No code where one is needed: the lookup fails.
        {{"2x0 garbled"}, TLookupState::QueryFailed, {"Unrecognised server response"}},
    };
    for (const auto& c : cases) {
        TClient t;
        t.Answer(TLookupState::QuerySent, c.Lines);
        EXPECT_EQ(t.Cddb.LookupState(), c.State) << c.Lines[0];
        EXPECT_EQ(t.Status, c.Status) << c.Lines[0];
    }
}

TEST(Cddb, SeveralMatchesOfferTheListAndARejectionFails) {
    TClient c;
    std::vector<std::string> offered;
    c.Cddb.OnMatch = [&](TCddb&, const TMatchArray& m, int& right) {
        for (const auto& s : m)
            if (!s.empty())
                offered.push_back(s);
        EXPECT_EQ(right, 0);
    };
    c.Answer(TLookupState::QuerySent, {"211 close matches found", "rock 0b01c402 A / B ",
                                       "jazz 0b01c403 C / D", "misc 0b01c404 E / F", "."});
    EXPECT_EQ(offered, (std::vector<std::string>{"rock 0b01c402 A / B", "jazz 0b01c403 C / D", "misc 0b01c404 E / F"}));
    EXPECT_EQ(c.Cddb.LookupState(), TLookupState::MatchChosen);
    EXPECT_EQ(c.Cddb.DiscInfo().Category, "rock");
    EXPECT_EQ(c.Cddb.DiscInfo().DiscId, "0b01c402");
    EXPECT_EQ(c.Status, (std::vector<std::string>{"Found inexact matches", "OK, receiving matches", "Received matches"}));

    TClient r;
    r.Cddb.OnMatch = [](TCddb&, const TMatchArray&, int& right) { right = -1; };
    r.Answer(TLookupState::QuerySent, {"210 exact", "rock 0b01c402 A / B", "."});
    EXPECT_EQ(r.Cddb.LookupState(), TLookupState::QueryFailed);
    EXPECT_EQ(r.Cddb.ReadHttp(), -1);
    EXPECT_EQ(r.Status.back(), "Can't perform a CDDB READ without a successful CDDB QUERY!");
}

TEST(Cddb, ReadAnswers) {
    struct TCase {
        std::vector<std::string> Lines;
        int32_t State;
        std::string LastStatus;
    };
    const std::vector<TCase> cases{
        {{"401 rock 0b01c402 No such CD entry in database."}, TLookupState::ReadFailed, "Specified CDDB entry not found"},
        {{"403 corrupt"}, TLookupState::ReadFailed, "Database entry is corrupt"},
        {{"409 No handshake"}, TLookupState::ReadFailed, "No handshake"},
        {{"210 rock 0b01c402", "402 odd", "DTITLE=A / B", "."}, TLookupState::EntryRead, "Entry read"},
        {{"210 rock 0b01c402", "DTITLE=A / B"}, TLookupState::ReadSent, "OK, CDDB database entry follows"},
        {{"210 rock 0b01c402", "500 broken"}, TLookupState::ReadFailed,
         "Command syntax error, command unknown, command unimplemented"},
        {{"210 rock 0b01c402", "xyz"}, TLookupState::ReadFailed, "Unrecognised server response"},
        {{"210 rock 0b01c402", ""}, TLookupState::ReadFailed, "Unrecognised server response"},
    };
    for (const auto& c : cases) {
        TClient t;
        t.Answer(TLookupState::QuerySent, {"200 rock 0b01c402 A / B"});
        t.Status.clear();
        t.Answer(TLookupState::ReadSent, c.Lines);
        EXPECT_EQ(t.Cddb.LookupState(), c.State) << c.Lines.back();
        // Whatever the answer, what was read is parsed after its last line.
        ASSERT_GE(t.Status.size(), 2u);
        EXPECT_EQ(t.Status[t.Status.size() - 2], c.LastStatus) << c.Lines.back();
        EXPECT_EQ(t.Status.back(), "The entry is corrupt");
    }
}

TEST(Cddb, ResponseLines) {
    const auto lines = SplitResponseLines(QByteArray("a\r\nb\rc\n\nd\r\n\r\ne"));
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "", "d", "", "e"}));
    EXPECT_EQ(SplitResponseLines(QByteArray("x\r\n")), (std::vector<std::string>{"x"}));
    // Level 6 answers in UTF-8; a line that is not is read as ISO-8859-1.
    EXPECT_EQ(SplitResponseLines(QByteArray("Bj\xc3\xb6rk\nBj\xf6rk")),
              (std::vector<std::string>{"Bj\xc3\xb6rk", "Bj\xc3\xb6rk"}));
}

TEST(Xmcd, ACompleteRecord) {
    const std::vector<std::string> lines{
        "# xmcd", "#", "# Track frame offsets:", "#       150", "#\t10150", "#",
        "# Disc length: 454 seconds", "#", "# Revision: 7", "DISCID=0b01c402",
        "DTITLE=A very long artist na", "DTITLE=me / Long title", "DTITLE= continued",
        "DYEAR=19x7", "DGENRE=Rock", "TTITLE0=First part", "TTITLE0= of the title",
        "TTITLE12=Twelfth", "TTITLE100=x", "TTITLE=y", "EXTD=Line one\\nLine two\\\\end\\q\\tt",
        "EXTT1=e1", "EXTT10=e10", "PLAYORDER="};
    TCDInfo info;
    info.Category = "rock";
    info.Artist = "stale";
    EXPECT_EQ(TLocalCDDB().ParseXmcd(lines, info), 0);
    EXPECT_EQ(info.Category, "rock");
    EXPECT_EQ(info.Artist, "A very long artist name");
    EXPECT_EQ(info.Title, "Long title continued");
    EXPECT_EQ(info.Year, "19x7");
    EXPECT_EQ(info.Genre, "Rock");
    EXPECT_EQ(info.DiscId, "0b01c402");
    EXPECT_EQ(info.Revision, 7);
    EXPECT_EQ(info.TrackTitles[0], "First part of the title");
    EXPECT_EQ(info.TrackTitles[12], "Twelfth");
    EXPECT_EQ(info.TrackTitles[1], "");
    EXPECT_EQ(info.ExtendedData, "Line one\r\nLine two\\end\\q\tt");
    EXPECT_EQ(info.TrackExtended[1], "e1");
    EXPECT_EQ(info.TrackExtended[10], "e10");
    EXPECT_EQ(info.Toc.TrackCount, 2);
    EXPECT_EQ(info.Toc.Tracks[0].Start, (TCdMsf{0, 2, 0}));
    EXPECT_EQ(info.Toc.Tracks[1].Start, (TCdMsf{2, 15, 25}));
    EXPECT_EQ(info.Toc.Tracks[1].IsAudio, -1);
    EXPECT_EQ(info.Toc.LeadOut, (TCdMsf{7, 34, 0}));
    EXPECT_EQ(ComputeDiscId(info.Toc), 0x0b01c402u);
}

TEST(Xmcd, IncompleteAndBadRecords) {
    const std::vector<std::string> full{"# xmcd", "# Track frame offsets:", "# 150", "#",
                                        "# Disc length: 454 seconds", "# Revision: 1",
                                        "DISCID=0b01c402", "DTITLE=Only One Name", "TTITLE0=t",
                                        "EXTD=", "EXTT0=", "PLAYORDER="};
    TCDInfo info;
    ASSERT_EQ(TLocalCDDB().ParseXmcd(full, info), 0);
    EXPECT_EQ(info.Artist, "Only One Name");
    EXPECT_EQ(info.Title, "");
    // Each required line missing makes the record incomplete, though it is filled.
    for (const std::string missing : {"# xmcd", "# Track frame offsets:", "# Disc length: 454 seconds",
                                      "# Revision: 1", "DISCID=0b01c402", "DTITLE=Only One Name",
                                      "TTITLE0=t", "EXTD=", "EXTT0=", "PLAYORDER="}) {
        std::vector<std::string> lines;
        for (const auto& l : full)
            if (l != missing)
                lines.push_back(l);
        TCDInfo part;
        EXPECT_EQ(TLocalCDDB().ParseXmcd(lines, part), -4) << missing;
        EXPECT_EQ(part.DiscId, missing == "DISCID=0b01c402" ? "" : "0b01c402") << missing;
    }
    // A bad number stops at its line; what came before stays.
    std::vector<std::string> bad = full;
    bad[5] = "# Revision: x";
    TCDInfo b;
    EXPECT_EQ(TLocalCDDB().ParseXmcd(bad, b), -4);
    EXPECT_EQ(b.Toc.Tracks[0].Start, (TCdMsf{0, 2, 0}));
    EXPECT_EQ(b.DiscId, "");
    // A track index that is no number is a corrupt record.
    bad = full;
    bad[8] = "TTITLE1x=t";
    EXPECT_EQ(TLocalCDDB().ParseXmcd(bad, b), -4);
    // An offset list that runs to the last line ends there.
    TCDInfo tail;
    EXPECT_EQ(TLocalCDDB().ParseXmcd(std::vector<std::string>{"# Track frame offsets:", "# 150", "# 10150"}, tail), -4);
    EXPECT_EQ(tail.Toc.TrackCount, 2);
    EXPECT_EQ(tail.Toc.Tracks[1].Start, (TCdMsf{2, 15, 25}));
}
