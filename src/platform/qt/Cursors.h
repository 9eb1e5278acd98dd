// The numbered screen cursors of the controls, shown as Qt cursor shapes on
// the widget under the pointer (never as an application override).
#pragma once

class QWidget;

namespace kdl {

using TCursor = short;

inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crCross = -3;
inline constexpr TCursor crIBeam = -4;
inline constexpr TCursor crSizeNESW = -6;
inline constexpr TCursor crSizeNS = -7;
inline constexpr TCursor crSizeNWSE = -8;
inline constexpr TCursor crSizeWE = -9;
inline constexpr TCursor crHourGlass = -11;
inline constexpr TCursor crNo = -18;
inline constexpr TCursor crHandPoint = -21;
inline constexpr TCursor crSizeAll = -22;

// Sets the widget's cursor; unknown numbers show the arrow.
void SetWidgetCursor(QWidget* widget, TCursor cursor);

}  // namespace kdl
