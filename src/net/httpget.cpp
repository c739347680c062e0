#include "net/httpget.h"

#include "common/controlchars.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace bw {

THttpGet::THttpGet(int64_t maxBodyBytes)
    : maxBodyBytes_(maxBodyBytes), network_(std::make_unique<QNetworkAccessManager>()) {}

THttpGet::~THttpGet() {
    if (reply_) {
        reply_->disconnect();
        reply_->abort();
        delete reply_.data();
    }
}

std::string THttpGet::Start(const std::string& url, TDone done) {
    if (reply_)
        return "HTTP component busy";
    const QUrl target = QUrl::fromEncoded(QByteArray::fromStdString(url), QUrl::StrictMode);
    if (!target.isValid())
        return target.errorString().toStdString();
    if (target.host().isEmpty())
        return "No server given";
    QNetworkRequest request(target);
    if (maxRedirects_ > 0) {
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        request.setMaximumRedirectsAllowed(maxRedirects_);
    } else {
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    }
    if (!userAgent_.empty())
        request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromStdString(userAgent_));
    body_.clear();
    stopped_ = THttpResult::TOutcome::Ok;
    done_ = std::move(done);
    reply_ = network_->get(request);
    QNetworkReply* reply = reply_.data();
    // Left unbounded, the network thread takes in all a server sends while this thread gets
    // round to refusing it; bounded, a flood waits in the socket.
    reply->setReadBufferSize(std::min<qint64>(maxBodyBytes_ + 1, qint64{1} << 20));
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [this] {
        if (!reply_ || stopped_ != THttpResult::TOutcome::Ok)
            return;
        body_ += reply_->read(maxBodyBytes_ + 1 - body_.size());
        if (body_.size() > maxBodyBytes_)
            Stop(THttpResult::TOutcome::TooLarge);
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [this] { Finish(); });
    if (timeoutMs_ > 0)
        QTimer::singleShot(timeoutMs_, reply, [this, reply] {
            if (reply_.data() == reply && !reply->isFinished())
                Stop(THttpResult::TOutcome::TimedOut);
        });
    return {};
}

void THttpGet::Stop(THttpResult::TOutcome why) {
    stopped_ = why;
    reply_->abort();
}

void THttpGet::Abort() {
    if (reply_)
        Stop(THttpResult::TOutcome::Aborted);
}

void THttpGet::Finish() {
    QNetworkReply* reply = reply_.data();
    if (!reply)
        return;
    reply_.clear();
    reply->deleteLater();
    THttpResult result;
    result.Status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Only the seconds form: a server that names a date is waited on as one without a time.
    bool isNumber = false;
    const int retryAfter = reply->rawHeader("Retry-After").trimmed().toInt(&isNumber);
    if (isNumber && retryAfter >= 0)
        result.RetryAfterSeconds = retryAfter;
    switch (stopped_) {
    case THttpResult::TOutcome::Aborted:
        result.Outcome = stopped_;
        result.Error = "Connection aborted on request";
        break;
    case THttpResult::TOutcome::TimedOut:
        result.Outcome = stopped_;
        result.Error = "Connection timed out";
        break;
    case THttpResult::TOutcome::TooLarge:
        result.Outcome = stopped_;
        result.Error = "The answer is larger than " + std::to_string(maxBodyBytes_) + " bytes";
        break;
    default:
        if (reply->error() != QNetworkReply::NoError) {
            // The transport's text may carry the server's reason phrase.
            result.Outcome = THttpResult::TOutcome::Failed;
            result.Error = ControlCharsEscaped(reply->errorString().toStdString());
        } else if (result.Status != 200) {
            // The body of a redirect or of any other status is the server's page about it.
            const QByteArray phrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
            result.Outcome = THttpResult::TOutcome::BadStatus;
            result.Error = "the server answered HTTP " + std::to_string(result.Status) + " " +
                           ControlCharsEscaped(phrase.toStdString());
        } else {
            body_ += reply->read(maxBodyBytes_ + 1 - body_.size());
            if (body_.size() > maxBodyBytes_) {
                result.Outcome = THttpResult::TOutcome::TooLarge;
                result.Error = "The answer is larger than " + std::to_string(maxBodyBytes_) + " bytes";
            } else {
                result.Outcome = THttpResult::TOutcome::Ok;
                result.Body = std::move(body_);
            }
        }
        break;
    }
    body_.clear();
    // Last: the handler may start the next request or destroy this client.
    const TDone done = std::move(done_);
    done_ = nullptr;
    if (done)
        done(std::move(result));
}

} // namespace bw
