#include "document/kinds/GroupShape.h"

#include "document/kinds/PolygonShape.h"
#include "document/text/MemoShape.h"

namespace kdl {

namespace {

constexpr float kCaptionInset = 2;
constexpr float kCaptionSizePt = 12;

}  // namespace

std::unique_ptr<TdtpRectangleShape> MakePlaceHolderFrame(float width, float height) {
  auto frame = std::make_unique<TdtpRectangleShape>();
  frame->SetOutlineColor(0);
  frame->SetOutlineWidth(0);
  frame->SetFillColor(0xFFFFFF);
  frame->SetAnchors(kPlaceHolderAnchors);
  frame->SetDocSize(width, height);
  frame->SetFixed(true);
  return frame;
}

std::unique_ptr<TdtpMemoShape> MakePlaceHolderCaption(float width, float height) {
  auto caption = std::make_unique<TdtpMemoShape>();
  // Fixed size first: the text then lays out inside the frame given below.
  caption->SetAutoSize(false);
  caption->SetFontSizePt(kCaptionSizePt);
  caption->SetText(kPlaceHolderText);
  caption->SetAlignment(2);
  caption->SetVertAlign(1);
  caption->SetAnchors(kPlaceHolderAnchors);
  caption->SetDocBounds(kCaptionInset, kCaptionInset, width - 2 * kCaptionInset,
                        height - 2 * kCaptionInset);
  caption->SetFixed(true);
  return caption;
}

TdtpPlaceHolder::TdtpPlaceHolder() {
  constexpr float kWidth = 40, kHeight = 30;
  AddShape(MakePlaceHolderFrame(kWidth, kHeight));
  std::unique_ptr<TdtpMemoShape> caption = MakePlaceHolderCaption(kWidth, kHeight);
  caption->SetAllowEdit(false);
  AddShape(std::move(caption));
  FitToShapes();
}

void TdtpShape::AddPlaceHolder() {
  auto holder = std::make_unique<TdtpPlaceHolder>();
  TdtpPlaceHolder& placeHolder = *holder;
  InsertShape(0, std::move(holder));
  placeHolder.SetDocSize(40, 30);
  placeHolder.SetAnchors(kPlaceHolderAnchors);
  placeHolder.SetFixed(true);
  FitToShapes();
}

void TdtpShape::SetPlaceHolderVisible(bool value) {
  if (auto* placeHolder = dynamic_cast<TdtpPlaceHolder*>(GetShape(0))) placeHolder->SetVisible(value);
}

}  // namespace kdl
