#include "Printer.h"

#include "FileDialogs.h"

#include <QApplication>
#include <QFile>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

namespace {

const char* const PrintingText = "Impression en cours";
const char* const NotPrintingText = "L'imprimante n'est pas en train d'imprimer";

QRect PaintRect(const QPrinter& printer)
{
    return printer.pageLayout().paintRectPixels(printer.resolution());
}

QRect FullRect(const QPrinter& printer)
{
    return printer.pageLayout().fullRectPixels(printer.resolution());
}

} // namespace

TPrinter::TPrinter() : FPrinter(std::make_unique<QPrinter>(QPrinter::HighResolution))
{
    FPrinter->setPageSize(QPageSize(QPageSize::A4));
    FPrinter->setPageOrientation(QPageLayout::Portrait);
    // Without any printer on the desktop the jobs can still go into a file.
    if (QPrinterInfo::availablePrinters().isEmpty())
        FPrinter->setOutputFormat(QPrinter::PdfFormat);
}

TPrinter::~TPrinter()
{
    if (Printing())
        Abort();
}

void TPrinter::RequireNotPrinting() const
{
    if (Printing())
        throw EPrinter(PrintingText);
}

void TPrinter::RequirePrinting() const
{
    if (!Printing())
        throw EPrinter(NotPrintingText);
}

TPrinterOrientation TPrinter::Orientation() const
{
    return FPrinter->pageLayout().orientation() == QPageLayout::Landscape ? poLandscape : poPortrait;
}

void TPrinter::SetOrientation(TPrinterOrientation orientation)
{
    RequireNotPrinting();
    FPrinter->setPageOrientation(orientation == poLandscape ? QPageLayout::Landscape : QPageLayout::Portrait);
}

std::string TPrinter::OutputFileName() const
{
    return FPrinter->outputFileName().toStdString();
}

void TPrinter::SetOutputFileName(const std::string& path)
{
    RequireNotPrinting();
    if (path.empty()) {
        FPrinter->setOutputFileName(QString());
        if (!QPrinterInfo::availablePrinters().isEmpty())
            FPrinter->setOutputFormat(QPrinter::NativeFormat);
    } else {
        FPrinter->setOutputFormat(QPrinter::PdfFormat);
        FPrinter->setOutputFileName(QString::fromStdString(path));
    }
}

int TPrinter::PageWidth() const
{
    return PaintRect(*FPrinter).width();
}

int TPrinter::PageHeight() const
{
    return PaintRect(*FPrinter).height();
}

int TPrinter::XResolution() const
{
    return FPrinter->resolution();
}

int TPrinter::YResolution() const
{
    return FPrinter->resolution();
}

int TPrinter::PhysicalOffsetX() const
{
    return PaintRect(*FPrinter).left() - FullRect(*FPrinter).left();
}

int TPrinter::PhysicalOffsetY() const
{
    return PaintRect(*FPrinter).top() - FullRect(*FPrinter).top();
}

int TPrinter::PhysicalWidth() const
{
    return FullRect(*FPrinter).width();
}

int TPrinter::PhysicalHeight() const
{
    return FullRect(*FPrinter).height();
}

void TPrinter::BeginDoc()
{
    RequireNotPrinting();
    FAborted = false;
    FPrinter->setDocName(QString::fromStdString(Title));
    auto painter = std::make_unique<QPainter>();
    if (!painter->begin(FPrinter.get())) {
        const QString target = FPrinter->outputFileName().isEmpty() ? FPrinter->printerName()
                                                                      : FPrinter->outputFileName();
        throw EPrinter("Impression impossible sur " + target.toStdString());
    }
    FPainter = std::move(painter);
    FCanvas = std::make_unique<TPaintCanvas>(*FPainter, PageWidth(), PageHeight());
    FPageNumber = 1;
}

void TPrinter::NewPage()
{
    RequirePrinting();
    if (!FPrinter->newPage()) {
        Abort();
        throw EPrinter("Impossible de commencer une nouvelle page");
    }
    // A new page starts with the canvas's tools as they were.
    FCanvas->Reset(*FPainter, PageWidth(), PageHeight());
    ++FPageNumber;
}

void TPrinter::EndDoc()
{
    RequirePrinting();
    const bool ok = FPainter->end();
    FCanvas.reset();
    FPainter.reset();
    FPageNumber = 0;
    if (!ok)
        throw EPrinter("L'impression n'a pas pu se terminer");
}

void TPrinter::Abort()
{
    if (!Printing())
        return;
    FPrinter->abort();
    if (FPainter->isActive())
        FPainter->end();
    FCanvas.reset();
    FPainter.reset();
    FPageNumber = 0;
    FAborted = true;
    // A file holds only whole jobs: what an aborted one wrote goes.
    if (!FPrinter->outputFileName().isEmpty())
        QFile::remove(FPrinter->outputFileName());
}

TCanvas& TPrinter::Canvas()
{
    RequirePrinting();
    return *FCanvas;
}

TPrinter& Printer()
{
    // Never destroyed: the Qt printer must not outlive the application
    // object's end at the program's exit.
    static TPrinter* printer = new TPrinter;
    return *printer;
}

bool TQtPrintDialog::Execute(TPrinter& printer)
{
    QPrintDialog dialog(&printer.QtPrinter(), FParent ? FParent : QApplication::activeWindow());
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    return dialog.exec() == QDialog::Accepted;
}

bool TScriptedPrintDialog::Execute(TPrinter& printer)
{
    ++Calls;
    std::string answer;
    if (!TakeScriptedAnswer(Answers, answer))
        return false;
    printer.SetOutputFileName(answer);
    return true;
}
