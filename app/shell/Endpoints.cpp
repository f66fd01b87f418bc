#include "app/shell/Endpoints.h"

#include <QDir>
#include <QSettings>
#include <QUrlQuery>

#include "app/shell/Settings.h"

namespace quorvel {

namespace {

void ReadInto(QSettings& AStore, const QString& APrefix, TEndpoints& E) {
  auto text = [&](const char* AKey, QString& AField) {
    const QString key = APrefix + QString::fromLatin1(AKey);
    if (AStore.contains(key)) AField = AStore.value(key).toString().trimmed();
  };
  text("Report/Relay", E.Relay);
  text("Report/Account", E.Account);
  text("Report/Password", E.Password);
  text("Report/Support", E.SupportAddress);
  text("Links/HomePage", E.HomePage);
  text("Links/OnlineGuide", E.OnlineGuide);
  text("Links/Contact", E.ContactPage);
  text("Links/FacebookShare", E.FacebookShare);
  text("Links/TwitterShare", E.TwitterShare);
  bool ok = false;
  const int port = AStore.value(APrefix + "Report/Port").toInt(&ok);
  if (ok && port > 0 && port < 65536) E.Port = port;
}

}  // namespace

TEndpoints LoadEndpoints(const QString& AProgramFolder) {
  TEndpoints e;
  QSettings beside(QDir(AProgramFolder).filePath("endpoints.ini"), QSettings::IniFormat);
  ReadInto(beside, QString(), e);
  ReadInto(*OpenSettings(), QStringLiteral("Endpoints/"), e);
  return e;
}

QUrl FacebookShareUrl(const TEndpoints& E) {
  if (E.FacebookShare.isEmpty() || E.HomePage.isEmpty()) return {};
  QUrl url(E.FacebookShare);
  QUrlQuery q;
  q.addQueryItem("u", QString::fromLatin1(QUrl::toPercentEncoding(E.HomePage)));
  url.setQuery(q);
  return url;
}

QUrl TwitterShareUrl(const TEndpoints& E, const QString& AProductName) {
  if (E.TwitterShare.isEmpty() || E.HomePage.isEmpty()) return {};
  QUrl url(E.TwitterShare);
  QUrlQuery q;
  q.addQueryItem("original_referer", QString::fromLatin1(QUrl::toPercentEncoding(E.HomePage)));
  QString text = AProductName;
  text.replace(u' ', u'+');
  q.addQueryItem("text", text);
  url.setQuery(q);
  return url;
}

}  // namespace quorvel
