// The printer on Qt: every job is rendered into a temporary PDF at 600 pixels per inch and delivered
// at its end: to a print queue through "lp", onto the file the port names, or, with no queue, into a
// new PDF in $XDG_DOCUMENTS_DIR (else $HOME) named from the title, never over an existing file. A
// cancelled or failed job leaves no file and an existing output file untouched. Drawing starts at the
// printable area: the printing offset is the queue's minimum margins, 0 for PDF.
#pragma once

#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <memory>
#include <string>

#include "components/print_device.h"
#include "components/qt_print_canvas.h"

namespace kavrin::components::rptworks {

class QtPrinterDevice : public TPrintDevice {
 public:
  // The system's default queue, empty when there is none.
  static std::string DefaultQueue();
  // queue empty: no printer, PDF on Letter paper.
  explicit QtPrinterDevice(std::string queue);
  ~QtPrinterDevice() override;
  // What the print and setup dialogs choose; refused while a job runs.
  void SetQueue(std::string queue);
  const std::string& Queue() const { return queue_; }

  std::int32_t PixelsPerInchX() override { return kResolution; }
  std::int32_t PixelsPerInchY() override { return kResolution; }
  TPoint PhysicalPageSize() override;
  TPoint PrintingOffset() override;
  std::string DeviceName() override;
  // The queue, the file set as port, or the PDF a printer-less job would write now.
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
  std::string NoQueuePath() const;
  void Discard() noexcept;

  std::string queue_;
  QPageSize page_size_;
  TPoint portrait_offset_;
  std::string port_;  // a file to print to; empty: the queue or the documents folder
  std::string last_default_port_;
  std::string title_;
  TPrinterOrientation orientation_ = TPrinterOrientation::poPortrait;
  std::string temp_path_;
  std::unique_ptr<QPdfWriter> writer_;
  QPainter painter_;
  QtPrintCanvas canvas_;
};

// The process-wide printer: created on first use on the system's default queue, else PDF on Letter.
QtPrinterDevice& ProcessPrinter();

}  // namespace kavrin::components::rptworks
