#include "TrStreams.h"

#include "TrCString.h"
#include "TrTrace.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace Tr {

BInputStream::~BInputStream() = default;

BOutputStream::~BOutputStream() = default;

void BOutputStream::reserve(std::int32_t)
{
}

BMemInputStream::BMemInputStream(const void* bytes, std::int32_t byteCount, bool owns,
                                 const TString& streamName)
    : BInputStream(streamName), data(static_cast<const unsigned char*>(bytes)), size(byteCount),
      ownsData(owns ? 1 : 0)
{
}

BMemInputStream::~BMemInputStream()
{
  if (ownsData != 0 && data != nullptr) {
    delete[] data;
  }
}

std::int32_t BMemInputStream::available()
{
  const std::int32_t left = size - position;
  return left < 0 ? 0 : left;
}

std::int32_t BMemInputStream::read(void* destination, std::int32_t count)
{
  const std::int32_t left = size - position;
  const std::int32_t n = count < left ? count : left;
  if (n <= 0) {
    return 0;
  }
  copyBytes(destination, data + position, n);
  position += n;
  return n;
}

BMemOutputStream::BMemOutputStream(std::int32_t growthIncrement, const TString& streamName)
    : BOutputStream(streamName), increment(growthIncrement)
{
}

BMemOutputStream::~BMemOutputStream()
{
  delete[] buffer;
}

bool BMemOutputStream::write(const void* source, std::int32_t count)
{
  if (count < 0) {
    return false;
  }
  // A total past the largest count cannot be held (and must not wrap into a small one).
  const std::int64_t total = static_cast<std::int64_t>(length) + count;
  // Bytes of the stream itself (a stream appended to itself) move with the buffer when it
  // grows: they are found again by their offset.
  const auto from = reinterpret_cast<std::uintptr_t>(source);
  const auto base = reinterpret_cast<std::uintptr_t>(buffer);
  const bool ownBytes = buffer != nullptr && from >= base && from < base + capacity;
  const std::uintptr_t offset = from - base;
  if (total > INT32_MAX || !ensureCapacity(static_cast<std::int32_t>(total))) {
    return false;
  }
  if (ownBytes) {
    source = buffer + offset;
  }
  if (count > 0) {
    std::memmove(buffer + length, source, static_cast<size_t>(count));
  }
  length = static_cast<std::int32_t>(total);
  return true;
}

void BMemOutputStream::reserve(std::int32_t count)
{
  ensureCapacity(count);
}

bool BMemOutputStream::ensureCapacity(std::int32_t needed)
{
  if (needed <= 0) {
    return true;
  }
  if (buffer != nullptr && needed <= capacity) {
    return true;
  }
  std::int32_t newCapacity = needed;
  if (buffer != nullptr) {
    // Computed wide: a step that would pass the largest count gives way to the exact need.
    const std::int64_t stepped = static_cast<std::int64_t>(capacity) + increment;
    if (stepped > needed && stepped <= INT32_MAX) {
      newCapacity = static_cast<std::int32_t>(stepped);
    }
  }
  auto* const grown = new (std::nothrow) unsigned char[static_cast<std::uint32_t>(newCapacity)];
  if (grown == nullptr) {
    trace(traceErrorLevel, "Error allocating memory (%d bytes)", newCapacity);
    return false;
  }
  if (buffer != nullptr) {
    copyBytes(grown, buffer, length);
    delete[] buffer;
  }
  buffer = grown;
  capacity = newCapacity;
  return true;
}

BFileOutputStream::BFileOutputStream(const TString& filePath)
    : BOutputStream(filePath), path(filePath), file(std::fopen(filePath.text(), "wb"))
{
}

BFileOutputStream::~BFileOutputStream()
{
  if (file != nullptr) {
    std::fclose(file);
  }
}

bool BFileOutputStream::write(const void* source, std::int32_t count)
{
  if (file == nullptr || count <= 0) {
    return false;
  }
  return std::fwrite(source, static_cast<size_t>(count), 1, file) == 1;
}

} // namespace Tr
