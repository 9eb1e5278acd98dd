// The base of every object on a page and of the page itself: a frame in the
// parent's millimetres, anchors, constraints, permissions, a document-wide
// ID and owned children in z-order (first = bottom).
//
// Setters compare first, record the old value for undo, store, invalidate
// and signal the change; reading from XML stores values directly.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/shapes/Rendering.h"
#include "document/shapes/ScreenRegion.h"
#include "raster/AffineTransform.h"
#include "raster/Types.h"

class QPainter;

namespace kdl {

class TBitmap32;
class TCanvas;
struct TdtpPaintInfo;
enum TDeviceType : std::uint8_t;
class TdtpCommand;
class TdtpDocumentServices;
class TdtpHandlePainter;
struct TdtpMouseInfo;
class TqxStorage;
class TXmlNode;

// Bits of TdtpShape::Anchors: how a child follows when its grouped parent
// is resized.
enum TdtpAnchor : std::uint16_t {
  akDefault = 1 << 0,
  akPosXProp = 1 << 1,
  akPosYProp = 1 << 2,
  akSizeXProp = 1 << 3,
  akSizeYProp = 1 << 4,
  akLeftLock = 1 << 5,
  akTopLock = 1 << 6,
  akRightLock = 1 << 7,
  akBottomLock = 1 << 8,
};
inline constexpr std::uint16_t kDefaultAnchors = akDefault | akLeftLock | akTopLock;  // $61

// Smallest side ConstrainSize lets through, in mm.
inline constexpr float kMinShapeSide = 0.1f;
// The platform's cross cursor, every shape's default.
inline constexpr std::int16_t kShapeDefaultCursor = -3;

// What lies under a screen point: the body or a handle. Kinds answer their
// own handles from hcCustom on.
enum TdtpHitCode : std::uint8_t {
  hcNone = 0,
  hcBody = 1,
  hcTopLeft = 2,
  hcLeft = 3,
  hcBottomLeft = 4,
  hcBottom = 5,
  hcBottomRight = 6,
  hcRight = 7,
  hcTopRight = 8,
  hcTop = 9,
  hcRotate = 10,
  hcPoint = 11,
  hcCustom = 12,
};

// A point in target pixels before rounding.
struct TDoublePoint {
  double X = 0;
  double Y = 0;
};

// Size limits in mm; 0 means no limit.
struct TFloatSizeConstraint {
  float MinHeight = 0;
  float MinWidth = 0;
  float MaxHeight = 0;
  float MaxWidth = 0;
};

class TdtpShape {
 public:
  using TNotifyEvent = std::function<void(TdtpShape& sender)>;

  TdtpShape();
  virtual ~TdtpShape();
  TdtpShape(const TdtpShape&) = delete;
  TdtpShape& operator=(const TdtpShape&) = delete;
  // A new shape of kind T, read from node.
  template <class T = TdtpShape>
  static std::unique_ptr<T> CreateFromXml(TXmlNode* node) {
    auto shape = std::make_unique<T>();
    shape->LoadFromXml(node);
    return shape;
  }

  // -1, 0 or 1; 0 for NaN too.
  static int SignOf(std::int64_t value) { return (value > 0) - (value < 0); }
  static int FloatSignOf(float value) { return (value > 0) - (value < 0); }

  // The name stored in XML and looked up in the shape class registry; every
  // registered kind overrides it.
  virtual std::string ClassName() const { return "TdtpShape"; }

  // ---- Frame ------------------------------------------------------------------
  float DocLeft() const { return docLeft_; }
  float DocTop() const { return docTop_; }
  float DocWidth() const { return docWidth_; }
  float DocHeight() const { return docHeight_; }
  float DocAngle() const { return docAngle_; }
  virtual void SetDocLeft(float value);
  virtual void SetDocTop(float value);
  virtual void SetDocWidth(float value);
  virtual void SetDocHeight(float value);
  virtual void SetDocAngle(float value);
  virtual void SetDocPosition(float left, float top);
  virtual void SetDocSize(float width, float height);
  virtual void SetDocBounds(float left, float top, float width, float height);
  // Every frame change ends here: lays out grouped children by their
  // anchors, records undo as one group and fires OnBoundsChange.
  virtual void SetDocBoundsAngle(float left, float top, float width, float height, float angle);
  void SetDocRight(float x) { SetDocWidth(x - docLeft_); }
  void SetDocBottom(float y) { SetDocHeight(y - docTop_); }
  // Constrained frame changes, as the editor makes them.
  virtual void SetBounds(float left, float top, float width, float height);
  virtual void SetBoundsRect(const TFloatRect& rect);
  virtual void ApplyConstraints();
  void RotateAboutCenter(float angle);
  void CenterAt(float x, float y);
  void Inflate(float dx, float dy);
  void SetBoundsLeft(float x);
  void SetBoundsTop(float y);

  // ---- Coordinates ------------------------------------------------------------
  TFloatPoint LocalToParent(TFloatPoint p) const;
  TFloatPoint ParentToLocal(TFloatPoint p) const;
  TFloatPoint LocalToDoc(TFloatPoint p) const;
  TFloatPoint DocToLocal(TFloatPoint p) const;
  // A vector (no translation) from document to local space.
  TFloatPoint DocToLocalVector(TFloatPoint v) const;
  TFloatPoint LocalToScreen(TFloatPoint p) const;
  TFloatPoint ScreenToLocal(TFloatPoint p) const;
  // The box of the frame's mapped corners in the parent's space, or of the
  // frame grown by the render margins.
  TFloatRect GetDocBounds(bool withMargins = false) const;
  float GetBoundsLeft() const { return GetDocBounds().Left; }
  float GetBoundsTop() const { return GetDocBounds().Top; }
  float GetBoundsRight() const { return GetDocBounds().Right; }
  float GetBoundsBottom() const { return GetDocBounds().Bottom; }
  TFloatRect GetDocRect() const;
  float GetTotalWidth() const { return marginLeft_ + docWidth_ + marginRight_; }
  // Union of the children's bounds; empty at (0, 0) without children.
  virtual TFloatRect GetChildrenRect() const;
  // Snapped through the parent chain; the page snaps to its grid.
  virtual TFloatPoint SnapPoint(TFloatPoint p) const;

  // ---- Constraints, aspect and curbs ------------------------------------------
  TFloatSizeConstraint& Constraints() { return constraints_; }
  const TFloatSizeConstraint& Constraints() const { return constraints_; }
  // Result: AllowResize. Never gives a side below kMinShapeSide.
  virtual bool ConstrainSize(float& width, float& height) const;
  // Result: AllowMove. A pure move of an unmovable shape is cancelled.
  virtual bool ConstrainMove(float& left, float& top, float width, float height) const;
  float AspectRatio() const { return aspectRatio_; }
  void SetAspectRatio(float value) { aspectRatio_ = value; }
  bool PreserveAspect() const { return preserveAspect_; }
  void SetPreserveAspect(bool value);
  virtual void LockAspect();
  float CurbLeft() const { return curbLeft_; }
  float CurbTop() const { return curbTop_; }
  float CurbRight() const { return curbRight_; }
  float CurbBottom() const { return curbBottom_; }
  virtual void SetCurbs(float left, float top, float right, float bottom);
  virtual void SetCurb(float value) { SetCurbs(value, value, value, value); }
  // Render margins: the curbs, grown by AdjustMargins and grouped children.
  float MarginLeft() const { return marginLeft_; }
  float MarginTop() const { return marginTop_; }
  float MarginRight() const { return marginRight_; }
  float MarginBottom() const { return marginBottom_; }
  void UpdateMargins();
  // A mirrored or flipped shape needs the larger margin on both sides.
  virtual void AdjustMargins(float& left, float& top, float& right, float& bottom) const;

  // ---- Anchors, permissions and plain properties ------------------------------
  std::uint16_t Anchors() const { return anchors_; }
  void SetAnchors(std::uint16_t value);
  bool AllowEdit() const { return allowEdit_; }
  bool AllowDelete() const { return allowDelete_; }
  bool AllowResize() const { return allowResize_; }
  bool AllowMove() const { return allowMove_; }
  bool AllowRotate() const { return allowRotate_; }
  bool AllowSelect() const { return allowSelect_; }
  void SetAllowEdit(bool value) { allowEdit_ = value; }
  void SetAllowDelete(bool value) { allowDelete_ = value; }
  void SetAllowResize(bool value) { allowResize_ = value; }
  void SetAllowMove(bool value) { allowMove_ = value; }
  void SetAllowRotate(bool value) { allowRotate_ = value; }
  void SetAllowSelect(bool value);
  bool Fixed() const { return fixed_; }
  void SetFixed(bool value) { fixed_ = value; }
  bool Flipped() const { return flipped_; }
  void SetFlipped(bool value) { flipped_ = value; }
  bool Mirrored() const { return mirrored_; }
  void SetMirrored(bool value) { mirrored_ = value; }
  bool Grouped() const { return grouped_; }
  void SetGrouped(bool value);
  bool ForceCache() const { return forceCache_; }
  void SetForceCache(bool value) { forceCache_ = value; }
  std::int32_t MasterAlpha() const { return masterAlpha_; }
  virtual void SetMasterAlpha(std::int32_t value);
  const std::string& Name() const { return name_; }
  virtual void SetName(const std::string& value);
  std::int32_t Tag() const { return tag_; }
  void SetTag(std::int32_t value);
  bool Visible() const { return visible_; }
  void SetVisible(bool value);
  bool Selected() const { return selected_; }
  void SetSelected(bool value);
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& value) { hint_ = value; }
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool value) { showHint_ = value; }
  bool ParentShowHint() const { return parentShowHint_; }
  void SetParentShowHint(bool value) { parentShowHint_ = value; }
  std::int16_t Cursor() const { return cursor_; }
  void SetCursor(std::int16_t value) { cursor_ = value; }
  // Hint, else the display name.
  std::string GetHint() const;
  bool GetShowHint() const;
  virtual std::string GetDisplayName() const { return name_; }
  // Offset of a pasted copy, in mm.
  virtual TFloatPoint GetPasteOffset() const { return {10, 10}; }
  // Where a kind keeps its data: 3 embedded in the XML.
  virtual int GetStorageKind() const { return 3; }
  virtual void SetStorageKind(int) {}

  // ---- Identity and document ----------------------------------------------------
  std::int32_t ID() const { return id_; }
  // Undo gives a re-created shape back the ID its records name.
  void SetID(std::int32_t value) { id_ = value; }
  TdtpDocumentServices* Document() const { return document_; }
  // Joins (or leaves, with nil) a document; the subtree takes fresh IDs.
  virtual void SetDocument(TdtpDocumentServices* document);
  TdtpShape* Parent() const { return parent_; }
  virtual void SetParent(TdtpShape* parent);
  // The document's archive; nil without document or archive.
  TqxStorage* GetStorage() const;
  int GetIndexInParent() const;
  bool IsUndoEnabled() const;
  bool IsEditing() const;
  void BeginUndo();
  void EndUndo();
  void LockUndo();
  void UnlockUndo();

  // ---- Change notification ---------------------------------------------------------
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  virtual void Changed();
  bool Modified() const { return modified_; }
  // False goes down to the children, True up to the parent and document.
  virtual void SetModified(bool value);
  // Repaint the shape and let every cached ancestor render again.
  void Invalidate();
  void InvalidateCacheChain();
  virtual void InvalidateView();
  void Update();
  virtual void UpdateAll();
  // Render cache resolution in pixels per mm; 0 = the cache is stale.
  float CacheScale() const { return cacheScale_; }
  void SetCacheScale(float value) { cacheScale_ = value; }

  TNotifyEvent OnChange;
  TNotifyEvent OnEditDone;
  TNotifyEvent OnBoundsChange;

  // ---- Rendering (ShapeRender.cpp) ------------------------------------------------------
  // Draws the shape and its subtree into target, which shows viewRect (mm of
  // the parent's space, or of the shape's own with localOnly) stretched over
  // its whole size.
  void Paint(TBitmap32& target, const TFloatRect& viewRect, bool localOnly,
             const TdtpPaintInfo& info);
  // The shape's own content and its visible children; view in local mm.
  void RenderContent(TBitmap32& target, const TFloatRect& localView, const TdtpPaintInfo& info);
  void PaintCached(TBitmap32& target, const TFloatRect& viewRect, bool localOnly,
                   const TdtpPaintInfo& info);
  // Renders the cache at info.RenderScale (lowered to fit the cache cap);
  // false, with no cache, when the frame or scale gives nothing to draw.
  bool PrepareCache(const TdtpPaintInfo& info);
  // Local mm to target pixels, set before each Paint32.
  const TAffineMatrix& PaintTransform() const { return paintTransform_; }
  virtual void SetPaintTransform(const TAffineMatrix& value) { paintTransform_ = value; }
  // A local point under the paint transform, and rounded to a pixel (halves
  // to even, held within a billion pixels either way, NaN at the low end).
  TDoublePoint LocalToBitmap(double x, double y) const;
  TPoint LocalToBitmapPoint(double x, double y) const;
  // The frame's sides in pixels: x of 0 and DocWidth, y of 0 and DocHeight,
  // each through the transform's own axis alone.
  std::int32_t GetPixelLeft() const;
  std::int32_t GetPixelRight() const;
  std::int32_t GetPixelTop() const;
  std::int32_t GetPixelBottom() const;
  // The pixels of the frame's corners (0, 0) and (DocWidth, DocHeight).
  TRect GetPixelRect() const;
  virtual void Paint32(TBitmap32& /*bitmap*/, const TdtpPaintInfo& /*info*/) {}
  // Whether Paint32 fills in info.Ink: the shape's cache is then made of
  // zeroed storage and written only where the content draws.
  virtual bool ReportsInk() const { return false; }
  virtual bool NeedsCanvas() const { return false; }
  virtual void PaintCanvas(TCanvas& /*canvas*/, const TdtpPaintInfo& /*info*/) {}
  virtual void PaintAfterShapes(TBitmap32& /*bitmap*/, const TdtpPaintInfo& /*info*/) {}
  // Screen-only decorations; rect is the local view.
  virtual void PaintOverlay(TBitmap32& /*bitmap*/, const TFloatRect& /*rect*/) {}
  // Changes a finished cache: mirror, then flip.
  virtual void PostProcess(TBitmap32& bitmap, const TdtpPaintInfo& info);
  virtual bool NeedsPostProcess() const;
  virtual bool NeedsCache() const;
  bool IsCacheValid() const;
  virtual void ClearCache();
  // This shape's cache and every descendant's.
  virtual void ClearCaches();
  // The cache bitmap; nil when there is none.
  TBitmap32* Cache() const { return cache_.get(); }
  // width x height pixels plus border on each side; nil for an empty size
  // or frame. The caller owns the bitmap. freeCaches lets each shape's
  // cache go once it is drawn: the same pixels, and a large one-off picture
  // does not hold every shape's cache at its resolution beside it.
  std::unique_ptr<TBitmap32> RenderThumbnail(std::int32_t width, std::int32_t height,
                                             TDeviceType device, std::int32_t border,
                                             bool freeCaches = false);
  // RenderThumbnail's picture without border, made bandRows rows at a time
  // top to bottom, each band handed to onBand with its first row: the whole
  // picture never exists. Every pixel is RenderThumbnail's. False, with no
  // band drawn, where RenderThumbnail gives nil.
  bool RenderThumbnailRows(std::int32_t width, std::int32_t height, TDeviceType device,
                           std::int32_t bandRows, bool freeCaches,
                           const std::function<void(const TBitmap32& band, std::int32_t top)>& onBand);

  // ---- Children -------------------------------------------------------------------
  virtual int GetShapeCount() const { return static_cast<int>(children_.size()); }
  // Nil out of range.
  virtual TdtpShape* GetShape(int index) const;
  // Takes ownership and returns the index; -1 (ownership stays with the
  // caller) for nil, for a shape that has a parent, and for this shape or
  // one of its ancestors.
  int AddShape(std::unique_ptr<TdtpShape>&& shape);
  // As AddShape at an index in 0..count; another index raises.
  void InsertShape(int index, std::unique_ptr<TdtpShape>&& shape);
  // Frees the child and the temporary archive members it used.
  void DeleteShape(int index);
  void DeleteAllShapes();
  // Records nothing for undo.
  void ExchangeShapes(int index1, int index2);
  // Hands the child back alive, members and all; nil when it is not a child.
  std::unique_ptr<TdtpShape> ExtractShape(TdtpShape* shape);
  int IndexOfShape(const TdtpShape* shape) const;
  int RemoveShape(TdtpShape* shape);
  // Deletes children from the top down to the first fixed one.
  virtual void ClearShapes();
  // Puts the frame around the children without moving any of them.
  virtual void FitToShapes();
  // Puts a fixed "Place image here" placeholder beneath the other children
  // and fits the frame to the children.
  void AddPlaceHolder();
  // Shows or hides the first child when it is a placeholder.
  void SetPlaceHolderVisible(bool value);

  // ---- Editing hooks ----------------------------------------------------------------
  virtual void BeginEdit();
  virtual void EndEdit(bool accept);
  virtual void DoEditDone();
  virtual void AfterPaste() {}
  virtual void Loaded() {}
  virtual void Animate() {}
  virtual void ReportError(const std::string& text);
  // In-place editing input, routed here by the document while this shape
  // is edited: virtual-key numbers, typed characters, screen pixels.
  virtual void KeyDown(std::int32_t& /*key*/, const TdtpMouseInfo& /*keys*/) {}
  virtual void KeyPress(char32_t& /*character*/) {}
  virtual void KeyUp(std::int32_t& /*key*/, const TdtpMouseInfo& /*keys*/) {}
  virtual void MouseDown(const TdtpMouseInfo& /*mouse*/) {}
  virtual void MouseMove(const TdtpMouseInfo& /*mouse*/) {}
  virtual void MouseUp(const TdtpMouseInfo& /*mouse*/) {}
  virtual void DblClick(const TdtpMouseInfo& /*mouse*/) {}

  // ---- Persistence --------------------------------------------------------------------
  // Copies through the shape string; events come along.
  virtual void Assign(const TdtpShape& source);
  virtual void AssignChildren(const TdtpShape& source);
  // Appends the archive member names this shape and its subtree use.
  virtual void GetResourceNames(std::vector<std::string>& names) const;
  virtual void SaveToXml(TXmlNode* node);
  virtual void LoadFromXml(TXmlNode* node);
  // Members used, with their bytes, and the XML; see ShapeString.cpp.
  std::string SaveToString();
  void LoadFromString(std::string_view data);

  // ---- Hit testing, handles and drags (ShapeHitTest.cpp) ----------------------------
  // The screen pixels of the frame grown by the render margins, and of the
  // bare frame; none when a corner lies beyond any screen.
  virtual std::optional<TScreenRegion> CreateRegion() const;
  virtual std::optional<TScreenRegion> CreateScreenRegion() const;
  // The pixels the grown frame may touch, and those plus the handles.
  virtual TRect GetScreenBounds() const;
  virtual TRect GetUpdateRect();
  bool RectInShape(const TRect& screenRect) const;
  // The hit code of the handle or handle line under a screen pixel of a
  // selected shape; remembers the handle as the active one.
  virtual std::uint8_t HandleAtPoint(TPoint screen);
  // Whether a screen pixel hits the body: the frame, eased by the
  // document's probe offsets, or the cache's opaque pixels.
  virtual bool HitTest(TPoint screen);
  virtual bool HitTestPixel(TPoint screen) const;
  // The deepest shape under the pixel (self or a descendant); nil with
  // False when nothing is hit.
  virtual bool ShapeAtPoint(TPoint screen, TdtpShape*& shape);
  // What a drag by delta (document mm) on the hit code would make of the
  // frame, kept as the pending drag and shown by the handles' drag
  // positions; matrix maps rest positions to drag positions. The frame
  // itself stays until ApplyDrag.
  virtual void HandleDrag(TFloatPoint delta, bool alt, std::uint8_t code, TAffineMatrix& matrix);
  // Commits the pending drag, once.
  virtual void ApplyDrag();
  // Kinds turn their own handles (hcCustom on) into a move, scale and turn.
  virtual void DragCustomHandle(float& /*dx*/, float& /*dy*/, float& /*sx*/, float& /*sy*/,
                                float& /*dAngle*/, TFloatPoint /*localDelta*/,
                                std::uint8_t /*code*/) {}
  struct TPendingDrag {
    float Left = 0;
    float Top = 0;
    float Width = 0;
    float Height = 0;
    float Angle = 0;
  };
  const TPendingDrag& PendingDrag() const { return pending_; }
  // Index of the handle HandleAtPoint found last; -1 none.
  int ActiveHandle() const { return activeHandle_; }
  void SetActiveHandle(int index) { activeHandle_ = index; }
  const TAffineMatrix& DragTransform() const { return dragTransform_; }
  void SetDragTransform(const TAffineMatrix& matrix) { dragTransform_ = matrix; }
  // Overlays on the finished view image; nothing without a document.
  virtual void DrawHandles(QPainter& canvas);
  virtual void DrawDragOutline(QPainter& canvas);
  // A dotted XOR outline of the half-open rectangle.
  virtual void DrawFocusRect(QPainter& canvas, const TRect& rect, TColor color);
  // The painter, made on first need by the document (or a plain one).
  TdtpHandlePainter* HandlePainter() const { return handlePainter_.get(); }
  void EnsureHandles();
  // Rebuilds the handles for the present frame.
  virtual void UpdateHandles();
  // The cache pixel of a local point; (-1, -1) without a valid cache.
  TPoint LocalToCache(TFloatPoint local) const;

  // ---- Undo records -----------------------------------------------------------------
  virtual void RecordUndo(std::uint8_t kind, const std::string& propName,
                          const std::string& oldValue);
  virtual void RecordUndoFontStyle(std::uint8_t kind, const std::string& propName,
                                   std::uint8_t styles);
  virtual void RecordUndoFloat(std::uint8_t kind, const std::string& propName, double value);
  virtual void RecordUndoInt(std::uint8_t kind, const std::string& propName, std::int64_t value);
  virtual void RecordUndoBool(std::uint8_t kind, const std::string& propName, bool value);
  virtual void RecordUndoShape(std::uint8_t kind, TdtpShape* child);
  // Replays a kind-0 record; kinds override it for their own names.
  virtual void SetPropertyText(const std::string& propName, const std::string& value);
  // True when this shape or a descendant owns the record and replayed it.
  virtual bool ExecuteCommand(const TdtpCommand& command);

 protected:
  // Moves the frame without notification, undo or change event.
  void StorePosition(float left, float top) {
    docLeft_ = left;
    docTop_ = top;
  }
  // Records are made for undo now (a document, not loading, undo on or
  // being replayed).
  bool RecordsUndo() const;
  // The kind's children survive ClearShapes when Fixed; readers reuse them.
  const std::vector<std::unique_ptr<TdtpShape>>& Children() const { return children_; }

  // While one is alive, nothing records undo: the shapes being read are not
  // the user's changes.
  class TLoadScope {
   public:
    explicit TLoadScope(TdtpShape& shape);
    ~TLoadScope();
    TLoadScope(const TLoadScope&) = delete;
    TLoadScope& operator=(const TLoadScope&) = delete;

   private:
    TdtpShape& shape_;
  };

 private:
  static int loadDepth_;

  // Keeps the angle in [0, 360), then caches its cosine and sine.
  void StoreAngle(float angle);
  void CacheAngle();
  bool InSubtreeOf(const TdtpShape* shape) const;
  void ReadBaseXml(TXmlNode& node);
  void WriteBaseXml(TXmlNode& node);
  void DeleteTempMembers(const TdtpShape& child);
  std::unique_ptr<TdtpShape> Detach(int index, bool keepMembers);

  bool allowEdit_ = true;
  bool allowDelete_ = true;
  bool allowResize_ = true;
  bool allowMove_ = true;
  bool allowRotate_ = true;
  bool allowSelect_ = true;
  std::uint16_t anchors_ = kDefaultAnchors;
  float aspectRatio_ = 0;
  bool fixed_ = false;
  float cacheScale_ = 0;
  float marginLeft_ = 0;
  float marginTop_ = 0;
  float marginRight_ = 0;
  float marginBottom_ = 0;
  TFloatSizeConstraint constraints_;
  float docAngle_ = 0;
  float cos_ = 1;
  float sin_ = 0;
  float docHeight_ = 0;
  TdtpDocumentServices* document_ = nullptr;
  float docWidth_ = 0;
  bool flipped_ = false;
  bool grouped_ = false;
  std::string hint_;
  std::int16_t cursor_ = kShapeDefaultCursor;
  std::int32_t masterAlpha_ = 255;
  bool mirrored_ = false;
  bool modified_ = false;
  bool forceCache_ = false;
  bool changePending_ = false;
  TdtpShape* parent_ = nullptr;
  bool parentShowHint_ = false;
  bool preserveAspect_ = false;
  bool selected_ = false;
  std::int32_t id_ = 0;
  std::vector<std::unique_ptr<TdtpShape>> children_;
  bool showHint_ = false;
  float curbLeft_ = 0;
  float curbTop_ = 0;
  float curbRight_ = 0;
  float curbBottom_ = 0;
  std::int32_t tag_ = 0;
  int updateCount_ = 0;
  bool visible_ = true;
  float docLeft_ = 0;
  float docTop_ = 0;
  std::string name_;
  // Render cache: the bitmap, the scale asked for when it was built (a
  // capped cache has a lower CacheScale), its pixel origin and the paint
  // transform.
  std::unique_ptr<TBitmap32> cache_;
  float cacheAskedScale_ = 0;
  double cacheOriginX_ = 0;
  double cacheOriginY_ = 0;
  // What the cache's content told of its pixels.
  TdtpInkReport cacheInk_{};
  // Writes Rest wherever the cache's content left the zeroed storage.
  void SettleCache();
  TAffineMatrix paintTransform_;
  // Handles and the running drag.
  std::unique_ptr<TdtpHandlePainter> handlePainter_;
  int activeHandle_ = -1;
  TPendingDrag pending_;
  bool dragPending_ = false;
  TAffineMatrix dragTransform_;
};

}  // namespace kdl
