#include "tests/helpers/holder_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "tests/helpers/hex.h"

extern char** environ;

namespace kavrin::testing {

namespace {

// Long enough for a loaded CI machine; a holder that takes longer is hung and the test fails.
constexpr int kReplyTimeoutMs = 30000;

// Writing to a holder that has died must fail the write, not kill the test with SIGPIPE.
void IgnoreSigpipe() {
  static std::once_flag once;
  std::call_once(once, [] { signal(SIGPIPE, SIG_IGN); });
}

// Pipe ends numbered above the standard descriptors: dup2 onto the holder's stdin or stdout would keep
// close-on-exec on an end that already had that number.
bool MakePipe(int ends[2]) {
  int raw[2];
  if (pipe2(raw, O_CLOEXEC) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    ends[i] = fcntl(raw[i], F_DUPFD_CLOEXEC, 3);
    close(raw[i]);
  }
  if (ends[0] >= 0 && ends[1] >= 0) return true;
  if (ends[0] >= 0) close(ends[0]);
  if (ends[1] >= 0) close(ends[1]);
  return false;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

HolderReply ParseReply(const std::optional<std::string>& line) {
  HolderReply reply;
  if (!line) return reply;
  if (*line == "ok" || line->rfind("ok ", 0) == 0) {
    reply.ok = true;
    reply.error = platform::ERROR_SUCCESS;
    if (line->size() > 3) reply.value = line->substr(3);
  } else if (line->rfind("error ", 0) == 0) {
    reply.error = static_cast<platform::DWORD>(std::strtoul(line->c_str() + 6, nullptr, 10));
  }
  return reply;
}

const char* AccessArgument(HolderAccess access) { return access == HolderAccess::Read ? "r" : "rw"; }

const char* ShareArgument(HolderShare share) { return share == HolderShare::Shared ? "shared" : "exclusive"; }

const char* DispositionArgument(HolderDisposition disposition) {
  switch (disposition) {
    case HolderDisposition::CreateAlways: return "create";
    case HolderDisposition::CreateNew: return "new";
    case HolderDisposition::OpenExisting: break;
  }
  return "open";
}

}  // namespace

HolderProcess::HolderProcess(const std::string& path, HolderAccess access, HolderShare share,
                             HolderDisposition disposition, std::string program) {
  IgnoreSigpipe();
  if (program.empty()) program = KAVRIN_FILE_HOLDER;
  int input[2];
  int output[2];
  if (!MakePipe(input)) return;
  if (!MakePipe(output)) {
    close(input[0]);
    close(input[1]);
    return;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  std::vector<std::string> args = {program, path, AccessArgument(access), ShareArgument(share),
                                   DispositionArgument(disposition)};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  close(output[1]);
  to_holder_ = input[1];
  from_holder_ = output[0];
  if (spawned != 0) {
    CloseFd(to_holder_);
    CloseFd(from_holder_);
    return;
  }
  pid_ = pid;

  const std::optional<std::string> line = ReadLine();
  if (line && *line == "ready") {
    ready_ = true;
    open_error_ = platform::ERROR_SUCCESS;
  } else {
    open_error_ = ParseReply(line).error;
    Reap();
  }
}

HolderProcess::~HolderProcess() {
  Kill();
  CloseFd(to_holder_);
  CloseFd(from_holder_);
}

std::optional<std::string> HolderProcess::ReadLine() {
  for (;;) {
    const std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    if (from_holder_ < 0) return std::nullopt;
    pollfd waiting{from_holder_, POLLIN, 0};
    const int ready = poll(&waiting, 1, kReplyTimeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char chunk[4096];
    const ssize_t n = read(from_holder_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;  // the holder is gone
    pending_.append(chunk, static_cast<std::size_t>(n));
  }
}

bool HolderProcess::WriteLine(const std::string& command) {
  if (!Running() || to_holder_ < 0) return false;
  const std::string line = command + "\n";
  std::size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t n = write(to_holder_, line.data() + sent, line.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

HolderReply HolderProcess::Send(const std::string& command) {
  if (!WriteLine(command)) return {};
  return ParseReply(ReadLine());
}

HolderReply HolderProcess::Lock(std::uint64_t offset, std::uint64_t length) {
  return Send("lock " + std::to_string(offset) + " " + std::to_string(length));
}

HolderReply HolderProcess::Unlock(std::uint64_t offset, std::uint64_t length) {
  return Send("unlock " + std::to_string(offset) + " " + std::to_string(length));
}

std::optional<std::string> HolderProcess::Read(std::uint64_t offset, std::uint32_t length) {
  const HolderReply reply = Send("read " + std::to_string(offset) + " " + std::to_string(length));
  if (!reply.ok) return std::nullopt;
  return FromHex(reply.value);
}

HolderReply HolderProcess::Write(std::uint64_t offset, std::string_view bytes) {
  return Send("write " + std::to_string(offset) + " " + ToHex(bytes));
}

HolderReply HolderProcess::Close() { return Send("close"); }

int HolderProcess::Stop() {
  if (!Running()) return -1;
  WriteLine("stop");
  CloseFd(to_holder_);
  return Reap();
}

void HolderProcess::Kill() {
  if (!Running()) return;
  kill(pid_, SIGKILL);
  Reap();
}

int HolderProcess::Reap() {
  CloseFd(to_holder_);
  int status = 0;
  pid_t waited = -1;
  do {
    waited = waitpid(pid_, &status, 0);
  } while (waited < 0 && errno == EINTR);
  pid_ = -1;
  ready_ = false;
  if (waited < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace kavrin::testing
