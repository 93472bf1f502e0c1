// Two processes, each with its own handle on one blob file: the writer lock, the reader bytes and the
// change counter between them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "engine/blob_file.h"
#include "engine/file_handler.h"
#include "tests/engine/blob_test_support.h"

namespace kavrin::engine {
namespace {

using blob_testing::BlobFileFixture;
using blob_testing::CodeOf;
using blob_testing::Image;
using blob_testing::NewImage;
using blob_testing::SetSlotReference;
using blob_testing::SlotReference;
using blob_testing::TestOwner;

bool WriteLine(int fd, const std::string& line) {
  const std::string text = line + "\n";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// One line, or "timeout" / "gone" when none comes.
std::string ReadLine(int fd, int timeoutMilliseconds) {
  std::string line;
  for (;;) {
    pollfd wait{fd, POLLIN, 0};
    if (::poll(&wait, 1, timeoutMilliseconds) <= 0) return "timeout";
    char c;
    if (::read(fd, &c, 1) != 1) return "gone";
    if (c == '\n') return line;
    line += c;
  }
}

// The write section of a record change with one blob: lock, check the header, save, write through.
std::int32_t SaveBlobText(TBlobFile& file, std::int32_t first, const std::string& text) {
  TBlobWriteLock lock(file);
  file.CheckHeaderChanged();
  file.SetHeaderKnown(true);
  std::int32_t handle = 0;
  CheckEngineResult(file.OpenBlobHandle(first, 1, handle));
  Image image = NewImage();
  SetSlotReference(image, 1, -handle);
  CheckEngineResult(file.SetBlobSize(handle, 0));
  CheckEngineResult(file.WriteBlob(handle, 0, static_cast<std::int32_t>(text.size()), text.data()));
  file.SetBlobOwner(image.data(), 1);
  file.SaveBlobs(image.data());
  file.StoreBlobOffsets(image.data());
  CheckEngineResult(file.CloseBlobHandle(handle, first));
  file.FlushBlocks(true, 0);
  file.WriteHeader();
  return SlotReference(image, 1);
}

// Loading a blob as a reader does: under a reader byte, after a header check.
std::string LoadBlobText(TBlobFile& file, std::int32_t first) {
  TBlobReadLock lock(file);
  file.CheckHeaderChanged();
  std::int32_t handle = 0;
  CheckEngineResult(file.OpenBlobHandle(first, 1, handle));
  std::int32_t size = 0;
  file.GetBlobSize(handle, size);
  std::string text(static_cast<std::size_t>(size), '\0');
  std::int32_t read = 0;
  file.ReadBlob(handle, 0, size, text.data(), read);
  file.CloseBlobHandle(handle, first);
  return text;
}

// A forked process with its own shared handle on the blob file, doing one command a line:
//   wlock | wunlock | rlock | runlock          -> ok | error CODE
//   save FIRST TEXT                            -> ok FIRST (the blob's first block afterwards)
//   quit
class BlobPeer {
 public:
  explicit BlobPeer(const std::string& path) {
    int down[2];
    int up[2];
    if (::pipe2(down, O_CLOEXEC) != 0 || ::pipe2(up, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(down[1]);
      ::close(up[0]);
      ::_exit(Serve(path, down[0], up[1]));
    }
    ::close(down[0]);
    ::close(up[1]);
    to_ = down[1];
    from_ = up[0];
  }

  ~BlobPeer() {
    if (pid_ > 0) {
      WriteLine(to_, "quit");
      ::close(to_);
      ::close(from_);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }

  BlobPeer(const BlobPeer&) = delete;
  BlobPeer& operator=(const BlobPeer&) = delete;

  // Whether the peer opened the file.
  bool Started() { return pid_ > 0 && ReadLine(from_, 20000) == "ready"; }

  std::string Ask(const std::string& command) {
    if (pid_ <= 0 || !WriteLine(to_, command)) return "gone";
    return ReadLine(from_, 20000);
  }

  // As a crash would: the kernel alone releases what the peer held.
  void Kill() {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    ::close(to_);
    ::close(from_);
    pid_ = -1;
  }

 private:
  static int Serve(const std::string& path, int in, int out) {
    FilehndlInitialization();  // a generator of its own: reader bytes must not follow the parent's
    TestOwner owner;
    TBlobFile file(owner);
    file.SetFileName(path);
    file.SetExclusive(false);
    try {
      file.OpenFile();
    } catch (const EDBEngineError& error) {
      WriteLine(out, "error " + std::to_string(error.Code()));
      return 1;
    }
    file.SetLockWait({1, 5});
    WriteLine(out, "ready");
    for (;;) {
      const std::string line = ReadLine(in, 60000);
      std::istringstream words(line);
      std::string verb;
      words >> verb;
      if (verb == "quit" || verb.empty() || line == "gone" || line == "timeout") return 0;
      std::string reply = "ok";
      try {
        if (verb == "wlock") file.WriteLock();
        if (verb == "wunlock") file.WriteUnlock();
        if (verb == "rlock") file.ReadLock();
        if (verb == "runlock") file.ReadUnlock();
        if (verb == "save") {
          std::int32_t first = 0;
          std::string text;
          words >> first;
          std::getline(words >> std::ws, text);
          reply = "ok " + std::to_string(SaveBlobText(file, first, text));
        }
      } catch (const EDBEngineError& error) {
        reply = "error " + std::to_string(error.Code());
      }
      if (!WriteLine(out, reply)) return 1;
    }
  }

  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
};

class BlobFileProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture.Create();
    fixture.File().CloseFile();
  }

  TBlobFile& OpenShared() {
    TBlobFile& file = fixture.File();
    fixture.Prepare(file, false);
    file.OpenFile();
    file.SetLockWait({1, 3});
    return file;
  }

  BlobFileFixture fixture{false};
};

TEST_F(BlobFileProcessesTest, TheWriterLockExcludesReadersAndWriters) {
  TBlobFile& file = OpenShared();
  BlobPeer peer(fixture.Path());
  ASSERT_TRUE(peer.Started());

  ASSERT_EQ(peer.Ask("wlock"), "ok");
  EXPECT_EQ(CodeOf([&] { file.WriteLock(); }), ec::GeneralLockFailure);
  EXPECT_EQ(CodeOf([&] { file.ReadLock(); }), ec::GeneralLockFailure);
  ASSERT_EQ(peer.Ask("wunlock"), "ok");

  // Readers share the range, each on a byte of its own.
  file.ReadLock();
  EXPECT_EQ(peer.Ask("rlock"), "ok");
  EXPECT_EQ(peer.Ask("runlock"), "ok");
  EXPECT_EQ(peer.Ask("wlock"), "error 10249") << "a reader shuts the writer out";
  file.ReadUnlock();
  EXPECT_EQ(peer.Ask("wlock"), "ok");
  EXPECT_EQ(peer.Ask("wunlock"), "ok");

  file.WriteLock();
  EXPECT_EQ(peer.Ask("rlock"), "error 10249");
  EXPECT_EQ(peer.Ask("wlock"), "error 10249");
  file.WriteUnlock();
  EXPECT_EQ(peer.Ask("rlock"), "ok");
  EXPECT_EQ(peer.Ask("runlock"), "ok");
}

TEST_F(BlobFileProcessesTest, AChangeInOneProcessDropsTheOthersBlockCache) {
  {
    TBlobFile& file = fixture.File();
    fixture.Prepare(file, true);
    file.OpenFile();
    ASSERT_EQ(SaveBlobText(file, 0, "first version"), 512);
    file.CloseFile();
  }
  TBlobFile& file = OpenShared();
  EXPECT_EQ(LoadBlobText(file, 512), "first version");
  EXPECT_EQ(file.BlockCacheCount(), 1u);

  BlobPeer peer(fixture.Path());
  ASSERT_TRUE(peer.Started());
  const std::string second = "second version, " + std::string(600, 'x');
  ASSERT_EQ(peer.Ask("save 512 " + second), "ok 512");

  // Until the counter is compared, the cached block is what this process sees.
  std::string cached(13, '\0');
  file.GetBlock(512).GetData(0, 13, cached.data());
  EXPECT_EQ(cached, "first version");
  EXPECT_EQ(file.Header().EndOffset, 1024);

  EXPECT_EQ(LoadBlobText(file, 512), second);
  EXPECT_EQ(file.Header().EndOffset, 1536);
  EXPECT_EQ(file.Header().ChangeCounter, 3);
}

TEST_F(BlobFileProcessesTest, ACrashedWritersLockIsGone) {
  TBlobFile& file = OpenShared();
  BlobPeer peer(fixture.Path());
  ASSERT_TRUE(peer.Started());
  ASSERT_EQ(peer.Ask("wlock"), "ok");
  EXPECT_EQ(CodeOf([&] { file.WriteLock(); }), ec::GeneralLockFailure);
  peer.Kill();
  file.WriteLock();
  file.WriteUnlock();
}

}  // namespace
}  // namespace kavrin::engine
