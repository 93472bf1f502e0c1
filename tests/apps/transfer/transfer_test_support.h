// Shared pieces of the transfer tests: the independent fixture writers, a recording window and a
// read-back of engine tables through TDataFile.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "apps/transfer/transfer_ui.h"

namespace kavrin::transfer::testing {

// Runs a program with an argument vector (no shell) and returns its exit status; its output goes to
// the test's output.
int RunProgram(const std::vector<std::string>& argv);
// The fixture writers: pxlib through a small C program, python3-dbf and Perl XBase scripts.
void WriteParadoxFixture(const std::string& kind, const std::string& path, const std::string& blobPath,
                         const std::string& indexPath = {});
void RunPythonDbf(const std::string& directory, const std::string& kind);
void RunPerlXBase(const std::string& script, const std::vector<std::string>& arguments);
std::string ScriptPath(const std::string& name);

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadFile(const std::string& path);

// Every call in order, as "message: ...", "status: ...", "busy", "idle", "password: <file>"; the
// processing of messages only counted. Its clock moves by Step at each reading (not at all by default).
class TRecordingUi : public TTransferUi {
 public:
  void ProcessMessages() override { ++Processed; }
  std::chrono::steady_clock::time_point Now() override { return Clock += Step; }
  void ShowMessage(const std::string& text) override { Events.push_back("message: " + text); }
  void SetStatus(const std::string& text) override { Events.push_back("status: " + text); }
  void SetBusy(bool busy) override { Events.push_back(busy ? "busy" : "idle"); }
  bool AskPassword(const std::string& fileName, std::string& password) override {
    Events.push_back("password: " + fileName);
    password = Password;
    return !Password.empty();
  }
  std::vector<std::string> Messages() const;
  std::vector<std::string> Events;
  std::string Password;
  int Processed = 0;
  std::chrono::steady_clock::time_point Clock{};
  std::chrono::milliseconds Step{0};
};

struct TReadField {
  std::string Name;
  int Type = 0;
  int Subtype = 0;
  int Size = 0;
  int Decimals = 0;
  bool Required = false;
  bool operator==(const TReadField&) const = default;
};

struct TReadIndex {
  std::string Name;
  std::vector<int> Fields;
  bool Unique = false;
  bool CaseInsensitive = false;
  bool Descending = false;
  bool operator==(const TReadIndex&) const = default;
};
inline void PrintTo(const TReadIndex& i, std::ostream* out) {
  *out << "{\"" << i.Name << "\" [";
  for (int f : i.Fields) *out << f << " ";
  *out << "] unique " << i.Unique << " nocase " << i.CaseInsensitive << " desc " << i.Descending << "}";
}
inline void PrintTo(const TReadField& f, std::ostream* out) {
  *out << "{\"" << f.Name << "\" " << f.Type << "/" << f.Subtype << " size " << f.Size << " dec " << f.Decimals
       << " req " << f.Required << "}";
}

// An engine table as read back: its fields, its indexes (primary first) and its records in primary
// order, each value as text: "null", a string's text, numbers in decimal, blobs and bytes in hex.
struct TReadTable {
  std::vector<TReadField> Fields;
  std::vector<TReadIndex> Indexes;
  std::vector<std::vector<std::string>> Records;
  std::int32_t LastUniqueID = 0;
};
TReadTable ReadEngineTable(const std::string& path);

}  // namespace kavrin::transfer::testing
