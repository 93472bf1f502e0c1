// Free routines shared by the engine, the dataset layer and the programs: the lock-retry pause, string
// and path helpers, Boolean texts and the value-text checks of the structure editor.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kavrin::engine {

// Pauses for more than n milliseconds while the process-wide message hook keeps the user interface
// alive; sleeps about a millisecond between calls rather than spinning.
void WaitMilliseconds(std::int32_t n);

std::string PadLeft(std::string_view s, std::size_t length, char ch);
std::string PadRight(std::string_view s, std::size_t length, char ch);
std::string LeftString(std::string_view s, std::size_t n);
// The 1-based position of the last occurrence of sub in s, 0 when there is none.
std::size_t LastPos(std::string_view sub, std::string_view s);
// Without leading tabs and blanks and without trailing tabs, line feeds, form feeds, carriage returns
// and blanks.
std::string TrimBlanks(std::string_view s);
// ASCII letters upper-cased; every other byte as it is.
std::string UpperCaseAscii(std::string_view s);
// How the engine compares names of fields, indexes and memory files: trimmed, ASCII upper-cased.
inline std::string UpperTrimmed(std::string_view s) { return UpperCaseAscii(TrimBlanks(s)); }
// How the engine compares names of fields and indexes, stored in Windows-1252: trimmed, upper-cased
// with the fixed Windows-1252 table that case-insensitive keys use.
std::string UpperDescriptorName(std::string_view s);

// Paths: "/" delimits directories; a trailing "/" or "\" already ends one.
std::string StripExtension(std::string_view name);  // only a "." in the last path component counts
std::string AddBackslash(std::string_view dir);
std::string RemoveBackslash(std::string_view dir);

inline std::int32_t Max(std::int32_t a, std::int32_t b) { return a > b ? a : b; }
inline std::int32_t Min(std::int32_t a, std::int32_t b) { return a < b ? a : b; }

std::string BoolToText(bool b);
bool TextToBool(std::string_view s);  // exactly "True"

// Checks of default, minimum and maximum texts; never raise.
bool IsValidWordText(std::string_view text);
bool IsValidSmallIntText(std::string_view text);
bool IsValidIntegerText(std::string_view text);
bool IsValidBooleanText(std::string_view text);
bool IsValidFloatText(std::string_view text);
bool IsValidCurrencyText(std::string_view text);
bool IsValidDateText(std::string_view text);
bool IsValidDateTimeText(std::string_view text);
bool IsValidTimeText(std::string_view text);

}  // namespace kavrin::engine
