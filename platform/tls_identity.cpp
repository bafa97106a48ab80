// Fingerprints as people exchange them, and an identity folder made on
// first use: what a user types and keeps, as opposed to the connection.
#include <ferrolink/durablefile.h>
#include <ferrolink/exceptions.h>
#include <ferrolink/tls.h>

#include "tls_errors.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>

namespace ferro {

namespace {

constexpr long kIdentityDays = 3650;

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

FilePtr OpenForReading(const std::string& path)
{
    FilePtr file(std::fopen(path.c_str(), "re"), &std::fclose);
    if (!file)
        throw EFOpenError("Cannot open file " + path, errno);
    return file;
}

// What OpenSSL wrote into a memory BIO, as a stream to write durably.
TMemoryStream Pem(BIO* bio)
{
    char* bytes = nullptr;
    const long count = BIO_get_mem_data(bio, &bytes);
    TMemoryStream pem;
    pem.Write(bytes, count);
    pem.SetPosition(0);
    return pem;
}

// A new file whole or not at all, never over one that is there already.
void CreateDurably(const std::string& path, BIO* pem, bool ok, unsigned mode)
{
    if (!ok)
        throw EFCreateError("Cannot create file " + path + " (" + tls::LastErrorText() + ")");
    TMemoryStream bytes = Pem(pem);
    if (!WriteDurably(path, bytes, bytes.Size(), false, true, mode))
        throw EFCreateError("Cannot create file " + path, EEXIST);
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

void MakeIdentity(const TTlsIdentity& identity)
{
    const tls::EvpKeyPtr key(EVP_EC_gen("P-256"));
    const tls::X509Ptr cert(X509_new());
    if (!key || !cert)
        throw EFCreateError("Cannot create file " + identity.KeyFile + " (" + tls::LastErrorText() + ")");
    X509_set_version(cert.get(), 2);
    // A random serial: two identities made in one second differ anyway.
    tls::BignumPtr serial(BN_new());
    BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
    BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get()));
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60 * 60);
    X509_time_adj_ex(X509_getm_notAfter(cert.get()), kIdentityDays, 0, nullptr);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Ferrolink identity"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0)
        throw EFCreateError("Cannot create file " + identity.CertificateFile + " (" + tls::LastErrorText() + ")");

    // The key first: a certificate without its key would be an identity
    // nobody can use.
    const tls::BioPtr keyPem(BIO_new(BIO_s_mem()));
    CreateDurably(identity.KeyFile, keyPem.get(),
                  PEM_write_bio_PrivateKey(keyPem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1, 0600);
    try {
        const tls::BioPtr certPem(BIO_new(BIO_s_mem()));
        CreateDurably(identity.CertificateFile, certPem.get(), PEM_write_bio_X509(certPem.get(), cert.get()) == 1, 0644);
    } catch (...) {
        ::unlink(identity.KeyFile.c_str()); // a key without its certificate is no identity
        throw;
    }
}

tls::X509Ptr ReadCertificate(const std::string& path)
{
    FilePtr file = OpenForReading(path);
    tls::X509Ptr cert(PEM_read_X509(file.get(), nullptr, nullptr, nullptr));
    if (!cert)
        throw EFOpenError("Cannot open file " + path + " (no certificate in it)");
    return cert;
}

void CheckPair(const TTlsIdentity& identity)
{
    const tls::X509Ptr cert = ReadCertificate(identity.CertificateFile);
    FilePtr file = OpenForReading(identity.KeyFile);
    const tls::EvpKeyPtr key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
    if (!key)
        throw EFOpenError("Cannot open file " + identity.KeyFile + " (no unencrypted private key in it)");
    if (X509_check_private_key(cert.get(), key.get()) != 1)
        throw EFOpenError("Cannot open file " + identity.KeyFile + " (not the key of " + identity.CertificateFile + ")");
}

} // namespace

namespace {

std::string Mode(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Refuses what others could read or replace, as ssh refuses an unprotected
// private key: a key readable, or a folder or certificate writable, by
// anyone but its owner; a file owned by another user; a key that is a link.
void CheckProtected(const std::string& path, bool key, bool folder)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return; // told when it is read
    const auto refuse = [&](const std::string& why) {
        throw EFOpenError("Cannot use identity " + std::string(folder ? "folder " : "file ") + path + ": " + why);
    };
    if (key && S_ISLNK(st.st_mode))
        refuse("it is a symbolic link (the key must be a file of the folder itself)");
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        refuse("it belongs to another user (uid " + std::to_string(st.st_uid) + ")");
    if (key && (st.st_mode & 077))
        refuse("others can read it (mode " + Mode(st.st_mode) + "); it must be its owner's alone: chmod 600 " + path);
    if (!key && (st.st_mode & 022))
        refuse("others can write it (mode " + Mode(st.st_mode) + "): chmod go-w " + path);
}

} // namespace

TTlsIdentity EnsureIdentity(const std::string& folder)
{
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw EFCreateError("Cannot create folder " + folder, errno);
    TTlsIdentity identity {folder + "/cert.pem", folder + "/key.pem", {}};
    const bool haveCert = Exists(identity.CertificateFile);
    const bool haveKey = Exists(identity.KeyFile);
    if (haveCert != haveKey)
        throw EFOpenError("Cannot open file " + (haveCert ? identity.KeyFile : identity.CertificateFile) +
                          " (an identity needs both cert.pem and key.pem; the other is there)");
    CheckProtected(folder, false, true);
    if (!haveCert)
        MakeIdentity(identity);
    CheckProtected(identity.KeyFile, true, false);
    CheckProtected(identity.CertificateFile, false, false);
    CheckPair(identity);
    identity.Fingerprint = FingerprintOfCertificateFile(identity.CertificateFile);
    return identity;
}

TFingerprint FingerprintOfCertificateFile(const std::string& path)
{
    return tls::FingerprintOf(ReadCertificate(path).get());
}

} // namespace ferro
