#include "classlib/widgets/printer_choice.h"

#include <QPrinterInfo>
#include <utility>

namespace kavrin::classlib {

TPrinterChoice PrinterQueue(std::string queue) { return TPrinterChoice{std::move(queue), false, {}}; }

TPrinterChoice PrintFile(std::string fileName) {
  TPrinterChoice choice;
  choice.PrintToFile = true;
  choice.FileName = std::move(fileName);
  return choice;
}

TPrinterChoice& PrinterChoice() {
  static TPrinterChoice choice = PrinterQueue(QPrinterInfo::defaultPrinterName().toStdString());
  return choice;
}

}  // namespace kavrin::classlib
