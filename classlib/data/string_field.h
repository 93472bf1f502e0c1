// TStringField: text in the programs' UTF-8, stored in the table's code page: CP437 while Transliterate
// is on (the default), Windows-1252 while it is off; cut to the field size in stored bytes.
#pragma once

#include "classlib/data/field.h"

namespace kavrin::classlib {

class TStringField : public TField {
 public:
  explicit TStringField(TComponent* owner = nullptr);
  bool Transliterate() const { return transliterate_; }
  void SetTransliterate(bool on) { transliterate_ = on; }

  std::string GetAsString() const override;
  void SetAsString(const std::string& text) override;
  std::int32_t GetAsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  double GetAsFloat() const override;
  void SetAsFloat(double value) override;
  bool GetAsBoolean() const override;
  void SetAsBoolean(bool value) override;
  runtime::TDateTime GetAsDateTime() const override;
  void SetAsDateTime(runtime::TDateTime value) override;
  Variant GetValue() const override;

  // The stored bytes of a UTF-8 text and back, by the Transliterate setting.
  std::string ToStored(const std::string& text) const;
  std::string FromStored(const std::string& stored) const;

 protected:
  int DefaultDisplayWidth() const override { return Size(); }

 private:
  bool transliterate_ = true;
};

}  // namespace kavrin::classlib
