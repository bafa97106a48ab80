// Whether something listens on a TCP port, read from the kernel's tables of
// both families (a receiver listens on IPv6 and IPv4 at once): looking makes
// no connection, so a one-at-a-time receiver sees no stray client.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

inline bool ListensOn(int port)
{
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line); // the column names
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            const auto colon = local.rfind(':');
            if (state == "0A" && colon != std::string::npos && std::stoi(local.substr(colon + 1), nullptr, 16) == port)
                return true;
        }
    }
    return false;
}
