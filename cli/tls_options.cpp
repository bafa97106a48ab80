// qbmsg's TLS options and the identity command: encryption is one option,
// and trust is one fingerprint.
#include "tls_options.h"

#include "commands.h"
#include "text.h"

#include <ferrolink/exceptions.h>

#include <cstdio>
#include <filesystem>

namespace qbmsgcli {

const char* const kIdentityHelp = R"(Usage: qbmsg identity DIR
Make an identity in DIR for TLS, or show the one there: a private key
(DIR/key.pem, mode 0600) and a self-signed certificate for it (DIR/cert.pem,
valid for ten years). DIR is made with mode 0700 when it is missing; files
that are there are kept, whoever made them (a CA-issued pair put there is
used as it is).

Prints the certificate's SHA-256 fingerprint on one line, as
openssl x509 -noout -fingerprint -sha256 does after its label. Give it
to the people you exchange messages with: a sender pins it (--pin) and a
receiver admits it (--allow).

Exit status: 0, 1 when the identity cannot be made or read, 2 for a usage
error.
)";

namespace {

bool HasIdentity(const std::string& folder)
{
    std::error_code unknown;
    return std::filesystem::exists(folder + "/cert.pem", unknown) || std::filesystem::exists(folder + "/key.pem", unknown);
}

std::vector<ferro::TFingerprint> Fingerprints(const TCommandLine& line, const std::string& name)
{
    std::vector<ferro::TFingerprint> fingerprints;
    for (const std::string& text : line.AllBytes(name)) {
        ferro::TFingerprint fingerprint {};
        if (!ferro::ParseFingerprint(text, fingerprint))
            throw UsageError("--" + name + " wants a SHA-256 fingerprint (64 hexadecimal digits, in pairs joined by colons or not), not \"" +
                             Escaped(text) + "\"");
        fingerprints.push_back(fingerprint);
    }
    return fingerprints;
}

} // namespace

TOptions TlsOptions(bool receiver)
{
    return {FlagOption("tls", ""), ValueOption("identity", ""), ValueOption(receiver ? "allow" : "pin", ""),
            ValueOption("ca", "")};
}

ferro::TTlsSettings TlsSettings(const TCommandLine& line, bool receiver, const char* prefix)
{
    ferro::TTlsSettings settings;
    const std::string pin = receiver ? "allow" : "pin";
    if (!line.IsSet("tls")) {
        for (const std::string& name : {std::string("identity"), pin, std::string("ca")})
            if (line.IsSet(name))
                throw UsageError("--" + name + " needs --tls");
        return settings;
    }
    settings.Enabled = true;
    settings.Pins = Fingerprints(line, pin);
    settings.CAFile = line.Bytes("ca", "");
    if (!receiver && !settings.Pins.empty() && !settings.CAFile.empty())
        throw UsageError("--pin and --ca exclude each other");
    const std::string folder = line.Bytes("identity", "");
    if (receiver && folder.empty())
        throw UsageError("--tls needs --identity DIR for a receiver (make one with 'qbmsg identity DIR')");
    if (!folder.empty()) {
        const bool made = !HasIdentity(folder);
        const ferro::TTlsIdentity identity = ferro::EnsureIdentity(folder);
        settings.CertificateFile = identity.CertificateFile;
        settings.KeyFile = identity.KeyFile;
        const std::string fingerprint = ferro::FingerprintText(identity.Fingerprint);
        if (made)
            std::fprintf(stderr, "%smade a new identity in %s: %s\n", prefix, Escaped(folder).c_str(), fingerprint.c_str());
        else if (receiver)
            std::fprintf(stderr, "%sidentity %s\n", prefix, fingerprint.c_str());
    }
    return settings;
}

int IdentityCommand(const std::vector<std::string>& args)
{
    TCommandLine line({HelpOption()});
    line.Parse(args);
    if (line.IsSet("help")) {
        std::fputs(kIdentityHelp, stdout);
        return kExitOk;
    }
    const std::vector<std::string> folders = line.Positional();
    if (folders.size() != 1)
        throw UsageError(folders.empty() ? "no DIR given" : "only one DIR can be given");
    try {
        const ferro::TTlsIdentity identity = ferro::EnsureIdentity(folders.front());
        std::printf("%s\n", ferro::FingerprintText(identity.Fingerprint).c_str());
        return kExitOk;
    } catch (const ferro::Exception& e) {
        std::string cause = e.SystemError() ? ": " + SystemCause(e.SystemError()) : "";
        std::fprintf(stderr, "qbmsg identity: %s%s\n", Escaped(e.Message()).c_str(), cause.c_str());
        return kExitFailed;
    }
}

} // namespace qbmsgcli
