#include "components/qt_printer_device.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QMarginsF>
#include <QPageLayout>
#include <QPrinter>
#include <QPrinterInfo>
#include <cerrno>
#include <cmath>
#include <vector>

extern char** environ;

namespace kavrin::components::rptworks {

namespace {

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0 || errno != ENOENT; }

// Starts lp with an argument vector and waits for it; false when it cannot run or fails.
bool RunLp(const std::string& queue, const std::string& title, const std::string& file) {
  std::vector<std::string> args{"lp", "-d", queue, "-t", title.empty() ? "Untitled" : title, "--", file};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "lp", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

QtPrinterDevice::QtPrinterDevice(std::string queue) : page_size_(QPageSize::Letter) { LoadQueue(std::move(queue)); }

QtPrinterDevice::QtPrinterDevice(const classlib::TPrinterChoice& choice)
    : page_size_(QPageSize::Letter), choice_(&choice) {
  Follow();
}

void QtPrinterDevice::SetQueue(std::string queue) {
  if (writer_) throw EPrinter("Printing in progress");
  port_.clear();
  LoadQueue(std::move(queue));
}

void QtPrinterDevice::Follow() {
  if (!choice_ || writer_) return;
  if (choice_->Queue != queue_) LoadQueue(choice_->Queue);
  chosen_file_ = choice_->PrintToFile ? choice_->FileName : std::string();
}

void QtPrinterDevice::LoadQueue(std::string queue) {
  queue_ = std::move(queue);
  page_size_ = QPageSize(QPageSize::Letter);
  portrait_offset_ = {0, 0};
  if (queue_.empty()) return;
  const QPrinterInfo info = QPrinterInfo::printerInfo(QString::fromStdString(queue_));
  if (info.isNull()) return;
  QPrinter printer(info, QPrinter::HighResolution);
  if (info.defaultPageSize().isValid()) page_size_ = info.defaultPageSize();
  printer.setPageSize(page_size_);
  const QPageLayout layout = printer.pageLayout();
  const QMarginsF margins = layout.minimumMargins();  // in the layout's units
  const qreal per_unit = layout.units() == QPageLayout::Millimeter ? kResolution / 25.4
                         : layout.units() == QPageLayout::Inch     ? kResolution
                                                                   : kResolution / 72.0;
  portrait_offset_ = {static_cast<std::int32_t>(std::lround(margins.left() * per_unit)),
                      static_cast<std::int32_t>(std::lround(margins.top() * per_unit))};
}

QtPrinterDevice& ProcessPrinter() {
  static QtPrinterDevice printer(classlib::PrinterChoice());
  return printer;
}

QtPrinterDevice::~QtPrinterDevice() { Discard(); }

void QtPrinterDevice::SetOrientation(TPrinterOrientation orientation) {
  if (writer_ && orientation != orientation_) throw EPrinter("Printing in progress");
  orientation_ = orientation;
}

TPoint QtPrinterDevice::PhysicalPageSize() {
  Follow();
  const QSize size = page_size_.sizePixels(kResolution);
  if (Landscape()) return {size.height(), size.width()};
  return {size.width(), size.height()};
}

TPoint QtPrinterDevice::PrintingOffset() {
  Follow();
  if (Landscape()) return {portrait_offset_.Y, portrait_offset_.X};
  return portrait_offset_;
}

std::string QtPrinterDevice::DeviceName() {
  Follow();
  return queue_.empty() ? std::string("PDF") : queue_;
}

std::string QtPrinterDevice::PdfNameOf(const std::string& title) {
  std::string name = title.empty() ? std::string("Untitled") : title;
  for (char& c : name) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  }
  return name;
}

std::string QtPrinterDevice::NoQueuePath() const {
  const char* docs = ::getenv("XDG_DOCUMENTS_DIR");
  const char* home = ::getenv("HOME");
  std::string dir = docs && *docs ? docs : home && *home ? home : ".";
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  const std::string base = dir + "/" + PdfNameOf(title_);
  std::string path = base + ".pdf";
  for (int n = 2; Exists(path); ++n) path = base + " (" + std::to_string(n) + ").pdf";
  return path;
}

std::string QtPrinterDevice::Port() {
  Follow();
  if (!FileTarget().empty()) return FileTarget();
  if (!queue_.empty()) return queue_;
  last_default_port_ = NoQueuePath();
  return last_default_port_;
}

void QtPrinterDevice::SetPort(const std::string& port) {
  Follow();
  // Setting back what Port gave for the chosen file, the queue or the documents folder keeps that
  // default, so a later choice takes effect.
  const std::string& chosen = !chosen_file_.empty() ? chosen_file_ : !queue_.empty() ? queue_ : last_default_port_;
  if (port == chosen) {
    port_.clear();
  } else {
    port_ = port;
  }
}

void QtPrinterDevice::BeginDoc() {
  if (writer_) throw EPrinter("Printing in progress");
  Follow();
  // The PDF is made beside its destination, so that delivering it is a rename.
  const std::string target = !FileTarget().empty() ? FileTarget() : !queue_.empty() ? std::string() : NoQueuePath();
  std::string pattern = (target.empty() ? std::string(P_tmpdir) : DirectoryOf(target)) + "/.rptworks-XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) throw EPrinter("Cannot create the print file in " + DirectoryOf(pattern));
  // The job's file becomes the output by a rename, so it takes the mode a newly created file would.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  (void)::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  temp_path_ = pattern;
  writer_ = std::make_unique<QPdfWriter>(QString::fromStdString(temp_path_));
  writer_->setResolution(kResolution);
  writer_->setTitle(QString::fromStdString(title_));
  writer_->setCreator(QStringLiteral("KAVRIN"));
  writer_->setPageLayout(
      QPageLayout(page_size_, Landscape() ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
  if (!painter_.begin(writer_.get())) {
    Discard();
    throw EPrinter("Cannot start the print job");
  }
  const TPoint offset = PrintingOffset();
  canvas_.Attach(&painter_, QPoint(offset.X, offset.Y));
}

void QtPrinterDevice::NewPage() {
  if (!writer_) throw EPrinterNotPrinting();
  if (!writer_->newPage()) throw EPrinter("Cannot start a new page");
  const TPoint offset = PrintingOffset();
  canvas_.Attach(&painter_, QPoint(offset.X, offset.Y));
}

void QtPrinterDevice::Discard() noexcept {
  canvas_.Detach();
  if (painter_.isActive()) painter_.end();
  writer_.reset();
  if (!temp_path_.empty()) {
    ::unlink(temp_path_.c_str());
    temp_path_.clear();
  }
}

void QtPrinterDevice::Abort() {
  if (!writer_) throw EPrinterNotPrinting();
  Discard();
}

void QtPrinterDevice::EndDoc() {
  if (!writer_) throw EPrinterNotPrinting();
  canvas_.Detach();
  const bool written = painter_.end();
  writer_.reset();
  if (!written) {
    Discard();
    throw EPrinter("Cannot write the print file");
  }
  if (!FileTarget().empty()) {
    if (::rename(temp_path_.c_str(), FileTarget().c_str()) != 0) {
      Discard();
      throw EPrinter("Cannot write " + FileTarget());
    }
    temp_path_.clear();
    return;
  }
  if (!queue_.empty()) {
    const bool queued = RunLp(queue_, title_, temp_path_);
    Discard();
    if (!queued) throw EPrinter("The print queue " + queue_ + " did not take the job");
    return;
  }
  // Never over a file, even one that appeared while the job ran.
  for (;;) {
    const std::string path = NoQueuePath();
    if (::renameat2(AT_FDCWD, temp_path_.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) break;
    if (errno != EEXIST) {
      Discard();
      throw EPrinter("Cannot write " + path);
    }
  }
  temp_path_.clear();
}

}  // namespace kavrin::components::rptworks
