// The printer on Qt: every job is rendered into a temporary PDF at 600 pixels per inch and delivered
// at its end: onto the file the port names, else onto the file chosen to print to, else to a print
// queue through "lp", else, with no queue, into a new PDF in $XDG_DOCUMENTS_DIR (else $HOME) named
// from the title, never over an existing file. A cancelled or failed job leaves no file and an
// existing output file untouched. Drawing starts at the printable area: the printing offset is the
// queue's minimum margins, 0 for PDF.
#pragma once

#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <memory>
#include <string>

#include "classlib/widgets/printer_choice.h"
#include "components/print_device.h"
#include "components/qt_print_canvas.h"

namespace kavrin::components::rptworks {

class QtPrinterDevice : public TPrintDevice {
 public:
  // queue empty: no printer, PDF on Letter paper.
  explicit QtPrinterDevice(std::string queue);
  // A printer that takes up what is chosen in choice (the print and setup dialogs' choice) whenever no
  // job runs; choice must outlive it.
  explicit QtPrinterDevice(const classlib::TPrinterChoice& choice);
  ~QtPrinterDevice() override;
  // Refused while a job runs; a printer that follows a choice takes the choice's queue again when next
  // used.
  void SetQueue(std::string queue);
  const std::string& Queue() const { return queue_; }

  std::int32_t PixelsPerInchX() override { return kResolution; }
  std::int32_t PixelsPerInchY() override { return kResolution; }
  TPoint PhysicalPageSize() override;
  TPoint PrintingOffset() override;
  std::string DeviceName() override;
  // The file set as port, the file chosen to print to, the queue, or the PDF a printer-less job would
  // write now.
  std::string Port() override;
  void SetPort(const std::string& port) override;
  void SetTitle(const std::string& title) override { title_ = title; }
  // A change is refused while a job runs: its sheets keep the orientation it started with.
  void SetOrientation(TPrinterOrientation orientation) override;
  void BeginDoc() override;
  void NewPage() override;
  void EndDoc() override;
  void Abort() override;
  bool Printing() override { return writer_ != nullptr; }
  TDeviceCanvas& Canvas() override { return canvas_; }

  // The file name a printer-less job with this title gets: "/" and control characters as "_".
  static std::string PdfNameOf(const std::string& title);

 private:
  static constexpr std::int32_t kResolution = 600;
  bool Landscape() const { return orientation_ == TPrinterOrientation::poLandscape; }
  void LoadQueue(std::string queue);
  // Takes up the followed choice; a running job keeps what it started with.
  void Follow();
  // The file this job goes to instead of a queue: the port set, else the file chosen; empty for none.
  const std::string& FileTarget() const { return port_.empty() ? chosen_file_ : port_; }
  std::string NoQueuePath() const;
  void Discard() noexcept;

  std::string queue_;
  QPageSize page_size_;
  TPoint portrait_offset_;
  const classlib::TPrinterChoice* choice_ = nullptr;
  std::string chosen_file_;  // the choice's file to print to
  std::string port_;         // a file to print to, set as port; empty: as chosen
  std::string last_default_port_;
  std::string title_;
  TPrinterOrientation orientation_ = TPrinterOrientation::poPortrait;
  std::string temp_path_;
  std::unique_ptr<QPdfWriter> writer_;
  QPainter painter_;
  QtPrintCanvas canvas_;
};

// The process-wide printer: it prints on the process's printer choice (classlib::PrinterChoice()).
QtPrinterDevice& ProcessPrinter();

}  // namespace kavrin::components::rptworks
