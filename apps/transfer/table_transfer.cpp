#include "apps/transfer/table_transfer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "apps/transfer/readers/source_files.h"
#include "apps/transfer/readers/source_table.h"
#include "apps/transfer/transfer_descriptors.h"
#include "apps/transfer/transfer_error.h"
#include "apps/transfer/transfer_messages.h"
#include "engine/bcd.h"
#include "engine/data_file.h"
#include "engine/file_handler.h"
#include "engine/generated_names.h"
#include "engine/primitives.h"
#include "platform/win_file.h"
#include "runtime/code_pages.h"
#include "runtime/conversions.h"

namespace kavrin::transfer {
namespace {

using classlib::TFieldType;

constexpr std::size_t kMaxEngineFields = 512;
constexpr std::size_t kMaxSecondaryIndexes = 30;
constexpr std::uint16_t kMaxFieldLength = 245;
constexpr std::uint16_t kMaxBcdDecimals = 4;
// The window repaints and shows the progress this often while records are copied.
constexpr std::chrono::milliseconds kProgressInterval(10);

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

std::string Left(const std::string& text, std::size_t length) { return text.substr(0, std::min(length, text.size())); }

class TBusyScope {
 public:
  explicit TBusyScope(TTransferUi& ui) : ui_(ui) { ui_.SetBusy(true); }
  ~TBusyScope() { ui_.SetBusy(false); }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;

 private:
  TTransferUi& ui_;
};

// One table's cycle: the destination is built under a reserved "TMPn" name in the destination folder
// and takes its own name only once it is whole, so an existing table of that name stays as it was
// until then. On every path the destination is closed and the status bar cleared; on a failure the
// temporary files go.
class TTableCycle {
 public:
  TTableCycle(TTransferUi& ui, engine::TDataFile& table) : ui_(ui), table_(table) {}
  ~TTableCycle() {
    try {
      if (table_.Opened()) table_.Close();
    } catch (...) {
      // The failure that ended the cycle is the one reported; the destination lets go of what it could
      // not write.
      table_.CloseWithoutWriting();
    }
    if (!temporary_.empty() && !placed_) RemoveTableFiles(temporary_);
    ui_.SetStatus("");
    ui_.ProcessMessages();
  }
  TTableCycle(const TTableCycle&) = delete;
  TTableCycle& operator=(const TTableCycle&) = delete;

  // The table's files get a free name of the folder; the reservation is what CreateTable takes over.
  void UseTemporaryName(const std::string& directory) {
    temporary_ = engine::UniqueTempFileName(directory, false);
    table_.SetFileName(temporary_);
  }

  // The closed, whole table takes finalName. An existing table of that name moves aside first and
  // comes back if the move fails; one open in another process refuses with the engine's error.
  void PutInPlace(const std::string& directory, const std::string& finalName) {
    engine::TDataFile existing;
    existing.SetFileName(finalName);
    const std::string base = engine::StripExtension(existing.FileName());
    if (!platform::FileExists(base + ".DAT")) {
      // An index or blob file without its data file belongs to no table, and would block the move.
      for (const char* extension : {".IDX", ".BLB"})
        if (platform::FileExists(base + extension)) platform::DeleteFileA(base + extension);
      table_.RenameTable(finalName);
      placed_ = true;
      return;
    }
    for (const char* extension : {".DAT", ".IDX", ".BLB"}) {
      if (!platform::FileExists(base + extension)) continue;
      engine::TFileHandler probe;
      probe.SetFileName(base + extension);
      probe.SetExclusive(true);
      probe.OpenFile();
      probe.CloseFile();
    }
    const std::string aside = engine::UniqueTempFileName(directory, false);
    platform::DeleteFileA(aside);  // the reservation itself would block the move
    existing.RenameTable(aside);
    try {
      table_.RenameTable(finalName);
    } catch (...) {
      try {
        existing.RenameTable(finalName);
      } catch (...) {
        // The table stays under the aside name; the failure to place the new one is reported.
      }
      throw;
    }
    placed_ = true;
    RemoveTableFiles(existing.FileName());
  }

 private:
  static void RemoveTableFiles(const std::string& dataFileName) {
    const std::string base = engine::StripExtension(dataFileName);
    // The data file last: while it is there, its name stays reserved.
    for (const char* extension : {".BLB", ".IDX", ".DAT"})
      if (platform::FileExists(base + extension)) platform::DeleteFileA(base + extension);
  }

  TTransferUi& ui_;
  engine::TDataFile& table_;
  std::string temporary_;
  bool placed_ = false;
};

// Graphic and typed-binary streams lose the 8-byte header Paradox puts in front of the picture.
std::string_view BlobPayload(TFieldType type, const std::string& bytes) {
  if ((type == TFieldType::ftGraphic || type == TFieldType::ftTypedBinary) && bytes.size() >= 8) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::uint16_t first = static_cast<std::uint16_t>(p[0] | p[1] << 8);
    const std::uint16_t second = static_cast<std::uint16_t>(p[2] | p[3] << 8);
    const std::uint32_t length = static_cast<std::uint32_t>(p[4]) | static_cast<std::uint32_t>(p[5]) << 8 |
                                 static_cast<std::uint32_t>(p[6]) << 16 | static_cast<std::uint32_t>(p[7]) << 24;
    if (first == 1 && second == 256 && length == bytes.size() - 8) return std::string_view(bytes).substr(8);
  }
  return bytes;
}

// A name as the message shows it: control bytes as \xNN.
std::string Shown(const std::string& name) {
  static const char* digits = "0123456789ABCDEF";
  std::string out = "\"";
  for (const char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) {
      out += "\\x";
      out += digits[b >> 4];
      out += digits[b & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The engine refuses a field name that is empty, has a control character, does not start with a letter
// or repeats another up to case (after the cut to its length); coming from a source header, such a name
// is damage, and the error names the source file rather than leaving the engine to name the field alone.
// The engine judges the stored Windows-1252 bytes, not the UTF-8 ones, which are longer and upper-case
// only ASCII letters.
void CheckFieldNames(const TSourceTable& source) {
  std::set<std::string> seen;
  for (const TSourceField& field : source.Fields()) {
    // Compared as the engine compares them: the stored Windows-1252 bytes, cut and upper-cased there.
    std::string stored;
    try {
      stored = runtime::Utf8ToDescriptorText(field.Name, "Field name");
    } catch (const runtime::EConvertError&) {
      continue;  // refused by name when the destination's fields are built
    }
    const std::string name = engine::UpperDescriptorName(Left(stored, engine::FieldNameLength));
    std::string problem;
    if (name.empty()) {
      problem = "is empty";
    } else if (std::any_of(name.begin(), name.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
      problem = "holds a control character";
    } else if (name[0] < 'A' || name[0] > 'Z') {
      problem = "does not start with a letter";
    } else if (!seen.insert(name).second) {
      problem = "appears twice";
    }
    if (!problem.empty()) {
      throw ESourceError(source.FileName(),
                         "the file is damaged (field name " + Shown(field.Name) + " " + problem + ")");
    }
  }
}

// A TempTable index definition: what the source gave, the expression read as a field list.
struct TPendingIndex {
  std::string Name;
  std::string Fields;
  std::string Expression;
  std::uint8_t Options = 0;
};

}  // namespace

void TTableTransfer::BeginTransfer(const std::string& sourceDirectory, const std::vector<std::string>& entries,
                                   const std::string& destinationDirectory) {
  TBusyScope busy(ui_);
  TTransferRaiseHook hook;
  // Destination names taken this click, upper-cased, with the entry that took each.
  std::map<std::string, std::string> destinations;
  for (const std::string& entry : entries) {
    const std::string table = Trim(entry);
    const std::string destination = UpperAscii(StemOf(table));
    if (auto taken = destinations.find(destination); taken != destinations.end()) {
      ui_.ShowMessage(SameDestinationText(taken->second, table));
      continue;
    }
    destinations.emplace(destination, table);
    TransferTable(sourceDirectory, entry, destinationDirectory);
  }
  ui_.ShowMessage(TransferCompletedText);
}

void TTableTransfer::TransferTable(const std::string& sourceDirectory, const std::string& entry,
                                   const std::string& destinationDirectory) {
  const std::string table = Trim(entry);
  ui_.SetStatus(TransferringTableText(entry));
  ui_.ProcessMessages();

  engine::TDataFile destination;
  TTableCycle cycle(ui_, destination);
  const std::unique_ptr<TSourceTable> source = OpenSourceTable(
      engine::AddBackslash(sourceDirectory) + table,
      [this](const std::string& fileName, std::string& password) { return ui_.AskPassword(fileName, password); });
  CheckFieldNames(*source);
  const std::vector<TSourceField>& fields = source->Fields();

  const std::string directory = Left(destinationDirectory, 255);
  const std::string finalName = engine::AddBackslash(directory) + Left(table, 255);
  destination.SetExclusive(true);
  destination.SetKeepRecordIDs(false);
  std::vector<TPendingIndex> pending;
  std::size_t fieldShift = 1;
  std::size_t indexShift = 1;
  bool primaryFound = false;

  // An expression index comes over as its field list when every "+" part names a field.
  auto addIndex = [&](const TSourceIndex& index) {
    TPendingIndex added{index.Name, index.Fields, index.Expression, index.Options};
    if (index.Options & ixExpression) {
      bool plain = IsPlainIndexExpression(index.Expression);
      if (plain) {
        TIndexImage probe;
        BuildIndexDescriptor(probe, index.Name, index.Options, index.Expression, "", fields);
        for (std::uint16_t k = 0; k < probe.KeyFieldCount; ++k) plain = plain && probe.KeyFields[k] != 0;
        plain = plain && probe.KeyFieldCount > 0;
      }
      if (!plain) {
        ui_.ShowMessage(ExpressionIndexText(index.Name, table));
        return false;
      }
      added.Fields = ExpressionToFieldList(index.Expression);
    }
    pending.push_back(std::move(added));
    return true;
  };

  const std::vector<TSourceIndex>& indexes = source->Indexes();
  std::size_t primaryPosition = indexes.size();
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    if (!(indexes[i].Options & ixPrimary)) continue;
    if (addIndex(indexes[i])) {
      primaryFound = true;
      fieldShift = 0;
      indexShift = 0;
      primaryPosition = i;
    }
    break;
  }
  // The engine holds 512 fields; refusing here leaves nothing created.
  if (fields.size() + fieldShift > kMaxEngineFields) {
    ui_.ShowMessage(TooManyFieldsText(table, fields.size() + fieldShift));
    return;
  }
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    if (primaryFound && i == primaryPosition) continue;
    const std::size_t secondaries = pending.size() - (primaryFound ? 1 : 0);
    if (secondaries >= kMaxSecondaryIndexes) {
      ui_.ShowMessage(TooManyIndexesText(indexes[i].Name, table));
      continue;
    }
    addIndex(indexes[i]);
  }

  std::vector<engine::TFieldDescriptor> descriptors;
  if (!primaryFound) {
    engine::TFieldDescriptor recordId;
    recordId.FieldNumber = 1;
    recordId.Name = "RecordID";
    recordId.Type = engine::ftInteger;
    recordId.Subtype = engine::fstAutoInc;
    descriptors.push_back(recordId);
  }
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldImage image;
    BuildFieldDescriptor(image, fields[i].Name, fields[i].Size, fields[i].Type);
    engine::TFieldDescriptor field;
    field.FieldNumber = static_cast<std::int16_t>(i + fieldShift + 1);
    field.Name = Left(image.Name, engine::FieldNameLength);
    field.Type = image.Type;
    field.Subtype = image.Subtype;
    if (field.IsAutoInc()) destination.SetKeepRecordIDs(true);
    std::uint16_t size = image.Units1;
    if (size > kMaxFieldLength) {
      ui_.ShowMessage(FieldLengthText(fields[i].Name, table));
      size = kMaxFieldLength;
    }
    field.Size = static_cast<std::uint8_t>(size);
    std::uint16_t decimals = image.Units2;
    if (decimals > kMaxBcdDecimals) {
      ui_.ShowMessage(BcdDecimalsText(fields[i].Name, table));
      decimals = kMaxBcdDecimals;
    }
    field.Decimals = static_cast<std::uint8_t>(decimals);
    field.Required = fields[i].Required;
    descriptors.push_back(field);
  }

  std::vector<engine::TIndexDescriptor> indexDescriptors(pending.size() + indexShift);
  if (!primaryFound) {
    ui_.ShowMessage(NoPrimaryIndexText(table));
    indexDescriptors[0].KeyFields[0] = 1;
  }
  for (std::size_t i = 0; i < pending.size(); ++i) {
    TIndexImage image;
    BuildIndexDescriptor(image, pending[i].Name, pending[i].Options & ~ixExpression, "", pending[i].Fields, fields);
    engine::TIndexDescriptor& target = indexDescriptors[i + indexShift];
    if (!image.Primary) target.Name = Left(image.Name, engine::IndexNameLength);
    for (std::size_t k = 0; k < image.KeyFields.size(); ++k) {
      const std::int16_t number = image.KeyFields[k];
      target.KeyFields[k] = image.Primary || number == 0 ? number : static_cast<std::int16_t>(number + fieldShift);
    }
    target.Descending = image.Descending;
    target.CaseInsensitive = image.CaseInsensitive;
    target.Unique = image.Unique;
  }

  cycle.UseTemporaryName(directory);
  destination.CreateTable(false, "", indexDescriptors, descriptors, 512, "");
  destination.Open();

  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(destination.RecordSize()));
  std::vector<TSourceValue> values;
  std::vector<std::uint8_t> value;
  auto shown = ui_.Now();
  while (source->Next(values)) {
    std::fill(buffer.begin(), buffer.end(), 0);
    destination.InitRecord(buffer.data());
    std::vector<std::int16_t> openBlobs;
    try {
      for (std::size_t i = 0; i < fields.size(); ++i) {
        const auto number = static_cast<std::int16_t>(i + fieldShift + 1);
        const TSourceValue& v = values[i];
        if (classlib::IsBlobFieldType(fields[i].Type)) {
          CheckEngineCode(destination.OpenBlob(number, buffer.data()), destination.FileName());
          openBlobs.push_back(number);
          if (v.Null) continue;
          const std::string_view payload = BlobPayload(fields[i].Type, v.Bytes);
          if (payload.empty()) continue;
          CheckEngineCode(destination.WriteBlob(number, buffer.data(), 0, static_cast<std::int32_t>(payload.size()),
                                                payload.data()),
                          destination.FileName());
          continue;
        }
        if (v.Null) continue;
        const engine::TFieldDescriptor& field = descriptors[i + fieldShift];
        value.assign(std::max<std::size_t>(engine::FieldDataSize(field), v.Bytes.size()) + 1, 0);
        std::memcpy(value.data(), v.Bytes.data(), v.Bytes.size());
        if (fields[i].Type == TFieldType::ftBCD) {
          std::int64_t raw = 0;
          std::memcpy(&raw, v.Bytes.data(), std::min(sizeof raw, v.Bytes.size()));
          const std::int64_t stored = engine::CurrencyToBCD(field.Decimals, runtime::Currency::FromRaw(raw));
          std::memcpy(value.data(), &stored, sizeof stored);
        }
        destination.SetField(number, buffer.data(), value.data());
      }
      destination.InsertRecord(buffer.data());
    } catch (...) {
      for (std::int16_t number : openBlobs) destination.CloseBlob(number, buffer.data());
      throw;
    }
    for (std::int16_t number : openBlobs) destination.CloseBlob(number, buffer.data());
    if (const auto now = ui_.Now(); now - shown >= kProgressInterval) {
      ui_.SetStatus(TransferProgressText(entry, source->RecordNumber(), source->RecordCount()));
      ui_.ProcessMessages();
      shown = now;
    }
  }
  destination.Close();
  cycle.PutInPlace(directory, finalName);
}

}  // namespace kavrin::transfer
