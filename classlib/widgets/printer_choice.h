// The printer the print and printer-setup dialogs choose, and the one the next report prints on: a
// print queue, or, printing to a file, the file's name. One per process, like the class library's
// printer object; the dialogs change it only when accepted.
#pragma once

#include <string>

namespace kavrin::classlib {

struct TPrinterChoice {
  // Empty: no queue, a job becomes a PDF in the documents folder.
  std::string Queue;
  bool PrintToFile = false;
  // The file a job is written to while PrintToFile holds.
  std::string FileName;
  bool operator==(const TPrinterChoice&) const = default;
};

TPrinterChoice PrinterQueue(std::string queue);
TPrinterChoice PrintFile(std::string fileName);

// The process's choice, first set to the system's default queue.
TPrinterChoice& PrinterChoice();

}  // namespace kavrin::classlib
