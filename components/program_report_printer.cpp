#include "components/program_report_printer.h"

#include "components/abort_form.h"

namespace kavrin::components::rptworks {

ProgramReportPrinter::ProgramReportPrinter(classlib::TComponent* owner, TPrintDevice& printer)
    : preview_(screen_.PixelsPerInch()), report_(printer, preview_, screen_, AbortFormFactory(owner)) {}

}  // namespace kavrin::components::rptworks
