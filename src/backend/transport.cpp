// The JSON-over-HTTP transport: the only code that speaks HTTP.
#include "transport.h"

#include "buildconfig.h"
#include "console.h"
#include "endpoints.h"
#include "redaction.h"
#include "urlsession.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QUrl>

#include <mutex>

namespace vennacott {
namespace {

const QByteArray kJson = QByteArrayLiteral("application/json");

// The shared session, trusting the CAs compiled in on top of whatever it was given.
UrlSession &session()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const QList<QSslCertificate> compiledIn =
            QSslCertificate::fromData(QByteArray(buildconfig::kExtraCaPem), QSsl::Pem);
        if (compiledIn.isEmpty())
            return;
        SessionOptions options = UrlSession::shared().options();
        options.extraCaCertificates += compiledIn;
        UrlSession::shared().setOptions(options);
    });
    return UrlSession::shared();
}

std::optional<QUrl> requestUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("https") && scheme != QLatin1String("http")) ||
        url.host().isEmpty()) {
        console::printLine(QStringLiteral("invalid URL, request not sent: ") + redactedLink(text));
        return std::nullopt;
    }
    return url;
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    return a.scheme() == b.scheme() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(a.scheme() == QLatin1String("https") ? 443 : 80) ==
               b.port(b.scheme() == QLatin1String("https") ? 443 : 80);
}

// A header value must not carry line breaks or other control characters: they would let a doctored
// settings file inject headers into the request.
bool isSafeHeaderValue(const QByteArray &value)
{
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return false;
    }
    return true;
}

bool isCancelled(const RequestOptions &options)
{
    return options.cancelled && options.cancelled->load();
}

void deliver(const std::optional<QByteArray> &body, int httpStatus, bool isPost, const ResponseCallback &callback,
             const ExchangeObserver &observer)
{
    Exchange exchange;
    if (body) {
        exchange.end = Exchange::End::Answered;
        exchange.httpStatus = httpStatus;
        exchange.decoded = decodeBody(*body);
        const DecodedBody &decoded = exchange.decoded;
        switch (decoded.kind) {
        case DecodedBody::Kind::Object:
            callback(ResponseValue::object(decoded.object));
            break;
        case DecodedBody::Kind::Array:
            break;
        case DecodedBody::Kind::Undecodable:
            if (isPost) {
                callback(ResponseValue::text(textOfBody(*body)));
            } else {
                console::printLine(decoded.error);
                callback(ResponseValue::falseValue());
            }
            break;
        }
    }
    if (observer)
        observer(exchange);
}

// The observer still hears of a request that could not be built, on the delivery thread as always.
void notSent(ExchangeObserver observer)
{
    if (observer)
        session().deliver([observer = std::move(observer)] { observer(Exchange{Exchange::End::NotSent, 0, {}}); });
}

} // namespace

DecodedBody decodeBody(const QByteArray &body)
{
    DecodedBody decoded;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        decoded.error = QStringLiteral("JSON error: %1 at offset %2").arg(error.errorString()).arg(error.offset);
    } else if (document.isObject()) {
        decoded.kind = DecodedBody::Kind::Object;
        decoded.object = document.object();
    } else if (document.isArray()) {
        decoded.kind = DecodedBody::Kind::Array;
    } else {
        decoded.error = QStringLiteral("JSON error: the top-level value is not an object or array");
    }
    return decoded;
}

QString textOfBody(const QByteArray &body)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(body);
    if (decoder.hasError())
        return QString();
    return text;
}

void sendGet(const QString &url, ResponseCallback callback, ExchangeObserver observer, RequestOptions options)
{
    if (isCancelled(options)) {
        if (observer)
            session().deliver([observer = std::move(observer)] {
                observer(Exchange{Exchange::End::Cancelled, 0, {}});
            });
        return;
    }
    const std::optional<QUrl> parsed = requestUrl(url);
    if (!parsed) {
        notSent(std::move(observer));
        return;
    }
    QNetworkRequest request(*parsed);
    request.setRawHeader("Accept", kJson);
    request.setRawHeader("User-Agent", buildconfig::kUserAgent);
    session().dataTask(std::move(request), QByteArrayLiteral("GET"), std::nullopt,
                       [callback = std::move(callback),
                        observer = std::move(observer)](const std::optional<QByteArray> &body, int status) {
                           deliver(body, status, false, callback, observer);
                       });
}

void sendPost(const QString &url, const QMap<QString, QString> &data, const QString &storedToken,
              ResponseCallback callback, ExchangeObserver observer, RequestOptions options)
{
    const std::optional<QUrl> parsed = requestUrl(url);
    if (!parsed) {
        notSent(std::move(observer));
        return;
    }
    QJsonObject object;
    for (auto it = data.constBegin(); it != data.constEnd(); ++it)
        object.insert(it.key(), it.value());
    QByteArray body = QJsonDocument(object).toJson(QJsonDocument::Indented);

    QNetworkRequest request(*parsed);
    const QByteArray token = storedToken.toUtf8();
    // The token belongs to the backend: it goes to the API origin only, and a redirect elsewhere ends the
    // exchange (Qt would carry the header along to the new origin).
    if (!token.isEmpty() && sameOrigin(*parsed, QUrl(endpoints::apiBaseUrl()))) {
        if (isSafeHeaderValue(token)) {
            request.setRawHeader("Authorization", QByteArrayLiteral("Bearer ") + token);
            request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
        } else {
            console::logLine(u"vennacott-ddns: the stored token holds control characters; request sent without it");
        }
    }
    request.setRawHeader("Content-Type", kJson);
    request.setRawHeader("Accept", kJson);
    request.setRawHeader("User-Agent", buildconfig::kUserAgent);
    session().dataTask(std::move(request), QByteArrayLiteral("POST"), std::move(body),
                       [callback = std::move(callback),
                        observer = std::move(observer)](const std::optional<QByteArray> &body, int status) {
                           deliver(body, status, true, callback, observer);
                       });
}

} // namespace vennacott
