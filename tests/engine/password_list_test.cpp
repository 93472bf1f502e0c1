#include "engine/password_list.h"

#include <gtest/gtest.h>

namespace kavrin::engine {
namespace {

TEST(PasswordList, DuplicatesAreKeptAndMatchingIsExact) {
  TPasswordList list;
  list.Add("Secret");
  list.Add("Secret");
  list.Remove("Secret");
  EXPECT_TRUE(list.Contains("Secret"));
  EXPECT_FALSE(list.Contains("secret"));
  EXPECT_FALSE(list.Contains("SECRET"));
  EXPECT_FALSE(list.Contains("Secret "));
  list.Remove("secret");  // no exact match: nothing removed
  EXPECT_TRUE(list.Contains("Secret"));
  list.Remove("Secret");
  EXPECT_FALSE(list.Contains("Secret"));
  list.Add("a");
  list.Add("b");
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
}

TEST(PasswordList, TheProcessWideListIsCreatedByItsUnit) {
  DatfileInitialization();
  TablePasswords().Add("x");
  EXPECT_TRUE(TablePasswords().Contains("x"));
  DatfileInitialization();  // a fresh list
  EXPECT_FALSE(TablePasswords().Contains("x"));
}

}  // namespace
}  // namespace kavrin::engine
