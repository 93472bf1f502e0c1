// kavrin_record_holder: a second process that opens a table through the engine, shared, and locks
// and unlocks its records on command, so that tests see what another program's record locks do.
//
//   kavrin_record_holder PATH [ignored arguments]
//
// First line out: "ready", or "error <engine code>" (the process then exits with status 1).
//   lock N     -> ok | error CODE   (N the record's number in the data file)
//   unlock N   -> ok | error CODE
//   read N F   -> ok TEXT | error CODE   (string field F of record N, as stored)
//   blob N F   -> ok HEX | error CODE    (the stored bytes of blob field F of record N)
//   stop, or end of input -> exit 0
#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "tests/helpers/hex.h"

int main(int argc, char** argv) {
  namespace en = kavrin::engine;
  if (argc < 2) {
    std::cout << "error 87" << std::endl;
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
    std::istringstream in(line);
    std::string verb;
    std::int32_t number = 0;
    const bool parsed = static_cast<bool>(in >> verb >> number);
    if (parsed && (verb == "read" || verb == "blob")) {
      std::int16_t field = 0;
      in >> field;
      try {
        table.GotoBOF();
        std::vector<std::uint8_t> image(table.RecordSize());
        bool seen = false;
        while (table.Next(image.data()) == 0) {
          if (table.RecordNo() != number) continue;
          seen = true;
          if (verb == "blob") {
            std::int32_t code = table.OpenBlob(field, image.data());
            std::int32_t size = 0;
            if (code == 0) code = table.BlobSize(field, image.data(), size);
            std::string bytes(static_cast<std::size_t>(std::max(size, 0)), '\0');
            std::int32_t read = 0;
            if (code == 0 && size > 0) code = table.ReadBlob(field, image.data(), 0, size, bytes.data(), read);
            table.CloseBlob(field, image.data());
            if (code != 0) {
              std::cout << "error " << code << std::endl;
            } else {
              std::cout << "ok " << kavrin::testing::ToHex(bytes) << std::endl;
            }
            break;
          }
          std::vector<char> text(256, 0);
          bool isNull = true;
          table.GetField(field, image.data(), isNull, text.data());
          std::cout << "ok " << text.data() << std::endl;
          seen = true;
          break;
        }
        if (!seen) std::cout << "error 8705" << std::endl;
      } catch (const en::EDBEngineError& e) {
        std::cout << "error " << e.Code() << std::endl;
      }
      continue;
    }
    if (!parsed || (verb != "lock" && verb != "unlock")) {
      std::cout << "error 87" << std::endl;
      continue;
    }
    try {
      if (verb == "lock") {
        table.LockRecord(number);
      } else {
        table.UnlockRecord(number);
      }
      std::cout << "ok" << std::endl;
    } catch (const en::EDBEngineError& e) {
      std::cout << "error " << e.Code() << std::endl;
    }
  }
  table.Close();
  return 0;
}
