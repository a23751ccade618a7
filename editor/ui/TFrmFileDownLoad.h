#pragma once

#include <QDialog>

#include "editor/PictureCapture.h"

class QListWidget;
class QPushButton;

namespace zel {

class Database;

// What became of one row.
struct CaptureResult {
    QString source;
    QList<int> pictures;
    QString attachmentId; // empty: nothing stored, the pictures keep their source
    QString error;
};

// "Download File": the pictures of a document that can be brought into the knowledge base, each
// ticked; the user picks which.
class TFrmFileDownLoad : public QDialog {
    Q_OBJECT
public:
    explicit TFrmFileDownLoad(QWidget* parent = nullptr);
    void setRows(const QList<CaptureRow>& rows);
    QList<CaptureRow> rows() const; // with the ticks as the user left them
    QListWidget* list() const { return ListView_; }

    // Stores every ticked row as an attachment of the node; web sources are downloaded off the
    // main thread, with a progress window (and Cancel) for more than two rows.
    QList<CaptureResult> fetch(Database& db, const QString& nodeId);

private:
    QListWidget* ListView_;
    QList<CaptureRow> rows_;
};

} // namespace zel
