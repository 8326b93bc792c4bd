#include "TrString.h"

#include "TrCString.h"
#include "TrStringList.h"

#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace Tr {

namespace {

TStringRep* makeRep(std::int32_t capacity, const char* text, std::int32_t length)
{
  TStringRep* block = TStringRep::create(capacity, text, length);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

TStringRep* emptyRep()
{
  return makeRep(0, nullptr, 0);
}

void share(TStringRep* block)
{
  InterlockedIncrement(&block->refCount);
}

void release(TStringRep* block)
{
  if (block != nullptr && InterlockedDecrement(&block->refCount) == 0) {
    if (block->cache != nullptr) {
      block->cache->destroy();
      block->cache = nullptr;
    }
    std::free(block);
  }
}

// An aligned 32-bit read is atomic on x86; volatile keeps the compiler from caching it.
long countOf(const TStringRep* block)
{
  return block->refCount;
}

void markChanged(TStringRep* block)
{
  if (block->cache != nullptr) {
    block->cache->entries[0].valid = 0;
    block->cache->entries[1].valid = 0;
  }
}

} // namespace

void TStringCache::destroy()
{
  std::free(entries[0].buffer);
  std::free(entries[1].buffer);
  std::free(this);
}

TStringRep* TStringRep::create(std::int32_t capacity, const char* text, std::int32_t length)
{
  if (length < 0) {
    length = 0;
  }
  if (capacity < length) {
    capacity = length;
  }
  auto* block = static_cast<TStringRep*>(
      std::malloc(offsetof(TStringRep, chars) + static_cast<size_t>(capacity) + 1));
  if (block == nullptr) {
    return nullptr;
  }
  block->refCount = 1;
  block->cache = nullptr;
  block->capacity = capacity;
  if (text != nullptr && length > 0) {
    std::memcpy(block->chars, text, static_cast<size_t>(length));
  } else {
    length = 0;
  }
  block->chars[length] = 0;
  return block;
}

// Constant-initialised, so its rep is null before any dynamic initialiser runs. Its
// destructor runs after releaseEmptyStringRep (registered later, so called earlier) and then
// finds no block.
TString emptyStringRep{TString::Unmade{}};

void initEmptyStringRep()
{
  if (emptyStringRep.rep != nullptr) {
    return;
  }
  emptyStringRep.rep = makeRep(0, "", 0);
  std::atexit(releaseEmptyStringRep);
}

void releaseEmptyStringRep()
{
  TStringRep* block = emptyStringRep.rep;
  emptyStringRep.rep = nullptr;
  release(block);
}

namespace {
// Strings in globals of other units that are made before this runs get blocks of their own.
struct EmptyStringRepInitialiser {
  EmptyStringRepInitialiser() { initEmptyStringRep(); }
} emptyStringRepInitialiser;
} // namespace

TString::TString() : rep(emptyStringRep.rep)
{
  if (rep != nullptr) {
    share(rep);
  } else {
    rep = emptyRep();
  }
}

TString::TString(const TString& other) : rep(other.rep)
{
  if (rep != nullptr) {
    share(rep);
  } else {
    rep = emptyRep();
  }
}

TString::TString(const char* text, int maxLength, int capacity)
    : rep(makeRep(capacity, text, maxLength > 0 ? lengthBounded(text, maxLength) : 0))
{
}

TString::~TString()
{
  release(rep);
}

TString& TString::operator=(const TString& other)
{
  if (other.rep == rep) {
    return *this;
  }
  TStringRep* block = other.rep;
  if (block != nullptr) {
    share(block);
  } else {
    block = emptyRep();
  }
  release(rep);
  rep = block;
  return *this;
}

int TString::length() const
{
  return Tr::length(rep->chars);
}

bool TString::equalsIgnoreCase(const TString& other) const
{
  return compareIgnoreCase(rep->chars, other.rep->chars) == 0;
}

bool TString::parseInt(int start, int& result) const
{
  if (start < 0 || (start > 0 && start >= length())) {
    return false;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(rep->chars) + start;
  if (*p == 0) {
    return false;
  }
  while (*p >= 0x01 && *p <= 0x20) {
    p++;
  }
  const bool negative = *p == '-';
  if (negative) {
    p++;
  }
  std::uint32_t value = 0;
  for (; *p > 0x20; p++) {
    if (*p < '0' || *p > '9') {
      return false;
    }
    value = value * 10 + (*p - '0');
  }
  result = static_cast<std::int32_t>(negative ? 0u - value : value);
  return true;
}

int TString::toInt() const
{
  int value = 0;
  return parseInt(0, value) ? value : -1;
}

void TString::reserve(int n)
{
  if (rep->capacity >= n && countOf(rep) <= 1) {
    return;
  }
  TStringRep* block = makeRep(n, rep->chars, rep->capacity);
  release(rep);
  rep = block;
}

void TString::clear()
{
  if (countOf(rep) == 1) {
    rep->chars[0] = 0;
  } else {
    *this = emptyStringRep;
  }
}

TString& TString::operator+=(char c)
{
  const int n = length();
  reserve(n + 1);
  rep->chars[n] = c;
  rep->chars[n + 1] = 0;
  markChanged(rep);
  return *this;
}

TString& TString::operator+=(const TString& other)
{
  const int la = length();
  const int lb = other.length();
  if (lb == 0) {
    return *this;
  }
  reserve(la + lb);
  // other may be this string: read its block only now, and let the copy overlap.
  std::memmove(rep->chars + la, other.rep->chars, static_cast<size_t>(lb) + 1);
  markChanged(rep);
  return *this;
}

TString operator+(TString a, const char* b)
{
  const int la = a.length();
  const int lb = Tr::length(b);
  TString result(makeRep(la + lb, a.rep->chars, la), TString::Adopt{});
  copyBytes(result.rep->chars + la, b, lb);
  result.rep->chars[la + lb] = 0;
  return result;
}

void TString::splitWords(TStringList& list) const
{
  // Keeps the text alive should this string be one of the list's own entries.
  const TString source(*this);
  TString word;
  list.clear();
  list.reserveDefault();
  const int n = source.length();
  bool quoted = false;
  for (int i = 0; i < n; i++) {
    const auto c = static_cast<unsigned char>(source.rep->chars[i]);
    if (c <= 0x20 && !quoted) {
      if (word.rep->chars[0] != 0) {
        list.add(word);
        word.clear();
        word.reserve(20);
      }
    } else if (c == '"') {
      quoted = !quoted;
    } else {
      word += static_cast<char>(c);
    }
  }
  if (word.rep->chars[0] != 0) {
    list.add(word);
  }
}

int compareIgnoreCase(const char* a, const char* b)
{
  for (std::int32_t i = 0; i < 2147483647; i++) {
    if (a[i] == 0 || b[i] == 0) {
      if (a[i] == b[i]) {
        return 0;
      }
      return a[i] == 0 ? -1 : 1;
    }
    const auto ua = static_cast<signed char>(toUpper(a[i]));
    const auto ub = static_cast<signed char>(toUpper(b[i]));
    if (ua != ub) {
      return ua > ub ? 1 : -1;
    }
  }
  return 0;
}

} // namespace Tr
