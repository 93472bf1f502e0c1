#include "engine/password_list.h"

#include <algorithm>
#include <cstdlib>

namespace kavrin::engine {
namespace {

// A plain pointer, so no static destructor races the exit procedure.
TPasswordList* passwordList = nullptr;

}  // namespace

void TPasswordList::Remove(std::string_view password) {
  auto it = std::find(passwords_.begin(), passwords_.end(), password);
  if (it != passwords_.end()) passwords_.erase(it);
}

bool TPasswordList::Contains(std::string_view password) const {
  return std::find(passwords_.begin(), passwords_.end(), password) != passwords_.end();
}

TPasswordList& TablePasswords() {
  if (!passwordList) passwordList = new TPasswordList;
  return *passwordList;
}

void DatfileInitialization() {
  static bool exitRegistered = false;
  if (!exitRegistered) {
    std::atexit(DatfileExitProc);
    exitRegistered = true;
  }
  delete passwordList;
  passwordList = new TPasswordList;
}

void DatfileExitProc() {
  delete passwordList;
  passwordList = nullptr;
}

}  // namespace kavrin::engine
