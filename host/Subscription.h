#pragma once
// A subscription to an Observers list: while it lives, its callback is called;
// its destructor (or Cancel) unsubscribes. It may outlive the list it belongs
// to, and then ends with nothing to do. Movable, not copyable.

#include <functional>

namespace sehost {

class Subscription {
 public:
  Subscription() = default;
  // `cancel` removes the callback from its list; it runs at most once.
  explicit Subscription(std::function<void()> cancel) : m_cancel(std::move(cancel)) {}
  ~Subscription() { Cancel(); }
  Subscription(Subscription&& other) noexcept : m_cancel(std::move(other.m_cancel)) { other.m_cancel = nullptr; }
  Subscription& operator=(Subscription&& other) noexcept;
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

  // Unsubscribes now; afterwards the callback is never called again.
  void Cancel();
  bool active() const { return static_cast<bool>(m_cancel); }

 private:
  std::function<void()> m_cancel;
};

}  // namespace sehost
