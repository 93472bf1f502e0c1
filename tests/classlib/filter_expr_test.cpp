// The block builder on its own: what the parser never makes (binary comparisons, the lookup filter's BCD
// constants, trees built by hand) and the misuse it must refuse.
#include "classlib/filter_expr.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/currency.h"

namespace kavrin::classlib {
namespace {

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::uint8_t b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0xF];
  }
  return hex;
}

std::string WithoutSpaces(std::string text) {
  std::erase(text, ' ');
  return text;
}

TEST(FilterExpr, LookupFilterShapeWithBCDConstant) {
  // Amount = 12.5 (BCD, two decimals) and Code = 'AB' partial, joined by and, as a lookup filter makes it.
  TFilterExpr expr;
  const auto amount = expr.NewFieldNode(3, "Amount");
  const auto value = expr.PutConstBCD(runtime::Currency::FromRaw(125000), 2);
  const auto first = expr.NewCompareNode(TCanOp::Equal, false, 0, amount, value);
  const auto code = expr.NewFieldNode(-2, "Code");
  const std::uint8_t ab[] = {'A', 'B', 0, 0};
  const auto text = expr.NewConstNode(engine::ftString, ab);
  const auto second = expr.NewCompareNode(TCanOp::Equal, true, 2, code, text);
  const auto root = expr.NewBinaryNode(TCanOp::And, first, second);
  EXPECT_EQ(ToHex(expr.GetFilterData(root)),
            WithoutSpaces("02008c0007000a006a00 "
                          "020000000a0000000c003600 "
                          "0300000003000000000000001c002800 040000000000000003000000 "
                          "0500000000000000080012000700 "
                          "03000000030000000100020046005200 0400000000000000feff1900 "
                          "0500000000000000010004001e00 "
                          "416d6f756e7400 d630000000000000 00000000000000000000 436f646500 41420000"));
}

TEST(FilterExpr, PutConstBCDTakesTextThroughCurrencyConversion) {
  TFilterExpr a;
  TFilterExpr b;
  const auto fa = a.NewFieldNode(1, "A");
  const auto fb = b.NewFieldNode(1, "A");
  const auto ra = a.NewCompareNode(TCanOp::Less, false, 0, fa, a.PutConstBCD("-0.07", 2));
  const auto rb = b.NewCompareNode(TCanOp::Less, false, 0, fb, b.PutConstBCD(runtime::Currency::FromRaw(-700), 2));
  EXPECT_EQ(a.GetFilterData(ra), b.GetFilterData(rb));
}

TEST(FilterExpr, BinaryComparisonAndBlankTest) {
  TFilterExpr expr;
  const auto qty = expr.NewFieldNode(7, "Q");
  const std::uint8_t five[] = {5, 0, 0, 0};
  const auto greater = expr.NewBinaryNode(TCanOp::Greater, qty, expr.NewConstNode(engine::ftInteger, five));
  const auto blank = expr.NewUnaryNode(TCanOp::NotBlank, expr.NewFieldNode(8, "R"));
  const auto root = expr.NewBinaryNode(TCanOp::Or, greater, blank);
  EXPECT_EQ(ToHex(expr.GetFilterData(root)), WithoutSpaces("02005a0006000a005200 "
                                                           "020000000b0000000c003200 "
                                                           "020000000500000018002400 040000000000000007000000 "
                                                           "0500000000000000060004000200 "
                                                           "01000000020000003c00 040000000000000008000600 "
                                                           "510005000000 5200"));
}

TEST(FilterExpr, OnlyTheTreeUnderTheRootIsWritten) {
  TFilterExpr expr;
  const auto stray = expr.NewFieldNode(1, "Stray");
  (void)stray;
  const auto root = expr.NewUnaryNode(TCanOp::IsBlank, expr.NewFieldNode(2, "B"));
  const auto block = expr.GetFilterData(root);
  EXPECT_EQ(expr.NodeCount(), 3u);
  EXPECT_EQ(ToHex(block), WithoutSpaces("0200220002000a002000 01000000010000000a00 040000000000000002000000 4200"));
}

TEST(FilterExpr, MisuseIsRefused) {
  const std::uint8_t one[] = {1, 0, 0, 0};
  struct Case {
    const char* what;
    void (*build)(TFilterExpr&, std::span<const std::uint8_t>);
  };
  const Case cases[] = {
      {"operand used twice",
       [](TFilterExpr& e, std::span<const std::uint8_t> v) {
         const auto f = e.NewFieldNode(1, "A");
         e.NewCompareNode(TCanOp::Equal, false, 0, f, e.NewConstNode(6, v));
         e.NewUnaryNode(TCanOp::IsBlank, f);
       }},
      {"same node as both operands",
       [](TFilterExpr& e, std::span<const std::uint8_t>) {
         const auto b = e.NewUnaryNode(TCanOp::IsBlank, e.NewFieldNode(1, "A"));
         e.NewBinaryNode(TCanOp::And, b, b);
       }},
      {"constant first",
       [](TFilterExpr& e, std::span<const std::uint8_t> v) {
         const auto c = e.NewConstNode(6, v);
         e.NewCompareNode(TCanOp::Equal, false, 0, c, e.NewFieldNode(1, "A"));
       }},
      {"and on a field",
       [](TFilterExpr& e, std::span<const std::uint8_t>) {
         const auto b = e.NewUnaryNode(TCanOp::IsBlank, e.NewFieldNode(1, "A"));
         e.NewBinaryNode(TCanOp::And, b, e.NewFieldNode(2, "B"));
       }},
      {"not on a field",
       [](TFilterExpr& e, std::span<const std::uint8_t>) { e.NewUnaryNode(TCanOp::Not, e.NewFieldNode(1, "A")); }},
      {"blank test on a logical node",
       [](TFilterExpr& e, std::span<const std::uint8_t>) {
         e.NewUnaryNode(TCanOp::IsBlank, e.NewUnaryNode(TCanOp::IsBlank, e.NewFieldNode(1, "A")));
       }},
      {"and as a compare operator",
       [](TFilterExpr& e, std::span<const std::uint8_t> v) {
         const auto f = e.NewFieldNode(1, "A");
         e.NewCompareNode(TCanOp::And, false, 0, f, e.NewConstNode(6, v));
       }},
      {"no such node", [](TFilterExpr& e, std::span<const std::uint8_t>) { e.NewUnaryNode(TCanOp::IsBlank, 5); }},
      {"root that is an operand",
       [](TFilterExpr& e, std::span<const std::uint8_t>) {
         const auto f = e.NewFieldNode(1, "A");
         e.NewUnaryNode(TCanOp::IsBlank, f);
         e.GetFilterData(f);
       }},
      {"field name with a NUL",
       [](TFilterExpr& e, std::span<const std::uint8_t>) { e.NewFieldNode(1, std::string_view("A\0B", 3)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TFilterExpr expr;
    EXPECT_THROW(c.build(expr, std::span<const std::uint8_t>(one)), std::invalid_argument);
  }
}

TEST(FilterExpr, BlockPastSixteenBitsIsRefusedByTheNodeThatDoesNotFit) {
  TFilterExpr expr;
  const std::vector<std::uint8_t> big(65535 - 10 - 14 - 12 - 2 - 10, 0);
  const auto value = expr.NewConstNode(engine::ftString, big);
  const auto field = expr.NewFieldNode(1, "A");  // exactly 65535 - 16 with the root below
  EXPECT_THROW(expr.NewCompareNode(TCanOp::Equal, false, 0, field, value), EFilterExprTooLarge);

  TFilterExpr fits;
  const std::vector<std::uint8_t> exact(65535 - 10 - 14 - 12 - 2 - 16, 0);
  const auto root = fits.NewCompareNode(TCanOp::Equal, false, 0, fits.NewFieldNode(1, "A"),
                                        fits.NewConstNode(engine::ftString, exact));
  const auto block = fits.GetFilterData(root);
  EXPECT_EQ(block.size(), 65535u);
  EXPECT_EQ(block[2], 0xFF);
  EXPECT_EQ(block[3], 0xFF);
}

}  // namespace
}  // namespace kavrin::classlib
