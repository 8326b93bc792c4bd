#pragma once

#include <cstdint>

namespace Tr {

/** A polymorphic base; it keeps no counter of its own. */
class RefCounted {
public:
  RefCounted() = default;
  virtual ~RefCounted();
};

/** A polymorphic base whose objects may be listed in the process-wide auto-delete registry;
    destroying one empties its first entry there. */
class AutoDelete {
public:
  virtual ~AutoDelete();

  /** True when a registry is installed and its count is above 0 (null entries count too). */
  static bool anyRegistered();
  /** The first index whose entry is object, or -1. Only while a registry is installed. */
  static int indexInRegistry(AutoDelete* const& object);
};

/** The registry of AutoDelete objects. Its owner provides the entries array, installs the
    registry in autoDeleteRegistry and serialises installing it with the destruction of
    AutoDelete objects on other threads. */
class AutoDeleteRegistry {
public:
  virtual ~AutoDeleteRegistry();
  /** Stores value at index; an index outside 0 to count - 1 is ignored. */
  virtual void set(int index, AutoDelete* const& value);

  AutoDelete** entries = nullptr;
  std::int32_t count = 0; // entries in use, null ones included
};

/** Null until an owner installs one. */
extern AutoDeleteRegistry* autoDeleteRegistry;

/** A call of target with two words that deletes itself once made. */
class TPendingCall {
public:
  class Target {
  public:
    virtual ~Target();
    virtual void invoke(std::uint32_t argument1, std::uint32_t argument2) = 0;
  };

  TPendingCall(Target* target, std::uint32_t argument1, std::uint32_t argument2);

  /** Calls the target, if any, with argument1 and argument2, then deletes this object (also
      when the target throws). The object must not be touched afterwards. */
  void invokeTargetAndDelete();

  std::uint32_t reserved1 = 0;
  std::uint32_t reserved2 = 0;
  std::uint32_t argument1;
  std::uint32_t argument2;
  Target* target;

protected:
  virtual ~TPendingCall();
};

/** Plain read-modify-write, not interlocked: a shared counter needs its owner's guard. Both
    return the new value. */
std::int64_t incrementCounter64(std::int64_t& counter);
std::int64_t decrementCounter64(std::int64_t& counter);

} // namespace Tr
