#pragma once

#include <QObject>

#include "editor/DocumentSettings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;
class QToolButton;
class QWidget;

namespace zel {

class Database;

// The "BackGround" and "Margin" pages of the property panel: background picture, five colours and the
// character set; top and left margins. Filled from the editor's document without raising changes;
// every change by the user is announced with the settings to write.
class TDocumentSettingsPanel : public QObject {
    Q_OBJECT
public:
    TDocumentSettingsPanel(QWidget* backgroundPage, QWidget* marginPage, QObject* parent = nullptr);

    void setDatabase(Database* db) { db_ = db; }
    void fill(const DocumentSettings& s);
    DocumentSettings settings() const; // background in id form
    void setEnabled(bool on);

    QLineEdit* background() const { return edtBackground_; }
    QComboBox* colour(int i) const { return colours_[i]; } // 0 background, 1 text, 2 link, 3 active, 4 visited
    QComboBox* charset() const { return cbCharset_; }
    QCheckBox* topMargin() const { return chkTop_; }
    QCheckBox* leftMargin() const { return chkLeft_; }
    QSpinBox* topValue() const { return spTop_; }
    QSpinBox* leftValue() const { return spLeft_; }

signals:
    void changed(const zel::DocumentSettings& s);

private:
    void emitChanged();
    void colourChosen(int which, int index);

    Database* db_ = nullptr;
    QWidget* pages_[2];
    QLineEdit* edtBackground_;
    QToolButton* btnBackground_;
    QComboBox* colours_[5];
    QString custom_[5];
    QComboBox* cbCharset_;
    QCheckBox* chkTop_;
    QCheckBox* chkLeft_;
    QSpinBox* spTop_;
    QSpinBox* spLeft_;
    QString shownBackground_;
    QString filledCharset_;
    bool filling_ = false;
};

} // namespace zel
