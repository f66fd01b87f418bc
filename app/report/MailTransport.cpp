#include "app/report/MailTransport.h"

#include <QDateTime>
#include <QLocale>

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace quorvel {

namespace {

struct TCurlDeleter {
  void operator()(CURL* ACurl) const { curl_easy_cleanup(ACurl); }
};
struct TSlistDeleter {
  void operator()(curl_slist* AList) const { curl_slist_free_all(AList); }
};

// The upload's source: the composed message and how much of it was sent.
struct TUpload {
  QByteArray Data;
  qsizetype Sent = 0;
};

size_t ReadUpload(char* ABuffer, size_t ASize, size_t ACount, void* AUser) {
  auto* up = static_cast<TUpload*>(AUser);
  const size_t room = ASize * ACount;
  const size_t left = static_cast<size_t>(up->Data.size() - up->Sent);
  const size_t n = std::min(room, left);
  std::memcpy(ABuffer, up->Data.constData() + up->Sent, n);
  up->Sent += static_cast<qsizetype>(n);
  return n;
}

QByteArray Angle(const QString& AAddress) { return "<" + AAddress.trimmed().toUtf8() + ">"; }

// Header text: ASCII as it stands, anything else as an RFC 2047 word.
QByteArray HeaderText(const QString& AText) {
  const QByteArray utf8 = AText.toUtf8();
  const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
  if (ascii) return utf8;
  return "=?UTF-8?B?" + utf8.toBase64() + "?=";
}

}  // namespace

QByteArray ComposeMessage(const TMailMessage& M) {
  QByteArray out;
  const QString date = QLocale::c().toString(QDateTime::currentDateTime(), "ddd, dd MMM yyyy hh:mm:ss t");
  out += "Date: " + date.toUtf8() + "\r\n";
  out += "From: " + Angle(M.From) + "\r\n";
  QByteArrayList to;
  for (const QString& r : M.Recipients) to << Angle(r);
  out += "To: " + to.join(", ") + "\r\n";
  out += "Subject: " + HeaderText(M.Subject) + "\r\n";
  out += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n";
  for (const QString& line : M.BodyLines) {
    // A line break inside a line would end the body line early on the wire.
    QString clean = line;
    clean.replace(u'\r', u' ').replace(u'\n', u' ');
    out += clean.toUtf8() + "\r\n";
  }
  return out;
}

bool SendMail(const TMailServer& S, const TMailMessage& M, QString& AError) {
  AError.clear();
  std::unique_ptr<CURL, TCurlDeleter> curl(curl_easy_init());
  if (!curl) {
    AError = QStringLiteral("Cannot start the mail transport");
    return false;
  }
  std::unique_ptr<curl_slist, TSlistDeleter> recipients;
  for (const QString& r : M.Recipients) {
    curl_slist* next = curl_slist_append(recipients.get(), Angle(r).constData());
    if (!next) {
      AError = QStringLiteral("Out of memory");
      return false;
    }
    (void)recipients.release();
    recipients.reset(next);
  }
  const QByteArray url = "smtp://" + S.Host.toUtf8() + ":" + QByteArray::number(S.Port);
  const QByteArray from = Angle(M.From);
  const QByteArray user = S.User.toUtf8();
  const QByteArray password = S.Password.toUtf8();
  TUpload upload{ComposeMessage(M), 0};
  char errorBuffer[CURL_ERROR_SIZE] = {};

  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.constData());
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
  if (!user.isEmpty()) {
    curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
  }
  curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.constData());
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients.get());
  curl_easy_setopt(c, CURLOPT_READFUNCTION, &ReadUpload);
  curl_easy_setopt(c, CURLOPT_READDATA, &upload);
  curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  // The report blocks the window while it is sent: never for long.
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 15L);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 60L);
  const CURLcode rc = curl_easy_perform(c);
  if (rc != CURLE_OK) {
    AError = QStringLiteral("%1 (%2)").arg(QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc)))
                 .arg(static_cast<int>(rc));
    return false;
  }
  return true;
}

}  // namespace quorvel
