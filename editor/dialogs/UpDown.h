#pragma once
// TUpDown: a pair of arrow buttons that step the number in a buddy field.
// The arrows, and the arrow keys pressed in the buddy, report a step of +1
// or -1; what the step does is the owner's (typing in the buddy is told
// apart: it never reports a step).

#include <QWidget>

#include <functional>

class QToolButton;

class TUpDown : public QWidget {
public:
    explicit TUpDown(QWidget* parent = nullptr);

    // The field whose arrow keys step too.
    void SetBuddy(QWidget* buddy);

    // A step: +1 up, -1 down.
    std::function<void(int delta)> OnStep;

    QToolButton* UpButton() const { return FUp; }
    QToolButton* DownButton() const { return FDown; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Step(int delta);

    QToolButton* FUp;
    QToolButton* FDown;
    QWidget* FBuddy = nullptr;
};
