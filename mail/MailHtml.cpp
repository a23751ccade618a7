// Reference rewriting in received HTML, on a real HTML parser: the parser finds the attributes, and
// only their values are replaced in the original text.
#include "mail/TMimeDecorder.h"

#include <algorithm>
#include <gumbo.h>
#include <vector>

namespace zel {

namespace {

struct Splice {
    size_t offset, length;
    QByteArray text;
};

QByteArray quoteAttribute(const QByteArray& value) {
    QByteArray v = value;
    v.replace('&', "&amp;").replace('"', "&quot;");
    return '"' + v + '"';
}

// The part a reference names, or nullptr.
const TMsgPartInfo* partFor(const QByteArray& reference, const QList<TMsgPartInfo>& parts) {
    const QByteArray value = reference.trimmed();
    if (value.isEmpty()) return nullptr;
    if (value.left(4).compare("cid:", Qt::CaseInsensitive) == 0) {
        const QByteArray id = QByteArray::fromPercentEncoding(value.mid(4)).trimmed();
        for (const TMsgPartInfo& p : parts)
            if (!p.contentId.isEmpty() && p.contentId == id) return &p;
        for (const TMsgPartInfo& p : parts)
            if (!p.contentId.isEmpty() && p.contentId.compare(id, Qt::CaseInsensitive) == 0) return &p;
        return nullptr;
    }
    for (const TMsgPartInfo& p : parts)
        if (!p.contentLocation.isEmpty() && p.contentLocation == value) return &p;
    return nullptr;
}

class Rewriter {
public:
    Rewriter(const QByteArray& source, const QList<TMsgPartInfo>& parts) : source_(source), parts_(parts) {}

    void visit(const GumboNode* node) {
        // Iterative walk: deeply nested mail must not exhaust the stack.
        std::vector<const GumboNode*> stack{node};
        while (!stack.empty()) {
            const GumboNode* n = stack.back();
            stack.pop_back();
            if (n->type != GUMBO_NODE_ELEMENT && n->type != GUMBO_NODE_TEMPLATE) continue;
            const GumboElement& e = n->v.element;
            switch (e.tag) {
            case GUMBO_TAG_BODY:
            case GUMBO_TAG_TABLE:
            case GUMBO_TAG_TD:
                rewriteReference(e, "background");
                break;
            case GUMBO_TAG_IMG:
                rewriteReference(e, "src");
                break;
            case GUMBO_TAG_META:
                declareUtf8(e);
                break;
            default:
                break;
            }
            for (unsigned i = e.children.length; i > 0; --i)
                stack.push_back(static_cast<const GumboNode*>(e.children.data[i - 1]));
        }
    }

    QByteArray result() {
        std::sort(splices_.begin(), splices_.end(),
                  [](const Splice& a, const Splice& b) { return a.offset < b.offset; });
        QByteArray out;
        out.reserve(source_.size() + 256);
        size_t at = 0;
        for (const Splice& s : splices_) {
            if (s.offset < at) continue; // overlapping (cannot happen for distinct attributes)
            out.append(source_.constData() + at, qsizetype(s.offset - at));
            out += s.text;
            at = s.offset + s.length;
        }
        out.append(source_.constData() + at, source_.size() - qsizetype(at));
        return out;
    }

private:
    // The attribute's value as written (quotes included) lies in the source: replace it there.
    bool replaceValue(const GumboAttribute* a, const QByteArray& newValue) {
        const char* base = source_.constData();
        const char* p = a->original_value.data;
        if (!p || a->original_value.length == 0 || p < base || p + a->original_value.length > base + source_.size())
            return false;
        splices_.push_back({size_t(p - base), a->original_value.length, quoteAttribute(newValue)});
        return true;
    }

    void rewriteReference(const GumboElement& e, const char* name) {
        const GumboAttribute* a = gumbo_get_attribute(&e.attributes, name);
        if (!a) return;
        const TMsgPartInfo* part = partFor(QByteArray(a->value), parts_);
        if (!part || part->attachmentId.isEmpty()) return;
        replaceValue(a, AttachmentLinkUrl(part->attachmentId).toUtf8());
    }

    // The stored document is Unicode: a declared charset of the message would mislead its reader.
    void declareUtf8(const GumboElement& e) {
        if (const GumboAttribute* c = gumbo_get_attribute(&e.attributes, "charset")) {
            replaceValue(c, "utf-8");
            return;
        }
        const GumboAttribute* eq = gumbo_get_attribute(&e.attributes, "http-equiv");
        const GumboAttribute* content = gumbo_get_attribute(&e.attributes, "content");
        if (eq && content && QByteArray(eq->value).trimmed().compare("content-type", Qt::CaseInsensitive) == 0)
            replaceValue(content, "text/html; charset=utf-8");
    }

    const QByteArray& source_;
    const QList<TMsgPartInfo>& parts_;
    std::vector<Splice> splices_;
};

} // namespace

QString AttachmentLinkUrl(const QString& attachmentId) {
    return QStringLiteral("link://document/__zel_@cid:/") + attachmentId;
}

QString RewriteMailHtml(const QString& html, const QList<TMsgPartInfo>& parts) {
    const QByteArray source = html.toUtf8();
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, source.constData(), size_t(source.size()));
    if (!output) return html;
    Rewriter r(source, parts);
    r.visit(output->root);
    const QByteArray out = r.result();
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return QString::fromUtf8(out);
}

} // namespace zel
