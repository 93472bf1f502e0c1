#include "classlib/widgets/std_controls.h"

#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextBlock>
#include <QTextEdit>
#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "classlib/widgets/form.h"

namespace kavrin::classlib {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

Qt::Alignment HorizontalAlignment(TAlignment a) {
  switch (a) {
    case TAlignment::taRightJustify: return Qt::AlignRight;
    case TAlignment::taCenter: return Qt::AlignHCenter;
    default: return Qt::AlignLeft;
  }
}

void MirrorItems(TStringItems& items, std::function<void(int)> inserted, std::function<void(int)> deleted,
                 std::function<void(int)> changed, std::function<void()> cleared) {
  items.OnChange.Inserted = std::move(inserted);
  items.OnChange.Deleted = std::move(deleted);
  items.OnChange.Changed = std::move(changed);
  items.OnChange.Cleared = std::move(cleared);
}

}  // namespace

std::string StripAccelerator(const std::string& caption) {
  std::string out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += caption[i];
  }
  return out;
}

// ---- TLabel

TLabel::TLabel(TWinControl& parent) : TControl(ControlOwner(parent), &parent) {
  label_ = new QLabel;
  label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Attach(label_);
  SetBounds(0, 0, 65, 13);
}

void TLabel::ApplyCaption() {
  label_->setText(Q(StripAccelerator(Caption())));
  Fit();
}

void TLabel::Fit() {
  if (!autoSize_ || wordWrap_) return;
  const QSize hint = label_->sizeHint();
  SetBounds(Left(), Top(), hint.width(), hint.height());
}

void TLabel::SetAlignment(TAlignment alignment) {
  alignment_ = alignment;
  label_->setAlignment(HorizontalAlignment(alignment) | Qt::AlignTop);
}

void TLabel::SetAutoSize(bool value) {
  autoSize_ = value;
  Fit();
}

void TLabel::SetWordWrap(bool value) {
  wordWrap_ = value;
  label_->setWordWrap(value);
}

void TLabel::SetTransparent(bool value) {
  transparent_ = value;
  ApplyColor();
}

void TLabel::ApplyColor() {
  if (transparent_) {
    label_->setAutoFillBackground(false);
    return;
  }
  TControl::ApplyColor();
}

void TLabel::ApplyFont() {
  TControl::ApplyFont();
  if (label_) Fit();
}

// ---- TButton

TButton::TButton(TWinControl& parent) : TWinControl(ControlOwner(parent), &parent) {
  button_ = new QPushButton;
  button_->setAutoDefault(false);
  Attach(button_);
  SetBounds(0, 0, 75, 25);
  QObject::connect(button_, &QPushButton::clicked, button_, [this] { Guarded(this, [this] { Click(); }); });
}

void TButton::ApplyCaption() { button_->setText(Q(Caption())); }

void TButton::SetDefault(bool value) {
  default_ = value;
  button_->setDefault(value);
  RegisterWithForm();
}

void TButton::SetCancel(bool value) {
  cancel_ = value;
  RegisterWithForm();
}

void TButton::RegisterWithForm() {
  if (TForm* form = ParentForm()) form->SetDialogButton(this, default_, cancel_);
}

void TButton::JoinForm(TForm& form) {
  TWinControl::JoinForm(form);
  if (default_ || cancel_) form.SetDialogButton(this, default_, cancel_);
}

void TButton::KeyDown(Word& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  if (key == VK_RETURN && shift.NoKeyModifier()) {
    key = 0;
    Click();
  }
}

void TButton::Click() {
  if (TForm* form = ParentForm()) {
    form->ButtonPressed(ModalResult, [this] { TControl::Click(); });
  } else {
    TControl::Click();
  }
}

// ---- TCustomEdit

TCustomEdit::TCustomEdit(TWinControl& parent, bool) : TWinControl(ControlOwner(parent), &parent) {}

void TCustomEdit::Changed() {
  if (!settingText_) Modified = true;
  if (OnChange) OnChange(this);
}

void TCustomEdit::ApplyColor() {
  if (!Widget()) return;
  QPalette pal = Widget()->palette();
  pal.setColor(QPalette::Base, ToQColor(Color()));
  Widget()->setPalette(pal);
}

// ---- TEdit

TEdit::TEdit(TWinControl& parent) : TCustomEdit(parent, false) {
  edit_ = new QLineEdit;
  Attach(edit_);
  SetBounds(0, 0, 121, 21);
  SetColor(clWindow);
  QObject::connect(edit_, &QLineEdit::textChanged, edit_, [this] { Guarded(this, [this] { Changed(); }); });
}

std::string TEdit::Caption() const { return edit_->text().toStdString(); }

void TEdit::ApplyCaption() {
  std::string text = TControl::Caption();
  if (charCase_ != TEditCharCase::ecNormal) {
    for (char& c : text) {
      c = static_cast<char>(charCase_ == TEditCharCase::ecUpperCase ? std::toupper(static_cast<unsigned char>(c))
                                                                    : std::tolower(static_cast<unsigned char>(c)));
    }
  }
  settingText_ = true;
  edit_->setText(Q(text));
  settingText_ = false;
  Modified = false;
}

void TEdit::SetMaxLength(int value) {
  maxLength_ = std::max(0, value);
  edit_->setMaxLength(maxLength_ == 0 ? 32767 : maxLength_);
}

void TEdit::SetReadOnly(bool value) {
  readOnly_ = value;
  edit_->setReadOnly(value);
}

void TEdit::SetPasswordChar(char value) {
  passwordChar_ = value;
  edit_->setEchoMode(value ? QLineEdit::Password : QLineEdit::Normal);
}

void TEdit::SetCharCase(TEditCharCase value) {
  charCase_ = value;
  SetCaption(Caption());
}

void TEdit::KeyPress(char& key) {
  TWinControl::KeyPress(key);
  if (key == 0) return;
  if (charCase_ == TEditCharCase::ecUpperCase) key = static_cast<char>(std::toupper(static_cast<unsigned char>(key)));
  if (charCase_ == TEditCharCase::ecLowerCase) key = static_cast<char>(std::tolower(static_cast<unsigned char>(key)));
}

int TEdit::SelStart() const { return edit_->hasSelectedText() ? edit_->selectionStart() : edit_->cursorPosition(); }
void TEdit::SetSelStart(int value) { edit_->setCursorPosition(value); }
int TEdit::SelLength() const { return static_cast<int>(edit_->selectedText().size()); }
void TEdit::SetSelLength(int value) { edit_->setSelection(SelStart(), value); }
std::string TEdit::SelText() const { return edit_->selectedText().toStdString(); }
void TEdit::SetSelText(const std::string& text) { edit_->insert(Q(text)); }
void TEdit::SelectAll() { edit_->selectAll(); }
void TEdit::CutToClipboard() {
  if (!readOnly_) edit_->cut();
}
void TEdit::CopyToClipboard() { edit_->copy(); }
void TEdit::PasteFromClipboard() {
  if (!readOnly_) edit_->paste();
}
void TEdit::ClearSelection() {
  if (edit_->hasSelectedText() && !readOnly_) edit_->del();
}

// ---- TMemo

int TMemoLines::Count() const {
  if (memo_.TextEdit()->document()->isEmpty()) return 0;
  return memo_.TextEdit()->document()->blockCount();
}

std::string TMemoLines::Strings(int index) const {
  if (index < 0 || index >= Count())
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  return memo_.TextEdit()->document()->findBlockByNumber(index).text().toStdString();
}

void TMemoLines::Add(const std::string& line) {
  QTextEdit* edit = memo_.TextEdit();
  if (edit->document()->isEmpty()) {
    edit->setPlainText(Q(line));
    return;
  }
  QTextCursor cursor(edit->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertBlock();
  cursor.insertText(Q(line));
}

void TMemoLines::Clear() { memo_.TextEdit()->clear(); }
std::string TMemoLines::Text() const {
  std::string out;
  for (int i = 0; i < Count(); ++i) out += Strings(i) + "\r\n";
  return out;
}
void TMemoLines::SetText(const std::string& text) { memo_.SetCaption(text); }

void TMemoLines::LoadFromFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot open file " + fileName);
  std::ostringstream all;
  all << in.rdbuf();
  memo_.SetCaption(all.str());
}

void TMemoLines::SaveToFile(const std::string& fileName) const {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("Cannot create file " + fileName);
  out << Text();
  if (!out) throw std::runtime_error("Cannot write file " + fileName);
}

TMemo::TMemo(TWinControl& parent) : TCustomEdit(parent, true), lines_(*this) {
  edit_ = new QTextEdit;
  edit_->setAcceptRichText(false);
  edit_->setTabChangesFocus(true);
  Attach(edit_);
  RegisterPart(edit_->viewport());
  SetBounds(0, 0, 185, 89);
  SetColor(clWindow);
  SetScrollBars(TScrollStyle::ssNone);
  QObject::connect(edit_, &QTextEdit::textChanged, edit_, [this] { Guarded(this, [this] { Changed(); }); });
}

QWidget* TMemo::MouseWidget() const { return edit_->viewport(); }

std::string TMemo::Caption() const {
  std::string text = edit_->toPlainText().toStdString();
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

void TMemo::ApplyCaption() {
  std::string text;
  const std::string& in = TControl::Caption();
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\r') {
      text += '\n';
      if (i + 1 < in.size() && in[i + 1] == '\n') ++i;
    } else {
      text += in[i];
    }
  }
  settingText_ = true;
  edit_->setPlainText(Q(text));
  settingText_ = false;
  SetAlignment(alignment_);
  Modified = false;
}

void TMemo::SetMaxLength(int value) { maxLength_ = std::max(0, value); }

void TMemo::SetReadOnly(bool value) {
  readOnly_ = value;
  edit_->setReadOnly(value);
}

void TMemo::SetWordWrap(bool value) {
  wordWrap_ = value;
  edit_->setLineWrapMode(value ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
}

void TMemo::SetWantTabs(bool value) {
  wantTabs_ = value;
  edit_->setTabChangesFocus(!value);
}

void TMemo::SetScrollBars(TScrollStyle value) {
  scrollBars_ = value;
  const bool h = value == TScrollStyle::ssHorizontal || value == TScrollStyle::ssBoth;
  const bool v = value == TScrollStyle::ssVertical || value == TScrollStyle::ssBoth;
  edit_->setHorizontalScrollBarPolicy(h ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  edit_->setVerticalScrollBarPolicy(v ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void TMemo::SetAlignment(TAlignment value) {
  alignment_ = value;
  QTextOption option = edit_->document()->defaultTextOption();
  option.setAlignment(HorizontalAlignment(value));
  edit_->document()->setDefaultTextOption(option);
  QTextCursor all(edit_->document());
  all.select(QTextCursor::Document);
  QTextBlockFormat format;
  format.setAlignment(HorizontalAlignment(value));
  all.mergeBlockFormat(format);
}

int TMemo::SelStart() const { return edit_->textCursor().selectionStart(); }
void TMemo::SetSelStart(int value) {
  QTextCursor c = edit_->textCursor();
  c.setPosition(std::clamp(value, 0, static_cast<int>(edit_->document()->characterCount()) - 1));
  edit_->setTextCursor(c);
}
int TMemo::SelLength() const {
  const QTextCursor c = edit_->textCursor();
  return c.selectionEnd() - c.selectionStart();
}
void TMemo::SetSelLength(int value) {
  QTextCursor c = edit_->textCursor();
  const int start = c.selectionStart();
  c.setPosition(start);
  c.setPosition(std::clamp(start + value, 0, static_cast<int>(edit_->document()->characterCount()) - 1),
                QTextCursor::KeepAnchor);
  edit_->setTextCursor(c);
}
std::string TMemo::SelText() const {
  return edit_->textCursor().selectedText().replace(QChar(0x2029), "\r\n").toStdString();
}
void TMemo::SetSelText(const std::string& text) {
  QString t = Q(text);
  t.replace("\r\n", "\n");
  edit_->textCursor().insertText(t);
}
void TMemo::SelectAll() { edit_->selectAll(); }
void TMemo::CutToClipboard() {
  if (!readOnly_) edit_->cut();
}
void TMemo::CopyToClipboard() { edit_->copy(); }
void TMemo::PasteFromClipboard() {
  if (!readOnly_) edit_->paste();
}
void TMemo::ClearSelection() {
  if (!readOnly_) edit_->textCursor().removeSelectedText();
}

void TMemo::KeyDown(Word& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  // Enter goes to the form's default button when the memo does not take returns.
  if (key == VK_RETURN && !WantReturns) key = 0;
}

// ---- TCheckBox

class CheckBoxWidget : public QCheckBox {
 public:
  explicit CheckBoxWidget(TCheckBox* owner) : owner_(owner) {}

 protected:
  void nextCheckState() override {
    Guarded(owner_, [this] { owner_->Toggle(); });
  }

 private:
  TCheckBox* owner_;
};

TCheckBox::TCheckBox(TWinControl& parent) : TWinControl(ControlOwner(parent), &parent) {
  box_ = new CheckBoxWidget(this);
  Attach(box_);
  SetBounds(0, 0, 97, 17);
}

void TCheckBox::ApplyCaption() { box_->setText(Q(Caption())); }

void TCheckBox::SetState(TCheckBoxState state) {
  if (state == TCheckBoxState::cbGrayed && !AllowGrayed) box_->setTristate(true);
  const Qt::CheckState q = state == TCheckBoxState::cbChecked  ? Qt::Checked
                           : state == TCheckBoxState::cbGrayed ? Qt::PartiallyChecked
                                                               : Qt::Unchecked;
  box_->setCheckState(q);
  if (state == state_) return;
  state_ = state;
  Click();
}

void TCheckBox::Toggle() {
  switch (state_) {
    case TCheckBoxState::cbUnchecked:
      SetState(AllowGrayed ? TCheckBoxState::cbGrayed : TCheckBoxState::cbChecked);
      break;
    case TCheckBoxState::cbChecked: SetState(TCheckBoxState::cbUnchecked); break;
    case TCheckBoxState::cbGrayed: SetState(TCheckBoxState::cbChecked); break;
  }
}

// ---- TRadioButton

TRadioButton::TRadioButton(TWinControl& parent) : TWinControl(ControlOwner(parent), &parent) {
  button_ = new QRadioButton;
  Attach(button_);
  SetBounds(0, 0, 113, 17);
  QObject::connect(button_, &QRadioButton::toggled, button_, [this](bool on) {
    if (on && !setting_) Guarded(this, [this] { Click(); });
  });
}

void TRadioButton::ApplyCaption() { button_->setText(Q(Caption())); }
bool TRadioButton::Checked() const { return button_->isChecked(); }
void TRadioButton::SetChecked(bool value) {
  setting_ = true;
  button_->setChecked(value);
  setting_ = false;
  if (value) Click();
}

// ---- TGroupBox

TGroupBox::TGroupBox(TWinControl& parent) : TWinControl(ControlOwner(parent), &parent) {
  box_ = new QGroupBox;
  Attach(box_);
  SetBounds(0, 0, 185, 105);
}

void TGroupBox::ApplyCaption() { box_->setTitle(Q(Caption())); }

// ---- TRadioGroup

TRadioGroup::TRadioGroup(TWinControl& parent) : TWinControl(ControlOwner(parent), &parent) {
  box_ = new QGroupBox;
  Attach(box_);
  SetBounds(0, 0, 185, 105);
  auto rebuild = [this](int) { Rebuild(); };
  MirrorItems(items_, rebuild, rebuild, rebuild, [this] { Rebuild(); });
}

TRadioGroup::~TRadioGroup() { items_.OnChange = {}; }

void TRadioGroup::ApplyCaption() { box_->setTitle(Q(Caption())); }

void TRadioGroup::Rebuild() {
  for (QRadioButton* b : buttons_) delete b;
  buttons_.clear();
  for (int i = 0; i < items_.Count(); ++i) {
    auto* b = new QRadioButton(Q(items_.Strings(i)), box_);
    b->setChecked(i == itemIndex_);
    QObject::connect(b, &QRadioButton::toggled, b, [this, i](bool on) {
      if (on && !setting_) Guarded(this, [this, i] { SetItemIndex(i); });
    });
    RegisterPart(b);
    buttons_.push_back(b);
    b->show();
  }
  if (itemIndex_ >= items_.Count()) itemIndex_ = -1;
  Resized();
}

void TRadioGroup::Resized() {
  const int n = static_cast<int>(buttons_.size());
  if (n > 0) {
    const int cols = std::max(1, columns_);
    const int rows = (n + cols - 1) / cols;
    const int top = 16;
    const int w = std::max(1, (Width() - 16) / cols);
    const int h = std::max(1, (Height() - top - 6) / rows);
    for (int i = 0; i < n; ++i) {
      buttons_[static_cast<std::size_t>(i)]->setGeometry(8 + (i / rows) * w, top + (i % rows) * h, w, std::min(h, 20));
    }
  }
  TWinControl::Resized();
}

void TRadioGroup::SetItemIndex(int index) {
  if (index < -1 || index >= items_.Count()) index = -1;
  const bool changed = index != itemIndex_;
  itemIndex_ = index;
  setting_ = true;
  for (int i = 0; i < static_cast<int>(buttons_.size()); ++i) {
    QRadioButton* b = buttons_[static_cast<std::size_t>(i)];
    b->setAutoExclusive(false);
    b->setChecked(i == index);
    b->setAutoExclusive(true);
  }
  setting_ = false;
  if (changed) Click();
}

void TRadioGroup::SetColumns(int columns) {
  columns_ = std::clamp(columns, 1, 16);
  Resized();
}

// ---- TComboBox

TComboBox::TComboBox(TWinControl& parent) : TWinControl(ControlOwner(parent), &parent) {
  combo_ = new QComboBox;
  combo_->setInsertPolicy(QComboBox::NoInsert);
  Attach(combo_);
  SetBounds(0, 0, 145, 21);
  SetStyle(TComboBoxStyle::csDropDown);
  SetColor(clWindow);
  MirrorItems(
      items_,
      [this](int i) {
        setting_ = true;
        combo_->insertItem(i, Q(items_.Strings(i)));
        setting_ = false;
      },
      [this](int i) {
        setting_ = true;
        combo_->removeItem(i);
        setting_ = false;
      },
      [this](int i) { combo_->setItemText(i, Q(items_.Strings(i))); },
      [this] {
        setting_ = true;
        const QString t = combo_->currentText();
        combo_->clear();
        if (combo_->isEditable()) combo_->setEditText(t);
        setting_ = false;
      });
  QObject::connect(combo_, &QComboBox::activated, combo_, [this](int) {
    Guarded(this, [this] {
      if (OnChange) OnChange(this);
      Click();
    });
  });
  QObject::connect(combo_, &QComboBox::editTextChanged, combo_, [this](const QString&) {
    if (!setting_ && combo_->isEditable())
      Guarded(this, [this] {
        if (OnChange) OnChange(this);
      });
  });
}

TComboBox::~TComboBox() { items_.OnChange = {}; }

void TComboBox::SetStyle(TComboBoxStyle style) {
  style_ = style;
  const bool editable = style == TComboBoxStyle::csDropDown || style == TComboBoxStyle::csSimple;
  setting_ = true;
  combo_->setEditable(editable);
  setting_ = false;
  if (editable && combo_->lineEdit()) RegisterPart(combo_->lineEdit());
}

int TComboBox::ItemIndex() const {
  const int i = combo_->currentIndex();
  if (i >= 0 && combo_->isEditable() && combo_->currentText() != combo_->itemText(i)) return -1;
  return i;
}

void TComboBox::SetItemIndex(int index) {
  setting_ = true;
  combo_->setCurrentIndex(index >= 0 && index < items_.Count() ? index : -1);
  if (index < 0 && combo_->isEditable()) combo_->setEditText(QString());
  setting_ = false;
}

std::string TComboBox::Caption() const { return combo_->currentText().toStdString(); }

void TComboBox::ApplyCaption() {
  setting_ = true;
  if (combo_->isEditable()) {
    combo_->setEditText(Q(TControl::Caption()));
  } else {
    combo_->setCurrentIndex(combo_->findText(Q(TControl::Caption())));
  }
  setting_ = false;
}

void TComboBox::SetMaxLength(int value) {
  if (combo_->lineEdit()) combo_->lineEdit()->setMaxLength(value <= 0 ? 32767 : value);
}

void TComboBox::ApplyColor() {
  QPalette pal = combo_->palette();
  pal.setColor(QPalette::Base, ToQColor(Color()));
  combo_->setPalette(pal);
}

// ---- TListBox

class ListBoxDelegate : public QStyledItemDelegate {
 public:
  explicit ListBoxDelegate(TListBox* owner) : owner_(owner) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (owner_->style_ == TListBoxStyle::lbStandard || !owner_->OnDrawItem) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    TOwnerDrawState state;
    if (option.state & QStyle::State_Selected) state.Include(TOwnerDrawStateItem::odSelected);
    if (option.state & QStyle::State_HasFocus) state.Include(TOwnerDrawStateItem::odFocused);
    if (!(option.state & QStyle::State_Enabled)) state.Include(TOwnerDrawStateItem::odDisabled);
    const TRect rect = Bounds(option.rect.x(), option.rect.y(), option.rect.width(), option.rect.height());
    TCanvas& canvas = owner_->canvas_;
    canvas.Attach(painter);
    const bool selected = state.Has(TOwnerDrawStateItem::odSelected);
    canvas.Brush.Color = selected ? clHighlight : owner_->Color();
    canvas.Brush.Style = TBrushStyle::bsSolid;
    canvas.Font.Assign(owner_->Font());
    canvas.Font.SetColor(selected ? clHighlightText : owner_->Font().Color());
    Guarded(owner_, [&] { owner_->OnDrawItem(owner_, index.row(), rect, state); });
    canvas.Detach();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (owner_->style_ == TListBoxStyle::lbOwnerDrawFixed) return QSize(option.rect.width(), owner_->itemHeight_);
    return QStyledItemDelegate::sizeHint(option, index);
  }

 private:
  TListBox* owner_;
};

TListBox::TListBox(TWinControl& parent) : TWinControl(ControlOwner(parent), &parent) {
  list_ = new QListWidget;
  auto* delegate = new ListBoxDelegate(this);
  delegate->setParent(list_);
  list_->setItemDelegate(delegate);
  list_->setUniformItemSizes(true);
  Attach(list_);
  RegisterPart(list_->viewport());
  SetBounds(0, 0, 121, 97);
  SetColor(clWindow);
  ApplySelectionMode();
  MirrorItems(
      items_, [this](int i) { list_->insertItem(i, Q(items_.Strings(i))); },
      [this](int i) { delete list_->takeItem(i); }, [this](int i) { list_->item(i)->setText(Q(items_.Strings(i))); },
      [this] { list_->clear(); });
  QObject::connect(list_, &QListWidget::itemSelectionChanged, list_, [this] { Guarded(this, [this] { Click(); }); });
}

TListBox::~TListBox() { items_.OnChange = {}; }

QWidget* TListBox::MouseWidget() const { return list_->viewport(); }

void TListBox::ApplySelectionMode() {
  if (!multiSelect_) {
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
  } else {
    list_->setSelectionMode(extendedSelect_ ? QAbstractItemView::ExtendedSelection : QAbstractItemView::MultiSelection);
  }
}

void TListBox::SetMultiSelect(bool value) {
  multiSelect_ = value;
  ApplySelectionMode();
}

void TListBox::SetExtendedSelect(bool value) {
  extendedSelect_ = value;
  ApplySelectionMode();
}

int TListBox::ItemIndex() const { return list_->currentRow(); }

void TListBox::SetItemIndex(int index) {
  if (index < 0 || index >= items_.Count()) {
    list_->setCurrentRow(-1);
    list_->clearSelection();
    return;
  }
  if (multiSelect_) {
    list_->setCurrentRow(index, QItemSelectionModel::Current);
  } else {
    list_->setCurrentRow(index);
  }
}

bool TListBox::Selected(int index) const {
  QListWidgetItem* item = list_->item(index);
  if (!item) throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  return item->isSelected();
}

void TListBox::SetSelected(int index, bool value) {
  QListWidgetItem* item = list_->item(index);
  if (!item) throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  if (!multiSelect_ && value) list_->clearSelection();
  item->setSelected(value);
}

int TListBox::SelCount() const { return multiSelect_ ? static_cast<int>(list_->selectedItems().size()) : -1; }

void TListBox::SetStyle(TListBoxStyle style) {
  style_ = style;
  list_->doItemsLayout();
}

void TListBox::SetItemHeight(int value) {
  itemHeight_ = std::max(1, value);
  list_->doItemsLayout();
}

int TListBox::TopIndex() const {
  QListWidgetItem* item = list_->itemAt(2, 2);
  return item ? list_->row(item) : 0;
}

void TListBox::SetTopIndex(int index) {
  if (QListWidgetItem* item = list_->item(index)) list_->scrollToItem(item, QAbstractItemView::PositionAtTop);
}

int TListBox::ItemAtPos(TPoint pos, bool existing) const {
  if (QListWidgetItem* item = list_->itemAt(pos.X, pos.Y)) return list_->row(item);
  return existing ? -1 : items_.Count();
}

TRect TListBox::ItemRect(int index) const {
  QListWidgetItem* item = list_->item(index);
  if (!item) return TRect{};
  const QRect r = list_->visualItemRect(item);
  return Bounds(r.x(), r.y(), r.width(), r.height());
}

void TListBox::ApplyColor() {
  QPalette pal = list_->palette();
  pal.setColor(QPalette::Base, ToQColor(Color()));
  list_->setPalette(pal);
}

}  // namespace kavrin::classlib
