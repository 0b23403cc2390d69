#pragma once

// Signals connected to the windows' handlers through the application-wide
// error guard (Platform.h), so that no exception crosses Qt's event loop.

#include <type_traits>
#include <utility>

#include <QObject>

#include "Platform.h"

// Runs a handler through the application-wide error guard, with the
// signal's arguments where it takes them.
template <typename Handler, typename... Args>
void callGuarded(const Handler &handler, Args &&...args) {
  guard([&] {
    if constexpr (std::is_invocable_v<const Handler &, Args...>)
      handler(std::forward<Args>(args)...);
    else
      handler();
  });
}

// Connects a signal to a handler through the application-wide error guard.
template <typename Sender, typename Signal, typename Handler>
void on(Sender *sender, Signal signal, QObject *form, Handler handler) {
  QObject::connect(sender, signal, form, [=](auto &&...args) { callGuarded(handler, args...); });
}
