#pragma once

#include "ui_dialogchip.h"

#include <QDialog>

// Shows the server address kept in the address file, with each field locked until its button unlocks
// it, and writes the file when the user presses Ok. The next operation uses the new address.
class DialogChIP : public QDialog, private Ui::IPUI
{
    Q_OBJECT

public:
    explicit DialogChIP(QWidget* parent);

private slots:
    void loadInfo();
    void slotButton1();
    void slotButton2();

private:
    bool ipUnlocked = false;
    bool portUnlocked = false;
};
