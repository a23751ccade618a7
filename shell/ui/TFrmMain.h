#pragma once

#include <QMainWindow>

class QWebEngineView;

namespace zel {

// The main window. For now: the title, the document view and the session state.
class TFrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TFrmMain(QWidget* parent = nullptr);
    QWebEngineView* view() const { return view_; }
    // Opens the remembered knowledge base, or on a first start creates and opens the default one.
    // Returns the name of the knowledge base opened, empty when none.
    QString openStartKnowledgeBase();

signals:
    void pageLoaded(bool ok);

private:
    QWebEngineView* view_;
};

} // namespace zel
