// Table creation from field and index definitions, and the maintenance of a table's files as one:
// delete, rename, copy and empty.
#include <algorithm>
#include <functional>
#include <map>

#include "engine/blob_file.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "engine/memory_files.h"
#include "engine/password_list.h"
#include "engine/primitives.h"

namespace kavrin::engine {
namespace {

constexpr std::size_t kKeyFieldSlots = MaxKeyFields;
constexpr std::size_t kMaxSecondaryIndexes = 30;
constexpr int kMaxKeyLength = 255;
constexpr std::uint32_t kMaxRecordSize = 65535;
constexpr std::size_t kRecordIdBytes = 4;

bool IsKeyword(std::string_view text, std::initializer_list<const char*> keywords) {
  const std::string upper = UpperTrimmed(text);
  return std::any_of(keywords.begin(), keywords.end(), [&](const char* k) { return upper == k; });
}

// Whether a default, minimum or maximum text converts for the field's type; keywords count only for
// defaults.
bool ValidityTextAccepted(std::uint8_t type, std::string_view text, bool isDefault) {
  switch (type) {
    case ftBoolean: return IsValidBooleanText(text);
    case ftWord: return IsValidWordText(text);
    case ftSmallInt: return IsValidSmallIntText(text);
    case ftInteger: return IsValidIntegerText(text);
    case ftFloat: return IsValidFloatText(text);
    case ftBCD: return IsValidCurrencyText(text);
    case ftTime: return (isDefault && IsKeyword(text, {"TIME"})) || IsValidTimeText(text);
    case ftDate: return (isDefault && IsKeyword(text, {"DATE"})) || IsValidDateText(text);
    case ftTimeStamp:
      return (isDefault && IsKeyword(text, {"NOW", "DATE", "TIME"})) || IsValidDateText(text) ||
             IsValidDateTimeText(text) || IsValidTimeText(text);
    default: return true;
  }
}

bool HasSize(std::uint8_t type) { return type == ftString || type == ftBytes || type == ftVarBytes; }

void ValidateFields(std::vector<TFieldDescriptor>& fields) {
  // Each field is checked in turn against all the others, so the first field of a clashing pair is
  // the one named.
  std::map<std::string, int> nameCount;
  std::map<std::int16_t, int> numberCount;
  for (const TFieldDescriptor& field : fields) {
    ++nameCount[UpperDescriptorName(field.Name)];
    ++numberCount[field.FieldNumber];
  }
  std::uint32_t offset = RecordPrefixSize;
  for (TFieldDescriptor& field : fields) {
    const std::string name = UpperDescriptorName(field.Name);
    if (name.empty() || name[0] < 'A' || name[0] > 'Z' || nameCount[name] > 1) {
      RaiseEngineError(ec::InvalidFieldName, field.Name);
    }
    if (field.FieldNumber < 1 || numberCount[field.FieldNumber] > 1 || field.Type == ftInvalid ||
        field.Type > MaxEngineFieldType) {
      RaiseEngineError(ec::InvalidFieldDefinition, field.Name);
    }
    if (HasSize(field.Type)) {
      if (field.Size > MaxFieldSize) RaiseEngineError(ec::InvalidFieldDefinition, field.Name);
    } else {
      field.Size = 0;
    }
    if ((!field.Default.empty() && !ValidityTextAccepted(field.Type, field.Default, true)) ||
        (!field.Minimum.empty() && !ValidityTextAccepted(field.Type, field.Minimum, false)) ||
        (!field.Maximum.empty() && !ValidityTextAccepted(field.Type, field.Maximum, false))) {
      RaiseEngineError(ec::InvalidValidityCheck, field.Name);
    }
    if (field.Type != ftBCD) field.Decimals = 0;
    if (field.IsAutoInc()) {
      field.SlotOffset = AutoIncSlotOffset;
    } else {
      field.SlotOffset = static_cast<std::uint16_t>(std::min<std::uint32_t>(offset, 0xFFFF));
      offset += static_cast<std::uint32_t>(FieldDataSize(field)) + 1;
    }
  }
}

void ValidateIndex(TIndexDescriptor& index, bool primary, const std::vector<TFieldDescriptor>& fields,
                   std::string_view fileName) {
  const std::string indexName = primary ? std::string("Primary") : index.Name;
  int keyLength = 0;
  std::uint8_t count = 0;
  for (std::size_t i = 0; i < kKeyFieldSlots && index.KeyFields[i] != 0; ++i) {
    auto field = std::find_if(fields.begin(), fields.end(),
                              [&](const TFieldDescriptor& f) { return f.FieldNumber == index.KeyFields[i]; });
    if (field == fields.end()) RaiseEngineError(ec::InvalidFieldNumber, fileName);
    keyLength += FieldDataSize(*field) + 1;
    ++count;
  }
  // The unique id that keeps the keys of a non-unique index distinct must fit in the length byte too,
  // so the length is checked once it is added.
  if (keyLength > 0 && !primary && !index.Unique) keyLength += static_cast<int>(kRecordIdBytes);
  if (keyLength == 0 || keyLength > kMaxKeyLength) RaiseEngineError(ec::InvalidKeySize, indexName);
  for (std::size_t i = count; i < kKeyFieldSlots; ++i) index.KeyFields[i] = 0;
  index.KeyLength = static_cast<std::uint8_t>(keyLength);
  index.KeyFieldCount = count;
  index.Root = 0;
  index.FreeChain = 0;
}

}  // namespace

void TDataFile::ValidateDefinition(bool encrypted, std::string_view password, std::vector<TIndexDescriptor>& indexes,
                                   std::vector<TFieldDescriptor>& fields, std::uint16_t blobBlockSize,
                                   std::string_view fileName) {
  if (encrypted) {
    const std::string trimmed = TrimBlanks(password);
    if (trimmed.empty() || trimmed.size() > HeaderPasswordLength) RaiseEngineError(ec::InvalidPassword, fileName);
  }
  if (fields.size() > MaxFieldCount) RaiseEngineError(ec::FieldLimits, fileName);
  if (indexes.empty() || indexes.size() - 1 > kMaxSecondaryIndexes) RaiseEngineError(ec::IndexLimits, fileName);
  if (blobBlockSize < MinBlobBlockSize) RaiseEngineError(ec::BlobFieldsOrBlockSize, fileName);
  ValidateFields(fields);
  for (std::size_t i = 0; i < indexes.size(); ++i) ValidateIndex(indexes[i], i == 0, fields, fileName);
}

void TDataFile::NewFile() {
  TFileHandler::NewFile();
  header_.Version = DataFileVersion;
  header_.DeletedChainHead = 0;
  header_.NextRecordNumber = 1;
  header_.LastUniqueID = 0;
  PrepareCompanion(*indexFile_);
  indexFile_->NewFile();
  if (HasBlobFields()) {
    PrepareCompanion(*blobFile_);
    blobFile_->NewFile();
  }
}

void TDataFile::CreateTable(bool encrypted, std::string_view password, std::vector<TIndexDescriptor> indexes,
                            std::vector<TFieldDescriptor> fields, std::uint16_t blobBlockSize,
                            std::string_view description) {
  if (!Exclusive()) Raise(ec::MustBeExclusive);
  if (ReadOnly()) Raise(ec::AccessDenied);
  if (Opened()) Raise(ec::FileInUse);
  ValidateDefinition(encrypted, password, indexes, fields, blobBlockSize, FileName());

  // The password the table stores is the one it is reopened with.
  const std::string stored = LeftString(password, HeaderPasswordLength);
  TTemporaryPassword known(encrypted ? stored : std::string());

  header_ = TDataFileHeader{};
  header_.Encrypted = encrypted;
  header_.Password = encrypted ? stored : std::string();
  header_.Description = LeftString(description, HeaderDescriptionLength);
  SetScrambled(encrypted);
  header_.FieldCount = static_cast<std::uint16_t>(fields.size());
  header_.BlobBlockSize = blobBlockSize;
  const auto blobFields = std::count_if(fields.begin(), fields.end(), [](const auto& f) { return f.Type == ftBlob; });
  if (blobFields > MaxBlobFields) Raise(ec::BlobFieldsOrBlockSize);
  header_.BlobFieldCount = static_cast<std::int16_t>(blobFields);
  std::uint32_t recordSize = RecordPrefixSize;
  for (const TFieldDescriptor& field : fields) {
    if (!field.IsAutoInc()) recordSize += static_cast<std::uint32_t>(FieldDataSize(field)) + 1;
  }
  if (recordSize > kMaxRecordSize) Raise(ec::RecordSizeExceeded);
  header_.RecordSize = static_cast<std::uint16_t>(recordSize);

  // Every file made from here on is removed again when a later step fails.
  blobFile_->SetInMemory(InMemory());
  blobFile_->SetFileName(FileName());
  const bool hadBlobFile = blobFile_->FileFound();
  bool dataFileMade = false;
  try {
    NewFile();
    dataFileMade = true;
    fields_ = fields;
    RebuildFieldMap();
    header_.ChangeCounter = 0;
    WriteHeader();
    WriteFieldDescriptors();
    // Header and descriptors are written; closing through Flush would only advance the counter.
    CloseWithoutWriting();
    OpenFile();
    const TIndexDescriptor& primary = indexes[0];
    indexFile_->CreatePrimaryIndex(primary.KeyLength, primary.KeyFieldCount, primary.KeyFields, primary.Unique,
                                   primary.CaseInsensitive, primary.Descending);
    for (std::size_t i = 1; i < indexes.size(); ++i) {
      const TIndexDescriptor& index = indexes[i];
      indexFile_->AddSecondaryIndex(index.Name, index.KeyLength, index.KeyFields, index.Unique, index.CaseInsensitive,
                                    index.Descending, index.KeyFieldCount);
    }
    indexFile_->FlushPages();
    indexFile_->WriteHeader();
    CloseWithoutWriting();
  } catch (...) {
    const std::exception_ptr failure = std::current_exception();
    // A data file that could not be made leaves an older table of this name as it was.
    dataFileMade = dataFileMade || Opened();
    CloseWithoutWriting();
    if (dataFileMade) {
      // Each file goes on its own, so one that cannot be removed keeps no other behind; the creation's
      // own failure is the one to report.
      try {
        for (TFileHandler* file : ClosedTableFiles()) {
          try {
            if (file->FileFound()) file->EraseFile();
          } catch (...) {
          }
        }
      } catch (...) {
      }
    }
    std::rethrow_exception(failure);
  }
  // A table without blob fields has no blob file; one left by an older table of this name would be
  // taken for this table's.
  if (!HasBlobFields() && hadBlobFile && blobFile_->FileFound()) blobFile_->EraseFile();
}

std::vector<TFileHandler*> TDataFile::ClosedTableFiles() {
  RequireClosed();
  PrepareCompanion(*indexFile_);
  PrepareCompanion(*blobFile_);
  std::vector<TFileHandler*> files{this, indexFile_.get()};
  if (blobFile_->FileFound()) files.push_back(blobFile_.get());
  return files;
}

void TDataFile::DeleteTable() {
  for (TFileHandler* file : ClosedTableFiles()) file->EraseFile();
}

void TDataFile::RenameTable(std::string_view newName) {
  // Every target is checked before anything moves, and the steps done are undone when a later one
  // fails, so a table is never left half renamed.
  const std::vector<TFileHandler*> files = ClosedTableFiles();
  for (TFileHandler* file : files) {
    const std::string target = file->FixFileName(newName);
    if (InMemory() ? MemoryFiles().MemoryFileExists(target) : platform::FileExists(target)) {
      Raise(ec::UnknownError);
    }
  }
  std::vector<std::pair<TFileHandler*, std::string>> done;
  try {
    for (TFileHandler* file : files) {
      const std::string oldName = file->FileName();
      file->RenameFile(newName);
      done.emplace_back(file, oldName);
    }
  } catch (...) {
    for (auto it = done.rbegin(); it != done.rend(); ++it) {
      try {
        it->first->RenameFile(it->second);
      } catch (...) {
      }
    }
    throw;
  }
}

void TDataFile::CopyTable(std::string_view newName) {
  const std::vector<TFileHandler*> files = ClosedTableFiles();
  const bool withBlobs = files.size() == 3;
  for (TFileHandler* file : files) {
    const std::string target = file->FixFileName(newName);
    if (InMemory() ? MemoryFiles().Find(target) == MemoryFiles().Find(file->FileName())
                   : platform::SameFile(target, file->FileName())) {
      Raise(ec::UnknownError);  // a table copied onto itself would be destroyed
    }
  }
  std::vector<std::string> made;
  try {
    for (TFileHandler* file : files) {
      file->CopyFile(newName);
      made.push_back(file->FixFileName(newName));
    }
  } catch (...) {
    for (const std::string& name : made) {
      if (InMemory()) {
        MemoryFiles().DeleteMemoryFile(name);
      } else {
        platform::DeleteFileA(name);
      }
    }
    throw;
  }
  // A blob file left by an older table of the target's name would be taken for the copy's.
  if (!withBlobs) {
    blobFile_->SetFileName(newName);
    if (blobFile_->FileFound()) blobFile_->EraseFile();
  }
}

void TDataFile::EmptyTable() {
  if (!Exclusive()) Raise(ec::MustBeExclusive);
  if (ReadOnly()) Raise(ec::AccessDenied);
  EmptyRecords();
  DropRecordCache();
  indexFile_->EmptyFile();
  if (HasBlobFields()) {
    blobFile_->FreeBlobs();
    blobFile_->ResetFile();
  }
  currentRecord_ = nullptr;
}

}  // namespace kavrin::engine
