// Text layout at the sizes a label meets and past them: a 20,000-character
// paragraph wrapped at 100 mm, a 2,000-line memo, and one typed character
// in a 2,000-character wrapping memo (layout and repaint at screen scale).
// The paragraph also at 64 K and 1 M characters: wrapping is linear, so the
// time per character (items/s) stays within 1.5x from one to the other.
// The peer is Qt's own line breaker (QTextLayout) wrapping the same text in
// the same font at the same width. Targets: the keystroke within a 60 Hz
// frame (16.7 ms), the 20,000-character layout under 50 ms.
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QTextLayout>

#include <string>

#include "document/Startup.h"
#include "document/shapes/Rendering.h"
#include "document/text/MemoShape.h"
#include "raster/Bitmap32.h"

namespace {

constexpr float kFontHeight = 10 * 25.4f / 72 * 0.7f;  // a 10 pt font's character height

std::u16string Paragraph(std::size_t chars) {
  const std::u16string words =
      u"The quick brown fox jumps over the lazy dog; pack my box with five dozen "
      u"liquor jugs. Sphinx of black quartz, judge my vow! 0123456789 (Label) ";
  std::u16string all;
  while (all.size() < chars) all += words;
  all.resize(chars);
  return all;
}

std::u16string ManyLines(int lines) {
  std::u16string all;
  for (int i = 0; i < lines; ++i) all += u"Track " + std::u16string(1, u'0' + i % 10) + u" - a song title\r\n";
  return all;
}

void SetUpMemo(kdl::TdtpMemoShape& memo, float width, bool wrap) {
  memo.SetAutoSize(false);
  memo.SetFontName("Liberation Serif");
  memo.SetFontHeight(kFontHeight);
  memo.SetDocBounds(0, 0, width, 200);
  memo.SetWordWrap(wrap);
}

void BM_WrapParagraph(benchmark::State& state) {
  kdl::TdtpMemoShape memo;
  SetUpMemo(memo, 100, true);
  memo.SetText(Paragraph(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) {
    memo.Relayout();
    benchmark::DoNotOptimize(memo.GetSpanCount());
  }
  state.counters["spans"] = memo.GetSpanCount();
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_WrapParagraph)->Arg(2000)->Arg(20000)->Arg(1 << 16)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// Qt's own line breaking of the same paragraph in the same measuring font.
void BM_WrapParagraphQTextLayout(benchmark::State& state) {
  const std::u16string text = Paragraph(static_cast<std::size_t>(state.range(0)));
  const QString q = QString::fromStdU16String(text);
  const QFont font = kdl::CreateFont("Liberation Serif",
                                     -kdl::FontPixels(kFontHeight * kdl::kMeasureDpm), 0);
  const double width = 100 * kdl::kMeasureDpm;
  int lines = 0;
  for (auto _ : state) {
    QTextLayout layout(q, font);
    layout.beginLayout();
    lines = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(width);
      ++lines;
    }
    layout.endLayout();
    benchmark::DoNotOptimize(lines);
  }
  state.counters["spans"] = lines;
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_WrapParagraphQTextLayout)
    ->Arg(2000)
    ->Arg(20000)
    ->Arg(1 << 16)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond);

void BM_ManyLines(benchmark::State& state) {
  kdl::TdtpMemoShape memo;
  SetUpMemo(memo, 100, false);
  memo.SetText(ManyLines(2000));
  for (auto _ : state) {
    memo.Relayout();
    benchmark::DoNotOptimize(memo.GetSpanCount());
  }
  state.counters["spans"] = memo.GetSpanCount();
}
BENCHMARK(BM_ManyLines)->Unit(benchmark::kMillisecond);

// One character typed at the end and taken back, each a relayout and a
// repaint of the memo's cache at 150 dpi.
void BM_Keystroke(benchmark::State& state) {
  kdl::TdtpMemoShape memo;
  SetUpMemo(memo, 100, true);
  const std::u16string base = Paragraph(2000);
  memo.SetText(base);
  const float scale = 150 / 25.4f;
  kdl::TBitmap32 cache;
  cache.SetSize(static_cast<std::int32_t>(memo.DocWidth() * scale) + 2,
                static_cast<std::int32_t>(memo.DocHeight() * scale) + 2);
  kdl::TAffineMatrix m;
  m.A = m.D = scale;
  memo.SetPaintTransform(m);
  kdl::TdtpPaintInfo info;
  info.Scale = scale;
  bool typed = false;
  for (auto _ : state) {
    typed = !typed;
    memo.SetText(typed ? base + u"x" : base);
    memo.Paint32(cache, info);
  }
}
BENCHMARK(BM_Keystroke)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }
