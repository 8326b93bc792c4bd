#include "TrStringList.h"

#include "TrCString.h"

namespace Tr {

bool TStringLess::operator()(const TString& a, const TString& b) const
{
  return compare(a.text(), b.text()) < 0;
}

TStringList::TStringList() : separator("\n")
{
}

TStringList::~TStringList() = default;

void TStringList::add(const TString& text)
{
  items.push_back(TStringListEntry{text, 0});
  lookupIndex.clear();
}

void TStringList::clear()
{
  items.clear();
  lookupIndex.clear();
}

void TStringList::reserveDefault()
{
  if (items.size() < 20) {
    items.reserve(20);
  }
}

THashStringSet::~THashStringSet() = default;

} // namespace Tr
