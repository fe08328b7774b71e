// The client's trust in the benchmark: the test CA on top of the system roots, as a build with
// VENNACOTT_EXTRA_CA_FILE has, set on the shared session before the first request.
#pragma once

#include "urlsession.h"

#include <QFile>
#include <QSslCertificate>

namespace vennacott::bench {

inline bool trustTestCa(const QString &certDir, std::chrono::milliseconds timeout = std::chrono::seconds(60))
{
    QFile ca(certDir + "/ca.pem");
    if (!ca.open(QIODevice::ReadOnly))
        return false;
    SessionOptions session;
    session.inactivityTimeout = timeout;
    session.extraCaCertificates = QSslCertificate::fromData(ca.readAll(), QSsl::Pem);
    UrlSession::shared().setOptions(session);
    return true;
}

} // namespace vennacott::bench
