#pragma once
// The embedded browser and the jar of web_request kept as one cookie store.
//
// The tool never copies a log-in cookie itself: the user logs into the back
// end inside the browser, and from then on the tool's own requests must run
// in that session. Chromium keeps its cookies to itself, so the bridge mirrors
// them: every cookie the browser's store reports (HttpOnly ones included) is
// put into the jar as soon as the store reports it, and every cookie an answer
// to web_request sets is pushed into the browser while the browser exists.
#include <QObject>
#include <QString>
#include <QUrl>
#include <deque>
#include <memory>
#include <string>

class QNetworkCookie;
class QWebEngineCookieStore;
class QWidget;

namespace korvani::platform {

struct Cookie;

class BrowserCookieBridge : public QObject {
  Q_OBJECT
 public:
  // `store` must outlive the bridge; make the bridge a child of the profile
  // or delete it first.
  explicit BrowserCookieBridge(QWebEngineCookieStore* store, QObject* parent = nullptr);
  ~BrowserCookieBridge() override;

  // Conversions between the two cookie kinds, and the address a jar cookie
  // is set for in the browser.
  static Cookie to_jar_cookie(const QNetworkCookie& cookie);
  static QNetworkCookie to_browser_cookie(const Cookie& cookie);
  static QUrl origin_of(const Cookie& cookie);

 private:
  void browser_added(const QNetworkCookie& cookie);
  void browser_removed(const QNetworkCookie& cookie);
  void jar_set(const Cookie& cookie);

  // The store reports back every cookie the bridge sets in it, and the
  // cookie it replaced as removed, some time later. By then the jar may
  // hold a newer value (the next answer to a request, the next log-in):
  // such a report must not take it out or put the old one back. Cookies
  // set and not yet reported back, as keys; the oldest go first.
  static std::string echo_key(const Cookie& cookie);
  std::deque<std::string> pushed_;

  struct Watch;
  QWebEngineCookieStore* store_;
  std::shared_ptr<Watch> watch_;
};

// The embedded browser: a web view on an off-the-record profile of its own,
// its cookies bridged with the jar. The profile, the page and the bridge go
// with the view, in the order the engine needs.
QWidget* create_bridged_browser(QWidget* parent);
void browser_set_url(QWidget* browser, const QString& url);

}  // namespace korvani::platform
