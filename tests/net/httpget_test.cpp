// The bounded GET client against a scripted server on 127.0.0.1: each way a request can end,
// as its handler sees it.

#include "net/httpget.h"
#include "support/cddbserver.h"

#include <QEventLoop>

#include <gtest/gtest.h>

using namespace bw;
using namespace bwtest;
using TOutcome = THttpResult::TOutcome;

TEST(HttpGet, EndsAsTheAnswerDecides) {
    CoreApp();
    struct TCase {
        const char* Name;
        TCddbReply Reply;
        TOutcome Outcome;
        std::string Error;
        QByteArray Body;
    };
    const TCase cases[] = {
        {"ok", {TCddbReply::TMode::Answer, 200, "entry"}, TOutcome::Ok, "", "entry"},
        {"at the limit", {TCddbReply::TMode::Answer, 200, QByteArray(64, 'x')}, TOutcome::Ok, "",
         QByteArray(64, 'x')},
        {"past the limit", {TCddbReply::TMode::Answer, 200, QByteArray(65, 'x')}, TOutcome::TooLarge,
         "The answer is larger than 64 bytes", {}},
        {"endless", {TCddbReply::TMode::Flood, 200, {}}, TOutcome::TooLarge, "The answer is larger than 64 bytes", {}},
        {"redirect", {TCddbReply::TMode::Answer, 302, "moved", "Found\x1b[2J", "/elsewhere"}, TOutcome::BadStatus,
         "the server answered HTTP 302 Found\\x1B[2J", {}},
        {"other 2xx", {TCddbReply::TMode::Answer, 203, "entry", "Partial"}, TOutcome::BadStatus,
         "the server answered HTTP 203 Partial", {}},
        {"silent", {TCddbReply::TMode::Hang, 200, {}}, TOutcome::TimedOut, "Connection timed out", {}},
    };
    for (const TCase& c : cases) {
        TCddbServer server([&c](const std::string&) { return c.Reply; });
        THttpGet get(64);
        get.SetTimeout(500);
        QEventLoop loop;
        THttpResult end;
        bool ended = false;
        ASSERT_EQ(get.Start("http://" + server.Address() + "/x?a=%26", [&](THttpResult r) {
            end = std::move(r);
            ended = true;
            loop.quit();
        }), "") << c.Name;
        EXPECT_EQ(get.Start("http://" + server.Address() + "/", {}), "HTTP component busy") << c.Name;
        if (!ended)
            loop.exec();
        EXPECT_FALSE(get.Busy()) << c.Name;
        EXPECT_EQ(end.Outcome, c.Outcome) << c.Name;
        EXPECT_EQ(end.Error, c.Error) << c.Name;
        EXPECT_EQ(end.Body, c.Body) << c.Name;
        EXPECT_EQ(server.Requests(), std::vector<std::string>{"/x?a=%26"}) << c.Name;
    }
    THttpGet get(64);
    EXPECT_EQ(get.Start("http:///x", {}), "No server given");
    bool called = false;
    ASSERT_EQ(get.Start("http://127.0.0.1:" + std::to_string(TCddbServer::ClosedPort()) + "/",
                        [&](THttpResult r) {
                            called = true;
                            EXPECT_EQ(r.Outcome, TOutcome::Aborted);
                            EXPECT_EQ(r.Error, "Connection aborted on request");
                        }), "");
    get.Abort();
    EXPECT_TRUE(called);
}
