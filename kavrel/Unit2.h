#pragma once
// TFap: kavrel's About box, with the contact link.

#include "ui_Fap.h"

#include <QDialog>

#include <functional>
#include <string>

class TFap : public QDialog, public Ui::Fap {
public:
    explicit TFap(QWidget* parent = nullptr);

    // The credit line's link.
    static const char* const ContactLink; // "mailto:kavrel@corvinel.fr"

    // Opens a link in the desktop's program for it; tests put their own in
    // place. Answers false when nothing could open it.
    static std::function<bool(const std::string& link)> OpenLink;

    void SpeedButton1Click();
    void Label2Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The About box of the running program (null before it is made).
extern TFap* Fap;
