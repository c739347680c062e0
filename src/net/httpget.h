#pragma once

#include <QByteArray>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QNetworkAccessManager;
class QNetworkReply;

namespace bw {

// The end of one GET: how it went, and the body of a 200 answer.
struct THttpResult {
    enum class TOutcome {
        Ok,        // a 200 answer, whole and within the size limit
        Aborted,   // Abort was called
        TimedOut,  // the time-out passed before the answer was complete
        TooLarge,  // the body passed the size limit; what came is dropped
        Failed,    // the connection or the transfer failed
        BadStatus, // an answer other than 200 (a redirect included: none is followed)
    };
    TOutcome Outcome = TOutcome::Failed;
    int Status = 0;       // the HTTP status, when one came
    QByteArray Body;      // Ok only
    std::string Error;    // what went wrong, control characters escaped; empty for Ok
    int RetryAfterSeconds = -1; // a Retry-After header given in seconds; -1 without one
};

// A bounded HTTP GET client: one request at a time, a body of at most maxBodyBytes, an
// optional time-out, only a 200 answer taken as a success and redirects followed only when
// asked (and then never from https to http).
// Whatever a server says in its error texts reaches a message only with its control
// characters escaped. The end arrives through the event loop of the thread that owns the
// client; the handler is called last, so it may destroy the client.
class THttpGet {
public:
    using TDone = std::function<void(THttpResult result)>;

    explicit THttpGet(int64_t maxBodyBytes);
    ~THttpGet();
    THttpGet(const THttpGet&) = delete;
    THttpGet& operator=(const THttpGet&) = delete;

    // Milliseconds a request may take from its start to its end; 0 (the default): no limit.
    void SetTimeout(int milliseconds) { timeoutMs_ = milliseconds; }
    // The User-Agent header sent; empty (the default): the transport's own.
    void SetUserAgent(std::string agent) { userAgent_ = std::move(agent); }
    // How many redirects a request follows; 0 (the default): none, a redirect is BadStatus.
    void SetMaxRedirects(int count) { maxRedirects_ = count; }

    // Starts a GET of an encoded URL, sent byte for byte. Empty when started; otherwise why
    // not ("HTTP component busy", "No server given", or the URL's fault), and done is never
    // called.
    std::string Start(const std::string& url, TDone done);
    // Ends the request under way; its handler gets Aborted.
    void Abort();
    bool Busy() const { return !reply_.isNull(); }

private:
    void Finish();
    void Stop(THttpResult::TOutcome why);

    const int64_t maxBodyBytes_;
    int timeoutMs_ = 0;
    int maxRedirects_ = 0;
    std::string userAgent_;
    std::unique_ptr<QNetworkAccessManager> network_;
    QPointer<QNetworkReply> reply_;
    TDone done_;
    QByteArray body_;
    THttpResult::TOutcome stopped_ = THttpResult::TOutcome::Ok; // Ok: not stopped
};

} // namespace bw
