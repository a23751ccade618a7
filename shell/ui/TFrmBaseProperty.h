#pragma once

#include <QDialog>

#include "shell/ui/Captions.h"

class QLabel;

namespace zel {

// Shows a catalogue entry: its type, folder or server, database, and the counts of live nodes and of
// live folders. It only displays.
class TFrmBaseProperty : public QDialog {
    Q_OBJECT
public:
    TFrmBaseProperty(const QString& catalogueName, QWidget* parent = nullptr);
    QString typeText() const;
    int nodeCount() const { return nodes_; }
    int folderCount() const { return folders_; }

private:
    QLabel* lblType_;
    int nodes_ = -1;
    int folders_ = -1;
    Captions captions_;
};

} // namespace zel
