// TFilterBlock: a filter's own copy of a filter expression block, checked once and read only through
// bounded accessors.
//
// Layout (little-endian): a 10-byte header (u16 version, u16 total size, u16 node count, u16 node area
// offset, u16 literal area offset), the node area, the literal area. Nodes refer to each other by their
// offset in the node area; the root is at offset 0. Every node starts with its class (i32) and operator
// (i32):
//   unary    10 bytes  +8 operand
//   binary   12 bytes  +8 first operand, +10 second operand
//   compare  16 bytes  +8 case-insensitive, +10 partial length, +12 field, +14 constant
//   field    12 bytes  +8 field number, +10 name offset (not read)
//   constant 14 bytes  +8 type, +10 size (neither read), +12 value offset in the literal area
//
// The block comes from outside the engine, so Check refuses (10051) every block whose evaluation would
// read outside it or could not end: nodes outside the node area or overlapping each other, unknown node
// classes or operators, operands of the wrong class for the pairs that are evaluated, unknown fields,
// constants shorter than their field, paths deeper than MaxFilterDepth. Operators the format knows but
// the engine does not evaluate (arithmetic, functions, ...) pass; they are left unevaluated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kavrin::engine {

class TDataFile;

enum TFilterNodeClass : std::int32_t {
  fnUnary = 1,
  fnBinary = 2,
  fnCompare = 3,
  fnField = 4,
  fnConstant = 5,
};

enum TFilterOperator : std::int32_t {
  foIsBlank = 1,
  foNotBlank = 2,
  foEqual = 3,
  foNotEqual = 4,
  foGreater = 5,
  foLess = 6,
  foGreaterOrEqual = 7,
  foLessOrEqual = 8,
  foNot = 9,
  foAnd = 10,
  foOr = 11,
};
// The highest operator of the block format (assignment); arithmetic, aggregates, LIKE, IN, functions
// lie between foOr and it.
inline constexpr std::int32_t MaxFilterOperator = 37;

inline constexpr std::size_t FilterBlockHeaderSize = 10;
inline constexpr std::size_t MaxFilterBlockSize = 0xFFFF;
// Nodes on one path from the root, the root and the leaves included.
inline constexpr int MaxFilterDepth = 256;
// Node visits of one walk of the tree: shared operands count at every parent.
inline constexpr std::size_t MaxFilterNodeVisits = 65536;

inline bool IsComparisonOperator(std::int32_t op) { return op >= foEqual && op <= foLessOrEqual; }
inline bool IsLogicalClass(std::int32_t nodeClass) { return nodeClass >= fnUnary && nodeClass <= fnCompare; }
std::size_t FilterNodeSize(std::int32_t nodeClass);  // 0 for an unknown class

// One node as read from the block: a node of a known class that lies inside the node area.
struct TFilterNode {
  std::uint16_t Offset = 0;
  std::int32_t Class = 0;
  std::int32_t Operator = 0;
};

class TFilterBlock {
 public:
  TFilterBlock() = default;
  // A copy of the block's first total-size bytes, checked against the table's fields; raises 10051.
  static TFilterBlock Checked(std::span<const std::uint8_t> block, const TDataFile& table);

  std::span<const std::uint8_t> Bytes() const { return bytes_; }
  std::uint16_t TotalSize() const { return static_cast<std::uint16_t>(bytes_.size()); }

  // Nothing when the offset holds no node of a known class inside the node area.
  std::optional<TFilterNode> Node(std::uint16_t offset) const;
  // A u16 field of a node at byte at (8 upwards); 0 when it lies outside the node area.
  std::uint16_t NodeU16(const TFilterNode& node, std::size_t at) const;
  std::int16_t FieldNumber(const TFilterNode& field) const { return static_cast<std::int16_t>(NodeU16(field, 8)); }
  // The operands of a node by its class: unary one, binary and compare two.
  std::uint16_t Operand(const TFilterNode& node) const { return NodeU16(node, 8); }
  std::uint16_t FirstOperand(const TFilterNode& node) const;
  std::uint16_t SecondOperand(const TFilterNode& node) const;
  // size bytes of a constant's value; null when they do not lie inside the block.
  const std::uint8_t* ConstantValue(const TFilterNode& constant, std::size_t size) const;

  // Rewrites. New nodes go to the start of the literal area, which moves up; the header's literal
  // offset, total size and node count follow. Nothing when the block would pass 65535 bytes; else the
  // offset of the first new node.
  std::optional<std::uint16_t> AppendNodes(std::span<const std::uint8_t> nodes, std::uint16_t count);
  // Where AppendNodes puts the next node.
  std::uint16_t EndOfNodes() const { return static_cast<std::uint16_t>(LiteralStart() - NodeStart()); }
  // The bytes of the node at offset, size bytes (its class's size).
  std::vector<std::uint8_t> NodeBytes(const TFilterNode& node) const;
  // Overwrites the head of a node with a new class and operator; the node keeps its place and size.
  void WriteHead(std::uint16_t offset, std::int32_t nodeClass, std::int32_t op);
  void WriteNodeU16(std::uint16_t offset, std::size_t at, std::uint16_t value);
  void SwapOperands(const TFilterNode& binary);

 private:
  std::uint16_t HeaderU16(std::size_t at) const;
  std::size_t NodeStart() const { return HeaderU16(6); }
  std::size_t LiteralStart() const { return HeaderU16(8); }

  std::vector<std::uint8_t> bytes_;
};

}  // namespace kavrin::engine
