#include "app/Settings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

#include <charconv>
#include <limits>
#include <optional>

#include "kdl/Version.h"

namespace kdl {
namespace {

constexpr const char* kGroup = "Settings";

std::optional<std::int32_t> ReadInteger(const QSettings& store, const char* name) {
  const QVariant v = store.value(name);
  if (v.typeId() != QMetaType::QString && v.typeId() != QMetaType::Int) return std::nullopt;
  const std::string text = v.toString().trimmed().toStdString();
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

void ReadInteger(const QSettings& store, const char* name, std::int32_t& value,
                 std::int32_t low, std::int32_t high) {
  const auto read = ReadInteger(store, name);
  if (read && *read >= low && *read <= high) value = *read;
}

void ReadString(const QSettings& store, const char* name, std::string& value) {
  const QVariant v = store.value(name);
  if (v.typeId() == QMetaType::QString) value = v.toString().toStdString();
}

std::unique_ptr<QSettings> OpenSettings(QSettings::Scope scope) {
  // The native format of Linux is INI text in a ".conf" file.
  auto store = std::make_unique<QSettings>(QSettings::NativeFormat, scope, version::CompanyName,
                                           version::ProductName);
  store->setFallbacksEnabled(false);
  return store;
}

}  // namespace

std::unique_ptr<QSettings> OpenUserSettings() { return OpenSettings(QSettings::UserScope); }
std::unique_ptr<QSettings> OpenSystemSettings() { return OpenSettings(QSettings::SystemScope); }

TSettings LoadSettings(QSettings& user, QSettings& system) {
  TSettings s;
  constexpr std::int32_t kAny = std::numeric_limits<std::int32_t>::max();
  if (user.childGroups().contains(kGroup)) {
    user.beginGroup(kGroup);
    ReadInteger(user, "Left", s.Left, -kAny, kAny);
    ReadInteger(user, "Top", s.Top, -kAny, kAny);
    ReadInteger(user, "Width", s.Width, -kAny, kAny);
    ReadInteger(user, "Height", s.Height, -kAny, kAny);
    ReadString(user, "Language", s.Language);
    std::int32_t wizard = s.RunWizardOnStartup ? 1 : 0;
    ReadInteger(user, "RunWizardOnStartup", wizard, -kAny - 1, kAny);
    s.RunWizardOnStartup = wizard != 0;
    // Both index tables of fixed length: a stored index beyond them would
    // select nothing, or read past the presets.
    ReadInteger(user, "PreviousTemplateType", s.PreviousTemplateType, 0, 6);
    ReadInteger(user, "PDFQualityType", s.PDFQualityType, 0, 2);
    user.endGroup();
  } else {
    system.beginGroup(kGroup);
    ReadString(system, "Language", s.Language);
    system.endGroup();
  }
  return s;
}

bool SaveSettings(QSettings& user, const TSettings& s) {
  user.beginGroup(kGroup);
  user.setValue("Left", s.Left);
  user.setValue("Top", s.Top);
  user.setValue("Width", s.Width);
  user.setValue("Height", s.Height);
  user.setValue("Language", QString::fromStdString(s.Language));
  user.setValue("RunWizardOnStartup", s.RunWizardOnStartup ? 1 : 0);
  user.setValue("PreviousTemplateType", s.PreviousTemplateType);
  user.setValue("PDFQualityType", s.PDFQualityType);
  user.endGroup();
  // QSettings writes a temporary file and renames it, so a failure here
  // leaves the old file whole.
  user.sync();
  return user.status() == QSettings::NoError;
}

void RestoreWindowGeometry(QWidget& window, const TSettings& s) {
  QPoint topLeft(s.Left, s.Top);
  const QRect frame(topLeft, QSize(s.Width, s.Height));
  bool onScreen = false;
  for (const QScreen* screen : QGuiApplication::screens())
    onScreen = onScreen || screen->availableGeometry().intersects(frame);
  if (!onScreen) topLeft = {TSettings().Left, TSettings().Top};
  window.move(topLeft);
  window.resize(s.Width, s.Height);
}

void StoreWindowGeometry(const QWidget& window, TSettings& s) {
  QRect client = window.geometry();
  if (window.isMaximized() || window.isFullScreen()) client = window.normalGeometry();
  // move() takes the frame's corner: subtract the frame's left and top edges.
  const QPoint frameOffset = window.geometry().topLeft() - window.frameGeometry().topLeft();
  s.Left = client.x() - frameOffset.x();
  s.Top = client.y() - frameOffset.y();
  s.Width = client.width();
  s.Height = client.height();
}

}  // namespace kdl
