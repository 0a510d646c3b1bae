#include "Subscription.h"

namespace sehost {

Subscription& Subscription::operator=(Subscription&& other) noexcept {
  if (this != &other) {
    Cancel();
    m_cancel = std::move(other.m_cancel);
    other.m_cancel = nullptr;
  }
  return *this;
}

void Subscription::Cancel() {
  if (!m_cancel) return;
  const std::function<void()> cancel = std::move(m_cancel);
  m_cancel = nullptr;
  cancel();
}

}  // namespace sehost
