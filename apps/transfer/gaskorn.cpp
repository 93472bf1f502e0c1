// GASKORN's program block.
#include "apps/transfer/about_box.h"
#include "apps/transfer/main_form.h"
#include "classlib/widgets/application.h"

int main(int argc, char** argv) {
  using namespace kavrin;
  classlib::TApplication application(argc, argv);
  application.SetTitle(transfer::MainFormCaption);
  application.HelpFile = transfer::HelpFileName;
  auto* mainForm = application.CreateForm<transfer::TMainForm>();
  mainForm->AboutBox = application.CreateForm<transfer::TAboutBox>();
  application.Run();
  return 0;
}
