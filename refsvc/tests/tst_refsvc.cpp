// The reference service: its HTTP rules and limits, the table behind its sign-in limits, its data folder and its log.
#include "refsvcharness.h"
#include "signinthrottle.h"

#include <QRegularExpression>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>

using namespace std::chrono_literals;
using namespace vennacott::refsvc::test;
using vennacott::refsvc::SignInThrottle;

namespace {

QString unique(const char *prefix, const char *suffix = "")
{
    return QLatin1String(prefix) + QUuid::createUuid().toString(QUuid::Id128).left(10) + QLatin1String(suffix);
}

// A TLS connection from 127.0.0.<from>; null when the service closes it before the handshake is done.
std::unique_ptr<QSslSocket> connectFrom(int from, quint16 port)
{
    auto socket = std::make_unique<QSslSocket>();
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);       // what is checked here is the reply, not the service
    socket->bind(QHostAddress(0x7f000000u + quint32(from))); // which Qt's network access cannot choose
    socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    return socket->waitForEncrypted(kStepTimeoutMs) ? std::move(socket) : nullptr;
}

// The status of the reply to a sign-in sent from 127.0.0.<from>; 0 for none.
int signInFrom(int from, quint16 port, const QByteArray &body)
{
    const auto socket = connectFrom(from, port);
    const QByteArray length = QByteArray::number(body.size());
    QByteArray head;
    if (socket)
        socket->write("POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + length + "\r\n\r\n" + body);
    while (socket && !head.contains("\r\n\r\n") && socket->waitForReadyRead(kStepTimeoutMs))
        head += socket->readAll();
    return head.startsWith("HTTP/1.1 ") ? head.mid(9, 3).toInt() : 0;
}

// Lockouts short enough to pass within the test, yet spanning a few password hashes; the account's over four addresses.
constexpr int kSignInFailures = 3, kLockoutSeconds = 10, kAccountSignInFailures = 8, kAccountLockoutSeconds = 60;
constexpr int kMaxConnections = 8;

} // namespace

class RefsvcTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        const auto n = [](int value) { return QString::number(value); };
        m_service = std::make_unique<ServiceProcess>(
            m_dir.filePath(QStringLiteral("data")),
            QStringList{"--sign-in-failures", n(kSignInFailures), "--sign-in-lockout", n(kLockoutSeconds),
                        "--account-sign-in-failures", n(kAccountSignInFailures), "--account-sign-in-lockout",
                        n(kAccountLockoutSeconds)});
        QVERIFY2(m_service->start(), m_service->errors().constData());
        m_client = std::make_unique<Client>(m_service->caFile());
        QVERIFY(!(m_token = signIn(newEmail(), QStringLiteral("refusal-password"))).isEmpty());
        // The longest label (63 characters) is granted.
        m_host = unique("a-1-") + QString(49, u'X');
        const QString link = registerHost(m_host);
        QVERIFY2(QRegularExpression(QStringLiteral("^/update/%1/[0-9a-f]{32}$").arg(m_host)).match(link).hasMatch(),
                 qPrintable(link));
    }
    void cleanupTestCase()
    {
        // The log holds every kind of request by now, but no password (each holds the word), token or update key.
        const QString log = QString::fromUtf8(m_service->output() + m_service->errors());
        QVERIFY(log.contains(QLatin1String(" /update/")));
        const QRegularExpressionMatch secret = QRegularExpression(QStringLiteral("[0-9a-f]{32}|password")).match(log);
        QVERIFY2(!secret.hasMatch(), qPrintable(secret.captured()));
        QVERIFY2(m_service->stop(), m_service->errors().constData());
    }

    void login_createsTheAccountAndSavedLinksFollowIt()
    {
        const QString email = newEmail(), other = newEmail(), password = unique("shared-password");
        const QByteArray first = signIn(email, password);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(QLatin1String(first)).hasMatch());
        // The same address in other letter case is the same account; a second device does not sign out the first.
        const QByteArray second = signIn(email.toUpper(), password);
        QVERIFY(!second.isEmpty() && second != first);
        QCOMPARE(getDns(first).status, 404);
        // A saved link comes back between two quote characters on every device of its account and for no other.
        const QString link = registerHost(unique("Saved"));
        QCOMPARE(m_client->post(api("/secure/api/save_dns"), saveBody(link), first).status, 200);
        QCOMPARE(getDns(second).body, '"' + link.toLatin1() + '"');
        QCOMPARE(getDns(signIn(other, password)).status, 404);
    }
    void statusPage_showsTheLastAddressOverallAndPerFamily()
    {
        const QString host = unique("page-"), link = registerHost(host);
        QCOMPARE(statusRow(host), QStringLiteral("&mdash; never 0 &mdash; &mdash;"));
        QCOMPARE(m_client->get(update(link)).status, 200);
        // The caller's address, the time in UTC, the number of updates, and the address per family with its time.
        const QString row = statusRow(host), time = row.mid(10, 19);
        QCOMPARE(row, QStringLiteral("127.0.0.1 %1 1 127.0.0.1 (%1) &mdash;").arg(time));
    }
    void refusals_getAFittingStatus_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("body"); // sent with POST; GET when empty
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<int>("status");
        const QByteArray bearer = "Bearer " + m_token;
        const QString login = api("/login"), save = api("/secure/api/save_dns"), add = update("/new/") + unique("");
        const QString email = newEmail(), otherKey = registerHost(unique("other")).section(u'/', -1);
        // clang-format off
        const auto row = [](const char *name, const QString &url, const QByteArray &body, const QByteArray &authorization,
                            int status) { QTest::newRow(name) << url << body << authorization << status; };
        row("login: no password", login, QJsonDocument(QJsonObject{{"Email", email}}).toJson(), "", 400);
        row("login: password too long", login, credentials(email, QString(1025, u'p')), "", 400);
        // Seven characters that take fourteen bytes: the rule for a new account counts characters.
        row("login: new account, 7 characters", login, credentials(email, "äöüäöüä"), "", 401);
        row("get: unknown token", api("/secure/api/get_dns"), "{}", "Bearer " + QByteArray(64, 'a'), 401);
        row("save: Key with a blank", save, saveBody("/update/a b/c"), bearer, 400);
        row("save: Key too long", save, saveBody('/' + QString(512, u'k')), bearer, 400);
        row("register: 64 characters", add + QString(54, u'y'), "", "", 400);
        row("update: key of another host", update("/update/") + m_host + '/' + otherKey, "", "", 403);
        // Far past what the HTTP layer keeps in memory: refused by the connection guard while it still arrives.
        row("API: 4 MiB body", login, QByteArray(4 << 20, '{'), "", 413);
        // clang-format on
    }
    void refusals_getAFittingStatus()
    {
        QFETCH(QString, url);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, authorization);
        QFETCH(int, status);
        // The error's shape, and that a refused request stores nothing, fuzz_refsvc checks on every input.
        const HttpReply reply = m_client->send(body.isEmpty() ? "GET" : "POST", url, body, authorization);
        QCOMPARE(reply.status, status);
        if (body.size() > 1024 * 1024)
            QTRY_VERIFY_WITH_TIMEOUT(m_service->output().endsWith(" - <request too large> 413\n"), kStepTimeoutMs);
    }
    void signIns_areRefusedAfterFailuresPerAccountAndAddressAndPerAccount()
    {
        const QString password = unique("right-password"), email = newEmail(), other = newEmail(), spread = newEmail();
        for (const QString &account : {email, other, spread})
            QVERIFY(!signIn(account, password).isEmpty());
        const QByteArray right = credentials(email, password), wrong = credentials(email, unique("wrong-password"));
        // One failure short of a burst is no burst, and a success forgets the failures before it.
        for (int i = 0; i < kSignInFailures - 1; ++i)
            QCOMPARE(login(wrong), 401);
        QCOMPARE(login(right), 200);
        for (int i = 0; i < kSignInFailures; ++i)
            QCOMPARE(login(wrong), 401);
        verifyLockedOut(m_client->post(api("/login"), right), kLockoutSeconds);
        // A burst locks out its account from its address only, and the successes of others do not lift it.
        QCOMPARE(login(credentials(other, password)), 200);
        QCOMPARE(signInFrom(2, m_service->apiPort(), right), 200);
        QCOMPARE(login(right), 429);
        // Failures spread over many addresses lock the account out everywhere, here where none of them came from.
        for (int i = 0; i < kAccountSignInFailures; ++i)
            QCOMPARE(signInFrom(2 + i % 4, m_service->apiPort(), credentials(spread, "wrong-password")), 401);
        verifyLockedOut(m_client->post(api("/login"), credentials(spread, password)), kAccountLockoutSeconds);
        // Once the lockout has passed the right password is accepted again.
        QTRY_COMPARE_WITH_TIMEOUT(login(right), 200, kStepTimeoutMs);
    }
    void connections_overTheCapOrAnAddressesShareAreClosedAtOnceAndSlowRequestsEnd()
    {
        QTemporaryDir dir;
        ServiceProcess service(dir.filePath(QStringLiteral("data")),
                               {"--max-connections", QString::number(kMaxConnections), "--request-timeout", "1"});
        QVERIFY2(service.start(), service.errors().constData());
        // Connections held open, the origins taking turns: one address gets a quarter of the cap, three more fill it.
        std::vector<std::unique_ptr<QSslSocket>> open;
        const auto connect = [&](int address) {
            auto socket = connectFrom(address, open.size() % 2 ? service.apiPort() : service.updatePort());
            return socket ? open.emplace_back(std::move(socket)).get() : nullptr;
        };
        for (int i = 0; i < kMaxConnections; ++i)
            (void)connect(2);
        QCOMPARE(open.size(), size_t(kMaxConnections / 4));
        for (int address : {3, 3, 4, 4, 5, 5})
            QVERIFY(connect(address));
        QVERIFY(!connect(6));
        // A request that trickles in a byte at a time still ends at its deadline.
        QSslSocket &slow = *open.front();
        slow.write("GET /nowhere HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
        QTimer trickle;
        QObject::connect(&trickle, &QTimer::timeout, &slow, [&] { slow.write("a"); });
        trickle.start(100);
        QByteArray answer;
        QTRY_VERIFY_WITH_TIMEOUT((answer += slow.readAll()).contains("HTTP/1.1 408 "), kStepTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(service.output().contains(" - <request too slow> 408\n"), kStepTimeoutMs);
        trickle.stop();
        // Once a connection ends a new one is served again (each try on a new connection, never counted twice).
        open.pop_back();
        Client client(service.caFile());
        QTRY_COMPARE_WITH_TIMEOUT(client.get(service.updateUrl() + "/").status, 200, kStepTimeoutMs);
        QVERIFY(service.stop());
    }
    void signInTable_neverForgetsARefusedKey()
    {
        // Keys refused before a flood of new keys, in a table of three: the oldest only, or all of them.
        for (const int refused : {1, 3}) {
            SignInThrottle throttle({2, 10s, 3});
            SignInThrottle::Clock::time_point now{};
            for (int i = 0; i < refused * 2; ++i)
                throttle.record(QString::number(i / 2), now);
            int turnedAway = 0; // each new key fails once where it may be tried at all
            for (int i = 0; i < 20; ++i) {
                const QString flood = QStringLiteral("new %1").arg(i);
                throttle.refusedFor(flood, now += 1ms) > 0ms ? void(++turnedAway) : throttle.record(flood, now);
            }
            for (int i = 0; i < refused; ++i)
                QVERIFY(throttle.refusedFor(QString::number(i), now) > 0ms);
            // With every key refused a new one waits, until the first refusal is over.
            QCOMPARE(turnedAway, refused == 3 ? 20 : 0);
            QCOMPARE(throttle.refusedFor(QStringLiteral("later"), now + 10s), 0ms);
        }
    }
    void service_holdsAPrivateFolderAndCapsNewAccountsPerAddress()
    {
        QTemporaryDir scratch;
        const QString data = scratch.filePath(QStringLiteral("data/nested"));
        ServiceProcess service(data, {"--new-accounts-per-address", "2"});
        QVERIFY2(service.start(), service.errors().constData());
        // The owner, group and other bits; Qt's "user" bits repeat those of whichever class the caller is in.
        const auto mode = [&](const QString &name) { return QFile::permissions(data + u'/' + name) & 0x7077; };
        QCOMPARE(mode(""), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const QString secret : {"ca.key", "server.key", "refsvc.sqlite3"})
            QCOMPARE(mode(secret), QFile::ReadOwner | QFile::WriteOwner);
        // Two new accounts per address: a third is refused; accounts made sign in, another address makes new ones.
        Client client(service.caFile());
        const auto create = [&](const QString &email) {
            return client.post(service.apiUrl() + "/login", credentials(email, "pw-12345"));
        };
        const QString made = newEmail();
        for (const QString &email : {made, newEmail()})
            QVERIFY(create(email).object().value("created").toBool());
        const HttpReply refused = create(newEmail());
        QVERIFY2(refused.status == 429 && refused.headers.value("retry-after").toInt() > 0, refused.body.constData());
        QCOMPARE(create(made).status, 200);
        QCOMPARE(signInFrom(2, service.apiPort(), credentials(newEmail(), "pw-12345")), 200);
        QVERIFY(service.stop());
    }

private:
    QString api(const QString &path) const { return m_service->apiUrl() + path; }
    QString update(const QString &path) const { return m_service->updateUrl() + path; }
    QByteArray signIn(const QString &email, const QString &password) // the token, or an empty text
    {
        const QJsonObject reply = m_client->post(api("/login"), credentials(email, password)).object();
        return reply.value("token").toString().toLatin1();
    }
    int login(const QByteArray &body) { return m_client->post(api("/login"), body).status; }
    QString registerHost(const QString &name) { return m_client->registerHost(m_service->updateUrl(), name); }
    // The status page's row of a host: last address, last update, number of updates, last address per family.
    QString statusRow(const QString &host)
    {
        const QRegularExpression row(QStringLiteral("<tr><td>%1</td><td>(.*)</td></tr>").arg(host));
        return row.match(QString::fromUtf8(m_client->get(update("/")).body)).captured(1).replace("</td><td>", " ");
    }
    HttpReply getDns(const QByteArray &token) { return m_client->post(api("/secure/api/get_dns"), "{}", token); }
    // A 429 whose Retry-After lies within the lockout.
    void verifyLockedOut(const HttpReply &reply, int seconds)
    {
        const int retryAfter = reply.headers.value("retry-after").toInt();
        QVERIFY2(reply.status == 429 && retryAfter >= 1 && retryAfter <= seconds, reply.body.constData());
    }
    static QString newEmail() { return unique("user", "@example.org"); }
    static QByteArray saveBody(const QString &link) { return QJsonDocument(QJsonObject{{"Key", link}}).toJson(); }

    QTemporaryDir m_dir;
    std::unique_ptr<ServiceProcess> m_service;
    std::unique_ptr<Client> m_client;
    QByteArray m_token; // an account and a host that refused requests name
    QString m_host;
};

QTEST_GUILESS_MAIN(RefsvcTest)
#include "tst_refsvc.moc"
