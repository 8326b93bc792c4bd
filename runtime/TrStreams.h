#pragma once

#include "TrString.h"

#include <cstdint>
#include <cstdio>

namespace Tr {

/** A source of bytes with a name. Counts are signed 32-bit byte counts. */
class BInputStream {
public:
  explicit BInputStream(const TString& streamName = TString()) : name(streamName) {}
  virtual ~BInputStream();
  BInputStream(const BInputStream&) = delete;
  BInputStream& operator=(const BInputStream&) = delete;

  /** Copies up to count bytes to destination; the number delivered, 0 at the end. */
  virtual std::int32_t read(void* destination, std::int32_t count) = 0;
  /** The number of bytes left, never negative. */
  virtual std::int32_t available() = 0;

  const TString& getName() const { return name; }

private:
  TString name;
};

/** A sink of bytes with a name. */
class BOutputStream {
public:
  explicit BOutputStream(const TString& streamName = TString()) : name(streamName) {}
  virtual ~BOutputStream();
  BOutputStream(const BOutputStream&) = delete;
  BOutputStream& operator=(const BOutputStream&) = delete;

  /** True when all count bytes were taken; a negative count is refused. */
  virtual bool write(const void* source, std::int32_t count) = 0;
  /** Prepares for count bytes in all; the base version does nothing. */
  virtual void reserve(std::int32_t count);

  const TString& getName() const { return name; }

private:
  TString name;
};

/** Reads forward through a block of memory. */
class BMemInputStream : public BInputStream {
public:
  /** With ownsData the stream deletes data (allocated as new unsigned char[]) when it goes. */
  BMemInputStream(const void* data, std::int32_t size, bool ownsData = false,
                  const TString& streamName = TString());
  ~BMemInputStream() override;

  std::int32_t read(void* destination, std::int32_t count) override;
  std::int32_t available() override;

  std::int32_t getPosition() const { return position; }
  std::int32_t getSize() const { return size; }

private:
  const unsigned char* data;
  std::int32_t position = 0;
  std::int32_t size;
  std::int32_t ownsData;
};

/** Collects bytes in a memory buffer that grows as needed: the first growth allocates exactly
    what is needed, later ones at least increment bytes more. A failed allocation is traced at
    the error level and refused; the bytes written so far stay. */
class BMemOutputStream : public BOutputStream {
public:
  explicit BMemOutputStream(std::int32_t growthIncrement = 1024,
                            const TString& streamName = TString());
  ~BMemOutputStream() override;

  bool write(const void* source, std::int32_t count) override;
  void reserve(std::int32_t count) override;
  /** True when the buffer holds needed bytes (or needed is 0 or less). */
  bool ensureCapacity(std::int32_t needed);

  /** The bytes written; null until the first growth. */
  const unsigned char* getData() const { return buffer; }
  std::int32_t getLength() const { return length; }
  std::int32_t getCapacity() const { return capacity; }
  std::int32_t getIncrement() const { return increment; }

private:
  unsigned char* buffer = nullptr; // owned
  std::int32_t length = 0;
  std::int32_t capacity = 0;
  std::int32_t increment;
};

/** Writes to a file that it creates (or empties) in binary mode and closes when it goes. */
class BFileOutputStream : public BOutputStream {
public:
  /** The stream's name is the path. isOpen() tells whether the file could be opened. */
  explicit BFileOutputStream(const TString& filePath);
  ~BFileOutputStream() override;

  /** One fwrite of the count bytes as a single item: false without a file, for a count of 0
      or less, and when the item is not written whole. */
  bool write(const void* source, std::int32_t count) override;

  bool isOpen() const { return file != nullptr; }
  const TString& getPath() const { return path; }

private:
  TString path;
  std::FILE* file; // owned
};

} // namespace Tr
