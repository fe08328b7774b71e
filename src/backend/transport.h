// The JSON-over-HTTP transport: the only code that speaks HTTP.
#pragma once

#include "responsevalue.h"
#include "urlsession.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace vennacott {

using ResponseCallback = std::function<void(const ResponseValue &value)>;

// The decoding shared by both, as a pure function.
struct DecodedBody
{
    enum class Kind { Object, Array, Undecodable };
    Kind kind = Kind::Undecodable;
    QJsonObject object;
    QString error; // the reader's error, when undecodable
};
DecodedBody decodeBody(const QByteArray &body);

// How an exchange ended, for a caller that keeps a status beside the replies: never sent (`url` was not
// a valid URL), no answer (a transport failure, a limit or the timeout), answered with an HTTP status and a
// body, or cancelled through its RequestOptions.
struct Exchange
{
    enum class End { NotSent, NoAnswer, Answered, Cancelled };
    End end = End::NoAnswer;
    int httpStatus = 0;
    DecodedBody decoded;
};
using ExchangeObserver = std::function<void(const Exchange &exchange)>;

// GET `url` with "Accept: application/json". The callback runs on the delivery thread with the decoded
// object, or with false (after printing the reader's error) when the body is not a JSON object or array.
// It is never called after a transport failure, for a JSON array, or when `url` is not a valid http(s)
// URL (one line says so instead). `observer`, when given, runs on the delivery thread once every exchange
// has ended, however it ended, after the callback. A cancelled request calls neither the callback nor
// prints a line.
void sendGet(const QString &url, ResponseCallback callback, ExchangeObserver observer = {},
             RequestOptions options = {});

// GET `url` for its status only (a heartbeat to a monitor): nothing of the reply is read or printed, and an
// invalid URL prints no line either. `observer` runs on the delivery thread once the exchange has ended, with
// an undecoded body.
void sendPing(const QString &url, ExchangeObserver observer, RequestOptions options = {});

// POST `data` as a pretty-printed JSON object of strings, with `token` as a bearer token when it is not
// empty and `url` is on the API origin. Like sendGet, except that an undecodable body is reported as its
// UTF-8 text, without a line.
void sendPost(const QString &url, const QMap<QString, QString> &data, const QString &token, ResponseCallback callback,
              ExchangeObserver observer = {}, RequestOptions options = {});

// The update request's URL: `link` (a path, optionally with a query) on the update server's `origin`. A link
// that would change the scheme, host, port or user info, or that is not a URL path, is refused with the
// "invalid URL" line (the update key redacted).
std::optional<QUrl> updateRequestUrl(const QString &origin, const QString &link);

// The body as UTF-8 text, or the empty text when it is not valid UTF-8.
QString textOfBody(const QByteArray &body);

} // namespace vennacott
