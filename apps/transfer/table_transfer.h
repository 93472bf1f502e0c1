// The transfer of one click on "Begin Transfer...": every selected Paradox or dBase table of the source
// directory into a new engine table of the same name in the destination directory.
#pragma once

#include <string>
#include <vector>

#include "apps/transfer/transfer_ui.h"

namespace kavrin::transfer {

class TTableTransfer {
 public:
  explicit TTableTransfer(TTransferUi& ui) : ui_(ui) {}

  // Entries are file names of sourceDirectory in list order. A failure (a source that cannot be read,
  // an engine error, a name the engine's code page cannot hold) ends the click after the current table
  // is cleaned up and is passed on: an ESourceError, an ETransferEngineError or a runtime::EConvertError.
  // Tables transferred before it stay.
  void BeginTransfer(const std::string& sourceDirectory, const std::vector<std::string>& entries,
                     const std::string& destinationDirectory);

 private:
  void TransferTable(const std::string& sourceDirectory, const std::string& entry,
                     const std::string& destinationDirectory);
  TTransferUi& ui_;
};

}  // namespace kavrin::transfer
