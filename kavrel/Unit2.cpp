#include "Unit2.h"

#include "Application.h"

#include <QDesktopServices>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

TFap* Fap = nullptr;

const char* const TFap::ContactLink = "mailto:kavrel@corvinel.fr";

std::function<bool(const std::string&)> TFap::OpenLink = [](const std::string& link) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(link)));
};

namespace {

// The program's icon: a photo, a small landscape in a frame.
QPixmap KavrelIcon()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(QColor(250, 250, 250));
    p.drawRect(QRectF(2.5, 5.5, 27, 21));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(120, 180, 240));
    p.drawRect(QRectF(5, 8, 22, 16));
    p.setBrush(QColor(40, 140, 60));
    QPolygonF hills;
    hills << QPointF(5, 24) << QPointF(13, 14) << QPointF(18, 19) << QPointF(22, 16) << QPointF(27, 21)
          << QPointF(27, 24);
    p.drawPolygon(hills);
    p.setBrush(QColor(255, 210, 0));
    p.drawEllipse(QPointF(22, 11.5), 2.5, 2.5);
    return pm;
}

} // namespace

TFap::TFap(QWidget* parent) : QDialog(parent)
{
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(163, 111);
    // A title 35 pixels high from the top of its accents to the bottom of
    // its descenders, made smaller where the font would not fit the box.
    QFont title = Label1->font();
    int pixels = 30;
    title.setPixelSize(pixels);
    while (pixels > 12 && QFontMetrics(title).horizontalAdvance(Label1->text()) > Label1->width()) {
        title.setPixelSize(--pixels);
    }
    Label1->setFont(title);
    Image1->setPixmap(KavrelIcon());
    Label2->installEventFilter(this);
    connect(SpeedButton1, &QToolButton::clicked, this, Guarded([this] { SpeedButton1Click(); }));
}

void TFap::SpeedButton1Click()
{
    close();
}

void TFap::Label2Click()
{
    if (OpenLink)
        OpenLink(ContactLink);
}

bool TFap::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Label2 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Label2Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
