#include "foundation/CodecStream.h"

namespace kdl {

TqxCodecStream::TqxCodecStream(TStream* inner) : inner_(inner) {}

void TqxCodecStream::Unsupported() { throw EStreamError("Unsupported string encoding"); }

void TqxCodecStream::DetectEncoding() {
  if (!inner_) throw EStreamError("Encoding stream unassigned");
  const std::int64_t start = inner_->Position();
  std::uint8_t head[4] = {};
  std::int64_t got = 0;
  while (got < 4) {
    const std::int64_t n = inner_->Read(head + got, 4 - got);
    if (n <= 0) break;
    got += n;
  }
  const int row = DetectEncodingRow(head, static_cast<std::size_t>(got));
  encoding_ = row < 0 ? teEightBit : kEncodingTable[static_cast<std::size_t>(row)].Encoding;
  if (IsUnsupportedEncoding(encoding_)) Unsupported();
  const bool mark = row >= 0 && kEncodingTable[static_cast<std::size_t>(row)].ByteOrderMark;
  inner_->Seek(start + (mark ? kEncodingTable[static_cast<std::size_t>(row)].Length : 0), soBeginning);
  swap_ = IsSwappedEncoding(encoding_);
  lastStart_ = previousStart_ = inner_->Position();
  mode_ = kReading;
}

void TqxCodecStream::PrepareWriting() {
  if (!inner_) throw EStreamError("Encoding stream unassigned");
  if (IsUnsupportedEncoding(encoding_) || encoding_ == teUcs4LE) Unsupported();
  const int row = EncodingTableRow(encoding_);
  writeMark_ = row >= 0 && kEncodingTable[static_cast<std::size_t>(row)].ByteOrderMark;
  swap_ = IsSwappedEncoding(encoding_);
  mode_ = kWriting;
  if (writeMark_) {
    const TEncodingSignature& sig = kEncodingTable[static_cast<std::size_t>(row)];
    WriteBytes(sig.Bytes, sig.Length);
  }
}

std::int64_t TqxCodecStream::Read(void* buffer, std::int64_t count) {
  if (mode_ == kWriting) throw EStreamError("Cannot read from a conversion stream opened for writing");
  if (count != 1) throw EStreamError("Cannot read multiple chars from conversion stream at once");
  if (mode_ == kUnused) DetectEncoding();
  const char c = ReadChar();
  if (c == 0) return 0;
  *static_cast<char*>(buffer) = c;
  return 1;
}

std::int64_t TqxCodecStream::Write(const void* buffer, std::int64_t count) {
  if (mode_ == kReading) throw EStreamError("Cannot write to an UTF stream opened for reading");
  if (mode_ == kUnused) PrepareWriting();
  WriteChars(static_cast<const char*>(buffer), count);
  return count;
}

std::int64_t TqxCodecStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  if (mode_ == kUnused) throw EStreamError("Cannot seek before reading or writing in conversion stream");
  if (origin == soCurrent && offset == 0) return inner_->Position();
  if (origin == soCurrent && mode_ == kReading && (offset == -1 || offset == -2)) {
    pending_.clear();
    pendingPos_ = 0;
    return inner_->Seek(offset == -1 ? lastStart_ : previousStart_, soBeginning);
  }
  if (origin == soEnd && offset == 0) return inner_->Size();
  if (origin == soBeginning) return 0;
  throw EStreamError("Cannot perform seek on codec stream");
}

void TqxCodecStream::MarkPosition() {
  previousStart_ = lastStart_;
  lastStart_ = inner_->Position();
}

void TqxCodecStream::WriteChars(const char* chars, std::int64_t count) {
  for (std::int64_t i = 0; i < count; ++i) WriteChar(chars[i]);
}

bool TqxCodecStream::ReadByte(std::uint8_t& b) { return inner_->Read(&b, 1) == 1; }

bool TqxCodecStream::ReadUnit(char16_t& unit) {
  std::uint8_t b[2];
  if (inner_->Read(b, 2) != 2) return false;
  unit = swap_ ? static_cast<char16_t>(b[0] << 8 | b[1]) : static_cast<char16_t>(b[1] << 8 | b[0]);
  return true;
}

void TqxCodecStream::WriteBytes(const void* data, std::int64_t count) {
  if (count <= 0) throw EStreamError("Cannot write to output stream");
  if (inner_->Write(data, count) != count) throw EStreamError("Cannot write to output stream");
}

void TqxCodecStream::WriteUnit(char16_t unit) {
  const std::uint8_t hi = static_cast<std::uint8_t>(unit >> 8), lo = static_cast<std::uint8_t>(unit);
  const std::uint8_t b[2] = {swap_ ? hi : lo, swap_ ? lo : hi};
  WriteBytes(b, 2);
}

void TqxCodecStream::LoseChar() {
  if (charLost_) return;
  charLost_ = true;
  if (OnCharLost) OnCharLost();
}

// ---- 8-bit strings ------------------------------------------------------------------

char TqxAnsiStream::ReadChar() {
  MarkPosition();
  if (encoding_ == teEightBit || encoding_ == teUtf8) {
    std::uint8_t b;
    return ReadByte(b) ? static_cast<char>(b) : 0;
  }
  if (!IsWideEncoding(encoding_)) Unsupported();
  char16_t unit;
  if (!ReadUnit(unit)) return 0;
  const int b = UnicodeToCp1252(unit);
  if (b >= 0) return static_cast<char>(b);
  // A surrogate pair is one character, and one "?".
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    const std::int64_t at = inner_->Position();
    char16_t low;
    if (!ReadUnit(low) || low < 0xDC00 || low > 0xDFFF) inner_->Seek(at, soBeginning);
  }
  LoseChar();
  return '?';
}

void TqxAnsiStream::WriteChars(const char* chars, std::int64_t count) {
  if (encoding_ == teEightBit) {
    if (count > 0) WriteBytes(chars, count);
    return;
  }
  TqxCodecStream::WriteChars(chars, count);
}

void TqxAnsiStream::WriteChar(char c) {
  const char16_t u = Cp1252ToUnicode(static_cast<std::uint8_t>(c));
  if (encoding_ == teEightBit) {
    WriteBytes(&c, 1);
  } else if (encoding_ == teUtf8) {
    std::string bytes;
    AppendUtf8(bytes, u);
    WriteBytes(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  } else if (IsWideEncoding(encoding_)) {
    WriteUnit(u);
  } else {
    Unsupported();
  }
}

// ---- UTF-8 strings --------------------------------------------------------------------

namespace {
std::size_t Utf8SequenceLength(std::uint8_t lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xF0) return 4;
  return (lead & 0x20) ? 3 : 2;
}
}  // namespace

char TqxUtf8Stream::ReadChar() {
  if (pendingPos_ < pending_.size()) return pending_[pendingPos_++];
  MarkPosition();
  pending_.clear();
  pendingPos_ = 0;
  if (encoding_ == teEightBit) {
    std::uint8_t b;
    if (!ReadByte(b)) return 0;
    AppendUtf8(pending_, Cp1252ToUnicode(b));
  } else if (encoding_ == teUtf8) {
    std::uint8_t b;
    if (!ReadByte(b)) return 0;
    pending_.push_back(static_cast<char>(b));
    for (std::size_t i = 1; i < Utf8SequenceLength(b) && ReadByte(b); ++i) pending_.push_back(static_cast<char>(b));
  } else if (IsWideEncoding(encoding_)) {
    char16_t unit;
    if (!ReadUnit(unit)) return 0;
    char32_t cp = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      const std::int64_t at = inner_->Position();
      char16_t low;
      if (ReadUnit(low) && low >= 0xDC00 && low <= 0xDFFF)
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      else
        inner_->Seek(at, soBeginning);
    }
    AppendUtf8(pending_, cp);
  } else {
    Unsupported();
  }
  return pending_[pendingPos_++];
}

void TqxUtf8Stream::WriteChars(const char* chars, std::int64_t count) {
  if (encoding_ == teUtf8) {
    if (count > 0) WriteBytes(chars, count);
    return;
  }
  TqxCodecStream::WriteChars(chars, count);
}

void TqxUtf8Stream::WriteChar(char c) {
  if (encoding_ == teUtf8) {
    WriteBytes(&c, 1);
    return;
  }
  if (encoding_ != teEightBit && !IsWideEncoding(encoding_)) Unsupported();
  sequence_.push_back(c);
  if (sequence_.size() < Utf8SequenceLength(static_cast<std::uint8_t>(sequence_[0]))) return;
  const char* p = sequence_.data();
  const char* end = p + sequence_.size();
  const char32_t cp = DecodeUtf8(p, end);
  const bool valid = p == end && !(cp == kReplacementChar && sequence_ != "\xEF\xBF\xBD");
  sequence_.clear();
  if (!valid) return;  // not one character: nothing to write
  if (encoding_ == teEightBit) {
    const int b = UnicodeToCp1252(cp);
    const char out = b < 0 ? '?' : static_cast<char>(b);
    WriteBytes(&out, 1);
    return;
  }
  std::u16string units;
  AppendUtf16(units, cp);
  for (char16_t u : units) WriteUnit(u);
}

// ---- Push-back reader and string stream ------------------------------------------------

bool TqxSurplusReader::ReadChar(char& c) {
  if (!Surplus.empty()) {
    c = Surplus[0];
    Surplus.erase(0, 1);
    return true;
  }
  return stream_.Read(&c, 1) == 1;
}

bool TqxSurplusReader::ReadCharSkipBlanks(char& c) {
  while (ReadChar(c))
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return true;
  return false;
}

TqxStringStream::TqxStringStream(std::string_view text) {
  if (!text.empty()) WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
  Seek(0, soBeginning);
}

std::string TqxStringStream::GetText() {
  std::string text(static_cast<std::size_t>(Size()), '\0');
  Seek(0, soBeginning);
  if (!text.empty()) ReadBuffer(text.data(), static_cast<std::int64_t>(text.size()));
  return text;
}

}  // namespace kdl
