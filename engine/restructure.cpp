// Restructure: a table takes a new definition. When only names, descriptions and the password change,
// the definitions are rewritten in place; otherwise every record is copied, its values converted field
// by field, into a new table "TMPn" beside it, which then takes the table's name while the old files
// become the backups ".DBK", ".IBK" and ".BBK".
//
// The switch of the files on disk cannot be one step. Older backups go first (the data file's last),
// then the old files take the backup names and the new files the table's names, the data file last
// each time. A process that dies in between leaves a state that the data files alone tell apart, and
// UndoInterruptedRestructure puts the old table back:
//   ".DAT" there, ".DBK" not:   the old files were going to their backups; those that went come back.
//   ".DBK" there, ".DAT" not:   every old file is a backup; what holds the table's names is new.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <set>
#include <unordered_map>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/data_file_sections.h"
#include "engine/engine_error.h"
#include "engine/generated_names.h"
#include "engine/index_file.h"
#include "engine/memory_files.h"
#include "engine/password_list.h"
#include "engine/primitives.h"
#include "engine/value_conversion.h"
#include "platform/win_file.h"

namespace kavrin::engine {
namespace {

std::string DirectoryOf(const std::string& fileName) {
  const std::size_t slash = fileName.rfind('/');
  return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
}

bool TableFileExists(bool inMemory, const std::string& name) {
  return inMemory ? MemoryFiles().MemoryFileExists(name) : platform::FileExists(name);
}

bool MoveTableFile(bool inMemory, const std::string& from, const std::string& to) {
  return inMemory ? MemoryFiles().RenameMemoryFile(from, to) : platform::MoveFileA(from, to);
}

void DeleteTableFile(bool inMemory, const std::string& name) {
  if (!TableFileExists(inMemory, name)) return;
  const bool deleted = inMemory ? MemoryFiles().DeleteMemoryFile(name) : platform::DeleteFileA(name);
  if (!deleted) RaiseEngineError(ec::CannotDelete, name);
}

// Errors of the files themselves end a restructure; any other refusal of an insert is about the record.
bool FileLayerFailure(TErrorCode code) {
  switch (code) {
    case ec::ReadError:
    case ec::WriteError:
    case ec::CannotDelete:
    case ec::HeaderError:
    case ec::RecordBuffersCorrupt:
    case ec::BlockBuffersCorrupt:
    case ec::PageBuffersCorrupt:
    case ec::InvalidBlobOffset:
    case ec::OutOfMemory:
    case ec::GeneralLockFailure:
    case ec::InvalidPath:
    case ec::TooManyOpenFiles:
    case ec::AccessDenied:
    case ec::InvalidHandle:
    case ec::InvalidDrive:
    case ec::FileMoved:
    case ec::UnknownError: return true;
    default: return false;
  }
}

TDataLossCause CauseOfInsertFailure(TErrorCode code) {
  switch (code) {
    case ec::KeyViolation: return TDataLossCause::KeyViolation;
    case ec::RequiredField:
    case ec::MinimumExceeded:
    case ec::MaximumExceeded: return TDataLossCause::ValidityCheck;
    default: return TDataLossCause::Other;
  }
}

// One file rename of the switch; undone newest first when a later one fails.
struct TFileMove {
  std::string From;
  std::string To;
};

}  // namespace

class TTableRestructure {
 public:
  TTableRestructure(TDataFile& table, bool encrypted, std::string_view password, std::vector<TIndexDescriptor> indexes,
                    std::vector<TFieldDescriptor> fields, std::uint16_t blobBlockSize, std::string_view description)
      : table_(table),
        encrypted_(encrypted),
        password_(password),
        indexes_(std::move(indexes)),
        fields_(std::move(fields)),
        blobBlockSize_(blobBlockSize),
        description_(description) {}

  void Run();

 private:
  bool DefinitionsOnly() const;
  void ChangeInPlace();
  void Rebuild();
  bool CopyRecords(TDataFile& target);
  bool CopyRecord(TDataFile& target, std::uint8_t* oldImage, std::uint8_t* buffer);
  bool CopyBlobField(TDataFile& target, const TFieldDescriptor& oldField, const TFieldDescriptor& newField,
                     std::uint8_t* oldImage, std::uint8_t* buffer);
  bool GoOn(TDataLossCause cause);
  void SwitchFiles(const std::string& tempName);
  static void DiscardTable(TDataFile& target, bool inMemory, const std::string& name) noexcept;

  TDataFile& table_;
  bool encrypted_;
  std::string password_;
  std::vector<TIndexDescriptor> indexes_;
  std::vector<TFieldDescriptor> fields_;
  std::uint16_t blobBlockSize_;
  std::string description_;
  bool continue_ = true;
  bool stopAsking_ = false;
};

void TTableRestructure::Run() {
  if (table_.Opened()) RaiseEngineError(ec::FileInUse, table_.FileName());
  if (!table_.Exclusive()) RaiseEngineError(ec::MustBeExclusive, table_.FileName());
  if (table_.ReadOnly()) RaiseEngineError(ec::AccessDenied, table_.FileName());
  table_.UndoInterruptedRestructure();
  // Progress and data-loss events may run messages: nothing may close the table under the restructure.
  const TCursorGuard guard(table_);
  table_.OpenFile();
  // The old table is only read: closing it without a flush leaves its files exactly as they were.
  struct TCloseUnwritten {
    TDataFile& table;
    ~TCloseUnwritten() { table.CloseWithoutWriting(); }
  } closeOld{table_};
  if (table_.ReadOnly()) RaiseEngineError(ec::AccessDenied, table_.FileName());
  TDataFile::ValidateDefinition(encrypted_, password_, indexes_, fields_, blobBlockSize_, table_.FileName());
  if (DefinitionsOnly()) {
    ChangeInPlace();
  } else {
    Rebuild();
  }
}

bool TTableRestructure::DefinitionsOnly() const {
  const TDataFileHeader& header = table_.header_;
  if (encrypted_ != header.Encrypted || blobBlockSize_ != header.EffectiveBlobBlockSize()) return false;
  if (fields_.size() != table_.fields_.size()) return false;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (TDataFile::FieldDefChanged(table_.fields_[i], fields_[i])) return false;
  }
  if (indexes_.size() != table_.IndexCount() + 1u) return false;
  for (std::uint8_t n = 0; n <= table_.IndexCount(); ++n) {
    TIndexDescriptor wanted = indexes_[n];
    if (n == 0) wanted.Unique = 1;  // the primary index is always stored unique
    if (TDataFile::IndexDefChanged(table_.GetIndexDef(n), wanted, table_.fields_, fields_)) return false;
  }
  return true;
}

void TTableRestructure::ChangeInPlace() {
  // Only the names change here, so they get the checks that creating the indexes would give them.
  std::set<std::string> names;
  for (std::size_t n = 1; n < indexes_.size(); ++n) {
    const std::string name = UpperTrimmed(indexes_[n].Name);
    if (name.empty()) RaiseEngineError(ec::IndexNameMissing, indexes_[n].Name);
    if (!names.insert(name).second) RaiseEngineError(ec::IndexExists, indexes_[n].Name);
  }
  for (std::uint8_t n = 0; n < indexes_.size(); ++n) table_.indexFile_->SetDescriptor(n, indexes_[n]);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    table_.AlterFieldDef(static_cast<std::uint16_t>(i + 1), fields_[i]);
  }
  table_.header_.Description = LeftString(description_, HeaderDescriptionLength);
  table_.header_.Password = encrypted_ ? LeftString(password_, HeaderPasswordLength) : std::string();
  table_.WriteFieldDescriptors();
  // Closing writes the header and the index header.
  table_.CloseOwned();
}

void TTableRestructure::Rebuild() {
  const bool inMemory = table_.InMemory();
  const TTemporaryPassword password(encrypted_ ? LeftString(password_, HeaderPasswordLength) : std::string());
  const std::string tempName = UniqueTempFileName(DirectoryOf(table_.FileName()), inMemory);
  auto target = std::make_unique<TDataFile>(table_.Owner());
  bool switched = false;
  try {
    target->SetInMemory(inMemory);
    target->SetExclusive(true);
    target->SetFileName(tempName);
    target->SetKeepRecordIDs(true);
    target->CreateTable(encrypted_, password_, indexes_, fields_, blobBlockSize_, description_);
    target->OpenFile();
    if (!CopyRecords(*target)) {
      DiscardTable(*target, inMemory, tempName);
      return;
    }
    // New records continue after the old table's ids, never below one a kept record holds.
    target->header_.LastUniqueID = std::max(target->header_.LastUniqueID, table_.header_.LastUniqueID);
    target->RenumberFields();
    target->WriteFieldDescriptors();
    target->CloseFile();
    table_.CloseWithoutWriting();
    SwitchFiles(tempName);
    switched = true;
    table_.OpenFile();
    table_.CloseOwned();
  } catch (...) {
    if (!switched) DiscardTable(*target, inMemory, tempName);
    throw;
  }
}

bool TTableRestructure::CopyRecords(TDataFile& target) {
  const std::int32_t slots = table_.header_.NextRecordNumber - 1;
  std::vector<std::uint8_t> oldImage(static_cast<std::size_t>(table_.RecordSize()));
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(target.RecordSize()));
  for (std::int32_t n = 1; n <= slots; ++n) {
    const TRecord* record = table_.FetchRecord(n);
    if (!record->Deleted()) {
      std::memcpy(oldImage.data(), record->Buffer(), oldImage.size());
      // Each record's blobs are open only while it is copied, so 64 handles are always enough.
      struct TFreeBlobs {
        TDataFile& from;
        TDataFile& to;
        ~TFreeBlobs() {
          if (from.HasBlobFields()) from.blobFile_->FreeBlobs();
          if (to.HasBlobFields()) to.blobFile_->FreeBlobs();
        }
      } freeBlobs{table_, target};
      if (!CopyRecord(target, oldImage.data(), buffer.data())) return false;
    }
    table_.DoRestructureProgress(n, static_cast<std::int32_t>(std::int64_t{n} * 100 / slots));
  }
  return true;
}

bool TTableRestructure::CopyRecord(TDataFile& target, std::uint8_t* oldImage, std::uint8_t* buffer) {
  target.InitRecord(buffer);
  const std::int32_t id = TDataFile::GetUniqueID(oldImage);
  for (const TFieldDescriptor& oldField : table_.fields_) {
    const TFieldDescriptor* newField = target.FindField(oldField.FieldNumber);
    if (!newField) {
      if (!GoOn(TDataLossCause::FieldDropped)) return false;
      continue;
    }
    if (oldField.Type == ftBlob) {
      if (!CopyBlobField(target, oldField, *newField, oldImage, buffer)) return false;
      continue;
    }
    std::array<std::uint8_t, FieldValueBufferSize> value{};
    bool isNull = true;
    table_.GetField(oldField.FieldNumber, oldImage, isNull, value.data());
    if (isNull) continue;  // the new field keeps its default
    bool lost = false;
    const bool converted = ConvertFieldValue(oldField, *newField, value.data(), lost);
    // An AutoInc field's value is the record's unique id, which the copy keeps: any other value is lost.
    if (converted && newField->IsAutoInc() && LoadI32(value.data()) != id) lost = true;
    if (lost && !GoOn(TDataLossCause::Conversion)) return false;
    target.SetField(newField->FieldNumber, buffer, value.data());
  }
  TDataFile::SetUniqueID(buffer, id);
  try {
    target.InsertRecord(buffer);
  } catch (const EDBEngineError& error) {
    if (FileLayerFailure(error.Code())) throw;
    return GoOn(CauseOfInsertFailure(error.Code()));
  }
  return true;
}

bool TTableRestructure::CopyBlobField(TDataFile& target, const TFieldDescriptor& oldField,
                                      const TFieldDescriptor& newField, std::uint8_t* oldImage, std::uint8_t* buffer) {
  const std::int16_t number = oldField.FieldNumber;
  if (newField.Type == ftBlob) {
    const TErrorCode code = TDataFile::CopyBlob(target, table_, number, buffer, oldImage);
    if (code != ec::Success) RaiseEngineError(code, table_.FileName());
    return true;
  }
  TErrorCode code = table_.OpenBlobUnlocked(number, oldImage);
  std::int32_t size = 0;
  if (code == ec::Success) code = table_.BlobSize(number, oldImage, size);
  if (code != ec::Success) RaiseEngineError(code, table_.FileName());
  // An empty blob carries nothing, so nothing is lost; the new field keeps its default either way.
  return size == 0 || GoOn(TDataLossCause::Conversion);
}

bool TTableRestructure::GoOn(TDataLossCause cause) {
  if (!stopAsking_) table_.DoDataLost(cause, continue_, stopAsking_);
  return continue_;
}

void TTableRestructure::SwitchFiles(const std::string& tempName) {
  const bool inMemory = table_.InMemory();
  const std::string base = StripExtension(table_.FileName());
  const std::string temp = StripExtension(tempName);
  std::array<std::string, 3> oldTargets;  // where the old data, index and blob files go
  std::string aside;
  if (inMemory) {
    // In memory the old files only step aside until the new ones have their names, then they go.
    aside = StripExtension(UniqueTempFileName(DirectoryOf(table_.FileName()), true));
    MemoryFiles().DeleteMemoryFile(aside + ".DAT");  // the reservation itself would block the move
    oldTargets = {aside + ".DAT", aside + ".IDX", aside + ".BLB"};
  } else {
    oldTargets = {base + ".DBK", base + ".IBK", base + ".BBK"};
  }
  std::vector<TFileMove> moves;
  if (TableFileExists(inMemory, base + ".BLB")) moves.push_back({base + ".BLB", oldTargets[2]});
  moves.push_back({base + ".IDX", oldTargets[1]});
  moves.push_back({base + ".DAT", oldTargets[0]});
  if (TableFileExists(inMemory, temp + ".BLB")) moves.push_back({temp + ".BLB", base + ".BLB"});
  moves.push_back({temp + ".IDX", base + ".IDX"});
  moves.push_back({temp + ".DAT", base + ".DAT"});

  // Every source must be there and every target free, or freed by an earlier move, before anything moves.
  for (std::size_t i = 0; i < moves.size(); ++i) {
    const bool freed = std::any_of(moves.begin(), moves.begin() + static_cast<std::ptrdiff_t>(i),
                                   [&](const TFileMove& earlier) { return earlier.From == moves[i].To; });
    // Older backups are about to be removed, so they count as free.
    const bool oldBackup =
        !inMemory && std::find(oldTargets.begin(), oldTargets.end(), moves[i].To) != oldTargets.end();
    if (!TableFileExists(inMemory, moves[i].From)) RaiseEngineError(ec::InvalidPath, moves[i].From);
    if (!freed && !oldBackup && TableFileExists(inMemory, moves[i].To)) RaiseEngineError(ec::UnknownError, moves[i].To);
  }
  if (!inMemory) {
    // Only now that every move is known to be possible do the older backups go; the data file's
    // backup goes last: while it exists, the other backups belong to it.
    for (const char* extension : {".BBK", ".IBK", ".DBK"}) DeleteTableFile(false, base + extension);
  }
  for (std::size_t done = 0; done < moves.size(); ++done) {
    if (MoveTableFile(inMemory, moves[done].From, moves[done].To)) continue;
    for (std::size_t i = done; i-- > 0;) MoveTableFile(inMemory, moves[i].To, moves[i].From);
    RaiseEngineError(ec::UnknownError, moves[done].From);
  }
  if (inMemory) {
    for (const std::string& name : oldTargets) MemoryFiles().DeleteMemoryFile(name);
  }
}

void TTableRestructure::DiscardTable(TDataFile& target, bool inMemory, const std::string& name) noexcept {
  target.CloseWithoutWriting();
  const std::string base = StripExtension(name);
  for (const char* extension : {".BLB", ".IDX", ".DAT"}) {
    try {
      DeleteTableFile(inMemory, base + extension);
    } catch (...) {
      // The restructure's own failure is the one to report.
    }
  }
}

void TDataFile::RestructureTable(bool encrypted, std::string_view password, std::vector<TIndexDescriptor> indexes,
                                 std::vector<TFieldDescriptor> fields, std::uint16_t blobBlockSize,
                                 std::string_view description) {
  TTableRestructure(*this, encrypted, password, std::move(indexes), std::move(fields), blobBlockSize, description)
      .Run();
}

bool TDataFile::FieldDefChanged(const TFieldDescriptor& oldField, const TFieldDescriptor& newField) {
  return oldField.FieldNumber != newField.FieldNumber || oldField.Type != newField.Type ||
         oldField.Subtype != newField.Subtype || FieldDataSize(oldField) != FieldDataSize(newField) ||
         oldField.Decimals != newField.Decimals || oldField.Default != newField.Default ||
         oldField.Minimum != newField.Minimum || oldField.Maximum != newField.Maximum ||
         oldField.Required != newField.Required;
}

bool TDataFile::IndexDefChanged(const TIndexDescriptor& oldIndex, const TIndexDescriptor& newIndex,
                                const std::vector<TFieldDescriptor>& oldFields,
                                const std::vector<TFieldDescriptor>& newFields) {
  if (oldIndex.KeyLength != newIndex.KeyLength || oldIndex.KeyFieldCount != newIndex.KeyFieldCount ||
      (oldIndex.Descending != 0) != (newIndex.Descending != 0) ||
      (oldIndex.CaseInsensitive != 0) != (newIndex.CaseInsensitive != 0) ||
      (oldIndex.Unique != 0) != (newIndex.Unique != 0)) {
    return true;
  }
  for (std::size_t k = 0; k < oldIndex.KeyFieldCount && k < MaxKeyFields; ++k) {
    if (oldIndex.KeyFields[k] != newIndex.KeyFields[k]) return true;
    TFieldDescriptor oldField;
    TFieldDescriptor newField;
    FindFieldDef(oldIndex.KeyFields[k], oldFields, oldField);
    FindFieldDef(newIndex.KeyFields[k], newFields, newField);
    if (FieldDefChanged(oldField, newField)) return true;
  }
  return false;
}

void TDataFile::FindFieldDef(std::int16_t fieldNumber, const std::vector<TFieldDescriptor>& fields,
                             TFieldDescriptor& field) {
  field = TFieldDescriptor{};
  const auto found = std::find_if(fields.begin(), fields.end(),
                                  [fieldNumber](const TFieldDescriptor& f) { return f.FieldNumber == fieldNumber; });
  if (found == fields.end()) RaiseEngineError(ec::InvalidFieldNumber, "");
  field = *found;
}

void TDataFile::RenumberFields() {
  std::unordered_map<std::int16_t, std::int16_t> position;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    position.emplace(fields_[i].FieldNumber, static_cast<std::int16_t>(i + 1));
  }
  // Every descriptor is worked out before any is stored, so a key field without a field changes nothing.
  std::vector<TIndexDescriptor> descriptors;
  for (std::uint8_t n = 0; n <= indexFile_->IndexCount(); ++n) {
    TIndexDescriptor descriptor = indexFile_->GetDescriptor(n);
    for (std::size_t k = 0; k < descriptor.KeyFieldCount && k < MaxKeyFields; ++k) {
      const auto found = position.find(descriptor.KeyFields[k]);
      if (found == position.end()) Raise(ec::InvalidFieldNumber);
      descriptor.KeyFields[k] = found->second;
    }
    descriptors.push_back(descriptor);
  }
  for (std::size_t n = 0; n < descriptors.size(); ++n) {
    indexFile_->SetDescriptor(static_cast<std::uint8_t>(n), descriptors[n]);
  }
  for (std::size_t i = 0; i < fields_.size(); ++i) fields_[i].FieldNumber = static_cast<std::int16_t>(i + 1);
  RebuildFieldMap();
}

void TDataFile::UndoInterruptedRestructure() {
  if (InMemory()) return;
  RequireClosed();
  const std::string base = StripExtension(FileName());
  auto exists = [&](const char* extension) { return platform::FileExists(base + extension); };
  auto move = [&](const char* from, const char* to) {
    if (!platform::MoveFileA(base + from, base + to)) RaiseEngineError(ec::UnknownError, base + from);
  };
  if (exists(".DBK") && !exists(".DAT")) {
    DeleteTableFile(false, base + ".IDX");
    if (exists(".IBK")) move(".IBK", ".IDX");
    DeleteTableFile(false, base + ".BLB");
    if (exists(".BBK")) move(".BBK", ".BLB");
    move(".DBK", ".DAT");
  } else if (exists(".DAT") && !exists(".DBK")) {
    if (exists(".IBK") && !exists(".IDX")) move(".IBK", ".IDX");
    if (exists(".BBK") && !exists(".BLB")) move(".BBK", ".BLB");
  }
}

}  // namespace kavrin::engine
