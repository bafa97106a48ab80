#include "resolver.h"

namespace ferro::net {

TResolved LookUp(const std::string& name, int family, std::size_t most, bool canonical)
{
    return sys::LookUp(name.c_str(), family, canonical, most);
}

} // namespace ferro::net
