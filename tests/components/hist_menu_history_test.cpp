#include "components/hist_menu_history.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "classlib/registry/registry.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/registry_folder.h"

namespace kavrin::components::histmenu {
namespace {

using testing::ReadWholeFile;
using testing::RegistryFolder;
using testing::WriteWholeFile;

const char* const kBaseKey = "SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System Utility";
const std::string kHistorySection =
    "[HKEY_CURRENT_USER\\SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System Utility\\HistMenu]\n";
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

// A menu as a list of "caption/tag" entries and "-" separators.
class FakeMenu : public HistoryMenuItem {
 public:
  explicit FakeMenu(std::vector<std::string> items = {}) {
    for (auto& caption : items) items_.push_back({caption, 0});
  }
  int Count() const override { return static_cast<int>(items_.size()); }
  void InsertSeparator(int index) override { items_.insert(items_.begin() + Checked(index, true), {"-", 0}); }
  void InsertEntry(int index, const std::string& caption, std::int32_t tag) override {
    items_.insert(items_.begin() + Checked(index, true), {caption, tag});
  }
  void Remove(int index) override { items_.erase(items_.begin() + Checked(index, false)); }
  std::string Caption(int index) const override { return items_[Checked(index, false)].caption; }
  std::int32_t Tag(int index) const override { return items_[Checked(index, false)].tag; }

  // "Open|Exit|-|B/2|A/1"
  std::string Text() const {
    std::string out;
    for (const Item& item : items_) {
      if (!out.empty()) out += '|';
      out += item.caption;
      if (item.caption != "-" && item.tag != 0) out += "/" + std::to_string(item.tag);
    }
    return out;
  }

 private:
  struct Item {
    std::string caption;
    std::int32_t tag;
  };
  std::size_t Checked(int index, bool insert) const {
    const int limit = Count() + (insert ? 1 : 0);
    if (index < 0 || index >= limit) ADD_FAILURE() << "menu index " << index << " out of range";
    return static_cast<std::size_t>(std::max(0, std::min(index, limit - 1)));
  }
  std::vector<Item> items_;
};

THistMenuCore MakeHistory(FakeMenu& menu, int max_history = 6, bool separator = true) {
  THistMenuCore history;
  history.SetName("HistMenu");
  history.SetBaseKey(kBaseKey);
  history.SetMaxHistory(max_history);
  history.SetAddSeparator(separator);
  history.SetMenuItem(&menu);
  return history;
}

TEST(HistMenuTest, AddingMovesKnownCaptionsToTheTopAndPushesTheOldestOut) {
  const struct {
    int max_history;
    std::vector<std::string> added;
    std::string menu;
  } cases[] = {
      {6, {"A", "B", "A"}, "Open|-|A/3|B/2"},
      {6, {"A", "B", "A", "a"}, "Open|-|a/4|A/3|B/2"},
      {6, {"1", "2", "3", "4", "5", "6", "7"}, "Open|-|7/7|6/6|5/5|4/4|3/3|2/2"},
      {2, {"1", "2", "3"}, "Open|-|3/3|2/2"},
      {2, {"1", "2", "1"}, "Open|-|1/3|2/2"},
  };
  for (const auto& c : cases) {
    FakeMenu menu({"Open"});
    THistMenuCore history = MakeHistory(menu, c.max_history);
    int tag = 0;
    for (const std::string& caption : c.added) history.AddItem(caption, ++tag);
    EXPECT_EQ(menu.Text(), c.menu);
    EXPECT_EQ(history.ItemCount(), menu.Count() - 2);
  }
}

TEST(HistMenuTest, SeparatorComesWithTheFirstEntryAndFollowsItsSetting) {
  FakeMenu menu({"Open", "Exit"});
  THistMenuCore history = MakeHistory(menu);
  EXPECT_EQ(menu.Text(), "Open|Exit");
  history.AddItem("A", 1);
  EXPECT_EQ(menu.Text(), "Open|Exit|-|A/1");
  EXPECT_EQ(history.FirstHistoryIndex(), 3);
  history.SetAddSeparator(false);
  EXPECT_EQ(menu.Text(), "Open|Exit|A/1");
  history.AddItem("B", 2);
  EXPECT_EQ(menu.Text(), "Open|Exit|B/2|A/1");
  history.SetAddSeparator(true);
  EXPECT_EQ(menu.Text(), "Open|Exit|-|B/2|A/1");

  FakeMenu plain({"Open"});
  THistMenuCore without = MakeHistory(plain, 6, false);
  without.AddItem("A", 1);
  EXPECT_EQ(plain.Text(), "Open|A/1");
}

TEST(HistMenuTest, MaxHistorySetterAndAShorterLimit) {
  FakeMenu menu;
  THistMenuCore history = MakeHistory(menu, 4, false);
  for (int bad : {1, 0, -3}) {
    history.SetMaxHistory(bad);
    EXPECT_EQ(history.MaxHistory(), 4) << bad;
  }
  for (const char* c : {"1", "2", "3", "4"}) history.AddItem(c, 0);
  history.SetMaxHistory(2);
  history.AddItem("5", 0);
  EXPECT_EQ(menu.Text(), "5|4|3|2") << "a smaller limit removes only one item per addition";
}

TEST(HistMenuTest, ChangingTheMenuTakesTheHistoryAlong) {
  FakeMenu first({"Open"});
  THistMenuCore history = MakeHistory(first);
  history.AddItem("A", 1);
  history.AddItem("B", 2);
  FakeMenu second({"File", "Exit"});
  history.SetMenuItem(&second);
  EXPECT_EQ(first.Text(), "Open|-") << "the separator before the history stays";
  EXPECT_EQ(history.ItemCount(), 0);
  history.AddItem("C", 3);
  EXPECT_EQ(second.Text(), "File|Exit|-|C/3");
  history.SetMenuItem(nullptr);
  EXPECT_EQ(second.Text(), "File|Exit|-");
  history.AddItem("D", 4);
  EXPECT_EQ(history.ItemCount(), 0);
}

TEST(HistMenuTest, ClickReportsCaptionAndTagOfHistoryItemsOnly) {
  FakeMenu menu({"Open"});
  THistMenuCore history = MakeHistory(menu);
  history.AddItem("ORDERS.DAT", 1);
  history.AddItem("PARTS.DAT", 3);
  std::vector<std::string> clicks;
  history.OnClick = [&](int index, const std::string& caption, std::int32_t tag) {
    clicks.push_back(std::to_string(index) + " " + caption + " " + std::to_string(tag));
  };
  for (int index = 0; index < menu.Count() + 1; ++index) history.ItemClicked(index);
  EXPECT_EQ(clicks, (std::vector<std::string>{"2 PARTS.DAT 3", "3 ORDERS.DAT 1"}));
}

TEST(HistMenuTest, SaveWritesCaptionsAndTagsAndDropsEntriesTheUserNoLongerHas) {
  RegistryFolder folder;
  const std::string file = folder.RootFile("HKEY_CURRENT_USER");
  WriteWholeFile(file, kHeader + kHistorySection +
                           "\"C0\"=\"OLD0\"\n\"T0\"=dword:00000000\n\"C1\"=\"OLD1\"\n\"T1\"=dword:00000000\n"
                           "\"C2\"=\"OLD2\"\n\"T2\"=dword:00000000\n\"C3\"=\"OLD3\"\n\"T3\"=dword:00000000\n"
                           "\"C4\"=\"OLD4\"\n\"T4\"=dword:00000000\n\"C5\"=\"OLD5\"\n\"T5\"=dword:00000000\n"
                           "\"C7\"=\"beyond a gap\"\n\n");
  FakeMenu menu({"Open"});
  THistMenuCore history = MakeHistory(menu);
  for (int n = 4; n >= 1; --n) history.AddItem("FILE" + std::to_string(n) + ".DAT", n);
  history.SaveHistory();
  EXPECT_EQ(ReadWholeFile(file), kHeader + kHistorySection +
                                     "\"C0\"=\"FILE1.DAT\"\n\"T0\"=dword:00000001\n\"C1\"=\"FILE2.DAT\"\n"
                                     "\"T1\"=dword:00000002\n\"C2\"=\"FILE3.DAT\"\n\"T2\"=dword:00000003\n"
                                     "\"C3\"=\"FILE4.DAT\"\n\"T3\"=dword:00000004\n\"C7\"=\"beyond a gap\"\n\n");

  FakeMenu again({"Open"});
  THistMenuCore loaded = MakeHistory(again);
  loaded.LoadHistory();
  EXPECT_EQ(again.Text(), "Open|-|FILE1.DAT/1|FILE2.DAT/2|FILE3.DAT/3|FILE4.DAT/4");
}

TEST(HistMenuTest, SaveInAFreshRegistryMakesTheKeys) {
  RegistryFolder folder;
  FakeMenu menu({"Open"});
  THistMenuCore history = MakeHistory(menu);
  history.AddItem("A.DAT", 0);
  history.SaveHistory();
  classlib::TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(std::string(kBaseKey) + "\\HistMenu", false));
  EXPECT_EQ(reg.ReadString("C0"), "A.DAT");
  EXPECT_EQ(reg.ReadInteger("T0"), 0);
  EXPECT_FALSE(reg.ValueExists("C1"));
}

TEST(HistMenuTest, LoadingMoreThanMaxHistoryKeepsTheFirstAndEndsWithTheLast) {
  RegistryFolder folder;
  std::string values;
  for (int n = 0; n < 8; ++n) {
    values += "\"C" + std::to_string(n) + "\"=\"F" + std::to_string(n) + "\"\n\"T" + std::to_string(n) +
              "\"=dword:0000000" + std::to_string(n) + "\n";
  }
  WriteWholeFile(folder.RootFile("HKEY_CURRENT_USER"), kHeader + kHistorySection + values + "\n");
  FakeMenu menu({"Open"});
  THistMenuCore history = MakeHistory(menu);
  history.LoadHistory();
  EXPECT_EQ(menu.Text(), "Open|-|F0|F1/1|F2/2|F3/3|F4/4|F7/7");
  EXPECT_EQ(history.ItemCount(), 6);
}

TEST(HistMenuTest, LoadEndsQuietlyAtADamagedEntry) {
  const std::string good = "\"C0\"=\"A\"\n\"T0\"=dword:00000001\n\"C1\"=\"B\"\n\"T1\"=dword:00000002\n";
  const struct {
    const char* why;
    std::string values;
    std::string menu;
  } cases[] = {
      {"complete", good, "Open|-|A/1|B/2"},
      {"T missing", good + "\"C2\"=\"C\"\n", "Open|-|A/1|B/2"},
      {"T a string", good + "\"C2\"=\"C\"\n\"T2\"=\"3\"\n", "Open|-|A/1|B/2"},
      {"T of odd size", good + "\"C2\"=\"C\"\n\"T2\"=hex(4):03\n", "Open|-|A/1|B/2"},
      {"C not a string", good + "\"C2\"=dword:00000003\n\"T2\"=dword:00000003\n", "Open|-|A/1|B/2"},
      {"C missing first", "\"T0\"=dword:00000001\n", "Open"},
      {"first entry damaged", "\"C0\"=hex:41\n\"T0\"=dword:00000001\n", "Open"},
  };
  for (const auto& c : cases) {
    RegistryFolder folder;
    WriteWholeFile(folder.RootFile("HKEY_CURRENT_USER"), kHeader + kHistorySection + c.values + "\n");
    FakeMenu menu({"Open"});
    THistMenuCore history = MakeHistory(menu);
    EXPECT_NO_THROW(history.LoadHistory()) << c.why;
    EXPECT_EQ(menu.Text(), c.menu) << c.why;
  }
}

TEST(HistMenuTest, NothingIsLoadedWithoutKeyOrBaseKeyOrWithADamagedFile) {
  RegistryFolder folder;
  FakeMenu menu({"Open"});
  THistMenuCore history = MakeHistory(menu);
  history.LoadHistory();
  EXPECT_EQ(menu.Text(), "Open");
  EXPECT_NE(::access(folder.RootFile("HKEY_CURRENT_USER").c_str(), F_OK), 0) << "loading creates nothing";

  WriteWholeFile(folder.RootFile("HKEY_CURRENT_USER"), "damaged");
  history.LoadHistory();
  EXPECT_EQ(menu.Text(), "Open");
  history.AddItem("A", 1);
  EXPECT_THROW(history.SaveHistory(), classlib::ERegistryException);
  EXPECT_EQ(ReadWholeFile(folder.RootFile("HKEY_CURRENT_USER")), "damaged");

  THistMenuCore no_key;
  FakeMenu other;
  no_key.SetMenuItem(&other);
  no_key.AddItem("A", 1);
  no_key.SaveHistory();
  no_key.LoadHistory();
  EXPECT_EQ(other.Text(), "A/1");
}

}  // namespace
}  // namespace kavrin::components::histmenu
