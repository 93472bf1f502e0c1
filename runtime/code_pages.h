// The single-byte code pages of table files: OEM (CP437) and ANSI (Windows-1252), against the UTF-8 of
// the programs' own text. A character with no equivalent becomes "?".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kavrin::runtime {

// The code point of every byte of the single-byte page iconv knows by name, -1 where the page leaves
// the byte undefined; nothing when iconv does not know the page.
std::optional<std::array<long, 256>> SingleByteCodePoints(const char* name);

std::string Utf8ToOem(std::string_view utf8);
std::string OemToUtf8(std::string_view oem);
std::string Utf8ToAnsi(std::string_view utf8);
std::string AnsiToUtf8(std::string_view ansi);

// The fixed Windows-1252 upper-case table that case-insensitive keys use, never the process locale.
std::uint8_t AnsiUpperByte(std::uint8_t byte);
void AnsiUpperBytes(std::uint8_t* bytes, std::size_t count);

}  // namespace kavrin::runtime
