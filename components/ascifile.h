// TAsciiFile (unit Ascifile): copies a table's records to a comma- or tab-separated text file and reads
// such a file back into the table, replacing its records, appending and updating by key, or updating by
// key only. Blob and graphic values travel in side files named in the text.
//
// The text: UTF-8 (a leading byte-order mark is skipped on input), one line per record ending in CR LF,
// one column per visible field in field order, joined by the delimiter. Strings and memos are written in
// double quotes with their line ends dropped; blobs and graphics as the quoted full name of a side file
// 00000001.GBD (graphics .BMP), 00000002..., counted from 1 in each export, in the folder of the text
// file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

#include "classlib/data/component.h"
#include "classlib/data/exceptions.h"
#include "components/ascii_text_reader.h"

namespace kavrin::dataset {
class TTable;
}

namespace kavrin::classlib {
class TField;
}

namespace kavrin::components::ascifile {

// The text file could not be created, opened, written or closed.
using classlib::EInOutError;

enum class TFileType { ftCSV, ftTab };
enum class TImportType { itReplace, itAppendUpdate, itUpdate };
enum class TExportType { etReplace, etAppend };

using TImportProgressEvent =
    std::function<void(classlib::TComponent& sender, std::uint16_t percentDone, std::int32_t currentBytes,
                       std::int32_t totalBytes, bool& abortProcess)>;
using TExportProgressEvent =
    std::function<void(classlib::TComponent& sender, std::uint16_t percentDone, std::int32_t currentRecord,
                       std::int32_t totalRecords, bool& abortProcess)>;
using TErrorEvent = std::function<void(classlib::TComponent& sender, const std::exception& error)>;

class TAsciiFile : public classlib::TComponent {
 public:
  explicit TAsciiFile(classlib::TComponent* owner = nullptr);

  bool FoxproFormat() const { return foxproFormat_; }
  void SetFoxproFormat(bool on) { foxproFormat_ = on; }
  TFileType FileType() const { return fileType_; }
  void SetFileType(TFileType type);
  TImportType ImportType() const { return importType_; }
  void SetImportType(TImportType type) { importType_ = type; }
  TExportType ExportType() const { return exportType_; }
  void SetExportType(TExportType type) { exportType_ = type; }
  // Export writes a first line of display labels; import skips the first line.
  bool Headers() const { return headers_; }
  void SetHeaders(bool on) { headers_ = on; }
  const std::string& FileName() const { return fileName_; }
  void SetFileName(std::string name) { fileName_ = std::move(name); }
  dataset::TTable* Table() const { return table_; }
  void SetTable(dataset::TTable* table) { table_ = table; }
  char Delimiter() const { return delimiter_; }

  // Both runs need the table open and move its cursor. Failing to create, open, write or close the text
  // file raises the stream error to the caller; a failure during the run goes to the error event and
  // ends the run.
  void ExportFile();
  // A missing file imports nothing. itReplace runs in a transaction of its own unless the table's
  // database already has one open: committed at the end or when stopped, rolled back when a failure
  // ends the run.
  void ImportFile();

  TImportProgressEvent OnImportProgress;
  TErrorEvent OnImportError;
  TExportProgressEvent OnExportProgress;
  TErrorEvent OnExportError;

 private:
  void UpdateDelimiter();
  void ExportRecords(std::FILE* file);
  void ImportRecords(TAsciiLineReader& reader, std::int64_t totalSize);
  void EmptyTable(bool& abortProcess);
  // Reads the next column into the field (a field that is not visible takes none).
  void ReadColumn(TAsciiColumnReader& columns, classlib::TField& field);
  bool LocateRecord(TAsciiColumnReader& columns);
  std::string ColumnOf(classlib::TField& field, const std::string& sideFolder);
  bool SideFileAllowed(const std::string& name) const;
  // After a failure: a pending insert or edit is dropped; an own transaction is rolled back.
  void CancelPendingEdit();
  void RollbackOwnTransaction();

  bool foxproFormat_ = false;
  TFileType fileType_ = TFileType::ftCSV;
  TImportType importType_ = TImportType::itReplace;
  TExportType exportType_ = TExportType::etReplace;
  bool headers_ = true;
  std::string fileName_;
  dataset::TTable* table_ = nullptr;
  char delimiter_ = ',';
  std::string sideFolder_;  // of the running import, resolved; empty when it cannot be resolved
  std::int32_t sideCounter_ = 0;
};

}  // namespace kavrin::components::ascifile
