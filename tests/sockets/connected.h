// A TProbe connected to a plain loopback peer that the test drives.
#pragma once

#include "probe.h"

#include "peers.h"

#include <string>

using namespace ferro;

// What Connect raised, or "connected".
inline std::string ConnectFailure(TFerrolink& link)
{
    try {
        link.Connect();
    } catch (const ESockError& e) {
        return e.what();
    }
    return "connected";
}

struct ConnectedPair {
    ConnectedPair()
    {
        Link.Host = "127.0.0.1";
        Link.Port = Listener.Port();
        Link.Connect();
        Peer = Listener.Accept();
        Link.Statuses.clear();
    }
    ~ConnectedPair() { CloseFd(Peer); }

    TcpListener Listener;
    TProbe Link;
    int Peer = -1;
};

// A listener whose backlog is full and that never accepts: a connection
// attempt to it gets no answer.
struct UnansweringListener {
    UnansweringListener() : Listener(0)
    {
        for (int i = 0; i < 4; ++i)
            Fillers.push_back(ConnectNonBlocking(Listener.Port()));
    }
    ~UnansweringListener()
    {
        for (int fd : Fillers)
            CloseFd(fd);
    }
    TcpListener Listener;
    std::vector<int> Fillers;
};
