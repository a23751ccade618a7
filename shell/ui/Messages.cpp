#include "shell/ui/Messages.h"

#include "shell/Strings.h"
#include "shell/ui/Captions.h"

#include <QMessageBox>
#include <QPushButton>

namespace zel {

void ShowInformation(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Information, GetString(43017), text, QMessageBox::NoButton, parent);
    PrepareDialog(&box);
    box.setObjectName(QStringLiteral("MessageInformation"));
    QPushButton* ok = box.addButton(GetString(43002), QMessageBox::AcceptRole);
    ok->setAccessibleName(PlainCaption(GetString(43002)));
    box.setAccessibleName(PlainCaption(GetString(43017)));
    box.exec();
}

bool AskYesNo(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, GetString(43018), text, QMessageBox::NoButton, parent);
    PrepareDialog(&box);
    box.setObjectName(QStringLiteral("MessageQuestion"));
    QPushButton* yes = box.addButton(GetString(43005), QMessageBox::YesRole);
    QPushButton* no = box.addButton(GetString(43006), QMessageBox::NoRole);
    yes->setAccessibleName(PlainCaption(GetString(43005)));
    no->setAccessibleName(PlainCaption(GetString(43006)));
    box.setDefaultButton(no);
    box.setAccessibleName(PlainCaption(GetString(43018)));
    box.exec();
    return box.clickedButton() == yes;
}

} // namespace zel
