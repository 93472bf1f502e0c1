#include "components/abort_form.h"

#include <QPointer>
#include <QWidget>

namespace kavrin::components::rptworks {

namespace {

constexpr int kClientWidth = 300;
constexpr int kLineHeight = 16;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

classlib::TLabel* CentredLine(classlib::TForm& form, const char* name, int top) {
  auto* label = new classlib::TLabel(form);
  label->Name = name;
  label->SetAutoSize(false);
  label->SetAlignment(classlib::TAlignment::taCenter);
  label->SetBounds(8, top, kClientWidth - 16, kLineHeight);
  return label;
}

// Owns one form for the report and frees it the way its owner would. The owner may free the form first
// (a report left open when its form goes): the form's window going tells that it is gone.
class AbortFormDialog : public TPrintingDialog {
 public:
  explicit AbortFormDialog(TAbortForm* form) : form_(form), window_(form->Widget()) {}
  ~AbortFormDialog() override {
    if (window_) classlib::Free(form_);
  }
  AbortFormDialog(const AbortFormDialog&) = delete;
  AbortFormDialog& operator=(const AbortFormDialog&) = delete;

  void Show(const std::string& label1, const std::string& label2, const std::string& label3) override {
    if (!window_) return;
    form_->Label1->SetCaption(label1);
    form_->Label2->SetCaption(label2);
    form_->Label3->SetCaption(label3);
    form_->Show();
  }
  void SetLabel1(const std::string& text) override {
    if (window_) form_->Label1->SetCaption(text);
  }

 private:
  TAbortForm* form_;
  QPointer<QWidget> window_;
};

}  // namespace

TAbortForm::TAbortForm(classlib::TComponent* owner, TPrintDevice& printer) : TForm(owner), printer_(printer) {
  Name = "AbortForm";
  SetCaption("Printing");
  // Sized before the border style, which fixes the size; without a menu the client is the window.
  SetWidth(kClientWidth);
  SetHeight(4 * kLineHeight + kButtonHeight + 24);
  SetBorderStyle(classlib::TFormBorderStyle::bsDialog);
  SetBorderIcons({});
  SetPosition(classlib::TPosition::poScreenCenter);
  Label1 = CentredLine(*this, "Label1", 8);
  Label2 = CentredLine(*this, "Label2", 8 + kLineHeight);
  Label3 = CentredLine(*this, "Label3", 8 + 2 * kLineHeight);
  BitBtn1 = new classlib::TButton(*this);
  BitBtn1->Name = "BitBtn1";
  BitBtn1->SetCaption("&Cancel");
  BitBtn1->ModalResult = classlib::mrCancel;
  BitBtn1->SetCancel(true);
  BitBtn1->SetBounds((kClientWidth - kButtonWidth) / 2, 16 + 3 * kLineHeight, kButtonWidth, kButtonHeight);
  BitBtn1->OnClick = [this](classlib::TComponent* sender) { BitBtn1Click(sender); };
}

void TAbortForm::BitBtn1Click(classlib::TComponent*) {
  if (printer_.Printing()) printer_.Abort();
}

TReportWorks::TPrintingDialogFactory AbortFormFactory(classlib::TComponent* owner) {
  return [owner](TPrintDevice& printer) -> std::unique_ptr<TPrintingDialog> {
    return std::make_unique<AbortFormDialog>(classlib::TForm::Create<TAbortForm>(owner, printer));
  };
}

}  // namespace kavrin::components::rptworks
