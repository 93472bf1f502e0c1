#include "engine/engine_error.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "runtime/code_pages.h"

namespace kavrin::engine {
namespace {

enum class NameGroup { None, File, Field, Index };

struct ErrorText {
  TErrorCode code;
  NameGroup group;
  const char* before;  // text before the name
  const char* after;   // text after the name
};

// Sorted by code. Several texts carry no final full stop and 10015 has no blank before "is": the texts
// are shown to users and matched by programs as they stand.
constexpr std::array<ErrorText, 56> kErrorTexts{{
    {8705, NameGroup::File, "Beginning of file encountered in data file ", ""},
    {8706, NameGroup::File, "End of file encountered in data file ", ""},
    {8708, NameGroup::File, "Key not found in data file ", ""},
    {8710, NameGroup::File, "Record not found in in data file ", ""},
    {8711, NameGroup::File, "End of blob data in data file ", " reached prematurely"},
    {8962, NameGroup::File, "Record buffers corrupt in data file ", ""},
    {8963, NameGroup::File, "Block buffers corrupt in data file ", ""},
    {8965, NameGroup::File, "Page buffers corrupt in data file ", ""},
    {9217, NameGroup::File, "Error reading from data file ", ""},
    {9218, NameGroup::File, "Error writing to data file ", ""},
    {9220, NameGroup::File, "Cannot delete data file ", ""},
    {9221, NameGroup::File, "Error accessing file header information for data file ", ""},
    {9477, NameGroup::File, "Maximum record size exceeded in data file ", ""},
    {9482, NameGroup::File, "Too many filters defined for data file ", ""},
    {9487, NameGroup::File,
     "Maximum or minimum limits on number of indexes or fields in an index exceeded in data file ", ""},
    {9492, NameGroup::File, "Maximum or minimum limits on number of fields or field size exceeded in data file ", ""},
    {9494, NameGroup::File, "Too many blobs opened in data file ", ""},
    {9498, NameGroup::File, "Too many blob fields or invalid blob block size specified for data file ", ""},
    {9729, NameGroup::File, "Duplicate key found in data file ", ""},
    {9730, NameGroup::Field, "Minimum value exceeded for field ", ""},
    {9731, NameGroup::Field, "Maximum value exceeded for field ", ""},
    {9732, NameGroup::Field, "You must provide a value for the field ", ""},
    {9985, NameGroup::File, "Invalid field number specified for data file ", ""},
    {9993, NameGroup::Index, "Primary index is already defined and cannot be added again", nullptr},
    {9998, NameGroup::File, "Invalid blob offset into data file ", " specified"},
    {10000, NameGroup::Field, "Invalid field definition specified for field ", ""},
    {10006, NameGroup::Field, "Invalid default, min, or max validity check specified for ", ""},
    {10010, NameGroup::Index, "Secondary index name missing or not specified", nullptr},
    {10015, NameGroup::File, "Password provided for data file ", "is either blank or too long."},
    {10022, NameGroup::Index, "Invalid secondary index name ", " specified"},
    {10026, NameGroup::Index, "Invalid key size specified for index ", ""},
    {10027, NameGroup::Index, "Secondary index ", " already exists"},
    {10029, NameGroup::File, "Invalid blob length in data file ", ""},
    {10030, NameGroup::File, "Invalid blob handle for data file ", " specified"},
    {10031, NameGroup::File, "Data file is already in use ", ""},
    {10038, NameGroup::Field, "Invalid or duplicate field name ", " specified"},
    {10050, NameGroup::File, "Invalid filter handle specified", nullptr},
    {10051, NameGroup::File, "Invalid filter expression specified", nullptr},
    {10055, NameGroup::Index, "Primary index cannot be removed", nullptr},
    {10241, NameGroup::File, "Data file is already locked by another user ", ""},
    {10242, NameGroup::File, "Cannot unlock data file or record in data file ", ""},
    {10249, NameGroup::File, "General lock failure on ", ""},
    {10253, NameGroup::File, "Data file ", " must be opened exclusively"},
    {10258, NameGroup::File, "Record in data file ", " is in use by another user"},
    {10498, NameGroup::File, "Insufficient rights to data file ", ", password is required."},
    {10753, NameGroup::Field, "Invalid blob field ", " specified for data file"},
    {11010, NameGroup::File, "Invalid path or file name for data file ", ""},
    {11012, NameGroup::File, "Too many files open attempting to open data file ", ""},
    {11013, NameGroup::File, "Access denied to data file ", ""},
    {11014, NameGroup::File, "Invalid file handle for data file ", ""},
    {11016, NameGroup::File, "Insufficient memory present for data file ", ""},
    {11017, NameGroup::File, "Invalid length for in-memory data file ", "."},
    {11025, NameGroup::File, "Data file ", " has been moved"},
    {11047, NameGroup::File, "Unknown error occurred with data file ", ""},
    {12035, NameGroup::File, "Incorrect version for data file ", ""},
    {12292, NameGroup::Index, "Invalid field type specified in index ", ""},
}};

constexpr ErrorText kUnknownText{0, NameGroup::None, "Unknown error occurred with data file ", ""};

// Names in the context are short strings.
constexpr std::size_t kShortStringLength = 255;

const ErrorText* FindText(TErrorCode code) {
  auto it = std::lower_bound(kErrorTexts.begin(), kErrorTexts.end(), code,
                             [](const ErrorText& entry, TErrorCode c) { return entry.code < c; });
  return it != kErrorTexts.end() && it->code == code ? &*it : nullptr;
}

TErrorContext& Context() {
  static TErrorContext context;
  return context;
}

std::string ShortString(std::string_view text) { return std::string(text.substr(0, kShortStringLength)); }

EngineRaiseHook& RaiseHook() {
  static EngineRaiseHook hook = nullptr;
  return hook;
}

}  // namespace

const TErrorContext& ErrorContext() { return Context(); }

void ClearErrorContext() { Context() = TErrorContext{}; }

void SetErrorContext(TErrorCode code, std::string_view name) {
  TErrorContext& context = Context();
  context.LastCode = code;
  const ErrorText* text = FindText(code);
  switch (text ? text->group : NameGroup::None) {
    case NameGroup::File: context.FileName = ShortString(name); break;
    case NameGroup::Field: context.FieldName = ShortString(name); break;
    case NameGroup::Index: context.IndexName = ShortString(name); break;
    case NameGroup::None: break;
  }
}

TErrorCode GetLastEngineError() { return Context().LastCode; }

std::string GetEngineErrorMessage(TErrorCode code) {
  const TErrorContext& context = Context();
  const ErrorText* text = FindText(code);
  if (!text) text = &kUnknownText;
  std::string message = text->before;
  if (text->after) {
    switch (text->group) {
      // Field and index names are stored in Windows-1252; the message is UTF-8 like every text shown.
      case NameGroup::Field: message += runtime::DescriptorTextToUtf8(context.FieldName); break;
      case NameGroup::Index: message += runtime::DescriptorTextToUtf8(context.IndexName); break;
      case NameGroup::File:
      case NameGroup::None: message += context.FileName; break;
    }
    message += text->after;
  }
  // Assembled in a short string, then cut to what the 128-byte message buffer holds, never inside a
  // UTF-8 character.
  std::size_t length = std::min({message.size(), kShortStringLength, EngineMessageBufferSize - 1});
  if (length < message.size()) {
    while (length > 0 && (static_cast<unsigned char>(message[length]) & 0xC0) == 0x80) --length;
    message.resize(length);
  }
  return message;
}

void GetEngineErrorMessage(TErrorCode code, char* buffer) {
  const std::string message = GetEngineErrorMessage(code);
  std::memcpy(buffer, message.data(), message.size());
  buffer[message.size()] = '\0';
}

void SetEngineRaiseHook(EngineRaiseHook hook) { RaiseHook() = hook; }

void RaiseEngineError(TErrorCode code, std::string_view name) {
  const std::string saved(name);  // name may refer into the context that is about to be cleared
  ClearErrorContext();
  SetErrorContext(code, saved);
  if (EngineRaiseHook hook = RaiseHook()) hook(code);
  EngineError(code);
}

EDBEngineError::EDBEngineError(std::uint32_t code)
    : EDBEngineError(static_cast<std::uint16_t>(code & 0xFFFF),
                     GetEngineErrorMessage(static_cast<TErrorCode>(code & 0xFFFF))) {}

EDBEngineError::EDBEngineError(std::uint16_t code, const std::string& text)
    : EDatabaseError("KAVRIN Engine Error # " + std::to_string(code) + " " + text) {
  errors_.emplace_back(this, code, 0, text);
}

EDBEngineError::EDBEngineError(const EDBEngineError& other) : EDatabaseError(other), errors_(other.errors_) {
  AdoptErrors();
}

EDBEngineError& EDBEngineError::operator=(const EDBEngineError& other) {
  if (this != &other) {
    EDatabaseError::operator=(other);
    errors_ = other.errors_;
    AdoptErrors();
  }
  return *this;
}

void EDBEngineError::AdoptErrors() {
  for (TDBError& error : errors_) error.owner_ = this;
}

void EngineError(std::uint32_t code) { throw EDBEngineError(code); }

std::int32_t CheckEngineResult(std::int32_t code) {
  if ((static_cast<std::uint32_t>(code) & 0xFFFF) != 0) EngineError(static_cast<std::uint32_t>(code));
  return code;
}

}  // namespace kavrin::engine
