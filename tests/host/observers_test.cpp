// Notifications that take no reference count: what a callback may do to its
// own subscription and to the list's owner while it runs (the sanitize preset
// catches any use of what is gone).

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Observers.h"

namespace {

using sehost::Observers;
using sehost::Subscription;

TEST(Observers, ACallbackMayEndItsSubscriptionAndDestroyTheOwnerWhileItRuns) {
  auto owner = std::make_unique<Observers<int>>();
  std::vector<std::string> seen;
  Subscription first, second, third;
  const std::string tag = "first";  // a capture that must outlive the running call
  first = owner->Subscribe([&, tag](int v) {
    first = Subscription();  // ends itself, then reads its own capture
    seen.push_back(tag + std::to_string(v));
  });
  second = owner->Subscribe([&](int v) {
    seen.push_back("second" + std::to_string(v));
    owner.reset();  // the list goes while it notifies
  });
  third = owner->Subscribe([&](int v) { seen.push_back("third" + std::to_string(v)); });
  owner->Notify(1);
  EXPECT_EQ(seen, (std::vector<std::string>{"first1", "second1", "third1"}));
  EXPECT_EQ(owner, nullptr);
  third.Cancel();  // after the owner: nothing to remove, nothing touched
}

TEST(Observers, AnEndedSubscriptionIsNotCalledAgainInTheSameOrLaterNotifications) {
  Observers<int> list;
  std::vector<int> seen;
  Subscription later;
  Subscription first = list.Subscribe([&](int v) {
    seen.push_back(v);
    later.Cancel();
  });
  later = list.Subscribe([&](int v) { seen.push_back(100 + v); });
  list.Notify(1);
  list.Notify(2);
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
  EXPECT_FALSE(list.empty());
  first.Cancel();
  EXPECT_TRUE(list.empty());
}

}  // namespace
