// The JSON-over-HTTP transport: the only code that speaks HTTP.
#include "transport.h"

#include "buildconfig.h"
#include "console.h"
#include "endpoints.h"
#include "redaction.h"
#include "urlsession.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QStringDecoder>
#include <QUrl>

#include <mutex>

namespace vennacott {
namespace {

const QByteArray kJson = QByteArrayLiteral("application/json");
const QByteArray kUserAgentHeader = QByteArrayLiteral("User-Agent: ") + buildconfig::kUserAgent;

// The shared session, trusting the CAs compiled in on top of whatever it was given.
UrlSession &session()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const QByteArray compiledIn = QByteArray(buildconfig::kExtraCaPem).trimmed();
        if (compiledIn.isEmpty())
            return;
        SessionOptions options = UrlSession::shared().options();
        options.extraCaPem += '\n' + compiledIn + '\n';
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
           a.userInfo() == b.userInfo() &&
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

void deliver(const DataTaskResult &result, bool isPost, const ResponseCallback &callback,
             const ExchangeObserver &observer)
{
    Exchange exchange;
    if (result.end == DataTaskResult::End::Cancelled)
        exchange.end = Exchange::End::Cancelled;
    if (result.end == DataTaskResult::End::Answered) {
        exchange.end = Exchange::End::Answered;
        exchange.httpStatus = result.httpStatus;
        exchange.decoded = decodeBody(result.body);
        const DecodedBody &decoded = exchange.decoded;
        switch (decoded.kind) {
        case DecodedBody::Kind::Object:
            callback(ResponseValue::object(decoded.object));
            break;
        case DecodedBody::Kind::Array:
            break;
        case DecodedBody::Kind::Undecodable:
            if (isPost) {
                callback(ResponseValue::text(textOfBody(result.body)));
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
    const std::optional<QUrl> parsed = requestUrl(url);
    if (!parsed) {
        notSent(std::move(observer));
        return;
    }
    DataTaskRequest request{
        QByteArrayLiteral("GET"), *parsed, {"Accept: " + kJson, kUserAgentHeader}, std::nullopt, std::move(options)};
    session().dataTask(std::move(request),
                       [callback = std::move(callback), observer = std::move(observer)](const DataTaskResult &result) {
                           deliver(result, false, callback, observer);
                       });
}

void sendPing(const QString &url, ExchangeObserver observer, RequestOptions options)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || (parsed.scheme() != QLatin1String("https") && parsed.scheme() != QLatin1String("http")) ||
        parsed.host().isEmpty()) {
        notSent(std::move(observer));
        return;
    }
    DataTaskRequest request{QByteArrayLiteral("GET"), parsed, {kUserAgentHeader}, std::nullopt, std::move(options)};
    session().dataTask(std::move(request), [observer = std::move(observer)](const DataTaskResult &result) {
        Exchange exchange;
        exchange.end = result.end == DataTaskResult::End::Answered    ? Exchange::End::Answered
                       : result.end == DataTaskResult::End::Cancelled ? Exchange::End::Cancelled
                                                                      : Exchange::End::NoAnswer;
        exchange.httpStatus = result.httpStatus;
        if (observer)
            observer(exchange);
    });
}

void sendPost(const QString &url, const QMap<QString, QString> &data, const QString &token, ResponseCallback callback,
              ExchangeObserver observer, RequestOptions options)
{
    const std::optional<QUrl> parsed = requestUrl(url);
    if (!parsed) {
        notSent(std::move(observer));
        return;
    }
    QJsonObject object;
    for (auto it = data.constBegin(); it != data.constEnd(); ++it)
        object.insert(it.key(), it.value());

    DataTaskRequest request{QByteArrayLiteral("POST"),
                            *parsed,
                            {},
                            QJsonDocument(object).toJson(QJsonDocument::Indented),
                            std::move(options)};
    const QByteArray bearer = token.toUtf8();
    // The token belongs to the backend: it goes to the API origin only (and the session follows no redirect
    // elsewhere).
    if (!bearer.isEmpty() && sameOrigin(*parsed, QUrl(endpoints::apiBaseUrl()))) {
        if (isSafeHeaderValue(bearer))
            request.headers.append("Authorization: Bearer " + bearer);
        else
            console::logLine(u"vennacott-ddns: the stored token holds control characters; request sent without it");
    }
    request.headers.append("Content-Type: " + kJson);
    request.headers.append("Accept: " + kJson);
    request.headers.append(kUserAgentHeader);
    session().dataTask(std::move(request),
                       [callback = std::move(callback), observer = std::move(observer)](const DataTaskResult &result) {
                           deliver(result, true, callback, observer);
                       });
}

std::optional<QUrl> updateRequestUrl(const QString &origin, const QString &link)
{
    // A path of its own, never "//host/..." nor text that would run on into the host or port when joined.
    const QUrl base(origin, QUrl::StrictMode);
    const QUrl reference(link, QUrl::StrictMode);
    if (link.startsWith(QLatin1Char('/')) && !link.startsWith(QLatin1String("//")) && reference.isValid() &&
        reference.isRelative() && !reference.hasFragment() && base.isValid() && base.path().isEmpty() &&
        !base.host().isEmpty() && (base.scheme() == QLatin1String("https") || base.scheme() == QLatin1String("http"))) {
        const QUrl url = base.resolved(reference);
        if (url.isValid() && sameOrigin(url, base))
            return url;
    }
    console::printLine(QStringLiteral("invalid URL, request not sent: ") + redactedLink(origin + link));
    return std::nullopt;
}

} // namespace vennacott
