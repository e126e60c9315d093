#include "destination/CardDav.h"

#include "destination/TrustedCertificates.h"

#include <QAuthenticator>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslError>
#include <QTimer>
#include <QXmlStreamReader>

#include <QDateTime>

#include <algorithm>
#include <climits>
#include <optional>
#include <utility>
#include <vector>

namespace lumivex::destination {

namespace {

constexpr char kDav[] = "DAV:";
constexpr char kCardDav[] = "urn:ietf:params:xml:ns:carddav";
// Pauses before the second, third and fourth try of a request that got no answer or a
// "try later" one; then it counts as failed.
constexpr int kRetryPauseMs[] = {250, 750, 2000};
constexpr int kRedirects = 5;
// A server silent this long (connecting, or between the bytes of its answer) is not waited for.
constexpr int kAnswerTimeoutMs = 30000;
// The longest pause a server's Retry-After is honoured with; one asking for more is not tried
// again in this send.
constexpr int kRetryAfterBound = 30;

[[noreturn]] void Fail(const QString& message, Remedy remedy = Remedy::kNone) {
  throw DestinationError(message, remedy);
}

QString HostOf(const QUrl& url) {
  return url.port() > 0 ? QStringLiteral("%1:%2").arg(url.host()).arg(url.port()) : url.host();
}

// An answer worth trying again: none at all, or the server saying it is busy for now.
bool Transient(const DavResponse& r) {
  if (r.sslError || r.timedOut || r.stopped) return false;
  if (r.status == 0) return true;
  return r.status == 408 || r.status == 429 || r.status == 502 || r.status == 503 ||
         r.status == 504;
}

// Retry-After: seconds, or the HTTP date to try again from (RFC 9110); -1 when absent or unread.
int RetryAfterSeconds(const QByteArray& value) {
  const QByteArray v = value.trimmed();
  if (v.isEmpty()) return -1;
  bool number = false;
  const qint64 seconds = v.toLongLong(&number);
  if (number) return seconds < 0 ? -1 : static_cast<int>(std::min<qint64>(seconds, INT_MAX / 1000));
  const QDateTime when = QDateTime::fromString(QString::fromLatin1(v), Qt::RFC2822Date);
  if (!when.isValid()) return -1;
  return static_cast<int>(
      std::clamp<qint64>(QDateTime::currentDateTimeUtc().secsTo(when), 0, INT_MAX / 1000));
}

// Errors of the connection itself (refused, closed, timed out, TLS, proxy) and of the HTTP
// framing, as against an HTTP status the server chose to send.
bool ConnectionError(QNetworkReply::NetworkError error) {
  return (error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied) ||
         error == QNetworkReply::ProtocolFailure;
}

// Why an answer that came is not whole, or empty when it is: fewer bytes than its Content-Length
// said (the length checked when the body came as sent, not unpacked by Qt), or a multi-status
// body whose XML breaks off.
QString CutShort(const QNetworkReply& reply, const DavResponse& r) {
  bool known = false;
  const qint64 length = reply.rawHeader("Content-Length").toLongLong(&known);
  if (known && reply.rawHeader("Content-Encoding").isEmpty() && r.body.size() < length)
    return QStringLiteral("the answer was cut short: %1 of its %2 bytes came")
        .arg(r.body.size())
        .arg(length);
  if (r.status == 207) {
    QXmlStreamReader xml(r.body);
    while (!xml.atEnd()) xml.readNext();
    if (xml.hasError())
      return QStringLiteral("the answer was cut short or garbled (its XML: %1)")
          .arg(xml.errorString());
  }
  return {};
}

QByteArray PropfindBody(const char* props) {
  return QByteArray(
             "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
             "<D:propfind xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:carddav\"><D:prop>") +
         props + "</D:prop></D:propfind>";
}

const DavClient::Headers kXml = {{"Content-Type", "application/xml; charset=utf-8"}};

DavClient::Headers Depth(const char* depth) {
  DavClient::Headers h = kXml;
  h.append(qMakePair(QByteArray("Depth"), QByteArray(depth)));
  return h;
}

QString LastPart(const QString& path) {
  QString p = path;
  while (p.endsWith(u'/')) p.chop(1);
  return p.mid(p.lastIndexOf(u'/') + 1);
}

QString XmlEscaped(const QString& text) {
  return text.toHtmlEscaped();
}

// The account with user@host taken apart: the user (unless named apart) and the host over HTTPS.
// A login written into the address is the account's, unless given apart.
CardDavAccount Resolved(CardDavAccount a) {
  const AddressLogin login = TakeLogin(a.address);
  if (a.user.isEmpty()) a.user = login.user;
  if (a.password.isEmpty()) a.password = login.password;
  QString address = login.address;
  if (!address.contains(u"://")) {
    const qsizetype at = address.lastIndexOf(u'@');
    if (at >= 0) {
      if (a.user.isEmpty()) a.user = address.left(at);
      address = address.mid(at + 1);
    }
    address = QStringLiteral("https://") + address;
  }
  a.address = address;
  return a;
}

// The same scheme, host and port (the scheme's own port where none is written).
bool SameServer(const QUrl& a, const QUrl& b) {
  const auto port = [](const QUrl& url) {
    return url.port(url.scheme().compare(u"https", Qt::CaseInsensitive) == 0 ? 443 : 80);
  };
  return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
         a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && port(a) == port(b);
}

bool SamePath(QString a, QString b) {
  while (a.endsWith(u'/')) a.chop(1);
  while (b.endsWith(u'/')) b.chop(1);
  return a == b;
}

}  // namespace

AddressLogin TakeLogin(const QString& address) {
  AddressLogin out{address.trimmed(), {}, {}};
  qsizetype start = 0;  // where what may be a login begins
  if (const qsizetype scheme = out.address.indexOf(u"://"); scheme >= 0) {
    const QUrl url(out.address);
    // A password holding "#", "/", "?" or "@" breaks the address apart where it stands (a port
    // that is no number, a fragment): taken out by hand below, up to the last "@", so that it
    // never stays in an address that is passed on or shown. A book's address has no fragment.
    if (url.isValid() && !url.hasFragment()) {
      if (url.userInfo().isEmpty()) return out;
      out.user = url.userName(QUrl::FullyDecoded);
      out.password = url.password(QUrl::FullyDecoded);
      out.address = url.adjusted(QUrl::RemoveUserInfo).toString();
      return out;
    }
    start = scheme + 3;
  }
  qsizetype at = out.address.lastIndexOf(u'@');
  if (at < start) return out;
  if (start > 0) {
    // The "@" that ends the login is one a host (and port) follows up to "/" or the end (a
    // book's address has neither query nor fragment); an "@" in the path (a user named by an
    // e-mail address) may be followed by a host too.
    const auto hostFollows = [&](qsizetype from) {
      static const QRegularExpression host(
          QStringLiteral(R"((?:[A-Za-z0-9._~-]+|\[[0-9A-Fa-f:.]+\])(?::[0-9]{1,5})?(?:/|\z))"));
      return host
          .match(out.address, from, QRegularExpression::NormalMatch,
                 QRegularExpression::AnchorAtOffsetMatchOption)
          .hasMatch();
    };
    std::vector<qsizetype> ends;
    for (qsizetype i = out.address.indexOf(u'@', start); i >= 0;
         i = out.address.indexOf(u'@', i + 1))
      if (hostFollows(i + 1)) ends.push_back(i);
    if (ends.size() > 1) {
      out.address = out.address.left(start);
      out.ambiguous = true;
      return out;
    }
    if (ends.size() == 1) at = ends.front();
    const QString login = out.address.mid(start, at - start);
    const qsizetype colon = login.indexOf(u':');
    out.user = QUrl::fromPercentEncoding((colon < 0 ? login : login.left(colon)).toUtf8());
    if (colon >= 0) out.password = QUrl::fromPercentEncoding(login.mid(colon + 1).toUtf8());
    out.address = out.address.left(start) + out.address.mid(at + 1);
    return out;
  }
  const QString login = out.address.left(at);
  const qsizetype colon = login.indexOf(u':');
  out.user = colon < 0 ? login : login.left(colon);
  if (colon >= 0) out.password = login.mid(colon + 1);
  out.address = out.user + out.address.mid(at);
  return out;
}

std::vector<DavEntry> ParseMultistatus(const QByteArray& body) {
  std::vector<DavEntry> out;
  QXmlStreamReader xml(body);
  DavEntry entry;
  bool inResponse = false;
  bool okStatus = true;  // the propstat's status; props are taken only from a 200
  DavEntry props;        // the props of the propstat being read
  QStringList path;      // the names of the open elements below <response>
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isStartElement()) {
      const QStringView ns = xml.namespaceUri();
      const QStringView name = xml.name();
      if (ns == QLatin1String(kDav) && name == u"response") {
        inResponse = true;
        entry = DavEntry();
        path.clear();
        continue;
      }
      if (!inResponse) continue;
      const QString parent = path.isEmpty() ? QString() : path.last();
      path.append(name.toString());
      if (ns == QLatin1String(kDav) && name == u"propstat") {
        props = DavEntry();
        okStatus = true;
      } else if (ns == QLatin1String(kDav) && name == u"href" && path.size() == 1) {
        entry.href = QUrl::fromPercentEncoding(xml.readElementText().trimmed().toUtf8());
        path.removeLast();
      } else if (ns == QLatin1String(kDav) && name == u"status") {
        const QString status = xml.readElementText();
        okStatus = status.contains(u" 200");
        path.removeLast();
      } else if (ns == QLatin1String(kDav) && name == u"getetag") {
        props.etag = xml.readElementText().trimmed().toUtf8();
        path.removeLast();
      } else if (ns == QLatin1String(kDav) && name == u"displayname") {
        props.displayName = xml.readElementText().trimmed();
        path.removeLast();
      } else if (ns == QLatin1String(kDav) && name == u"collection" && parent == u"resourcetype") {
        props.collection = true;
      } else if (ns == QLatin1String(kCardDav) && name == u"addressbook" &&
                 parent == u"resourcetype") {
        props.addressBook = true;
      } else if (ns == QLatin1String(kCardDav) && name == u"address-data-type") {
        if (xml.attributes().value(QLatin1String("version")) == u"4.0") props.vcard4 = true;
      } else if (ns == QLatin1String(kCardDav) && name == u"address-data") {
        props.addressData = xml.readElementText().toUtf8();
        path.removeLast();
      } else if (ns == QLatin1String(kDav) && name == u"href" &&
                 (parent == u"current-user-principal" || parent == u"addressbook-home-set")) {
        const QString href = QUrl::fromPercentEncoding(xml.readElementText().trimmed().toUtf8());
        if (parent == u"current-user-principal")
          props.principal = href;
        else if (props.home.isEmpty())
          props.home = href;
        path.removeLast();
      }
    } else if (xml.isEndElement() && inResponse) {
      if (xml.namespaceUri() == QLatin1String(kDav) && xml.name() == u"response") {
        inResponse = false;
        out.push_back(std::move(entry));
        continue;
      }
      if (xml.namespaceUri() == QLatin1String(kDav) && xml.name() == u"propstat" && okStatus) {
        if (!props.etag.isEmpty()) entry.etag = props.etag;
        if (!props.displayName.isEmpty()) entry.displayName = props.displayName;
        entry.collection |= props.collection;
        entry.addressBook |= props.addressBook;
        entry.vcard4 |= props.vcard4;
        if (!props.principal.isEmpty()) entry.principal = props.principal;
        if (!props.home.isEmpty()) entry.home = props.home;
        if (!props.addressData.isEmpty()) entry.addressData = props.addressData;
      }
      if (!path.isEmpty()) path.removeLast();
    }
  }
  return out;
}

QString DavErrorElement(const QByteArray& body) {
  QXmlStreamReader xml(body);
  bool inError = false;
  while (!xml.atEnd()) {
    xml.readNext();
    if (!xml.isStartElement()) continue;
    if (!inError) {
      if (xml.namespaceUri() != QLatin1String(kDav) || xml.name() != u"error") return {};
      inError = true;
      continue;
    }
    const QString prefix = xml.namespaceUri() == QLatin1String(kDav) ? QStringLiteral("DAV")
                           : xml.namespaceUri() == QLatin1String(kCardDav)
                               ? QStringLiteral("CARDDAV")
                               : xml.namespaceUri().toString();
    return prefix + u':' + xml.name().toString();
  }
  return {};
}

QString DescribeFailure(const DavResponse& r, const QUrl& url) {
  if (r.sslError)
    return QStringLiteral("the certificate of %1 (SHA-256 fingerprint %2) is not trusted (%3)")
        .arg(HostOf(url), FingerprintText(r.peerSha256), r.networkError);
  if (r.cut)
    return QStringLiteral("the answer of %1 broke off (%2)").arg(HostOf(url), r.networkError);
  if (r.timedOut)
    return QStringLiteral("%1 sent no answer within %2 seconds")
        .arg(HostOf(url))
        .arg(kAnswerTimeoutMs / 1000);
  if (r.status == 0)
    return QStringLiteral("no answer from %1 (%2)").arg(HostOf(url), r.networkError);
  QString text = QStringLiteral("HTTP %1").arg(r.status);
  if (!r.reasonPhrase.isEmpty()) text += u' ' + r.reasonPhrase;
  const QString element = DavErrorElement(r.body);
  if (!element.isEmpty()) text += QStringLiteral(" (%1)").arg(element);
  if (r.retryAfter > kRetryAfterBound)
    text += QStringLiteral(" (it asks to be tried again in %1 seconds, longer than a send waits)")
                .arg(r.retryAfter);
  return text;
}

Remedy RemedyOf(const DavResponse& r) {
  return r.status == 0 && !r.sslError && !r.stopped ? Remedy::kNetwork : Remedy::kNone;
}

struct DavClient::Job {
  QByteArray verb;
  QUrl url;
  QByteArray body;
  Headers headers;
  Done done;
  int tries = 0;
  bool authTried = false;
};

DavClient::DavClient(const CardDavAccount& account)
    : manager_(std::make_unique<QNetworkAccessManager>()),
      user_(account.user),
      password_(account.password),
      secure_(!TakeLogin(account.address).address.startsWith(u"http://", Qt::CaseInsensitive)),
      origin_(Resolved(account).address),
      ssl_(QSslConfiguration::defaultConfiguration()),
      trusted_(TrustedCertificates()),
      inFlight_(std::max(1, account.inFlight)) {
  if (!account.caFile.isEmpty()) {
    QFile file(account.caFile);
    if (!file.open(QIODevice::ReadOnly))
      Fail(
          QStringLiteral("Cannot read the CA file %1: %2").arg(account.caFile, file.errorString()));
    const QList<QSslCertificate> cas = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    if (cas.isEmpty())
      Fail(QStringLiteral("The CA file %1 holds no PEM certificate").arg(account.caFile));
    ssl_.addCaCertificates(cas);
  }
  // Redirects are followed by the caller (discovery), which must see where it was sent.
  manager_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
  // A certificate no authority vouches for: noted for the message, and taken when it is
  // exactly the one the user trusts for this server.
  QObject::connect(manager_.get(), &QNetworkAccessManager::sslErrors,
                   [this](QNetworkReply* reply, const QList<QSslError>& errors) {
                     QSslCertificate peer = reply->sslConfiguration().peerCertificate();
                     for (const QSslError& e : errors)
                       if (peer.isNull()) peer = e.certificate();
                     if (peer.isNull()) return;
                     const QByteArray digest = peer.digest(QCryptographicHash::Sha256);
                     reply->setProperty("lumivexPeer", digest);
                     if (trusted_.value(ServerOf(reply->url())) == digest) reply->ignoreSslErrors();
                   });
  QObject::connect(manager_.get(), &QNetworkAccessManager::authenticationRequired,
                   [this](QNetworkReply* reply, QAuthenticator* auth) {
                     // Credentials go once per request: a second challenge means they were
                     // refused, and the reply ends with 401.
                     if (reply->property("lumivexAuthTried").toBool()) return;
                     reply->setProperty("lumivexAuthTried", true);
                     if (secure_ && reply->url().scheme().compare(u"https", Qt::CaseInsensitive))
                       return;  // refused (401) rather than sent in the clear
                     if (!LoginMayGoTo(reply->url()))
                       return;  // refused (401) rather than sent to another server
                     auth->setUser(user_);
                     auth->setPassword(password_);
                   });
}

DavClient::~DavClient() = default;

bool DavClient::LoginMayGoTo(const QUrl& url) const {
  // Also the same host over https where http on its own port was named: the commonest redirect
  // of all, and no less safe than the address named.
  const bool upgrade =
      origin_.scheme().compare(u"http", Qt::CaseInsensitive) == 0 && origin_.port(80) == 80 &&
      url.scheme().compare(u"https", Qt::CaseInsensitive) == 0 && url.port(443) == 443 &&
      url.host().compare(origin_.host(), Qt::CaseInsensitive) == 0;
  return (user_.isEmpty() && password_.isEmpty()) || SameServer(url, origin_) || upgrade;
}

void DavClient::Submit(const QByteArray& verb, const QUrl& url, const QByteArray& body,
                       const Headers& headers, Done done) {
  auto job = std::make_shared<Job>(Job{verb, url, body, headers, std::move(done)});
  if (running_ < inFlight_)
    Start(job);
  else
    queue_.push_back(std::move(job));
}

void DavClient::Start(const std::shared_ptr<Job>& job) {
  ++running_;
  ++job->tries;
  ++counts_[job->verb];
  QNetworkRequest request(job->url);
  request.setSslConfiguration(ssl_);
  request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
  request.setTransferTimeout(kAnswerTimeoutMs);
  request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Lumivex"));
  for (const auto& [name, value] : job->headers) request.setRawHeader(name, value);
  QNetworkReply* reply = manager_->sendCustomRequest(request, job->verb, job->body);
  replies_.insert(reply);
  QObject::connect(reply, &QNetworkReply::finished, [this, job, reply] { Finished(job, reply); });
}

void DavClient::Finished(const std::shared_ptr<Job>& job, QNetworkReply* reply) {
  reply->deleteLater();
  replies_.remove(reply);
  --running_;
  DavResponse r;
  r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  r.reasonPhrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
  if (reply->isOpen()) r.body = reply->readAll();  // an aborted reply is closed
  r.etag = reply->rawHeader("ETag");
  r.location = reply->rawHeader("Location");
  r.retryAfter = RetryAfterSeconds(reply->rawHeader("Retry-After"));
  const QNetworkReply::NetworkError error = reply->error();
  if (ConnectionError(error)) {
    // No answer, or one broken off after its first lines: never taken for the server's word.
    r.status = 0;
    r.networkError = reply->errorString();
    r.sslError = error == QNetworkReply::SslHandshakeFailedError;
    r.peerSha256 = reply->property("lumivexPeer").toByteArray();
    r.cut = error == QNetworkReply::RemoteHostClosedError && !r.body.isEmpty();
    if (error == QNetworkReply::OperationCanceledError) {
      // Aborted by Stop, else by the answer timeout.
      r.stopped = stopped_;
      r.timedOut = !stopped_;
      r.networkError =
          stopped_ ? QStringLiteral("stopped")
                   : QStringLiteral("no answer within %1 seconds").arg(kAnswerTimeoutMs / 1000);
    }
  } else if (const QString cut = CutShort(*reply, r); !cut.isEmpty()) {
    r.status = 0;
    r.networkError = cut;
    r.cut = true;
  }
  const int attempt = job->tries - 1;
  if (!stopped_ && Transient(r) && attempt < static_cast<int>(std::size(kRetryPauseMs)) &&
      r.retryAfter <= kRetryAfterBound) {
    // The server's own pause when it names one, within the bound; else ours.
    const int pause = std::max(kRetryPauseMs[attempt], r.retryAfter * 1000);
    ++running_;  // still ours while it waits; never sooner than asked (a coarse timer may be)
    QTimer::singleShot(pause, Qt::PreciseTimer, manager_.get(), [this, job] {
      --running_;
      if (stopped_)
        Complete(job, Stopped());
      else
        Start(job);
    });
    return;
  }
  Complete(job, r);
}

DavResponse DavClient::Stopped() {
  DavResponse r;
  r.stopped = true;
  r.networkError = QStringLiteral("stopped");
  return r;
}

void DavClient::Complete(const std::shared_ptr<Job>& job, const DavResponse& r) {
  ++finished_;
  if (!queue_.empty() && running_ < inFlight_) {
    auto next = std::move(queue_.front());
    queue_.pop_front();
    if (stopped_)
      Complete(next, Stopped());
    else
      Start(next);
  }
  job->done(r);
}

void DavClient::Stop(bool abortRunning) {
  if (stopped_ && !abortRunning) return;
  stopped_ = true;
  if (abortRunning)
    for (QNetworkReply* reply : QSet<QNetworkReply*>(replies_)) reply->abort();
  while (!queue_.empty()) {
    auto next = std::move(queue_.front());
    queue_.pop_front();
    Complete(next, Stopped());
  }
}

void DavClient::WaitAny() {
  if (Pending() == 0) return;
  const int before = finished_;
  QEventLoop loop;
  // Asked often enough that a stop is seen at once, whatever the server does meanwhile.
  QTimer watch;
  if (cancel_) {
    QObject::connect(&watch, &QTimer::timeout, [this] {
      if (cancel_()) Stop(inRun_);
    });
    watch.start(100);
  }
  while (finished_ == before && Pending() > 0) loop.processEvents(QEventLoop::WaitForMoreEvents);
}

void DavClient::WaitAll() {
  while (Pending() > 0) WaitAny();
}

DavResponse DavClient::Run(const QByteArray& verb, const QUrl& url, const QByteArray& body,
                           const Headers& headers) {
  DavResponse out;
  bool done = false;
  if (stopped_ || (cancel_ && cancel_())) {
    Stop(false);
    throw SendStopped();
  }
  Submit(verb, url, body, headers, [&](const DavResponse& r) {
    out = r;
    done = true;
  });
  // Nothing is changed by the requests run one at a time: they are given up at once.
  const bool wasInRun = std::exchange(inRun_, true);
  while (!done) WaitAny();
  inRun_ = wasInRun;
  if (out.stopped) throw SendStopped();
  return out;
}

CardDavAccountSession::CardDavAccountSession(const CardDavAccount& account)
    : base_(QUrl(Resolved(account).address)), client_(Resolved(account)) {
  if (!base_.isValid() || base_.host().isEmpty() ||
      (base_.scheme() != u"https" && base_.scheme() != u"http"))
    Fail(QStringLiteral("\"%1\" is not a server address: give an http(s):// URL or user@host")
             .arg(TakeLogin(account.address).address));
  if (base_.path().isEmpty()) base_.setPath(QStringLiteral("/"));
}

void CardDavAccountSession::Discover() {
  if (discovered_) return;
  discovered_ = true;
  const QByteArray props = PropfindBody(
      "<D:resourcetype/><D:displayname/><D:current-user-principal/><C:addressbook-home-set/>"
      "<C:supported-address-data/>");
  // Asks `url` about itself, following redirects; the entry about it, or none.
  const auto ask = [&](QUrl url, bool required) -> std::optional<DavEntry> {
    for (int i = 0; i <= kRedirects; ++i) {
      const DavResponse r = client_.Run("PROPFIND", url, props, Depth("0"));
      if (r.status == 401)
        Fail(QStringLiteral("%1 refused the user name or password (HTTP 401)").arg(HostOf(url)),
             Remedy::kCredentials);
      // A TLS failure before any certificate came: no TLS server there at all.
      if (r.sslError && r.peerSha256.isEmpty())
        Fail(QStringLiteral("%1 does not answer in HTTPS (%2): if this port serves plain HTTP, "
                            "write the address with http:// (the password then crosses the "
                            "network unencrypted)")
                 .arg(HostOf(url), r.networkError));
      if (r.sslError)
        throw DestinationError(
            QStringLiteral("Cannot connect safely: %1").arg(DescribeFailure(r, url)),
            Remedy::kTrustCertificate, UntrustedCertificate{ServerOf(url), r.peerSha256});
      if (r.cut)
        throw DestinationError(
            QStringLiteral("The CardDAV server's answers break off: %1")
                .arg(DescribeFailure(r, url)),
            QStringLiteral("Try again later; if it keeps happening, the server or a proxy before "
                           "it cuts them short"),
            Remedy::kNetwork);
      if (r.timedOut)
        throw DestinationError(DescribeFailure(r, url),
                               QStringLiteral("Check that the address (and its port) is the "
                                              "CardDAV server's; if it is, the server is stuck: "
                                              "try again later"),
                               Remedy::kNetwork);
      if (r.status == 0)
        throw DestinationError(
            QStringLiteral("Cannot reach the CardDAV server: %1").arg(DescribeFailure(r, url)),
            QStringLiteral("Check the address and that the server is running"), Remedy::kNetwork);
      if (r.status >= 300 && r.status < 400 && !r.location.isEmpty()) {
        const QUrl next = url.resolved(QUrl::fromEncoded(r.location));
        if (url.scheme().compare(u"https", Qt::CaseInsensitive) == 0 &&
            next.scheme().compare(u"https", Qt::CaseInsensitive) != 0)
          Fail(QStringLiteral("%1 sends us on to %2, which is not encrypted: the user name and "
                              "password would travel in the clear there, so the send stops. Give "
                              "the https address of the address book")
                   .arg(HostOf(url), next.adjusted(QUrl::RemoveUserInfo).toString()));
        StayOnServer(url, next, QStringLiteral("sends us on to"));
        url = next;
        continue;
      }
      if (r.status == 207) {
        const std::vector<DavEntry> entries = ParseMultistatus(r.body);
        for (const DavEntry& e : entries) {
          if (entries.size() != 1 && !SamePath(QUrl(e.href).path(), url.path())) continue;
          DavEntry found = e;
          found.href = url.resolved(QUrl(e.href)).toString();
          return found;
        }
      }
      if (required)
        Fail(QStringLiteral("%1 does not answer as a CardDAV server (%2 for %3)")
                 .arg(HostOf(url), DescribeFailure(r, url), url.toString()));
      return std::nullopt;
    }
    Fail(QStringLiteral("%1 sends us round in redirects").arg(HostOf(url)));
  };
  std::optional<DavEntry> start = ask(base_, false);
  if (!start || (!start->addressBook && start->principal.isEmpty() && start->home.isEmpty()))
    start = ask(base_.resolved(QUrl(QStringLiteral("/.well-known/carddav"))), true);
  const QUrl startUrl(start->href);
  StayOnServer(base_, startUrl, QStringLiteral("names as its own address"));
  if (start->addressBook) {
    books_.push_back({startUrl,
                      start->displayName.isEmpty() ? LastPart(startUrl.path()) : start->displayName,
                      start->vcard4});
    return;
  }
  QString home = start->home;
  if (home.isEmpty() && !start->principal.isEmpty()) {
    const QUrl principalUrl = startUrl.resolved(QUrl(start->principal));
    StayOnServer(startUrl, principalUrl, QStringLiteral("names as the account's principal"));
    const std::optional<DavEntry> principal = ask(principalUrl, true);
    home = principal->home;
  }
  if (home.isEmpty())
    Fail(QStringLiteral("%1 names no address-book home for user \"%2\": give the address book's "
                        "own URL")
             .arg(HostOf(base_), client_.User()));
  home_ = startUrl.resolved(QUrl(home));
  StayOnServer(startUrl, home_, QStringLiteral("names as the account's address-book home"));
  const DavResponse r = client_.Run(
      "PROPFIND", home_,
      PropfindBody("<D:resourcetype/><D:displayname/><C:supported-address-data/>"), Depth("1"));
  if (r.status != 207)
    Fail(QStringLiteral("Cannot list the address books at %1: %2")
             .arg(home_.toString(), DescribeFailure(r, home_)),
         RemedyOf(r));
  for (const DavEntry& e : ParseMultistatus(r.body)) {
    if (!e.addressBook) continue;
    const QUrl url = home_.resolved(QUrl(e.href));
    StayOnServer(home_, url, QStringLiteral("names as an address book"));
    books_.push_back(
        {url, e.displayName.isEmpty() ? LastPart(url.path()) : e.displayName, e.vcard4});
  }
}

void CardDavAccountSession::StayOnServer(const QUrl& from, const QUrl& to,
                                         const QString& what) const {
  if (!client_.LoginMayGoTo(to))
    Fail(QStringLiteral("%1 %2 %3, another server: the user name and password are not sent there")
             .arg(HostOf(from), what, to.adjusted(QUrl::RemoveUserInfo).toString()),
         Remedy::kOtherServer);
}

std::vector<AddressBookInfo> CardDavAccountSession::Books() {
  Discover();
  return books_;
}

AddressBookInfo CardDavAccountSession::Book(const QString& name) {
  Discover();
  QStringList names;
  for (const AddressBookInfo& b : books_) {
    if (!name.isEmpty() && (b.name == name || LastPart(b.url.path()) == name)) return b;
    names.append(QStringLiteral("\"%1\"").arg(b.name));
  }
  if (name.isEmpty() && books_.size() == 1) return books_.front();
  if (books_.empty())
    Fail(QStringLiteral("%1 holds no address book for this user").arg(HostOf(base_)),
         Remedy::kNewBook);
  if (name.isEmpty())
    Fail(QStringLiteral("%1 holds several address books (%2)")
             .arg(HostOf(base_), names.join(QStringLiteral(", "))),
         Remedy::kChooseBook);
  Fail(QStringLiteral("%1 holds no address book named \"%2\" (there are %3)")
           .arg(HostOf(base_), name, names.join(QStringLiteral(", "))),
       Remedy::kNewBook);
}

AddressBookInfo CardDavAccountSession::CreateBook(const QString& name) {
  Discover();
  for (const AddressBookInfo& b : books_)
    if (b.name == name || LastPart(b.url.path()) == name) return b;
  if (home_.isEmpty())
    Fail(
        QStringLiteral("%1 names no address-book home to make \"%2\" in").arg(HostOf(base_), name));
  // The path part: the name's letters and digits, else a fixed word.
  QString slug;
  for (const QChar c : name.toLower())
    slug += (c.isLetterOrNumber() && c.unicode() < 128) || c == u'-' ? c : u'-';
  if (slug.isEmpty() || slug.count(u'-') == slug.size()) slug = QStringLiteral("contacts");
  QUrl url = home_.resolved(QUrl(slug + u'/'));
  const QByteArray body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<D:mkcol xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:carddav\"><D:set><D:prop>"
      "<D:resourcetype><D:collection/><C:addressbook/></D:resourcetype><D:displayname>" +
      XmlEscaped(name).toUtf8() + "</D:displayname></D:prop></D:set></D:mkcol>";
  const DavResponse r = client_.Run("MKCOL", url, body, kXml);
  if (r.status == 401)
    Fail(QStringLiteral("%1 refused the user name or password (HTTP 401)").arg(HostOf(url)),
         Remedy::kCredentials);
  if (!r.Ok())
    Fail(QStringLiteral("Cannot make the address book \"%1\" at %2: %3")
             .arg(name, url.toString(), DescribeFailure(r, url)),
         RemedyOf(r));
  AddressBookInfo book{url, name, false};
  // The new book's supported forms.
  const DavResponse p =
      client_.Run("PROPFIND", url, PropfindBody("<C:supported-address-data/>"), Depth("0"));
  for (const DavEntry& e : ParseMultistatus(p.body)) book.vcard4 |= e.vcard4;
  books_.push_back(book);
  return book;
}

}  // namespace lumivex::destination
