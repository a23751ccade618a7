#include "tree/ui/TFrmMaintenance.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "platform/Database.h"
#include "shell/Strings.h"
#include "shell/ui/TFrmWait.h"
#include "tree/ui/TreeAsk.h"

namespace zel {

TFrmMaintenance::TFrmMaintenance(Database& db, QWidget* parent) : QDialog(parent), db_(db) {
    setObjectName(QStringLiteral("FrmMaintenance"));
    setWindowTitle(GetString(46032));
    lblWarning = new QLabel(GetString(41040));
    lblWarning->setObjectName(QStringLiteral("lblWarning"));
    lblWarning->setWordWrap(true);
    chkClear = new QCheckBox(GetString(41041));
    chkClear->setObjectName(QStringLiteral("chkClear"));
    chkClear->setAccessibleName(chkClear->text());
    chkClear->setChecked(true);
    chkRepair = new QCheckBox(GetString(41042));
    chkRepair->setObjectName(QStringLiteral("chkRepair"));
    chkRepair->setAccessibleName(chkRepair->text());
    btnOK = new QPushButton(GetString(43002).remove(u'&'));
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setAccessibleName(btnOK->text());
    btnOK->setDefault(true);
    btnCancel = new QPushButton(GetString(43003).remove(u'&'));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAccessibleName(btnCancel->text());
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblWarning);
    layout->addWidget(chkClear);
    layout->addWidget(chkRepair);
    layout->addLayout(buttons);
    connect(btnOK, &QPushButton::clicked, this, [this] {
        hide();
        run();
        accept();
    });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

MaintenanceResult TFrmMaintenance::run() {
    const MaintenanceResult r = runWithWaitWindow(db_, chkClear->isChecked(), chkRepair->isChecked(), parentWidget());
    Ask().inform(parentWidget(), GetString(r.messageIdent));
    return r;
}

MaintenanceResult TFrmMaintenance::runWithWaitWindow(Database& db, bool clearDeleted, bool repairPaths,
                                                     QWidget* parent) {
    TFrmWait wait(parent);
    wait.setWindowTitle(GetString(40032));
    wait.setText(GetString(40405));
    wait.setWindowModality(Qt::ApplicationModal);
    wait.show();

    // The connection belongs to this thread, which does not touch it until the worker is done: the
    // wait window is modal, so nothing else in the window can reach the knowledge base meanwhile.
    QPointer<TFrmWait> target(&wait);
    Progress progress;
    progress.start = [target](const QString& text, int maximum) {
        QMetaObject::invokeMethod(
            target,
            [target, text, maximum] {
                if (!target) return;
                if (!text.isEmpty()) target->setText(text);
                target->setMaximum(qMax(1, maximum));
            },
            Qt::QueuedConnection);
    };
    progress.step = [target](int n) {
        QMetaObject::invokeMethod(
            target,
            [target, n] {
                if (target) target->advance(n);
            },
            Qt::QueuedConnection);
        return true;
    };
    MaintenanceResult result;
    QEventLoop loop;
    QThread* worker = QThread::create([&] { result = RunMaintenance(db, clearDeleted, repairPaths, progress); });
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec();
    worker->wait();
    delete worker;
    wait.close();
    return result;
}

} // namespace zel
