// TLS in the Windows build, until it has a backend of its own: a setting
// that asks for it fails at once, in words, no channel is ever opened, and
// identities can be neither made nor read.
#include "winsock.h"

#include <ferrolink/exceptions.h>
#include <ferrolink/tls.h>

#include "tls_channel.h"

namespace ferro::winsock::ext {

std::shared_ptr<tls::TContext> MakeTlsContext(const TTlsSettings&, bool, std::string& failure)
{
    failure = "TLS is not available in this build";
    return nullptr;
}

} // namespace ferro::winsock::ext

namespace ferro::net {

std::unique_ptr<TTlsChannel> OpenTlsChannel(TChannel&, std::shared_ptr<tls::TContext>, const std::string&, const std::string&)
{
    return nullptr;
}

} // namespace ferro::net

namespace ferro {

namespace {

const char* const kNoTls = "TLS is not available in this build";

} // namespace

TTlsIdentity EnsureIdentity(const std::string&)
{
    throw EFOpenError(kNoTls);
}

TFingerprint FingerprintOfCertificateFile(const std::string&)
{
    throw EFOpenError(kNoTls);
}

} // namespace ferro
