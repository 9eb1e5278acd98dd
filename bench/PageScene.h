// What the benchmarks draw on both sides. An 800 x 1130 background image
// (a smooth two-axis gradient with a pattern, so that no band is uniform)
// and the same pixels as a cairo surface for the peer. And the user's
// label: a template holding a 3000 x 3000 JPEG photo, saved as a project,
// with what QPainter needs to draw the same label (the photo's frame and
// crop, the texts in their fonts, the lines).
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QWidget>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

// After <cstdio>: libjpeg's header uses FILE.
#include <jpeglib.h>

#include "BenchMain.h"
#include "app/project/DtpHelper.h"
#include "app/project/Templates.h"
#include "app/shapes/CropBitmapShape.h"
#include "app/shapes/ExLineShape.h"
#include "document/text/MemoShape.h"
#include "document/text/TextBaseShape.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "raster/Bitmap32.h"

#if KDL_HAVE_CAIRO
#include <cairo.h>
#endif

namespace kdl::bench {

inline constexpr std::int32_t kImageW = 800, kImageH = 1130;

inline std::uint32_t ImagePixel(std::int32_t x, std::int32_t y) {
  const auto r = static_cast<std::uint32_t>(x * 255 / kImageW);
  const auto g = static_cast<std::uint32_t>(y * 255 / kImageH);
  const std::uint32_t b = ((x / 40 + y / 40) & 1) ? 0xE0 : 0x60;
  return 0xFF000000u | r << 16 | g << 8 | b;
}

inline void BackgroundImage(TBitmap32& image) {
  image.SetSize(kImageW, kImageH);
  for (std::int32_t y = 0; y < kImageH; ++y)
    for (std::int32_t x = 0; x < kImageW; ++x) image.SetPixel(x, y, ImagePixel(x, y));
}

#if KDL_HAVE_CAIRO
// The background image as a cairo surface over pixels it owns.
class CairoBackground {
 public:
  CairoBackground() : pixels_(static_cast<std::size_t>(kImageW) * kImageH) {
    for (std::int32_t y = 0; y < kImageH; ++y)
      for (std::int32_t x = 0; x < kImageW; ++x)
        pixels_[static_cast<std::size_t>(y) * kImageW + static_cast<std::size_t>(x)] =
            ImagePixel(x, y);
    surface_ = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels_.data()),
                                                   CAIRO_FORMAT_RGB24, kImageW, kImageH, kImageW * 4);
  }
  ~CairoBackground() { cairo_surface_destroy(surface_); }
  CairoBackground(const CairoBackground&) = delete;
  CairoBackground& operator=(const CairoBackground&) = delete;

  // Paints the image stretched over w x h of the current user space.
  void Paint(cairo_t* cr, double w, double h) const {
    cairo_save(cr);
    cairo_scale(cr, w / kImageW, h / kImageH);
    cairo_set_source_surface(cr, surface_, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
    cairo_paint(cr);
    cairo_restore(cr);
  }

 private:
  std::vector<std::uint32_t> pixels_;
  cairo_surface_t* surface_;
};
#endif

// ---- The user's label with a photo --------------------------------------------------------

inline constexpr int kCDFront = 0, kDVD = 3;
inline constexpr int kPhotoSide = 3000;

// A photo-like picture: smooth colour fields with fine grain, so that JPEG
// has real detail to keep; quality 90, as a camera writes. Made once per
// process, a row at a time, so that making it leaves no large block behind
// in the heap that measured runs would reuse.
inline const std::filesystem::path& PhotoFile() {
  static const std::filesystem::path file = [] {
    const std::filesystem::path path = ::bench::Scratch() / "photo.jpg";
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> grain(-12, 12);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) std::abort();
    jpeg_compress_struct info{};
    jpeg_error_mgr err{};
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = kPhotoSide;
    info.image_height = kPhotoSide;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(static_cast<std::size_t>(kPhotoSide) * 3);
    for (int y = 0; y < kPhotoSide; ++y) {
      for (int x = 0; x < kPhotoSide; ++x) {
        unsigned char* p = &row[static_cast<std::size_t>(x) * 3];
        p[0] = static_cast<unsigned char>(std::clamp(x * 255 / kPhotoSide + grain(rng), 0, 255));
        p[1] = static_cast<unsigned char>(std::clamp(y * 255 / kPhotoSide + grain(rng), 0, 255));
        p[2] = static_cast<unsigned char>(std::clamp(((x / 97 + y / 61) & 1 ? 200 : 60) + grain(rng), 0, 255));
      }
      JSAMPROW rows[] = {row.data()};
      jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(out);
    return path;
  }();
  return file;
}

// A new project of the template type with the photo loaded into its
// picture, as the user makes it, saved once per process.
inline std::string PhotoProject(int type) {
  const std::filesystem::path path = ::bench::Scratch() / ("photo-" + std::to_string(type) + ".ovx");
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    TdtpDocument doc;
    doc.SetStoreThumbnails(false);
    CreateTemplate(doc, type);
    ApplyTemplateTexts(doc, type);
    LoadImageIntoShape(doc, kImageIndex, PhotoFile().string());
    SaveProjectFile(doc, path.string());
  }
  return path.string();
}

// Runs the event loop until the widget has finished a paint: the filter
// sees the event just before the widget paints, and the paint ends before
// the loop returns.
inline void UntilPainted(QWidget* widget) {
  class TPaintWatch : public QObject {
   public:
    bool painted = false;

   protected:
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) painted = true;
      return false;
    }
  } watch;
  widget->installEventFilter(&watch);
  while (!watch.painted) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  QCoreApplication::processEvents();
  widget->removeEventFilter(&watch);
}

// The label as QPainter draws it, in page millimetres.
struct TLabelScene {
  struct Text {
    QRectF Frame;
    float Angle;
    QString Family;
    float HeightMM;
    bool Bold;
    int Flags;
    QString Value;
  };
  struct Line {
    QPointF From, To;
    float Width;
  };
  QSizeF Page;
  QImage Photo;  // the same photo, decoded by Qt
  QRectF PhotoFrame;
  float PhotoAngle = 0;
  QRectF Crop;  // photo pixels
  std::vector<Text> Texts;
  std::vector<Line> Lines;
};

// What the document's current page shows, for the yardstick.
inline TLabelScene DescribeLabel(TdtpDocument& doc) {
  TLabelScene scene;
  TdtpPage& page = *doc.GetCurrentPage();
  scene.Page = QSizeF(page.DocWidth(), page.DocHeight());
  scene.Photo = QImage(QString::fromStdString(PhotoFile().string())).convertToFormat(QImage::Format_RGB32);
  for (int i = 0; i < page.GetShapeCount(); ++i) {
    TdtpShape* shape = page.GetShape(i);
    if (!shape->Visible()) continue;
    // The unturned frame about the centre of the turned one's bounds.
    const TFloatRect bounds = shape->GetDocBounds();
    const QPointF centre((bounds.Left + bounds.Right) / 2, (bounds.Top + bounds.Bottom) / 2);
    const QRectF frame(centre.x() - shape->DocWidth() / 2, centre.y() - shape->DocHeight() / 2, shape->DocWidth(),
                       shape->DocHeight());
    if (auto* image = dynamic_cast<TdtpCropBitmapShape*>(shape)) {
      const TRect& c = image->CropRect();
      scene.PhotoFrame = frame;
      scene.PhotoAngle = shape->DocAngle();
      scene.Crop = QRectF(c.Left, c.Top, c.Right - c.Left, c.Bottom - c.Top);
      if (scene.Crop.isEmpty()) scene.Crop = QRectF(scene.Photo.rect());
    } else if (auto* text = dynamic_cast<TdtpTextBaseShape*>(shape)) {
      int flags = text->Alignment() == 1 ? Qt::AlignRight : text->Alignment() == 2 ? Qt::AlignHCenter : Qt::AlignLeft;
      const bool memo = dynamic_cast<TdtpMemoShape*>(shape) != nullptr;
      if (memo) {
        flags |= Qt::TextWordWrap |
                 (text->VertAlign() == 1 ? Qt::AlignVCenter : text->VertAlign() == 2 ? Qt::AlignBottom : Qt::AlignTop);
      } else {
        flags |= Qt::AlignTop;
      }
      QString value = QString::fromStdU16String(text->Text());
      value.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
      scene.Texts.push_back({frame, shape->DocAngle(), QString::fromStdString(text->GetFontName()),
                             text->GetFontHeight(), (text->GetFontStyle() & fsBold) != 0, flags, value});
    } else if (auto* line = dynamic_cast<TDtpExLineShape*>(shape)) {
      // A line's frame is one millimetre across; the line runs along its
      // top or left edge.
      const QPointF from(shape->DocLeft(), shape->DocTop());
      const QPointF to = shape->DocWidth() >= shape->DocHeight() ? from + QPointF(shape->DocWidth(), 0)
                                                                  : from + QPointF(0, shape->DocHeight());
      scene.Lines.push_back({from, to, line->LineWidth()});
    }
  }
  return scene;
}

// Draws the page at dpm pixels per millimetre with its top left corner at
// origin: the paper, the photo's crop stretched over its frame, the texts
// and the lines, smooth and antialiased.
inline void PaintLabel(QPainter& p, const TLabelScene& scene, double dpm, QPointF origin) {
  p.save();
  p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
  const auto toDevice = [&](const QRectF& r) {
    return QRectF(origin.x() + r.left() * dpm, origin.y() + r.top() * dpm, r.width() * dpm, r.height() * dpm);
  };
  const QRectF paper = toDevice(QRectF(QPointF(0, 0), scene.Page));
  p.fillRect(paper, Qt::white);
  p.setClipRect(paper);
  // Turned about the frame's centre.
  const auto turned = [&](const QRectF& device, float angle, auto&& draw) {
    p.save();
    p.translate(device.center());
    p.rotate(-angle);
    draw(QRectF(-device.width() / 2, -device.height() / 2, device.width(), device.height()));
    p.restore();
  };
  turned(toDevice(scene.PhotoFrame), scene.PhotoAngle,
         [&](const QRectF& r) { p.drawImage(r, scene.Photo, scene.Crop); });
  for (const TLabelScene::Text& t : scene.Texts) {
    QFont font(t.Family);
    font.setPixelSize(std::max(1, static_cast<int>(t.HeightMM * dpm + 0.5)));
    font.setBold(t.Bold);
    p.setFont(font);
    p.setPen(Qt::black);
    turned(toDevice(t.Frame), t.Angle, [&](const QRectF& r) { p.drawText(r, t.Flags, t.Value); });
  }
  for (const TLabelScene::Line& l : scene.Lines) {
    p.setPen(QPen(Qt::black, std::max(1.0, l.Width * dpm)));
    p.drawLine(QPointF(origin.x() + l.From.x() * dpm, origin.y() + l.From.y() * dpm),
               QPointF(origin.x() + l.To.x() * dpm, origin.y() + l.To.y() * dpm));
  }
  p.restore();
}

}  // namespace kdl::bench
