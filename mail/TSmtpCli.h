#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

class QSslSocket;

namespace zel {

enum TSmtpAuthType { smtpAuthNone, smtpAuthPlain, smtpAuthLogin, smtpAuthCramMD5, smtpAuthAutoSelect };
enum TSmtpContentType { smtpPlainText, smtpHTML };
enum TSmtpRequest {
    smtpConnect,
    smtpHelo,
    smtpMailFrom,
    smtpVrfy,
    smtpRcptTo,
    smtpData,
    smtpQuit,
    smtpRset,
    smtpOpen,
    smtpMail,
    smtpEhlo,
    smtpAuth,
    smtpCustom,
    smtpStartTls
};
// How the connection is secured: not at all, by STARTTLS after the greeting, or TLS from the start.
enum class SmtpTlsMode { None, StartTls, Implicit };

// Error codes of requests that did not get as far as a reply.
constexpr int kSmtpSocketError = 10000; // + QAbstractSocket::SocketError
constexpr int kSmtpClosed = 10004;      // the server closed the connection during a request
constexpr int kSmtpTimeout = 10060;     // no connection or reply in time
constexpr int kSmtpCancelled = 10101;   // the run was cancelled

// One file part of a message, held in memory.
struct SmtpFilePart {
    QString name;          // shown name ("name=" and "filename=")
    QByteArray data;       // the file's bytes
    QByteArray headerLine; // extra header line of the part ("Content-ID: <...>"), may be empty
    QByteArray contentType = "application/octet-stream";
};

// SMTP client. Requests run on the calling thread and return their error code (0 on success, else
// the failing reply code or one of the codes above); a worker thread calls them one after another.
// Every wait is limited by Timeout and ends within 100 ms of *Cancel turning true.
class TSmtpCli {
public:
    TSmtpCli();
    ~TSmtpCli();
    TSmtpCli(const TSmtpCli&) = delete;
    TSmtpCli& operator=(const TSmtpCli&) = delete;

    // --- Connection ---
    QString Host;
    QString ConnectAddress; // when set, the address connected to instead of Host (Host still names the peer)
    quint16 Port = 25;
    SmtpTlsMode Tls = SmtpTlsMode::None;
    QString CaFile;              // extra trusted certificates (PEM)
    bool VerifyPeer = true;      // false: encrypt without checking the certificate (opportunistic)
    bool AllowPlainAuth = false; // credentials may travel without verified TLS
    int Timeout = 60;            // seconds, for connecting and for every reply
    const std::atomic<bool>* Cancel = nullptr;

    // --- Session ---
    QString SignOn; // HELO/EHLO argument; the local host name when empty or not a host name
    QString Username, Password;
    TSmtpAuthType AuthType = smtpAuthNone;
    QString FromName;              // envelope sender
    QByteArray MailFromParameters; // appended to MAIL FROM (" BODY=8BITMIME")
    QStringList RcptName;          // envelope recipients

    // --- Message ---
    QList<QByteArray> MailMessage; // lines of the first alternative's text and everything after it
    QByteArray HdrFrom, HdrTo, HdrCc, HdrReplyTo, HdrReturnPath, HdrSender;
    QString HdrSubject;
    QByteArray CharSet = "iso-8859-1";
    TSmtpContentType ContentType = smtpPlainText;
    QByteArray TransferEncoding = "8bit"; // of the first alternative; "quoted-printable" when MailMessage is
    QByteArray InnerBoundary;
    bool OwnHeaders = false;
    QList<SmtpFilePart> EmailFiles;
    QByteArray MessageIdDomain = "zel.invalid";
    QByteArray MessageId; // without brackets; a new one for each build when empty

    // --- Results ---
    QByteArray LastResponse;
    QByteArray ErrorMessage;
    int ReplyCode = 0;              // code of the last final reply line
    QList<QByteArray> RejectedRcpt; // "address: reply" of each recipient refused by the last RcptTo
    int AcceptedRcpt = 0;           // recipients accepted by the last RcptTo
    bool Esmtp = false;
    QStringList Extensions; // EHLO keywords with their arguments, upper case
    QByteArray Transcript;  // every byte sent (for diagnostics and tests), when Record is set
    bool Record = false;

    static const QByteArray OuterBoundary;

    bool connected() const;
    bool encrypted() const;
    // TLS with a certificate checked against the trusted roots and the host name.
    bool verified() const { return encrypted() && verified_; }
    bool hasExtension(const QString& keyword) const;
    // AUTH mechanisms offered by the server.
    QStringList authMechanisms() const;

    int Connect();
    int Helo();
    int Ehlo();
    int StartTls();
    int Auth();
    int Vrfy();
    int MailFrom();
    int RcptTo();
    int Data();
    int Quit();
    int Rset();
    void Abort();

    // The whole message as it goes after DATA (headers unless OwnHeaders, then the body), CR LF
    // line ends, not yet dot-stuffed. Sending it does not build it again when set by the caller.
    QByteArray BuildMessage() const;
    QByteArray PreparedMessage; // when not empty, Data sends this instead of building
    // Date header value: "Fri, 11 Dec 2026 16:15:42 GMT" for the given UTC time.
    static QByteArray FormatDate(const QDateTime& utc);

private:
    int fail(int code, const QByteArray& message);
    int sendCommand(const QByteArray& line, std::initializer_list<int> accepted);
    bool writeAll(const QByteArray& bytes);
    // Reads one complete reply; returns its code, or an error code from above.
    int readReply(QByteArray* lastLine = nullptr, QList<QByteArray>* lines = nullptr);
    bool waitForRead();
    bool cancelled() const { return Cancel && Cancel->load(); }
    QByteArray signOnName() const;
    QByteArray envelopeAddress(const QString& address) const;

    std::unique_ptr<QSslSocket> socket_;
    QByteArray buffer_;
    bool verified_ = false;
};

// RFC 2047 encoded words for the words of text that need them. charset names the bytes' charset,
// encoding is "b"/"B" (base64) or "q"/"Q"; "8" returns the text unchanged.
QByteArray EncodeHeaderWords(const QByteArray& text, const QByteArray& charset, const QByteArray& encoding);

// Header field line(s) "Name: value" folded before 78 columns at blanks after ", " separators;
// CR, LF and NUL in the value become blanks.
QByteArray FoldHeader(const QByteArray& name, const QByteArray& value);
// CR, LF and NUL become blanks.
QByteArray CleanHeaderValue(const QByteArray& value);

// Quoted-printable lines (RFC 2045) for text lines, soft breaks keeping lines within 76 characters.
// A leading "-" or "." is encoded, so no output line can look like a boundary.
QList<QByteArray> QuotedPrintableLines(const QList<QByteArray>& lines);

} // namespace zel
