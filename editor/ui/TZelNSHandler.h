#pragma once

#include <QWebEngineUrlSchemeHandler>
#include <functional>

#include "editor/LinkUrl.h"

namespace zel {

class Database;

// Makes "link" known to the engine; must run before the application object exists.
void RegisterLinkScheme();

// Serves "link://document/..." to every page of the default profile: the current document from the
// document pane, attachments and other documents from the knowledge base. One object per process.
class TZelNSHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    // The handler, installed on the default profile on first use.
    static TZelNSHandler& instance();

    // Who answers: the knowledge base and the current document (set by the document pane).
    struct Provider {
        std::function<Database*()> database;
        std::function<CurrentLinkDocument()> current;
    };
    void setProvider(const void* owner, Provider p);
    void clearProvider(const void* owner);

    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    const void* owner_ = nullptr;
    Provider provider_;
};

} // namespace zel
