// Password hashes, random tokens and update keys, and the fingerprints under which secrets are stored.
#include "secrets.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QStringList>

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace vennacott::refsvc {
namespace {

constexpr char kScheme[] = "pbkdf2-sha256";
#ifdef VENNACOTT_PASSWORD_ITERATIONS
// The fuzzing build (fuzz/CMakeLists.txt): a sign-in there must cost microseconds, not a fifth of a second.
constexpr int kIterations = VENNACOTT_PASSWORD_ITERATIONS;
#else
// OWASP's 2023 figure for PBKDF2-HMAC-SHA256; stored with each hash, so raising it later keeps old
// accounts working.
constexpr int kIterations = 600'000;
#endif
constexpr int kSaltBytes = 16;
constexpr int kHashBytes = 32;
// A damaged record must not make a sign-in run for minutes.
constexpr int kMaxIterations = 10'000'000;

QByteArray randomBytes(int count)
{
    QByteArray bytes;
    bytes.reserve(count);
    while (bytes.size() < count) {
        const quint32 word = QRandomGenerator::system()->generate();
        bytes.append(reinterpret_cast<const char *>(&word), qMin<qsizetype>(sizeof word, count - bytes.size()));
    }
    return bytes;
}

QByteArray derive(const QString &password, const QByteArray &salt, int iterations)
{
    const QByteArray utf8 = password.toUtf8();
    QByteArray out(kHashBytes, Qt::Uninitialized);
    const int ok =
        PKCS5_PBKDF2_HMAC(utf8.constData(), static_cast<int>(utf8.size()),
                          reinterpret_cast<const unsigned char *>(salt.constData()), static_cast<int>(salt.size()),
                          iterations, EVP_sha256(), kHashBytes, reinterpret_cast<unsigned char *>(out.data()));
    return ok == 1 ? out : QByteArray();
}

} // namespace

QString hashPassword(const QString &password)
{
    const QByteArray salt = randomBytes(kSaltBytes);
    const QByteArray hash = derive(password, salt, kIterations);
    return QStringLiteral("%1$%2$%3$%4")
        .arg(QLatin1String(kScheme))
        .arg(kIterations)
        .arg(QString::fromLatin1(salt.toBase64()), QString::fromLatin1(hash.toBase64()));
}

bool verifyPassword(const QString &password, const QString &stored)
{
    const QStringList parts = stored.split(QLatin1Char('$'));
    if (parts.size() != 4 || parts[0] != QLatin1String(kScheme))
        return false;
    bool ok = false;
    const int iterations = parts[1].toInt(&ok);
    if (!ok || iterations < 1 || iterations > kMaxIterations)
        return false;
    const QByteArray salt = QByteArray::fromBase64(parts[2].toLatin1());
    const QByteArray expected = QByteArray::fromBase64(parts[3].toLatin1());
    if (salt.isEmpty() || expected.size() != kHashBytes)
        return false;
    const QByteArray actual = derive(password, salt, iterations);
    return !actual.isEmpty() && equalInConstantTime(actual, expected);
}

QString randomHex(int bytes)
{
    return QString::fromLatin1(randomBytes(bytes).toHex());
}

QString fingerprint(const QString &secret)
{
    return QString::fromLatin1(QCryptographicHash::hash(secret.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool equalInConstantTime(const QByteArray &a, const QByteArray &b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.constData(), b.constData(), static_cast<size_t>(a.size())) == 0;
}

} // namespace vennacott::refsvc
