// The service origins and texts the client is built with.
#include "endpoints.h"

#include "buildconfig.h"

#include <QSslCertificate>
#include <QStringList>

#include <mutex>

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
    const QList<QSslCertificate> extra =
        extraCaPem.isEmpty() ? QList<QSslCertificate>() : QSslCertificate::fromData(extraCaPem);
    for (const QSslCertificate &ca : extra) {
        QStringList subject;
        for (const QByteArray &attribute : ca.subjectInfoAttributes()) {
            for (const QString &value : ca.subjectInfo(attribute))
                subject.append(QString::fromLatin1(attribute) + QLatin1Char('=') + value);
        }
        text += QStringLiteral("Trusts an extra CA compiled in: %1, SHA-256 %2\n")
                    .arg(subject.join(QStringLiteral(", ")),
                         QString::fromLatin1(ca.digest(QCryptographicHash::Sha256).toHex(':').toUpper()));
    }
    return text;
}

} // namespace vennacott::endpoints
