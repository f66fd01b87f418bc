// Sending one plain-text mail over SMTP (libcurl): plain connection to the
// relay, STARTTLS when the relay offers it, login when a user is given.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace quorvel {

struct TMailServer {
  QString Host;
  int Port = 25;
  QString User;
  QString Password;
};

struct TMailMessage {
  QString From;
  QStringList Recipients;
  QString Subject;
  QStringList BodyLines;
};

// The message as it goes over the wire: headers, a blank line, the body
// lines, each ended with CR LF. UTF-8 text.
QByteArray ComposeMessage(const TMailMessage& AMessage);

// Connects, sends and disconnects. False with the transport's text in
// AError on any failure.
bool SendMail(const TMailServer& AServer, const TMailMessage& AMessage, QString& AError);

}  // namespace quorvel
