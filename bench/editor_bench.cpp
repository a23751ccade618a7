// Document pane figures with the real WebEngine offscreen on an SQLite knowledge base:
//  - opening a 1 MB document with 50 pictures (attachments served through the link scheme) until its
//    page and every picture have loaded;
//  - switching between two ordinary documents.
// Usage: editor_bench [--rounds N]
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWebEngineView>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "editor/LinkUrl.h"
#include "editor/ui/TDocumentPane.h"
#include "editor/ui/TZelNSHandler.h"
#include "platform/Database.h"
#include "platform/SqliteFile.h"
#include "store/Catalogue.h"
#include "store/Content.h"
#include "store/Nodes.h"
#include "store/Schema.h"

using namespace zel;

namespace {

QByteArray picture(int i) {
    QImage img(160, 120, QImage::Format_RGB32);
    QRandomGenerator rng(i);
    img.fill(QColor::fromRgb(rng.generate() | 0xFF000000u));
    QPainter p(&img);
    for (int k = 0; k < 40; ++k) {
        p.setPen(QColor::fromRgb(rng.generate() | 0xFF000000u));
        p.drawLine(rng.bounded(160), rng.bounded(120), rng.bounded(160), rng.bounded(120));
    }
    p.end();
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    img.save(&b, i % 2 ? "PNG" : "JPG");
    return out;
}

QString addNode(Database& db, const QString& parent, const QString& caption) {
    Tinfoproperty rec;
    rec.caption = caption;
    return InsertNode(db, rec, parent);
}

struct Stats {
    double min, median, max;
};
Stats stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    RegisterLinkScheme();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    int rounds = 10;
    for (int i = 1; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--rounds") rounds = std::max(1, atoi(argv[i + 1]));

    QTemporaryDir tmp;
    Database db;
    if (!createSqliteFile(tmp.path() + QStringLiteral("/bench.skm")) ||
        !db.open(BuildConnectionString(0, tmp.path() + u'/', QStringLiteral("bench.skm"), QString(), QString())) ||
        !CreateSchema(db, QStringLiteral("admin"), QString()) || !UpgradeSchema(db)) {
        std::fprintf(stderr, "cannot create the knowledge base: %s\n", qPrintable(db.lastError()));
        return 1;
    }
    const QString folder = addNode(db, QStringLiteral("0"), QStringLiteral("Bench"));
    const QString big = addNode(db, folder, QStringLiteral("Big"));
    const QString a = addNode(db, folder, QStringLiteral("Ordinary A"));
    const QString b = addNode(db, folder, QStringLiteral("Ordinary B"));

    // 1 MB of text and tables around 50 pictures, each its own attachment.
    QString html = QStringLiteral("<html><head><title>Big</title></head><body>");
    qint64 pictureBytes = 0;
    for (int i = 0; i < 50; ++i) {
        const QByteArray pic = picture(i);
        pictureBytes += pic.size();
        const QString name =
            QStringLiteral("pic%1.%2").arg(i).arg(i % 2 ? QStringLiteral("png") : QStringLiteral("jpg"));
        const QString id = SaveAttachmentFromStream(db, pic, big, name);
        html += QStringLiteral("<h2>Section %1</h2><p><img src=\"%2%3\" width=\"160\" height=\"120\"></p>")
                    .arg(i)
                    .arg(QString::fromUtf16(kCidPrefix), id);
        while (html.size() < (i + 1) * 20000)
            html += QStringLiteral("<p>Paragraph with <b>bold</b>, <i>italic</i> and a <a href=\"#s\">link</a>; "
                                   "the quick brown fox jumps over the lazy dog %1.</p>")
                        .arg(html.size());
    }
    html += QStringLiteral("</body></html>");
    WriteDocumentText(db, big, html);
    const QString ordinary = QStringLiteral("<html><body><h1>%1</h1>") +
                             QStringLiteral("<p>An ordinary note.</p>").repeated(80) + QStringLiteral("</body></html>");
    WriteDocumentText(db, a, ordinary.arg(QStringLiteral("A")));
    WriteDocumentText(db, b, ordinary.arg(QStringLiteral("B")));

    // The knowledge base's share: the document and its pictures as the handler answers them.
    std::vector<double> storeTimes;
    const QString bigUrl = DocumentUrlForNode(db, big);
    for (int r = 0; r < 5; ++r) {
        QElapsedTimer t;
        t.start();
        const CurrentLinkDocument cur{bigUrl, big, {}};
        qint64 bytes = AnswerLinkRequest(db, bigUrl, cur).data.size();
        Query q(db, QStringLiteral("select id from accessories where infoid=:id"),
                {{QStringLiteral(":id"), big.toLongLong()}});
        while (q.next())
            bytes +=
                AnswerLinkRequest(db, QString::fromUtf16(kCidPrefix) + QString::number(q.integer(0)), cur).data.size();
        storeTimes.push_back(t.nsecsElapsed() / 1e6);
        if (bytes == 0) return 1;
    }

    QTabWidget tabs;
    auto* viewer = new QWebEngineView(&tabs);
    auto* edit = new QWidget(&tabs);
    auto* source = new QWidget(&tabs);
    tabs.addTab(viewer, QStringLiteral("Normal"));
    tabs.addTab(edit, QStringLiteral("Edit"));
    tabs.addTab(source, QStringLiteral("Source"));
    tabs.addTab(new QWidget(&tabs), QStringLiteral("Filelist"));
    TDocumentPane pane(&tabs, viewer, edit, source);
    pane.setDatabase(&db);
    tabs.resize(1280, 900);
    tabs.show();
    int loads = 0;
    QObject::connect(&pane, &TDocumentPane::documentLoaded, [&](bool) { ++loads; });
    auto openAndWait = [&](const QString& id) {
        const int before = loads;
        QElapsedTimer t;
        t.start();
        pane.openNode(id, DocumentUrlForNode(db, id));
        while (loads == before && t.elapsed() < 60000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        return t.nsecsElapsed() / 1e6;
    };

    const double first = openAndWait(a); // starts the engine
    std::vector<double> bigTimes, switchTimes;
    for (int r = 0; r < rounds; ++r) {
        openAndWait(a);
        bigTimes.push_back(openAndWait(big));
    }
    const int shown =
        pane.run(viewer->page(), QStringLiteral("Array.from(document.images).filter(i => i.naturalWidth > 0).length"))
            .toInt();
    for (int r = 0; r < rounds * 2; ++r)
        switchTimes.push_back(openAndWait(r % 2 ? a : b));

    // The engine alone: the same page from a plain file, its pictures left out, without the link scheme.
    std::vector<double> fileTimes;
    {
        QString plainHtml = html;
        plainHtml.replace(QString::fromUtf16(kCidPrefix), QStringLiteral("data:,"));
        QFile bigFile(tmp.path() + QStringLiteral("/big.html")), smallFile(tmp.path() + QStringLiteral("/small.html"));
        if (!bigFile.open(QIODevice::WriteOnly) || !smallFile.open(QIODevice::WriteOnly)) return 1;
        bigFile.write(plainHtml.toUtf8());
        smallFile.write(ordinary.toUtf8());
        bigFile.close();
        smallFile.close();
        QWebEngineView plain;
        plain.resize(1280, 900);
        plain.show();
        for (int r = 0; r < 2 * rounds; ++r) {
            bool done = false;
            const auto c = QObject::connect(&plain, &QWebEngineView::loadFinished, [&](bool) { done = true; });
            QElapsedTimer t;
            t.start();
            plain.load(QUrl::fromLocalFile(r % 2 ? bigFile.fileName() : smallFile.fileName()));
            while (!done && t.elapsed() < 60000)
                QApplication::processEvents(QEventLoop::AllEvents, 5);
            QObject::disconnect(c);
            if (r % 2) fileTimes.push_back(t.nsecsElapsed() / 1e6);
        }
    }
    const Stats s3 = stats(fileTimes);
    const Stats s1 = stats(bigTimes), s2 = stats(switchTimes);
    std::printf("document: %.2f MB of HTML (%lld bytes stored as UTF-16), 50 pictures (%.0f KB), %d of them drawn\n",
                html.toUtf8().size() / 1048576.0, static_cast<long long>(html.size()) * 2, pictureBytes / 1024.0,
                shown);
    const Stats s0 = stats(storeTimes);
    std::printf("store share (document + 50 pictures through the handler's code): median %.0f ms\n", s0.median);
    std::printf("engine start and first document: %.0f ms\n", first);
    std::printf(
        "open 1 MB document with 50 pictures, until loaded: min %.0f ms, median %.0f ms, max %.0f ms (%d rounds)\n",
        s1.min, s1.median, s1.max, rounds);
    std::printf("the engine alone, same page from a file without pictures: min %.0f ms, median %.0f ms\n", s3.min,
                s3.median);
    std::printf("switch between two ordinary documents: min %.0f ms, median %.0f ms, max %.0f ms (%d switches)\n",
                s2.min, s2.median, s2.max, rounds * 2);
    return 0;
}
