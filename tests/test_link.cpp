// The link scheme's answers and navigation targets, the document views' stale flags and the choice of
// pictures to capture, on both databases.
#include "StoreFixture.h"

#include "editor/DocumentSettings.h"
#include "editor/DocumentState.h"
#include "editor/LinkUrl.h"
#include "editor/PictureCapture.h"
#include "shell/Strings.h"
#include "store/Compression.h"
#include "store/Content.h"

namespace zel::test {
namespace {

class Link : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        work = add(QStringLiteral("0"), QStringLiteral("Work"));
        notes = add(work, QStringLiteral("My Notes"));
        other = add(work, QStringLiteral("Other"));
        ASSERT_TRUE(WriteDocumentText(db(), notes, QStringLiteral("<html><body>stored notes</body></html>")));
        gif = SaveAttachmentFromStream(db(), QByteArray("GIF89a-raw"), notes, QStringLiteral("pic.gif"));
        png = SaveAttachmentFromStream(db(), QByteArray("PNG-bytes"), notes, QStringLiteral("pic one.png"));
        otherPng = SaveAttachmentFromStream(db(), QByteArray("other-bytes"), other, QStringLiteral("o.png"));
        ASSERT_FALSE(gif.isEmpty() || png.isEmpty() || otherPng.isEmpty());
    }
    CurrentLinkDocument current(std::function<QByteArray()> html = {}) {
        return {QStringLiteral("link://document/Work/My Notes.htm"), notes, std::move(html)};
    }
    QString work, notes, other, gif, png, otherPng;
};

TEST_P(Link, AnswersByTheGrammar) {
    const QByteArray missing = ReadAttachmentByName(db(), QStringLiteral("0"), QStringLiteral("none"));
    const struct {
        const char* url;
        QByteArray data;
        const char* mime;
    } cases[] = {
        // The current document, from the store (content source 0), escapes decoded, anchors ignored.
        {"link://document/Work/My%20Notes.htm", "stored notes", "text/html;charset=utf-8"},
        {"link://document/Work/My%20Notes.htm%23part2", "stored notes", "text/html;charset=utf-8"},
        // Id form: raw ".gif", expanded otherwise; a non-numeric or unknown id gives empty data.
        {"link://document/__zel_@cid:/GIF", "GIF89a-raw", "image/gif"},
        {"link://document/__zel_@cid:/PNG", "PNG-bytes", "image/png"},
        {"LINK://Document/__ZEL_@cid:/PNG", "PNG-bytes", "image/png"},
        {"link://document/__zel_@cid:/abc", "", "application/octet-stream"},
        {"link://document/__zel_@cid:/999999", "", "application/octet-stream"},
        // Path form: another node's attachment by its name path; a missing one gives the page.
        {"link://document/Work/Other/o.png", "other-bytes", "image/png"},
        {"link://document/Work/Other/none.png", missing, "text/html"},
        {"link://document/Nowhere/x.png", missing, "text/html"},
    };
    for (const auto& c : cases) {
        QString url = QString::fromUtf8(c.url);
        url.replace(QStringLiteral("GIF"), gif).replace(QStringLiteral("PNG"), png);
        const LinkAnswer a = AnswerLinkRequest(db(), url, current());
        EXPECT_TRUE(a.handled) << c.url;
        if (QByteArray(c.data) == "stored notes")
            EXPECT_TRUE(a.data.contains("stored notes")) << c.url;
        else
            EXPECT_EQ(a.data, c.data) << c.url;
        EXPECT_EQ(a.mimeType, QByteArray(c.mime)) << c.url;
    }
    EXPECT_TRUE(missing.startsWith("<html><body>"));
    EXPECT_FALSE(AnswerLinkRequest(db(), QStringLiteral("link://other/x"), current()).handled);
    EXPECT_FALSE(AnswerLinkRequest(db(), QStringLiteral("http://document/x"), current()).handled);
}

TEST_P(Link, TheCurrentDocumentComesFromItsLiveSourceAndItsAttachmentsWithoutLookup) {
    // The editor's unsaved HTML stands in for the stored content.
    const LinkAnswer live = AnswerLinkRequest(db(), QStringLiteral("link://document/Work/My%20Notes.htm"),
                                              current([] { return QByteArray("<p>unsaved edit</p>"); }));
    EXPECT_EQ(live.data, QByteArray("<p>unsaved edit</p>"));
    // The current document's own attachments: its node is taken as it is, even when the name path no
    // longer finds it (renamed by another user meanwhile).
    ASSERT_TRUE(db().exec(QStringLiteral("update info set caption='Renamed' where id=:id"),
                          {{QStringLiteral(":id"), notes.toLongLong()}}));
    ASSERT_EQ(FindNodeByName(db(), QStringLiteral("/Work/My Notes")), QStringLiteral("0"));
    const LinkAnswer own =
        AnswerLinkRequest(db(), QStringLiteral("link://document/Work/My%20Notes/pic%20one.png"), current());
    EXPECT_EQ(own.data, QByteArray("PNG-bytes"));
}

TEST_P(Link, NavigationTargets) {
    const QString cur = QStringLiteral("link://document/Work/My Notes.htm");
    const struct {
        const char* url;
        LinkTarget::Kind kind;
        const char* node; // "notes", "other" or ""
        const char* file;
        const char* anchor;
    } cases[] = {
        {"http://example.org/a", LinkTarget::External, "", "", ""},
        {"https://example.org/a", LinkTarget::External, "", "", ""},
        {"mailto:someone@example.org", LinkTarget::External, "", "", ""},
        {"file:///etc/passwd", LinkTarget::Refused, "", "", ""},
        {"javascript:alert(1)", LinkTarget::Refused, "", "", ""},
        {"link://document/Work/My%20Notes.htm%23part2", LinkTarget::ScrollOnly, "", "", "part2"},
        {"link://document/Work/Other.htm", LinkTarget::Document, "other", "", ""},
        {"link://document/work/other.HTML", LinkTarget::Document, "other", "", ""},
        {"link://document/Work/Other.shtml#sec", LinkTarget::Document, "other", "", "sec"},
        {"link://document/Work/Other/o.png", LinkTarget::Attachment, "other", "o.png", ""},
        {"link://document/Work/My%20Notes/pic%20one.png", LinkTarget::Attachment, "notes", "pic one.png", ""},
        {"link://document/Work/Missing.htm", LinkTarget::NotFound, "", "", ""},
    };
    for (const auto& c : cases) {
        const LinkTarget t = ResolveLinkNavigation(db(), QString::fromUtf8(c.url), cur);
        EXPECT_EQ(t.kind, c.kind) << c.url;
        const QString node = QByteArray(c.node) == "notes" ? notes : QByteArray(c.node) == "other" ? other : QString();
        EXPECT_EQ(t.nodeId, node) << c.url;
        EXPECT_EQ(t.fileName, QString::fromUtf8(c.file)) << c.url;
        EXPECT_EQ(t.anchor, QString::fromUtf8(c.anchor)) << c.url;
    }
    EXPECT_EQ(DocumentUrlForNode(db(), notes), cur);
    EXPECT_EQ(EncodeLinkUrlForEngine(QStringLiteral("link://document/A b/C#1.htm")),
              QStringLiteral("link://document/A%20b/C%231.htm"));
}

ZEL_INSTANTIATE_DB_TEST(Link);

TEST(DocumentStateTable, StaleFlagsAndContentSource) {
    using E = DocumentEvent;
    struct Row {
        E event;
        bool editorStale, viewerStale, sourceStale;
        ContentSource source;
    };
    // Opened in the viewer, edited in "Edit", looked at in "Normal", then in "Source", edited there,
    // then back to "Edit".
    TInfoState s;
    const Row steps[] = {
        {E::OpenedInViewer, true, false, true, ContentSource::Store},
        {E::EnterEdit, false, false, true, ContentSource::Viewer},
        {E::Modified, false, true, true, ContentSource::Viewer},
        {E::EnterNormal, false, false, true, ContentSource::Editor},
        {E::EnterSource, false, false, false, ContentSource::Editor},
        {E::SourceEdited, true, true, false, ContentSource::Editor},
        {E::EnterEdit, false, true, false, ContentSource::Source},
        {E::OpenedInEditor, false, true, true, ContentSource::Store},
    };
    int i = 0;
    for (const Row& r : steps) {
        // The tab left before an entry is the one that was in front.
        if (i == 3) LeaveTab(s, TabEdit);
        if (i == 6) LeaveTab(s, TabSource);
        ApplyDocumentEvent(s, r.event);
        EXPECT_EQ(s.editorStale, r.editorStale) << "step " << i;
        EXPECT_EQ(s.viewerStale, r.viewerStale) << "step " << i;
        EXPECT_EQ(s.sourceStale, r.sourceStale) << "step " << i;
        EXPECT_EQ(int(s.contentSource), int(r.source)) << "step " << i;
        ++i;
    }
    // Entering a stale view asks for a reload; a fresh one is left alone.
    TInfoState t;
    ApplyDocumentEvent(t, E::OpenedInViewer);
    EXPECT_FALSE(ApplyDocumentEvent(t, E::EnterNormal).reloadViewer);
    EXPECT_TRUE(ApplyDocumentEvent(t, E::EnterEdit).reloadEditor);
    const TabSync src = ApplyDocumentEvent(t, E::EnterSource);
    EXPECT_TRUE(src.fillSource);
    EXPECT_TRUE(src.sourceFromEditor);
    EXPECT_FALSE(ApplyDocumentEvent(t, E::EnterSource).fillSource);
}

TEST(PictureCapture, CandidatesAndNames) {
    const QList<PictureInfo> pictures = {
        {0, QStringLiteral("file:///tmp/a%20b.png"), {}},
        {1, QStringLiteral("http://h/x/p.jpg?size=2"), {}},
        {2, QStringLiteral("file:///tmp/a b.png"), {}}, // the same source as 0 once "%20" is a blank
        {3, QStringLiteral("link://document/__zel_@cid:/5"), {}},
        {4, QStringLiteral("HTTPS://h/q.gif"), QStringLiteral("true")}, // present at load
        {5, QStringLiteral("data:image/png;base64,AAAA"), {}},
        {6, QStringLiteral("http://h/x/p.jpg?size=2"), QStringLiteral("false")},
    };
    const QList<CaptureRow> rows = CaptureCandidates(pictures, false);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].shown, QStringLiteral("file:///tmp/a b.png"));
    EXPECT_EQ(rows[0].pictures, QList<int>({0, 2}));
    EXPECT_EQ(rows[1].pictures, QList<int>({1, 6}));
    // "Download all Picture" takes the pictures present at load too.
    EXPECT_EQ(CaptureCandidates(pictures, true).size(), 3);

    const struct {
        const char* source;
        const char* name;
    } names[] = {
        {"file:///tmp/a%20b.png", "a b.png"}, {"http://h/x/p.jpg?size=2#f", "p.jpg"},  {"http://h/", "picture"},
        {"file:C:\\pics\\w.gif", "w.gif"},    {"http://h/..%2F..%2Fetc", ".._.._etc"},
    };
    for (const auto& n : names)
        EXPECT_EQ(CaptureFileName(QString::fromUtf8(n.source)), QString::fromUtf8(n.name)) << n.source;
}

TEST(DocumentSettingsValues, ColoursCharsetsAndMargins) {
    const struct {
        const char* value;
        int index;
    } colours[] = {{"", kColourDefault}, {"#000000", 1},
                   {"#800000", 2},       {"#c0dcc0", 17},
                   {"#A0A0A4", 20},      {"#123456", kColourCustom},
                   {"red", 10},          {"nonsense", kColourCustom}};
    for (const auto& c : colours)
        EXPECT_EQ(ColourIndexOf(QString::fromUtf8(c.value)), c.index) << c.value;
    EXPECT_EQ(ColourValue(0xab, 0x0c, 0xff), QStringLiteral("#AB0CFF"));
    EXPECT_EQ(NamedColour(18), QStringLiteral("#A6CAF0"));
    EXPECT_TRUE(NamedColour(kColourDefault).isEmpty());
    EXPECT_EQ(ColourName(17), QStringLiteral("MoneyGreen"));
    EXPECT_EQ(CharsetNames().size(), 19);
    EXPECT_EQ(CharsetIndex(QStringLiteral("UTF-8")), 3);
    EXPECT_EQ(CharsetIndex(QStringLiteral("iso-8859-2")), 18);
    EXPECT_EQ(CharsetIndex(QStringLiteral("latin1")), -1);
    EXPECT_FALSE(MarginSpecified(QStringLiteral("15"), kDefaultTopMargin));
    EXPECT_FALSE(MarginSpecified(QString(), kDefaultTopMargin));
    EXPECT_TRUE(MarginSpecified(QStringLiteral("0"), kDefaultTopMargin));
    EXPECT_TRUE(MarginSpecified(QStringLiteral("15"), kDefaultLeftMargin));
}

} // namespace
} // namespace zel::test
