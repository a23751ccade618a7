#include "editor/ui/TZelNSHandler.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "platform/Database.h"

namespace zel {

void RegisterLinkScheme() {
    if (!QWebEngineUrlScheme::schemeByName(QByteArrayLiteral("link")).name().isEmpty()) return;
    QWebEngineUrlScheme scheme(QByteArrayLiteral("link"));
    // link://document/... : "document" is the host, so relative references resolve below it.
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setDefaultPort(QWebEngineUrlScheme::PortUnspecified);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(scheme);
}

TZelNSHandler& TZelNSHandler::instance() {
    static TZelNSHandler* handler = [] {
        auto* h = new TZelNSHandler(QCoreApplication::instance());
        QWebEngineProfile::defaultProfile()->installUrlSchemeHandler(QByteArrayLiteral("link"), h);
        return h;
    }();
    return *handler;
}

void TZelNSHandler::setProvider(const void* owner, Provider p) {
    owner_ = owner;
    provider_ = std::move(p);
}

void TZelNSHandler::clearProvider(const void* owner) {
    if (owner_ != owner) return;
    owner_ = nullptr;
    provider_ = {};
}

void TZelNSHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    Database* db = provider_.database ? provider_.database() : nullptr;
    if (!db) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    const CurrentLinkDocument current = provider_.current ? provider_.current() : CurrentLinkDocument{};
    const LinkAnswer a = AnswerLinkRequest(*db, job->requestUrl().toString(QUrl::FullyEncoded), current);
    if (!a.handled) {
        job->fail(QWebEngineUrlRequestJob::UrlInvalid);
        return;
    }
    // Every answer is prepared at once; the buffer lives as long as the request.
    auto* buffer = new QBuffer(job);
    buffer->setData(a.data);
    buffer->open(QIODevice::ReadOnly);
    job->reply(a.mimeType, buffer);
}

} // namespace zel
