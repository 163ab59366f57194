#pragma once
// A picture holder: shows a TGraphic (not owned) through its own Draw and
// repaints whenever the graphic reports a change, so that a picture that
// changes by itself (an animated GIF's painter) plays on screen.

#include "Graphic.h"

class TBitmap;

#include <QWidget>

#include <functional>

// Chains a handler to a graphic's change event (after the handler it had)
// and gives the event back when it lets the graphic go.
class TGraphicWatch {
public:
    TGraphicWatch() = default;
    ~TGraphicWatch() { Watch(nullptr, nullptr); }
    TGraphicWatch(const TGraphicWatch&) = delete;
    TGraphicWatch& operator=(const TGraphicWatch&) = delete;
    void Watch(TGraphic* graphic, std::function<void()> changed);
    TGraphic* Graphic() const { return FGraphic; }

private:
    TGraphic* FGraphic = nullptr;
    std::function<void(TGraphic&)> FPrevious;
    std::function<void()> FChanged;
};

class TPictureView : public QWidget {
public:
    explicit TPictureView(QWidget* parent = nullptr);
    ~TPictureView() override;

    TGraphic* Graphic() const { return FWatch.Graphic(); }
    // Shows graphic (null: nothing). The view chains itself to the
    // graphic's change event and gives it back when it lets the graphic go;
    // call SetGraphic(nullptr) before the graphic is destroyed.
    void SetGraphic(TGraphic* graphic);
    // Stretch: the picture fills the view; else it keeps its size at the
    // top left.
    bool Stretch() const { return FStretch; }
    void SetStretch(bool value);
    // Paints the view into a bitmap of its size as paintEvent does.
    void PaintTo(TBitmap& bitmap);
    int Paints() const { return FPaints; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TGraphicWatch FWatch;
    bool FStretch = false;
    int FPaints = 0;
};
