// Panels, images, painted controls, speed buttons, status bars, page controls, progress bars and timers.
#pragma once

#include <string>
#include <vector>

#include "classlib/widgets/control.h"
#include "classlib/widgets/graphics.h"
#include "classlib/widgets/std_controls.h"

class QTabWidget;
class QProgressBar;
class QTimer;
class QToolButton;

namespace kavrin::classlib {

enum class TPanelBevel { bvNone, bvLowered, bvRaised };

// A control that draws itself on its canvas in Paint (report previews, paint boxes).
class TGraphicControl : public TControl {
 public:
  TGraphicControl(TComponent* owner, TWinControl* parent);
  explicit TGraphicControl(TWinControl& parent);
  TCanvas& Canvas() { return canvas_; }
  // Valid only while a paint runs; the default fires OnPaint.
  virtual void Paint();
  TNotifyEvent OnPaint;

 private:
  friend class PaintedWidget;
  TCanvas canvas_;
};

using TPaintBox = TGraphicControl;

class TPanel : public TWinControl {
 public:
  explicit TPanel(TWinControl& parent);
  TPanelBevel BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TPanelBevel bevel);
  TPanelBevel BevelInner() const { return bevelInner_; }
  void SetBevelInner(TPanelBevel bevel);
  int BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int width);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment alignment);

 protected:
  void ApplyCaption() override;

 private:
  friend class PanelWidget;
  TPanelBevel bevelOuter_ = TPanelBevel::bvRaised;
  TPanelBevel bevelInner_ = TPanelBevel::bvNone;
  int bevelWidth_ = 1;
  TAlignment alignment_ = TAlignment::taCenter;
};

class TImage : public TControl {
 public:
  explicit TImage(TWinControl& parent);
  // Changes show at once; an empty picture clears the image.
  TBitmap& Picture() { return picture_; }
  void SetPicture(const TBitmap& picture);
  void Clear();
  void PictureChanged();
  bool Center() const { return center_; }
  void SetCenter(bool value);
  bool Stretch() const { return stretch_; }
  void SetStretch(bool value);
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);

 private:
  friend class ImageWidget;
  TBitmap picture_;
  bool center_ = false;
  bool stretch_ = false;
  bool autoSize_ = false;
};

// A tool-bar button: never takes the focus, shows the short hint as its tool tip.
class TSpeedButton : public TControl {
 public:
  explicit TSpeedButton(TWinControl& parent);
  void SetGlyph(const TBitmap& glyph);
  bool Flat() const { return flat_; }
  void SetFlat(bool value);
  int GroupIndex = 0;
  bool AllowAllUp = false;
  bool Down() const { return down_; }
  void SetDown(bool value);
  void SetEnabled(bool enabled) override;
  void Click() override;

 protected:
  void ApplyCaption() override;
  bool ClicksOnMouseUp() const override { return false; }

 private:
  QToolButton* button_;
  bool flat_ = false;
  bool down_ = false;
};

struct TStatusPanel {
  std::string Text;
  int Width = 50;
  TAlignment Alignment = TAlignment::taLeftJustify;
};

class TStatusBar : public TWinControl {
 public:
  explicit TStatusBar(TWinControl& parent);
  bool SimplePanel() const { return simplePanel_; }
  void SetSimplePanel(bool value);
  const std::string& SimpleText() const { return simpleText_; }
  void SetSimpleText(const std::string& text);
  std::vector<TStatusPanel>& Panels() { return panels_; }
  // Call after changing Panels.
  void PanelsChanged();
  bool SizeGrip = true;

 private:
  friend class StatusBarWidget;
  bool simplePanel_ = false;
  std::string simpleText_;
  std::vector<TStatusPanel> panels_;
};

class TPageControl;

class TTabSheet : public TWinControl {
 public:
  explicit TTabSheet(TPageControl& pageControl);
  ~TTabSheet() override;
  TPageControl* PageControl() const { return pageControl_; }
  int PageIndex() const;
  bool TabVisible() const { return tabVisible_; }
  void SetTabVisible(bool value);

 protected:
  void ApplyCaption() override;

 private:
  friend class TPageControl;
  TPageControl* pageControl_;
  bool tabVisible_ = true;
};

using TTabChangingEvent = std::function<void(TComponent* Sender, bool& AllowChange)>;

class TPageControl : public TWinControl {
 public:
  explicit TPageControl(TWinControl& parent);
  ~TPageControl() override;
  int PageCount() const { return static_cast<int>(pages_.size()); }
  TTabSheet* Pages(int index) const { return pages_.at(static_cast<std::size_t>(index)); }
  TTabSheet* ActivePage() const;
  // Setting the page from the program asks no one, as the class library does.
  void SetActivePage(TTabSheet* page);
  int ActivePageIndex() const { return active_; }
  void SetActivePageIndex(int index);
  // The user's page change: OnChanging may refuse it; OnChange follows an accepted one.
  TTabChangingEvent OnChanging;
  TNotifyEvent OnChange;
  QWidget* ClientWidget() const override;
  QTabWidget* Tabs() const { return tabs_; }

 private:
  friend class TTabSheet;
  void AddPage(TTabSheet* page);
  void RemovePage(TTabSheet* page);
  void UserChanged(int qtIndex);
  QTabWidget* tabs_;
  std::vector<TTabSheet*> pages_;
  int active_ = -1;
  bool switching_ = false;
};

class TProgressBar : public TWinControl {
 public:
  explicit TProgressBar(TWinControl& parent);
  int Min() const { return min_; }
  int Max() const { return max_; }
  void SetMin(int value);
  void SetMax(int value);
  int Position() const { return position_; }
  void SetPosition(int value);
  int Step = 10;
  void StepIt() { SetPosition(position_ + Step); }
  void StepBy(int delta) { SetPosition(position_ + delta); }

 private:
  QProgressBar* bar_;
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
};

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner);
  ~TTimer() override;
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned milliseconds);
  // Fired on every interval while enabled; an exception goes to the application's handler.
  TNotifyEvent OnTimer;

 private:
  void Update();
  QTimer* timer_;
  bool enabled_ = true;
  unsigned interval_ = 1000;
};

}  // namespace kavrin::classlib
