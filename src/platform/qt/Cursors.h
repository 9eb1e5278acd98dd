// The numbered screen cursors of the controls, shown as Qt cursor shapes or
// as our own drawings on the widget under the pointer (never as an
// application override).
#pragma once

class QCursor;
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
inline constexpr TCursor crAppStart = -19;
inline constexpr TCursor crHandPoint = -21;
inline constexpr TCursor crSizeAll = -22;

// The document's own cursors: rotating, copying by drag, and inserting
// shapes of each kind.
inline constexpr TCursor crRotation = -30;
inline constexpr TCursor crSizeCopy = -31;
inline constexpr TCursor crDtpCross = -32;
inline constexpr TCursor crDtpCrossLine = -33;
inline constexpr TCursor crDtpCrossArrow = -34;
inline constexpr TCursor crDtpCrossRectangle = -35;
inline constexpr TCursor crDtpCrossEllipse = -36;
inline constexpr TCursor crDtpCrossText = -37;
inline constexpr TCursor crDtpCrossImage = -38;

// The screen cursor of a number; unknown numbers give the arrow. The drawn
// cursors are made on first use: a cursor image needs the application.
QCursor ScreenCursor(TCursor cursor);

// Sets the widget's cursor to ScreenCursor(cursor).
void SetWidgetCursor(QWidget* widget, TCursor cursor);

}  // namespace kdl
