// The current printer's settings and dialogs: the QPrinter behind the
// process-wide print surface, the installed printers, its paper and the
// geometry of its sheet. Tests put a PDF-format QPrinter setting and their
// own printer list in place of the system's.
#pragma once

#include <optional>
#include <string>
#include <vector>

class QPrinter;
class QWidget;

namespace kdl {

// The sheet in device pixels at Resolution dots per inch: the physical
// page and the printable area inside it.
struct TPrinterMetrics {
  int Resolution = 0;
  int PaperWidth = 0, PaperHeight = 0;
  int OffsetX = 0, OffsetY = 0;  // printable area's top-left on the sheet
  int PrintableWidth = 0, PrintableHeight = 0;
};

// The QPrinter that print jobs go to.
QPrinter& CurrentPrinter();

// Names of the installed printers; empty when none is installed.
std::vector<std::string> PrinterNames();
// Replaces the installed printers' list, keeping the current name it
// chose; nullopt restores the system's.
void SetPrinterNames(std::optional<std::vector<std::string>> names);
// The current printer's name; empty for a file printer.
std::string CurrentPrinterName();
// Reads the installed printers again. A current printer that is none of
// them (none was installed when the program started, or it has gone) gives
// way to the default printer, else to the first installed; a file the
// user chose to print into stays. Under a replaced list the default is its
// first name and the current name is the list's own, so that tests never
// reach a real queue.
void RefreshCurrentPrinter();

// Raises Exception when the printer reports no usable sheet.
TPrinterMetrics CurrentPrinterMetrics();
std::string CurrentPaperName();
bool PrinterLandscape();
void SetPrinterLandscape(bool landscape);

// The system dialogs on the current printer; true when confirmed.
bool RunPrintDialog(QWidget* parent);
bool RunPrinterSetupDialog(QWidget* parent);

}  // namespace kdl
