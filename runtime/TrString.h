#pragma once

#include <cstdint>

namespace juce {
class String;
}

namespace Tr {

class TStringList;

/** A side record of one text block that holds cached conversions of its text. The block owns
    it; every append marks both entries as out of date. */
struct TStringCache {
  struct Entry {
    void* buffer;        // owned, from the C heap
    std::uint32_t info;  // belongs to whoever fills the entry
    std::uint32_t valid; // 0 once the text has changed
  };
  Entry entries[2];

  /** Frees the first entry's buffer, then the second's, then the record itself. */
  void destroy();
};

/** The text block that strings share: header and characters in one block of the C heap. */
struct TStringRep {
  volatile long refCount; // changed by interlocked operations only
  TStringCache* cache;
  std::int32_t capacity; // characters, not counting the NUL
  char chars[1];         // capacity + 1 of them; the text ends at the first NUL

  /** A block of the larger of capacity and length characters holding the first length
      characters of text (none for a null text), with refCount 1 and no cache; null when the
      heap cannot give it. */
  static TStringRep* create(std::int32_t capacity, const char* text, std::int32_t length);
};

static_assert(sizeof(long) == 4, "refCount is a 32-bit count");

/** An 8-bit, NUL-terminated text in a shared, reference-counted block with copy-on-write.
    Copies share the block; a change first makes the block private to the string. Operations
    that need a block the heap cannot give throw std::bad_alloc and leave the string as it
    was. */
class TString {
public:
  TString();
  TString(const TString& other);
  /** The text up to its first NUL, but no more than maxLength characters, in a block of the
      larger of capacity and that length. */
  TString(const char* text, int maxLength = 2147483647, int capacity = -1);
  /** The bytes of the text's UTF-8 form, in a block exactly as long (library tr_juce). */
  explicit TString(const juce::String& text);
  ~TString();

  TString& operator=(const TString& other);
  TString& assign(const TString& other) { return *this = other; }

  const char* text() const { return rep->chars; }
  operator const char*() const { return rep->chars; }
  int length() const;

  bool equalsIgnoreCase(const TString& other) const;
  /** Reads a decimal int32 that starts at index start; false (result untouched) when there is
      none. */
  bool parseInt(int start, int& result) const;
  /** parseInt from index 0, or -1 when that fails. */
  int toInt() const;

  /** Afterwards this string alone owns a block of at least n characters. */
  void reserve(int n);
  void clear();
  TString& operator+=(char c);
  TString& operator+=(const TString& other);

  /** Replaces the list's entries with the words of this text: blanks and control characters
      separate words, double quotes group them. */
  void splitWords(TStringList& list) const;

  /** The block this string shares, for code that must see sharing and capacity. */
  const TStringRep* getRep() const { return rep; }

  /** For a process-wide string that is made later, by hand (emptyStringRep): no block. */
  struct Unmade {};
  constexpr explicit TString(Unmade) noexcept : rep(nullptr) {}

private:
  friend TString operator+(TString a, const char* b);
  friend void initEmptyStringRep();
  friend void releaseEmptyStringRep();

  struct Adopt {};
  TString(TStringRep* block, Adopt) noexcept : rep(block) {}

  TStringRep* rep;
};

/** -1, 0 or 1, comparing the texts with a to z taken as A to Z; bytes 0x80 to 0xFF sort below
    every ASCII character and a proper prefix sorts first. */
int compareIgnoreCase(const char* a, const char* b);

/** A new string of exactly the two texts; a null b counts as empty. */
TString operator+(TString a, const char* b);

/** The block that every default-constructed or emptied string shares. Its rep is null until
    initEmptyStringRep has run during static initialisation; strings made before then get an
    empty block of their own. */
extern TString emptyStringRep;

/** Makes emptyStringRep from "" and registers releaseEmptyStringRep with atexit; does nothing
    when it is made already. */
void initEmptyStringRep();

/** Gives up the process-wide reference to the empty block; later strings get blocks of their
    own. */
void releaseEmptyStringRep();

} // namespace Tr
