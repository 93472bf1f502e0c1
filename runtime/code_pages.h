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
// Appends the UTF-8 of one code point.
void AppendUtf8(std::string& out, char32_t cp);

std::string Utf8ToOem(std::string_view utf8);
std::string OemToUtf8(std::string_view oem);
std::string Utf8ToAnsi(std::string_view utf8);
std::string AnsiToUtf8(std::string_view ansi);

// Descriptor text: the field and index names, field descriptions, defaults, minimums, maximums, table
// description and password of a table's definition, stored in Windows-1252 as the original system
// stored them. Every layer turns descriptor bytes into UTF-8 and back through these routines alone.
std::string DescriptorTextToUtf8(std::string_view stored);
// The stored bytes of a UTF-8 text. A character that Windows-1252 lacks, or bytes that are not UTF-8,
// raise EConvertError naming the text as what (e.g. "Field name") and quoting it, unless quoteText is
// false (a password): such a text is refused, never stored with "?" in its place.
std::string Utf8ToDescriptorText(std::string_view utf8, std::string_view what, bool quoteText = true);
// Whether two UTF-8 names of fields or indexes are one name: compared in their stored bytes upper-cased
// with the fixed Windows-1252 table, as the engine compares them. Names that Windows-1252 cannot hold
// compare by their UTF-8 bytes with ASCII letters upper-cased.
bool SameDescriptorName(std::string_view a, std::string_view b);

// The fixed Windows-1252 upper-case table that case-insensitive keys use, never the process locale.
std::uint8_t AnsiUpperByte(std::uint8_t byte);
void AnsiUpperBytes(std::uint8_t* bytes, std::size_t count);

}  // namespace kavrin::runtime
