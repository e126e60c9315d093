#include "merge/EntrySpool.h"

#include "source/MailStore.h"

#include <QDir>
#include <QTimeZone>

#include <cstring>

namespace lumivex::merge {

namespace {

using contact::Contact;

template <typename V>
void Fields(V& v, contact::Email& e);
template <typename V>
void Fields(V& v, contact::Phone& p);
template <typename V>
void Fields(V& v, contact::Address& a);
template <typename V>
void Fields(V& v, contact::Member& m);

// Writes values one after another: numbers as they are in memory, texts as their length and
// UTF-16 code units. Only ever read back by the same program, on the same machine.
class Writer {
 public:
  explicit Writer(QByteArray& out) : out_(out) {}
  void Value(const QString& s) {
    Int(static_cast<int32_t>(s.size()));
    out_.append(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
  }
  void Value(const QByteArray& b) {
    Int(static_cast<int32_t>(b.size()));
    out_.append(b);
  }
  void Value(const QStringList& list) {
    Int(static_cast<int32_t>(list.size()));
    for (const QString& s : list) Value(s);
  }
  void Value(const QDateTime& t) {
    const int64_t ms = t.isValid() ? t.toMSecsSinceEpoch() : INT64_MIN;
    out_.append(reinterpret_cast<const char*>(&ms), sizeof ms);
  }
  void Value(bool& b) { Int(b ? 1 : 0); }
  void Value(const contact::Date& d) {
    Int(d.year);
    Int(d.month);
    Int(d.day);
  }
  template <typename E>
  requires std::is_enum_v<E>
  void Value(const E& e) { Int(static_cast<int32_t>(e)); }
  template <typename T>
  void List(const std::vector<T>& list) {
    Int(static_cast<int32_t>(list.size()));
    for (const T& t : list) Fields(*this, const_cast<T&>(t));
  }
  void Int(int32_t v) { out_.append(reinterpret_cast<const char*>(&v), sizeof v); }

 private:
  QByteArray& out_;
};

class Reader {
 public:
  Reader(const char* data, qsizetype size) : at_(data), end_(data + size) {}
  bool ok() const { return ok_; }
  void Value(QString& s) {
    const int32_t n = Int();
    if (!Has(qsizetype(n) * 2)) return;
    s.resize(n);
    std::memcpy(s.data(), at_, size_t(n) * 2);
    at_ += n * 2;
  }
  void Value(QByteArray& b) {
    const int32_t n = Int();
    if (!Has(n)) return;
    b = QByteArray(at_, n);
    at_ += n;
  }
  void Value(QStringList& list) {
    const int32_t n = Int();
    list.clear();
    for (int32_t i = 0; i < n && ok_; ++i) Value(list.emplace_back());
  }
  void Value(QDateTime& t) {
    int64_t ms = 0;
    if (!Has(sizeof ms)) return;
    std::memcpy(&ms, at_, sizeof ms);
    at_ += sizeof ms;
    t = ms == INT64_MIN ? QDateTime() : QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
  }
  void Value(bool& b) { b = Int() != 0; }
  void Value(contact::Date& d) {
    d.year = Int();
    d.month = Int();
    d.day = Int();
  }
  template <typename E>
  requires std::is_enum_v<E>
  void Value(E& e) { e = static_cast<E>(Int()); }
  template <typename T>
  void List(std::vector<T>& list) {
    const int32_t n = Int();
    if (n < 0 || !Has(n)) return;
    list.resize(size_t(n));
    for (T& t : list) Fields(*this, t);
  }
  int32_t Int() {
    int32_t v = 0;
    if (!Has(sizeof v)) return 0;
    std::memcpy(&v, at_, sizeof v);
    at_ += sizeof v;
    return v;
  }

 private:
  bool Has(qsizetype n) {
    if (n >= 0 && end_ - at_ >= n) return true;
    ok_ = false;
    return false;
  }
  const char* at_;
  const char* end_;
  bool ok_ = true;
};

template <typename V>
void Fields(V& v, contact::Email& e) {
  v.Value(e.address);
  v.Value(e.displayName);
  v.Value(e.type);
}
template <typename V>
void Fields(V& v, contact::Phone& p) {
  v.Value(p.kind);
  v.Value(p.number);
}
template <typename V>
void Fields(V& v, contact::Address& a) {
  v.Value(a.kind);
  v.Value(a.street);
  v.Value(a.poBox);
  v.Value(a.city);
  v.Value(a.state);
  v.Value(a.postalCode);
  v.Value(a.country);
  v.Value(a.mailing);
}
template <typename V>
void Fields(V& v, contact::Member& m) {
  v.Value(m.name);
  v.Value(m.address);
}
// Every field of the contact model, in one order for writing and reading.
template <typename V>
void Fields(V& v, Contact& c) {
  v.Value(c.isGroup);
  for (QString* text : {&c.messageClass,    &c.prefix,          &c.givenName,   &c.middleName,
                        &c.surname,         &c.suffix,          &c.displayName, &c.fileAs,
                        &c.nickname,        &c.company,         &c.department,  &c.jobTitle,
                        &c.profession,      &c.officeLocation,  &c.manager,     &c.assistant,
                        &c.businessWebPage, &c.personalWebPage, &c.imAddress,   &c.freeBusyUrl,
                        &c.spouse,          &c.notes,           &c.uid,         &c.photo.mimeType})
    v.Value(*text);
  v.List(c.emails);
  v.List(c.phones);
  v.List(c.addresses);
  v.Value(c.birthday);
  v.Value(c.anniversary);
  v.Value(c.gender);
  v.Value(c.children);
  v.Value(c.categories);
  v.Value(c.photo.data);
  v.Value(c.lastModified);
  v.List(c.members);
}

constexpr qsizetype kBlock = 1 << 20;

}  // namespace

void Encode(const Contact& contact, QByteArray& out) {
  Writer w(out);
  Fields(w, const_cast<Contact&>(contact));  // the writer only reads
}

bool Decode(const char* data, qsizetype size, Contact& out) {
  Reader r(data, size);
  Fields(r, out);
  return r.ok();
}

EntrySpool::EntrySpool() : file_(QDir::tempPath() + QStringLiteral("/lumivex-merge-XXXXXX")) {
  if (!file_.open())
    throw StoreError(QStringLiteral("Cannot create a temporary file in %1 to merge in: %2")
                         .arg(QDir::tempPath(), file_.errorString())
                         .toStdString());
  buffer_.reserve(kBlock * 2);
  offsets_.push_back(0);
}

void EntrySpool::Add(const Contact& contact) {
  Encode(contact, buffer_);
  offsets_.push_back(written_ + buffer_.size());
  if (buffer_.size() >= kBlock) Flush();
}

void EntrySpool::Flush() {
  if (file_.write(buffer_) != buffer_.size())
    throw StoreError(QStringLiteral("Cannot write the temporary file %1 to merge in: %2. Free "
                                    "some disk space there or set TMPDIR to another folder")
                         .arg(file_.fileName(), file_.errorString())
                         .toStdString());
  written_ += buffer_.size();
  buffer_.clear();
}

void EntrySpool::Finish() {
  Flush();
  if (!file_.flush())
    throw StoreError(QStringLiteral("Cannot write the temporary file %1 to merge in: %2")
                         .arg(file_.fileName(), file_.errorString())
                         .toStdString());
  buffer_at_ = 0;
  buffer_.clear();
}

void EntrySpool::Take(uint32_t index, Contact& out) {
  const int64_t at = offsets_[index];
  const int64_t size = offsets_[index + 1] - at;
  const int64_t window_end = buffer_at_ + buffer_.size();
  auto read = [&](QByteArray& into, int64_t from, int64_t length) {
    into.resize(length);
    const qint64 got = file_.seek(from) ? file_.read(into.data(), length) : -1;
    into.resize(std::max<qint64>(got, 0));
  };
  const char* data = nullptr;
  QByteArray single;
  if (at >= buffer_at_ && at + size <= window_end) {
    data = buffer_.constData() + (at - buffer_at_);
  } else if (at >= window_end && at < window_end + kBlock) {
    // Entries are mostly taken in the order they were added: the file is read a window ahead.
    read(buffer_, at, std::max<int64_t>(kBlock, size));
    buffer_at_ = at;
    if (buffer_.size() >= size) data = buffer_.constData();
  } else {
    // An entry of a group whose others came long before: read on its own, the window kept.
    read(single, at, size);
    if (single.size() == size) data = single.constData();
  }
  if (!data || !Decode(data, size, out))
    throw StoreError(QStringLiteral("Cannot read back the temporary file %1 the merge uses: %2")
                         .arg(file_.fileName(), file_.errorString())
                         .toStdString());
}

}  // namespace lumivex::merge
