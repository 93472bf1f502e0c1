#include "components/qel_form_enh_placement.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "classlib/registry/registry.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/registry_folder.h"

namespace kavrin::components::qelformenh {
namespace {

using testing::ReadWholeFile;
using testing::RegistryFolder;
using testing::WriteWholeFile;

const char* const kSubKey = "\\SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System Utility";
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kFormSection =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System Utility\\MainForm]\n";

// A form whose geometry is its normal rectangle while normal, and the screen (or the MDI frame's
// client area) while maximized. Like a Qt widget it keeps no normal rectangle of its own: its placement
// holds the geometry it has now.
class FakeForm : public PlacementWindow {
 public:
  std::string name = "MainForm";
  TRect normal{100, 50, 500, 350};
  TWindowState state = TWindowState::wsNormal;
  bool visible = true;
  bool sizeable = true;
  bool mdi_child = false;
  TSize mdi_client{800, 500};
  TSize screen{1024, 768};
  std::vector<TWindowPlacement> applied;

  std::string Name() const override { return name; }
  std::int32_t Left() const override { return Maximized() ? 0 : normal.Left; }
  std::int32_t Top() const override { return Maximized() ? 0 : normal.Top; }
  std::int32_t Width() const override { return Maximized() ? Area().cx : normal.Right - normal.Left; }
  std::int32_t Height() const override { return Maximized() ? Area().cy : normal.Bottom - normal.Top; }
  void SetLeft(std::int32_t left) override {
    normal.Right += left - normal.Left;
    normal.Left = left;
  }
  void SetTop(std::int32_t top) override {
    normal.Bottom += top - normal.Top;
    normal.Top = top;
  }
  TWindowState WindowState() const override { return state; }
  bool Visible() const override { return visible; }
  bool Sizeable() const override { return sizeable; }
  bool IsMdiChild() const override { return mdi_child; }
  TSize MdiClientSize() const override { return mdi_client; }
  TSize ScreenSize() const override { return screen; }
  TWindowPlacement GetPlacement() const override {
    TWindowPlacement p;
    p.showCmd = state == TWindowState::wsMaximized   ? SW_SHOWMAXIMIZED
                : state == TWindowState::wsMinimized ? SW_SHOWMINIMIZED
                                                     : SW_SHOWNORMAL;
    p.rcNormalPosition = TRect{Left(), Top(), Left() + Width(), Top() + Height()};
    return p;
  }
  void SetPlacement(const TWindowPlacement& p) override {
    applied.push_back(p);
    normal = p.rcNormalPosition;
    if (p.showCmd == SW_SHOWMAXIMIZED) state = TWindowState::wsMaximized;
    if (p.showCmd == SW_SHOWMINIMIZED) state = TWindowState::wsMinimized;
    if (p.showCmd == SW_SHOWNORMAL) state = TWindowState::wsNormal;
  }

  // What the user does: the toolkit reports each change.
  void Move(TQelFormEnhPlacement& placement, TRect to) {
    normal = to;
    placement.GeometryChanged();
  }
  void Maximize(TQelFormEnhPlacement& placement) {
    state = TWindowState::wsMaximized;
    placement.GeometryChanged();
  }

 private:
  bool Maximized() const { return state == TWindowState::wsMaximized; }
  TSize Area() const { return mdi_child ? mdi_client : screen; }
};

void Configure(TQelFormEnhPlacement& placement) {
  placement.RootKey = TRootKey::rkLocalMachine;
  placement.SavePosition = true;
  placement.SaveSize = true;
  placement.SubKey = kSubKey;
}

// The file from the form's own section on (the levels above it come first).
std::string FormSection(const RegistryFolder& folder) {
  const std::string file = ReadWholeFile(folder.RootFile("HKEY_LOCAL_MACHINE"));
  const std::size_t at = file.find(kFormSection);
  return at == std::string::npos ? file : file.substr(at);
}

std::string Stored(const std::string& left, const std::string& top, const std::string& width, const std::string& height,
                   const std::string& state) {
  return kHeader + kFormSection + "\"Left\"=\"" + left + "\"\n\"Top\"=\"" + top + "\"\n\"Width\"=\"" + width +
         "\"\n\"Height\"=\"" + height + "\"\n\"WindowState\"=\"" + state + "\"\n\n";
}

TEST(QelFormEnhTest, FirstStartKeepsTheFormAndSavesItWhenDestroyed) {
  RegistryFolder folder;
  FakeForm form;
  {
    TQelFormEnhPlacement placement(form);
    Configure(placement);
    placement.RestorePlacement();
    ASSERT_EQ(form.applied.size(), 1u);
    EXPECT_EQ(form.applied[0].rcNormalPosition, (TRect{100, 50, 500, 350}));
    EXPECT_EQ(form.applied[0].showCmd, SW_SHOWNORMAL);
    form.Move(placement, TRect{120, 60, 720, 460});
    placement.SavePlacement();
  }
  const std::string file = ReadWholeFile(folder.RootFile("HKEY_LOCAL_MACHINE"));
  EXPECT_NE(file.find(kFormSection + "\"Left\"=\"120\"\n\"Top\"=\"60\"\n\"Width\"=\"600\"\n\"Height\"=\"400\"\n"
                                     "\"WindowState\"=\"0\"\n"),
            std::string::npos)
      << file;
}

TEST(QelFormEnhTest, MaximizedFormSavesItsNormalRectangleAndComesBackMaximizedWhenAllowed) {
  RegistryFolder folder;
  {
    FakeForm form;
    TQelFormEnhPlacement placement(form);
    Configure(placement);
    placement.RestorePlacement();
    form.Move(placement, TRect{10, 20, 410, 320});
    form.Maximize(placement);
    placement.SavePlacement();
  }
  EXPECT_EQ(FormSection(folder), Stored("10", "20", "400", "300", "2").substr(kHeader.size()))
      << "the maximized size is not what is kept";
  for (bool allow : {true, false}) {
    FakeForm form;
    TQelFormEnhPlacement placement(form);
    Configure(placement);
    placement.AllowMaximized = allow;
    placement.RestorePlacement();
    EXPECT_EQ(form.applied.back().showCmd, allow ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    EXPECT_EQ(form.applied.back().rcNormalPosition, (TRect{10, 20, 410, 320}));
  }
}

TEST(QelFormEnhTest, StoredStatesAndWhatTheFormAllows) {
  const struct {
    const char* state;
    bool allow_maximized;
    bool allow_minimized;
    bool visible;
    std::uint32_t show;
  } cases[] = {
      {"0", true, true, true, SW_SHOWNORMAL},  {"1", true, true, true, SW_SHOWMINIMIZED},
      {"1", true, false, true, SW_SHOWNORMAL}, {"2", true, true, true, SW_SHOWMAXIMIZED},
      {"2", false, true, true, SW_SHOWNORMAL}, {"7", true, true, true, SW_SHOWNORMAL},
      {"2", true, true, false, SW_HIDE},       {"1", true, true, false, SW_HIDE},
  };
  for (const auto& c : cases) {
    RegistryFolder folder;
    WriteWholeFile(folder.RootFile("HKEY_LOCAL_MACHINE"), Stored("30", "40", "300", "200", c.state));
    FakeForm form;
    form.visible = c.visible;
    TQelFormEnhPlacement placement(form);
    Configure(placement);
    placement.AllowMaximized = c.allow_maximized;
    placement.AllowMinimized = c.allow_minimized;
    placement.RestorePlacement();
    ASSERT_EQ(form.applied.size(), 1u);
    EXPECT_EQ(form.applied[0].showCmd, c.show) << c.state << " visible " << c.visible;
    EXPECT_EQ(form.applied[0].rcNormalPosition, (TRect{30, 40, 330, 240})) << "a hidden form still gets its rectangle";
  }
}

TEST(QelFormEnhTest, StoredTextsAndTheLeftEdgeTheyGive) {
  const struct {
    std::string stored_left;  // the whole value line's data
    std::int32_t left;
  } cases[] = {
      {"\"0x10\"", 16},         {"\"0X1f\"", 31},       {"\"42\"", 42},
      {"\"-5\"", -5},           {"\"0xFFFFFFFF\"", -1}, {"\"0x\"", 100},
      {"\"x10\"", 100},         {"\"abc\"", 100},       {"\"\"", 100},
      {"\"0x1G\"", 100},        {"\"12 \"", 100},       {"\"99999999999\"", 100},
      {"\"0x100000000\"", 100}, {"\"+7\"", 100},        {"dword:00000010", 100},
      {"hex:31,30,00", 100},
  };
  for (const auto& c : cases) {
    RegistryFolder folder;
    WriteWholeFile(folder.RootFile("HKEY_LOCAL_MACHINE"),
                   kHeader + kFormSection + "\"Left\"=" + c.stored_left + "\n\n");
    FakeForm form;
    TQelFormEnhPlacement placement(form);
    Configure(placement);
    placement.RestorePlacement();
    ASSERT_EQ(form.applied.size(), 1u);
    EXPECT_EQ(form.applied[0].rcNormalPosition.Left, c.left) << c.stored_left;
    EXPECT_EQ(form.applied[0].rcNormalPosition.Right - form.applied[0].rcNormalPosition.Left, 400)
        << "moving keeps the width";
  }
}

TEST(QelFormEnhTest, CheckPosKeepsNormalFormsInsideTheirArea) {
  const struct {
    const char* why;
    bool mdi_child;
    std::string left, top, width, height, state;
    std::int32_t expected_left, expected_top;
  } cases[] = {
      {"inside", false, "10", "10", "300", "200", "0", 10, 10},
      {"off the right edge", false, "900", "10", "300", "200", "0", 724, 10},
      {"off the bottom", false, "10", "700", "300", "200", "0", 10, 568},
      {"negative", false, "-50", "-20", "300", "200", "0", 0, 0},
      {"wider than the screen", false, "10", "10", "1200", "200", "0", 0, 10},
      {"MDI child off the client area", true, "700", "400", "300", "200", "0", 500, 300},
      {"MDI child negative", true, "-5", "-5", "300", "200", "0", 0, 0},
      {"maximized is left alone", false, "900", "10", "300", "200", "2", 900, 10},
  };
  for (const auto& c : cases) {
    RegistryFolder folder;
    WriteWholeFile(folder.RootFile("HKEY_LOCAL_MACHINE"), Stored(c.left, c.top, c.width, c.height, c.state));
    FakeForm form;
    form.mdi_child = c.mdi_child;
    TQelFormEnhPlacement placement(form);
    Configure(placement);
    placement.CheckPos = true;
    placement.RestorePlacement();
    EXPECT_EQ(form.normal.Left, c.expected_left) << c.why;
    EXPECT_EQ(form.normal.Top, c.expected_top) << c.why;
  }
}

TEST(QelFormEnhTest, WindowsOfOneFormShareTheSubkeyAndTheLastDestroyedDecides) {
  RegistryFolder folder;
  WriteWholeFile(folder.RootFile("HKEY_LOCAL_MACHINE"), Stored("30", "40", "300", "200", "0"));
  FakeForm first;
  FakeForm second;
  TQelFormEnhPlacement first_placement(first);
  TQelFormEnhPlacement second_placement(second);
  for (auto* p : {&first_placement, &second_placement}) {
    Configure(*p);
    p->RestorePlacement();
  }
  EXPECT_EQ(first.normal, (TRect{30, 40, 330, 240}));
  EXPECT_EQ(second.normal, (TRect{30, 40, 330, 240}));
  second.Move(second_placement, TRect{5, 6, 105, 106});
  first.Move(first_placement, TRect{50, 60, 650, 460});
  second_placement.SavePlacement();
  first_placement.SavePlacement();
  EXPECT_EQ(ReadWholeFile(folder.RootFile("HKEY_LOCAL_MACHINE")), Stored("50", "60", "600", "400", "0"));
}

TEST(QelFormEnhTest, NothingHappensWithoutSubKeyOrWithNothingToSave) {
  RegistryFolder folder;
  for (int variant = 0; variant < 2; ++variant) {
    FakeForm form;
    TQelFormEnhPlacement placement(form);
    Configure(placement);
    if (variant == 0) placement.SubKey.clear();
    if (variant == 1) placement.SavePosition = placement.SaveSize = false;
    placement.RestorePlacement();
    placement.SavePlacement();
    EXPECT_TRUE(form.applied.empty());
  }
  EXPECT_NE(::access(folder.RootFile("HKEY_LOCAL_MACHINE").c_str(), F_OK), 0);
}

TEST(QelFormEnhTest, OnlyPositionOrOnlySizeIsKept) {
  RegistryFolder folder;
  FakeForm form;
  TQelFormEnhPlacement placement(form);
  Configure(placement);
  placement.SaveSize = false;
  placement.RestorePlacement();
  placement.SavePlacement();
  EXPECT_EQ(FormSection(folder), kFormSection + "\"Left\"=\"100\"\n\"Top\"=\"50\"\n\n");
}

TEST(QelFormEnhTest, SaveFailureRaisesTheRegistryClassException) {
  RegistryFolder folder;
  WriteWholeFile(folder.RootFile("HKEY_LOCAL_MACHINE"), "damaged");
  FakeForm form;
  TQelFormEnhPlacement placement(form);
  Configure(placement);
  placement.RestorePlacement();
  EXPECT_TRUE(form.applied.empty()) << "nothing to restore from a damaged file";
  EXPECT_THROW(placement.SavePlacement(), classlib::ERegistryException);
  EXPECT_EQ(ReadWholeFile(folder.RootFile("HKEY_LOCAL_MACHINE")), "damaged");
}

TEST(QelFormEnhTest, TrackLimitsApplyOnlyAboveZeroAndOnlyToSizeableForms) {
  FakeForm form;
  TQelFormEnhPlacement placement(form);
  placement.SetMinSizeX(-5);
  EXPECT_EQ(placement.MinSizeX(), 0);
  placement.SetMinSizeY(200);
  placement.SetMaxSizeX(800);
  placement.SetMaxSizeY(-1);
  TMinMaxInfo info;
  info.ptMinTrackSize = {112, 27};
  info.ptMaxTrackSize = {1036, 780};
  placement.ApplyTrackLimits(info);
  EXPECT_EQ(info.ptMinTrackSize, (TPoint{112, 200}));
  EXPECT_EQ(info.ptMaxTrackSize, (TPoint{800, 780}));
  form.sizeable = false;
  TMinMaxInfo fixed;
  fixed.ptMinTrackSize = {112, 27};
  placement.ApplyTrackLimits(fixed);
  EXPECT_EQ(fixed.ptMinTrackSize, (TPoint{112, 27}));
  EXPECT_EQ(placement.Version(), "1.01.00");
  placement.SetVersion("2");
  EXPECT_EQ(placement.Version(), "1.01.00");
}

TEST(QelFormEnhTest, OwnerChecks) {
  const auto raised = [](const std::function<void()>& f) -> std::string {
    try {
      f();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_EQ(raised([] { CheckQelFormEnhOwner(false, false); }), "Owner must be a form");
  EXPECT_EQ(raised([] { CheckQelFormEnhOwner(true, true); }), "This form already contains a TQelFormEnh component");
  EXPECT_EQ(raised([] { CheckQelFormEnhOwner(true, false); }), "");
  EXPECT_EQ(raised([] { messagegrabber::CheckGrabberOwner(false); }), "Owner must be a windowed control");
}

}  // namespace
}  // namespace kavrin::components::qelformenh
