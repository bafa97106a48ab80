#include "qt_peer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

namespace {

const QByteArray kReply = "OK              ";

// Reads one message from a connection as its bytes arrive.
class MessageReader : public QObject {
public:
    explicit MessageReader(QTcpSocket* socket, int* served) : QObject(socket), FSocket(socket), FServed(served)
    {
        connect(socket, &QTcpSocket::readyRead, this, [this] { OnReadyRead(); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    void OnReadyRead()
    {
        FBuffer += FSocket->readAll();
        for (;;) {
            if (FBuffer.size() < FNeed)
                return;
            const QByteArray field = FBuffer.left(FNeed);
            FBuffer.remove(0, FNeed);
            switch (FStage++) {
            case 0: FNeed = field.trimmed().toInt(); break;   // name length
            case 1: FNeed = 4; break;                          // name
            case 2: FNeed = field.trimmed().toInt(); break;   // body length
            default:                                           // body
                FSocket->write(kReply);
                FSocket->disconnectFromHost();
                ++*FServed;
                return;
            }
        }
    }

    QTcpSocket* FSocket;
    int* FServed;
    QByteArray FBuffer;
    int FStage = 0;
    int FNeed = 4;
};

// Sends one message after another, each on its own connection.
class MessagePoster : public QObject {
public:
    MessagePoster(int port, QByteArray message, int count, QEventLoop& done)
        : FPort(port), FMessage(std::move(message)), FLeft(count), FDone(done)
    {
        Next();
    }
    int Answered = 0;

private:
    void Next()
    {
        if (FLeft-- == 0) {
            FDone.quit();
            return;
        }
        auto* socket = new QTcpSocket(this);
        auto* reply = new QByteArray;
        connect(socket, &QTcpSocket::connected, socket, [this, socket] { socket->write(FMessage); });
        connect(socket, &QTcpSocket::readyRead, socket, [socket, reply] { *reply += socket->readAll(); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket, reply] {
            *reply += socket->readAll();
            Answered += *reply == kReply;
            delete reply;
            socket->deleteLater();
            Next();
        });
        connect(socket, &QTcpSocket::errorOccurred, this, [socket](QAbstractSocket::SocketError) {
            if (socket->state() != QAbstractSocket::UnconnectedState)
                return;
            socket->abort();
        });
        socket->connectToHost("127.0.0.1", static_cast<quint16>(FPort));
    }

    int FPort;
    QByteArray FMessage;
    int FLeft;
    QEventLoop& FDone;
};

} // namespace

int ReceiveWithQt(int port, int count)
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, static_cast<quint16>(port)))
        return 1;
    int served = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = server.nextPendingConnection())
            new MessageReader(socket, &served);
    });
    std::printf("listening\n");
    std::fflush(stdout);
    while (served < count)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // Let the last replies and closes go out.
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    return 0;
}

int PostWithQt(int port, const QByteArray& name, const QByteArray& body, int count)
{
    const QByteArray message = QByteArray::number(name.size()).rightJustified(4, '0') + name
        + QByteArray::number(body.size()).rightJustified(4, ' ') + body;
    QEventLoop done;
    MessagePoster poster(port, message, count, done);
    done.exec();
    return poster.Answered;
}
