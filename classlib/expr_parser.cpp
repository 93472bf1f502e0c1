#include "classlib/expr_parser.h"

#include <optional>
#include <utility>

#include "classlib/filter_constant.h"
#include "classlib/filter_expr.h"
#include "classlib/filter_lexer.h"
#include "runtime/code_pages.h"

namespace kavrin::classlib {
namespace {

using engine::TFieldDescriptor;
using TNodeId = TFilterExpr::TNodeId;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool IsKeyword(const TToken& token, std::string_view word) {
  return token.Kind == TTokenKind::Name && EqualsNoCase(token.Text, word);
}

bool IsReserved(const TToken& token) {
  for (std::string_view word : {"and", "or", "not", "is", "null", "true", "false"}) {
    if (IsKeyword(token, word)) return true;
  }
  return false;
}

std::optional<TCanOp> RelationOf(TTokenKind kind) {
  switch (kind) {
    case TTokenKind::Equal: return TCanOp::Equal;
    case TTokenKind::NotEqual: return TCanOp::NotEqual;
    case TTokenKind::Less: return TCanOp::Less;
    case TTokenKind::Greater: return TCanOp::Greater;
    case TTokenKind::LessOrEqual: return TCanOp::LessOrEqual;
    case TTokenKind::GreaterOrEqual: return TCanOp::GreaterOrEqual;
    default: return std::nullopt;
  }
}

// "5 < X" is "X > 5".
TCanOp Mirrored(TCanOp op) {
  switch (op) {
    case TCanOp::Less: return TCanOp::Greater;
    case TCanOp::Greater: return TCanOp::Less;
    case TCanOp::LessOrEqual: return TCanOp::GreaterOrEqual;
    case TCanOp::GreaterOrEqual: return TCanOp::LessOrEqual;
    default: return op;
  }
}

std::string Found(const TToken& token) {
  switch (token.Kind) {
    case TTokenKind::End: return "the end of the text";
    case TTokenKind::String: {
      std::string out = "'";
      for (char c : token.Text) {
        out += c;
        if (c == '\'') out += '\'';
      }
      return out + "'";
    }
    case TTokenKind::BracketName: return "[" + token.Text + "]";
    default: return "'" + token.Text + "'";
  }
}

// Where an operator is due, "-3" is the minus of arithmetic.
bool SignedNumber(const TToken& token) {
  return token.Kind == TTokenKind::Number && (token.Text[0] == '+' || token.Text[0] == '-');
}

struct TOperand {
  const TFieldDescriptor* Field = nullptr;  // else a constant
  TFilterConstant Constant;
  std::size_t Offset = 0;
  std::string Written;  // for messages
};

class TParser {
 public:
  TParser(std::string_view text, const std::vector<TFieldDescriptor>& fields, const TFilterParseOptions& options)
      : text_(text), fields_(fields), options_(options), lexer_(text) {}

  std::vector<std::uint8_t> Run() {
    try {
      Advance();
      if (token_.Kind == TTokenKind::End) throw EExprParserError(1, "the filter text is empty");
      const TNodeId root = ParseExpr();
      if (token_.Kind != TTokenKind::End) Unexpected("AND, OR or the end of the text");
      return expr_.GetFilterData(root);
    } catch (const ELexError& e) {
      throw EExprParserError(Position(e.Offset()), e.what());
    } catch (const EFilterExprTooLarge&) {
      throw EExprParserError(Position(token_.Offset),
                             "the filter is too long: its expression block passes 65535 bytes");
    }
  }

 private:
  std::size_t Position(std::size_t offset) const {
    // Characters, not bytes: UTF-8 continuation bytes do not count.
    std::size_t position = 1;
    for (std::size_t i = 0; i < offset && i < text_.size(); ++i) {
      if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80) ++position;
    }
    return position;
  }

  [[noreturn]] void Fail(std::size_t offset, const std::string& detail) const {
    throw EExprParserError(Position(offset), detail);
  }
  [[noreturn]] void Fail(const TToken& token, const std::string& detail) const { Fail(token.Offset, detail); }

  // A token that has no place here; characters outside the grammar get a word of their own.
  [[noreturn]] void Unexpected(const std::string& expected) const {
    if (SignedNumber(token_)) Fail(token_, "arithmetic ('" + token_.Text.substr(0, 1) + "') is not supported");
    if (token_.Kind == TTokenKind::Other) {
      const std::string& t = token_.Text;
      if (t == "+" || t == "-" || t == "*" || t == "/") Fail(token_, "arithmetic ('" + t + "') is not supported");
      if (t == "!=") Fail(token_, "'!=' is not an operator; use <>");
      if (t == "\"") Fail(token_, "string constants are written in single quotes");
      Fail(token_, "unexpected character '" + t + "'");
    }
    Fail(token_, "expected " + expected + ", found " + Found(token_));
  }

  void Advance() { token_ = lexer_.Next(); }

  void Nest(const TToken& at) {
    if (++depth_ > MaxFilterNesting)
      Fail(at, "the filter nests more than " + std::to_string(MaxFilterNesting) + " levels of brackets and NOTs");
  }

  // Halves, so that a long run of ANDs or ORs stays shallow for the engine's recursive evaluation.
  TNodeId Joined(TCanOp op, const std::vector<TNodeId>& items, std::size_t first, std::size_t count) {
    if (count == 1) return items[first];
    const std::size_t left = (count + 1) / 2;
    const TNodeId a = Joined(op, items, first, left);
    const TNodeId b = Joined(op, items, first + left, count - left);
    return expr_.NewBinaryNode(op, a, b);
  }

  TNodeId ParseExpr() {
    std::vector<TNodeId> terms{ParseTerm()};
    while (IsKeyword(token_, "or")) {
      Advance();
      terms.push_back(ParseTerm());
    }
    return Joined(TCanOp::Or, terms, 0, terms.size());
  }

  TNodeId ParseTerm() {
    std::vector<TNodeId> factors{ParseFactor()};
    while (IsKeyword(token_, "and")) {
      Advance();
      factors.push_back(ParseFactor());
    }
    return Joined(TCanOp::And, factors, 0, factors.size());
  }

  TNodeId ParseFactor() {
    if (IsKeyword(token_, "not")) {
      Nest(token_);
      Advance();
      const TNodeId operand = ParseFactor();
      --depth_;
      return expr_.NewUnaryNode(TCanOp::Not, operand);
    }
    if (token_.Kind == TTokenKind::LeftParen) {
      Nest(token_);
      Advance();
      const TNodeId inner = ParseExpr();
      if (token_.Kind != TTokenKind::RightParen) Unexpected("')', AND or OR");
      Advance();
      --depth_;
      return inner;
    }
    return ParseComparison();
  }

  const TFieldDescriptor* FindField(std::string_view written) const {
    const std::string_view name = Trimmed(written);
    for (const auto& field : fields_) {
      if (runtime::SameDescriptorName(Trimmed(field.Name), name)) return &field;
    }
    return nullptr;
  }

  TOperand FieldOperand(const TToken& token) {
    const TFieldDescriptor* field = FindField(token.Text);
    if (field == nullptr) Fail(token, "unknown field name '" + std::string(Trimmed(token.Text)) + "'");
    TOperand operand;
    operand.Field = field;
    operand.Offset = token.Offset;
    operand.Written = std::string(Trimmed(field->Name));
    return operand;
  }

  TOperand ParseOperand() {
    const TToken token = token_;
    TOperand operand;
    operand.Offset = token.Offset;
    operand.Written = Found(token);
    switch (token.Kind) {
      case TTokenKind::Name:
        if (IsKeyword(token, "true") || IsKeyword(token, "false")) {
          operand.Constant.Kind = TConstantKind::Boolean;
          operand.Constant.BoolValue = IsKeyword(token, "true");
          Advance();
          return operand;
        }
        if (IsKeyword(token, "null")) Fail(token, "NULL can only be tested with IS NULL or IS NOT NULL");
        if (IsReserved(token)) Unexpected("a field name or a constant");
        Advance();
        if (token_.Kind == TTokenKind::LeftParen) Fail(token, "functions are not supported ('" + token.Text + "')");
        return FieldOperand(token);
      case TTokenKind::BracketName: Advance(); return FieldOperand(token);
      case TTokenKind::String:
        operand.Constant.Kind = TConstantKind::String;
        operand.Constant.Text = token.Text;
        Advance();
        return operand;
      case TTokenKind::Number:
        operand.Constant.Kind = TConstantKind::Number;
        operand.Constant.Text = token.Text;
        Advance();
        return operand;
      default: Unexpected("a field name or a constant");
    }
  }

  TNodeId ParseComparison() {
    TOperand left = ParseOperand();

    if (IsKeyword(token_, "is")) {
      if (left.Field == nullptr) Fail(token_, "IS NULL needs a field on its left, not " + left.Written);
      Advance();
      bool negated = false;
      if (IsKeyword(token_, "not")) {
        negated = true;
        Advance();
      }
      if (!IsKeyword(token_, "null")) Unexpected("NULL");
      Advance();
      const TNodeId field = expr_.NewFieldNode(left.Field->FieldNumber, Trimmed(left.Field->Name));
      return expr_.NewUnaryNode(negated ? TCanOp::NotBlank : TCanOp::IsBlank, field);
    }

    const std::optional<TCanOp> relation = RelationOf(token_.Kind);
    if (!relation) Unexpected("a comparison operator (=, <>, <, >, <=, >=) or IS");
    TCanOp op = *relation;
    Advance();
    TOperand right = ParseOperand();
    // An arithmetic sign right after the comparison means the text goes on with arithmetic.
    if (token_.Kind == TTokenKind::Other || SignedNumber(token_)) Unexpected("AND, OR, ')' or the end of the text");

    if (left.Field != nullptr && right.Field != nullptr)
      Fail(right.Offset, "comparing field '" + left.Written + "' with field '" + right.Written + "' is not supported");
    if (left.Field == nullptr && right.Field == nullptr)
      Fail(left.Offset,
           "a comparison needs a field on one side: " + left.Written + " and " + right.Written + " are both constants");
    if (left.Field == nullptr) {
      std::swap(left, right);
      op = Mirrored(op);
    }
    const TFieldDescriptor& field = *left.Field;
    if (!IsComparableField(field)) {
      Fail(left.Offset, std::string(FieldTypeName(field)) + " field '" + left.Written +
                            "' cannot be compared; only IS NULL and IS NOT NULL test it");
    }

    TStoredConstant stored;
    try {
      stored = ConvertFilterConstant(field, right.Constant, !options_.NoPartialCompare, options_.Transliterate);
    } catch (const EConstantConversion& e) {
      Fail(right.Offset, e.what());
    }
    if (stored.Partial && op != TCanOp::Equal && op != TCanOp::NotEqual)
      Fail(right.Offset, "a partial comparison (a trailing '*') works only with = and <>");

    const TNodeId fieldNode = expr_.NewFieldNode(field.FieldNumber, Trimmed(field.Name));
    if (stored.Partial && stored.PartialLength == 0) {
      // 'X' = '*' asks for any value at all: the blank tests say exactly that, nulls excluded.
      return expr_.NewUnaryNode(op == TCanOp::Equal ? TCanOp::NotBlank : TCanOp::IsBlank, fieldNode);
    }
    const TNodeId constant = expr_.NewConstNode(field.Type, stored.Value);
    // Only strings have a case; on other types the flag would only keep the engine from their indexes.
    const bool caseInsensitive = options_.CaseInsensitive && field.Type == engine::ftString;
    return expr_.NewCompareNode(op, caseInsensitive, stored.Partial ? stored.PartialLength : 0, fieldNode, constant);
  }

  std::string_view text_;
  const std::vector<TFieldDescriptor>& fields_;
  TFilterParseOptions options_;
  TFilterLexer lexer_;
  TToken token_;
  TFilterExpr expr_;
  int depth_ = 0;
};

}  // namespace

EExprParserError::EExprParserError(std::size_t position, const std::string& detail)
    : engine::EDatabaseError("Filter text error at position " + std::to_string(position) + ": " + detail),
      position_(position),
      detail_(detail) {}

TExprParser::TExprParser(std::string_view text, const std::vector<engine::TFieldDescriptor>& fields,
                         const TFilterParseOptions& options)
    : data_(TParser(text, fields, options).Run()) {}

}  // namespace kavrin::classlib
