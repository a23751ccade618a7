#pragma once

#include <QDialog>

#include "editor/DocumentSettings.h"

class QCheckBox;

namespace zel {

class Database;
class TDocumentSettingsPanel;

// "Document Property": the document's colours, background picture (with "use background "), margins
// and character set in one dialog. OK and Apply announce the settings to write.
class TFrmDocProperty : public QDialog {
    Q_OBJECT
public:
    TFrmDocProperty(Database* db, const DocumentSettings& current, QWidget* parent = nullptr);
    DocumentSettings settings() const;
    TDocumentSettingsPanel* panel() const { return panel_; }
    QCheckBox* useBackground() const { return chkUseBackground_; }

signals:
    void applied(const zel::DocumentSettings& s);

private:
    TDocumentSettingsPanel* panel_;
    QCheckBox* chkUseBackground_;
};

} // namespace zel
