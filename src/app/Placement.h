// Windows are laid out in code: each control is placed from a layout record
// relative to the control placed before it. Records are in pixels of the
// client area, for the application font (Liberation Sans, 11 px).
#pragma once

#include <cstdint>

class QWidget;

namespace kdl {

struct TLayoutRecord {
  std::int32_t Width, Height, PadLeft, PadTop, PadRight, PadBottom;
};

// The previous control's box including its pads, kept by the caller.
struct TPlacementBounds {
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

inline constexpr TLayoutRecord kSectionCaption{215, 13, -5, 0, 0, 0};
inline constexpr TLayoutRecord kSectionLine{220, 1, -5, 0, 0, 0};
inline constexpr TLayoutRecord kTextButton{86, 25, 0, 0, 0, 0};
inline constexpr TLayoutRecord kGlyphButton{26, 25, 0, 0, 0, 0};
inline constexpr TLayoutRecord kTitleEdit{144, 21, 0, 2, 2, 0};
inline constexpr TLayoutRecord kContentsMemo{176, 54, 0, 2, 2, 0};
inline constexpr TLayoutRecord kPrintCheckBox{215, 17, 5, 2, 0, -2};
inline constexpr TLayoutRecord kNoImageCheckBox{178, 17, 5, 2, 0, -2};
inline constexpr TLayoutRecord kDialogIcon{48, 48, 16, 20, 0, 0};
inline constexpr TLayoutRecord kDialogPanel{225, 120, 80, 10, 0, 0};
inline constexpr TLayoutRecord kDialogOkButton{86, 25, 219, 140, 0, 0};
inline constexpr TLayoutRecord kAboutCopyright{205, 13, -5, 0, 0, 0};
inline constexpr TLayoutRecord kAboutSite{100, 13, -5, 0, 0, 0};
inline constexpr TLayoutRecord kOptionsCheckBox{200, 17, 5, 2, 0, -2};
inline constexpr TLayoutRecord kAboutProduct{160, 36, 28, 0, 0, 0};
inline constexpr TLayoutRecord kOptionsLanguageList{120, 21, 0, 2, 0, 0};
inline constexpr TLayoutRecord kOptionsSectionCaption{180, 13, -5, 0, 0, 0};
inline constexpr TLayoutRecord kOptionsSectionLine{185, 1, -5, 0, 0, 0};
inline constexpr TLayoutRecord kEditorOkButton{86, 25, 180, 11, 0, 0};
inline constexpr TLayoutRecord kEditorCancelButton{86, 25, 276, 11, 0, 0};
inline constexpr TLayoutRecord kCropDialog{385, 372, 0, 0, 0, 0};
inline constexpr TLayoutRecord kEditorMemo{363, 347, 5, 5, 0, 0};
inline constexpr TLayoutRecord kWizardPicture{104, 104, 0, 0, 0, 0};
inline constexpr TLayoutRecord kWizardLine{223, 1, -5, 0, 0, 0};
inline constexpr TLayoutRecord kWizardWideLine{337, 1, -5, 0, 0, 0};
inline constexpr TLayoutRecord kWizardRadioButton{109, 17, 5, -5, 0, 0};
inline constexpr TLayoutRecord kWizardOkButton{86, 25, 300, 11, 0, 0};
inline constexpr TLayoutRecord kWizardCancelButton{86, 25, 396, 11, 0, 0};

// How PlaceControl finds the control's top-left corner.
enum TPlacementMode : int {
  pmAbsolute = 0,   // at (dx, dy)
  pmRight = 1,      // right of the previous control, on its top
  pmNewRow = 2,     // at dx, under the previous control
  pmUnder = 3,      // under the previous control, on its left
};

// Places control by mode (any other mode keeps its position), gives it the
// record's size and makes bounds its box including the pads.
void PlaceControl(TPlacementBounds& bounds, QWidget& control, int mode,
                  const TLayoutRecord& record, std::int32_t dx, std::int32_t dy);

// The control at (PadLeft, PadTop) with the record's size.
void PlaceControlAt(QWidget& control, const TLayoutRecord& record);

}  // namespace kdl
