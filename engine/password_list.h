// The table passwords this process knows. The session feeds TablePasswords; the engine consults it
// when it opens, creates or clones a table with a password.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kavrin::engine {

class TPasswordList {
 public:
  void Add(std::string_view password) { passwords_.emplace_back(password); }  // duplicates are kept
  void Remove(std::string_view password);                                     // the first exact (case-sensitive) match
  void Clear() { passwords_.clear(); }
  bool Contains(std::string_view password) const;
  std::size_t Count() const { return passwords_.size(); }
  const std::vector<std::string>& Entries() const { return passwords_; }

 private:
  std::vector<std::string> passwords_;
};

TPasswordList& TablePasswords();

// A password known to the process for the life of this object (creating, cloning, restructuring or
// logging a table with a password), unless it was known already; afterwards the list is as before.
class TTemporaryPassword {
 public:
  explicit TTemporaryPassword(std::string password)
      : password_(std::move(password)), added_(!password_.empty() && !TablePasswords().Contains(password_)) {
    if (added_) TablePasswords().Add(password_);
  }
  ~TTemporaryPassword() {
    if (added_) TablePasswords().Remove(password_);
  }
  TTemporaryPassword(const TTemporaryPassword&) = delete;
  TTemporaryPassword& operator=(const TTemporaryPassword&) = delete;

 private:
  std::string password_;
  bool added_;
};

// The data file unit's start and end; the start runs after the file layer's.
void DatfileInitialization();
void DatfileExitProc();

}  // namespace kavrin::engine
