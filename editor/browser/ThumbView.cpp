#include "ThumbView.h"

#include "BitmapView.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>
#include <limits>

namespace {

const QColor Silver(0xC0, 0xC0, 0xC0);
const QColor White(0xFF, 0xFF, 0xFF);
const QColor Black(0, 0, 0);

QFont CaptionFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(8);
    return font;
}

} // namespace

TThumbView::TThumbView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setTracking(true);
    verticalScrollBar()->setSingleStep(TileStepY / 5);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(true);
    QPalette palette = viewport()->palette();
    palette.setColor(QPalette::Window, Silver);
    palette.setColor(QPalette::Base, Silver);
    viewport()->setPalette(palette);
    setMinimumWidth(140);
}

void TThumbView::SetTiles(const TThumbnailList* tiles)
{
    FTiles = tiles;
    TilesChanged();
}

int TThumbView::ClientWidth() const
{
    return viewport()->width();
}

void TThumbView::UpdateScrollRange()
{
    const std::int64_t height = FTiles ? GridHeight(FTiles->Count(), FTiles->Columns()) : 0;
    const std::int64_t range = std::max<std::int64_t>(0, height - viewport()->height());
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(std::max(1, viewport()->height()));
    bar->setRange(0, static_cast<int>(std::min<std::int64_t>(range, std::numeric_limits<int>::max())));
}

void TThumbView::TilesChanged()
{
    UpdateScrollRange();
    viewport()->update();
}

void TThumbView::TileChanged(int index)
{
    const QRect r = TileRect(index);
    if (r.intersects(viewport()->rect()))
        viewport()->update(r);
}

QRect TThumbView::TileRect(int index) const
{
    if (!FTiles)
        return QRect();
    const TPoint origin = FTiles->Origin(index);
    return QRect(origin.X, origin.Y - verticalScrollBar()->value(), TileWidth, TileHeight);
}

QRect TThumbView::PictureRect(int index) const
{
    if (!FTiles || index < 0 || index >= FTiles->Count())
        return QRect();
    const TThumbnail& tile = (*FTiles)[index];
    const QRect r = TileRect(index);
    // The picture's box, cut by the tile and by the caption over it.
    const QRect box(r.left() + tile.Offset.X, r.top() + tile.Offset.Y, ThumbBox, ThumbBox);
    return box.intersected(QRect(r.left(), r.top(), TileWidth, CaptionTop));
}

int TThumbView::TileAt(const QPoint& point) const
{
    if (!FTiles)
        return -1;
    const int columns = FTiles->Columns();
    const std::int64_t y = static_cast<std::int64_t>(point.y()) + verticalScrollBar()->value() - TileMargin;
    const int x = point.x() - TileMargin;
    if (x < 0 || y < 0)
        return -1;
    const int column = x / TileStepX;
    const std::int64_t row = y / TileStepY;
    if (column >= columns || x % TileStepX >= TileWidth || y % TileStepY >= TileHeight)
        return -1;
    const std::int64_t index = row * columns + column;
    return index < FTiles->Count() ? static_cast<int>(index) : -1;
}

int TThumbView::PictureAt(const QPoint& point) const
{
    const int index = TileAt(point);
    if (index < 0 || (*FTiles)[index].State == TThumbState::Pending)
        return -1;
    return PictureRect(index).contains(point) ? index : -1;
}

void TThumbView::EnsureVisible(int index)
{
    if (!FTiles || index < 0 || index >= FTiles->Count())
        return;
    const int top = FTiles->Origin(index).Y;
    QScrollBar* bar = verticalScrollBar();
    if (top < bar->value())
        bar->setValue(top - TileMargin);
    else if (top + TileHeight > bar->value() + viewport()->height())
        bar->setValue(top + TileHeight + TileMargin - viewport()->height());
}

void TThumbView::PaintTile(QPainter& painter, int index, const QRect& r)
{
    const TThumbnail& tile = (*FTiles)[index];
    // A tile appears once its file was read.
    if (tile.State == TThumbState::Pending)
        return;
    painter.fillRect(r, White);
    if (tile.State == TThumbState::Drawn && tile.Picture) {
        const QImage image = WrapBitmap(*tile.Picture);
        painter.drawImage(QPoint(r.left() + tile.Offset.X, r.top() + tile.Offset.Y), image);
    } else if (tile.State == TThumbState::Failed) {
        // The placeholder: a grey box crossed out.
        const QRect box(r.left() + tile.Offset.X, r.top() + tile.Offset.Y, tile.Size.Width, tile.Size.Height);
        painter.fillRect(box, QColor(0xE8, 0xE8, 0xE8));
        painter.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        painter.setPen(QPen(QColor(0xB0, 0x30, 0x30), 2));
        const QRect inner = box.adjusted(30, 30, -30, -30);
        painter.drawLine(inner.topLeft(), inner.bottomRight());
        painter.drawLine(inner.topRight(), inner.bottomLeft());
    }
    // The caption: centred, cut at the tile's edges.
    const QRect caption(r.left(), r.top() + CaptionTop, TileWidth, CaptionHeight);
    painter.save();
    painter.setClipRect(caption);
    painter.setPen(Black);
    painter.drawText(caption, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip,
                     QString::fromStdString(tile.Caption));
    painter.restore();
}

void TThumbView::paintEvent(QPaintEvent* event)
{
    if (OnPaint)
        OnPaint();
    if (!FTiles || FTiles->Count() == 0)
        return;
    QPainter painter(viewport());
    painter.setFont(CaptionFont());
    const QRect exposed = event->rect();
    const int columns = FTiles->Columns();
    const std::int64_t scroll = verticalScrollBar()->value();
    const std::int64_t firstRow = std::max<std::int64_t>(0, (exposed.top() + scroll - TileMargin) / TileStepY);
    const std::int64_t lastRow = (exposed.bottom() + scroll) / TileStepY;
    for (std::int64_t row = firstRow; row <= lastRow; ++row) {
        for (int column = 0; column < columns; ++column) {
            const std::int64_t index = row * columns + column;
            if (index >= FTiles->Count())
                return;
            const QRect r = TileRect(static_cast<int>(index));
            if (r.intersects(exposed))
                PaintTile(painter, static_cast<int>(index), r);
        }
    }
}

void TThumbView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRange();
    if (viewport()->width() != FLastWidth) {
        FLastWidth = viewport()->width();
        if (OnResize)
            OnResize();
    }
}

void TThumbView::mouseMoveEvent(QMouseEvent* event)
{
    viewport()->setCursor(PictureAt(event->position().toPoint()) >= 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
    QAbstractScrollArea::mouseMoveEvent(event);
}

void TThumbView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const int index = event->button() == Qt::LeftButton ? PictureAt(event->position().toPoint()) : -1;
    if (index >= 0 && OnDblClick) {
        event->accept();
        OnDblClick(index);
        return;
    }
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

bool TThumbView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const int index = PictureAt(help->pos());
        if (index >= 0)
            QToolTip::showText(help->globalPos(), QString::fromStdString((*FTiles)[index].Hint), viewport(),
                               PictureRect(index));
        else
            QToolTip::hideText();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}
