#pragma once

#include <QDialog>

#include "editor/EditMarkup.h"

class QComboBox;
class QLineEdit;
class QSpinBox;

namespace zel {

// "Picture Property": source, alternative text, alignment, border and spacing of a picture.
class TFrmImageProperty : public QDialog {
    Q_OBJECT
public:
    explicit TFrmImageProperty(QWidget* parent = nullptr);

    // Shows the values of a picture (source in path form); the source field takes the focus.
    void setFields(const ImageFields& f);
    ImageFields fields() const; // align "" for "Default"

    QLineEdit* sourceEdit() const { return edtSrc_; }
    QLineEdit* altEdit() const { return edtAlt_; }
    QComboBox* alignBox() const { return cbAlign_; }
    QSpinBox* borderBox() const { return spBorder_; }
    QSpinBox* hspaceBox() const { return spH_; }
    QSpinBox* vspaceBox() const { return spV_; }

private:
    QLineEdit* edtSrc_;
    QLineEdit* edtAlt_;
    QComboBox* cbAlign_;
    QSpinBox* spBorder_;
    QSpinBox* spH_;
    QSpinBox* spV_;
};

} // namespace zel
