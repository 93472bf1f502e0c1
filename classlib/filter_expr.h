// TFilterExpr: builds the filter expression block that the engine evaluates against a table. Nodes are
// made bottom-up and kept as a tree; GetFilterData lays the tree out with the root at node offset 0.
//
// Block layout (little-endian): a 10-byte header (u16 version, u16 total size, u16 node count, u16 node
// area offset, u16 literal area offset), the node area, then the literal area. Every node starts with
// its class (i32) and operator (i32); nodes refer to each other by their offset in the node area.
//   unary    10 bytes  +8 operand
//   binary   12 bytes  +8 first operand, +10 second operand
//   compare  16 bytes  +8 case-insensitive, +10 partial length, +12 field operand, +14 constant operand
//   field    12 bytes  +8 field number, +10 offset of the zero-terminated name in the literal area
//   constant 14 bytes  +8 type, +10 value size, +12 offset of the value in the literal area
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/data_file_format.h"
#include "engine/engine_error.h"
#include "runtime/currency.h"

namespace kavrin::classlib {

enum class TNodeClass : std::int32_t {
  Unary = 1,
  Binary = 2,
  Compare = 3,
  Field = 4,
  Constant = 5,
};

enum class TCanOp : std::int32_t {
  None = 0,  // field and constant nodes carry no operator
  IsBlank = 1,
  NotBlank = 2,
  Equal = 3,
  NotEqual = 4,
  Greater = 5,
  Less = 6,
  GreaterOrEqual = 7,
  LessOrEqual = 8,
  Not = 9,
  And = 10,
  Or = 11,
};

inline constexpr std::uint16_t FilterBlockVersion = 2;
inline constexpr std::size_t FilterHeaderSize = 10;
inline constexpr std::size_t UnaryNodeSize = 10;
inline constexpr std::size_t BinaryNodeSize = 12;
inline constexpr std::size_t CompareNodeSize = 16;
inline constexpr std::size_t FieldNodeSize = 12;
inline constexpr std::size_t ConstantNodeSize = 14;
inline constexpr std::size_t MaxFilterBlockSize = 0xFFFF;  // every offset and the total are 16-bit

// What PutConstBCD writes: the 8-byte stored BCD followed by zeros, as lookup filters have always had it.
inline constexpr std::uint16_t BCDConstantSize = 18;

// The block would pass 65535 bytes: raised by the node that does not fit.
class EFilterExprTooLarge : public engine::EDatabaseError {
 public:
  EFilterExprTooLarge() : engine::EDatabaseError("Filter expression too large") {}
};

class TFilterExpr {
 public:
  using TNodeId = std::size_t;

  // Misuse of the builder (an operand that is no node, used twice, of the wrong class, or an operator
  // that the node class does not take) raises std::invalid_argument: no block the engine would read
  // differently from what was built can come out of it.
  TNodeId NewFieldNode(std::int16_t fieldNumber, std::string_view name);
  TNodeId NewFieldNode(const engine::TFieldDescriptor& field);
  // The value in the field's stored form; its length is the constant's size.
  TNodeId NewConstNode(std::uint16_t type, std::span<const std::uint8_t> value);
  TNodeId PutConstBCD(runtime::Currency value, int decimals);
  // The text through the process's text-to-currency conversion (runtime::EConvertError when it fails).
  TNodeId PutConstBCD(std::string_view value, int decimals);
  // op is one of Equal .. LessOrEqual.
  TNodeId NewCompareNode(TCanOp op, bool caseInsensitive, std::uint16_t partialLength, TNodeId field, TNodeId constant);
  // And / Or on two logical nodes, or Equal .. LessOrEqual on a field and a constant.
  TNodeId NewBinaryNode(TCanOp op, TNodeId first, TNodeId second);
  // IsBlank / NotBlank on a field node, Not on a logical node.
  TNodeId NewUnaryNode(TCanOp op, TNodeId operand);

  std::size_t NodeCount() const { return nodes_.size(); }
  // The block of the tree under root. Only that tree is written; the header's sizes are true.
  std::vector<std::uint8_t> GetFilterData(TNodeId root) const;

 private:
  struct TNode {
    TNodeClass nodeClass = TNodeClass::Unary;
    TCanOp op = TCanOp::None;
    std::uint16_t caseInsensitive = 0;
    std::uint16_t partialLength = 0;
    std::int16_t fieldNumber = 0;
    std::uint16_t constType = 0;
    std::vector<TNodeId> operands;
    std::vector<std::uint8_t> literal;  // field name with its terminator, or constant value
    bool used = false;                  // already an operand of another node
  };

  static TNode Make(TNodeClass nodeClass, TCanOp op);
  static std::size_t NodeSize(TNodeClass nodeClass);
  bool IsLogical(TNodeId id) const;
  TNodeClass ClassOf(TNodeId id) const;
  void Use(TNodeId id);
  TNodeId Add(TNode node);

  std::vector<TNode> nodes_;
  std::size_t size_ = FilterHeaderSize;  // of a block holding every node made so far
};

}  // namespace kavrin::classlib
