#include "classlib/widgets/db_controls.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QTextEdit>
#include <QToolButton>
#include <QWidget>

#include "classlib/data/data_source.h"
#include "classlib/data/field.h"
#include "classlib/widgets/dialogs.h"
#include "classlib/widgets/edit_mask.h"
#include "classlib/widgets/form.h"
#include "classlib/widgets/keys.h"

namespace kavrin::classlib {
namespace {

bool Printable(char key) { return static_cast<unsigned char>(key) >= 32 || key == '\b'; }

// Puts the dataset into edit state for a control being typed into: the state's own notifications must
// not put the field's text back over the control's text and selection.
bool StartEdit(TFieldDataLink& link, bool& showing) {
  const bool old = showing;
  showing = true;
  bool editing = false;
  try {
    editing = link.Edit();
  } catch (...) {
    showing = old;
    throw;
  }
  showing = old;
  return editing;
}

// Writes the control's pending edit as the focus leaves it; a value the field refuses keeps the focus
// in the control, and the error goes on to the handler.
void WriteOrKeepFocus(TFieldDataLink& link, TWinControl& control) {
  try {
    link.UpdateRecord();
  } catch (...) {
    control.SetFocus();
    throw;
  }
}

}  // namespace

// --- TDBEdit --------------------------------------------------------------------------------------

TDBEdit::TDBEdit(TWinControl& parent) : TEdit(parent) {
  link_.OnDataChange = [this] { ApplyEditState(); };
  link_.OnEditingChange = [this] { ApplyEditState(); };
  link_.OnActiveChange = [this] { ApplyEditState(); };
  link_.OnUpdateData = [this] { WriteField(); };
  link_.OnFocusRequest = [this] { SetFocus(); };
  QObject::connect(LineEdit(), &QLineEdit::textEdited, LineEdit(), [this] { Guarded(this, [this] { UserEdited(); }); });
  ApplyEditState();
}

TDBEdit::~TDBEdit() { link_.SetDataSource(nullptr); }

void TDBEdit::SetReadOnly(bool value) {
  dbReadOnly_ = value;
  link_.SetReadOnly(value);
  ApplyEditState();
}

std::string TDBEdit::EditMask() const { return Field() ? Field()->EditMask() : std::string(); }

void TDBEdit::ApplyEditState() {
  if (showing_) return;
  const std::string mask = EditMask();
  if (mask != maskText_) {
    maskText_ = mask;
    mask_ = mask.empty() ? nullptr : std::make_unique<TEditMask>(mask);
    LineEdit()->setInputMask(mask_ ? QString::fromStdString(mask_->QtInputMask()) : QString());
  }
  if (Field() && Field()->DataType() == TFieldType::ftString) SetMaxLength(Field()->Size());
  TEdit::SetReadOnly(dbReadOnly_ || !link_.Active() || !link_.CanModify());
  ShowField();
}

void TDBEdit::ShowField() {
  if (showing_) return;
  showing_ = true;
  std::string text;
  if (TField* field = Field()) {
    const bool editing = link_.Editing() || Focused();
    text = mask_ ? mask_->Format(field->Text()) : (editing ? field->Text() : field->DisplayText());
  }
  settingText_ = true;
  LineEdit()->setText(QString::fromStdString(text));
  settingText_ = false;
  Modified = false;
  showing_ = false;
}

void TDBEdit::UserEdited() {
  if (showing_) return;
  if (!StartEdit(link_, showing_)) {
    ShowField();
    return;
  }
  link_.Modified();
  Modified = true;
}

void TDBEdit::WriteField() {
  TField* field = Field();
  if (!field) return;
  const std::string shown = LineEdit()->displayText().toStdString();
  field->SetText(mask_ ? mask_->FieldText(shown) : LineEdit()->text().toStdString());
}

void TDBEdit::KeyDown(Word& key, TShiftState shift) {
  TEdit::KeyDown(key, shift);
  if (key == VK_ESCAPE && link_.IsModified()) {
    link_.Reset();
    key = 0;
  } else if ((key == VK_DELETE || (key == VK_INSERT && shift.Shift)) && !link_.Edit()) {
    key = 0;
  }
}

void TDBEdit::KeyPress(char& key) {
  TEdit::KeyPress(key);
  if (key == 0 || !Printable(key)) return;
  TField* field = Field();
  if (field && key != '\b' && !field->IsValidChar(static_cast<unsigned char>(key))) {
    key = 0;
    return;
  }
  if (mask_ && key != '\b' &&
      !mask_->Accepts(static_cast<std::size_t>(LineEdit()->hasSelectedText() ? LineEdit()->selectionStart()
                                                                             : LineEdit()->cursorPosition()),
                      key)) {
    key = 0;
    return;
  }
  if (!StartEdit(link_, showing_)) key = 0;
}

void TDBEdit::DoExit() {
  WriteOrKeepFocus(link_, *this);
  ShowField();
  TEdit::DoExit();
}

// --- TDBMemo --------------------------------------------------------------------------------------

TDBMemo::TDBMemo(TWinControl& parent) : TMemo(parent) {
  link_.OnDataChange = [this] { ApplyEditState(); };
  link_.OnEditingChange = [this] { ApplyEditState(); };
  link_.OnActiveChange = [this] { ApplyEditState(); };
  link_.OnUpdateData = [this] {
    if (Field()) Field()->SetAsString(Caption());
  };
  link_.OnFocusRequest = [this] { SetFocus(); };
  QObject::connect(TextEdit(), &QTextEdit::textChanged, TextEdit(), [this] {
    Guarded(this, [this] {
      if (showing_) return;
      if (!StartEdit(link_, showing_)) {
        ShowField();
        return;
      }
      link_.Modified();
    });
  });
  ApplyEditState();
}

TDBMemo::~TDBMemo() { link_.SetDataSource(nullptr); }

void TDBMemo::SetReadOnly(bool value) {
  dbReadOnly_ = value;
  link_.SetReadOnly(value);
  ApplyEditState();
}

void TDBMemo::ApplyEditState() {
  if (showing_) return;
  TMemo::SetReadOnly(dbReadOnly_ || !link_.Active() || !link_.CanModify());
  ShowField();
}

void TDBMemo::ShowField() {
  if (showing_) return;
  showing_ = true;
  settingText_ = true;
  Lines().SetText(Field() ? Field()->AsString() : std::string());
  settingText_ = false;
  showing_ = false;
}

void TDBMemo::KeyDown(Word& key, TShiftState shift) {
  TMemo::KeyDown(key, shift);
  if (key == VK_ESCAPE && link_.IsModified()) {
    link_.Reset();
    key = 0;
  } else if (key == VK_DELETE && !link_.Edit()) {
    key = 0;
  }
}

void TDBMemo::KeyPress(char& key) {
  TMemo::KeyPress(key);
  if (key != 0 && (Printable(key) || key == '\r' || key == '\t') && !StartEdit(link_, showing_)) key = 0;
}

void TDBMemo::DoExit() {
  WriteOrKeepFocus(link_, *this);
  TMemo::DoExit();
}

// --- TDBComboBox ----------------------------------------------------------------------------------

TDBComboBox::TDBComboBox(TWinControl& parent) : TComboBox(parent) {
  link_.OnDataChange = [this] { ShowField(); };
  link_.OnActiveChange = [this] { ShowField(); };
  link_.OnUpdateData = [this] {
    if (Field()) Field()->SetText(Caption());
  };
  link_.OnFocusRequest = [this] { SetFocus(); };
  QObject::connect(Combo(), &QComboBox::activated, Combo(),
                   [this](int index) { Guarded(this, [this, index] { Choose(index); }); });
}

TDBComboBox::~TDBComboBox() { link_.SetDataSource(nullptr); }

void TDBComboBox::ShowField() {
  if (showing_) return;
  showing_ = true;
  const std::string text = Field() ? Field()->Text() : std::string();
  const int index = Items().IndexOf(text);
  if (Style() == TComboBoxStyle::csDropDownList) {
    SetItemIndex(index);
  } else {
    SetCaption(text);
  }
  showing_ = false;
}

void TDBComboBox::Choose(int index) {
  if (showing_) return;
  if (!link_.Edit()) {
    ShowField();
    return;
  }
  if (Combo()->currentIndex() != index) SetItemIndex(index);
  link_.Modified();
}

void TDBComboBox::DoExit() {
  WriteOrKeepFocus(link_, *this);
  TComboBox::DoExit();
}

// --- TDBImage -------------------------------------------------------------------------------------

TDBImage::TDBImage(TWinControl& parent) : TImage(parent) {
  link_.OnDataChange = [this] { ShowField(); };
  link_.OnActiveChange = [this] { ShowField(); };
  link_.OnUpdateData = [this] {
    if (!Field()) return;
    if (Picture().Empty()) {
      Field()->Clear();
    } else {
      Field()->SetAsString(Picture().SaveToBytes("BMP"));
    }
  };
}

TDBImage::~TDBImage() { link_.SetDataSource(nullptr); }

void TDBImage::ShowField() {
  TField* field = Field();
  if (!field || field->IsNull()) {
    Clear();
    return;
  }
  TBitmap picture;
  try {
    picture.LoadFromBytes(field->AsString());
  } catch (const std::exception&) {
    // Bytes that are no picture show as none, as an empty field does.
    picture = TBitmap();
  }
  SetPicture(picture);
}

void TDBImage::LoadPicture(const TBitmap& picture) {
  if (!link_.Edit()) return;
  SetPicture(picture);
  link_.Modified();
}

// --- TDBNavigator ---------------------------------------------------------------------------------

class TDBNavigator::Link : public TDataLink {
 public:
  explicit Link(TDBNavigator& navigator) : navigator_(navigator) {}

 protected:
  void ActiveChanged() override { navigator_.UpdateButtons(); }
  void DataSetChanged() override { navigator_.UpdateButtons(); }
  void EditingChanged() override { navigator_.UpdateButtons(); }

 private:
  TDBNavigator& navigator_;
};

namespace {

const char* const kNavHints[] = {"First record",  "Prior record", "Next record", "Last record", "Insert record",
                                 "Delete record", "Edit record",  "Post edit",   "Cancel edit", "Refresh data"};
const char* const kNavGlyphs[] = {"|<", "<", ">", ">|", "+", "-", "^", "\u2713", "x", "\u21bb"};

}  // namespace

TDBNavigator::TDBNavigator(TWinControl& parent)
    : TWinControl(ControlOwner(parent), &parent), link_(std::make_unique<Link>(*this)) {
  auto* box = new QWidget;
  Attach(box);
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    auto* button = new QToolButton(box);
    button->setFocusPolicy(Qt::NoFocus);
    button->setText(QString::fromUtf8(kNavGlyphs[i]));
    button->setToolTip(kNavHints[i]);
    const auto which = static_cast<TNavigateBtn>(i);
    QObject::connect(button, &QToolButton::clicked, button,
                     [this, which] { Guarded(this, [this, which] { BtnClick(which); }); });
    buttons_[i] = button;
    visible_.Include(which);
  }
  SetTabStop(false);
  SetBounds(0, 0, 240, 25);
  UpdateButtons();
}

TDBNavigator::~TDBNavigator() { link_->SetDataSource(nullptr); }

TDataSource* TDBNavigator::DataSource() const { return link_->DataSource(); }

void TDBNavigator::SetDataSource(TDataSource* source) {
  link_->SetDataSource(source);
  UpdateButtons();
}

void TDBNavigator::SetVisibleButtons(TButtonSet buttons) {
  visible_ = buttons;
  Layout();
}

void TDBNavigator::SetEnabled(bool enabled) {
  TWinControl::SetEnabled(enabled);
  UpdateButtons();
}

void TDBNavigator::Resized() {
  TWinControl::Resized();
  Layout();
}

void TDBNavigator::Layout() {
  int count = 0;
  for (std::size_t i = 0; i < buttons_.size(); ++i) count += visible_.Has(static_cast<TNavigateBtn>(i)) ? 1 : 0;
  const int width = count > 0 ? Width() / count : 0;
  int x = 0;
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    const bool shown = visible_.Has(static_cast<TNavigateBtn>(i));
    buttons_[i]->setVisible(shown);
    if (!shown) continue;
    buttons_[i]->setGeometry(x, 0, width, Height());
    x += width;
  }
}

bool TDBNavigator::ButtonEnabled(TNavigateBtn button) const {
  const TDataSet* ds = link_->DataSet();
  if (!Enabled() || !link_->Active() || !ds) return false;
  const bool editing = EditingState(ds->State());
  const bool canModify = ds->CanModify() && !link_->ReadOnly();
  switch (button) {
    case TNavigateBtn::nbFirst:
    case TNavigateBtn::nbPrior: return !ds->Bof();
    case TNavigateBtn::nbNext:
    case TNavigateBtn::nbLast: return !ds->Eof();
    case TNavigateBtn::nbInsert: return canModify;
    case TNavigateBtn::nbDelete: return canModify && !ds->IsEmpty();
    case TNavigateBtn::nbEdit: return canModify && !editing;
    case TNavigateBtn::nbPost:
    case TNavigateBtn::nbCancel: return editing;
    case TNavigateBtn::nbRefresh: return true;
  }
  return false;
}

void TDBNavigator::UpdateButtons() {
  for (std::size_t i = 0; i < buttons_.size(); ++i)
    buttons_[i]->setEnabled(ButtonEnabled(static_cast<TNavigateBtn>(i)));
  Layout();
}

void TDBNavigator::BtnClick(TNavigateBtn button) {
  TDataSet* ds = link_->DataSet();
  if (ds && link_->Active()) {
    switch (button) {
      case TNavigateBtn::nbFirst: ds->First(); break;
      case TNavigateBtn::nbPrior: ds->Prior(); break;
      case TNavigateBtn::nbNext: ds->Next(); break;
      case TNavigateBtn::nbLast: ds->Last(); break;
      case TNavigateBtn::nbInsert: ds->Insert(); break;
      case TNavigateBtn::nbDelete:
        if (!ConfirmDelete || MessageDlg(DeleteRecordQuestion, TMsgDlgType::mtConfirmation,
                                         {TMsgDlgBtn::mbOK, TMsgDlgBtn::mbCancel}) == mrOk) {
          ds->Delete();
        }
        break;
      case TNavigateBtn::nbEdit: ds->Edit(); break;
      case TNavigateBtn::nbPost: ds->Post(); break;
      case TNavigateBtn::nbCancel: ds->Cancel(); break;
      case TNavigateBtn::nbRefresh: ds->Refresh(); break;
    }
  }
  if (OnNavClick) OnNavClick(this, button);
}

}  // namespace kavrin::classlib
