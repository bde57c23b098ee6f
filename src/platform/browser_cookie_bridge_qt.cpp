#include "platform/browser_cookie_bridge_qt.h"

#include <QDateTime>
#include <QNetworkCookie>
#include <QPointer>
#include <QThread>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <algorithm>
#include <mutex>

#include "platform/http.h"

namespace korvani::platform {

namespace {

// Set while the bridge itself puts a browser cookie into the jar, so that a
// jar which told its watchers of such a put would not echo the cookie back.
thread_local bool putting_from_browser = false;

std::string bytes_of(const QByteArray& bytes) { return std::string(bytes.constData(), bytes.size()); }
std::string utf8_of(const QString& text) { return bytes_of(text.toUtf8()); }

}  // namespace

// Shared with the jar's watcher, which may run on any thread: once the bridge
// is going, nothing more is queued to it.
struct BrowserCookieBridge::Watch {
  std::mutex mutex;
  bool alive = true;
  int handle = 0;
};

BrowserCookieBridge::BrowserCookieBridge(QWebEngineCookieStore* store, QObject* parent)
    : QObject(parent), store_(store), watch_(std::make_shared<Watch>()) {
  connect(store_, &QWebEngineCookieStore::cookieAdded, this, &BrowserCookieBridge::browser_added);
  connect(store_, &QWebEngineCookieStore::cookieRemoved, this, &BrowserCookieBridge::browser_removed);

  std::weak_ptr<Watch> weak = watch_;
  BrowserCookieBridge* self = this;
  watch_->handle = cookie_jar_watch([weak, self](const Cookie& cookie) {
    if (putting_from_browser) return;
    auto watch = weak.lock();
    if (!watch) return;
    std::lock_guard lock(watch->mutex);
    if (!watch->alive) return;
    if (QThread::currentThread() == self->thread()) {
      self->jar_set(cookie);
      return;
    }
    // Queued on the bridge: a call still pending when the bridge goes is
    // dropped with it.
    QMetaObject::invokeMethod(self, [self, cookie] { self->jar_set(cookie); }, Qt::QueuedConnection);
  });

  // Cookies the tool's own requests received before the browser existed.
  for (const Cookie& cookie : cookie_jar_all()) jar_set(cookie);
}

BrowserCookieBridge::~BrowserCookieBridge() {
  {
    std::lock_guard lock(watch_->mutex);
    watch_->alive = false;
  }
  cookie_jar_unwatch(watch_->handle);
}

Cookie BrowserCookieBridge::to_jar_cookie(const QNetworkCookie& cookie) {
  Cookie out;
  out.name = bytes_of(cookie.name());
  out.value = bytes_of(cookie.value());
  const QString domain = cookie.domain();
  // Chromium reports a host-only cookie with its bare host, a domain cookie
  // with a leading dot.
  out.host_only = !domain.startsWith(QLatin1Char('.'));
  out.domain = utf8_of(domain);
  out.path = cookie.path().isEmpty() ? std::string("/") : utf8_of(cookie.path());
  out.secure = cookie.isSecure();
  out.http_only = cookie.isHttpOnly();
  out.expires = cookie.isSessionCookie() ? 0 : cookie.expirationDate().toSecsSinceEpoch();
  return out;
}

QNetworkCookie BrowserCookieBridge::to_browser_cookie(const Cookie& cookie) {
  QNetworkCookie out(QByteArray::fromStdString(cookie.name), QByteArray::fromStdString(cookie.value));
  out.setPath(QString::fromUtf8(cookie.path.empty() ? std::string("/") : cookie.path));
  out.setSecure(cookie.secure);
  out.setHttpOnly(cookie.http_only);
  if (cookie.expires > 0) out.setExpirationDate(QDateTime::fromSecsSinceEpoch(cookie.expires, Qt::UTC));
  // A host-only cookie carries no domain: the origin alone says where it goes,
  // and a domain attribute would widen it to the sub-domains.
  if (!cookie.host_only) {
    QString domain = QString::fromUtf8(cookie.domain);
    if (!domain.startsWith(QLatin1Char('.'))) domain.prepend(QLatin1Char('.'));
    out.setDomain(domain);
  }
  return out;
}

QUrl BrowserCookieBridge::origin_of(const Cookie& cookie) {
  std::string host = cookie.domain;
  while (!host.empty() && host.front() == '.') host.erase(host.begin());
  QUrl origin;
  origin.setScheme(cookie.secure ? QStringLiteral("https") : QStringLiteral("http"));
  origin.setHost(QString::fromUtf8(host));
  origin.setPath(QStringLiteral("/"));
  return origin;
}

std::string BrowserCookieBridge::echo_key(const Cookie& cookie) {
  // The jar may spell a domain cookie with or without its leading dot; no
  // field of a jar cookie holds a tab.
  std::string domain = cookie.domain;
  while (!domain.empty() && domain.front() == '.') domain.erase(domain.begin());
  return domain + '\t' + cookie.path + '\t' + cookie.name + '\t' + cookie.value;
}

void BrowserCookieBridge::browser_added(const QNetworkCookie& cookie) {
  const Cookie jar_cookie = to_jar_cookie(cookie);
  if (jar_cookie.domain.empty() || jar_cookie.name.empty()) {
    qWarning("cookie bridge: a browser cookie without domain or name was not shared");
    return;
  }
  // The jar had it when the bridge set it; whatever the jar holds now is
  // newer.
  const auto echo = std::find(pushed_.begin(), pushed_.end(), echo_key(jar_cookie));
  if (echo != pushed_.end()) {
    pushed_.erase(echo);
    return;
  }
  putting_from_browser = true;
  cookie_jar_put(jar_cookie);
  putting_from_browser = false;
}

void BrowserCookieBridge::browser_removed(const QNetworkCookie& cookie) {
  const Cookie jar_cookie = to_jar_cookie(cookie);
  cookie_jar_remove(jar_cookie.domain, jar_cookie.path, jar_cookie.name, jar_cookie.value);
}

void BrowserCookieBridge::jar_set(const Cookie& cookie) {
  if (cookie.domain.empty() || cookie.name.empty()) return;
  // An answer that deletes a cookie (Max-Age=0, a date gone by) arrives as
  // an expired one: it goes from the browser too.
  if (cookie.expires > 0 && cookie.expires <= QDateTime::currentSecsSinceEpoch()) {
    store_->deleteCookie(to_browser_cookie(cookie), origin_of(cookie));
    return;
  }
  // A cookie the store refuses is never reported back: the list stays short.
  constexpr std::size_t most_pending = 64;
  if (pushed_.size() >= most_pending) pushed_.pop_front();
  pushed_.push_back(echo_key(cookie));
  store_->setCookie(to_browser_cookie(cookie), origin_of(cookie));
}

namespace {

// The engine wants a page gone before its profile, and the profile's cookie
// store before the bridge stops listening to it; the view's own destruction
// would take them in the wrong order.
class BridgedBrowser final : public QWebEngineView {
 public:
  explicit BridgedBrowser(QWidget* parent)
      : QWebEngineView(parent),
        profile_(new QWebEngineProfile()),  // no storage name: off the record
        bridge_(new BrowserCookieBridge(profile_->cookieStore())) {
    page_ = new QWebEnginePage(profile_, this);
    setPage(page_);
  }

  ~BridgedBrowser() override {
    delete page_.data();
    delete bridge_;
    delete profile_;
  }

 private:
  QWebEngineProfile* profile_;
  BrowserCookieBridge* bridge_;
  QPointer<QWebEnginePage> page_;
};

}  // namespace

QWidget* create_bridged_browser(QWidget* parent) { return new BridgedBrowser(parent); }

void browser_set_url(QWidget* browser, const QString& url) {
  if (auto* view = qobject_cast<QWebEngineView*>(browser)) view->setUrl(QUrl(url));
}

}  // namespace korvani::platform
