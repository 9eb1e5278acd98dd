// The eight user settings, kept with QSettings in the group "Settings" of
// the store named by the company and product names. The machine-wide store
// (/etc/xdg) may give the language an installer chose, and only that.
#pragma once

#include <QRect>

#include <cstdint>
#include <memory>
#include <string>

class QSettings;
class QWidget;

namespace kdl {

struct TSettings {
  std::int32_t Left = 50;
  std::int32_t Top = 50;
  std::int32_t Width = 920;  // client size
  std::int32_t Height = 635;
  std::string Language = "English";
  bool RunWizardOnStartup = true;
  std::int32_t PreviousTemplateType = 0;  // 0..6
  std::int32_t PDFQualityType = 1;        // 0..2
};

// The user's store and the machine-wide one, with QSettings' own fallbacks
// off (they would let every value through from the machine-wide store).
std::unique_ptr<QSettings> OpenUserSettings();
std::unique_ptr<QSettings> OpenSystemSettings();

// A missing, malformed or out-of-range value takes its default.
TSettings LoadSettings(QSettings& user, QSettings& system);

// Writes and flushes the user's store; false, with the old file left as it
// was, when that fails.
bool SaveSettings(QSettings& user, const TSettings& settings);

// Frame position and client size; a window on no screen starts at 50, 50.
void RestoreWindowGeometry(QWidget& window, const TSettings& settings);
// The frame position and client size of the window's normal state, also
// while it is maximised.
void StoreWindowGeometry(const QWidget& window, TSettings& settings);

}  // namespace kdl
