// Strings made by a static initialiser that runs before the library's own: the shared empty
// block does not exist yet, so each gets an empty block of its own.
#include "TrString.h"

#include <gtest/gtest.h>

using Tr::TString;

namespace {

struct EarlyStrings {
  EarlyStrings()
      : emptyBlockWasMissing(Tr::emptyStringRep.getRep() == nullptr), copied(Tr::emptyStringRep)
  {
    assigned = Tr::emptyStringRep;
    cleared = TString("x");
    const TString sharer(cleared);
    cleared.clear();
  }

  bool emptyBlockWasMissing;
  TString made;
  TString copied;
  TString assigned{"x"};
  TString cleared;
};

EarlyStrings early __attribute__((init_priority(101)));

} // namespace

TEST(TStringBeforeStaticInitialisation, EachEmptyStringGetsABlockOfItsOwn)
{
  ASSERT_TRUE(early.emptyBlockWasMissing);
  const TString* strings[] = {&early.made, &early.copied, &early.assigned, &early.cleared};
  for (const TString* s : strings) {
    ASSERT_NE(s->getRep(), nullptr);
    EXPECT_NE(s->getRep(), Tr::emptyStringRep.getRep());
    EXPECT_EQ(s->getRep()->refCount, 1);
    EXPECT_EQ(s->getRep()->capacity, 0);
    EXPECT_STREQ(s->text(), "");
  }
  EXPECT_NE(early.made.getRep(), early.copied.getRep());
}
