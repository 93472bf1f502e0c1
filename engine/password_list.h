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
  void Remove(std::string_view password);  // the first exact (case-sensitive) match
  void Clear() { passwords_.clear(); }
  bool Contains(std::string_view password) const;
  std::size_t Count() const { return passwords_.size(); }
  const std::vector<std::string>& Entries() const { return passwords_; }

 private:
  std::vector<std::string> passwords_;
};

TPasswordList& TablePasswords();

// The data file unit's start and end; the start runs after the file layer's.
void DatfileInitialization();
void DatfileExitProc();

}  // namespace kavrin::engine
