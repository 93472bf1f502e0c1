// Arbitrary bytes as a root's registry file: parsing ends in a document or a refusal, never a crash, and
// a document written out reads back as the same document and the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/registry_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kavrin::platform::detail;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto document = ParseRegistryText(text, "HKEY_CURRENT_USER");
  if (!document) return 0;
  const std::string written = WriteRegistryText(*document, "HKEY_CURRENT_USER");
  auto again = ParseRegistryText(written, "HKEY_CURRENT_USER");
  if (!again) std::abort();
  if (WriteRegistryText(*again, "HKEY_CURRENT_USER") != written) std::abort();
  return 0;
}
