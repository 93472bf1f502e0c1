// The data-aware controls: edit (with the field's edit mask), memo, drop-down, image and the
// navigator, each bound to one field (or, for the navigator, to a data source) through a data link.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "classlib/data/data_link.h"
#include "classlib/widgets/ext_controls.h"
#include "classlib/widgets/std_controls.h"

class QToolButton;

namespace kavrin::classlib {

class TDataSource;
class TField;
class TEditMask;

// The text of the confirmation before a grid or navigator deletes a record.
inline constexpr const char* DeleteRecordQuestion = "Delete record?";

// What the single-field controls share: the link, and the write of the pending edit.
class TDBFieldBinding {
 public:
  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(TDataSource* source) { link_.SetDataSource(source); }
  const std::string& DataField() const { return link_.FieldName(); }
  void SetDataField(std::string name) { link_.SetFieldName(std::move(name)); }
  TField* Field() const { return link_.Field(); }
  TFieldDataLink& DataLink() { return link_; }

 protected:
  TFieldDataLink link_;
};

class TDBEdit : public TEdit, public TDBFieldBinding {
 public:
  explicit TDBEdit(TWinControl& parent);
  ~TDBEdit() override;
  bool ReadOnly() const { return dbReadOnly_; }
  void SetReadOnly(bool value) override;
  // The edit mask in use: the field's.
  std::string EditMask() const;

  void KeyDown(Word& key, TShiftState shift) override;
  void KeyPress(char& key) override;
  void DoExit() override;

 private:
  void ShowField();
  void ApplyEditState();
  void UserEdited();
  void WriteField();
  std::unique_ptr<TEditMask> mask_;
  std::string maskText_;
  bool dbReadOnly_ = false;
  bool showing_ = false;
};

class TDBMemo : public TMemo, public TDBFieldBinding {
 public:
  explicit TDBMemo(TWinControl& parent);
  ~TDBMemo() override;
  bool ReadOnly() const { return dbReadOnly_; }
  void SetReadOnly(bool value) override;
  void KeyDown(Word& key, TShiftState shift) override;
  void KeyPress(char& key) override;
  void DoExit() override;

 private:
  void ShowField();
  void ApplyEditState();
  bool dbReadOnly_ = false;
  bool showing_ = false;
};

class TDBComboBox : public TComboBox, public TDBFieldBinding {
 public:
  explicit TDBComboBox(TWinControl& parent);
  ~TDBComboBox() override;
  bool ReadOnly() const { return link_.ReadOnly(); }
  void SetReadOnly(bool value) { link_.SetReadOnly(value); }
  // A choice made by the user (also what the drop-down's own selection signal calls).
  void Choose(int index);
  void DoExit() override;

 private:
  void ShowField();
  bool showing_ = false;
};

class TDBImage : public TImage, public TDBFieldBinding {
 public:
  explicit TDBImage(TWinControl& parent);
  ~TDBImage() override;
  bool ReadOnly() const { return link_.ReadOnly(); }
  void SetReadOnly(bool value) { link_.SetReadOnly(value); }
  bool QuickDraw = true;
  // A new picture from the program (import); marks the field modified when it can be edited.
  void LoadPicture(const TBitmap& picture);

 private:
  void ShowField();
};

enum class TNavigateBtn { nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete, nbEdit, nbPost, nbCancel, nbRefresh };
using TButtonSet = TSetOf<TNavigateBtn>;
using TNavClickEvent = std::function<void(TComponent* Sender, TNavigateBtn Button)>;

class TDBNavigator : public TWinControl {
 public:
  explicit TDBNavigator(TWinControl& parent);
  ~TDBNavigator() override;
  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* source);
  TButtonSet VisibleButtons() const { return visible_; }
  void SetVisibleButtons(TButtonSet buttons);
  bool ConfirmDelete = true;
  // Runs a button's action as a click does: the dataset step, then OnClick.
  void BtnClick(TNavigateBtn button);
  bool ButtonEnabled(TNavigateBtn button) const;
  QToolButton* Button(TNavigateBtn button) const { return buttons_[static_cast<std::size_t>(button)]; }
  void SetEnabled(bool enabled) override;
  TNavClickEvent OnNavClick;

 private:
  class Link;
  void UpdateButtons();
  void Layout();
  std::unique_ptr<Link> link_;
  std::array<QToolButton*, 10> buttons_{};
  TButtonSet visible_;

 protected:
  void Resized() override;
};

}  // namespace kavrin::classlib
