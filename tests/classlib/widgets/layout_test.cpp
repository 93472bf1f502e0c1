// The toolkit-free arithmetic under the widgets: alignment, MDI arrangements, file masks, hints, keys.
#include <gtest/gtest.h>

#include <Qt>

#include "classlib/widgets/align_layout.h"
#include "classlib/widgets/file_mask.h"
#include "classlib/widgets/hint_text.h"
#include "classlib/widgets/keys.h"
#include "classlib/widgets/mdi_layout.h"

namespace kavrin::classlib {
namespace {

TEST(AlignLayout, TopBottomLeftRightClientShareTheClientArea) {
  // A tool bar, a two-row status bar, a side panel and a client page control in a 640 x 400 client.
  const std::vector<AlignItem> items{
      {TAlign::alTop, Bounds(0, 0, 10, 29)},         {TAlign::alBottom, Bounds(0, 0, 10, 20)},
      {TAlign::alBottom, Bounds(0, 0, 10, 20)},      {TAlign::alLeft, Bounds(0, 0, 100, 10)},
      {TAlign::alClient, Bounds(5, 5, 5, 5)},        {TAlign::alNone, Bounds(7, 8, 9, 10)},
      {TAlign::alRight, Bounds(0, 0, 50, 1), false},
  };
  TRect rest;
  const auto r = AlignControls(Bounds(0, 0, 640, 400), items, rest);
  EXPECT_EQ(r[0], Rect(0, 0, 640, 29));
  EXPECT_EQ(r[1], Rect(0, 380, 640, 400));
  EXPECT_EQ(r[2], Rect(0, 360, 640, 380));  // the second bottom one stacks above the first
  EXPECT_EQ(r[3], Rect(0, 29, 100, 360));
  EXPECT_EQ(r[4], Rect(100, 29, 640, 360));
  EXPECT_EQ(r[5], Bounds(7, 8, 9, 10));  // not aligned: kept
  EXPECT_EQ(r[6], Bounds(0, 0, 50, 1));  // hidden: kept, takes no room
  EXPECT_EQ(rest, Rect(100, 29, 640, 360));
}

TEST(AlignLayout, AlignedControlsNeverTakeMoreThanIsLeft) {
  const auto r = AlignControls(Bounds(0, 0, 100, 50),
                               {{TAlign::alTop, Bounds(0, 0, 1, 40)}, {TAlign::alTop, Bounds(0, 0, 1, 40)}});
  EXPECT_EQ(r[0].Height(), 40);
  EXPECT_EQ(r[1].Height(), 10);
}

TEST(MdiLayout, CascadeSizesWindowsToAShareOfTheClientAndStepsThem) {
  const auto r = CascadeLayout(Bounds(0, 0, 800, 600), 3);
  ASSERT_EQ(r.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r[static_cast<std::size_t>(i)], Bounds(i * kCascadeStep, i * kCascadeStep, 600, 450));
  }
  // Windows that would leave the area start again at the corner.
  const auto many = CascadeLayout(Bounds(0, 0, 800, 600), 12);
  for (const auto& w : many) {
    EXPECT_LE(w.Right, 800);
    EXPECT_LE(w.Bottom, 600);
  }
  EXPECT_EQ(many[7].Left, 0);
}

struct TileCase {
  int count;
  TTileMode mode;
  std::vector<TRect> expected;
};

TEST(MdiLayout, TileCoversTheClientWithoutOverlap) {
  const TRect client = Bounds(0, 0, 600, 400);
  const std::vector<TileCase> cases{
      {1, TTileMode::tbHorizontal, {Rect(0, 0, 600, 400)}},
      {2, TTileMode::tbHorizontal, {Rect(0, 0, 600, 200), Rect(0, 200, 600, 400)}},
      {2, TTileMode::tbVertical, {Rect(0, 0, 300, 400), Rect(300, 0, 600, 400)}},
      {3, TTileMode::tbVertical, {Rect(0, 0, 200, 400), Rect(200, 0, 400, 400), Rect(400, 0, 600, 400)}},
      {4,
       TTileMode::tbHorizontal,
       {Rect(0, 0, 300, 200), Rect(0, 200, 300, 400), Rect(300, 0, 600, 200), Rect(300, 200, 600, 400)}},
      // Five: two columns, the later one takes the extra window.
      {5,
       TTileMode::tbHorizontal,
       {Rect(0, 0, 300, 200), Rect(0, 200, 300, 400), Rect(300, 0, 600, 133), Rect(300, 133, 600, 266),
        Rect(300, 266, 600, 400)}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TileLayout(client, c.count, c.mode), c.expected) << c.count << " windows";
  }
}

TEST(MdiLayout, IconsLineUpAlongTheBottom) {
  const auto r = IconLayout(Bounds(0, 0, 400, 300), 3);
  EXPECT_EQ(r[0], Bounds(0, 300 - kIconHeight, kIconWidth, kIconHeight));
  EXPECT_EQ(r[1], Bounds(kIconWidth, 300 - kIconHeight, kIconWidth, kIconHeight));
  EXPECT_EQ(r[2], Bounds(0, 300 - 2 * kIconHeight, kIconWidth, kIconHeight));  // wrapped upwards
}

TEST(FileMask, PatternsMatchIgnoringCase) {
  struct Case {
    const char* name;
    const char* mask;
    bool matches;
  };
  const Case cases[] = {
      {"CUSTOMER.DB", "*.DB;*.DBF", true},
      {"customer.db", "*.DB;*.DBF", true},
      {"Orders.Dbf", "*.DB;*.DBF", true},
      {"orders.dbt", "*.DB;*.DBF", false},
      {"orders.db.bak", "*.DB;*.DBF", false},
      {"a.dat", "*.DAT", true},
      {"README", "*.*", true},
      {"x.txt", "", true},
      {"abc.dat", "a?c.DAT", true},
      {"ac.dat", "a?c.DAT", false},
      {"a.DAT", " *.txt ; *.dat ", true},
      {"aaab", "*a*b", true},
      {"aaac", "*a*b", false},
  };
  for (const auto& c : cases) EXPECT_EQ(MatchesFileMask(c.name, c.mask), c.matches) << c.name << " / " << c.mask;
}

TEST(HintText, ShortAndLongHalves) {
  struct Case {
    const char* hint;
    const char* shortPart;
    const char* longPart;
  };
  const Case cases[] = {
      {"New|", "New", ""},         {"Print|Print the report", "Print", "Print the report"},
      {"Plain", "Plain", "Plain"}, {"", "", ""},
      {"a|b|c", "a", "b|c"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetShortHint(c.hint), c.shortPart);
    EXPECT_EQ(GetLongHint(c.hint), c.longPart);
  }
}

TEST(Keys, QtKeysMapToVirtualKeyCodesAndBack) {
  struct Case {
    int qt;
    bool keypad;
    Word vk;
  };
  const Case cases[] = {
      {Qt::Key_Return, false, VK_RETURN},
      {Qt::Key_Escape, false, VK_ESCAPE},
      {Qt::Key_PageUp, false, VK_PRIOR},
      {Qt::Key_PageDown, false, VK_NEXT},
      {Qt::Key_Insert, false, VK_INSERT},
      {Qt::Key_Delete, false, VK_DELETE},
      {Qt::Key_A, false, 'A'},
      {Qt::Key_Z, false, 'Z'},
      {Qt::Key_5, false, '5'},
      {Qt::Key_5, true, VK_NUMPAD0 + 5},
      {Qt::Key_F1, false, VK_F1},
      {Qt::Key_Tab, false, VK_TAB},
      {Qt::Key_Down, false, VK_DOWN},
      {Qt::Key_Space, false, VK_SPACE},
      {Qt::Key_Backspace, false, VK_BACK},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VirtualKeyFromQtKey(c.qt, c.keypad), c.vk) << c.qt;
    EXPECT_EQ(QtKeyFromVirtualKey(c.vk), c.qt) << c.vk;
  }
  EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Backtab, false), VK_TAB);
}

}  // namespace
}  // namespace kavrin::classlib
