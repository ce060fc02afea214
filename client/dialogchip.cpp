#include "dialogchip.h"

#include "serveraddressfile.h"

#include <QRegularExpression>

namespace {

const QString ipMask = QStringLiteral("000.000.000.000");

// The host editor's mask keeps only digits in four dot-separated groups. A host the mask cannot show
// (a name, a short form like "10.1") would come back mangled and be written over the file on Ok, so
// such a host is shown as it is, without the mask.
bool fitsIpMask(const QString& host)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{0,3}(\\.\\d{0,3}){3}$"));
    return host.isEmpty() || pattern.match(host).hasMatch();
}

// Locks or unlocks one row: the editor follows the flag, the button says what a press will do next.
void toggle(bool& unlocked, QLineEdit* editor, QPushButton* button)
{
    unlocked = !unlocked;
    editor->setEnabled(unlocked);
    button->setText(unlocked ? QStringLiteral("锁") : QStringLiteral("解"));
}

} // namespace

DialogChIP::DialogChIP(QWidget* parent)
    : QDialog(parent)
{
    setupUi(this);
    setWindowTitle(QStringLiteral("Change IP And Port"));
    setAttribute(Qt::WA_ShowModal);

    const ServerAddressFile::Texts texts = ServerAddressFile::loadForDialog();
    editIP->setText(texts.host);
    editPort->setText(texts.port);
    if (fitsIpMask(texts.host))
        editIP->setInputMask(ipMask);

    connect(buttonBox, &QDialogButtonBox::accepted, this, &DialogChIP::loadInfo);
    editIP->setEnabled(ipUnlocked);
    editPort->setEnabled(portUnlocked);
    connect(button1, &QPushButton::pressed, this, &DialogChIP::slotButton1);
    connect(button2, &QPushButton::pressed, this, &DialogChIP::slotButton2);
    show();
}

void DialogChIP::loadInfo()
{
    ServerAddressFile::save(editIP->text(), editPort->text());
}

void DialogChIP::slotButton1()
{
    toggle(ipUnlocked, editIP, button1);
}

void DialogChIP::slotButton2()
{
    toggle(portUnlocked, editPort, button2);
}
