// Multi-line text shapes: the memo, which offers its text also as a list of
// lines, and the glyph memo, which measures and draws its text as outline
// glyphs from the document's font manager.
#pragma once

#include <string>

#include "document/text/TextShape.h"
#include "foundation/WidestringList.h"

namespace kdl {

class TdtpFont;
class TdtpFontRenderer;

class TdtpMemoShape : public TdtpTextShape {
 public:
  TdtpMemoShape();
  ~TdtpMemoShape() override;

  std::string ClassName() const override { return "TdtpMemoShape"; }

  // Every change of the lines sets the text joined by CR LF (one undo
  // record per change).
  TqxWidestringList& Lines() { return lines_; }
  void SetText(const std::u16string& value) override;
  void LoadFromXml(TXmlNode* node) override;

 private:
  void LinesChanged();
  void SetLinesQuietly(const std::u16string& text);

  TqxWidestringList lines_;
};

class TdtpPolygonMemo : public TdtpMemoShape {
 public:
  TdtpPolygonMemo();
  ~TdtpPolygonMemo() override;

  std::string ClassName() const override { return "TdtpPolygonMemo"; }

  // Held from the document's font manager; nil without a document, with an
  // empty name, or when the face cannot be created.
  TdtpFont* Font() const { return font_; }
  void UpdateFont();
  // Takes up the font first when there is none or it no longer matches the
  // name and style.
  bool HasFont();

  void Loaded() override;
  void Paint32(TBitmap32& bitmap, const TdtpPaintInfo& info) override;
  bool ReportsInk() const override { return false; }
  void SetDocument(TdtpDocumentServices* document) override;
  void PrepareMeasure() override {}
  void PrepareRender(double /*scale*/) override {}
  float GetLineHeight() override;
  TdtpTextSize MeasureText(std::int32_t charPos, std::int32_t charCount) override;
  void Relayout() override;
  void LayoutSpanChars(TdtpTextSpan& span, double scale) override;

 protected:
  // The glyphs' own ink boxes, laid out as drawing lays them out.
  TFloatRect MeasureInk(const TdtpTextSpan& span) override;

 private:
  void SetupRenderer(TdtpFontRenderer& renderer) const;

  TdtpFont* font_ = nullptr;
  // The font last refused, so that a missing face is asked for (and
  // reported) once rather than on every measurement.
  std::string refusedFont_;
};

}  // namespace kdl
