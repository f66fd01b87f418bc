// The last line of defence for event handlers: an exception that escapes a
// handler is shown to the user in a message box and the program goes on, as
// a failed action must not take the whole batch down with it.
#pragma once

#include <QString>

#include <exception>
#include <utility>

namespace quorvel {

// Shows AMessage in a warning box over the active window.
void ShowExceptionMessage(const QString& AMessage);

// Runs AHandler; an exception it throws goes to ShowExceptionMessage.
template <class F>
void RunGuarded(F&& AHandler) {
  try {
    std::forward<F>(AHandler)();
  } catch (const std::exception& e) {
    ShowExceptionMessage(QString::fromUtf8(e.what()));
  } catch (...) {
    ShowExceptionMessage(QStringLiteral("Unknown error"));
  }
}

// A handler for connect(): the same call, guarded.
template <class F>
auto Guarded(F AHandler) {
  return [h = std::move(AHandler)](auto&&... AArgs) { RunGuarded([&] { h(AArgs...); }); };
}

}  // namespace quorvel
