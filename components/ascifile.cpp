#include "components/ascifile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "classlib/data/blob_stream.h"
#include "classlib/data/field.h"
#include "classlib/data/other_fields.h"
#include "classlib/data/session.h"
#include "classlib/data/streams.h"
#include "dataset/table.h"
#include "runtime/conversions.h"
#include "runtime/date_time.h"

namespace kavrin::components::ascifile {

namespace {

namespace fs = std::filesystem;
using classlib::TDataSetState;
using classlib::TField;
using classlib::TFieldType;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string FileMessage(const char* what, const std::string& fileName) {
  return what + fileName + ": " + std::strerror(errno);
}

void WriteText(std::FILE* file, const std::string& text, const std::string& fileName) {
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
    throw EInOutError(FileMessage("Cannot write file ", fileName), errno);
  }
}

// A record stays on one line: CR LF pairs and lone CRs and LFs all go.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c != '\r' && c != '\n') out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string EightDigits(std::int32_t n) {
  char text[16];
  std::snprintf(text, sizeof text, "%08d", static_cast<int>(n));
  return text;
}

std::uint16_t Percent(std::int64_t part, std::int64_t whole) {
  if (whole <= 0) return part > 0 ? 100 : 0;
  return static_cast<std::uint16_t>(std::clamp<std::int64_t>(part * 100 / whole, 0, 100));
}

std::int32_t ClampToLongint(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

std::string Part(const std::string& text, std::size_t position, std::size_t count) {
  return position < text.size() ? text.substr(position, count) : std::string();
}

bool Pending(const dataset::TTable& table) {
  return table.State() == TDataSetState::dsEdit || table.State() == TDataSetState::dsInsert ||
         table.State() == TDataSetState::dsSetKey;
}

classlib::TBlobField* BlobOf(TField& field) { return dynamic_cast<classlib::TBlobField*>(&field); }

}  // namespace

TAsciiFile::TAsciiFile(classlib::TComponent* owner) : TComponent(owner) { UpdateDelimiter(); }

void TAsciiFile::SetFileType(TFileType type) {
  fileType_ = type;
  UpdateDelimiter();
}

void TAsciiFile::UpdateDelimiter() { delimiter_ = fileType_ == TFileType::ftTab ? '\t' : ','; }

// --- export ------------------------------------------------------------------------------------------

void TAsciiFile::ExportFile() {
  if (!table_) classlib::DatabaseError("No table to export");
  table_->CheckActive();
  UpdateDelimiter();
  struct stat info {};
  const bool append = exportType_ == TExportType::etAppend && ::stat(fileName_.c_str(), &info) == 0;
  FilePtr file(std::fopen(fileName_.c_str(), append ? "abe" : "wbe"));
  if (!file) {
    throw EInOutError(FileMessage(append ? "Cannot open file " : "Cannot create file ", fileName_), errno);
  }
  try {
    ExportRecords(file.get());
  } catch (const std::exception& error) {
    if (OnExportError) OnExportError(*this, error);
  }
  if (std::fclose(file.release()) != 0) throw EInOutError(FileMessage("Cannot write file ", fileName_), errno);
}

void TAsciiFile::ExportRecords(std::FILE* file) {
  sideCounter_ = 0;
  const std::size_t slash = fileName_.rfind('/');
  const std::string sideFolder = slash == std::string::npos ? std::string() : fileName_.substr(0, slash + 1);
  const std::string lineEnd = "\r\n";
  if (headers_) {
    std::string line;
    bool first = true;
    for (int i = 0; i < table_->FieldCount(); ++i) {
      TField* field = table_->Fields(i);
      if (!field->Visible()) continue;
      if (!first) line.push_back(delimiter_);
      first = false;
      line += Quoted(field->DisplayLabel());
    }
    WriteText(file, line + lineEnd, fileName_);
  }
  table_->First();
  const std::int32_t total = table_->RecordCount();
  std::int32_t count = 0;
  bool abortProcess = false;
  while (!table_->Eof()) {
    std::string line;
    bool first = true;
    for (int i = 0; i < table_->FieldCount(); ++i) {
      TField* field = table_->Fields(i);
      if (!field->Visible()) continue;
      if (!first) line.push_back(delimiter_);
      first = false;
      line += ColumnOf(*field, sideFolder);
    }
    WriteText(file, line + lineEnd, fileName_);
    table_->Next();
    ++count;
    if (OnExportProgress) {
      OnExportProgress(*this, Percent(count, total), count, total, abortProcess);
      if (abortProcess) break;
    }
  }
}

std::string TAsciiFile::ColumnOf(TField& field, const std::string& sideFolder) {
  switch (field.DataType()) {
    case TFieldType::ftString:
    case TFieldType::ftMemo: return Quoted(field.AsString());
    case TFieldType::ftBoolean:
      // A null value stays empty, so that reading the file back keeps it null.
      if (foxproFormat_ && !field.IsNull()) return field.AsBoolean() ? "T" : "F";
      return field.AsString();
    case TFieldType::ftDate: {
      if (!foxproFormat_) return field.AsString();
      if (field.IsNull()) return {};
      int year = 0, month = 0, day = 0;
      runtime::DecodeDate(field.AsDateTime(), year, month, day);
      if (year == 0 || month == 0 || day == 0) return {};
      char text[16];
      std::snprintf(text, sizeof text, "%04d%02d%02d", year, month, day);
      return text;
    }
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftBCD:
    case TFieldType::ftTime:
    case TFieldType::ftDateTime:
    case TFieldType::ftAutoInc: return field.AsString();
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes: return "\"Invalid Field\"";
    case TFieldType::ftBlob:
    case TFieldType::ftGraphic: {
      ++sideCounter_;
      const std::string name =
          sideFolder + EightDigits(sideCounter_) + (field.DataType() == TFieldType::ftGraphic ? ".BMP" : ".GBD");
      classlib::TFileStream side(name, classlib::fmCreate);
      if (classlib::TBlobField* blob = BlobOf(field)) {
        classlib::TBlobStream stored(*blob, classlib::bmRead);
        side.CopyFrom(stored, 0);
      }
      return "\"" + name + "\"";
    }
    default: return {};
  }
}

// --- import ------------------------------------------------------------------------------------------

void TAsciiFile::ImportFile() {
  if (!table_) classlib::DatabaseError("No table to import into");
  table_->CheckActive();
  UpdateDelimiter();
  std::error_code error;
  const fs::file_status status = fs::status(fileName_, error);
  if (!fs::exists(status)) return;
  if (!fs::is_regular_file(status)) throw EInOutError("Cannot open file " + fileName_ + ": not a file", EISDIR);
  const std::uintmax_t size = fs::file_size(fileName_, error);
  const std::int64_t totalSize = error ? 0 : static_cast<std::int64_t>(size);
  std::unique_ptr<classlib::TFileStream> stream;
  try {
    stream = std::make_unique<classlib::TFileStream>(fileName_, classlib::fmOpenRead);
  } catch (const classlib::EStreamError&) {
    throw EInOutError(FileMessage("Cannot open file ", fileName_), errno);
  }
  const fs::path folder = fs::absolute(fs::path(fileName_), error).parent_path();
  const fs::path resolved = fs::canonical(folder, error);
  sideFolder_ = error ? std::string() : resolved.string();
  TAsciiLineReader reader(*stream);
  classlib::TDatabase* database = table_->Database();
  const bool ownTransaction = importType_ == TImportType::itReplace && database && !database->InTransaction();
  bool started = false;
  try {
    if (ownTransaction) {
      database->StartTransaction();
      started = true;
    }
    ImportRecords(reader, totalSize);
    if (started) {
      database->Commit();
      started = false;
    }
  } catch (const std::exception& failure) {
    std::exception_ptr cleanupFailure;
    try {
      CancelPendingEdit();
      if (started) RollbackOwnTransaction();
    } catch (...) {
      cleanupFailure = std::current_exception();
    }
    if (OnImportError) OnImportError(*this, failure);
    // A table that could not be put back must not pass for one that was.
    if (cleanupFailure) std::rethrow_exception(cleanupFailure);
  }
}

void TAsciiFile::CancelPendingEdit() {
  if (Pending(*table_)) table_->Cancel();
}

void TAsciiFile::RollbackOwnTransaction() {
  table_->Database()->Rollback();
  table_->First();
}

void TAsciiFile::EmptyTable(bool& abortProcess) {
  const std::int32_t start = table_->RecordCount();
  std::int32_t deleted = 0;
  while (table_->RecordCount() != 0) {
    table_->First();
    table_->Delete();
    ++deleted;
    if (OnImportProgress) OnImportProgress(*this, Percent(deleted, start), deleted, start, abortProcess);
  }
}

void TAsciiFile::ImportRecords(TAsciiLineReader& reader, std::int64_t totalSize) {
  bool abortProcess = false;
  if (importType_ == TImportType::itReplace) EmptyTable(abortProcess);
  table_->First();
  TAsciiColumnReader columns;
  std::string line;
  bool firstLine = true;
  while (reader.ReadLine(line)) {
    if (firstLine && headers_) {
      firstLine = false;
      continue;
    }
    firstLine = false;
    columns.Reset(line, delimiter_);
    const bool found = importType_ != TImportType::itReplace && LocateRecord(columns);
    if (found || importType_ != TImportType::itUpdate) {
      if (found) {
        table_->Edit();
      } else {
        table_->Append();
      }
      columns.Rewind();
      for (int i = 0; i < table_->FieldCount(); ++i) ReadColumn(columns, *table_->Fields(i));
      table_->Post();
    }
    if (totalSize != 0 && OnImportProgress) {
      const std::int64_t current = reader.Position();
      OnImportProgress(*this, Percent(current, totalSize), ClampToLongint(current), ClampToLongint(totalSize),
                       abortProcess);
    }
    if (abortProcess) break;
  }
}

bool TAsciiFile::LocateRecord(TAsciiColumnReader& columns) {
  if (table_->KeyFieldCount() == 0) return false;
  table_->SetKey();
  for (int i = 0; i < table_->FieldCount(); ++i) {
    TField* field = table_->Fields(i);
    if (!field->Visible()) continue;
    if (field->IsIndexField()) {
      ReadColumn(columns, *field);
    } else {
      columns.NextColumn();
    }
  }
  return table_->GotoKey();
}

bool TAsciiFile::SideFileAllowed(const std::string& name) const {
  if (sideFolder_.empty()) return false;
  std::error_code error;
  const fs::path target = fs::canonical(fs::path(name), error);
  if (error || !fs::is_regular_file(target, error) || error) return false;
  return target.parent_path() == fs::path(sideFolder_);
}

void TAsciiFile::ReadColumn(TAsciiColumnReader& columns, TField& field) {
  if (!field.Visible()) return;
  const std::string value = columns.NextColumn();
  if (value.empty()) return;
  switch (field.DataType()) {
    case TFieldType::ftString:
    case TFieldType::ftTime:
    case TFieldType::ftDateTime:
    case TFieldType::ftMemo: field.SetAsString(value); break;
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
      if (foxproFormat_) {
        field.SetAsInteger(runtime::StrToInt(value));
      } else {
        field.SetAsString(value);
      }
      break;
    case TFieldType::ftBoolean:
      if (foxproFormat_) {
        field.SetAsBoolean(value == "T" || value == "Y");
      } else {
        field.SetAsString(value);
      }
      break;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftBCD:
      if (foxproFormat_) {
        field.SetAsFloat(runtime::StrToFloat(value));
      } else {
        field.SetAsString(value);
      }
      break;
    case TFieldType::ftDate:
      if (foxproFormat_) {
        const int year = runtime::StrToInt(Part(value, 0, 4));
        const int month = runtime::StrToInt(Part(value, 4, 2));
        const int day = runtime::StrToInt(Part(value, 6, 2));
        field.SetAsDateTime(runtime::EncodeDate(year, month, day));
      } else {
        field.SetAsString(value);
      }
      break;
    case TFieldType::ftBlob:
    case TFieldType::ftGraphic: {
      classlib::TBlobField* blob = BlobOf(field);
      if (!blob || !SideFileAllowed(value)) break;
      classlib::TFileStream side(value, classlib::fmOpenRead);
      classlib::TBlobStream stored(*blob, classlib::bmWrite);
      stored.CopyFrom(side, 0);
      break;
    }
    default: break;  // bytes, AutoInc and the other types keep their value
  }
}

}  // namespace kavrin::components::ascifile
