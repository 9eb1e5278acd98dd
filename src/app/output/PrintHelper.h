// Printing a label: the printer's paper in millimetres, whether a label
// fits it, and a copy of the current page prepared for the printer (thin
// cut and fold lines, moved by the unprintable margins or centred, the page
// as large as the paper) and printed on the current printer.
#pragma once

#include <memory>
#include <string>

#include "foundation/Stream.h"

class QWidget;

namespace kdl {

class TdtpDocument;

// Raised by the print and export commands with the user's message.
KDL_DECLARE_EXCEPTION(EOutputError, EStreamError);

// Millimetres; the margins are the sheet's unprintable borders.
struct TPrinterPageInfo {
  double PaperWidth = 210, PaperHeight = 297;
  double MarginLeft = 10, MarginTop = 10, MarginRight = 5, MarginBottom = 5;
};

// Fit of a page on the printable area.
enum TPaperFit { pfFits = 0, pfFitsTurned = 1, pfTooSmall = 2 };

// The defaults without a printer; printer information that cannot be read
// (a sheet without size among it) is reported and gives the defaults too.
TPrinterPageInfo GetPrinterPageInfo();
std::string GetPrinterPaperName();
int CheckPaperFit(TdtpDocument& document);
void SetPageToPrinterPaper(TdtpDocument& document);
// Cut and fold lines 0.25 mm; for the printer the label also moves into
// the printable area and the page takes the paper's size.
void PrepareForOutput(TdtpDocument& document, bool forPrinter);
// Turns the printer when the label fits only turned.
void CheckPrinterOrientation(TdtpDocument& document);

// A new document holding a copy of source's current page; output quality
// high when forPrinter.
std::unique_ptr<TdtpDocument> CopyCurrentPage(TdtpDocument& source, bool forPrinter);

// Prints the current page of the project as prepared above; the project is
// untouched. Any failure aborts the job and raises EOutputError.
void PrintLabel(TdtpDocument& project);

// The print command with its checks and dialogs; false when nothing was
// printed (no printer, cancelled). Failures raise EOutputError.
bool PrintCommand(TdtpDocument& project, QWidget* parent);
// The printer set-up command.
bool PrintSetupCommand(QWidget* parent);

}  // namespace kdl
