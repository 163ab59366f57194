#include "About.h"

#include "Application.h"
#include "Codage.h"
#include "Desktop.h"
#include "EditorFrame.h"
#include "Icons.h"
#include "MessageBoxes.h"

#include <QMouseEvent>

const char* const ContactKey = "quembrail";

const QByteArray& ScrambledContact()
{
    static const unsigned char bytes[38] = {
        0xDE, 0xD6, 0xCE, 0xD9, 0xD6, 0xE1, 0x9B, 0xD5, 0xCD, 0xE6, 0xE9, 0xCA, 0xE2, 0xD4, 0xA0, 0xC5, 0xCE, 0x9A, 0xD4,
        0xE4, 0xD7, 0xE3, 0xCB, 0xE0, 0xC6, 0xD5, 0xAC, 0xD6, 0xED, 0xC6, 0xDA, 0xD2, 0xDE, 0xC6, 0x97, 0xDB, 0xE3, 0xDC,
    };
    static const QByteArray text(reinterpret_cast<const char*>(bytes), sizeof bytes);
    return text;
}

TAboutBox::TAboutBox(IDesktop& desktop, IMessageBoxes& boxes, QWidget* parent)
    : QDialog(parent), FDesktop(desktop), FBoxes(boxes)
{
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(296, 218);
    const QIcon icon = ::ProgramIcon();
    setWindowIcon(icon);
    ProgramIcon->setPixmap(icon.pixmap(32, 32));
    Label3->installEventFilter(this);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
    OKButton->setFocus();
}

void TAboutBox::Label3Click()
{
    QByteArray link;
    UnscrambleText(ContactKey, ScrambledContact(), link);
    OpenLink(FDesktop, FBoxes, link.toStdString());
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Label3 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Label3Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutWindows::Create(QWidget* frame, IDesktop* desktop, IMessageBoxes* boxes)
{
    if (!desktop) {
        FOwnDesktop = std::make_unique<TQtDesktop>();
        desktop = FOwnDesktop.get();
    }
    FBox = new TAboutBox(*desktop, boxes ? *boxes : Application->MessageBoxes(), frame);
}

bool TAboutWindows::Has(TEditorWindow window) const
{
    return (window == TEditorWindow::AboutBox && FBox) || FLater.Has(window);
}

void TAboutWindows::ShowModal(TEditorWindow window)
{
    if (window == TEditorWindow::AboutBox && FBox) {
        FBox->OKButton->setFocus();
        FBox->exec();
    } else {
        FLater.ShowModal(window);
    }
}
