// Internal to the TLS channel: the records it has made and not yet handed
// to the plain channel's sends. The records of one send leave in
// one system call (up to 256 KiB of them) instead of one call per 16 KiB
// record; a send counts only the data whose records have all left, so what
// a send counts has reached the system, as without TLS.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ferro::net {

class TChannel;

class TOutgoing {
public:
    // A send's records are gathered up to this much before they leave.
    static constexpr std::size_t kGather = 256 * 1024;

    bool Empty() const { return FBytes.empty(); }
    std::size_t Size() const { return FBytes.size(); }
    // Bytes of records, as OpenSSL writes them.
    void Append(const char* bytes, std::size_t length) { FBytes.append(bytes, length); }
    // The records appended since the last mark carry `plain` bytes of data.
    void Mark(std::size_t plain) { FMarks.push_back({FBytes.size(), plain}); }
    // Hands the records to `plain` (one send, with `flags`); false, with
    // the error in `error`, when none of them could leave (EAGAIN: they
    // stay for the next time).
    bool Flush(TChannel& plain, int flags, int& error);
    // As Flush, waiting up to `ms` for room; true when all have left.
    bool Deliver(TChannel& plain, int ms);
    // The data bytes whose records have all left since this was last
    // asked, for the send that offers them.
    std::size_t TakeDelivered() { std::size_t n = FDelivered; FDelivered = 0; return n; }
    // Whether records have left (at a receive's flush, say) whose data no
    // send has counted yet: the next send counts them, encrypting nothing.
    bool Uncounted() const { return FDelivered > 0; }

private:
    struct TMark {
        std::size_t End;   // where the data's records end in FBytes
        std::size_t Plain; // how many data bytes they carry
    };
    std::string FBytes;
    std::vector<TMark> FMarks;
    std::size_t FDelivered = 0;
};

} // namespace ferro::net
