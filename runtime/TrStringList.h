#pragma once

#include "TrString.h"

#include <cstdint>
#include <map>
#include <vector>

namespace Tr {

/** Orders strings by their bytes, taken as unsigned. */
struct TStringLess {
  bool operator()(const TString& a, const TString& b) const;
};

struct TStringListEntry {
  TString text; // shares the block of the string that was added
  std::int32_t value;
};

/** An ordered list of strings, each with an int32 value beside it. Callers read items
    directly, in the order of adding. */
class TStringList {
public:
  TStringList();
  virtual ~TStringList();

  /** Appends an entry that shares the string's block, with value 0. */
  void add(const TString& text);
  void clear();
  /** Makes room for 20 entries when the list holds fewer. */
  void reserveDefault();

  std::vector<TStringListEntry> items;
  /** Derived from the entries; every change of the entries empties it. */
  std::map<TString, TString, TStringLess> lookupIndex;
  TString separator;
};

/** Strings keyed by text, each with a 32-bit word beside it. */
class THashStringSet {
public:
  virtual ~THashStringSet();

  std::map<TString, std::uint32_t, TStringLess> members;
};

} // namespace Tr
