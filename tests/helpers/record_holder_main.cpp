// kavrin_record_holder: a second process that opens a table through the engine, shared, and locks
// its records and the whole table, changes records and runs transactions on command, so that tests
// see what another program does to theirs.
//
//   kavrin_record_holder PATH [ignored arguments]
//
// First line out: "ready", or "error <engine code>" (the process then exits with status 1).
//   lock N        -> ok | error CODE   (N the record's number in the data file)
//   unlock N      -> ok | error CODE
//   read N F      -> ok TEXT | error CODE   (string field F of record N, as stored)
//   blob N F      -> ok HEX | error CODE    (the stored bytes of blob field F of record N)
//   write N F TEXT -> ok | error CODE   (string field F of record N becomes TEXT, the rest of the line)
//   locktable, unlocktable -> ok | error CODE
//   start, commit, rollback -> ok | error CODE   (the table's transaction)
//   stop, or end of input -> exit 0
#include <algorithm>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "tests/helpers/hex.h"

namespace {

namespace en = kavrin::engine;

constexpr int kInvalidParameter = 87;
constexpr int kRecordNotFound = 8705;

// Moves to record number and reads it into image; false when the table has no such record.
bool Find(en::TDataFile& table, std::int32_t number, std::vector<std::uint8_t>& image) {
  table.GotoBOF();
  image.assign(table.RecordSize(), 0);
  while (table.Next(image.data()) == 0) {
    if (table.RecordNo() == number) return true;
  }
  return false;
}

std::string ReadBlob(en::TDataFile& table, std::int16_t field, std::vector<std::uint8_t>& image) {
  std::int32_t code = table.OpenBlob(field, image.data());
  std::int32_t size = 0;
  if (code == 0) code = table.BlobSize(field, image.data(), size);
  std::string bytes(static_cast<std::size_t>(std::max(size, 0)), '\0');
  std::int32_t read = 0;
  if (code == 0 && size > 0) code = table.ReadBlob(field, image.data(), 0, size, bytes.data(), read);
  table.CloseBlob(field, image.data());
  if (code != 0) return "error " + std::to_string(code);
  return "ok " + kavrin::testing::ToHex(bytes);
}

// One command line's answer.
std::string Answer(en::TDataFile& table, const std::string& line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  const std::vector<std::pair<const char*, std::function<void()>>> whole_table = {
      {"locktable", [&] { table.LockTable(); }},    {"unlocktable", [&] { table.UnlockTable(); }},
      {"start", [&] { table.StartTransaction(); }}, {"commit", [&] { table.Commit(); }},
      {"rollback", [&] { table.Rollback(); }},
  };
  for (const auto& [name, action] : whole_table) {
    if (verb == name) {
      action();
      return "ok";
    }
  }
  std::int32_t number = 0;
  if (!(in >> number)) return "error " + std::to_string(kInvalidParameter);
  if (verb == "lock") {
    table.LockRecord(number);
    return "ok";
  }
  if (verb == "unlock") {
    table.UnlockRecord(number);
    return "ok";
  }
  std::int16_t field = 0;
  if (!(in >> field) || (verb != "read" && verb != "blob" && verb != "write")) {
    return "error " + std::to_string(kInvalidParameter);
  }
  std::vector<std::uint8_t> image;
  if (!Find(table, number, image)) return "error " + std::to_string(kRecordNotFound);
  if (verb == "blob") return ReadBlob(table, field, image);
  if (verb == "write") {
    std::string text;
    std::getline(in >> std::ws, text);
    table.SetField(field, image.data(), text.c_str());
    table.UpdateRecord(image.data(), true);
    return "ok";
  }
  std::vector<char> text(256, 0);
  bool isNull = true;
  table.GetField(field, image.data(), isNull, text.data());
  return std::string("ok ") + text.data();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cout << "error " << kInvalidParameter << std::endl;
    return 2;
  }
  en::TDataFile table;
  try {
    table.SetFileName(argv[1]);
    table.SetRetryCount(0);
    table.SetRetryWait(1);
    table.Open();
  } catch (const en::EDBEngineError& e) {
    std::cout << "error " << e.Code() << std::endl;
    return 1;
  }
  std::cout << "ready" << std::endl;
  std::string line;
  while (std::getline(std::cin, line) && line != "stop") {
    try {
      std::cout << Answer(table, line) << std::endl;
    } catch (const en::EDBEngineError& e) {
      std::cout << "error " << e.Code() << std::endl;
    }
  }
  table.Close();
  return 0;
}
