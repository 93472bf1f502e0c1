// The drive, folder and file lists of the transfer utility. Linux has one root, "/", so the drive list
// holds that one entry; file masks match ignoring case.
#pragma once

#include <string>
#include <vector>

#include "classlib/widgets/set_of.h"
#include "classlib/widgets/std_controls.h"

namespace kavrin::classlib {

enum class TFileAttr { ftReadOnly, ftHidden, ftSystem, ftVolumeID, ftDirectory, ftArchive, ftNormal };
using TFileType = TSetOf<TFileAttr>;

struct TDirectoryEntry {
  std::string Name;
  std::string Path;
  int Level = 0;
  bool Open = false;  // on the way from the root to the current folder (or the current one)
};

// The root, each folder down to dir (open), then dir's sub-folders, sorted ignoring case.
std::vector<TDirectoryEntry> DirectoryTree(const std::string& dir);
// The names in dir that match mask and the attribute set, sorted ignoring case; folders as "[name]".
std::vector<std::string> ListFiles(const std::string& dir, const std::string& mask, TFileType types);

class TDirectoryListBox;
class TFileListBox;

class TDriveComboBox : public TComboBox {
 public:
  explicit TDriveComboBox(TWinControl& parent);
  char Drive() const { return '/'; }
  TDirectoryListBox* DirList = nullptr;
};

class TDirectoryListBox : public TListBox {
 public:
  explicit TDirectoryListBox(TWinControl& parent);
  const std::string& Directory() const { return directory_; }
  // Shows dir (made absolute); the linked file list follows; OnChange fires on a change.
  void SetDirectory(const std::string& dir);
  std::string GetItemPath(int index) const;
  TFileListBox* FileList = nullptr;
  TLabel* DirLabel = nullptr;
  TNotifyEvent OnChange;
  void DblClick() override;

 private:
  std::string directory_;
  std::vector<TDirectoryEntry> entries_;
};

class TFileListBox : public TListBox {
 public:
  explicit TFileListBox(TWinControl& parent);
  const std::string& Directory() const { return directory_; }
  void SetDirectory(const std::string& dir);
  const std::string& Mask() const { return mask_; }
  void SetMask(const std::string& mask);
  TFileType FileType() const { return fileType_; }
  void SetFileType(TFileType type);
  // The selected file with its folder; empty when none.
  std::string FileName() const;
  // Reads the folder again.
  void Update();

 private:
  std::string directory_;
  std::string mask_ = "*.*";
  TFileType fileType_{TFileAttr::ftNormal};
};

}  // namespace kavrin::classlib
