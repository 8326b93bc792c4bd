#include "TrException.h"

#include <gtest/gtest.h>

#include <exception>
#include <memory>

using Tr::TString;

TEST(TrException, SharesTheTextOfItsMessage)
{
  const TString message("boom");
  const Tr::Exception e(message);
  EXPECT_EQ(e.what(), message.text());
  EXPECT_EQ(message.getRep()->refCount, 2);
}

TEST(TrException, AnEmptyMessageGivesAnEmptyText)
{
  const Tr::Exception e{TString()};
  ASSERT_NE(e.what(), nullptr);
  EXPECT_STREQ(e.what(), "");
}

TEST(TrException, CaughtAsStdExceptionGivesTheSameText)
{
  const char* asTr = nullptr;
  try {
    throw Tr::Exception(TString("Cannot load picture ") + "mixer.png");
  } catch (const Tr::Exception& e) {
    asTr = e.what();
    try {
      throw;
    } catch (const std::exception& same) {
      EXPECT_EQ(same.what(), asTr);
    }
  }
  ASSERT_NE(asTr, nullptr);

  try {
    throw Tr::Exception(TString("x"));
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "x");
  }
}

TEST(TrException, CopiesShareTheTextUntilTheLastIsGone)
{
  auto original = std::make_unique<Tr::Exception>(TString("shared text"));
  const char* text = original->what();
  const Tr::Exception copy(*original);
  EXPECT_EQ(copy.what(), text);
  original.reset();
  EXPECT_STREQ(copy.what(), "shared text");
}
