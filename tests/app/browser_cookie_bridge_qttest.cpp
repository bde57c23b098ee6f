// The embedded browser and the jar of web_request as one cookie store, both
// ways, with the real engine and the demo shop's HttpOnly session cookie.
#include <QNetworkCookie>
#include <QPointer>
#include <QSignalSpy>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QtTest>
#include <atomic>
#include <optional>
#include <thread>

#include "demo_shop.h"
#include "platform/browser_cookie_bridge_qt.h"
#include "platform/http.h"
#include "web/web_request.h"

using korvani::platform::BrowserCookieBridge;
using korvani::platform::Cookie;

namespace {

// A live cookie of that name in the jar (a removed one may linger there,
// expired, until the jar next sweeps).
std::optional<Cookie> jar_cookie(const std::string& name) {
  const qint64 now = QDateTime::currentSecsSinceEpoch();
  for (const Cookie& c : korvani::platform::cookie_jar_all())
    if (c.name == name && (c.expires == 0 || c.expires > now)) return c;
  return std::nullopt;
}

std::string login_body() {
  return std::string("username=") + demo_shop::DemoShop::backend_user + "&password=" +
         demo_shop::DemoShop::backend_password;
}

}  // namespace

class BrowserCookieBridgeTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(shop_.start()); }

  void init() {
    korvani::platform::cookie_jar_clear();
    browser_ = korvani::platform::create_bridged_browser(nullptr);
    browser_->resize(800, 600);
    view_ = qobject_cast<QWebEngineView*>(browser_);
    QVERIFY(view_);
  }

  void cleanup() {
    delete browser_.data();
    korvani::platform::cookie_jar_clear();
  }

  void a_jar_cookie_becomes_a_browser_cookie_for_its_origin_data() {
    QTest::addColumn<bool>("host_only");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<bool>("secure");
    QTest::addColumn<qint64>("expires");
    QTest::addColumn<QString>("browser_domain");
    QTest::addColumn<QString>("origin");
    QTest::newRow("a host-only session cookie stays with its host")
        << true << QStringLiteral("127.0.0.1") << false << qint64(0) << QString()
        << QStringLiteral("http://127.0.0.1/");
    QTest::newRow("a domain cookie keeps its leading dot")
        << false << QStringLiteral(".shop.example") << false << qint64(0) << QStringLiteral(".shop.example")
        << QStringLiteral("http://shop.example/");
    QTest::newRow("a secure cookie is set for https")
        << true << QStringLiteral("shop.example") << true << qint64(4102444800) << QString()
        << QStringLiteral("https://shop.example/");
  }

  void a_jar_cookie_becomes_a_browser_cookie_for_its_origin() {
    QFETCH(bool, host_only);
    QFETCH(QString, domain);
    QFETCH(bool, secure);
    QFETCH(qint64, expires);
    QFETCH(QString, browser_domain);
    QFETCH(QString, origin);
    Cookie c;
    c.name = "KSESSIONID";
    c.value = "a%3Db";
    c.domain = domain.toStdString();
    c.path = "/admin/";
    c.secure = secure;
    c.http_only = true;
    c.host_only = host_only;
    c.expires = expires;

    const QNetworkCookie out = BrowserCookieBridge::to_browser_cookie(c);
    QCOMPARE(out.name(), QByteArray("KSESSIONID"));
    QCOMPARE(out.value(), QByteArray("a%3Db"));
    QCOMPARE(out.domain(), browser_domain);
    QCOMPARE(out.path(), QStringLiteral("/admin/"));
    QCOMPARE(out.isSecure(), secure);
    QVERIFY(out.isHttpOnly());
    QCOMPARE(out.isSessionCookie(), expires == 0);
    if (expires) QCOMPARE(out.expirationDate().toSecsSinceEpoch(), expires);
    QCOMPARE(BrowserCookieBridge::origin_of(c).toString(), origin);

    // The way back, with the domain as the engine reports it.
    QNetworkCookie reported = out;
    reported.setDomain(domain);
    const Cookie back = BrowserCookieBridge::to_jar_cookie(reported);
    QCOMPARE(back.domain, c.domain);
    QCOMPARE(back.host_only, host_only);
    QCOMPARE(back.expires, expires);
    QCOMPARE(back.http_only, true);
  }

  void the_session_cookie_the_browser_gets_reaches_the_tools_requests() {
    log_in_in_browser();
    QTRY_VERIFY_WITH_TIMEOUT(jar_cookie("KSESSIONID").has_value(), 10000);
    const Cookie c = *jar_cookie("KSESSIONID");
    QVERIFY(c.http_only);
    QCOMPARE(c.domain, std::string("127.0.0.1"));
    QCOMPARE(c.path, std::string("/admin/"));

    const std::string page = korvani::web_request(shop_.backend_root() + "main.html", 0);
    QVERIFY2(page.find("欢迎您") != std::string::npos, page.c_str());

    // Logging out in the browser takes the cookie out of the jar as well.
    load(shop_.backend_root() + "logout.html");
    QTRY_VERIFY_WITH_TIMEOUT(!jar_cookie("KSESSIONID").has_value(), 10000);
    const std::string after = korvani::web_request(shop_.backend_root() + "main.html", 0);
    QVERIFY2(after.find("欢迎您") == std::string::npos, after.c_str());
  }

  void a_cookie_a_worker_request_receives_reaches_the_browser() {
    std::thread worker([this] { korvani::web_request(shop_.backend_root() + "login.html", 1, login_body()); });
    worker.join();
    QVERIFY(jar_cookie("KSESSIONID").has_value());
    QTRY_VERIFY_WITH_TIMEOUT(browser_shows_logged_in(), 10000);

    // And an answer that deletes it logs the browser out.
    korvani::web_request(shop_.backend_root() + "logout.html", 0);
    QTRY_VERIFY_WITH_TIMEOUT(!browser_shows_logged_in(), 10000);
  }

  void cookies_in_the_jar_before_the_browser_existed_are_in_it() {
    delete browser_.data();
    korvani::web_request(shop_.backend_root() + "login.html", 1, login_body());
    QVERIFY(jar_cookie("KSESSIONID").has_value());
    browser_ = korvani::platform::create_bridged_browser(nullptr);
    view_ = qobject_cast<QWebEngineView*>(browser_);
    QTRY_VERIFY_WITH_TIMEOUT(browser_shows_logged_in(), 10000);
  }

  // The store reports the cookies the bridge set in it, and those they
  // replaced, some time later: by then the jar holds a newer session, which
  // such a report must neither take out nor put the old one over.
  void a_late_report_from_the_browser_leaves_the_newer_jar_cookie() {
    delete browser_.data();
    korvani::web_request(shop_.backend_root() + "login.html", 1, login_body());
    const std::optional<Cookie> first = jar_cookie("KSESSIONID");
    QVERIFY(first.has_value());
    // Set in the new browser's store; the report of that is still to come
    // when the next log-in's answer brings the second session.
    browser_ = korvani::platform::create_bridged_browser(nullptr);
    view_ = qobject_cast<QWebEngineView*>(browser_);
    korvani::web_request(shop_.backend_root() + "login.html", 1, login_body());
    const std::optional<Cookie> second = jar_cookie("KSESSIONID");
    QVERIFY(second.has_value() && second->value != first->value);

    // Connected after the bridge: each records what the jar holds once the
    // bridge has handled the report.
    QStringList held;
    bool second_reported = false;
    QWebEngineCookieStore* store = view_->page()->profile()->cookieStore();
    auto record = [&](const QNetworkCookie& cookie, bool added) {
      if (cookie.name() != "KSESSIONID") return;
      const std::optional<Cookie> now = jar_cookie("KSESSIONID");
      held << QString::fromStdString(now ? now->value : std::string("(none)"));
      if (added && cookie.value().toStdString() == second->value) second_reported = true;
    };
    connect(store, &QWebEngineCookieStore::cookieAdded, this, [&](const QNetworkCookie& c) { record(c, true); });
    connect(store, &QWebEngineCookieStore::cookieRemoved, this, [&](const QNetworkCookie& c) { record(c, false); });
    // The store reports only once the browser is at work.
    view_->setUrl(QUrl(QString::fromStdString(shop_.backend_entry_url())));
    QTRY_VERIFY_WITH_TIMEOUT(second_reported, 10000);
    store->disconnect(this);
    for (const QString& value : held) QCOMPARE(value, QString::fromStdString(second->value));
  }

  void the_browser_may_go_while_workers_receive_cookies() {
    std::atomic<bool> stop = false;
    std::thread worker([&] {
      while (!stop) korvani::web_request(shop_.backend_root() + "login.html", 1, login_body());
    });
    QTest::qWait(100);
    delete browser_.data();
    QTest::qWait(100);
    stop = true;
    worker.join();
    QVERIFY(jar_cookie("KSESSIONID").has_value());
  }

 private:
  bool load(const std::string& url) {
    QSignalSpy loaded(view_, &QWebEngineView::loadFinished);
    view_->setUrl(QUrl(QString::fromStdString(url)));
    return loaded.wait(10000) && loaded.front().front().toBool();
  }

  void log_in_in_browser() {
    QVERIFY(load(shop_.backend_entry_url()));
    QSignalSpy loaded(view_, &QWebEngineView::loadFinished);
    view_->page()->runJavaScript(QStringLiteral(
        "document.querySelector('input[name=username]').value = 'admin';"
        "document.querySelector('input[name=password]').value = 'demo123';"
        "document.getElementById('loginForm').submit();"));
    QVERIFY(loaded.wait(10000));
  }

  // Loads main.html in the browser and tells whether it shows the home page.
  bool browser_shows_logged_in() {
    if (!load(shop_.backend_root() + "main.html")) return false;
    QString text;
    bool done = false;
    view_->page()->toPlainText([&](const QString& t) {
      text = t;
      done = true;
    });
    for (int i = 0; i < 1000 && !done; ++i) QTest::qWait(10);
    return done && text.contains(QStringLiteral("欢迎您"));
  }

  demo_shop::DemoShop shop_;
  QPointer<QWidget> browser_;
  QPointer<QWebEngineView> view_;
};

QTEST_MAIN(BrowserCookieBridgeTest)
#include "browser_cookie_bridge_qttest.moc"
