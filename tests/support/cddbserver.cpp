#include "support/cddbserver.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QTimer>

namespace bwtest {

QCoreApplication& CoreApp() {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app =
        QCoreApplication::instance() ? QCoreApplication::instance() : new QCoreApplication(argc, argv);
    return *app;
}

TCddbServer::TCddbServer(THandler handler) : handler_(std::move(handler)) {
    CoreApp();
    server_.listen(QHostAddress::LocalHost);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
        while (QTcpSocket* s = server_.nextPendingConnection())
            Serve(s);
    });
}

TCddbServer::~TCddbServer() { server_.close(); }

int TCddbServer::Port() const { return server_.serverPort(); }

std::string TCddbServer::Address() const { return "127.0.0.1:" + std::to_string(Port()); }

int TCddbServer::ClosedPort() {
    CoreApp();
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const int port = probe.serverPort();
    probe.close();
    return port;
}

void TCddbServer::Serve(QTcpSocket* socket) {
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto request = std::make_shared<QByteArray>();
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
        *request += socket->readAll();
        if (!request->contains("\r\n\r\n"))
            return;
        const QList<QByteArray> first = request->left(request->indexOf("\r\n")).split(' ');
        const std::string target = first.size() > 1 ? first[1].toStdString() : std::string();
        requests_.push_back(target);
        heads_.push_back(request->left(request->indexOf("\r\n\r\n")).toStdString());
        times_.push_back(std::chrono::steady_clock::now());
        const TCddbReply reply = handler_(target);
        if (reply.Mode == TCddbReply::TMode::Hang)
            return;
        if (reply.Mode == TCddbReply::TMode::Flood) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n");
            socket->write("210 OK, matches follow\r\n");
            // Keep the pipe full while the client reads; stop at 64 MB whatever happens.
            const auto more = [this, socket] {
                while (socket->bytesToWrite() < (1 << 20) && flooded_ < (64 << 20)) {
                    socket->write(QByteArray(64 * 1024, 'x'));
                    flooded_ += 64 * 1024;
                }
            };
            QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
            more();
            return;
        }
        if (reply.Mode == TCddbReply::TMode::Drip) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(reply.Body.size()) + "\r\n\r\n");
            auto* timer = new QTimer(socket);
            QObject::connect(timer, &QTimer::timeout, socket, [socket, body = reply.Body, sent = qsizetype{0}]() mutable {
                if (sent < body.size())
                    socket->write(body.mid(sent++, 1));
            });
            timer->start(100);
            return;
        }
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.Status) + " " + reply.Reason + "\r\n";
        if (!reply.Location.isEmpty())
            head += "Location: " + reply.Location + "\r\n";
        const qsizetype length = reply.Body.size() * (reply.Mode == TCddbReply::TMode::Cut ? 2 : 1);
        head += reply.Headers + "Content-Type: text/plain; charset=UTF-8\r\nContent-Length: " +
                QByteArray::number(length) + "\r\nConnection: close\r\n\r\n";
        socket->write(head + reply.Body);
        socket->disconnectFromHost();
    });
}

QByteArray CddbLines(const std::vector<std::string>& lines) {
    QByteArray out;
    for (const auto& l : lines)
        out += QByteArray::fromStdString(l) + "\r\n";
    return out;
}

} // namespace bwtest
