// The service origins and texts the client is built with.
#include "endpoints.h"

#include "buildconfig.h"

#include <QStringList>

#include <mutex>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace vennacott::endpoints {
namespace {

struct Override
{
    std::mutex mutex;
    QString api;
    QString update;
};

Override &overrides()
{
    static Override instance;
    return instance;
}

} // namespace

QString apiBaseUrl()
{
    Override &current = overrides();
    const std::lock_guard lock(current.mutex);
    return current.api.isEmpty() ? QString::fromUtf8(buildconfig::kApiUrl) : current.api;
}

QString updateBaseUrl()
{
    Override &current = overrides();
    const std::lock_guard lock(current.mutex);
    return current.update.isEmpty() ? QString::fromUtf8(buildconfig::kUpdateUrl) : current.update;
}

QString zoneSuffix()
{
    return QString::fromUtf8(buildconfig::kZoneSuffix);
}

void overrideForTesting(const QString &apiBaseUrl, const QString &updateBaseUrl)
{
    Override &current = overrides();
    const std::lock_guard lock(current.mutex);
    current.api = apiBaseUrl;
    current.update = updateBaseUrl;
}

QString versionText(const QString &program, const QByteArray &extraCaPem)
{
    QString text = program + QLatin1Char(' ') + QString::fromUtf8(buildconfig::kVersion) + QLatin1Char('\n');
    if (extraCaPem.isEmpty())
        return text;
    // Read with the TLS library the transport trusts them with; the command line loads no other.
    BIO *pem = BIO_new_mem_buf(extraCaPem.constData(), int(extraCaPem.size()));
    while (X509 *ca = PEM_read_bio_X509(pem, nullptr, nullptr, nullptr)) {
        QStringList subject;
        const X509_NAME *name = X509_get_subject_name(ca);
        for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
            const X509_NAME_ENTRY *entry = X509_NAME_get_entry(name, i);
            unsigned char *value = nullptr;
            const int length = ASN1_STRING_to_UTF8(&value, X509_NAME_ENTRY_get_data(entry));
            if (length < 0)
                continue;
            const int nid = OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry));
            subject.append(QString::fromLatin1(OBJ_nid2sn(nid)) + QLatin1Char('=') +
                           QString::fromUtf8(reinterpret_cast<const char *>(value), length));
            OPENSSL_free(value);
        }
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = 0;
        X509_digest(ca, EVP_sha256(), digest, &digestLength);
        const QByteArray fingerprint(reinterpret_cast<const char *>(digest), int(digestLength));
        text += QStringLiteral("Trusts an extra CA compiled in: %1, SHA-256 %2\n")
                    .arg(subject.join(QStringLiteral(", ")), QString::fromLatin1(fingerprint.toHex(':').toUpper()));
        X509_free(ca);
    }
    BIO_free(pem);
    return text;
}

} // namespace vennacott::endpoints
