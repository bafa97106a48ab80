#include "asio_peer.h"

#include <utility> // before Asio: its 1.74 headers use std::exchange without it

#include <boost/asio.hpp>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using boost::asio::ip::tcp;
namespace asio = boost::asio;

const std::string kReply = "OK              ";

// Reads one message: header, name, body length, body; then answers.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, int& served) : FSocket(std::move(socket)), FServed(served) {}

    void Start() { ReadField([self = shared_from_this()](int n) { self->ReadName(n); }); }

private:
    template <class Next>
    void ReadField(Next next)
    {
        asio::async_read(FSocket, asio::buffer(FField), [this, self = shared_from_this(), next](boost::system::error_code e, std::size_t) {
            if (!e)
                next(std::atoi(std::string(FField.data(), FField.size()).c_str()));
        });
    }

    void ReadName(int length)
    {
        FData.resize(static_cast<std::size_t>(std::max(length, 0)));
        asio::async_read(FSocket, asio::buffer(FData), [self = shared_from_this()](boost::system::error_code e, std::size_t) {
            if (!e)
                self->ReadField([self](int n) { self->ReadBody(n); });
        });
    }

    void ReadBody(int length)
    {
        FData.resize(static_cast<std::size_t>(std::max(length, 0)));
        asio::async_read(FSocket, asio::buffer(FData), [self = shared_from_this()](boost::system::error_code e, std::size_t) {
            if (!e)
                self->Reply();
        });
    }

    void Reply()
    {
        asio::async_write(FSocket, asio::buffer(kReply), [self = shared_from_this()](boost::system::error_code e, std::size_t) {
            if (!e)
                ++self->FServed;
        });
    }

    tcp::socket FSocket;
    int& FServed;
    std::array<char, 4> FField {};
    std::string FData;
};

class Server {
public:
    Server(asio::io_context& io, int port, int count)
        : FIo(io), FAcceptor(io, tcp::endpoint(asio::ip::address_v4::loopback(), static_cast<unsigned short>(port))), FCount(count)
    {
        Accept();
    }

private:
    void Accept()
    {
        FAcceptor.async_accept([this](boost::system::error_code e, tcp::socket socket) {
            if (!e) {
                socket.set_option(tcp::no_delay(true));
                std::make_shared<Session>(std::move(socket), FServed)->Start();
            }
            if (++FAccepted < FCount)
                Accept();
        });
    }

    asio::io_context& FIo;
    tcp::acceptor FAcceptor;
    int FCount;
    int FAccepted = 0;
    int FServed = 0;
};

// Posts messages one after another.
class Poster {
public:
    Poster(asio::io_context& io, int port, std::string message, int count)
        : FIo(io), FEndpoint(asio::ip::address_v4::loopback(), static_cast<unsigned short>(port)), FMessage(std::move(message)), FLeft(count)
    {
        Next();
    }
    int Answered = 0;

private:
    void Next()
    {
        if (FLeft-- == 0)
            return;
        auto socket = std::make_shared<tcp::socket>(FIo);
        socket->async_connect(FEndpoint, [this, socket](boost::system::error_code e) {
            if (e)
                return Next();
            socket->set_option(tcp::no_delay(true));
            asio::async_write(*socket, asio::buffer(FMessage), [this, socket](boost::system::error_code e, std::size_t) {
                if (e)
                    return Next();
                asio::async_read(*socket, asio::buffer(FReply), [this, socket](boost::system::error_code e, std::size_t) {
                    Answered += !e && std::string(FReply.data(), FReply.size()) == kReply;
                    Next();
                });
            });
        });
    }

    asio::io_context& FIo;
    tcp::endpoint FEndpoint;
    std::string FMessage;
    int FLeft;
    std::array<char, 16> FReply {};
};

} // namespace

int ReceiveWithAsio(int port, int count)
{
    asio::io_context io;
    Server server(io, port, count);
    std::printf("listening\n");
    std::fflush(stdout);
    io.run(); // until every accepted session has ended
    return 0;
}

int PostWithAsio(int port, const std::string& name, const std::string& body, int count)
{
    char fields[16];
    std::snprintf(fields, sizeof fields, "%.4d", static_cast<int>(name.size()));
    std::string message = fields + name;
    std::snprintf(fields, sizeof fields, "%4d", static_cast<int>(body.size()));
    message += fields + body;
    asio::io_context io;
    Poster poster(io, port, std::move(message), count);
    io.run();
    return poster.Answered;
}
