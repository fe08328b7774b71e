// The reference service's rules, through its HTTP interface: accounts, tokens, saved links, host names,
// update keys, refusals, limits and the log.
#include "refsvcharness.h"

#include <QDir>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QUuid>

using namespace vennacott::refsvc::test;

namespace {

QString unique(const char *prefix)
{
    return QLatin1String(prefix) + QUuid::createUuid().toString(QUuid::Id128).left(10);
}

QString uniqueEmail()
{
    return unique("user") + QStringLiteral("@example.org");
}

// Short limits, so that a lockout passes within the test; the cap has its own service.
constexpr int kSignInFailures = 3;
constexpr int kLockoutSeconds = 3;
constexpr int kMaxConnections = 3;

} // namespace

class RefsvcApiTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void login_firstSignInCreatesTheAccountWithASaltedSlowHash();
    void savedLink_comesBackAsAJsonStringForItsAccountOnly();
    void register_grantsValidDnsLabels();
    void update_recordsTheCallerAndTheTime();
    void refusals_getAJsonErrorWithAFittingStatusAndChangeNothing_data();
    void refusals_getAJsonErrorWithAFittingStatusAndChangeNothing();
    void concurrentRequests_grantANameOnceAndCreateAnAccountOnce();
    void signIns_areRefusedAfterABurstOfFailuresPerAccountAndAddress_data();
    void signIns_areRefusedAfterABurstOfFailuresPerAccountAndAddress();
    void connections_overTheCapAreClosedAtOnce();
    void log_writesOneLinePerRequestAndNoSecret();

private:
    QString api(const QString &path) const { return m_service->apiUrl() + path; }
    QString update(const QString &path) const { return m_service->updateUrl() + path; }
    // Every password, token and update key the suite uses, to be looked for in the log at the end.
    QString remember(const QString &secret)
    {
        m_secrets.append(secret);
        return secret;
    }
    QByteArray signIn(const QString &email, const QString &password)
    {
        return remember(QString::fromLatin1(m_client->signIn(m_service->apiUrl(), email, remember(password))))
            .toLatin1();
    }
    QString registerHost(const QString &name)
    {
        const QString link = m_client->registerHost(m_service->updateUrl(), name);
        remember(link.section(u'/', -1));
        return link;
    }
    // The status page's row of a host: its last address, last update and number of updates.
    QString statusRow(const QString &host)
    {
        static const QRegularExpression row(QStringLiteral("<tr><td>([^<]*)</td><td>(.*)</td></tr>"));
        for (auto it = row.globalMatch(QString::fromUtf8(m_client->get(update("/")).body)); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            if (match.captured(1) == host)
                return match.captured(2).replace(QLatin1String("</td><td>"), QLatin1String(" "));
        }
        return {};
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ServiceProcess> m_service;
    std::unique_ptr<Client> m_client;
    QStringList m_secrets;
    // An account that never saves a link, and a host that no refused request may update.
    QByteArray m_token;
    QString m_host;
    QString m_link;
};

void RefsvcApiTest::initTestCase()
{
    m_service = std::make_unique<ServiceProcess>(m_dir.filePath(QStringLiteral("data")),
                                                 QStringList{"--sign-in-failures", QString::number(kSignInFailures),
                                                             "--sign-in-lockout", QString::number(kLockoutSeconds)});
    QVERIFY2(m_service->start(), m_service->errors().constData());
    m_client = std::make_unique<Client>(m_service->caFile());
    m_token = signIn(uniqueEmail(), QStringLiteral("refusal-password"));
    m_host = unique("Guarded");
    m_link = registerHost(m_host);
    QVERIFY(!m_token.isEmpty() && !m_link.isEmpty());
}

void RefsvcApiTest::cleanupTestCase()
{
    QVERIFY2(m_service->stop(), m_service->errors().constData());
}

void RefsvcApiTest::login_firstSignInCreatesTheAccountWithASaltedSlowHash()
{
    const QString email = uniqueEmail();
    const QString password = remember(unique("shared-password"));
    const HttpReply created = m_client->post(api("/login"), credentials(email, password));
    QCOMPARE(created.object().value(QStringLiteral("created")), QJsonValue(true));
    const QString first = remember(created.object().value(QStringLiteral("token")).toString());
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(first).hasMatch());
    // The same address in other letter case is the same account; a second device does not sign out the first.
    const HttpReply again = m_client->post(api("/login"), credentials(email.toUpper(), password));
    QCOMPARE(again.status, 200);
    QVERIFY(!again.object().contains(QStringLiteral("created")));
    const QString second = remember(again.object().value(QStringLiteral("token")).toString());
    QVERIFY(second != first);
    for (const QString &token : {first, second})
        QCOMPARE(m_client->post(api("/secure/api/get_dns"), "{}", token.toLatin1()).status, 404);

    // Another account with the same password gets a hash of its own, from a slow function.
    const QString other = uniqueEmail();
    QVERIFY(!signIn(other, password).isEmpty());
    QStringList hashes;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(QDir(m_service->dataDir()).filePath(QStringLiteral("refsvc.sqlite3")));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QVERIFY(db.open());
        QSqlQuery query(
            QStringLiteral("SELECT password_hash FROM accounts WHERE email IN ('%1', '%2')").arg(email, other), db);
        while (query.next())
            hashes.append(query.value(0).toString());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    QCOMPARE(hashes.size(), 2);
    QVERIFY(hashes[0] != hashes[1]);
    for (const QString &hash : hashes) {
        QCOMPARE(hash.section(u'$', 0, 0), QStringLiteral("pbkdf2-sha256"));
        QVERIFY(hash.section(u'$', 1, 1).toInt() >= 100'000);
    }
}

void RefsvcApiTest::savedLink_comesBackAsAJsonStringForItsAccountOnly()
{
    const QByteArray token = signIn(uniqueEmail(), QStringLiteral("link-password"));
    // The link between two quote characters, nothing else; a newer link replaces the older.
    for (const QString &link : {registerHost(unique("Saved")), registerHost(unique("newer"))}) {
        QCOMPARE(m_client->post(api("/secure/api/save_dns"), jsonBody({{"Key", link}}), token).status, 200);
        QCOMPARE(m_client->post(api("/secure/api/get_dns"), "{}", token).body, '"' + link.toLatin1() + '"');
    }
    const QByteArray stranger = signIn(uniqueEmail(), QStringLiteral("link-password"));
    QCOMPARE(m_client->post(api("/secure/api/get_dns"), "{}", stranger).status, 404);
}

void RefsvcApiTest::register_grantsValidDnsLabels()
{
    const QString tag = QUuid::createUuid().toString(QUuid::Id128).left(8);
    for (const QString &name : {QStringLiteral("a-1-") + tag, tag.left(1), tag + QString(55, u'X')}) {
        const HttpReply reply = m_client->get(update(QStringLiteral("/new/") + name));
        const QString link = reply.object().value(QStringLiteral("update_link")).toString();
        QVERIFY2(QRegularExpression(QStringLiteral("^/update/%1/[0-9a-f]{32}$").arg(name)).match(link).hasMatch(),
                 reply.body.constData());
        remember(link.section(u'/', -1));
    }
}

void RefsvcApiTest::update_recordsTheCallerAndTheTime()
{
    const QString name = unique("upd");
    const QString link = registerHost(name);
    QCOMPARE(statusRow(name), QStringLiteral("&mdash; never 0"));
    const HttpReply reply = m_client->get(update(link));
    QCOMPARE(reply.object(), QJsonObject({{"host", name}, {"ip", "127.0.0.1"}}));
    const QStringList row = statusRow(name).split(u' ');
    QCOMPARE(row.size(), 4);
    QCOMPARE(row[0], QStringLiteral("127.0.0.1"));
    const QDateTime when = QDateTime::fromString(row[1] + u'T' + row[2] + u'Z', Qt::ISODate);
    QVERIFY2(qAbs(when.secsTo(QDateTime::currentDateTimeUtc())) < 600, qPrintable(row.join(u' ')));
    QCOMPARE(row[3], QStringLiteral("1"));
}

void RefsvcApiTest::refusals_getAJsonErrorWithAFittingStatusAndChangeNothing_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<int>("status");
    const auto row = [](const char *name, const char *method, const QString &url, const QByteArray &body,
                        const QByteArray &authorization, int status) {
        QTest::newRow(name) << QByteArray(method) << url << body << authorization << status;
    };
    const auto key = [](const QByteArray &value) { return "{\"Key\": \"" + value + "\"}"; };
    const QByteArray bearer = "Bearer " + m_token;
    const QString login = api(QStringLiteral("/login"));
    const QString save = api(QStringLiteral("/secure/api/save_dns"));
    const QString get = api(QStringLiteral("/secure/api/get_dns"));
    const QString add = update(QStringLiteral("/new/")) + unique("");
    const QString email = uniqueEmail();

    // clang-format off
    row("login: empty body",                      "POST", login, "", "", 400);
    row("login: not JSON",                        "POST", login, "Email=a@b.c&Password=12345678", "", 400);
    row("login: JSON array",                      "POST", login, R"(["a@b.c", "12345678"])", "", 400);
    row("login: e-mail a number",                 "POST", login, R"({"Email": 5, "Password": "12345678"})", "", 400);
    row("login: e-mail without @",                "POST", login, credentials("nobody", "12345678"), "", 400);
    row("login: password too long",               "POST", login, credentials(email, QString(1025, u'p')), "", 400);
    row("login: body over the limit",             "POST", login, credentials(email, QString(17'000, u'p')), "", 413);
    // Seven characters that take fourteen bytes: the rule for a new account counts characters.
    row("login: new account, 7 characters",       "POST", login, credentials(email, "äöüäöüä"), "", 401);
    row("get: no token",                          "POST", get, "{}", "", 401);
    row("get: unknown token",                     "POST", get, "{}", "Bearer " + QByteArray(64, 'a'), 401);
    row("save: other scheme",                     "POST", save, key(m_link.toLatin1()), "Basic " + m_token, 401);
    row("save: Key a number",                     "POST", save, R"({"Key": 12})", bearer, 400);
    row("save: Key with a blank",                 "POST", save, key("/update/a b/c"), bearer, 400);
    row("save: Key not ASCII",                    "POST", save, key("/update/häst/c"), bearer, 400);
    row("save: Key too long",                     "POST", save, key('/' + QByteArray(512, 'k')), bearer, 400);
    row("register: 64 characters",                "GET", add + QString(54, u'y'), "", "", 400);
    row("register: empty",                        "GET", update("/new/"), "", "", 400);
    row("register: leading hyphen",               "GET", update("/new/-") + unique(""), "", "", 400);
    row("register: trailing hyphen",              "GET", add + '-', "", "", 400);
    row("register: underscore",                   "GET", add + "_x", "", "", 400);
    row("register: encoded slash",                "GET", add + "%2Fx", "", "", 400);
    row("register: taken, other letter case",     "GET", update("/new/") + m_host.toLower(), "", "", 409);
    row("update: key of another host",            "GET", update(m_link.section(u'/', 0, -2) + '/' + registerHost(unique("other")).section(u'/', -1)), "", "", 403);
    row("update: unknown host",                   "GET", update("/update/") + unique("nobody") + '/' + m_link.section(u'/', -1), "", "", 404);
    row("API: unknown path",                      "POST", api("/logout"), "{}", "", 404);
    row("API: GET /login",                        "GET", login, "", "", 405);
    row("update: POST /new/x",                    "POST", update("/new/x"), "{}", "", 405);
    row("API: unknown method",                    "BREW", login, "", "", 501);
    // Far past what the HTTP layer keeps in memory: refused while it is still arriving.
    row("API: 4 MiB body",                        "POST", login, QByteArray(4 << 20, '{'), "", 413);
    // clang-format on
}

void RefsvcApiTest::refusals_getAJsonErrorWithAFittingStatusAndChangeNothing()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, url);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, authorization);
    QFETCH(int, status);
    const HttpReply reply = m_client->send(method, url, body, authorization);
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(reply.object().keys(), QStringList({"code", "error"}));
    QCOMPARE(reply.object().value(QStringLiteral("code")), QJsonValue(status));
    if (status == 401 && url.contains(u"/secure/"))
        QCOMPARE(reply.header("WWW-Authenticate"), QByteArray("Bearer"));
    // The method a 405 names is the one the path takes.
    QCOMPARE(reply.header("Allow").isEmpty(), status != 405);
    if (status == 405)
        QVERIFY(m_client->send(reply.header("Allow"), url, "{}").status != 405);
    // Refused by the connection guard before the HTTP layer held it all, not by the endpoint afterwards.
    if (body.size() > 1024 * 1024)
        QTRY_VERIFY_WITH_TIMEOUT(m_service->output().endsWith(" - <request too large> 413\n"), kStepTimeoutMs);
    // Nothing was saved for the account, and the guarded host saw no update.
    QCOMPARE(m_client->post(api("/secure/api/get_dns"), "{}", m_token).status, 404);
    QCOMPARE(statusRow(m_host), QStringLiteral("&mdash; never 0"));
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

    QList<int> statuses;
    for (QNetworkReply *reply : registrations) {
        const HttpReply result = Client::finish(reply);
        statuses.append(result.status);
        remember(result.object().value(QStringLiteral("update_link")).toString().section(u'/', -1));
    }
    QCOMPARE(statuses.count(200), 1);
    QCOMPARE(statuses.count(409), 11);
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
    const QByteArray wrong = credentials(email, remember(unique("wrong-password")));
    for (int i = 0; i < failures; ++i)
        QCOMPARE(m_client->post(api("/login"), wrong).status, 401);

    const QByteArray right = credentials(otherAccount ? other : email, password);
    if (otherAddress) {
        RawConnection connection(m_service->caFile(), m_service->apiPort(), QHostAddress(QStringLiteral("127.0.0.2")));
        QCOMPARE(connection.send("POST", "/login", right), status);
    } else {
        const HttpReply reply = m_client->post(api("/login"), right);
        QCOMPARE(reply.status, status);
        remember(reply.object().value(QStringLiteral("token")).toString());
        if (status == 429) {
            const int retryAfter = reply.header("Retry-After").toInt();
            QVERIFY2(retryAfter >= 1 && retryAfter <= kLockoutSeconds, reply.header("Retry-After").constData());
            // Once the lockout has passed the right password is accepted again.
            QTRY_COMPARE_WITH_TIMEOUT(m_client->post(api("/login"), right).status, 200, kStepTimeoutMs);
        }
    }
    // A success forgets the failures of its own account and address only: the next wrong password from here
    // is one failure again, or still refused when the success was another's.
    QCOMPARE(m_client->post(api("/login"), wrong).status, failures == kSignInFailures && status == 200 ? 429 : 401);
}

void RefsvcApiTest::connections_overTheCapAreClosedAtOnce()
{
    QTemporaryDir dir;
    ServiceProcess service(dir.filePath(QStringLiteral("data")),
                           {"--max-connections", QString::number(kMaxConnections)});
    QVERIFY2(service.start(), service.errors().constData());
    // Up to the cap, the two origins taking turns, and no further.
    std::vector<std::unique_ptr<RawConnection>> open;
    for (int i = 0; i < kMaxConnections; ++i) {
        open.push_back(
            std::make_unique<RawConnection>(service.caFile(), i % 2 ? service.apiPort() : service.updatePort()));
        QVERIFY(open.back()->waitEncrypted());
    }
    QVERIFY(!RawConnection(service.caFile(), service.updatePort()).waitEncrypted());
    QVERIFY(service.errors().contains("the most it accepts"));
    // Those already open are served as before, and once one ends a new connection is served again.
    for (const auto &connection : open)
        QVERIFY(connection->send("GET", "/") >= 200);
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
    const QRegularExpression time(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ "));
    const QStringList lines = m_service->outputLines().mid(before);
    QCOMPARE(QStringList(lines).replaceInStrings(time, QString()),
             QStringList({"update 127.0.0.1 GET /nowhere 404", "api 127.0.0.1 POST /login 400"}));

    // Runs last: by now the log holds every kind of request the suite makes.
    m_secrets.removeAll(QString());
    QVERIFY(m_secrets.size() > 20);
    const QString log = QString::fromUtf8(m_service->output() + m_service->errors());
    QVERIFY(log.contains(QLatin1String("/update/")));
    for (const QString &secret : std::as_const(m_secrets))
        QVERIFY2(!log.contains(secret), qPrintable(QStringLiteral("the log holds %1").arg(secret)));
}

QTEST_GUILESS_MAIN(RefsvcApiTest)
#include "tst_refsvc_api.moc"
