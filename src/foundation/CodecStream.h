// Transcoding streams: a file encoding on the inner side, the document's
// string form (8-bit or UTF-8) one character at a time on the outer side.
// The document itself decodes whole inputs at once; these serve callers that
// work on a stream of characters.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "foundation/Encoding.h"
#include "foundation/Stream.h"

namespace kdl {

class TqxCodecStream : public TStream {
 public:
  explicit TqxCodecStream(TStream* inner);

  TTextEncoding Encoding() const { return encoding_; }
  // For writing; reading detects the encoding from the first bytes.
  void SetEncoding(TTextEncoding encoding) { encoding_ = encoding; }
  bool CharLost() const { return charLost_; }
  // Fires the first time a character cannot be held by the string form.
  std::function<void()> OnCharLost;

  // Exactly one character per call; 0 at the end of input or at a NUL.
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  // Position queries, and stepping back one or two characters while reading.
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

  // One byte of the string form, 0 at the end.
  virtual char ReadChar() = 0;
  void MarkPosition();
  virtual void WriteChar(char c) = 0;
  virtual void WriteChars(const char* chars, std::int64_t count);

 protected:
  enum Mode { kUnused, kReading, kWriting };
  bool ReadByte(std::uint8_t& b);
  bool ReadUnit(char16_t& unit);
  void WriteBytes(const void* data, std::int64_t count);
  void WriteUnit(char16_t unit);
  void LoseChar();
  [[noreturn]] static void Unsupported();

  TStream* inner_;
  TTextEncoding encoding_ = teEightBit;
  Mode mode_ = kUnused;
  bool swap_ = false;
  bool charLost_ = false;
  std::string pending_;
  std::size_t pendingPos_ = 0;
  std::int64_t lastStart_ = 0;
  std::int64_t previousStart_ = 0;
  bool writeMark_ = false;

 private:
  void DetectEncoding();
  void PrepareWriting();
};

// Document strings are 8-bit (Windows-1252).
class TqxAnsiStream : public TqxCodecStream {
 public:
  using TqxCodecStream::TqxCodecStream;
  char ReadChar() override;
  void WriteChar(char c) override;
  void WriteChars(const char* chars, std::int64_t count) override;
};

// Document strings are UTF-8.
class TqxUtf8Stream : public TqxCodecStream {
 public:
  using TqxCodecStream::TqxCodecStream;
  char ReadChar() override;
  void WriteChar(char c) override;
  void WriteChars(const char* chars, std::int64_t count) override;

 private:
  std::string sequence_;  // a UTF-8 sequence being collected for writing
};

// Characters from a stream with a push-back text in front of it.
class TqxSurplusReader {
 public:
  explicit TqxSurplusReader(TStream& stream) : stream_(stream) {}
  bool ReadChar(char& c);
  bool ReadCharSkipBlanks(char& c);
  std::string Surplus;

 private:
  TStream& stream_;
};

// XML text held in a string.
class TqxStringStream : public TMemoryStream {
 public:
  explicit TqxStringStream(std::string_view text = {});
  std::string GetText();
};

}  // namespace kdl
