// kavrin_file_holder: a second process for multi-process tests. It opens one file through the
// platform layer and then does what its standard input tells it, one command a line, answering each
// with one line on standard output.
//
//   kavrin_file_holder PATH r|rw shared|exclusive [open|create|new]
//
// First line out: "ready", or "error <win32 code>" (the process then exits with status 1).
//   lock OFFSET LENGTH     -> ok | error CODE
//   unlock OFFSET LENGTH   -> ok | error CODE
//   read OFFSET LENGTH     -> ok HEX (the bytes read, possibly fewer at the end of the file) | error CODE
//   write OFFSET [HEX]     -> ok | error CODE
//   size                   -> ok SIZE | error CODE
//   close                  -> ok | error CODE (the file is closed; later commands fail)
//   stop, or end of input  -> the process exits with status 0
// A line it cannot parse is answered "error 87" (ERROR_INVALID_PARAMETER).
#include <cstdint>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "platform/byte_locks.h"
#include "platform/win_error.h"
#include "platform/win_file.h"
#include "tests/helpers/hex.h"

namespace {

namespace pf = kavrin::platform;
using kavrin::testing::FromHex;
using kavrin::testing::ToHex;

std::string Error(pf::DWORD code) { return "error " + std::to_string(code); }
std::string LastError() { return Error(pf::GetLastError()); }
std::string BadCommand() { return Error(pf::ERROR_INVALID_PARAMETER); }

bool SeekTo(pf::HANDLE file, std::uint64_t offset) {
  return pf::SetFilePointer(file, static_cast<std::int64_t>(offset), pf::FILE_BEGIN) >= 0;
}

std::string Execute(pf::HANDLE& file, const std::string& line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  if (verb == "lock" || verb == "unlock") {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    if (!(in >> offset >> length)) return BadCommand();
    const bool done = verb == "lock" ? pf::LockFile(file, offset, length) : pf::UnlockFile(file, offset, length);
    return done ? "ok" : LastError();
  }
  if (verb == "read") {
    std::uint64_t offset = 0;
    pf::DWORD length = 0;
    if (!(in >> offset >> length)) return BadCommand();
    std::string bytes(length, '\0');
    pf::DWORD done = 0;
    if (!SeekTo(file, offset) || !pf::ReadFile(file, bytes.data(), length, &done)) return LastError();
    bytes.resize(done);
    return "ok " + ToHex(bytes);
  }
  if (verb == "write") {
    std::uint64_t offset = 0;
    std::string hex;  // absent for an empty write
    if (!(in >> offset)) return BadCommand();
    in >> hex;
    const std::optional<std::string> bytes = FromHex(hex);
    if (!bytes) return BadCommand();
    pf::DWORD done = 0;
    if (!SeekTo(file, offset) || !pf::WriteFile(file, bytes->data(), static_cast<pf::DWORD>(bytes->size()), &done)) {
      return LastError();
    }
    return "ok";
  }
  if (verb == "size") {
    const std::int64_t size = pf::GetFileSize(file);
    return size < 0 ? LastError() : "ok " + std::to_string(size);
  }
  if (verb == "close") {
    const bool closed = pf::CloseHandle(file);
    file = pf::INVALID_HANDLE_VALUE;
    return closed ? "ok" : LastError();
  }
  return BadCommand();
}

bool ParseArguments(int argc, char** argv, pf::DWORD* access, pf::DWORD* share, pf::DWORD* disposition) {
  if (argc < 4 || argc > 5) return false;
  const std::string access_arg = argv[2];
  const std::string share_arg = argv[3];
  const std::string disposition_arg = argc == 5 ? argv[4] : "open";
  if (access_arg == "r") {
    *access = pf::GENERIC_READ;
  } else if (access_arg == "rw") {
    *access = pf::GENERIC_READ | pf::GENERIC_WRITE;
  } else {
    return false;
  }
  if (share_arg == "shared") {
    *share = pf::FILE_SHARE_READ | pf::FILE_SHARE_WRITE;
  } else if (share_arg == "exclusive") {
    *share = 0;
  } else {
    return false;
  }
  if (disposition_arg == "open") {
    *disposition = pf::OPEN_EXISTING;
  } else if (disposition_arg == "create") {
    *disposition = pf::CREATE_ALWAYS;
  } else if (disposition_arg == "new") {
    *disposition = pf::CREATE_NEW;
  } else {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  pf::DWORD access = 0;
  pf::DWORD share = 0;
  pf::DWORD disposition = 0;
  if (!ParseArguments(argc, argv, &access, &share, &disposition)) {
    std::cerr << "usage: kavrin_file_holder PATH r|rw shared|exclusive [open|create|new]\n";
    std::cout << BadCommand() << std::endl;
    return 2;
  }
  pf::HANDLE file = pf::CreateFileA(argv[1], access, share, disposition);
  if (file == pf::INVALID_HANDLE_VALUE) {
    std::cout << LastError() << std::endl;
    return 1;
  }
  std::cout << "ready" << std::endl;
  std::string line;
  while (std::getline(std::cin, line) && line != "stop") {
    std::cout << Execute(file, line) << std::endl;
  }
  if (file != pf::INVALID_HANDLE_VALUE) pf::CloseHandle(file);
  return 0;
}
