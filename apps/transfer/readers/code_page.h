// Text of a source table's code page recoded to CP437, the engine's stored form of values, and names
// decoded to UTF-8, from which the transfer stores them in the engine's descriptor page.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kavrin::transfer {

class TOemRecoder {
 public:
  // A code page iconv does not know is taken as CP437 (the bytes pass unchanged).
  explicit TOemRecoder(int codePage);
  // A character that CP437 lacks becomes "?".
  std::string Recode(std::string_view text) const;
  // Every byte decoded, those the page leaves undefined as the C1 control of the same value.
  std::string ToUtf8(std::string_view text) const;
  int CodePage() const { return codePage_; }

 private:
  int codePage_;
  std::array<char, 256> table_{};
  const std::array<std::string, 256>* utf8_ = nullptr;
};

// The Windows code page of a dBase language-driver byte; 437 for 0 and bytes this table does not know.
int CodePageOfLanguageDriver(std::uint8_t driver);

}  // namespace kavrin::transfer
