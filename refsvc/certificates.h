// The service's own certificate authority and its loopback server certificate.
#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QStringList>

#include <optional>

namespace vennacott::refsvc {

// File names inside the data folder. Clients are built to trust kAuthorityFile.
inline constexpr char kAuthorityFile[] = "ca.pem";
inline constexpr char kAuthorityKeyFile[] = "ca.key";
inline constexpr char kServerFile[] = "server.pem";
inline constexpr char kServerKeyFile[] = "server.key";

struct ServerIdentity
{
    QSslCertificate certificate;
    QSslKey privateKey;
    QSslCertificate authority;
};

struct CertificateResult
{
    std::optional<ServerIdentity> identity; // empty on failure
    QString error;                          // why, when it failed
    QStringList created;                    // the files written, for the start-up report
    bool replacedAuthority = false;         // a CA without the loopback name constraints was replaced
};

// Loads the CA and the server certificate from `folder`, creating what is missing. A CA is created only
// when neither of its files exists: a client may already trust the old one, so a damaged CA is reported,
// never silently replaced. The CA is limited by critical name constraints to 127.0.0.1, ::1 and localhost;
// a sound CA without them (made by an older version) is replaced by a new one, with a new key. A server
// certificate that does not match the CA, does not cover 127.0.0.1, ::1 and localhost, or expires within
// 30 days is issued anew from the CA.
CertificateResult ensureCertificates(const QString &folder);

} // namespace vennacott::refsvc
