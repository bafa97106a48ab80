/// @file
/// TLS for a component's connection: what a component is told to do
/// (TTlsSettings), certificate fingerprints as people exchange them, and an
/// identity folder (a key and a self-signed certificate) made on first use.
///
/// Encryption is opt-in: a component whose settings are not Enabled sends
/// every byte as it always did. TLS itself (records, ciphers, certificate
/// chains, host names) is OpenSSL's; this header says what a component asks
/// of it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ferro {

/// The SHA-256 fingerprint of a certificate (of its whole DER encoding), as
/// `openssl x509 -noout -fingerprint -sha256` prints it.
using TFingerprint = std::array<std::uint8_t, 32>;

/// Reads a fingerprint: 32 bytes as 64 hexadecimal digits, in either case,
/// with a colon between every two digits or none at all ("AB:CD:..." or
/// "abcd..."). Blanks around it, and a leading "SHA256 Fingerprint=" (what
/// openssl prints before it) or "sha256:", are allowed.
/// @return false, leaving `into` as it was, for anything else.
bool ParseFingerprint(const std::string& text, TFingerprint& into);
/// The fingerprint as people compare it: upper-case pairs joined by colons.
std::string FingerprintText(const TFingerprint& fingerprint);

/// How a component secures its connection.
///
/// A client (Connect) verifies the server: by Pins when any are given (the
/// server's certificate must be one of them; its issuer and names are not
/// looked at), else by the CAs of CAFile, else by the system's CA store; in
/// the last two cases the certificate must also name Host (a name or an IP
/// address). It presents CertificateFile when the server asks for one.
///
/// A server (Accept, or a TQBGeneralServer's service) presents
/// CertificateFile, which it must have. With Pins or a CAFile it asks every
/// client for a certificate and serves only one whose certificate is pinned
/// or issued by those CAs; without either it takes any client.
///
/// TLS 1.3 is preferred; TLS 1.2 is the oldest version accepted.
struct TTlsSettings {
    /// The connection is a TLS connection; false (the default) for plain TCP.
    bool Enabled = false;
    /// This side's certificate (PEM; a chain may follow it), and its key.
    std::string CertificateFile;
    /// The private key of CertificateFile (PEM, unencrypted).
    std::string KeyFile;
    /// CAs (PEM) that verify the peer, instead of the system's store.
    std::string CAFile;
    /// The peers admitted, by their certificate's fingerprint.
    std::vector<TFingerprint> Pins;
    /// The longest a server lets a client's handshake take, in
    /// milliseconds (0: no limit of its own); a shorter TimeOut of the
    /// component limits it as well. A one-at-a-time server waits no longer
    /// than this for a client that connects and never completes a
    /// handshake. A client's handshake is limited by its TimeOut alone: a
    /// server busy with another client answers it late, and the client was
    /// told by its TimeOut how long it may wait.
    std::int32_t HandshakeTimeOut = 10000;
};

/// Whether two settings ask for the same thing.
bool operator==(const TTlsSettings& a, const TTlsSettings& b);
/// Whether two settings ask for different things.
inline bool operator!=(const TTlsSettings& a, const TTlsSettings& b) { return !(a == b); }

/// A key and its certificate in a folder, as `EnsureIdentity` leaves them.
struct TTlsIdentity {
    std::string CertificateFile; ///< FOLDER/cert.pem
    std::string KeyFile;         ///< FOLDER/key.pem
    TFingerprint Fingerprint {}; ///< of the certificate
};

/// The identity in `folder`: makes the folder (mode 0700) when it is
/// missing, and in it a new key (`key.pem`, mode 0600, a P-256 key) and a
/// self-signed certificate for it (`cert.pem`, valid for ten years) when
/// both are missing; keeps them when both are there, whoever made them (a
/// CA-issued pair put there is used as it is). Never replaces a file.
/// @throws EFCreateError when the folder or a file cannot be made.
/// @throws EFOpenError when only one of the two files is there, or they
///   cannot be read, or the key is not the certificate's; and "Cannot use
///   identity file|folder <path>: <why>" for what others could read or
///   replace: a key readable by anyone but its owner ("others can read it
///   (mode 0644); ..."), a key that is a symbolic link, a folder or
///   certificate others can write, a file or folder of another user (root
///   aside).
TTlsIdentity EnsureIdentity(const std::string& folder);

/// The fingerprint of the first certificate in a PEM file.
/// @throws EFOpenError when the file cannot be read or holds no certificate.
TFingerprint FingerprintOfCertificateFile(const std::string& path);

} // namespace ferro
