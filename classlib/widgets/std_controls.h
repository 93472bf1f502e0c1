// The standard controls: labels, buttons, edits, memos, check boxes, radio buttons and groups, group
// boxes, drop-downs and list boxes.
#pragma once

#include <string>

#include "classlib/data/field_type.h"
#include "classlib/widgets/control.h"
#include "classlib/widgets/graphics.h"
#include "classlib/widgets/string_items.h"
#include "classlib/widgets/ui.h"

class QLabel;
class QPushButton;
class QLineEdit;
class QTextEdit;
class QCheckBox;
class QRadioButton;
class QGroupBox;
class QComboBox;
class QListWidget;

namespace kavrin::classlib {

enum class TEditCharCase { ecNormal, ecUpperCase, ecLowerCase };
enum class TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum class TCheckBoxState { cbUnchecked, cbChecked, cbGrayed };
enum class TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };
enum class TListBoxStyle { lbStandard, lbOwnerDrawFixed, lbOwnerDrawVariable };
enum class TOwnerDrawStateItem { odSelected, odGrayed, odDisabled, odChecked, odFocused };
using TOwnerDrawState = TSetOf<TOwnerDrawStateItem>;
using TDrawItemEvent = std::function<void(TComponent* Control, int Index, const TRect& Rect, TOwnerDrawState State)>;

// The caption as shown: "&" marks the accelerator and is not drawn; "&&" is one "&".
std::string StripAccelerator(const std::string& caption);

class TLabel : public TControl {
 public:
  explicit TLabel(TWinControl& parent);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment alignment);
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  TWinControl* FocusControl = nullptr;

 protected:
  void ApplyCaption() override;
  void ApplyColor() override;
  void ApplyFont() override;

 private:
  void Fit();
  QLabel* label_;
  TAlignment alignment_ = TAlignment::taLeftJustify;
  bool autoSize_ = true;
  bool wordWrap_ = false;
  bool transparent_ = false;
};

class TButton : public TWinControl {
 public:
  explicit TButton(TWinControl& parent);
  TModalResult ModalResult = mrNone;
  // Enter on the form presses a default button, Esc a cancel button.
  bool Default() const { return default_; }
  void SetDefault(bool value);
  bool Cancel() const { return cancel_; }
  void SetCancel(bool value);
  // Sets the form's modal result first, then OnClick, then the form's close checks.
  void Click() override;
  // Enter on the focused button presses it.
  void KeyDown(Word& key, TShiftState shift) override;

 protected:
  void ApplyCaption() override;
  bool ClicksOnMouseUp() const override { return false; }
  void JoinForm(TForm& form) override;

 private:
  void RegisterWithForm();
  QPushButton* button_;
  bool default_ = false;
  bool cancel_ = false;
};

class TCustomEdit : public TWinControl {
 public:
  TCustomEdit(TWinControl& parent, bool multiLine);
  int MaxLength() const { return maxLength_; }
  virtual void SetMaxLength(int value) = 0;
  bool ReadOnly() const { return readOnly_; }
  virtual void SetReadOnly(bool value) = 0;
  bool Modified = false;
  virtual int SelStart() const = 0;
  virtual void SetSelStart(int value) = 0;
  virtual int SelLength() const = 0;
  virtual void SetSelLength(int value) = 0;
  virtual std::string SelText() const = 0;
  // Replaces the selection (or inserts at the caret) with text.
  virtual void SetSelText(const std::string& text) = 0;
  virtual void SelectAll() = 0;
  virtual void CutToClipboard() = 0;
  virtual void CopyToClipboard() = 0;
  virtual void PasteFromClipboard() = 0;
  virtual void ClearSelection() = 0;
  TNotifyEvent OnChange;

 protected:
  void Changed();
  void ApplyColor() override;
  int maxLength_ = 0;
  bool readOnly_ = false;
  bool settingText_ = false;
};

class TEdit : public TCustomEdit {
 public:
  explicit TEdit(TWinControl& parent);
  std::string Caption() const override;
  void SetMaxLength(int value) override;
  void SetReadOnly(bool value) override;
  // '*' (or any character) hides the text; 0 shows it.
  char PasswordChar() const { return passwordChar_; }
  void SetPasswordChar(char value);
  TEditCharCase CharCase() const { return charCase_; }
  void SetCharCase(TEditCharCase value);
  int SelStart() const override;
  void SetSelStart(int value) override;
  int SelLength() const override;
  void SetSelLength(int value) override;
  std::string SelText() const override;
  void SetSelText(const std::string& text) override;
  void SelectAll() override;
  void CutToClipboard() override;
  void CopyToClipboard() override;
  void PasteFromClipboard() override;
  void ClearSelection() override;
  void KeyPress(char& key) override;
  QLineEdit* LineEdit() const { return edit_; }

 protected:
  void ApplyCaption() override;

 private:
  QLineEdit* edit_;
  char passwordChar_ = 0;
  TEditCharCase charCase_ = TEditCharCase::ecNormal;
};

class TMemo;

// A memo's lines, read and written through the memo.
class TMemoLines {
 public:
  explicit TMemoLines(TMemo& memo) : memo_(memo) {}
  int Count() const;
  std::string Strings(int index) const;
  void Add(const std::string& line);
  void Clear();
  std::string Text() const;
  void SetText(const std::string& text);
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

 private:
  TMemo& memo_;
};

class TMemo : public TCustomEdit {
 public:
  explicit TMemo(TWinControl& parent);
  TMemoLines& Lines() { return lines_; }
  // Lines end in CR LF, as the class library gives a memo's text.
  std::string Caption() const override;
  void SetMaxLength(int value) override;
  void SetReadOnly(bool value) override;
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value);
  bool WantTabs() const { return wantTabs_; }
  void SetWantTabs(bool value);
  bool WantReturns = true;
  TScrollStyle ScrollBars() const { return scrollBars_; }
  void SetScrollBars(TScrollStyle value);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value);
  int SelStart() const override;
  void SetSelStart(int value) override;
  int SelLength() const override;
  void SetSelLength(int value) override;
  std::string SelText() const override;
  void SetSelText(const std::string& text) override;
  void SelectAll() override;
  void CutToClipboard() override;
  void CopyToClipboard() override;
  void PasteFromClipboard() override;
  void ClearSelection() override;
  void KeyDown(Word& key, TShiftState shift) override;
  QTextEdit* TextEdit() const { return edit_; }
  QWidget* MouseWidget() const override;

 protected:
  void ApplyCaption() override;

 private:
  QTextEdit* edit_;
  TMemoLines lines_;
  bool wordWrap_ = true;
  bool wantTabs_ = false;
  TScrollStyle scrollBars_ = TScrollStyle::ssNone;
  TAlignment alignment_ = TAlignment::taLeftJustify;
};

class TCheckBox : public TWinControl {
 public:
  explicit TCheckBox(TWinControl& parent);
  bool Checked() const { return state_ == TCheckBoxState::cbChecked; }
  void SetChecked(bool value) { SetState(value ? TCheckBoxState::cbChecked : TCheckBoxState::cbUnchecked); }
  TCheckBoxState State() const { return state_; }
  // A change of state fires OnClick, whether by the user or by the program.
  void SetState(TCheckBoxState state);
  bool AllowGrayed = false;
  // The user's click or Space: the next state. Derived check boxes may refuse.
  virtual void Toggle();

 protected:
  void ApplyCaption() override;
  bool ClicksOnMouseUp() const override { return false; }

 private:
  friend class CheckBoxWidget;
  QCheckBox* box_;
  TCheckBoxState state_ = TCheckBoxState::cbUnchecked;
};

class TRadioButton : public TWinControl {
 public:
  explicit TRadioButton(TWinControl& parent);
  bool Checked() const;
  void SetChecked(bool value);

 protected:
  void ApplyCaption() override;
  bool ClicksOnMouseUp() const override { return false; }

 private:
  QRadioButton* button_;
  bool setting_ = false;
};

class TGroupBox : public TWinControl {
 public:
  explicit TGroupBox(TWinControl& parent);

 protected:
  void ApplyCaption() override;

 private:
  QGroupBox* box_;
};

class TRadioGroup : public TWinControl {
 public:
  explicit TRadioGroup(TWinControl& parent);
  ~TRadioGroup() override;
  TStringItems& Items() { return items_; }
  int ItemIndex() const { return itemIndex_; }
  // A change fires OnClick.
  void SetItemIndex(int index);
  int Columns() const { return columns_; }
  void SetColumns(int columns);

 protected:
  void ApplyCaption() override;
  bool ClicksOnMouseUp() const override { return false; }
  void Resized() override;

 private:
  void Rebuild();
  QGroupBox* box_;
  TStringItems items_;
  std::vector<QRadioButton*> buttons_;
  int itemIndex_ = -1;
  int columns_ = 1;
  bool setting_ = false;
};

class TComboBox : public TWinControl {
 public:
  explicit TComboBox(TWinControl& parent);
  ~TComboBox() override;
  TStringItems& Items() { return items_; }
  TComboBoxStyle Style() const { return style_; }
  void SetStyle(TComboBoxStyle style);
  int ItemIndex() const;
  void SetItemIndex(int index);
  std::string Caption() const override;
  bool Sorted() const { return items_.Sorted(); }
  void SetSorted(bool value) { items_.SetSorted(value); }
  void SetMaxLength(int value);
  int DropDownCount = 8;
  // OnChange: the text changed; OnClick: an item was chosen.
  TNotifyEvent OnChange;
  QComboBox* Combo() const { return combo_; }

 protected:
  void ApplyCaption() override;
  void ApplyColor() override;
  bool ClicksOnMouseUp() const override { return false; }

 private:
  QComboBox* combo_;
  TStringItems items_;
  TComboBoxStyle style_ = TComboBoxStyle::csDropDown;
  bool setting_ = false;
};

class TListBox : public TWinControl {
 public:
  explicit TListBox(TWinControl& parent);
  ~TListBox() override;
  TStringItems& Items() { return items_; }
  int ItemIndex() const;
  void SetItemIndex(int index);
  bool MultiSelect() const { return multiSelect_; }
  void SetMultiSelect(bool value);
  bool ExtendedSelect() const { return extendedSelect_; }
  void SetExtendedSelect(bool value);
  bool Selected(int index) const;
  void SetSelected(int index, bool value);
  int SelCount() const;
  bool Sorted() const { return items_.Sorted(); }
  void SetSorted(bool value) { items_.SetSorted(value); }
  TListBoxStyle Style() const { return style_; }
  void SetStyle(TListBoxStyle style);
  int ItemHeight() const { return itemHeight_; }
  void SetItemHeight(int value);
  int TopIndex() const;
  void SetTopIndex(int index);
  // The item at a client point; -1 (or, when not existing, the count) past the last item.
  int ItemAtPos(TPoint pos, bool existing) const;
  TRect ItemRect(int index) const;
  void Clear() { items_.Clear(); }
  TCanvas& Canvas() { return canvas_; }
  TDrawItemEvent OnDrawItem;
  QListWidget* List() const { return list_; }
  QWidget* MouseWidget() const override;

 protected:
  void ApplyColor() override;
  bool ClicksOnMouseUp() const override { return false; }

 private:
  friend class ListBoxDelegate;
  void ApplySelectionMode();
  QListWidget* list_;
  TStringItems items_;
  TCanvas canvas_;
  bool multiSelect_ = false;
  bool extendedSelect_ = true;
  TListBoxStyle style_ = TListBoxStyle::lbStandard;
  int itemHeight_ = 16;
};

}  // namespace kavrin::classlib
