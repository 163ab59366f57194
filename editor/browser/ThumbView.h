#pragma once
// TThumbView: the browser's tile area. One widget paints every tile of a
// TThumbnailList in its grid, on silver, scrolled vertically: only the rows
// in sight are painted, so thousands of tiles cost no more than a screenful.
// Over a tile's picture the pointer is a hand, the tool tip is the tile's
// hint and a double click asks to open the tile's file.

#include "Thumbnails.h"

#include <QAbstractScrollArea>

#include <functional>

class TThumbView : public QAbstractScrollArea {
public:
    explicit TThumbView(QWidget* parent = nullptr);

    void SetTiles(const TThumbnailList* tiles);
    const TThumbnailList* Tiles() const { return FTiles; }

    // The number of tiles or the columns changed: new scroll range, all
    // painted again.
    void TilesChanged();
    // One tile was drawn.
    void TileChanged(int index);

    // The width the tiles are laid out in.
    int ClientWidth() const;
    // Where a tile and its picture are, in viewport coordinates.
    QRect TileRect(int index) const;
    QRect PictureRect(int index) const;
    // The tile at a viewport point, or -1; the tile whose picture is there
    // (the caption below it excluded), or -1.
    int TileAt(const QPoint& point) const;
    int PictureAt(const QPoint& point) const;
    // Scrolls so that a tile is in sight.
    void EnsureVisible(int index);

    // The area was painted.
    std::function<void()> OnPaint;
    // The client width changed.
    std::function<void()> OnResize;
    // Double click on the picture of a tile.
    std::function<void(int index)> OnDblClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void UpdateScrollRange();
    void PaintTile(class QPainter& painter, int index, const QRect& tile);

    const TThumbnailList* FTiles = nullptr;
    int FLastWidth = -1;
};
