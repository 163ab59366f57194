#pragma once
// The frame of Corvinel: for now one window that opens a picture and shows
// it, as every document will be shown: drawn into a 24-bit bitmap.

#include "Bitmap.h"

#include <QMainWindow>

#include <memory>
#include <string>

class QLabel;
class QScrollArea;
class TBitmapView;

// The folder the program was started from, ending in "/": the help page, the
// batch program and the filter folder are found below it.
extern std::string StartDir;

// The current directory with "/" appended unless it already ends in one.
std::string CurrentStartDir();

class TMainFrame : public QMainWindow {
public:
    explicit TMainFrame(QWidget* parent = nullptr);
    ~TMainFrame() override;

    // Loads a file through the picture registry into a new white 24-bit
    // bitmap of the picture's size and shows it, reduced to fit the window
    // when it is larger. Errors propagate to the caller.
    void OpenImage(const std::string& fileName);

    const TBitmap* Picture() const { return FBitmap.get(); }
    TBitmapView* View() const { return FView; }

    // The open command: the open dialog, then OpenImage.
    void FileOpen1Execute();

private:
    // The smallest reduction 1/i that fits the picture into the visible area.
    int FitZoom(int width, int height) const;

    std::unique_ptr<TBitmap> FBitmap;
    std::string FFileName;
    QScrollArea* FScroll = nullptr;
    TBitmapView* FView = nullptr;
    QLabel* FSizePanel = nullptr;
};
