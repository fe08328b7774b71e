// Password hashes, random tokens and update keys, and the fingerprints under which secrets are stored.
#pragma once

#include <QByteArray>
#include <QString>

namespace vennacott::refsvc {

// PBKDF2-HMAC-SHA256 with a fresh random salt, as "pbkdf2-sha256$<iterations>$<salt>$<hash>" (Base64).
QString hashPassword(const QString &password);
// True when `password` produces `stored`; false for a malformed record.
bool verifyPassword(const QString &password, const QString &stored);

// `bytes` random bytes from the system's cryptographic generator, as lowercase hex.
QString randomHex(int bytes);

// SHA-256 of the text, as hex: tokens and update keys are stored only this way, so a copy of the database
// does not hand out working credentials.
QString fingerprint(const QString &secret);

// Compares two texts in time that depends only on their lengths.
bool equalInConstantTime(const QByteArray &a, const QByteArray &b);

} // namespace vennacott::refsvc
