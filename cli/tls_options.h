// qbmsg's TLS options, shared by send and receive: --tls, --identity DIR,
// --pin and --allow FINGERPRINT (each as often as wanted), --ca FILE.
#pragma once

#include "options.h"

#include <ferrolink/tls.h>


#include <string>

namespace qbmsgcli {

// The options of a sender (--pin) or a receiver (--allow).
TOptions TlsOptions(bool receiver);
// The settings the options ask for, the identity made if it is missing
// (told on standard error with `prefix`). UsageError for options that do
// not go together or a fingerprint that is none; ferro::Exception for an
// identity that cannot be made or read.
ferro::TTlsSettings TlsSettings(const TCommandLine& line, bool receiver, const char* prefix);

// qbmsg identity DIR.
int IdentityCommand(const std::vector<std::string>& args);
extern const char* const kIdentityHelp;

} // namespace qbmsgcli
