#include "resolver.h"

#include "system_socket.h"

#include <netdb.h>

#include <algorithm>
#include <cstring>

namespace ferro::net {

TResolved LookUp(const std::string& name, int family, std::size_t most, bool canonical)
{
    TResolved found;
    ::addrinfo hints {};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = canonical ? AI_CANONNAME : 0;
    ::addrinfo* list = nullptr;
    found.Error = sys::LookUp(name.c_str(), hints, list);
    if (found.Error != 0)
        return found;
    if (canonical && list && list->ai_canonname)
        found.CanonicalName = list->ai_canonname;
    for (const ::addrinfo* a = list; a && found.Addresses.size() < most; a = a->ai_next) {
        ::sockaddr_storage address {};
        std::memcpy(&address, a->ai_addr, std::min<std::size_t>(a->ai_addrlen, sizeof address));
        found.Addresses.push_back(address);
    }
    sys::FreeAddresses(list);
    return found;
}

} // namespace ferro::net
