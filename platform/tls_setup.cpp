// What a component's TLS settings make, on OpenSSL.
#include "winsock.h"

#include "tls_context.h"

namespace ferro::winsock::ext {

std::shared_ptr<tls::TContext> MakeTlsContext(const TTlsSettings& settings, bool server, std::string& failure)
{
    return tls::TContext::Make(settings, server, failure);
}

} // namespace ferro::winsock::ext
