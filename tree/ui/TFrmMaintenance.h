#pragma once

#include <QDialog>

#include "store/RecycleBin.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace zel {

class Database;

// "Compact and Repair database": purge the deleted rows, compact the file, repair the paths. The work
// runs on a thread of its own while the wait window shows progress; the window stays responsive.
class TFrmMaintenance : public QDialog {
    Q_OBJECT
public:
    TFrmMaintenance(Database& db, QWidget* parent = nullptr);
    // Runs the steps ticked (the OK button's work) and shows the closing message.
    MaintenanceResult run();
    // The steps without dialog and message, with the wait window: for the OK button and for tests.
    static MaintenanceResult runWithWaitWindow(Database& db, bool clearDeleted, bool repairPaths,
                                               QWidget* parent = nullptr);

    QLabel* lblWarning;
    QCheckBox *chkClear, *chkRepair;
    QPushButton *btnOK, *btnCancel;

private:
    Database& db_;
};

} // namespace zel
