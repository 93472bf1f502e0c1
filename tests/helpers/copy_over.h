// A foreign program that copies a file over itself again and again while this process reads it, as a
// copy program or a restore does: each round empties the file, writes it back up to a given offset,
// and writes the rest once the reader has begun a read on the half-written file, so that the two meet
// inside a read. Reader and writer run on CPUs of their own where the process may use two.
#pragma once

#include <sched.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace kavrin::testing {

class CopyOver {
 public:
  // Starts the writer on path, whose whole content is given; pins this process to a CPU of its own.
  CopyOver(const std::string& path, const std::string& content, off_t firstPiece, int rounds);
  ~CopyOver();
  CopyOver(const CopyOver&) = delete;
  CopyOver& operator=(const CopyOver&) = delete;

  // Called before each read.
  void BeginRead() { begun_->fetch_add(1); }
  // Whether the writer has made all its rounds (it is then waited for); bounded by the count of rounds.
  bool Finished();
  // Whether every round's writes worked (once Finished).
  bool Succeeded() const { return succeeded_; }

 private:
  std::atomic<std::uint64_t>* begun_ = nullptr;
  pid_t writer_ = -1;
  bool succeeded_ = false;
  bool pinned_ = false;
  std::uint64_t asked_ = 0;
  cpu_set_t allowed_{};  // the CPUs this process could use before
};

}  // namespace kavrin::testing
