// The document's outline fonts, shared by name and style with reference
// counts, and their glyph cache as the archive member "Fonts.dat".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "document/text/Font.h"
#include "foundation/Stream.h"

namespace kdl {

using TdtpFontList = std::vector<std::unique_ptr<TdtpFont>>;

inline constexpr char kFontsMemberName[] = "Fonts.dat";

class TdtpFontManager {
 public:
  TdtpFontManager() = default;
  ~TdtpFontManager();
  TdtpFontManager(const TdtpFontManager&) = delete;
  TdtpFontManager& operator=(const TdtpFontManager&) = delete;

  const TdtpFontList& Fonts() const { return fonts_; }

  // The font for name and style, sharing one already held; old is the
  // caller's previous font, released when it differs. Null for an empty
  // name, and for a face that cannot be found or loaded: the caller then
  // has no font (measuring (0, 0), drawing nothing) and LastError tells why.
  TdtpFont* AcquireFont(const std::string& name, TFontStyles style, TdtpFont* old);
  const std::string& LastError() const { return lastError_; }
  // Frees, in list order, every font no longer held.
  void PurgeReleased();

  // The "Fonts.dat" bytes. Loading appends the stored fonts (with their
  // stored reference counts, without opening faces), or nothing at all when
  // the bytes are damaged: EFontError "Font file is corrupt or incorrect" or
  // "Font file has unknown version".
  void SaveToStream(TStream& stream) const;
  void LoadFromStream(TStream& stream);

 private:
  TdtpFontList fonts_;
  std::string lastError_;
};

}  // namespace kdl
