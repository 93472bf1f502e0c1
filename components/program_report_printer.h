// A program's report printer, wired once: TReportWorks on a printer, a preview bitmap at the screen's
// resolution and the screen that word wrapping measures on, with the "Printing" dialog. The printer is
// the process printer, which prints on what the print and printer-setup dialogs chose, unless a test
// gives its recording one.
#pragma once

#include "classlib/data/component.h"
#include "components/print_device.h"
#include "components/qt_preview_device.h"
#include "components/qt_printer_device.h"
#include "components/rpt_works.h"

namespace kavrin::components::rptworks {

class ProgramReportPrinter {
 public:
  // owner owns each job's "Printing" dialog and may be null; printer must outlive this.
  explicit ProgramReportPrinter(classlib::TComponent* owner, TPrintDevice& printer = ProcessPrinter());
  ProgramReportPrinter(const ProgramReportPrinter&) = delete;
  ProgramReportPrinter& operator=(const ProgramReportPrinter&) = delete;

  TReportWorks& Report() { return report_; }
  QtPreviewDevice& Preview() { return preview_; }

 private:
  QtScreenDevice screen_;
  QtPreviewDevice preview_;
  TReportWorks report_;
};

}  // namespace kavrin::components::rptworks
