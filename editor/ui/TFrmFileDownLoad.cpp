#include "editor/ui/TFrmFileDownLoad.h"

#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFile>
#include <QFileIconProvider>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent>
#include <atomic>

#include "exchange/WebDownload.h"
#include "shell/Strings.h"
#include "store/Content.h"

namespace zel {

namespace {

QString plainCaption(int ident) {
    return GetString(ident).remove(u'&');
}

} // namespace

TFrmFileDownLoad::TFrmFileDownLoad(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FrmFileDownLoad"));
    setWindowTitle(GetString(40431));
    setAccessibleName(windowTitle());
    auto* layout = new QVBoxLayout(this);
    ListView_ = new QListWidget(this);
    ListView_->setObjectName(QStringLiteral("ListView"));
    ListView_->setAccessibleName(windowTitle());
    layout->addWidget(ListView_);
    auto* row = new QHBoxLayout;
    auto* all = new QPushButton(GetString(43048), this);
    all->setObjectName(QStringLiteral("btnSelectAll"));
    all->setAccessibleName(plainCaption(43048));
    auto* none = new QPushButton(GetString(43049), this);
    none->setObjectName(QStringLiteral("btnUnSelect"));
    none->setAccessibleName(plainCaption(43049));
    row->addWidget(all);
    row->addWidget(none);
    row->addStretch();
    auto* ok = new QPushButton(GetString(43002), this);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setAccessibleName(plainCaption(43002));
    ok->setDefault(true);
    auto* cancel = new QPushButton(GetString(43003), this);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    cancel->setAccessibleName(plainCaption(43003));
    row->addWidget(ok);
    row->addWidget(cancel);
    layout->addLayout(row);
    auto tickAll = [this](Qt::CheckState s) {
        for (int i = 0; i < ListView_->count(); ++i)
            ListView_->item(i)->setCheckState(s);
    };
    connect(all, &QPushButton::clicked, this, [tickAll] { tickAll(Qt::Checked); });
    connect(none, &QPushButton::clicked, this, [tickAll] { tickAll(Qt::Unchecked); });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    resize(520, 320);
}

void TFrmFileDownLoad::setRows(const QList<CaptureRow>& rows) {
    rows_ = rows;
    ListView_->clear();
    static const QFileIconProvider icons;
    for (const CaptureRow& r : rows) {
        auto* item = new QListWidgetItem(r.shown, ListView_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(r.ticked ? Qt::Checked : Qt::Unchecked);
        item->setIcon(icons.icon(QFileIconProvider::File));
    }
}

QList<CaptureRow> TFrmFileDownLoad::rows() const {
    QList<CaptureRow> out = rows_;
    for (int i = 0; i < out.size() && i < ListView_->count(); ++i)
        out[i].ticked = ListView_->item(i)->checkState() == Qt::Checked;
    return out;
}

QList<CaptureResult> TFrmFileDownLoad::fetch(Database& db, const QString& nodeId) {
    const QList<CaptureRow> all = rows();
    QList<CaptureResult> results;
    std::atomic<bool> cancel{false};
    QProgressDialog* progress = nullptr;
    if (all.size() > 2) {
        progress = new QProgressDialog(GetString(40432), GetString(43003), 0, 100, parentWidget());
        progress->setObjectName(QStringLiteral("FrmWait"));
        progress->setWindowTitle(GetString(40431));
        progress->setAccessibleName(GetString(40431));
        progress->setMinimumDuration(0);
        connect(progress, &QProgressDialog::canceled, this, [&cancel] { cancel = true; });
        progress->show();
    }
    DownloadOptions options;
    options.cancel = &cancel;
    int done = 0;
    for (const CaptureRow& row : all) {
        if (progress) progress->setValue(done * (100 / int(all.size())));
        ++done;
        CaptureResult r{row.source, row.pictures, {}, {}};
        if (!row.ticked || cancel) {
            results << r;
            continue;
        }
        const QString name = CaptureFileName(row.source);
        const bool web = !row.shown.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive);
        if (!web) {
            r.attachmentId = FetchIntoAttachment(db, nodeId, row.shown, name, &r.error);
        } else {
            // The transfer runs on a worker; the window keeps painting and Cancel stays live.
            const QString temp = NextDownloadTempPath();
            const QString url = row.source;
            QFutureWatcher<DownloadResult> watcher;
            QEventLoop loop;
            connect(&watcher, &QFutureWatcher<DownloadResult>::finished, &loop, &QEventLoop::quit);
            watcher.setFuture(QtConcurrent::run([url, temp, options] { return DownloadToFile(url, temp, options); }));
            if (!watcher.isFinished()) loop.exec();
            const DownloadResult d = watcher.result();
            if (d.ok) {
                r.attachmentId = SaveAttachmentFromFile(db, nodeId, temp, name);
                if (r.attachmentId.isEmpty()) r.error = QStringLiteral("The attachment could not be stored: ") + name;
            } else {
                r.error = d.error;
            }
            QFile::remove(temp);
        }
        results << r;
    }
    delete progress;
    return results;
}

} // namespace zel
