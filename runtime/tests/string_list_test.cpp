#include "TrStringList.h"

#include <gtest/gtest.h>

using Tr::TString;
using Tr::TStringList;

TEST(TStringList, StartsEmptyWithANewlineSeparator)
{
  const TStringList list;
  EXPECT_TRUE(list.items.empty());
  EXPECT_TRUE(list.lookupIndex.empty());
  EXPECT_STREQ(list.separator.text(), "\n");
  EXPECT_EQ(list.separator.getRep()->capacity, 1);
}

TEST(TStringList, EntriesShareTheAddedString)
{
  TStringList list;
  TString word("word");
  list.add(word);
  list.add(word);
  list.add(TString());
  ASSERT_EQ(list.items.size(), 3u);
  EXPECT_EQ(list.items[0].text.getRep(), word.getRep());
  EXPECT_EQ(list.items[1].text.getRep(), word.getRep());
  EXPECT_EQ(word.getRep()->refCount, 3);
  for (const Tr::TStringListEntry& entry : list.items) {
    EXPECT_EQ(entry.value, 0);
  }

  word += 's';
  EXPECT_STREQ(list.items[0].text.text(), "word");
  EXPECT_STREQ(word.text(), "words");
}

TEST(TStringList, ClearStartsAgainAtTheFirstEntry)
{
  TStringList list;
  list.clear();
  EXPECT_TRUE(list.items.empty());

  const TString first("first");
  list.add(first);
  list.add(TString("second"));
  list.clear();
  EXPECT_TRUE(list.items.empty());
  EXPECT_EQ(first.getRep()->refCount, 1);
  list.add(TString("again"));
  ASSERT_EQ(list.items.size(), 1u);
  EXPECT_STREQ(list.items[0].text.text(), "again");
}

TEST(TStringList, EveryChangeEmptiesTheLookupIndex)
{
  TStringList list;
  list.lookupIndex[TString("k")] = TString("v");
  list.add(TString("a"));
  EXPECT_TRUE(list.lookupIndex.empty());
  list.lookupIndex[TString("k")] = TString("v");
  list.clear();
  EXPECT_TRUE(list.lookupIndex.empty());
}

TEST(TStringList, ReserveDefaultMakesRoomForTwentyEntries)
{
  TStringList list;
  list.reserveDefault();
  list.add(TString("0"));
  const Tr::TStringListEntry* storage = list.items.data();
  for (int i = 1; i < 20; i++) {
    list.add(TString("x"));
  }
  EXPECT_EQ(list.items.data(), storage);
}

TEST(THashStringSet, DestroyingTheSetReleasesItsKeys)
{
  const TString key("key");
  {
    Tr::THashStringSet set;
    set.members[key] = 5;
    EXPECT_EQ(key.getRep()->refCount, 2);
  }
  EXPECT_EQ(key.getRep()->refCount, 1);
}
