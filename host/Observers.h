#pragma once
// Any number of callbacks for one kind of notification, called in the order
// they subscribed. Subscribe answers a Subscription that unsubscribes when it
// ends, so no callback outlives what it captured.
//
// A callback may subscribe or unsubscribe others, or itself, and may cause
// nested notifications: one that subscribes during a notification is first
// called at the next one; one that unsubscribes is not called again, even
// later in the same notification. Notifying allocates nothing.

#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "Subscription.h"

namespace sehost {

template <class... Args>
class Observers {
 public:
  using Callback = std::function<void(Args...)>;

  Observers() : m_state(std::make_shared<State>()) {}
  // Destroyed by one of its own callbacks: the state lives on until that
  // notification ends (Notify lets it go).
  ~Observers() {
    if (m_state->notifying > 0) m_state->self = m_state;
  }
  Observers(const Observers&) = delete;
  Observers& operator=(const Observers&) = delete;

  [[nodiscard]] Subscription Subscribe(Callback callback) {
    const uint64_t id = ++m_state->last_id;
    m_state->entries.push_back({id, std::make_shared<Callback>(std::move(callback))});
    std::weak_ptr<State> state = m_state;
    return Subscription([state, id] {
      if (const std::shared_ptr<State> alive = state.lock()) alive->Remove(id);
    });
  }

  // Takes no reference count (no atomic operation): a callback that
  // unsubscribes during a notification is kept alive until it ends, and so is
  // the state when a callback destroys the owner.
  void Notify(Args... args) const {
    if (!m_state->entries.empty()) NotifyAll(args...);  // else no one to tell, nothing to tidy
  }

  bool empty() const {
    return std::none_of(m_state->entries.begin(), m_state->entries.end(),
                        [](const Entry& e) { return static_cast<bool>(e.callback); });
  }

 private:
  struct State;
  [[gnu::noinline]] void NotifyAll(Args... args) const {
    State& state = *m_state;
    ++state.notifying;
    const size_t count = state.entries.size();
    for (size_t i = 0; i < count && i < state.entries.size(); ++i) {
      if (Callback* callback = state.entries[i].callback.get()) (*callback)(args...);
    }
    if (--state.notifying > 0) return;
    // Only a notification during which something unsubscribed, or the owner
    // went, has anything to tidy: the usual one ends here.
    if (state.removed || !state.retired.empty() || state.self) Tidy(state);
  }
  static void Tidy(State& state) {
    state.Compact();
    if (state.self) std::shared_ptr<State>(std::move(state.self)).reset();  // the owner is gone: last use of `state`
  }

  struct Entry {
    uint64_t id;
    std::shared_ptr<Callback> callback;  // null once unsubscribed
  };
  struct State {
    std::vector<Entry> entries;
    uint64_t last_id = 0;
    int notifying = 0;
    bool removed = false;
    std::vector<std::shared_ptr<Callback>> retired;  // unsubscribed while a notification runs
    std::shared_ptr<State> self;  // set when the owner went during a notification
    void Remove(uint64_t id) {
      for (Entry& e : entries) {
        if (e.id != id || !e.callback) continue;
        if (notifying > 0) retired.push_back(std::move(e.callback));  // it may be the one running
        e.callback = nullptr;
      }
      removed = true;
      if (notifying == 0) Compact();
    }
    // Entries leave the list only between notifications, so indices hold while one runs.
    void Compact() {
      retired.clear();
      if (!removed) return;
      entries.erase(std::remove_if(entries.begin(), entries.end(), [](const Entry& e) { return !e.callback; }),
                    entries.end());
      removed = false;
    }
  };
  std::shared_ptr<State> m_state;
};

}  // namespace sehost
