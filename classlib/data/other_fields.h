// The remaining field classes: Boolean, dates and times, fixed and variable byte strings, and the blob
// fields, whose values the next layer reads and writes through blob streams.
#pragma once

#include <string>
#include <vector>

#include "classlib/data/field.h"

namespace kavrin::classlib {

class TBooleanField : public TField {
 public:
  explicit TBooleanField(TComponent* owner = nullptr);
  // "True;False" by default: the texts shown for the two values.
  const std::string& DisplayValues() const { return displayValues_; }
  void SetDisplayValues(std::string values);

  std::string GetAsString() const override;
  void SetAsString(const std::string& text) override;
  bool GetAsBoolean() const override;
  void SetAsBoolean(bool value) override;
  Variant GetValue() const override;

 protected:
  int DefaultDisplayWidth() const override { return 5; }

 private:
  std::string displayValues_ = "True;False";
  std::string trueText_ = "True";
  std::string falseText_ = "False";
};

// Dates are stored as day numbers (1 January 0001 = 1), times as milliseconds since midnight and
// timestamps as milliseconds in a double.
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TComponent* owner = nullptr) : TDateTimeField(owner, TFieldType::ftDateTime) {}
  const std::string& DisplayFormat() const { return displayFormat_; }
  void SetDisplayFormat(std::string format);

  std::string GetAsString() const override { return GetText(false); }
  void SetAsString(const std::string& text) override;
  double GetAsFloat() const override { return GetAsDateTime(); }
  void SetAsFloat(double value) override { SetAsDateTime(value); }
  runtime::TDateTime GetAsDateTime() const override;
  void SetAsDateTime(runtime::TDateTime value) override;
  Variant GetValue() const override;
  bool IsValidChar(char32_t c) const override;

 protected:
  TDateTimeField(TComponent* owner, TFieldType type);
  std::string GetText(bool displayText) const override;
  int DefaultDisplayWidth() const override { return 18; }
  bool Load(runtime::TDateTime& value) const;

 private:
  std::string displayFormat_;
};

class TDateField : public TDateTimeField {
 public:
  explicit TDateField(TComponent* owner = nullptr) : TDateTimeField(owner, TFieldType::ftDate) {}

 protected:
  int DefaultDisplayWidth() const override { return 10; }
};

class TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(TComponent* owner = nullptr) : TDateTimeField(owner, TFieldType::ftTime) {}

 protected:
  int DefaultDisplayWidth() const override { return 10; }
};

// Fixed-length bytes; AsString is the bytes as they are.
class TBytesField : public TField {
 public:
  explicit TBytesField(TComponent* owner = nullptr) : TBytesField(owner, TFieldType::ftBytes) {}
  std::string GetAsString() const override;
  void SetAsString(const std::string& bytes) override;
  Variant GetValue() const override;

 protected:
  TBytesField(TComponent* owner, TFieldType type);
  int DefaultDisplayWidth() const override { return Size() * 2; }
  std::string GetText(bool displayText) const override;
};

// Up to Size - 2 bytes behind a 16-bit length.
class TVarBytesField : public TBytesField {
 public:
  explicit TVarBytesField(TComponent* owner = nullptr) : TBytesField(owner, TFieldType::ftVarBytes) {}
  std::string GetAsString() const override;
  void SetAsString(const std::string& bytes) override;
};

class TStream;
class TStringList;
class TBlobStream;

// Any picture that saves itself to a stream and loads itself from one: graphic fields store that
// stream as it is, with no header in front.
class TPicture {
 public:
  virtual ~TPicture() = default;
  virtual void SaveToStream(TStream& stream) const = 0;
  virtual void LoadFromStream(TStream& stream) = 0;
};

class TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* owner = nullptr) : TBlobField(owner, TFieldType::ftBlob) {}
  // ftBlob, ftFmtMemo, ftParadoxOle, ftDBaseOle or ftTypedBinary.
  void SetBlobType(TFieldType type) { SetDataType(type); }
  bool Transliterate() const { return transliterate_; }
  void SetTransliterate(bool on) { transliterate_ = on; }
  // The whole blob: read from the stored record (or from the blob this edit changed), written into the
  // record being edited, where it stays open until the dataset frees its field buffers. Memo text
  // converts as one whole value (CP437 with Transliterate, else Windows-1252), so no character is
  // ever split.
  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  Variant GetValue() const override;
  // Whether this edit changed the blob (it is open in the engine).
  bool BlobModified() const { return modified_; }
  void FreeBuffers() override;

  // Loading reads the whole source from its beginning; memos convert the whole text.
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  void LoadFromFile(const std::string& fileName);
  // The file is created, replacing an existing one.
  void SaveToFile(const std::string& fileName) const;
  void LoadFromBlob(const TBlobField& other);
  void LoadFromStrings(const TStringList& strings);
  void LoadFromBitmap(const TPicture& picture);
  void SaveToBitmap(TPicture& picture) const;

 protected:
  TBlobField(TComponent* owner, TFieldType type);
  std::string GetText(bool displayText) const override;

 private:
  friend class TBlobStream;
  bool IsText() const;
  // The stored bytes, and writing stored bytes as the whole new value.
  std::string ReadBytes() const;
  void WriteBytes(const std::string& bytes);
  bool transliterate_ = false;
  bool modified_ = false;
};

class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* owner = nullptr);
};

class TGraphicField : public TBlobField {
 public:
  explicit TGraphicField(TComponent* owner = nullptr) : TBlobField(owner, TFieldType::ftGraphic) {}
};

}  // namespace kavrin::classlib
