#include "classlib/widgets/file_lists.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QListWidget>
#include <algorithm>
#include <filesystem>

#include "classlib/widgets/file_mask.h"

namespace kavrin::classlib {

namespace fs = std::filesystem;

namespace {

bool LessIgnoringCase(const std::string& a, const std::string& b) { return CompareTextIgnoringCase(a, b) < 0; }

std::string Absolute(const std::string& dir) {
  std::error_code ec;
  fs::path p = dir.empty() ? fs::current_path(ec) : fs::path(dir);
  p = fs::weakly_canonical(fs::absolute(p, ec), ec);
  std::string s = p.string();
  return s.empty() ? "/" : s;
}

}  // namespace

std::vector<TDirectoryEntry> DirectoryTree(const std::string& dir) {
  const fs::path current(Absolute(dir));
  std::vector<TDirectoryEntry> out;
  fs::path walked("/");
  out.push_back(TDirectoryEntry{"/", "/", 0, true});
  int level = 0;
  for (const auto& part : current.relative_path()) {
    if (part.empty()) continue;
    walked /= part;
    out.push_back(TDirectoryEntry{part.string(), walked.string(), ++level, true});
  }
  std::vector<std::string> children;
  std::error_code ec;
  for (fs::directory_iterator it(current, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code typeError;
    if (it->is_directory(typeError)) children.push_back(name);
  }
  std::sort(children.begin(), children.end(), LessIgnoringCase);
  for (const auto& name : children) out.push_back(TDirectoryEntry{name, (current / name).string(), level + 1, false});
  return out;
}

std::vector<std::string> ListFiles(const std::string& dir, const std::string& mask, TFileType types) {
  std::vector<std::string> out;
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(Absolute(dir)), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const bool hidden = !name.empty() && name[0] == '.';
    if (hidden && !types.Has(TFileAttr::ftHidden)) continue;
    std::error_code typeError;
    if (it->is_directory(typeError)) {
      if (types.Has(TFileAttr::ftDirectory)) out.push_back("[" + name + "]");
      continue;
    }
    if (!it->is_regular_file(typeError)) continue;
    if (!MatchesFileMask(name, mask)) continue;
    struct stat st {};
    if (::stat(it->path().c_str(), &st) != 0) continue;
    // Read-only means no write bit at all, as the engine reads the attribute.
    const bool readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    if (readOnly ? types.Has(TFileAttr::ftReadOnly)
                 : (types.Has(TFileAttr::ftNormal) || types.Has(TFileAttr::ftArchive))) {
      out.push_back(name);
    }
  }
  std::sort(out.begin(), out.end(), LessIgnoringCase);
  return out;
}

TDriveComboBox::TDriveComboBox(TWinControl& parent) : TComboBox(parent) {
  SetStyle(TComboBoxStyle::csDropDownList);
  Items().Add("/");
  SetItemIndex(0);
}

TDirectoryListBox::TDirectoryListBox(TWinControl& parent) : TListBox(parent) { SetDirectory(""); }

void TDirectoryListBox::SetDirectory(const std::string& dir) {
  const std::string next = Absolute(dir);
  const bool changed = next != directory_;
  directory_ = next;
  entries_ = DirectoryTree(directory_);
  Items().Clear();
  int currentIndex = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    Items().Add(entries_[i].Name);
    // Indent by level; the item text stays the folder's name.
    List()
        ->item(static_cast<int>(i))
        ->setText(QString(entries_[i].Level * 2, ' ') + QString::fromStdString(entries_[i].Name));
    if (entries_[i].Open) currentIndex = static_cast<int>(i);
  }
  SetItemIndex(currentIndex);
  if (DirLabel) DirLabel->SetCaption(directory_);
  if (FileList) FileList->SetDirectory(directory_);
  if (changed && OnChange) OnChange(this);
}

std::string TDirectoryListBox::GetItemPath(int index) const {
  if (index < 0 || index >= static_cast<int>(entries_.size())) return {};
  return entries_[static_cast<std::size_t>(index)].Path;
}

void TDirectoryListBox::DblClick() {
  TListBox::DblClick();
  const int index = ItemIndex();
  if (index >= 0) SetDirectory(GetItemPath(index));
}

TFileListBox::TFileListBox(TWinControl& parent) : TListBox(parent) { SetDirectory(""); }

void TFileListBox::SetDirectory(const std::string& dir) {
  directory_ = Absolute(dir);
  Update();
}

void TFileListBox::SetMask(const std::string& mask) {
  mask_ = mask;
  Update();
}

void TFileListBox::SetFileType(TFileType type) {
  fileType_ = type;
  Update();
}

void TFileListBox::Update() {
  Items().Clear();
  for (const auto& name : ListFiles(directory_, mask_, fileType_)) Items().Add(name);
}

std::string TFileListBox::FileName() const {
  const int index = ItemIndex();
  if (index < 0 || index >= const_cast<TFileListBox*>(this)->Items().Count()) return {};
  return (fs::path(directory_) / const_cast<TFileListBox*>(this)->Items().Strings(index)).string();
}

}  // namespace kavrin::classlib
