// The addresses the program reaches out to: the error report's mail relay,
// account and recipient, and the web pages of the Help menu and the share
// buttons. None of them is built in: they come from "endpoints.ini" beside
// the program, and the user's settings (group "Endpoints") override it. An
// empty relay sends every report straight to the mail-program fallback; an
// empty address disables its menu item.
//
//   [Report]  Relay, Port (25), Account, Password, Support
//   [Links]   HomePage, OnlineGuide, Contact, FacebookShare, TwitterShare
#pragma once

#include <QString>
#include <QUrl>

namespace quorvel {

struct TEndpoints {
  QString Relay;
  int Port = 25;
  QString Account;
  QString Password;
  QString SupportAddress;
  QString HomePage;
  QString OnlineGuide;
  QString ContactPage;
  QString FacebookShare;  // the share page; the home page goes into its "u" key
  QString TwitterShare;   // the share page; "original_referer" and "text" are added
};

TEndpoints LoadEndpoints(const QString& AProgramFolder);

// The share addresses with their query; empty when a part is not configured.
QUrl FacebookShareUrl(const TEndpoints& AEndpoints);
QUrl TwitterShareUrl(const TEndpoints& AEndpoints, const QString& AProductName);

}  // namespace quorvel
