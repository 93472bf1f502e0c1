// TAbortForm (unit Abortfrm): the modeless "Printing" dialog a printer or file report shows while it
// runs: three centred lines (page, title, device and port) and Cancel, which aborts the printer's job
// so that the report stops at its next page step.
#pragma once

#include <memory>

#include "classlib/widgets/form.h"
#include "classlib/widgets/std_controls.h"
#include "components/print_device.h"
#include "components/rpt_works.h"

namespace kavrin::components::rptworks {

class TAbortForm : public classlib::TForm {
 public:
  TAbortForm(classlib::TComponent* owner, TPrintDevice& printer);

  // Aborts the printer's job when the printer is printing.
  void BitBtn1Click(classlib::TComponent* sender);

  classlib::TLabel* Label1;
  classlib::TLabel* Label2;
  classlib::TLabel* Label3;
  classlib::TButton* BitBtn1;

 private:
  TPrintDevice& printer_;
};

// The report's dialog factory: each report job gets a new TAbortForm for its printer, shown at the
// job's start and freed once at its end. owner may be null.
TReportWorks::TPrintingDialogFactory AbortFormFactory(classlib::TComponent* owner = nullptr);

}  // namespace kavrin::components::rptworks
