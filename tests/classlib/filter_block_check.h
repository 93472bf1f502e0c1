// A reader of filter expression blocks for tests and the fuzzer: it walks a block the way the engine
// does and says what is wrong with it, so that a well-formed block is checked, not merely produced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "engine/byte_order.h"
#include "engine/data_file_format.h"

namespace kavrin::classlib::testing {

struct TBlockShape {
  int Depth = 0;  // nodes on the longest path from the root, the root included
};

// A fault in words, or the shape of a block whose header, offsets, sizes and node/operator pairs hold
// and whose constants have their fields' types and data sizes.
inline std::string CheckFilterBlock(std::span<const std::uint8_t> block,
                                    const std::vector<engine::TFieldDescriptor>& fields, TBlockShape* shape = nullptr) {
  using engine::LoadI32;
  using engine::LoadU16;
  if (block.size() < 10) return "shorter than a header";
  const std::uint8_t* p = block.data();
  const std::size_t total = LoadU16(p + 2);
  const std::size_t nodeCount = LoadU16(p + 4);
  const std::size_t nodeStart = LoadU16(p + 6);
  const std::size_t literalStart = LoadU16(p + 8);
  if (LoadU16(p) != 2) return "version is not 2";
  if (total != block.size()) return "total size is not the block's size";
  if (nodeStart != 10 || literalStart < nodeStart || literalStart > total) return "areas out of order";

  std::size_t nodeBytes = 0;
  std::size_t literalBytes = 0;
  std::size_t visited = 0;
  std::set<std::size_t> seen;
  std::string fault;

  auto fieldAt = [&](std::size_t offset) -> const engine::TFieldDescriptor* {
    const std::uint8_t* n = p + nodeStart + offset;
    const std::int16_t number = engine::LoadI16(n + 8);
    for (const auto& f : fields)
      if (f.FieldNumber == number) return &f;
    return nullptr;
  };

  // Returns the node's class, 0 after a fault.
  auto walk = [&](auto&& self, std::size_t offset, int depth) -> int {
    if (!fault.empty()) return 0;
    if (shape != nullptr && depth > shape->Depth) shape->Depth = depth;
    if (!seen.insert(offset).second) return fault = "a node is reached twice", 0;
    if (nodeStart + offset + 8 > literalStart) return fault = "node head outside the node area", 0;
    const std::uint8_t* n = p + nodeStart + offset;
    const int nodeClass = LoadI32(n);
    const int op = LoadI32(n + 4);
    static constexpr std::size_t kSizes[] = {0, 10, 12, 16, 12, 14};
    if (nodeClass < 1 || nodeClass > 5) return fault = "unknown node class", 0;
    const std::size_t size = kSizes[nodeClass];
    if (nodeStart + offset + size > literalStart) return fault = "node outside the node area", 0;
    nodeBytes += size;
    ++visited;
    auto logical = [](int c) { return c >= 1 && c <= 3; };
    switch (nodeClass) {
      case 1: {
        const int operand = self(self, LoadU16(n + 8), depth + 1);
        if (op == 1 || op == 2) {
          if (operand != 4) return fault = "blank test not on a field", 0;
        } else if (op == 9) {
          if (!logical(operand)) return fault = "not on a non-logical node", 0;
        } else {
          return fault = "unary operator " + std::to_string(op), 0;
        }
        return 1;
      }
      case 2: {
        const int a = self(self, LoadU16(n + 8), depth + 1);
        const int b = self(self, LoadU16(n + 10), depth + 1);
        if (!fault.empty()) return 0;
        if ((op != 10 && op != 11) || !logical(a) || !logical(b)) return fault = "binary node not and/or", 0;
        return 2;
      }
      case 3: {
        if (op < 3 || op > 8) return fault = "compare operator " + std::to_string(op), 0;
        const std::size_t fieldOffset = LoadU16(n + 12);
        const std::size_t constOffset = LoadU16(n + 14);
        const int a = self(self, fieldOffset, depth + 1);
        const int b = self(self, constOffset, depth + 1);
        if (!fault.empty()) return 0;
        if (a != 4 || b != 5) return fault = "compare not of a field and a constant", 0;
        const auto* field = fieldAt(fieldOffset);
        const std::uint8_t* c = p + nodeStart + constOffset;
        if (LoadU16(c + 8) != field->Type) return fault = "constant type is not the field's", 0;
        if (LoadU16(c + 10) != engine::FieldDataSize(*field)) return fault = "constant size is not the field's", 0;
        const std::size_t partial = LoadU16(n + 10);
        if (partial != 0 && (field->Type != engine::ftString || partial > field->Size || (op != 3 && op != 4)))
          return fault = "partial length where it has no meaning", 0;
        if (LoadU16(n + 8) != 0 && field->Type != engine::ftString) return fault = "case flag on a non-string", 0;
        return 3;
      }
      case 4: {
        if (fieldAt(offset) == nullptr) return fault = "unknown field number", 0;
        const std::size_t name = literalStart + LoadU16(n + 10);
        std::size_t end = name;
        while (end < total && p[end] != 0) ++end;
        if (end >= total) return fault = "field name not terminated inside the block", 0;
        literalBytes += end - name + 1;
        return 4;
      }
      default: {
        const std::size_t size = LoadU16(n + 10);
        if (literalStart + LoadU16(n + 12) + size > total) return fault = "constant outside the block", 0;
        literalBytes += size;
        return 5;
      }
    }
  };
  const int rootClass = walk(walk, 0, 1);
  if (!fault.empty()) return fault;
  if (rootClass < 1 || rootClass > 3) return "root is not logical";
  if (visited != nodeCount) return "node count is not the number of nodes";
  if (nodeBytes != literalStart - nodeStart) return "node area holds bytes no node uses";
  if (literalBytes != total - literalStart) return "literal area holds bytes no node uses";
  return {};
}

}  // namespace kavrin::classlib::testing
