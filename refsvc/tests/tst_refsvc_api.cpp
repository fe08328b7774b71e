// The reference service's rules, through its HTTP interface: accounts, tokens, saved links, host names,
// update keys, bad input and the log.
#include "refsvcharness.h"

#include <QDir>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <memory>

using namespace vennacott::refsvc::test;

namespace {

QString uniqueEmail()
{
    return QStringLiteral("user-%1@example.org").arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
}

QString uniqueName(const QString &prefix)
{
    return prefix + QLatin1Char('-') + QUuid::createUuid().toString(QUuid::Id128).left(10);
}

} // namespace

class RefsvcApiTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void login_firstSignInCreatesTheAccountAndLaterOnesCheckThePassword();
    void login_refusesBadInput_data();
    void login_refusesBadInput();
    void login_keepsOnlySaltedSlowHashes();
    void secureEndpoints_refuseMissingOrUnknownTokens_data();
    void secureEndpoints_refuseMissingOrUnknownTokens();
    void savedLink_comesBackAsAJsonStringTheClientCanCut();
    void saveDns_refusesWhatIsNotALink_data();
    void saveDns_refusesWhatIsNotALink();
    void register_grantsOnlyValidDnsLabels_data();
    void register_grantsOnlyValidDnsLabels();
    void register_refusesTakenNamesWithoutRegardToCase();
    void update_recordsTheCallerAndTheTime();
    void update_refusesWrongKeysAndUnknownHosts_data();
    void update_refusesWrongKeysAndUnknownHosts();
    void badRequests_getJsonErrorsWithFittingStatus_data();
    void badRequests_getJsonErrorsWithFittingStatus();
    void concurrentRequests_grantANameOnceAndCreateAnAccountOnce();
    void brokenHttp_leavesTheServiceServing_data();
    void brokenHttp_leavesTheServiceServing();
    void log_writesOneLinePerRequest();
    void log_neverHoldsPasswordsTokensOrKeys();

private:
    void remember(const QString &secret) { m_secrets.append(secret); }
    QString api(const char *path) const { return m_service->apiUrl() + QLatin1String(path); }
    QString update(const QString &path) const { return m_service->updateUrl() + path; }

    QTemporaryDir m_dir;
    std::unique_ptr<ServiceProcess> m_service;
    std::unique_ptr<Client> m_client;
    QStringList m_secrets; // every password, token and update key the suite used
};

void RefsvcApiTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_service = std::make_unique<ServiceProcess>(m_dir.filePath(QStringLiteral("data")));
    QVERIFY2(m_service->start(), m_service->errors().constData());
    m_client = std::make_unique<Client>(m_service->caFile());
}

void RefsvcApiTest::cleanupTestCase()
{
    if (m_service)
        QVERIFY2(m_service->stop(), m_service->errors().constData());
}

void RefsvcApiTest::login_firstSignInCreatesTheAccountAndLaterOnesCheckThePassword()
{
    const QString email = uniqueEmail();
    const QString password = QStringLiteral("first-password");
    remember(password);

    const HttpReply created = m_client->post(api("/login"), jsonBody({{"Email", email}, {"Password", password}}));
    QCOMPARE(created.status, 200);
    const QString first = created.object().value(QStringLiteral("token")).toString();
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(first).hasMatch());
    QCOMPARE(created.object().value(QStringLiteral("created")).toBool(), true);
    remember(first);

    // The same address in other letter case is the same account.
    const HttpReply again =
        m_client->post(api("/login"), jsonBody({{"Email", email.toUpper()}, {"Password", password}}));
    QCOMPARE(again.status, 200);
    const QString second = again.object().value(QStringLiteral("token")).toString();
    QVERIFY(!second.isEmpty());
    QVERIFY(second != first);
    QVERIFY(!again.object().contains(QStringLiteral("created")));
    remember(second);

    const HttpReply wrong =
        m_client->post(api("/login"), jsonBody({{"Email", email}, {"Password", QStringLiteral("other-password")}}));
    QCOMPARE(wrong.status, 401);
    QCOMPARE(wrong.object().value(QStringLiteral("code")).toInt(), 401);
    QVERIFY(!wrong.object().value(QStringLiteral("error")).toString().isEmpty());
    QVERIFY(!wrong.object().contains(QStringLiteral("token")));

    // Both tokens stay valid: a second device does not sign out the first.
    QCOMPARE(m_client->post(api("/secure/api/get_dns"), "{}", first.toLatin1()).status, 404);
    QCOMPARE(m_client->post(api("/secure/api/get_dns"), "{}", second.toLatin1()).status, 404);
}

void RefsvcApiTest::login_refusesBadInput_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    const QByteArray email = uniqueEmail().toUtf8();
    QTest::newRow("empty body") << QByteArray() << 400;
    QTest::newRow("not JSON") << QByteArray("Email=a@b.c&Password=12345678") << 400;
    QTest::newRow("JSON array") << QByteArray("[\"a@b.c\", \"12345678\"]") << 400;
    QTest::newRow("JSON string") << QByteArray("\"a@b.c\"") << 400;
    QTest::newRow("no password") << QByteArray("{\"Email\": \"" + email + "\"}") << 400;
    QTest::newRow("e-mail a number") << QByteArray("{\"Email\": 5, \"Password\": \"12345678\"}") << 400;
    QTest::newRow("password null") << QByteArray("{\"Email\": \"" + email + "\", \"Password\": null}") << 400;
    QTest::newRow("e-mail without @") << QByteArray("{\"Email\": \"nobody\", \"Password\": \"12345678\"}") << 400;
    QTest::newRow("e-mail with a blank") << QByteArray("{\"Email\": \"a b@c.d\", \"Password\": \"12345678\"}") << 400;
    QTest::newRow("password too long") << QByteArray("{\"Email\": \"" + email + "\", \"Password\": \"" +
                                                     QByteArray(1025, 'p') + "\"}")
                                       << 400;
    QTest::newRow("body over the limit") << QByteArray("{\"Email\": \"" + email + "\", \"Password\": \"" +
                                                       QByteArray(17 * 1024, 'p') + "\"}")
                                         << 413;
    QTest::newRow("new account, 7 characters")
        << QByteArray("{\"Email\": \"" + email + "\", \"Password\": \"1234567\"}") << 401;
    // Seven characters that take fourteen bytes: the rule counts characters.
    QTest::newRow("new account, 7 two-byte characters")
        << QByteArray("{\"Email\": \"" + email + "\", \"Password\": \"äöüäöüä\"}") << 401;
}

void RefsvcApiTest::login_refusesBadInput()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    const HttpReply reply = m_client->post(api("/login"), body);
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(reply.object().value(QStringLiteral("code")).toInt(), status);
    QVERIFY(!reply.object().value(QStringLiteral("error")).toString().isEmpty());
    QVERIFY(!reply.object().contains(QStringLiteral("token")));
}

void RefsvcApiTest::login_keepsOnlySaltedSlowHashes()
{
    const QString password = QStringLiteral("shared-password-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    remember(password);
    const QString a = uniqueEmail();
    const QString b = uniqueEmail();
    QVERIFY(!m_client->signIn(m_service->apiUrl(), a, password).isEmpty());
    QVERIFY(!m_client->signIn(m_service->apiUrl(), b, password).isEmpty());

    const QString databasePath = QDir(m_service->dataDir()).filePath(QStringLiteral("refsvc.sqlite3"));
    QStringList hashes;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(databasePath);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.prepare(QStringLiteral("SELECT password_hash FROM accounts WHERE email IN (?, ?)")));
        query.addBindValue(a);
        query.addBindValue(b);
        QVERIFY(query.exec());
        while (query.next())
            hashes.append(query.value(0).toString());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));

    QCOMPARE(hashes.size(), 2);
    QVERIFY(hashes[0] != hashes[1]); // salted
    for (const QString &hash : hashes) {
        const QStringList parts = hash.split(QLatin1Char('$'));
        QCOMPARE(parts.size(), 4);
        QCOMPARE(parts[0], QStringLiteral("pbkdf2-sha256"));
        QVERIFY(parts[1].toInt() >= 100'000); // slow
    }
    // Nowhere in the files, the write-ahead log included, does the password stand in clear.
    for (const QString &suffix : {QString(), QStringLiteral("-wal")}) {
        QFile file(databasePath + suffix);
        if (file.open(QIODevice::ReadOnly))
            QVERIFY(!file.readAll().contains(password.toUtf8()));
    }
}

void RefsvcApiTest::secureEndpoints_refuseMissingOrUnknownTokens_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArrayList>("authorization"); // empty list: no header at all
    const QByteArray unknown = QByteArray(64, 'a');
    for (const char *path : {"/secure/api/save_dns", "/secure/api/get_dns"}) {
        const auto row = [path](const char *name) -> QTestData & {
            return QTest::addRow("%s %s", path, name) << QString::fromLatin1(path);
        };
        row("no header") << QByteArrayList{};
        row("empty bearer") << QByteArrayList{"Bearer "};
        row("unknown token") << QByteArrayList{"Bearer " + unknown};
        row("other scheme") << QByteArrayList{"Basic " + unknown};
        row("oversized token") << QByteArrayList{"Bearer " + QByteArray(4000, 'b')};
    }
}

void RefsvcApiTest::secureEndpoints_refuseMissingOrUnknownTokens()
{
    QFETCH(QString, path);
    QFETCH(QByteArrayList, authorization);
    Headers headers{{"Content-Type", "application/json"}};
    if (!authorization.isEmpty())
        headers.append({"Authorization", authorization.first()});
    const HttpReply reply =
        m_client->send("POST", m_service->apiUrl() + path, jsonBody({{"Key", QStringLiteral("/update/x/y")}}), headers);
    QCOMPARE(reply.status, 401);
    QCOMPARE(reply.object().value(QStringLiteral("code")).toInt(), 401);
    QVERIFY(!reply.object().value(QStringLiteral("error")).toString().isEmpty());
    QCOMPARE(reply.header("WWW-Authenticate"), QByteArray("Bearer"));
}

void RefsvcApiTest::savedLink_comesBackAsAJsonStringTheClientCanCut()
{
    const QString password = QStringLiteral("link-password");
    const QByteArray token = m_client->signIn(m_service->apiUrl(), uniqueEmail(), password);
    QVERIFY(!token.isEmpty());
    const QString name = uniqueName(QStringLiteral("Saved"));
    const QString link = m_client->registerHost(m_service->updateUrl(), name);
    QVERIFY(!link.isEmpty());
    remember(QString::fromLatin1(token));
    remember(link.section(QLatin1Char('/'), -1));

    const HttpReply none = m_client->post(api("/secure/api/get_dns"), "{}", token);
    QCOMPARE(none.status, 404);
    QCOMPARE(none.object().value(QStringLiteral("code")).toInt(), 404);

    QCOMPARE(m_client->post(api("/secure/api/save_dns"), jsonBody({{"Key", link}}), token).status, 200);
    const HttpReply saved = m_client->post(api("/secure/api/get_dns"), "{}", token);
    QCOMPARE(saved.status, 200);
    // A JSON string at top level: the link between two quote characters, nothing else.
    QCOMPARE(saved.body, QByteArray('"' + link.toLatin1() + '"'));
    // The client takes the host name from the tenth character up to the last "/", and the link without the
    // quotes.
    const QString text = QString::fromLatin1(saved.body);
    QCOMPARE(text.mid(9, text.lastIndexOf(QLatin1Char('/')) - 9), name);
    QCOMPARE(text.mid(1, text.size() - 2), link);

    // A newer link replaces the older one; another account sees neither.
    const QString newer = m_client->registerHost(m_service->updateUrl(), uniqueName(QStringLiteral("newer")));
    remember(newer.section(QLatin1Char('/'), -1));
    QCOMPARE(m_client->post(api("/secure/api/save_dns"), jsonBody({{"Key", newer}}), token).status, 200);
    QCOMPARE(m_client->post(api("/secure/api/get_dns"), "{}", token).body, QByteArray('"' + newer.toLatin1() + '"'));
    const QByteArray stranger = m_client->signIn(m_service->apiUrl(), uniqueEmail(), password);
    remember(QString::fromLatin1(stranger));
    QCOMPARE(m_client->post(api("/secure/api/get_dns"), "{}", stranger).status, 404);
}

void RefsvcApiTest::saveDns_refusesWhatIsNotALink_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::newRow("no Key") << QByteArray("{}") << 400;
    QTest::newRow("Key a number") << QByteArray("{\"Key\": 12}") << 400;
    QTest::newRow("Key empty") << QByteArray("{\"Key\": \"\"}") << 400;
    QTest::newRow("Key with a blank") << QByteArray("{\"Key\": \"/update/a b/c\"}") << 400;
    QTest::newRow("Key with a quote") << QByteArray("{\"Key\": \"/update/a\\\"/c\"}") << 400;
    QTest::newRow("Key with a backslash") << QByteArray("{\"Key\": \"/update/a\\\\/c\"}") << 400;
    QTest::newRow("Key not ASCII") << QByteArray("{\"Key\": \"/update/häst/c\"}") << 400;
    QTest::newRow("Key too long") << QByteArray("{\"Key\": \"/" + QByteArray(512, 'k') + "\"}") << 400;
    QTest::newRow("not JSON") << QByteArray("/update/a/b") << 400;
    QTest::newRow("body over the limit") << QByteArray("{\"Key\": \"" + QByteArray(20'000, 'k') + "\"}") << 413;
}

void RefsvcApiTest::saveDns_refusesWhatIsNotALink()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    const QByteArray token = m_client->signIn(m_service->apiUrl(), uniqueEmail(), QStringLiteral("save-password"));
    QVERIFY(!token.isEmpty());
    remember(QString::fromLatin1(token));
    const HttpReply reply = m_client->post(api("/secure/api/save_dns"), body, token);
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.object().value(QStringLiteral("code")).toInt(), status);
    QVERIFY(!reply.object().value(QStringLiteral("error")).toString().isEmpty());
    // Nothing was saved.
    QCOMPARE(m_client->post(api("/secure/api/get_dns"), "{}", token).status, 404);
}

void RefsvcApiTest::register_grantsOnlyValidDnsLabels_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("status");
    const QString tag = QUuid::createUuid().toString(QUuid::Id128).left(8);
    QTest::newRow("letters") << QStringLiteral("host") + tag << 200;
    QTest::newRow("inner hyphens and digits") << QStringLiteral("a-1-") + tag << 200;
    QTest::newRow("one character") << tag.left(1) << 200;
    QTest::newRow("63 characters") << tag + QString(55, QLatin1Char('x')) << 200;
    QTest::newRow("64 characters") << tag + QString(56, QLatin1Char('y')) << 400;
    QTest::newRow("empty") << QString() << 400;
    QTest::newRow("leading hyphen") << QLatin1Char('-') + tag << 400;
    QTest::newRow("trailing hyphen") << tag + QLatin1Char('-') << 400;
    QTest::newRow("underscore") << QStringLiteral("a_") + tag << 400;
    QTest::newRow("dot") << QStringLiteral("a.") + tag << 400;
    QTest::newRow("blank") << QStringLiteral("a ") + tag << 400;
    QTest::newRow("not ASCII") << QStringLiteral("häst") + tag << 400;
    QTest::newRow("slash") << QStringLiteral("a/") + tag << 400;
    QTest::newRow("encoded slash") << QStringLiteral("a%2F") + tag << 400;
}

void RefsvcApiTest::register_grantsOnlyValidDnsLabels()
{
    QFETCH(QString, name);
    QFETCH(int, status);
    const HttpReply reply = m_client->get(update(QStringLiteral("/new/") + name));
    QCOMPARE(reply.status, status);
    const QJsonObject object = reply.object();
    if (status == 200) {
        const QString link = object.value(QStringLiteral("update_link")).toString();
        const QRegularExpression shape(QStringLiteral("^/update/%1/[0-9a-f]{32}$").arg(name));
        QVERIFY2(shape.match(link).hasMatch(), qPrintable(link));
        QVERIFY(!object.contains(QStringLiteral("error")));
        remember(link.section(QLatin1Char('/'), -1));
    } else {
        QVERIFY(!object.value(QStringLiteral("error")).toString().isEmpty());
        QVERIFY(!object.contains(QStringLiteral("update_link")));
    }
}

void RefsvcApiTest::register_refusesTakenNamesWithoutRegardToCase()
{
    const QString name = uniqueName(QStringLiteral("Taken"));
    const QString link = m_client->registerHost(m_service->updateUrl(), name);
    QVERIFY(!link.isEmpty());
    remember(link.section(QLatin1Char('/'), -1));
    for (const QString &again : {name, name.toLower(), name.toUpper()}) {
        const HttpReply reply = m_client->get(update(QStringLiteral("/new/") + again));
        QCOMPARE(reply.status, 409);
        QVERIFY(!reply.object().value(QStringLiteral("error")).toString().isEmpty());
        QVERIFY(!reply.object().contains(QStringLiteral("update_link")));
    }
    // The first link still works: a refused registration changes nothing.
    QCOMPARE(m_client->get(update(link)).status, 200);
}

void RefsvcApiTest::update_recordsTheCallerAndTheTime()
{
    const QString name = uniqueName(QStringLiteral("upd"));
    const QString link = m_client->registerHost(m_service->updateUrl(), name);
    remember(link.section(QLatin1Char('/'), -1));

    const QRegularExpression row(QStringLiteral("<tr><td>%1</td><td>([^<]*)</td><td>([^<]*)</td><td>(\\d+)</td></tr>")
                                     .arg(QRegularExpression::escape(name)));
    const auto statusRow = [&] {
        return row.match(QString::fromUtf8(m_client->get(update(QStringLiteral("/"))).body));
    };
    QRegularExpressionMatch before = statusRow();
    QVERIFY(before.hasMatch());
    QCOMPARE(before.captured(2), QStringLiteral("never"));
    QCOMPARE(before.captured(3), QStringLiteral("0"));

    const HttpReply first = m_client->get(update(link));
    QCOMPARE(first.status, 200);
    QCOMPARE(first.object().value(QStringLiteral("ip")).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(first.object().value(QStringLiteral("host")).toString(), name);

    const HttpReply page = m_client->get(update(QStringLiteral("/")));
    QCOMPARE(page.status, 200);
    QVERIFY(page.header("Content-Type").startsWith("text/html"));
    const QRegularExpressionMatch after = row.match(QString::fromUtf8(page.body));
    QVERIFY(after.hasMatch());
    QCOMPARE(after.captured(1), QStringLiteral("127.0.0.1"));
    const QDateTime when = QDateTime::fromString(after.captured(2) + QStringLiteral("Z"), Qt::ISODate);
    QVERIFY2(when.isValid(), qPrintable(after.captured(2)));
    QCOMPARE(after.captured(3), QStringLiteral("1"));

    if (m_service->listensOnIPv6()) {
        const HttpReply v6 = m_client->get(QStringLiteral("https://[::1]:%1").arg(m_service->updatePort()) + link);
        QCOMPARE(v6.status, 200);
        QCOMPARE(v6.object().value(QStringLiteral("ip")).toString(), QStringLiteral("::1"));
        QCOMPARE(statusRow().captured(1), QStringLiteral("::1"));
        QCOMPARE(statusRow().captured(3), QStringLiteral("2"));
    }
}

void RefsvcApiTest::update_refusesWrongKeysAndUnknownHosts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    // Two hosts of this test; the first must see no update through any of these rows.
    const QString name = uniqueName(QStringLiteral("guarded"));
    const QString link = m_client->registerHost(m_service->updateUrl(), name);
    const QString other = m_client->registerHost(m_service->updateUrl(), uniqueName(QStringLiteral("other")));
    remember(link.section(QLatin1Char('/'), -1));
    remember(other.section(QLatin1Char('/'), -1));
    const QString key = link.section(QLatin1Char('/'), -1);
    QString altered = key;
    altered[0] = altered[0] == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
    const QString prefix = QStringLiteral("/update/") + name;
    QTest::newRow("key of another host") << prefix + QLatin1Char('/') + other.section(QLatin1Char('/'), -1) << 403;
    QTest::newRow("one character changed") << prefix + QLatin1Char('/') + altered << 403;
    QTest::newRow("key in upper case") << prefix + QLatin1Char('/') + key.toUpper() << 403;
    QTest::newRow("key cut short") << prefix + QLatin1Char('/') + key.left(31) << 403;
    QTest::newRow("no key") << prefix << 404;
    QTest::newRow("empty key") << prefix + QLatin1Char('/') << 404;
    QTest::newRow("unknown host") << QStringLiteral("/update/%1/%2").arg(uniqueName(QStringLiteral("nobody")), key)
                                  << 404;
    QTest::newRow("invalid host name") << QStringLiteral("/update/-x-/") + key << 404;
}

void RefsvcApiTest::update_refusesWrongKeysAndUnknownHosts()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    const HttpReply reply = m_client->get(update(path));
    QCOMPARE(reply.status, status);
    QVERIFY(!reply.object().value(QStringLiteral("error")).toString().isEmpty());
    QVERIFY(!reply.object().contains(QStringLiteral("ip")));
    const QString name = path.section(QLatin1Char('/'), 2, 2);
    const QRegularExpression untouched(
        QStringLiteral("<tr><td>%1</td><td>&mdash;</td><td>never</td><td>0</td></tr>").arg(name));
    if (name.startsWith(QLatin1String("guarded")))
        QVERIFY(untouched.match(QString::fromUtf8(m_client->get(update(QStringLiteral("/"))).body)).hasMatch());
}

void RefsvcApiTest::badRequests_getJsonErrorsWithFittingStatus_data()
{
    QTest::addColumn<bool>("onApi");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("allow");
    QTest::newRow("API: GET /login") << true << QByteArray("GET") << "/login" << QByteArray() << 405
                                     << QByteArray("POST");
    QTest::newRow("API: PUT get_dns") << true << QByteArray("PUT") << "/secure/api/get_dns" << QByteArray("{}") << 405
                                      << QByteArray("POST");
    QTest::newRow("API: unknown path") << true << QByteArray("POST") << "/logout" << QByteArray("{}") << 404
                                       << QByteArray();
    QTest::newRow("API: root") << true << QByteArray("GET") << "/" << QByteArray() << 404 << QByteArray();
    QTest::newRow("API: unknown method") << true << QByteArray("BREW") << "/login" << QByteArray() << 501
                                         << QByteArray();
    QTest::newRow("API: update path") << true << QByteArray("GET") << "/new/somehost" << QByteArray() << 404
                                      << QByteArray();
    QTest::newRow("update: POST /new/x") << false << QByteArray("POST") << "/new/x" << QByteArray("{}") << 405
                                         << QByteArray("GET");
    QTest::newRow("update: DELETE /") << false << QByteArray("DELETE") << "/" << QByteArray() << 405
                                      << QByteArray("GET");
    QTest::newRow("update: API path") << false << QByteArray("POST") << "/login" << QByteArray("{}") << 404
                                      << QByteArray();
    QTest::newRow("update: unknown path")
        << false << QByteArray("GET") << "/hosts.json" << QByteArray() << 404 << QByteArray();
    // Far past what the HTTP layer keeps in memory: refused while it is still arriving.
    QTest::newRow("API: 4 MiB body") << true << QByteArray("POST") << "/login" << QByteArray(4 << 20, '{') << 413
                                     << QByteArray();
}

void RefsvcApiTest::badRequests_getJsonErrorsWithFittingStatus()
{
    QFETCH(bool, onApi);
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QByteArray, allow);
    const QString base = onApi ? m_service->apiUrl() : m_service->updateUrl();
    const HttpReply reply = m_client->send(method, base + path, body, {{"Content-Type", "application/json"}});
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(reply.object().value(QStringLiteral("code")).toInt(), status);
    QVERIFY(!reply.object().value(QStringLiteral("error")).toString().isEmpty());
    QCOMPARE(reply.header("Allow"), allow);
    if (body.size() > 1024 * 1024) {
        // Refused by the connection guard before the HTTP layer held it all, not by the endpoint afterwards.
        QTRY_VERIFY_WITH_TIMEOUT(m_service->outputLines().last().endsWith(QLatin1String(" - <request too large> 413")),
                                 kStepTimeoutMs);
    }
}

void RefsvcApiTest::concurrentRequests_grantANameOnceAndCreateAnAccountOnce()
{
    const QString name = uniqueName(QStringLiteral("race"));
    QList<QNetworkReply *> registrations;
    for (int i = 0; i < 12; ++i) {
        const QString spelling = i % 2 ? name.toUpper() : name;
        registrations.append(m_client->startOwnConnection("GET", update(QStringLiteral("/new/") + spelling)));
    }
    const QString email = uniqueEmail();
    const QByteArray credentials = jsonBody({{"Email", email}, {"Password", QStringLiteral("race-password")}});
    QList<QNetworkReply *> signIns;
    for (int i = 0; i < 4; ++i)
        signIns.append(m_client->startOwnConnection("POST", api("/login"), credentials));

    QMap<int, int> registrationStatuses;
    for (QNetworkReply *reply : registrations) {
        const HttpReply result = Client::finish(reply);
        ++registrationStatuses[result.status];
        remember(result.object().value(QStringLiteral("update_link")).toString().section(QLatin1Char('/'), -1));
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

void RefsvcApiTest::brokenHttp_leavesTheServiceServing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("closeEarly");
    QTest::newRow("not HTTP") << QByteArray("HELLO THERE\r\n\r\n") << false;
    QTest::newRow("binary") << QByteArray("\x00\xff\x01\xfe\r\n\r\n", 8) << false;
    QTest::newRow("bad content length") << QByteArray("POST /login HTTP/1.1\r\nHost: x\r\nContent-Length: -5\r\n\r\n")
                                        << false;
    QTest::newRow("body cut short") << QByteArray(
                                           "POST /login HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\n{\"Email\":")
                                    << true;
    QTest::newRow("headers without end") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\nX-A: ") + QByteArray(200'000, 'a')
                                         << true;
}

void RefsvcApiTest::brokenHttp_leavesTheServiceServing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, closeEarly);
    QSslSocket socket;
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(m_service->caFile()));
    socket.setSslConfiguration(tls);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_service->apiPort());
    QVERIFY(socket.waitForEncrypted(kStepTimeoutMs));
    socket.write(bytes);
    // The service may hang up before it has read everything; that is one of the right answers.
    socket.waitForBytesWritten(kStepTimeoutMs);
    if (closeEarly)
        socket.disconnectFromHost();
    else
        QTRY_VERIFY_WITH_TIMEOUT(socket.state() == QAbstractSocket::UnconnectedState || socket.bytesAvailable() > 0,
                                 kStepTimeoutMs);
    socket.abort();

    const HttpReply after = m_client->get(update(QStringLiteral("/")));
    QCOMPARE(after.status, 200);
}

void RefsvcApiTest::log_writesOneLinePerRequest()
{
    const qsizetype before = m_service->outputLines().size();
    QCOMPARE(m_client->get(update(QStringLiteral("/nowhere"))).status, 404);
    QCOMPARE(m_client->post(api("/login"), "{}").status, 400);
    QTRY_COMPARE_WITH_TIMEOUT(m_service->outputLines().size(), before + 2, kStepTimeoutMs);
    const QStringList lines = m_service->outputLines().mid(before);
    const QRegularExpression shape(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ (api|update) 127\\.0\\.0\\.1 "
                       "(GET|POST) (\\S+) (\\d{3})$"));
    const QRegularExpressionMatch first = shape.match(lines[0]);
    const QRegularExpressionMatch second = shape.match(lines[1]);
    QVERIFY2(first.hasMatch(), qPrintable(lines[0]));
    QVERIFY2(second.hasMatch(), qPrintable(lines[1]));
    QCOMPARE(first.captured(1) + QLatin1Char(' ') + first.captured(3) + QLatin1Char(' ') + first.captured(4),
             QStringLiteral("update /nowhere 404"));
    QCOMPARE(second.captured(1) + QLatin1Char(' ') + second.captured(3) + QLatin1Char(' ') + second.captured(4),
             QStringLiteral("api /login 400"));
}

void RefsvcApiTest::log_neverHoldsPasswordsTokensOrKeys()
{
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
