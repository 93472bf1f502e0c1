// Drives kavrin_file_holder, a second process that holds a file open through the platform layer, so
// that tests can check what one process's opens and locks do to another's.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win_error.h"

namespace kavrin::testing {

enum class HolderAccess { Read, ReadWrite };
enum class HolderShare { Shared, Exclusive };
enum class HolderDisposition { OpenExisting, CreateAlways, CreateNew };

struct HolderReply {
  bool ok = false;
  // The holder's Win32 code after "error"; ERROR_GEN_FAILURE when it gave no answer (it died, or did
  // not answer within the time limit).
  platform::DWORD error = platform::ERROR_GEN_FAILURE;
  std::string value;  // what followed "ok "
};

class HolderProcess {
 public:
  // Starts the holder on path and waits for its first line. The holder program is the one built with
  // the tests (KAVRIN_FILE_HOLDER) unless another is named.
  HolderProcess(const std::string& path, HolderAccess access, HolderShare share,
                HolderDisposition disposition = HolderDisposition::OpenExisting, std::string program = {});
  // Kills a holder still running, so a failing test never leaves one holding its file.
  ~HolderProcess();
  HolderProcess(const HolderProcess&) = delete;
  HolderProcess& operator=(const HolderProcess&) = delete;

  bool Ready() const { return ready_; }
  // Why the holder could not open its file (the Win32 code it printed); ERROR_SUCCESS when Ready().
  platform::DWORD OpenError() const { return open_error_; }
  pid_t Pid() const { return pid_; }

  // Sends one command line and returns its answer.
  HolderReply Send(const std::string& command);
  HolderReply Lock(std::uint64_t offset, std::uint64_t length);
  HolderReply Unlock(std::uint64_t offset, std::uint64_t length);
  // The bytes read (fewer at the end of the file), or nothing when the holder reported an error.
  std::optional<std::string> Read(std::uint64_t offset, std::uint32_t length);
  HolderReply Write(std::uint64_t offset, std::string_view bytes);
  HolderReply Close();

  // Asks the holder to close its file and exit; its exit status, or -1 when it did not exit normally.
  int Stop();
  // SIGKILL, as a crash would: the kernel alone releases what the holder held. Waits until it is gone.
  void Kill();

 private:
  bool Running() const { return pid_ > 0; }
  bool WriteLine(const std::string& command);
  std::optional<std::string> ReadLine();
  int Reap();

  pid_t pid_ = -1;
  int to_holder_ = -1;
  int from_holder_ = -1;
  std::string pending_;  // bytes read past the last full line
  bool ready_ = false;
  platform::DWORD open_error_ = platform::ERROR_GEN_FAILURE;
};

}  // namespace kavrin::testing
