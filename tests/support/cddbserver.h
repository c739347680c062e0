#pragma once

// A disc database server on 127.0.0.1 for the tests: a real HTTP server on a free port that
// answers each GET with what the test scripts, as the database's CGI program would. It runs
// on the test's thread and is served by whatever event loop runs there (the lookup's own).

#include <QByteArray>
#include <QTcpServer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCoreApplication;

namespace bwtest {

// The application object the network code needs, made once for the test program.
QCoreApplication& CoreApp();

struct TCddbReply {
    enum class TMode {
        Answer, // send Status and Body, then close
        Hang,   // read the request and never answer
        Flood,  // a 200 answer whose body never ends
        Drip,   // a 200 answer of Body, one byte every 100 ms
        Cut,    // Status and Body with a Content-Length twice the body's, then close
    };
    TMode Mode = TMode::Answer;
    int Status = 200;
    QByteArray Body;
    QByteArray Reason = "Scripted";
    QByteArray Location{}; // sent as a Location header when set
    QByteArray Headers{};  // more header lines, each ended with CR LF
};

class TCddbServer {
public:
    using THandler = std::function<TCddbReply(const std::string& target)>;
    explicit TCddbServer(THandler handler);
    ~TCddbServer();

    int Port() const;
    // "127.0.0.1:<port>", as FreeDBServer names it.
    std::string Address() const;
    // The request targets received ("/~cddb/cddb.cgi?cmd=..."), in order.
    const std::vector<std::string>& Requests() const { return requests_; }
    // Each request's header lines, and when it arrived.
    const std::vector<std::string>& Heads() const { return heads_; }
    const std::vector<std::chrono::steady_clock::time_point>& Times() const { return times_; }
    // The bytes written by Flood answers so far.
    qint64 Flooded() const { return flooded_; }

    // A port nobody listens on.
    static int ClosedPort();

private:
    void Serve(class QTcpSocket* socket);

    THandler handler_;
    QTcpServer server_;
    std::vector<std::string> requests_;
    std::vector<std::string> heads_;
    std::vector<std::chrono::steady_clock::time_point> times_;
    qint64 flooded_ = 0;
};

// An answer of lines, each ended with CR LF.
QByteArray CddbLines(const std::vector<std::string>& lines);

} // namespace bwtest
