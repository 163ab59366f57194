#include "UpDown.h"

#include "Application.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

TUpDown::TUpDown(QWidget* parent) : QWidget(parent), FUp(new QToolButton(this)), FDown(new QToolButton(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton* button : {FUp, FDown}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(16, 11);
        button->setIconSize(QSize(7, 5));
        layout->addWidget(button);
    }
    FUp->setObjectName(QStringLiteral("Up"));
    FDown->setObjectName(QStringLiteral("Down"));
    FUp->setArrowType(Qt::UpArrow);
    FDown->setArrowType(Qt::DownArrow);
    connect(FUp, &QToolButton::clicked, this, Guarded([this] { Step(1); }));
    connect(FDown, &QToolButton::clicked, this, Guarded([this] { Step(-1); }));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TUpDown::SetBuddy(QWidget* buddy)
{
    if (FBuddy)
        FBuddy->removeEventFilter(this);
    FBuddy = buddy;
    if (!FBuddy)
        return;
    FBuddy->installEventFilter(this);
    // An editable combo box takes its keys in its line edit.
    if (auto* combo = qobject_cast<QComboBox*>(FBuddy); combo && combo->lineEdit())
        combo->lineEdit()->installEventFilter(this);
}

void TUpDown::Step(int delta)
{
    if (OnStep)
        OnStep(delta);
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
                // Guarded: an error goes to the error box, the key is taken.
                Guarded([this, up = key->key() == Qt::Key_Up] { Step(up ? 1 : -1); })();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
