#include "tests/helpers/copy_over.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <new>
#include <stdexcept>
#include <vector>

namespace kavrin::testing {
namespace {

void PinTo(int cpu) {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  sched_setaffinity(0, sizeof one, &one);
}

}  // namespace

CopyOver::CopyOver(const std::string& path, const std::string& content, off_t firstPiece, int rounds) {
  CPU_ZERO(&allowed_);
  if (sched_getaffinity(0, sizeof allowed_, &allowed_) != 0) throw std::runtime_error("sched_getaffinity");
  std::vector<int> cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &allowed_)) cpus.push_back(cpu);
  }
  void* shared =
      mmap(nullptr, sizeof(std::atomic<std::uint64_t>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) throw std::runtime_error("mmap");
  begun_ = new (shared) std::atomic<std::uint64_t>(0);
  writer_ = fork();
  if (writer_ < 0) throw std::runtime_error("fork");
  if (writer_ == 0) {
    if (cpus.size() >= 2) PinTo(cpus[1]);
    const int fd = open(path.c_str(), O_WRONLY);
    const auto rest = static_cast<ssize_t>(content.size()) - firstPiece;
    bool written = fd >= 0 && firstPiece > 0 && rest > 0;
    for (int round = 0; written && round < rounds; ++round) {
      written =
          ftruncate(fd, 0) == 0 && pwrite(fd, content.data(), static_cast<std::size_t>(firstPiece), 0) == firstPiece;
      // The rest once a read on the half-written file has begun (the wait is bounded, should the reader
      // stall).
      const std::uint64_t seen = begun_->load();
      for (int spin = 0; spin < (1 << 26) && begun_->load() == seen; ++spin) {
      }
      written = written && pwrite(fd, content.data() + firstPiece, static_cast<std::size_t>(rest), firstPiece) == rest;
    }
    _exit(written ? 0 : 1);
  }
  if (cpus.size() >= 2) {
    PinTo(cpus[0]);
    pinned_ = true;
  }
}

bool CopyOver::Finished() {
  if (writer_ < 0) return true;
  // Asked before every read: the wait is looked at seldom, so that reads follow each other closely.
  if (++asked_ % 256 != 0) return false;
  int status = 0;
  if (waitpid(writer_, &status, WNOHANG) != writer_) return false;
  writer_ = -1;
  succeeded_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return true;
}

CopyOver::~CopyOver() {
  if (writer_ > 0) {
    kill(writer_, SIGKILL);
    waitpid(writer_, nullptr, 0);
  }
  if (pinned_) sched_setaffinity(0, sizeof allowed_, &allowed_);
  munmap(begun_, sizeof(std::atomic<std::uint64_t>));
}

}  // namespace kavrin::testing
