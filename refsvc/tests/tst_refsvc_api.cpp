// The reference service's rules, through its HTTP interface: accounts, tokens, saved links, host names,
// update keys, bad input and the log.
#include "refsvcharness.h"

#include <QDir>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <memory>

using namespace vennacott::refsvc::test;

namespace {

QString unique(const char *prefix)
{
    return QLatin1String(prefix) + QLatin1Char('-') + QUuid::createUuid().toString(QUuid::Id128).left(10);
}

QString uniqueEmail()
{
    return unique("user") + QStringLiteral("@example.org");
}

QByteArray credentials(const QString &email, const QString &password)
{
    return jsonBody({{"Email", email}, {"Password", password}});
}

// Short limits, so that a lockout passes within the test; the cap has its own service.
constexpr int kSignInFailures = 3;
constexpr int kLockoutSeconds = 3;
constexpr int kMaxConnections = 3;

QString keyOf(const QString &link)
{
    return link.section(QLatin1Char('/'), -1);
}

} // namespace

class RefsvcApiTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void login_firstSignInCreatesTheAccountInAnyLetterCase();
    void login_keepsOnlySaltedSlowHashes();
    void savedLink_comesBackAsAJsonStringForItsAccountOnly();
    void register_grantsValidDnsLabels();
    void update_recordsTheCallerAndTheTime();
    void refusals_getAJsonErrorWithAFittingStatus_data();
    void refusals_getAJsonErrorWithAFittingStatus();
    void concurrentRequests_grantANameOnceAndCreateAnAccountOnce();
    void signIns_areRefusedAfterABurstOfFailuresPerAccountAndAddress_data();
    void signIns_areRefusedAfterABurstOfFailuresPerAccountAndAddress();
    void connections_overTheCapAreClosedAtOnce_data();
    void connections_overTheCapAreClosedAtOnce();
    void log_writesOneLinePerRequestAndNoSecret();

private:
    QString remember(const QString &secret)
    {
        m_secrets.append(secret);
        return secret;
    }
    QString api(const QString &path) const { return m_service->apiUrl() + path; }
    QString update(const QString &path) const { return m_service->updateUrl() + path; }
    QByteArray signIn(const QString &email, const QString &password)
    {
        remember(password);
        return remember(QString::fromLatin1(m_client->signIn(m_service->apiUrl(), email, password))).toLatin1();
    }
    QString registerHost(const QString &name)
    {
        const QString link = m_client->registerHost(m_service->updateUrl(), name);
        remember(keyOf(link));
        return link;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ServiceProcess> m_service;
    std::unique_ptr<Client> m_client;
    QStringList m_secrets; // every password, token and update key the suite used
    // An account that never saves a link, and a host that no refused request may update.
    QString m_email;
    QByteArray m_token;
    QString m_host;
    QString m_link;
};

void RefsvcApiTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_service = std::make_unique<ServiceProcess>(m_dir.filePath(QStringLiteral("data")),
                                                 QStringList{"--sign-in-failures", QString::number(kSignInFailures),
                                                             "--sign-in-lockout", QString::number(kLockoutSeconds)});
    QVERIFY2(m_service->start(), m_service->errors().constData());
    m_client = std::make_unique<Client>(m_service->caFile());
    m_email = uniqueEmail();
    m_token = signIn(m_email, QStringLiteral("refusal-password"));
    m_host = unique("Guarded");
    m_link = registerHost(m_host);
    QVERIFY(!m_token.isEmpty() && !m_link.isEmpty());
}

void RefsvcApiTest::cleanupTestCase()
{
    if (m_service)
        QVERIFY2(m_service->stop(), m_service->errors().constData());
}

void RefsvcApiTest::login_firstSignInCreatesTheAccountInAnyLetterCase()
{
    const QString email = uniqueEmail();
    const QString password = remember(QStringLiteral("first-password"));
    const HttpReply created = m_client->post(api("/login"), credentials(email, password));
    QCOMPARE(created.status, 200);
    const QString first = remember(created.object().value(QStringLiteral("token")).toString());
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(first).hasMatch());
    QCOMPARE(created.object().value(QStringLiteral("created")).toBool(), true);

    // The same address in other letter case is the same account.
    const HttpReply again = m_client->post(api("/login"), credentials(email.toUpper(), password));
    QCOMPARE(again.status, 200);
    const QString second = remember(again.object().value(QStringLiteral("token")).toString());
    QVERIFY(!second.isEmpty() && second != first);
    QVERIFY(!again.object().contains(QStringLiteral("created")));

    // Both tokens stay valid: a second device does not sign out the first.
    QCOMPARE(m_client->post(api("/secure/api/get_dns"), "{}", first.toLatin1()).status, 404);
    QCOMPARE(m_client->post(api("/secure/api/get_dns"), "{}", second.toLatin1()).status, 404);
}

void RefsvcApiTest::login_keepsOnlySaltedSlowHashes()
{
    const QString password = unique("shared-password");
    const QString a = uniqueEmail();
    const QString b = uniqueEmail();
    QVERIFY(!signIn(a, password).isEmpty());
    QVERIFY(!signIn(b, password).isEmpty());

    const QString databasePath = QDir(m_service->dataDir()).filePath(QStringLiteral("refsvc.sqlite3"));
    QStringList hashes;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(databasePath);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("SELECT password_hash FROM accounts WHERE email IN ('%1', '%2')").arg(a, b)));
        while (query.next())
            hashes.append(query.value(0).toString());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));

    QCOMPARE(hashes.size(), 2);
    QVERIFY(hashes[0] != hashes[1]); // salted
    for (const QString &hash : hashes) {
        QCOMPARE(hash.section(QLatin1Char('$'), 0, 0), QStringLiteral("pbkdf2-sha256"));
        QVERIFY(hash.section(QLatin1Char('$'), 1, 1).toInt() >= 100'000); // slow
    }
    // Nowhere in the files, the write-ahead log included, does the password stand in clear.
    for (const QString &suffix : {QString(), QStringLiteral("-wal")}) {
        QFile file(databasePath + suffix);
        if (file.open(QIODevice::ReadOnly))
            QVERIFY(!file.readAll().contains(password.toUtf8()));
    }
}

void RefsvcApiTest::savedLink_comesBackAsAJsonStringForItsAccountOnly()
{
    const QByteArray token = signIn(uniqueEmail(), QStringLiteral("link-password"));
    const HttpReply none = m_client->post(api("/secure/api/get_dns"), "{}", token);
    QCOMPARE(none.status, 404);
    QCOMPARE(none.object().value(QStringLiteral("code")).toInt(), 404);

    // A JSON string at top level: the link between two quote characters, nothing else. A newer link replaces it.
    for (const QString &link : {registerHost(unique("Saved")), registerHost(unique("newer"))}) {
        QCOMPARE(m_client->post(api("/secure/api/save_dns"), jsonBody({{"Key", link}}), token).status, 200);
        const HttpReply saved = m_client->post(api("/secure/api/get_dns"), "{}", token);
        QCOMPARE(saved.status, 200);
        QCOMPARE(saved.body, QByteArray('"' + link.toLatin1() + '"'));
    }
    const QByteArray stranger = signIn(uniqueEmail(), QStringLiteral("link-password"));
    QCOMPARE(m_client->post(api("/secure/api/get_dns"), "{}", stranger).status, 404);
}

void RefsvcApiTest::register_grantsValidDnsLabels()
{
    const QString tag = QUuid::createUuid().toString(QUuid::Id128).left(8);
    for (const QString &name : {QStringLiteral("host") + tag, QStringLiteral("a-1-") + tag, tag.left(1),
                                tag + QString(55, QLatin1Char('x'))}) {
        const HttpReply reply = m_client->get(update(QStringLiteral("/new/") + name));
        QCOMPARE(reply.status, 200);
        const QString link = reply.object().value(QStringLiteral("update_link")).toString();
        const QRegularExpression shape(QStringLiteral("^/update/%1/([0-9a-f]{32})$").arg(name));
        QVERIFY2(shape.match(link).hasMatch(), qPrintable(link));
        remember(keyOf(link));
        QVERIFY(!reply.object().contains(QStringLiteral("error")));
    }
}

void RefsvcApiTest::update_recordsTheCallerAndTheTime()
{
    const QString name = unique("upd");
    const QString link = registerHost(name);
    const QRegularExpression row(QStringLiteral("<tr><td>%1</td><td>([^<]*)</td><td>([^<]*)</td><td>(\\d+)</td></tr>")
                                     .arg(QRegularExpression::escape(name)));
    const auto statusRow = [&] { return row.match(QString::fromUtf8(m_client->get(update("/")).body)); };
    QCOMPARE(statusRow().captured(2), QStringLiteral("never"));
    QCOMPARE(statusRow().captured(3), QStringLiteral("0"));

    const HttpReply first = m_client->get(update(link));
    QCOMPARE(first.status, 200);
    QCOMPARE(first.object().value(QStringLiteral("ip")).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(first.object().value(QStringLiteral("host")).toString(), name);
    const HttpReply page = m_client->get(update("/"));
    QVERIFY(page.header("Content-Type").startsWith("text/html"));
    const QRegularExpressionMatch after = statusRow();
    QCOMPARE(after.captured(1), QStringLiteral("127.0.0.1"));
    QVERIFY2(QDateTime::fromString(after.captured(2) + u'Z', Qt::ISODate).isValid(), qPrintable(after.captured(2)));
    QCOMPARE(after.captured(3), QStringLiteral("1"));
}

void RefsvcApiTest::refusals_getAJsonErrorWithAFittingStatus_data()
{
    QTest::addColumn<bool>("onApi"); // else the update origin
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("allow");
    const auto row = [](const char *name, bool onApi, const char *method, const QString &path, const QByteArray &body,
                        const QByteArray &authorization, int status, const char *allow = "") {
        QTest::newRow(name) << onApi << QByteArray(method) << path << body << authorization << status
                            << QByteArray(allow);
    };
    const QString email = uniqueEmail();
    const auto key = [](const QByteArray &value) { return "{\"Key\": \"" + value + "\"}"; };
    const QByteArray bearer = "Bearer " + m_token;
    const QString guarded = QStringLiteral("/update/") + m_host + QLatin1Char('/');
    const QString k = keyOf(m_link);
    const QString otherKey = keyOf(registerHost(unique("other")));
    QString altered = k;
    altered[0] = altered[0] == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
    const QString tag = QUuid::createUuid().toString(QUuid::Id128).left(8);
    const QString login = QStringLiteral("/login");
    const QString save = QStringLiteral("/secure/api/save_dns");
    const QString get = QStringLiteral("/secure/api/get_dns");
    const auto signIn = [&](const QByteArray &password) { return credentials(email, QString::fromUtf8(password)); };

    // clang-format off
    row("login: empty body",                 true, "POST", login, "", "", 400);
    row("login: not JSON",                   true, "POST", login, "Email=a@b.c&Password=12345678", "", 400);
    row("login: JSON array",                 true, "POST", login, R"(["a@b.c", "12345678"])", "", 400);
    row("login: no password",                true, "POST", login, jsonBody({{"Email", email}}), "", 400);
    row("login: e-mail a number",            true, "POST", login, R"({"Email": 5, "Password": "12345678"})", "", 400);
    row("login: e-mail without @",           true, "POST", login, credentials("nobody", "12345678"), "", 400);
    row("login: password too long",          true, "POST", login, signIn(QByteArray(1025, 'p')), "", 400);
    row("login: body over the limit",        true, "POST", login, signIn(QByteArray(17 * 1024, 'p')), "", 413);
    row("login: wrong password",             true, "POST", login, credentials(m_email, "other-password"), "", 401);
    row("login: new account, 7 characters",  true, "POST", login, signIn("1234567"), "", 401);
    // Seven characters that take fourteen bytes: the rule counts characters.
    row("login: new account, 7 two-byte characters", true, "POST", login, signIn("äöüäöüä"), "", 401);
    row("save: no token",                    true, "POST", save, key(m_link.toLatin1()), "", 401);
    row("save: unknown token",               true, "POST", save, key(m_link.toLatin1()), "Bearer " + QByteArray(64, 'a'), 401);
    row("get: no token",                     true, "POST", get, "{}", "", 401);
    row("get: other scheme",                 true, "POST", get, "{}", "Basic " + m_token, 401);
    row("save: no Key",                      true, "POST", save, "{}", bearer, 400);
    row("save: Key a number",                true, "POST", save, R"({"Key": 12})", bearer, 400);
    row("save: Key with a blank",            true, "POST", save, key("/update/a b/c"), bearer, 400);
    row("save: Key not ASCII",               true, "POST", save, key("/update/häst/c"), bearer, 400);
    row("save: Key too long",                true, "POST", save, key('/' + QByteArray(512, 'k')), bearer, 400);
    row("save: not JSON",                    true, "POST", save, "/update/a/b", bearer, 400);
    row("save: body over the limit",         true, "POST", save, key(QByteArray(20'000, 'k')), bearer, 413);
    row("register: 64 characters",           false, "GET", "/new/" + tag + QString(56, u'y'), "", "", 400);
    row("register: empty",                   false, "GET", "/new/", "", "", 400);
    row("register: leading hyphen",          false, "GET", "/new/-" + tag, "", "", 400);
    row("register: trailing hyphen",         false, "GET", "/new/" + tag + '-', "", "", 400);
    row("register: underscore",              false, "GET", "/new/a_" + tag, "", "", 400);
    row("register: not ASCII",               false, "GET", "/new/häst" + tag, "", "", 400);
    row("register: encoded slash",           false, "GET", "/new/a%2F" + tag, "", "", 400);
    row("register: taken",                   false, "GET", "/new/" + m_host, "", "", 409);
    row("register: taken, other case",       false, "GET", "/new/" + m_host.toLower(), "", "", 409);
    row("update: key of another host",       false, "GET", guarded + otherKey, "", "", 403);
    row("update: one character changed",     false, "GET", guarded + altered, "", "", 403);
    row("update: key in upper case",         false, "GET", guarded + k.toUpper(), "", "", 403);
    row("update: no key",                    false, "GET", guarded.chopped(1), "", "", 404);
    row("update: unknown host",              false, "GET", "/update/" + unique("nobody") + '/' + k, "", "", 404);
    row("update: invalid host name",         false, "GET", "/update/-x-/" + k, "", "", 404);
    row("API: GET /login",                   true, "GET", login, "", "", 405, "POST");
    row("API: PUT get_dns",                  true, "PUT", get, "{}", "", 405, "POST");
    row("API: unknown path",                 true, "POST", "/logout", "{}", "", 404);
    row("API: unknown method",               true, "BREW", login, "", "", 501);
    row("update: POST /new/x",               false, "POST", "/new/x", "{}", "", 405, "GET");
    row("update: DELETE /",                  false, "DELETE", "/", "", "", 405, "GET");
    row("update: unknown path",              false, "GET", "/hosts.json", "", "", 404);
    // Far past what the HTTP layer keeps in memory: refused while it is still arriving.
    row("API: 4 MiB body",                   true, "POST", login, QByteArray(4 << 20, '{'), "", 413);
    // clang-format on
}

void RefsvcApiTest::refusals_getAJsonErrorWithAFittingStatus()
{
    QFETCH(bool, onApi);
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, authorization);
    QFETCH(int, status);
    QFETCH(QByteArray, allow);
    Headers headers{{"Content-Type", "application/json"}};
    if (!authorization.isEmpty())
        headers.append({"Authorization", authorization});
    const HttpReply reply = m_client->send(method, (onApi ? api(path) : update(path)), body, headers);
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(reply.object().value(QStringLiteral("code")).toInt(), status);
    QVERIFY(!reply.object().value(QStringLiteral("error")).toString().isEmpty());
    for (const char *granted : {"token", "update_link", "ip"})
        QVERIFY2(!reply.object().contains(QLatin1String(granted)), granted);
    QCOMPARE(reply.header("Allow"), allow);
    if (status == 401 && path.startsWith(u"/secure/"))
        QCOMPARE(reply.header("WWW-Authenticate"), QByteArray("Bearer"));
    if (body.size() > 1024 * 1024) {
        // Refused by the connection guard before the HTTP layer held it all, not by the endpoint afterwards.
        QTRY_VERIFY_WITH_TIMEOUT(m_service->outputLines().last().endsWith(QLatin1String(" - <request too large> 413")),
                                 kStepTimeoutMs);
    }
    // Nothing was saved for the account, and the guarded host saw no update.
    QCOMPARE(m_client->post(api("/secure/api/get_dns"), "{}", m_token).status, 404);
    QVERIFY(QString::fromUtf8(m_client->get(update("/")).body)
                .contains(QStringLiteral("<tr><td>%1</td><td>&mdash;</td><td>never</td><td>0</td></tr>").arg(m_host)));
}

void RefsvcApiTest::concurrentRequests_grantANameOnceAndCreateAnAccountOnce()
{
    const QString name = unique("race");
    QList<QNetworkReply *> registrations;
    for (int i = 0; i < 12; ++i)
        registrations.append(m_client->startOwnConnection("GET", update("/new/" + (i % 2 ? name.toUpper() : name))));
    const QByteArray signIn = credentials(uniqueEmail(), remember(QStringLiteral("race-password")));
    QList<QNetworkReply *> signIns;
    for (int i = 0; i < 4; ++i)
        signIns.append(m_client->startOwnConnection("POST", api("/login"), signIn));

    QMap<int, int> registrationStatuses;
    for (QNetworkReply *reply : registrations) {
        const HttpReply result = Client::finish(reply);
        ++registrationStatuses[result.status];
        remember(keyOf(result.object().value(QStringLiteral("update_link")).toString()));
    }
    QCOMPARE(registrationStatuses.value(200), 1);
    QCOMPARE(registrationStatuses.value(409), 11);

    int created = 0;
    for (QNetworkReply *reply : signIns) {
        const HttpReply result = Client::finish(reply);
        QCOMPARE(result.status, 200);
        created += result.object().value(QStringLiteral("created")).toBool() ? 1 : 0;
        remember(result.object().value(QStringLiteral("token")).toString());
    }
    QCOMPARE(created, 1);
}

void RefsvcApiTest::signIns_areRefusedAfterABurstOfFailuresPerAccountAndAddress_data()
{
    QTest::addColumn<int>("failures");
    QTest::addColumn<bool>("otherAddress");
    QTest::addColumn<bool>("otherAccount");
    QTest::addColumn<int>("status"); // of the right password right after the failures
    QTest::newRow("burst") << kSignInFailures << false << false << 429;
    QTest::newRow("burst, then from another address") << kSignInFailures << true << false << 200;
    QTest::newRow("burst, then another account") << kSignInFailures << false << true << 200;
    QTest::newRow("one failure short of a burst") << kSignInFailures - 1 << false << false << 200;
}

void RefsvcApiTest::signIns_areRefusedAfterABurstOfFailuresPerAccountAndAddress()
{
    QFETCH(int, failures);
    QFETCH(bool, otherAddress);
    QFETCH(bool, otherAccount);
    QFETCH(int, status);
    const QString password = remember(unique("right-password"));
    const QString email = uniqueEmail();
    const QString other = uniqueEmail();
    QVERIFY(!signIn(email, password).isEmpty() && !signIn(other, password).isEmpty());
    const QString wrong = remember(unique("wrong-password"));
    for (int i = 0; i < failures; ++i)
        QCOMPARE(m_client->post(api("/login"), credentials(email, wrong)).status, 401);

    const QByteArray right = credentials(otherAccount ? other : email, password);
    const HttpReply reply = otherAddress ? RawConnection(m_service->caFile(), m_service->apiPort(),
                                                         QHostAddress(QStringLiteral("127.0.0.2")))
                                               .send("POST", "/login", right)
                                         : m_client->post(api("/login"), right);
    QCOMPARE(reply.status, status);
    remember(reply.object().value(QStringLiteral("token")).toString());
    if (status == 429) {
        QCOMPARE(reply.object().value(QStringLiteral("code")).toInt(), 429);
        QVERIFY(!reply.object().value(QStringLiteral("error")).toString().isEmpty());
        const int retryAfter = reply.header("Retry-After").toInt();
        QVERIFY2(retryAfter >= 1 && retryAfter <= kLockoutSeconds, reply.header("Retry-After").constData());
        // Once the lockout has passed the right password is accepted again.
        QTRY_COMPARE_WITH_TIMEOUT(m_client->post(api("/login"), right).status, 200, kStepTimeoutMs);
    }
    // A success forgets the failures of its own account and address only: the next wrong password from here
    // is one failure again, or still refused when the success was another's.
    QCOMPARE(m_client->post(api("/login"), credentials(email, wrong)).status,
             failures == kSignInFailures && status == 200 ? 429 : 401);
}

void RefsvcApiTest::connections_overTheCapAreClosedAtOnce_data()
{
    QTest::addColumn<int>("held"); // open connections, the two origins taking turns
    QTest::addColumn<bool>("served");
    QTest::newRow("under the cap") << kMaxConnections - 1 << true;
    QTest::newRow("at the cap, both origins together") << kMaxConnections << false;
}

void RefsvcApiTest::connections_overTheCapAreClosedAtOnce()
{
    QFETCH(int, held);
    QFETCH(bool, served);
    QTemporaryDir dir;
    ServiceProcess service(dir.filePath(QStringLiteral("data")),
                           {"--max-connections", QString::number(kMaxConnections)});
    QVERIFY2(service.start(), service.errors().constData());
    std::vector<std::unique_ptr<RawConnection>> open;
    for (int i = 0; i < held; ++i) {
        const quint16 port = i % 2 ? service.apiPort() : service.updatePort();
        open.push_back(std::make_unique<RawConnection>(service.caFile(), port));
        QVERIFY(open.back()->waitEncrypted());
    }
    QCOMPARE(RawConnection(service.caFile(), service.updatePort()).waitEncrypted(), served);
    QCOMPARE(service.errors().contains("the most it accepts"), !served);

    // Those already open are served as before, and once one ends a new connection is served again.
    for (const auto &connection : open)
        QVERIFY(connection->send("GET", "/").status >= 200);
    open.pop_back();
    QTRY_VERIFY_WITH_TIMEOUT(RawConnection(service.caFile(), service.updatePort()).waitEncrypted(), kStepTimeoutMs);
    QVERIFY(service.stop());
}

void RefsvcApiTest::log_writesOneLinePerRequestAndNoSecret()
{
    const qsizetype before = m_service->outputLines().size();
    QCOMPARE(m_client->get(update("/nowhere")).status, 404);
    QCOMPARE(m_client->post(api("/login"), "{}").status, 400);
    QTRY_COMPARE_WITH_TIMEOUT(m_service->outputLines().size(), before + 2, kStepTimeoutMs);
    const QRegularExpression shape(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ (update|api) 127\\.0\\.0\\.1 (GET|POST) (\\S+) (\\d{3})$"));
    const QStringList expected{QStringLiteral("update GET /nowhere 404"), QStringLiteral("api POST /login 400")};
    for (int i = 0; i < 2; ++i) {
        const QString line = m_service->outputLines().at(before + i);
        const QRegularExpressionMatch match = shape.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QCOMPARE(QStringList({match.captured(1), match.captured(2), match.captured(3), match.captured(4)}).join(u' '),
                 expected[i]);
    }

    // Runs last: by now the log holds every kind of request the suite makes.
    m_secrets.removeAll(QString());
    QVERIFY(m_secrets.size() > 20);
    const QString log = m_service->outputLines().join(QLatin1Char('\n')) + QString::fromUtf8(m_service->errors());
    QVERIFY(log.contains(QLatin1String("/update/")));
    for (const QString &secret : std::as_const(m_secrets))
        QVERIFY2(!log.contains(secret), qPrintable(QStringLiteral("the log holds %1").arg(secret)));
}

QTEST_GUILESS_MAIN(RefsvcApiTest)
#include "tst_refsvc_api.moc"
