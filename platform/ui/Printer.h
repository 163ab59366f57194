#pragma once
// TPrinter: the programs' printer over Qt print support, on A4 paper. A job
// runs BeginDoc, NewPage between pages, then EndDoc, or Abort when it is
// broken off; the canvas draws on the current page in device pixels, from
// the top-left corner of the printable area (PageWidth x PageHeight). The
// orientation is set before each job.
//
// The output goes to the printer chosen in the print dialog (any printer of
// the desktop), or into a PDF file when OutputFileName is set. The print
// dialog sits behind IPrintDialog so that tests choose a PDF file instead of
// a person choosing a printer.

#include "Exceptions.h"
#include "PrinterCanvas.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

class QPrinter;
class QPainter;
class QWidget;

DECLARE_EXCEPTION(EPrinter, Exception);

enum class TPrinterOrientation { poPortrait, poLandscape };
using enum TPrinterOrientation;

class TPrinter {
public:
    TPrinter();
    ~TPrinter();
    TPrinter(const TPrinter&) = delete;
    TPrinter& operator=(const TPrinter&) = delete;

    // The orientation of the next job; raises EPrinter during a job.
    TPrinterOrientation Orientation() const;
    void SetOrientation(TPrinterOrientation orientation);

    // Where the pages go: "" prints on the chosen printer, a path writes a
    // PDF file there. Raises EPrinter during a job.
    std::string OutputFileName() const;
    void SetOutputFileName(const std::string& path);
    // The name the job carries in the printer's queue.
    std::string Title = "Corvinel";

    // The printable area in device pixels.
    int PageWidth() const;
    int PageHeight() const;
    // Device pixels per inch, across and down.
    int XResolution() const;
    int YResolution() const;
    // From the paper's top-left corner to the printable area's, in device
    // pixels; and the whole paper's size.
    int PhysicalOffsetX() const;
    int PhysicalOffsetY() const;
    int PhysicalWidth() const;
    int PhysicalHeight() const;

    // Starts a job on its first page; raises EPrinter when the printer or
    // the file can not be opened, or when a job runs already.
    void BeginDoc();
    // Ends the page and starts the next one.
    void NewPage();
    // Ends the job: the pages go to the printer or the file.
    void EndDoc();
    // Breaks the job off: nothing more goes out. Nothing when no job runs.
    void Abort();

    bool Printing() const { return FPainter != nullptr; }
    // The last job was broken off.
    bool Aborted() const { return FAborted; }
    // The page in progress, from 1 (0 outside a job).
    int PageNumber() const { return FPageNumber; }

    // The canvas of the current page; raises EPrinter outside a job.
    TCanvas& Canvas();

    // The Qt printer, for the print dialog.
    QPrinter& QtPrinter() { return *FPrinter; }

private:
    void RequireNotPrinting() const;
    void RequirePrinting() const;

    std::unique_ptr<QPrinter> FPrinter;
    std::unique_ptr<QPainter> FPainter;
    std::unique_ptr<TPaintCanvas> FCanvas;
    TPrinterOrientation FOrientation = poPortrait;
    bool FAborted = false;
    int FPageNumber = 0;
};

// The printer of the running program, made on first use.
TPrinter& Printer();

// The print dialog: the user chooses the printer (or a file) and its
// settings; Execute answers false when the dialog was cancelled.
class IPrintDialog {
public:
    virtual ~IPrintDialog() = default;
    virtual bool Execute(TPrinter& printer) = 0;
};

// Qt's print dialog, modal over the given window (the active one when null).
class TQtPrintDialog : public IPrintDialog {
public:
    explicit TQtPrintDialog(QWidget* parent = nullptr) : FParent(parent) {}
    bool Execute(TPrinter& printer) override;

private:
    QWidget* FParent;
};

// For tests: each Execute takes the next answer set in advance: a path
// sends the job into that PDF file and answers true; an empty answer, or
// none left, answers as a cancel. Nothing is shown.
class TScriptedPrintDialog : public IPrintDialog {
public:
    bool Execute(TPrinter& printer) override;

    std::deque<std::string> Answers;
    int Calls = 0;
};
