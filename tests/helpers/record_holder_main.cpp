// kavrin_record_holder: a second process that opens a table through the engine, shared, and locks
// and unlocks its records on command, so that tests see what another program's record locks do.
//
//   kavrin_record_holder PATH [ignored arguments]
//
// First line out: "ready", or "error <engine code>" (the process then exits with status 1).
//   lock N     -> ok | error CODE   (N the record's number in the data file)
//   unlock N   -> ok | error CODE
//   read N F   -> ok TEXT | error CODE   (string field F of record N, as stored)
//   stop, or end of input -> exit 0
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/engine_error.h"

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
    if (parsed && verb == "read") {
      std::int16_t field = 0;
      in >> field;
      try {
        table.GotoBOF();
        std::vector<std::uint8_t> image(table.RecordSize());
        bool seen = false;
        while (table.Next(image.data()) == 0) {
          if (table.RecordNo() != number) continue;
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
