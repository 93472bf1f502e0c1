// Inserting into a leaf recomputes only the prefixes next to the new entry; the page must come out
// exactly as a full recomputation would leave it, also for a leaf read from a file whose prefixes
// are shorter than they could be.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "engine/byte_order.h"
#include "engine/index_format.h"

namespace kavrin::engine {
namespace {

using Image = std::array<std::uint8_t, PageSize>;
constexpr std::int32_t End = IndexHeaderSize + 10 * PageSize;

// Inserts key into both pages at its place: one recomputes around it, the other everything.
void InsertBoth(TPage& around, TPage& full, const std::uint8_t* key, std::int32_t ref) {
  for (TPage* page : {&around, &full}) {
    page->SearchInsert(key);
    page->InsertEntry(key);
    page->SetCurrentRef(ref);
  }
  around.ComputeUsedAfterInsert();
  full.ComputeUsed();
}

void ExpectSameImage(const TPage& around, const TPage& full) {
  ASSERT_EQ(around.Used(), full.Used());
  for (std::uint16_t i = 1; i <= full.Count(); ++i) ASSERT_EQ(around.PrefixAt(i), full.PrefixAt(i)) << "entry " << i;
  if (full.Overfull()) return;
  Image a{};
  Image b{};
  around.Encode(a, "T.IDX");
  full.Encode(b, "T.IDX");
  EXPECT_EQ(a, b);
}

TEST(PagePrefixes, InsertsAnywhereMatchAFullRecomputation) {
  std::mt19937 random(77);
  for (int round = 0; round < 40; ++round) {
    TPage around(6, 0);
    TPage full(6, 0);
    for (TPage* page : {&around, &full}) page->SetType(RootLeafPage);
    // Few letters, so neighbours share long prefixes, and equal keys now and then.
    for (int n = 1; n <= 150 && !full.Overfull(); ++n) {
      std::uint8_t key[6];
      for (auto& byte : key) byte = static_cast<std::uint8_t>('A' + random() % (round % 2 ? 2 : 5));
      InsertBoth(around, full, key, n);
      ExpectSameImage(around, full);
      ASSERT_FALSE(::testing::Test::HasFailure()) << "round " << round << ", insert " << n;
    }
  }
}

TEST(PagePrefixes, AShortPrefixFromTheFileIsRecomputedAsBefore) {
  // ABCD, then ABCF stored with a one-byte prefix although three bytes are shared.
  Image image{};
  image[0] = RootLeafPage;
  StoreU16(&image[1], 2);
  const std::vector<std::uint8_t> entries = {0, 'A', 'B', 'C', 'D', 7, 0, 0, 0,  // full key
                                             1, 'B', 'C', 'F', 8,   0, 0, 0};    // shares only "A"
  StoreU16(&image[11], static_cast<std::uint16_t>(entries.size()));
  std::memcpy(&image[13], entries.data(), entries.size());
  TPage around(4, 0);
  TPage full(4, 0);
  around.Decode(image, End, "T.IDX");
  full.Decode(image, End, "T.IDX");
  const std::uint8_t key[4] = {'Z', 'Z', 'Z', 'Z'};
  InsertBoth(around, full, key, 9);
  ExpectSameImage(around, full);
  EXPECT_EQ(around.PrefixAt(2), 3);
}

}  // namespace
}  // namespace kavrin::engine
