#include "document/shapes/Shape.h"
#include "document/shapes/ShapeUndoGroup.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <utility>

#include "document/shapes/Command.h"
#include "document/shapes/DocumentServices.h"
#include "document/shapes/HandlePainter.h"
#include "foundation/Storage.h"
#include "platform/Exception.h"
#include "raster/Bitmap32.h"

namespace kdl {

namespace {

constexpr float kFullTurn = 360.0f;

bool IsUsableRatio(float ratio) { return std::isfinite(ratio) && ratio > 0; }

// Round (halves to even) of a target pixel position; far outside any bitmap
// either way it stops, so that the cast stays defined.
std::int32_t RoundBitmapPixel(double v) {
  if (!(v > -1e9)) return -1000000000;
  if (v > 1e9) return 1000000000;
  return static_cast<std::int32_t>(std::nearbyint(v));
}

// A child's new position and size on one axis after its group's size
// changed from oldSize to newSize. All steps in single precision.
struct TAnchorAxis {
  float Position = 0;
  float Size = 0;
};

TAnchorAxis AnchorLayout(float p, float s, float oldSize, float newSize, bool proportionalPosition,
                         bool proportionalSize, bool nearLock, bool farLock) {
  TAnchorAxis out{p, s};
  if (oldSize != 0) {
    const float r = newSize / oldSize;
    if (proportionalPosition) {
      const float c = r * (p + s / 2);
      if (proportionalSize) out.Size = r * s;
      out.Position = c - out.Size / 2;
    } else if (nearLock) {
      if (proportionalSize) out.Size = r * s;
    } else {
      // The far side stays where it was.
      if (proportionalSize) out.Size = r * s;
      out.Position = p + s - out.Size;
    }
  } else {
    if (proportionalPosition || nearLock) out.Position = 0;
    if (proportionalSize || farLock) out.Size = newSize;
  }
  return out;
}

}  // namespace

TdtpShape::TdtpShape() = default;

TdtpShape::~TdtpShape() = default;

// ---- Frame ---------------------------------------------------------------------

void TdtpShape::SetDocLeft(float value) {
  if (value != docLeft_) SetDocBounds(value, docTop_, docWidth_, docHeight_);
}

void TdtpShape::SetDocTop(float value) {
  if (value != docTop_) SetDocBounds(docLeft_, value, docWidth_, docHeight_);
}

void TdtpShape::SetDocWidth(float value) {
  if (value != docWidth_) SetDocBounds(docLeft_, docTop_, value, docHeight_);
}

void TdtpShape::SetDocHeight(float value) {
  if (value != docHeight_) SetDocBounds(docLeft_, docTop_, docWidth_, value);
}

void TdtpShape::StoreAngle(float angle) {
  float a = angle - std::floor(angle / kFullTurn) * kFullTurn;
  // A tiny negative angle rounds up to a full turn in single precision.
  if (!(a < kFullTurn) || a < 0) a = 0;
  docAngle_ = a;
  CacheAngle();
}

void TdtpShape::CacheAngle() {
  const double radians = static_cast<double>(docAngle_) * std::numbers::pi / 180.0;
  cos_ = static_cast<float>(std::cos(radians));
  sin_ = static_cast<float>(std::sin(radians));
}

void TdtpShape::SetDocAngle(float value) {
  if (value == docAngle_ || !std::isfinite(value)) return;
  RecordUndoFloat(ckPropertyChanged, "DocAngle", docAngle_);
  Invalidate();
  StoreAngle(value);
  if (parent_) parent_->InvalidateCacheChain();
  Invalidate();
  Changed();
}

void TdtpShape::SetDocPosition(float left, float top) {
  {
    TShapeUndoGroup group(*this);
    if (left != docLeft_) RecordUndoFloat(ckPropertyChanged, "DocLeft", docLeft_);
    if (top != docTop_) RecordUndoFloat(ckPropertyChanged, "DocTop", docTop_);
  }
  docLeft_ = left;
  docTop_ = top;
}

void TdtpShape::SetDocSize(float width, float height) {
  {
    TShapeUndoGroup group(*this);
    if (width != docWidth_) RecordUndoFloat(ckPropertyChanged, "DocWidth", docWidth_);
    if (height != docHeight_) RecordUndoFloat(ckPropertyChanged, "DocHeight", docHeight_);
  }
  if (width != docWidth_ || height != docHeight_) {
    docWidth_ = width;
    docHeight_ = height;
    InvalidateCacheChain();
  }
}

void TdtpShape::SetDocBounds(float left, float top, float width, float height) {
  SetDocBoundsAngle(left, top, width, height, docAngle_);
}

void TdtpShape::SetDocBoundsAngle(float left, float top, float width, float height, float angle) {
  if (left == docLeft_ && top == docTop_ && width == docWidth_ && height == docHeight_ &&
      angle == docAngle_)
    return;
  Invalidate();
  const bool sizeChanged = width != docWidth_ || height != docHeight_;
  // The children's records belong to the frame's: one Undo takes back both.
  std::optional<TShapeUndoGroup> group(std::in_place, *this);

  // Grouped children follow their anchors; one that refuses ends the layout.
  if (grouped_ && sizeChanged) {
    try {
      for (const auto& child : children_) {
        const std::uint16_t a = child->anchors_;
        bool posX, posY, sizeX, sizeY, left1, top1, right1, bottom1;
        if (a & akDefault) {
          posX = posY = true;
          sizeX = sizeY = allowResize_;
          left1 = top1 = right1 = bottom1 = false;
        } else {
          posX = a & akPosXProp;
          posY = a & akPosYProp;
          sizeX = a & akSizeXProp;
          sizeY = a & akSizeYProp;
          left1 = a & akLeftLock;
          top1 = a & akTopLock;
          right1 = a & akRightLock;
          bottom1 = a & akBottomLock;
        }
        const TAnchorAxis x = AnchorLayout(child->docLeft_, child->docWidth_, docWidth_, width,
                                           posX, sizeX, left1, right1);
        const TAnchorAxis y = AnchorLayout(child->docTop_, child->docHeight_, docHeight_, height,
                                           posY, sizeY, top1, bottom1);
        child->SetDocBounds(x.Position, y.Position, x.Size, y.Size);
      }
    } catch (const std::exception&) {
    }
  }

  if (left != docLeft_ || top != docTop_) SetDocPosition(left, top);
  if (sizeChanged) SetDocSize(width, height);
  if (angle != docAngle_) SetDocAngle(angle);
  group.reset();
  Invalidate();
  Changed();
  if (OnBoundsChange) OnBoundsChange(*this);
}

void TdtpShape::SetBounds(float left, float top, float width, float height) {
  ConstrainSize(width, height);
  ConstrainMove(left, top, width, height);
  SetDocBounds(left, top, width, height);
}

void TdtpShape::SetBoundsRect(const TFloatRect& r) {
  SetBounds(std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::fabs(r.Right - r.Left),
            std::fabs(r.Bottom - r.Top));
}

void TdtpShape::ApplyConstraints() {
  float w = docWidth_, h = docHeight_;
  ConstrainSize(w, h);
  SetDocBounds(docLeft_, docTop_, w, h);
}

void TdtpShape::RotateAboutCenter(float angle) {
  if (angle == docAngle_) return;
  // The centre in the parent, and where the new angle alone would put it.
  const TFloatPoint centre = LocalToParent({docWidth_ / 2, docHeight_ / 2});
  const double radians = static_cast<double>(angle) * std::numbers::pi / 180.0;
  const double c = std::cos(radians), s = std::sin(radians);
  const double hx = docWidth_ / 2.0, hy = docHeight_ / 2.0;
  const double left = centre.X - (hx * c + hy * s);
  const double top = centre.Y - (-hx * s + hy * c);
  SetDocBoundsAngle(static_cast<float>(left), static_cast<float>(top), docWidth_, docHeight_,
                    angle);
}

void TdtpShape::CenterAt(float x, float y) {
  const TFloatRect b = GetDocBounds();
  SetBoundsLeft(x - (b.Right - b.Left) / 2);
  const TFloatRect b2 = GetDocBounds();
  SetBoundsTop(y - (b2.Bottom - b2.Top) / 2);
}

void TdtpShape::Inflate(float dx, float dy) {
  SetDocBounds(docLeft_ - dx, docTop_ - dy, docWidth_ + 2 * dx, docHeight_ + 2 * dy);
}

void TdtpShape::SetBoundsLeft(float x) {
  SetDocBounds(docLeft_ + (x - GetBoundsLeft()), docTop_, docWidth_, docHeight_);
}

void TdtpShape::SetBoundsTop(float y) {
  SetDocBounds(docLeft_, docTop_ + (y - GetBoundsTop()), docWidth_, docHeight_);
}

// ---- Coordinates -----------------------------------------------------------------

TFloatPoint TdtpShape::LocalToParent(TFloatPoint p) const {
  return {p.X * cos_ + p.Y * sin_ + docLeft_, -p.X * sin_ + p.Y * cos_ + docTop_};
}

TFloatPoint TdtpShape::ParentToLocal(TFloatPoint p) const {
  const float x = p.X - docLeft_, y = p.Y - docTop_;
  return {x * cos_ - y * sin_, x * sin_ + y * cos_};
}

TFloatPoint TdtpShape::LocalToDoc(TFloatPoint p) const {
  for (const TdtpShape* s = this; s; s = s->parent_) p = s->LocalToParent(p);
  return p;
}

TFloatPoint TdtpShape::DocToLocal(TFloatPoint p) const {
  if (parent_) p = parent_->DocToLocal(p);
  return ParentToLocal(p);
}

TFloatPoint TdtpShape::DocToLocalVector(TFloatPoint v) const {
  if (parent_) v = parent_->DocToLocalVector(v);
  return {v.X * cos_ - v.Y * sin_, v.X * sin_ + v.Y * cos_};
}

TFloatPoint TdtpShape::LocalToScreen(TFloatPoint p) const {
  p = LocalToDoc(p);
  return document_ ? document_->DocToScreen(p) : p;
}

TFloatPoint TdtpShape::ScreenToLocal(TFloatPoint p) const {
  if (document_) p = document_->ScreenToDoc(p);
  return DocToLocal(p);
}

TFloatRect TdtpShape::GetDocBounds(bool withMargins) const {
  const float l = withMargins ? -marginLeft_ : 0;
  const float t = withMargins ? -marginTop_ : 0;
  const float r = docWidth_ + (withMargins ? marginRight_ : 0);
  const float b = docHeight_ + (withMargins ? marginBottom_ : 0);
  const TFloatPoint corners[4] = {LocalToParent({l, t}), LocalToParent({r, t}),
                                  LocalToParent({r, b}), LocalToParent({l, b})};
  TFloatRect out{corners[0].X, corners[0].Y, corners[0].X, corners[0].Y};
  for (const TFloatPoint& c : corners) {
    out.Left = std::min(out.Left, c.X);
    out.Top = std::min(out.Top, c.Y);
    out.Right = std::max(out.Right, c.X);
    out.Bottom = std::max(out.Bottom, c.Y);
  }
  return out;
}

TFloatRect TdtpShape::GetDocRect() const {
  return {docLeft_, docTop_, docLeft_ + docWidth_, docTop_ + docHeight_};
}

TDoublePoint TdtpShape::LocalToBitmap(double x, double y) const {
  const TAffineMatrix& m = paintTransform_;
  return {m.A * x + m.C * y + m.E, m.B * x + m.D * y + m.F};
}

TPoint TdtpShape::LocalToBitmapPoint(double x, double y) const {
  const TDoublePoint p = LocalToBitmap(x, y);
  return {RoundBitmapPixel(p.X), RoundBitmapPixel(p.Y)};
}

std::int32_t TdtpShape::GetPixelLeft() const { return RoundBitmapPixel(paintTransform_.E); }

std::int32_t TdtpShape::GetPixelRight() const {
  return RoundBitmapPixel(paintTransform_.A * docWidth_ + paintTransform_.E);
}

std::int32_t TdtpShape::GetPixelTop() const { return RoundBitmapPixel(paintTransform_.F); }

std::int32_t TdtpShape::GetPixelBottom() const {
  return RoundBitmapPixel(paintTransform_.D * docHeight_ + paintTransform_.F);
}

TRect TdtpShape::GetPixelRect() const {
  const TPoint p0 = LocalToBitmapPoint(0, 0);
  const TPoint p1 = LocalToBitmapPoint(docWidth_, docHeight_);
  return {p0.X, p0.Y, p1.X, p1.Y};
}

TFloatRect TdtpShape::GetChildrenRect() const {
  if (children_.empty()) return {};
  TFloatRect out = children_.front()->GetDocBounds();
  for (const auto& child : children_) {
    const TFloatRect b = child->GetDocBounds();
    out.Left = std::min(out.Left, b.Left);
    out.Top = std::min(out.Top, b.Top);
    out.Right = std::max(out.Right, b.Right);
    out.Bottom = std::max(out.Bottom, b.Bottom);
  }
  return out;
}

TFloatPoint TdtpShape::SnapPoint(TFloatPoint p) const {
  if (!parent_) return p;
  return ParentToLocal(parent_->SnapPoint(LocalToParent(p)));
}

// ---- Constraints, aspect and curbs ---------------------------------------------------

bool TdtpShape::ConstrainSize(float& width, float& height) const {
  if (!allowResize_) {
    width = docWidth_;
    height = docHeight_;
    return false;
  }
  const TFloatSizeConstraint& c = constraints_;
  if (c.MinWidth > 0) width = std::max(c.MinWidth, width);
  if (c.MaxWidth > 0) width = std::min(c.MaxWidth, width);
  if (c.MinHeight > 0) height = std::max(c.MinHeight, height);
  if (c.MaxHeight > 0) height = std::min(c.MaxHeight, height);
  width = std::max(kMinShapeSide, width);
  height = std::max(kMinShapeSide, height);
  // A ratio from a zero side would give a side of 0 or infinity: ignored.
  const float ratio = aspectRatio_;
  if (preserveAspect_ && IsUsableRatio(ratio)) {
    if (width / height > ratio)
      width = height * ratio;
    else
      height = width / ratio;
    if (width < c.MinWidth) {
      width = c.MinWidth;
      height = c.MinWidth / ratio;
    }
    if (height < c.MinHeight) {
      height = c.MinHeight;
      width = c.MinHeight * ratio;
    }
    // The aspect step may shrink a side past the floor; the other follows.
    if (width < kMinShapeSide) {
      width = kMinShapeSide;
      height = kMinShapeSide / ratio;
    }
    if (height < kMinShapeSide) {
      height = kMinShapeSide;
      width = kMinShapeSide * ratio;
    }
  }
  return true;
}

bool TdtpShape::ConstrainMove(float& left, float& top, float width, float height) const {
  if (!allowMove_ && width == docWidth_ && height == docHeight_) {
    left = docLeft_;
    top = docTop_;
  }
  return allowMove_;
}

void TdtpShape::SetPreserveAspect(bool value) {
  if (value == preserveAspect_) return;
  if (value) LockAspect();
  preserveAspect_ = value;
}

void TdtpShape::LockAspect() {
  preserveAspect_ = true;
  const float ratio = docWidth_ / docHeight_;
  aspectRatio_ = IsUsableRatio(ratio) ? ratio : 0;
}

void TdtpShape::SetCurbs(float left, float top, float right, float bottom) {
  if (left == curbLeft_ && top == curbTop_ && right == curbRight_ && bottom == curbBottom_) return;
  curbLeft_ = left;
  curbTop_ = top;
  curbRight_ = right;
  curbBottom_ = bottom;
  UpdateMargins();
  cacheScale_ = 0;
}

void TdtpShape::UpdateMargins() {
  marginLeft_ = curbLeft_;
  marginTop_ = curbTop_;
  marginRight_ = curbRight_;
  marginBottom_ = curbBottom_;
  AdjustMargins(marginLeft_, marginTop_, marginRight_, marginBottom_);
  if (grouped_ && !children_.empty()) {
    float l = 0, t = 0, r = 0, b = 0;
    for (const auto& child : children_) child->AdjustMargins(l, t, r, b);
    const float most = std::max({l, t, r, b});
    marginLeft_ = std::max(marginLeft_, most);
    marginTop_ = std::max(marginTop_, most);
    marginRight_ = std::max(marginRight_, most);
    marginBottom_ = std::max(marginBottom_, most);
  }
}

void TdtpShape::AdjustMargins(float& left, float& top, float& right, float& bottom) const {
  if (mirrored_) left = right = std::max(left, right);
  if (flipped_) top = bottom = std::max(top, bottom);
}

// ---- Plain properties ---------------------------------------------------------------

void TdtpShape::SetAnchors(std::uint16_t value) {
  if (value == anchors_) return;
  anchors_ = value;
  Changed();
}

void TdtpShape::SetAllowSelect(bool value) {
  if (value == allowSelect_) return;
  InvalidateView();
  allowSelect_ = value;
  InvalidateView();
}

void TdtpShape::SetGrouped(bool value) {
  if (value == grouped_) return;
  grouped_ = value;
  Update();
}

void TdtpShape::SetMasterAlpha(std::int32_t value) {
  if (value == masterAlpha_) return;
  RecordUndoFloat(ckPropertyChanged, "MasterAlpha", masterAlpha_);
  masterAlpha_ = value;
  Invalidate();
  Changed();
}

void TdtpShape::SetName(const std::string& value) {
  if (value == name_) return;
  name_ = value;
  Changed();
}

void TdtpShape::SetTag(std::int32_t value) {
  if (value == tag_) return;
  tag_ = value;
  Changed();
}

void TdtpShape::SetVisible(bool value) {
  if (value == visible_) return;
  if (!value) SetSelected(false);
  visible_ = value;
  Invalidate();
  Changed();
}

void TdtpShape::SetSelected(bool value) {
  if ((value && !allowSelect_) || value == selected_) return;
  selected_ = value;
  if (document_) document_->DoSelectionChanged(this);
  InvalidateView();
}

std::string TdtpShape::GetHint() const { return hint_.empty() ? GetDisplayName() : hint_; }

bool TdtpShape::GetShowHint() const {
  if (parentShowHint_ && document_) return document_->ShowHint();
  return showHint_;
}

// ---- Identity and document -------------------------------------------------------------

void TdtpShape::SetDocument(TdtpDocumentServices* document) {
  if (document != document_) {
    document_ = document;
    if (document_) id_ = document_->NextShapeId();
    // The new document may want handles of another kind.
    handlePainter_.reset();
    activeHandle_ = -1;
    Invalidate();
  }
  for (const auto& child : children_) child->SetDocument(document);
}

void TdtpShape::SetParent(TdtpShape* parent) {
  if (parent == parent_) return;
  parent_ = parent;
  Invalidate();
}

TqxStorage* TdtpShape::GetStorage() const { return document_ ? document_->Storage() : nullptr; }

int TdtpShape::GetIndexInParent() const { return parent_ ? parent_->IndexOfShape(this) : -1; }

bool TdtpShape::IsUndoEnabled() const { return document_ && document_->UndoEnabled(); }

bool TdtpShape::IsEditing() const { return document_ && document_->EditedShape() == this; }

void TdtpShape::BeginUndo() {
  if (document_) document_->BeginUndo();
}

void TdtpShape::EndUndo() {
  if (document_) document_->EndUndo();
}

void TdtpShape::LockUndo() {
  if (document_) document_->LockUndo();
}

void TdtpShape::UnlockUndo() {
  if (document_) document_->UnlockUndo();
}

// ---- Change notification -------------------------------------------------------------

void TdtpShape::EndUpdate() {
  --updateCount_;
  if (updateCount_ == 0 && changePending_) Changed();
  if (updateCount_ < 0) throw Exception("EndUpdate called more often than BeginUpdate");
}

void TdtpShape::Changed() {
  if (document_ && document_->IsLoading()) return;
  SetModified(true);
  if (updateCount_ > 0) {
    changePending_ = true;
    return;
  }
  if (OnChange) OnChange(*this);
  if (document_) document_->DoShapeChanged(this);
  changePending_ = false;
}

void TdtpShape::SetModified(bool value) {
  if (value != modified_) {
    modified_ = value;
    // Only False goes down: True would be cleared again in the child that
    // reported it.
    if (!value)
      for (const auto& child : children_) child->SetModified(false);
  }
  if (value) {
    if (parent_) parent_->SetModified(true);
    if (document_) document_->SetModified(true);
  }
}

void TdtpShape::Invalidate() {
  if (document_) document_->InvalidateShape(this);
  if (parent_) parent_->InvalidateCacheChain();
}

void TdtpShape::InvalidateCacheChain() {
  for (TdtpShape* s = this; s; s = s->parent_) s->cacheScale_ = 0;
}

void TdtpShape::InvalidateView() {
  if (document_) document_->InvalidateShape(this);
}

void TdtpShape::Update() {
  InvalidateCacheChain();
  UpdateMargins();
  Invalidate();
}

void TdtpShape::UpdateAll() {
  InvalidateCacheChain();
  for (const auto& child : children_) child->UpdateAll();
  UpdateMargins();
  Invalidate();
}

// ---- Children ----------------------------------------------------------------------

TdtpShape* TdtpShape::GetShape(int index) const {
  if (index < 0 || index >= GetShapeCount()) return nullptr;
  return children_[static_cast<std::size_t>(index)].get();
}

bool TdtpShape::InSubtreeOf(const TdtpShape* shape) const {
  for (const TdtpShape* s = this; s; s = s->parent_)
    if (s == shape) return true;
  return false;
}

int TdtpShape::AddShape(std::unique_ptr<TdtpShape>&& shape) {
  if (!shape || shape->parent_ || InSubtreeOf(shape.get())) return -1;
  const int index = GetShapeCount();
  RecordUndoInt(ckChildInserted, "", index);
  TdtpShape* child = shape.get();
  children_.push_back(std::move(shape));
  child->SetDocument(document_);
  child->SetParent(this);
  Invalidate();
  Changed();
  return index;
}

void TdtpShape::InsertShape(int index, std::unique_ptr<TdtpShape>&& shape) {
  if (index < 0 || index > GetShapeCount())
    throw Exception("List index out of bounds (" + std::to_string(index) + ")");
  if (!shape || shape->parent_ || InSubtreeOf(shape.get()))
    throw Exception("Shape cannot be inserted here");
  RecordUndoInt(ckChildInserted, "", index);
  TdtpShape* child = shape.get();
  children_.insert(children_.begin() + index, std::move(shape));
  child->SetParent(this);
  child->SetDocument(document_);
  Invalidate();
  Changed();
}

void TdtpShape::DeleteTempMembers(const TdtpShape& child) {
  TqxStorage* storage = GetStorage();
  if (!storage) return;
  std::vector<std::string> names;
  child.GetResourceNames(names);
  for (const std::string& name : names)
    if (TqxStorage::IsTempStreamName(name)) storage->DeleteStream(name);
}

std::unique_ptr<TdtpShape> TdtpShape::Detach(int index, bool keepMembers) {
  TdtpShape* child = children_[static_cast<std::size_t>(index)].get();
  RecordUndoShape(ckChildDeleted, child);
  Invalidate();
  // A freed child's temporary members go with it; an extracted one lives on
  // and keeps them.
  if (!keepMembers) DeleteTempMembers(*child);
  child->SetSelected(false);
  if (!keepMembers && document_) document_->DoShapeDestroy(child);
  child->SetParent(nullptr);
  child->SetDocument(nullptr);
  std::unique_ptr<TdtpShape> out = std::move(children_[static_cast<std::size_t>(index)]);
  children_.erase(children_.begin() + index);
  return out;
}

void TdtpShape::DeleteShape(int index) {
  if (index < 0 || index >= GetShapeCount()) return;
  Detach(index, false).reset();
  Changed();
}

void TdtpShape::DeleteAllShapes() {
  while (!children_.empty()) DeleteShape(0);
}

void TdtpShape::ExchangeShapes(int index1, int index2) {
  if (index1 == index2 || !GetShape(index1) || !GetShape(index2)) return;
  std::swap(children_[static_cast<std::size_t>(index1)], children_[static_cast<std::size_t>(index2)]);
  children_[static_cast<std::size_t>(index1)]->Invalidate();
  children_[static_cast<std::size_t>(index2)]->Invalidate();
  Changed();
}

std::unique_ptr<TdtpShape> TdtpShape::ExtractShape(TdtpShape* shape) {
  const int index = IndexOfShape(shape);
  if (index < 0) return nullptr;
  std::unique_ptr<TdtpShape> out = Detach(index, true);
  Changed();
  return out;
}

int TdtpShape::IndexOfShape(const TdtpShape* shape) const {
  if (!shape) return -1;
  for (std::size_t i = 0; i < children_.size(); ++i)
    if (children_[i].get() == shape) return static_cast<int>(i);
  return -1;
}

int TdtpShape::RemoveShape(TdtpShape* shape) {
  const int index = IndexOfShape(shape);
  if (index >= 0) DeleteShape(index);
  return index;
}

void TdtpShape::ClearShapes() {
  BeginUpdate();
  try {
    for (int i = GetShapeCount() - 1; i >= 0; --i) {
      if (children_[static_cast<std::size_t>(i)]->fixed_) break;
      DeleteShape(i);
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TdtpShape::FitToShapes() {
  if (children_.empty()) return;
  const TFloatRect r = GetChildrenRect();
  // The frame's new corner is local (r.Left, r.Top) seen from the parent;
  // the children shift the other way, so nothing moves on the page.
  const TFloatPoint corner = LocalToParent({r.Left, r.Top});
  for (const auto& child : children_)
    child->SetDocBounds(child->docLeft_ - r.Left, child->docTop_ - r.Top, child->docWidth_,
                        child->docHeight_);
  SetGrouped(false);
  try {
    SetBounds(corner.X, corner.Y, r.Right - r.Left, r.Bottom - r.Top);
  } catch (...) {
    SetGrouped(true);
    throw;
  }
  SetGrouped(true);
  for (const auto& child : children_)
    if (child->preserveAspect_) {
      LockAspect();
      break;
    }
  for (const auto& child : children_) {
    child->SetSelected(false);
    child->SetAllowSelect(false);
  }
}

// ---- Editing hooks ---------------------------------------------------------------------

void TdtpShape::BeginEdit() {
  // The base has no editor: editing ends at once.
  DoEditDone();
  if (document_) document_->EndEdit(false);
}

void TdtpShape::EndEdit(bool) {}

void TdtpShape::DoEditDone() {
  if (OnEditDone) OnEditDone(*this);
}

void TdtpShape::ReportError(const std::string& text) {
  if (document_) document_->DoLoadError(this, text);
}

}  // namespace kdl
