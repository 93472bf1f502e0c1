#include "engine/memory_files.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/primitives.h"

namespace kavrin::engine {
namespace {

constexpr std::int32_t kInitialSize = 512;

// What is left of a name without its directory and extension.
std::string BaseName(std::string_view name) {
  std::string stripped = StripExtension(TrimBlanks(name));
  const std::size_t slash = stripped.rfind('/');
  if (slash != std::string::npos) stripped.erase(0, slash + 1);
  return TrimBlanks(stripped);
}

}  // namespace

TMemoryFile::TMemoryFile(std::string name) : name_(std::move(name)), data_(kInitialSize, 0) {}

void TMemoryFile::SetSize(std::int32_t size) {
  if (size < 0) size = 0;
  if (size == Size()) return;
  if (size == 0) {
    data_.clear();
    data_.shrink_to_fit();
    position_ = 0;
  } else if (size > Size()) {
    data_.resize(static_cast<std::size_t>(size), 0);
  } else {
    data_.resize(static_cast<std::size_t>(size));
    position_ = size;
  }
}

void TMemoryFile::AddRef() {
  if (openCount_ == 0) position_ = 0;
  ++openCount_;
}

void TMemoryFile::Release() {
  if (openCount_ > 0) {
    --openCount_;
  } else {
    position_ = 0;
  }
}

std::int32_t TMemoryFile::Read(void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const std::int32_t available = std::max<std::int32_t>(0, Size() - position_);
  const std::int32_t n = std::min(count, available);
  if (n > 0) std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int32_t TMemoryFile::Write(const void* buffer, std::int32_t count) {
  if (count == 0) {
    SetSize(position_);
    return 0;
  }
  if (count < 0) return 0;
  const std::int64_t end = static_cast<std::int64_t>(position_) + count;
  if (end > std::numeric_limits<std::int32_t>::max()) return 0;
  if (end > Size()) SetSize(static_cast<std::int32_t>(end));
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ = static_cast<std::int32_t>(end);
  return count;
}

std::int32_t TMemoryFile::Seek(std::int64_t offset, int origin) {
  std::int64_t target = offset;
  if (origin == 1) target = static_cast<std::int64_t>(position_) + offset;
  if (origin == 2) target = static_cast<std::int64_t>(Size()) - offset;
  position_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(target, 0, Size()));
  return position_;
}

TMemoryFile* TMemoryFileList::Find(std::string_view name) const {
  const std::string key = UpperTrimmed(name);
  for (const auto& file : files_) {
    if (UpperTrimmed(file->Name()) == key) return file.get();
  }
  return nullptr;
}

bool TMemoryFileList::MemoryFileExists(std::string_view name) const { return Find(name) != nullptr; }

std::pair<TErrorCode, TMemoryFile*> TMemoryFileList::NewMemoryFile(std::string_view name) {
  if (BaseName(name).empty()) return {ec::InvalidPath, nullptr};
  if (TMemoryFile* existing = Find(name)) {
    if (existing->OpenCount() > 0) return {ec::FileInUse, nullptr};
    existing->SetSize(0);
    existing->AddRef();
    existing->SetExclusive(true);
    return {ec::Success, existing};
  }
  files_.push_back(std::make_unique<TMemoryFile>(std::string(name)));
  files_.back()->SetExclusive(true);
  return {ec::Success, files_.back().get()};
}

std::pair<TErrorCode, TMemoryFile*> TMemoryFileList::OpenMemoryFile(std::string_view name, bool exclusive) {
  TMemoryFile* file = Find(name);
  if (!file) return {ec::InvalidPath, nullptr};
  if (file->OpenCount() == 0) {
    file->SetExclusive(exclusive);
  } else if (file->Exclusive() || exclusive) {
    return {ec::AccessDenied, nullptr};
  }
  file->AddRef();
  return {ec::Success, file};
}

bool TMemoryFileList::CloseMemoryFile(std::string_view name) {
  TMemoryFile* file = Find(name);
  if (!file) return false;
  file->Release();
  return true;
}

bool TMemoryFileList::RenameMemoryFile(std::string_view name, std::string_view newName) {
  TMemoryFile* file = Find(name);
  if (!file || file->OpenCount() > 0) return false;
  TMemoryFile* target = Find(newName);
  if (target && target != file) return false;
  file->SetName(std::string(newName));
  return true;
}

bool TMemoryFileList::CopyMemoryFile(std::string_view name, std::string_view newName) {
  auto [openCode, source] = OpenMemoryFile(name, true);
  if (openCode != ec::Success) return false;
  auto [newCode, target] = NewMemoryFile(newName);
  if (newCode != ec::Success) {
    source->Release();
    return false;
  }
  target->SetSize(source->Size());
  target->Seek(0, 0);
  target->Write(source->Data().data(), source->Size());
  source->Release();
  target->Release();
  return true;
}

bool TMemoryFileList::DeleteMemoryFile(std::string_view name) {
  TMemoryFile* file = Find(name);
  if (!file || file->OpenCount() > 0) return false;
  files_.erase(std::find_if(files_.begin(), files_.end(), [file](const auto& f) { return f.get() == file; }));
  return true;
}

}  // namespace kavrin::engine
