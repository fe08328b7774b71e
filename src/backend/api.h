// The account and host API: sign in, register a host name, save and fetch the saved update link.
#pragma once

#include "responsevalue.h"
#include "transport.h"

#include <QString>

#include <functional>
#include <optional>

namespace vennacott {

// How an operation ended. It always comes, once, on the delivery thread.
struct OperationEnd
{
    enum class Kind {
        Done,     // granted: signed in, registered, saved, or the saved link fetched
        Refused,  // the service, or a check of ours before sending, said no; `error` says why
        NoAnswer, // no reply at all: no connection, a TLS failure, or no progress within the timeout
    };
    Kind kind = Kind::NoAnswer;
    QString error;
    QString value; // what a granted operation brought: the token, the update link or the saved-host text
};
using EndObserver = std::function<void(const OperationEnd &end)>;

// Exchanges the credentials for a bearer token (Done with the token). Refusals: code 401, an empty token,
// a reply without a token. `token` is the one stored now, sent as a request of the backend always is.
void login(const QString &email, const QString &password, const QString &token, EndObserver ended);

// Asks the update server for `name`: Done with the update link, or Refused with the server's error text (or
// a short text of ours when the reply holds none). A name that cannot travel unchanged as one path segment
// is refused without a request.
void registerHost(const QString &name, EndObserver ended);

// Records the update link with the backend: Done when it saved it (a 2xx status without an error text),
// Refused with its reason for any other answer.
void setSavedHost(const QString &hostLink, const QString &token, EndObserver ended);

// Fetches the recorded link: Done with the reply text (a JSON string, quotes included), Refused when the
// reply is not a text.
void getSavedHost(const QString &token, EndObserver ended);

// What a sign-in reply means: the token to store (empty for a refusal: code 401, no token text, an empty
// one, or one with control characters, which could not be sent in a header) and the line printed after
// the reply: 3, the token (redacted) and the code (1 when none).
struct LoginOutcome
{
    QString token;
    QString codeLine;
    bool unusableToken = false;
    QString refusal; // why, when there is no token: the reply's error text, or ours
};
LoginOutcome loginOutcome(const ResponseValue &reply);

// What a registration reply means: granted only with a non-empty "update_link" text in a JSON object
// without an error text. Anything else (an error object, a proxy's HTML page, an object without a link)
// is a refusal, with the server's error text when there is one.
struct RegistrationOutcome
{
    bool success = false;
    QString text; // the update link, or why the name was refused
};
RegistrationOutcome registrationOutcome(const ResponseValue &reply);

// Why an answered exchange is a refusal (an HTTP error status, or an error text in a JSON object), or
// nothing when it is not one.
std::optional<QString> refusalOf(const Exchange &exchange);

// A reply as printed: a token and the key of an update link are redacted.
QString printedReply(const ResponseValue &reply);

// Why `name` cannot be sent as the last segment of the registration URL, or the empty text when it can.
QString hostNameProblem(const QString &name);

} // namespace vennacott
