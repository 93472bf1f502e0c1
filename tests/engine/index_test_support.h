// What the index tests share: an owner standing in for the data file, keys made from numbers, a file
// with one index ready to take keys, and the full check of a tree against the keys it should hold.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/data_file_format.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "engine/index_owner.h"

namespace kavrin::engine::index_testing {

using Key = std::vector<std::uint8_t>;

class TestOwner : public TIndexOwner {
 public:
  bool Repairing() const override { return repairing; }
  void SyncIndexPosition() override {
    ++syncCalls;
    if (onSync) onSync();
  }
  std::uint8_t KeyFieldType(std::int16_t fieldNumber) const override {
    const auto it = fieldTypes.find(fieldNumber);
    return it == fieldTypes.end() ? std::uint8_t{ftInteger} : it->second;
  }
  std::span<const std::uint8_t> RecordImage(std::int32_t recordNumber) override {
    image.assign(9, 0);
    image[5] = static_cast<std::uint8_t>(recordNumber);
    return image;
  }
  std::int32_t RecordSlots() const override { return slots; }

  bool repairing = false;
  int syncCalls = 0;
  std::function<void()> onSync;
  std::map<std::int16_t, std::uint8_t> fieldTypes;
  std::int32_t slots = 0;
  std::vector<std::uint8_t> image;
};

enum class KeyShape { Distinct, SharedPrefix };

// A key of length bytes that orders as value does (ascending bytes). Distinct keys differ early and
// share little; shared-prefix keys differ only in their last four bytes.
inline Key MakeKey(std::uint32_t value, std::size_t length, KeyShape shape = KeyShape::Distinct) {
  Key key(length, 'A');
  auto put = [&](std::size_t at) {
    for (int i = 0; i < 4; ++i) key[at + i] = static_cast<std::uint8_t>(value >> (8 * (3 - i)));
  };
  if (shape == KeyShape::SharedPrefix) {
    put(length - 4);
  } else {
    put(0);
    std::uint32_t x = value * 2654435761u + 1;
    for (std::size_t i = 4; i < length; ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      key[i] = static_cast<std::uint8_t>(x);
    }
  }
  return key;
}

inline TErrorCode CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EDBEngineError& error) {
    return error.Code();
  }
  return 0;
}

// A new exclusive index file with a primary index of keyLength bytes, open.
struct IndexFixture {
  IndexFixture(const std::string& path, std::uint8_t keyLength, bool descending = false, bool inMemory = true)
      : file(owner) {
    file.SetInMemory(inMemory);
    file.SetFileName(path);
    file.SetExclusive(true);
    file.NewFile();
    const std::int16_t fields[] = {1};
    file.CreatePrimaryIndex(keyLength, 1, fields, true, false, descending);
  }

  TestOwner owner;
  TIndexFile file;
};

// The keys an index should hold, in its order, with their record numbers.
struct KeyOrder {
  bool descending = false;
  bool operator()(const Key& a, const Key& b) const { return descending ? b < a : a < b; }
};
using Model = std::map<Key, std::int32_t, KeyOrder>;

struct TreeShape {
  int depth = 0;
  std::int64_t pages = 0;
  std::int64_t freePages = 0;
  std::int64_t leaves = 0;
};

// Every invariant of the current index's tree, and its keys against the model. The file must hold
// no other index's pages for the page accounting to close.
TreeShape CheckTree(TIndexFile& file, const Model& model, bool onlyIndexInFile = true);

}  // namespace kavrin::engine::index_testing
