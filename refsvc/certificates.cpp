// The service's own certificate authority and its loopback server certificate.
//
// Qt can load keys and certificates but cannot make them, so libcrypto does the making.
#include "certificates.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <ctime>
#include <memory>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace vennacott::refsvc {
namespace {

constexpr long kDay = 24L * 60 * 60;
constexpr long kAuthorityLifetime = 3650 * kDay;
// Apple's platforms refuse TLS server certificates valid for longer than 825 days, even from a private CA.
constexpr long kServerLifetime = 825 * kDay;
constexpr long kRenewalMargin = 30 * kDay;
constexpr qint64 kMaxPemBytes = 64 * 1024;
// The CA may vouch only for this machine, so a copy of ca.key taken elsewhere cannot sign for another site,
// even for a browser that was told to trust ca.pem.
constexpr char kLoopbackOnly[] = "critical,permitted;IP:127.0.0.1/255.255.255.255,"
                                 "permitted;IP:::1/ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff,permitted;DNS:localhost";

struct OpenSslFree
{
    void operator()(X509 *p) const { X509_free(p); }
    void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
    void operator()(BIO *p) const { BIO_free(p); }
    void operator()(BIGNUM *p) const { BN_free(p); }
    void operator()(X509_EXTENSION *p) const { X509_EXTENSION_free(p); }
};
using CertPtr = std::unique_ptr<X509, OpenSslFree>;
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree>;
using BioPtr = std::unique_ptr<BIO, OpenSslFree>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, OpenSslFree>;

QString openSslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QStringLiteral("unknown libcrypto error");
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

QByteArray drain(BIO *bio)
{
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, static_cast<qsizetype>(size));
}

QByteArray certificatePem(X509 *cert)
{
    const BioPtr bio(BIO_new(BIO_s_mem()));
    return bio && PEM_write_bio_X509(bio.get(), cert) == 1 ? drain(bio.get()) : QByteArray();
}

QByteArray keyPem(EVP_PKEY *key)
{
    const BioPtr bio(BIO_new(BIO_s_mem()));
    const bool ok = bio && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    return ok ? drain(bio.get()) : QByteArray();
}

std::optional<QByteArray> readSmallFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray data = file.read(kMaxPemBytes + 1);
    if (data.size() > kMaxPemBytes) {
        *error = QStringLiteral("%1 is too large to be a PEM file").arg(path);
        return std::nullopt;
    }
    return data;
}

CertPtr parseCertificate(const QByteArray &pem)
{
    const BioPtr bio(BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())));
    return CertPtr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

KeyPtr parseKey(const QByteArray &pem)
{
    const BioPtr bio(BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())));
    return KeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

bool writeFile(const QString &path, const QByteArray &data, bool secret, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    if (secret)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(data);
    if (!file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

// The extensions are given as in openssl.cnf, so they read like the documentation of that tool.
struct Extension
{
    int nid;
    const char *value;
};

CertPtr issue(EVP_PKEY *subjectKey, const char *commonName, long lifetime, X509 *issuer, EVP_PKEY *issuerKey,
              std::initializer_list<Extension> extensions)
{
    CertPtr cert(X509_new());
    if (!cert || X509_set_version(cert.get(), X509_VERSION_3) != 1)
        return nullptr;

    // A random serial: a CA created anew must never reuse the serial of a certificate a client has seen.
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1)
        return nullptr;
    serial[0] &= 0x7f;
    const std::unique_ptr<BIGNUM, OpenSslFree> number(BN_bin2bn(serial, sizeof serial, nullptr));
    if (!number || !BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(cert.get())))
        return nullptr;

    // An hour of slack for clocks that run a little behind.
    if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) ||
        !X509_gmtime_adj(X509_getm_notAfter(cert.get()), lifetime))
        return nullptr;
    if (X509_set_pubkey(cert.get(), subjectKey) != 1)
        return nullptr;

    X509_NAME *name = X509_get_subject_name(cert.get());
    const auto text = [](const char *value) { return reinterpret_cast<const unsigned char *>(value); };
    if (X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, text("Vennacott reference service"), -1, -1, 0) != 1 ||
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, text(commonName), -1, -1, 0) != 1)
        return nullptr;
    if (X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name) != 1)
        return nullptr;

    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer ? issuer : cert.get(), cert.get(), nullptr, nullptr, 0);
    for (const Extension &extension : extensions) {
        const ExtensionPtr made(X509V3_EXT_nconf_nid(nullptr, &context, extension.nid, extension.value));
        if (!made || X509_add_ext(cert.get(), made.get(), -1) != 1)
            return nullptr;
    }
    if (X509_sign(cert.get(), issuerKey ? issuerKey : subjectKey, EVP_sha256()) <= 0)
        return nullptr;
    return cert;
}

bool expiresWithin(X509 *cert, long seconds)
{
    time_t limit = std::time(nullptr) + seconds;
    return X509_cmp_time(X509_get0_notAfter(cert), &limit) <= 0;
}

bool coversLoopback(X509 *cert)
{
    return X509_check_ip_asc(cert, "127.0.0.1", 0) == 1 && X509_check_ip_asc(cert, "::1", 0) == 1 &&
           X509_check_host(cert, "localhost", 0, 0, nullptr) == 1;
}

// True when the CA carries exactly the name constraints this version gives it, marked critical.
bool limitedToLoopback(X509 *authority)
{
    const int at = X509_get_ext_by_NID(authority, NID_name_constraints, -1);
    X509_EXTENSION *present = at < 0 ? nullptr : X509_get_ext(authority, at);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, nullptr, nullptr, nullptr, nullptr, 0);
    const ExtensionPtr wanted(X509V3_EXT_nconf_nid(nullptr, &context, NID_name_constraints, kLoopbackOnly));
    return present && wanted && X509_EXTENSION_get_critical(present) == 1 &&
           ASN1_OCTET_STRING_cmp(X509_EXTENSION_get_data(present), X509_EXTENSION_get_data(wanted.get())) == 0 &&
           X509_get_ext_by_NID(authority, NID_name_constraints, at) < 0;
}

bool signedBy(X509 *cert, X509 *authority)
{
    return X509_check_issued(authority, cert) == X509_V_OK && X509_verify(cert, X509_get0_pubkey(authority)) == 1;
}

class Maker final
{
public:
    explicit Maker(const QString &folder)
        : m_dir(folder)
    {}

    CertificateResult run()
    {
        if (!loadOrCreateAuthority() || !loadOrIssueServer())
            return {std::nullopt, m_error, m_created, m_replacedAuthority};
        ServerIdentity identity{QSslCertificate(m_serverPem), QSslKey(m_serverKeyPem, QSsl::Ec),
                                QSslCertificate(m_authorityPem)};
        if (identity.certificate.isNull() || identity.privateKey.isNull() || identity.authority.isNull())
            return {std::nullopt, QStringLiteral("Qt cannot load the certificates in %1").arg(m_dir.path()), m_created,
                    m_replacedAuthority};
        return {std::move(identity), QString(), m_created, m_replacedAuthority};
    }

private:
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

    bool fail(const QString &error)
    {
        m_error = error;
        return false;
    }

    bool save(const char *name, const QByteArray &pem, bool secret)
    {
        if (pem.isEmpty())
            return fail(QStringLiteral("cannot encode %1: %2").arg(path(name), openSslError()));
        if (!writeFile(path(name), pem, secret, &m_error))
            return false;
        m_created.append(path(name));
        return true;
    }

    bool loadOrCreateAuthority()
    {
        const bool haveCert = QFile::exists(path(kAuthorityFile));
        const bool haveKey = QFile::exists(path(kAuthorityKeyFile));
        if (!haveCert && !haveKey)
            return createAuthority();
        if (!haveCert || !haveKey)
            return fail(QStringLiteral("%1 and %2 must both be present; remove the other one to create a new CA "
                                       "(clients built to trust the old CA must then be configured again)")
                            .arg(path(kAuthorityFile), path(kAuthorityKeyFile)));
        const auto certPem = readSmallFile(path(kAuthorityFile), &m_error);
        const auto keyPemText = certPem ? readSmallFile(path(kAuthorityKeyFile), &m_error) : std::nullopt;
        if (!keyPemText)
            return false;
        m_authority = parseCertificate(*certPem);
        m_authorityKey = parseKey(*keyPemText);
        if (!m_authority || !m_authorityKey)
            return fail(QStringLiteral("%1 or %2 is damaged: %3")
                            .arg(path(kAuthorityFile), path(kAuthorityKeyFile), openSslError()));
        if (X509_check_private_key(m_authority.get(), m_authorityKey.get()) != 1 ||
            X509_check_ca(m_authority.get()) < 1)
            return fail(QStringLiteral("%1 is not a CA certificate for the key in %2")
                            .arg(path(kAuthorityFile), path(kAuthorityKeyFile)));
        if (!limitedToLoopback(m_authority.get())) {
            m_replacedAuthority = true;
            return createAuthority();
        }
        if (expiresWithin(m_authority.get(), 0))
            return fail(QStringLiteral("the CA in %1 has expired; remove %1 and %2 to create a new one")
                            .arg(path(kAuthorityFile), path(kAuthorityKeyFile)));
        m_authorityPem = *certPem;
        return true;
    }

    bool createAuthority()
    {
        m_authorityKey.reset(EVP_EC_gen("P-256"));
        if (!m_authorityKey)
            return fail(QStringLiteral("cannot create a key: %1").arg(openSslError()));
        m_authority =
            issue(m_authorityKey.get(), "Vennacott reference service local CA", kAuthorityLifetime, nullptr, nullptr,
                  {{NID_basic_constraints, "critical,CA:TRUE,pathlen:0"},
                   {NID_key_usage, "critical,keyCertSign,cRLSign"},
                   {NID_name_constraints, kLoopbackOnly},
                   {NID_subject_key_identifier, "hash"},
                   {NID_authority_key_identifier, "keyid:always"}});
        if (!m_authority)
            return fail(QStringLiteral("cannot create the CA certificate: %1").arg(openSslError()));
        m_authorityPem = certificatePem(m_authority.get());
        // The key first: a CA certificate without its key could never issue a server certificate.
        return save(kAuthorityKeyFile, keyPem(m_authorityKey.get()), true) &&
               save(kAuthorityFile, m_authorityPem, false);
    }

    bool serverIsUsable(const QByteArray &certPem, const QByteArray &keyPemText) const
    {
        const CertPtr cert = parseCertificate(certPem);
        const KeyPtr key = parseKey(keyPemText);
        ERR_clear_error();
        return cert && key && X509_check_private_key(cert.get(), key.get()) == 1 &&
               signedBy(cert.get(), m_authority.get()) && coversLoopback(cert.get()) &&
               !expiresWithin(cert.get(), kRenewalMargin);
    }

    bool loadOrIssueServer()
    {
        if (QFile::exists(path(kServerFile)) && QFile::exists(path(kServerKeyFile))) {
            QString ignored;
            const auto certPem = readSmallFile(path(kServerFile), &ignored);
            const auto keyPemText = readSmallFile(path(kServerKeyFile), &ignored);
            if (certPem && keyPemText && serverIsUsable(*certPem, *keyPemText)) {
                m_serverPem = *certPem;
                m_serverKeyPem = *keyPemText;
                return true;
            }
        }
        const KeyPtr key(EVP_EC_gen("P-256"));
        if (!key)
            return fail(QStringLiteral("cannot create a key: %1").arg(openSslError()));
        const CertPtr cert = issue(key.get(), "localhost", kServerLifetime, m_authority.get(), m_authorityKey.get(),
                                   {{NID_basic_constraints, "critical,CA:FALSE"},
                                    {NID_key_usage, "critical,digitalSignature"},
                                    {NID_ext_key_usage, "serverAuth"},
                                    {NID_subject_alt_name, "IP:127.0.0.1,IP:::1,DNS:localhost"},
                                    {NID_subject_key_identifier, "hash"},
                                    {NID_authority_key_identifier, "keyid:always"}});
        if (!cert)
            return fail(QStringLiteral("cannot create the server certificate: %1").arg(openSslError()));
        m_serverPem = certificatePem(cert.get());
        m_serverKeyPem = keyPem(key.get());
        return save(kServerKeyFile, m_serverKeyPem, true) && save(kServerFile, m_serverPem, false);
    }

    QDir m_dir;
    QString m_error;
    QStringList m_created;
    bool m_replacedAuthority = false;
    CertPtr m_authority;
    KeyPtr m_authorityKey;
    QByteArray m_authorityPem;
    QByteArray m_serverPem;
    QByteArray m_serverKeyPem;
};

} // namespace

CertificateResult ensureCertificates(const QString &folder)
{
    return Maker(folder).run();
}

} // namespace vennacott::refsvc
