// The transfer readers' fuzz targets write their input as a table's files into one private folder
// (the readers find companions by name in the table's folder) and read the table to its end.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "apps/transfer/readers/source_table.h"

namespace kavrin::fuzzing {

// Made on first use, emptied and removed when the process ends.
class TFuzzFolder {
 public:
  TFuzzFolder() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    path_ = std::string(base) + "/kavrin-transfer-fuzz-XXXXXX";
    if (!mkdtemp(path_.data())) abort();
  }
  ~TFuzzFolder() {
    for (const std::string& name : names_) std::remove((path_ + "/" + name).c_str());
    rmdir(path_.c_str());
  }
  const std::string& Path() const { return path_; }
  void Use(const std::string& name) {
    for (const std::string& known : names_)
      if (known == name) return;
    names_.push_back(name);
  }

 private:
  std::string path_;
  std::vector<std::string> names_;
};

inline TFuzzFolder& Folder() {
  static TFuzzFolder folder;
  return folder;
}
inline const std::string& FuzzFolder() { return Folder().Path(); }

// Splits the input into files: a u32 length before each but the last, which takes the rest. An empty
// file is left out, as a missing companion.
inline void WriteFuzzFiles(const std::uint8_t* data, std::size_t size, const std::vector<std::string>& names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::size_t length = size;
    if (i + 1 < names.size()) {
      std::uint32_t stored = 0;
      if (size >= 4) std::memcpy(&stored, data, 4);
      data += std::min<std::size_t>(size, 4);
      size -= std::min<std::size_t>(size, 4);
      length = std::min<std::size_t>(stored, size);
    }
    Folder().Use(names[i]);
    const std::string path = FuzzFolder() + "/" + names[i];
    std::remove(path.c_str());
    if (length > 0) {
      FILE* file = std::fopen(path.c_str(), "wb");
      if (!file) abort();
      std::fwrite(data, 1, length, file);
      std::fclose(file);
    }
    data += length;
    size -= length;
  }
}

inline void ReadFuzzTable(const std::string& name) {
  try {
    const auto table =
        transfer::OpenSourceTable(FuzzFolder() + "/" + name, [](const std::string&, std::string& password) {
          password = "secret";
          return true;
        });
    std::vector<transfer::TSourceValue> values;
    while (table->Next(values)) {
    }
  } catch (const transfer::ESourceError&) {
  }
}

}  // namespace kavrin::fuzzing
