// GASKORN's transfer of a large dBase table with memos into an engine table: records per second and
// the memory the process needs, at each size asked for. The source is made by a small writer of the
// bench's own: a dBase III table (ID N(10), NAME C(20), AMOUNT N(12,2), BORN D, NOTES M) whose every
// tenth record has a memo of 100 to 400 characters in the ".DBT".
//
//   transfer_bench [--records=100000,1000000] [--dir=/tmp] [--keep]
//
// Per size: the source's size, the transfer's time and records per second, the peak resident memory
// of the transfer ("peak", from VmHWM, which counts the pages of mapped files the engine reads its
// table through) and the largest anonymous resident memory sampled every 10 ms while records were
// copied ("heap": readers' buffers, the engine's caches, the allocator's pools).
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "apps/transfer/table_transfer.h"
#include "apps/transfer/transfer_ui.h"

namespace {

using kavrin::transfer::TTableTransfer;
using kavrin::transfer::TTransferUi;

double StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) return std::strtod(line.c_str() + prefix.size(), nullptr);
  }
  return 0;
}

class TBenchUi : public TTransferUi {
 public:
  void ShowMessage(const std::string&) override {}
  void SetStatus(const std::string&) override {}
  void SetBusy(bool) override {}
  bool AskPassword(const std::string&, std::string&) override { return false; }
  void ProcessMessages() override { HeapKiB = std::max(HeapKiB, StatusKiB("RssAnon")); }
  double HeapKiB = 0;
};

void PutU16(std::string& out, std::size_t at, std::uint16_t v) {
  out[at] = static_cast<char>(v & 0xFF);
  out[at + 1] = static_cast<char>(v >> 8);
}

void PutU32(std::string& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>(v >> (8 * i));
}

std::string Padded(const std::string& text, std::size_t width, bool right) {
  if (text.size() >= width) return text.substr(0, width);
  const std::string blanks(width - text.size(), ' ');
  return right ? blanks + text : text + blanks;
}

// Writes BENCH.DBF and BENCH.DBT in directory, streaming, so the writer holds no more than a record.
void WriteSource(const std::string& directory, std::int64_t records) {
  struct TField {
    const char* name;
    char type;
    std::uint8_t length;
    std::uint8_t decimals;
  };
  const TField fields[] = {
      {"ID", 'N', 10, 0}, {"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 12, 2}, {"BORN", 'D', 8, 0}, {"NOTES", 'M', 10, 0}};
  const std::size_t fieldCount = sizeof fields / sizeof fields[0];
  std::uint16_t recordSize = 1;
  for (const TField& f : fields) recordSize = static_cast<std::uint16_t>(recordSize + f.length);
  const std::uint16_t headerSize = static_cast<std::uint16_t>(32 + 32 * fieldCount + 1);

  std::string header(headerSize, '\0');
  header[0] = static_cast<char>(0x83);
  header[1] = 126;
  header[2] = 1;
  header[3] = 1;
  PutU32(header, 4, static_cast<std::uint32_t>(records));
  PutU16(header, 8, headerSize);
  PutU16(header, 10, recordSize);
  for (std::size_t i = 0; i < fieldCount; ++i) {
    const std::size_t at = 32 + 32 * i;
    std::memcpy(&header[at], fields[i].name, std::strlen(fields[i].name));
    header[at + 11] = fields[i].type;
    header[at + 16] = static_cast<char>(fields[i].length);
    header[at + 17] = static_cast<char>(fields[i].decimals);
  }
  header[headerSize - 1] = 0x0D;

  std::ofstream dbf(directory + "/BENCH.DBF", std::ios::binary | std::ios::trunc);
  std::ofstream dbt(directory + "/BENCH.DBT", std::ios::binary | std::ios::trunc);
  dbf.write(header.data(), static_cast<std::streamsize>(header.size()));
  dbt.write(std::string(512, '\0').data(), 512);  // block 0; its next-free number is written at the end
  std::uint32_t nextBlock = 1;
  std::string record;
  std::string memo;
  for (std::int64_t n = 1; n <= records; ++n) {
    record = " ";
    record += Padded(std::to_string(n), 10, true);
    record += Padded("Name " + std::to_string(n * 7919 % 1000003), 20, false);
    char amount[32];
    std::snprintf(amount, sizeof amount, "%.2f", static_cast<double>(n % 10000000) / 100.0 - 1000.0);
    record += Padded(amount, 12, true);
    char born[16];
    std::snprintf(born, sizeof born, "%04d%02d%02d", 1900 + static_cast<int>(n % 120), 1 + static_cast<int>(n % 12),
                  1 + static_cast<int>(n % 28));
    record += born;
    if (n % 10 == 0) {
      record += Padded(std::to_string(nextBlock), 10, true);
      memo.assign(100 + static_cast<std::size_t>(n % 301), static_cast<char>('a' + n % 26));
      memo += "\x1A\x1A";
      memo.resize((memo.size() + 511) / 512 * 512, '\0');
      dbt.write(memo.data(), static_cast<std::streamsize>(memo.size()));
      nextBlock += static_cast<std::uint32_t>(memo.size() / 512);
    } else {
      record += std::string(10, ' ');
    }
    dbf.write(record.data(), static_cast<std::streamsize>(record.size()));
  }
  dbf.put(0x1A);
  std::string first(4, '\0');
  PutU32(first, 0, nextBlock);
  dbt.seekp(0);
  dbt.write(first.data(), 4);
  if (!dbf || !dbt) throw std::runtime_error("cannot write the source in " + directory);
}

double MiB(std::uintmax_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

std::vector<std::int64_t> Sizes(const std::string& list) {
  std::vector<std::int64_t> sizes;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    sizes.push_back(std::stoll(list.substr(start, comma - start)));
    start = comma + 1;
  }
  return sizes;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::int64_t> sizes{100000, 1000000};
  std::string base = "/tmp";
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--records=", 0) == 0)
      sizes = Sizes(arg.substr(10));
    else if (arg.rfind("--dir=", 0) == 0)
      base = arg.substr(6);
    else if (arg == "--keep")
      keep = true;
    else {
      std::fprintf(stderr, "usage: transfer_bench [--records=N,M] [--dir=DIR] [--keep]\n");
      return 2;
    }
  }
  std::printf("| records | source MiB (.DBF + .DBT) | seconds | records/s | peak MiB | heap MiB |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const std::int64_t records : sizes) {
    std::string root = base + "/kavrin-transfer-bench-XXXXXX";
    if (!mkdtemp(root.data())) {
      std::perror("mkdtemp");
      return 1;
    }
    const std::string source = root + "/source";
    const std::string destination = root + "/destination";
    std::filesystem::create_directory(source);
    std::filesystem::create_directory(destination);
    WriteSource(source, records);
    const std::uintmax_t sourceBytes =
        std::filesystem::file_size(source + "/BENCH.DBF") + std::filesystem::file_size(source + "/BENCH.DBT");

    // Each size's peak is its own: freed memory goes back and the high-water mark starts again here.
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    TBenchUi ui;
    TTableTransfer transfer(ui);
    const auto start = std::chrono::steady_clock::now();
    transfer.BeginTransfer(source, {"BENCH.DBF"}, destination);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double peakMiB = StatusKiB("VmHWM") / 1024.0;
    std::printf("| %lld | %.1f | %.2f | %.0f | %.1f | %.1f |\n", static_cast<long long>(records), MiB(sourceBytes),
                seconds, static_cast<double>(records) / seconds, peakMiB, ui.HeapKiB / 1024.0);
    std::fflush(stdout);
    if (!keep) std::filesystem::remove_all(root);
  }
  return 0;
}
