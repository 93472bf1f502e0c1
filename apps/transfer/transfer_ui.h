// What the transfer asks of its window: information boxes, the status bar, the busy state and the
// passwords of encrypted source tables. The program maps it onto its scripted modal seam; tests record it.
#pragma once

#include <chrono>
#include <string>

namespace kavrin::transfer {

class TTransferUi {
 public:
  virtual ~TTransferUi() = default;
  // An information box with an OK button; it does not stop the transfer.
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void SetStatus(const std::string& text) = 0;
  // Lets the application process pending messages.
  virtual void ProcessMessages() {}
  // The clock that spaces the progress shown while records are copied.
  virtual std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }
  // True: both buttons disabled and the hourglass shown; false: both restored.
  virtual void SetBusy(bool busy) = 0;
  // The password of an encrypted source table; false gives up on that table.
  virtual bool AskPassword(const std::string& fileName, std::string& password) = 0;
};

}  // namespace kavrin::transfer
