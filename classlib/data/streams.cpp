#include "classlib/data/streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kavrin::classlib {

std::int64_t TStream::Size() {
  const std::int64_t here = Seek(0, soFromCurrent);
  const std::int64_t end = Seek(0, soFromEnd);
  Seek(here, soFromBeginning);
  return end;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError();
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::int64_t>(count, 0xF000)) + 1);
  std::int64_t left = count;
  while (left > 0) {
    const std::int64_t part = std::min<std::int64_t>(left, static_cast<std::int64_t>(chunk.size()));
    source.ReadBuffer(chunk.data(), part);
    WriteBuffer(chunk.data(), part);
    left -= part;
  }
  return count;
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || position_ >= Size()) return 0;
  const std::int64_t done = std::min(count, Size() - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(done));
  position_ += done;
  return done;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  if (position_ + count > Size()) data_.resize(static_cast<std::size_t>(position_ + count));
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ += count;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t target = offset;
  if (origin == soFromCurrent) target += position_;
  if (origin == soFromEnd) target += Size();
  position_ = std::max<std::int64_t>(target, 0);
  return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
  position_ = std::min(position_, Size());
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const std::int64_t size = source.Size();
  SetSize(size);
  position_ = 0;
  if (size > 0) source.ReadBuffer(data_.data(), size);
}

void TMemoryStream::SaveToStream(TStream& target) {
  if (!data_.empty()) target.WriteBuffer(data_.data(), Size());
}

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode) {
  if (mode == fmCreate) {
    fd_ = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw EFCreateError("Cannot create file " + fileName);
    return;
  }
  const int access = (mode & 3) == fmOpenWrite ? O_WRONLY : (mode & 3) == fmOpenReadWrite ? O_RDWR : O_RDONLY;
  fd_ = ::open(fileName.c_str(), access | O_CLOEXEC);
  if (fd_ < 0) throw EFOpenError("Cannot open file " + fileName);
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (done < count) {
    const ssize_t part = ::read(fd_, out + done, static_cast<std::size_t>(count - done));
    if (part < 0 && errno == EINTR) continue;
    if (part <= 0) break;
    done += part;
  }
  return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  while (done < count) {
    const ssize_t part = ::write(fd_, in + done, static_cast<std::size_t>(count - done));
    if (part < 0 && errno == EINTR) continue;
    if (part <= 0) break;
    done += part;
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const int whence = origin == soFromCurrent ? SEEK_CUR : origin == soFromEnd ? SEEK_END : SEEK_SET;
  const off_t at = ::lseek(fd_, static_cast<off_t>(offset), whence);
  return at < 0 ? -1 : static_cast<std::int64_t>(at);
}

void TFileStream::SetSize(std::int64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) throw EWriteError();
  if (Position() > size) Seek(size, soFromBeginning);
}

}  // namespace kavrin::classlib
