#include "TrObjects.h"

namespace Tr {

RefCounted::~RefCounted() = default;

AutoDeleteRegistry* autoDeleteRegistry = nullptr;

AutoDelete::~AutoDelete()
{
  if (autoDeleteRegistry == nullptr) {
    return;
  }
  AutoDelete* const self = this;
  const int index = indexInRegistry(self);
  if (index >= 0) {
    AutoDelete* const none = nullptr;
    autoDeleteRegistry->set(index, none);
  }
}

bool AutoDelete::anyRegistered()
{
  return autoDeleteRegistry != nullptr && autoDeleteRegistry->count > 0;
}

int AutoDelete::indexInRegistry(AutoDelete* const& object)
{
  const AutoDeleteRegistry& registry = *autoDeleteRegistry;
  for (int i = 0; i < registry.count; i++) {
    if (registry.entries[i] == object) {
      return i;
    }
  }
  return -1;
}

AutoDeleteRegistry::~AutoDeleteRegistry() = default;

void AutoDeleteRegistry::set(int index, AutoDelete* const& value)
{
  if (index >= 0 && index < count) {
    entries[index] = value;
  }
}

TPendingCall::Target::~Target() = default;

TPendingCall::TPendingCall(Target* callTarget, std::uint32_t first, std::uint32_t second)
    : argument1(first), argument2(second), target(callTarget)
{
}

TPendingCall::~TPendingCall() = default;

void TPendingCall::invokeTargetAndDelete()
{
  struct DeleteOnReturn {
    TPendingCall* call;
    ~DeleteOnReturn() { delete call; }
  } const self{this};
  if (target != nullptr) {
    target->invoke(argument1, argument2);
  }
}

std::int64_t incrementCounter64(std::int64_t& counter)
{
  counter = static_cast<std::int64_t>(static_cast<std::uint64_t>(counter) + 1);
  return counter;
}

std::int64_t decrementCounter64(std::int64_t& counter)
{
  counter = static_cast<std::int64_t>(static_cast<std::uint64_t>(counter) - 1);
  return counter;
}

} // namespace Tr
