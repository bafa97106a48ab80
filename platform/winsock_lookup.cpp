// WSAAsyncGetHostByName (IPv4) and WSAAsyncGetAddrInfo (either family): the
// lookup runs on a worker thread; its reply is posted to the window, and the
// result is laid out in the caller's buffer on the UI thread just before the
// reply is delivered, so a caller that is gone (its window destroyed) or that
// cancelled the request is never touched.
#include "winsock.h"

#include "addresses.h"
#include "resolver.h"


#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace ferro::winsock {
namespace {

struct LookupResult {
    int Error = 0;
    std::string Name;
    std::vector<std::uint32_t> Addresses;   // IPv4 lookups: network byte order
    std::vector<sockaddr_storage> Records; // either family, the resolver's order
};

std::atomic<HANDLE> gLastTask {0};

// Requests of this thread cancelled before their reply was delivered (a
// reply is delivered on the thread that asked).
std::set<HANDLE>& Cancelled()
{
    thread_local std::set<HANDLE> cancelled;
    return cancelled;
}

int LookupError(sys::TLookupError error)
{
    switch (error) {
    case sys::TLookupError::None: return 0;
    case sys::TLookupError::TryAgain: return WSATRY_AGAIN;
    case sys::TLookupError::Failed: return WSANO_RECOVERY;
    case sys::TLookupError::NoAddress: return WSANO_DATA;
    case sys::TLookupError::NoMemory: return WSAENOBUFS;
    default: return WSAHOST_NOT_FOUND;
    }
}

LookupResult Resolve(const std::string& name)
{
    const net::TResolved found = net::LookUp(name, sys::kInet4, SIZE_MAX, true);
    LookupResult result;
    if (found.Error != sys::TLookupError::None) {
        result.Error = LookupError(found.Error);
        return result;
    }
    result.Name = found.CanonicalName.empty() ? name : found.CanonicalName;
    for (const sys::TEndpoint& each : found.Endpoints) {
        std::uint32_t address;
        std::memcpy(&address, each.Ip, 4);
        result.Addresses.push_back(address);
    }
    if (result.Addresses.empty())
        result.Error = WSANO_DATA;
    return result;
}

struct Layout {
    std::size_t Count = 0;     // addresses that fit
    std::size_t NameBytes = 0; // name with its terminator
    int Length = 0;            // bytes used; 0 when not even one address fits
};

Layout Plan(const LookupResult& result, int bufLen)
{
    const auto size = static_cast<std::size_t>(bufLen);
    const std::size_t fixed = sizeof(hostent) + 2 * sizeof(char*); // entry, two list terminators
    const std::size_t perAddress = sizeof(char*) + 4;
    Layout plan;
    plan.NameBytes = std::min<std::size_t>(result.Name.size(), 255) + 1;
    if (size < fixed + perAddress + plan.NameBytes)
        return plan;
    plan.Count = std::min(result.Addresses.size(), (size - fixed - plan.NameBytes) / perAddress);
    plan.Length = static_cast<int>(fixed + perAddress * plan.Count + plan.NameBytes);
    return plan;
}

// Either family, as the interface's records, in the resolver's order.
LookupResult ResolveAny(const std::string& name, int family)
{
    const net::TResolved found = net::LookUp(name, std::max(detail::TransportFamily(family), 0), MAXADDRESSES, false);
    LookupResult result;
    result.Error = found.Error != sys::TLookupError::None ? LookupError(found.Error) : found.Endpoints.empty() ? WSANO_DATA : 0;
    for (const sys::TEndpoint& each : found.Endpoints)
        result.Records.push_back(detail::FromEndpoint(each));
    return result;
}

// Writes the hostent with its name, an empty alias list and the addresses
// into `buf`, every pointer pointing inside `buf`.
void LayOut(const LookupResult& result, const Layout& plan, char* buf)
{
    char** aliases = reinterpret_cast<char**>(buf + sizeof(hostent));
    char** addrList = aliases + 1;
    char* bytes = reinterpret_cast<char*>(addrList + plan.Count + 1);
    char* name = bytes + 4 * plan.Count;

    aliases[0] = nullptr;
    for (std::size_t i = 0; i < plan.Count; ++i) {
        std::memcpy(bytes + 4 * i, &result.Addresses[i], 4);
        addrList[i] = bytes + 4 * i;
    }
    addrList[plan.Count] = nullptr;
    std::memcpy(name, result.Name.data(), plan.NameBytes - 1);
    name[plan.NameBytes - 1] = '\0';

    const hostent entry {name, aliases, AF_INET, 4, addrList};
    std::memcpy(buf, &entry, sizeof entry);
}

// Requests of this thread whose reply has not been delivered yet.
std::set<HANDLE>& Pending()
{
    thread_local std::set<HANDLE> pending;
    return pending;
}

} // namespace

namespace {

// Starts a lookup request: `resolve` runs on a worker thread and gives the
// reply's event code and error; `deliver` lays the result out on the
// caller's thread just before the reply, unless the request was cancelled.
template <class Resolve, class Deliver>
HANDLE StartLookup(HWND window, unsigned msg, Resolve resolve, Deliver deliver)
{
    if (StartupCount() == 0) {
        Api().WSASetLastError(WSANOTINITIALISED);
        return 0;
    }
    const HANDLE task = ++gLastTask;
    Pending().insert(task);
    std::thread([=] {
        auto result = std::make_shared<const LookupResult>(resolve());
        int event = 0, error = 0;
        std::tie(event, error) = deliver(*result, false);
        PostMessageWith(window, msg, task, WSAMAKESELECTREPLY(event, error), [=] {
            Pending().erase(task);
            if (Cancelled().erase(task))
                return false;
            deliver(*result, true);
            return true;
        });
    }).detach();
    return task;
}

} // namespace

HANDLE TPosixWinsock::WSAAsyncGetHostByName(HWND window, unsigned msg, const char* name, char* buf, int bufLen)
{
    // The reply's code is the entry's length; the entry is laid out only
    // when there is no error.
    return StartLookup(window, msg, [name = std::string(name)] { return Resolve(name); },
                       [=](const LookupResult& result, bool layOut) {
                           const Layout plan = Plan(result, bufLen);
                           const int error = result.Error ? result.Error : (plan.Length == 0 ? WSAENOBUFS : 0);
                           if (layOut && error == 0)
                               LayOut(result, plan, buf);
                           return std::make_pair(plan.Length, error);
                       });
}

HANDLE TPosixWinsock::WSAAsyncGetAddrInfo(HWND window, unsigned msg, const char* name, int family, ADDRESSLIST* list)
{
    // The reply's code is the number of addresses.
    return StartLookup(window, msg, [name = std::string(name), family] { return ResolveAny(name, family); },
                       [=](const LookupResult& result, bool layOut) {
                           const int count = static_cast<int>(result.Records.size());
                           if (layOut) {
                               list->Count = count;
                               for (int i = 0; i < count; ++i)
                                   list->Address[i] = result.Records[static_cast<std::size_t>(i)];
                           }
                           return std::make_pair(count, result.Error);
                       });
}

int TPosixWinsock::WSACancelAsyncRequest(HANDLE task)
{
    if (Pending().count(task) == 0) {
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    Cancelled().insert(task);
    return 0;
}

} // namespace ferro::winsock
