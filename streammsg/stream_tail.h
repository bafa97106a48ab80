// A stream seen from an offset on: what a resumed body sends.
#pragma once

#include <ferrolink/streams.h>

namespace ferro::qbmsg {

// The bytes of `base` from `from` on, as a stream of their own: position 0
// is `from` of the base. The base must outlive it.
class TStreamTail : public TStream {
public:
    TStreamTail(TStream& base, std::int64_t from) : FBase(base), FFrom(from) {}

    std::int64_t Read(void* buffer, std::int64_t count) override { return FBase.Read(buffer, count); }
    std::int64_t Write(const void* buffer, std::int64_t count) override { return FBase.Write(buffer, count); }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override
    {
        if (origin == TSeekOrigin::soBeginning)
            offset += FFrom;
        return FBase.Seek(offset, origin) - FFrom;
    }
    std::int64_t Size() override { return FBase.Size() - FFrom; }

private:
    TStream& FBase;
    std::int64_t FFrom;
};

} // namespace ferro::qbmsg
