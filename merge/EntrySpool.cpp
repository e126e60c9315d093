#include "merge/EntrySpool.h"

#include "contact/TextOut.h"
#include "source/MailStore.h"

#include <QTimeZone>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace lumivex::merge {

namespace {

using contact::Contact;

// Where the parts of what an entry holds (EntryBytes) lie in the bytes Encode wrote into.
struct HeldParts {
  qsizetype from[2] = {}, to[2] = {};
};

template <typename V>
void Fields(V& v, contact::Email& e);
template <typename V>
void Fields(V& v, contact::Phone& p);
template <typename V>
void Fields(V& v, contact::Address& a);
template <typename V>
void Fields(V& v, contact::Member& m);

// Writes values one after another: numbers as they are in memory, texts as their length and
// code units, one byte a unit where every unit of the text is below 0x100 (most texts), else two.
// Only ever read back by the same program, on the same machine.
//
// Writes through pointers of its own into `out`, the room grown ahead in large steps and only
// checked against a bound: the byte array's own data() checks on every value whether it must
// be copied first, which took a fifth of the writing.
class Writer {
 public:
  explicit Writer(QByteArray& out) : out_(out) {
    const qsizetype used = out.size();
    if (out.capacity() > used) out.resize(out.capacity());  // keeps the room it has
    Reset(used);
  }
  ~Writer() { out_.resize(at_ - begin_); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // A text: its length and a flag (bit 0: one byte a character) as a varint, then the text.
  // The text is packed to bytes as it is checked; where a unit of 0x100 or above turns up, the
  // flag is cleared and the units are copied as they are instead.
  [[gnu::always_inline]] void Value(const QString& s) {
    const qsizetype n = s.size();
    const auto* units = reinterpret_cast<const char16_t*>(s.constData());
    Room(10 + 2 * n);
    // Through a local pointer: a byte written through at_ could be at_ itself, so the compiler
    // would load at_ again after every byte.
    char* const head = at_;
    char* to = Size(head, uint64_t(n) << 1 | 1);
    qsizetype i = 0;
    char16_t high = 0;
#ifdef __SSE2__
    const __m128i mask = _mm_set1_epi16(static_cast<short>(0xFF00));
    if (n >= 8) {
      // Eight at a time, the last eight overlapping those before where n is no multiple.
      for (;; i += 8) {
        if (i + 8 > n) i = n - 8;
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, mask), _mm_setzero_si128())) !=
            0xFFFF) {
          high = 0x100;
          break;
        }
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to + i), _mm_packus_epi16(v, v));
        if (i + 8 == n) break;
      }
      i = n;
    } else if (n >= 4) {
      // Four and four, the two overlapping where n is below eight.
      for (const qsizetype from : {qsizetype(0), n - 4}) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(units + from));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, mask), _mm_setzero_si128())) !=
            0xFFFF) {
          high = 0x100;
          break;
        }
        const int packed = _mm_cvtsi128_si32(_mm_packus_epi16(v, v));
        std::memcpy(to + from, &packed, 4);
      }
      i = n;
    }
#endif
    for (; i < n && high < 0x100; ++i) {
      high |= units[i];
      to[i] = static_cast<char>(units[i]);
    }
    if (high < 0x100) {
      at_ = to + n;
      return;
    }
    *head &= ~1;  // the flag is bit 0 of the varint's first byte
    std::memcpy(to, units, size_t(n) * 2);
    at_ = to + n * 2;
  }
  // Texts of which most are empty in most entries: a bit for each that is not, then those.
  template <size_t N>
  void Texts(const std::array<QString*, N>& texts) {
    static_assert(N <= 32);
    // The bits written once the texts are: room kept for them first.
    Room(sizeof(uint32_t));
    const qsizetype bits = at_ - begin_;
    at_ += sizeof(uint32_t);
    uint32_t present = 0;
    for (size_t i = 0; i < N; ++i)
      if (!texts[i]->isEmpty()) {
        present |= uint32_t(1) << i;
        Value(*texts[i]);
      }
    std::memcpy(begin_ + bits, &present, sizeof present);
  }
  void Value(const QByteArray& b) {
    Room(10 + b.size());
    Size(uint64_t(b.size()));
    Bytes(b.constData(), b.size());
  }
  [[gnu::always_inline]] void Value(const QStringList& list) {
    Room(10);
    Size(uint64_t(list.size()));
    for (const QString& s : list) Value(s);
  }
  [[gnu::always_inline]] void Value(const QDateTime& t) {
    const int64_t ms = t.isValid() ? t.toMSecsSinceEpoch() : INT64_MIN;
    Room(sizeof ms);
    Bytes(reinterpret_cast<const char*>(&ms), sizeof ms);
  }
  void Value(bool& b) {
    Room(1);
    *at_++ = b ? 1 : 0;
  }
  void Value(const contact::Date& d) {
    Room(30);
    Size(uint64_t(d.year));
    Size(uint64_t(d.month));
    Size(uint64_t(d.day));
  }
  template <typename E>
  requires std::is_enum_v<E>
  void Value(const E& e) {
    Room(10);
    Size(static_cast<uint64_t>(e));
  }
  template <typename T>
  void List(const std::vector<T>& list) {
    Room(10);
    Size(uint64_t(list.size()));
    for (const T& t : list) Fields(*this, const_cast<T&>(t));
  }
  // Where the parts of what the entry holds begin and end, as offsets into the output: the
  // output may still move as it grows.
  void HeldFrom() {
    held_.from[held_parts_] = at_ - begin_;
  }
  void HeldTo() {
    held_.to[held_parts_++] = at_ - begin_;
  }
  const HeldParts& Held() const {
    return held_;
  }

 private:
  // Room for `n` more bytes at at_; what writes then needs no check of its own.
  void Room(qsizetype n) {
    if (end_ - at_ < n) Grow(n);
  }
  void Grow(qsizetype n) {
    const qsizetype used = at_ - begin_;
    out_.resize(std::max<qsizetype>(used + n, out_.size() * 2 + 4096));
    Reset(used);
  }
  void Reset(qsizetype used) {
    begin_ = out_.data();
    at_ = begin_ + used;
    end_ = begin_ + out_.size();
  }
  void Size(uint64_t v) {
    at_ = Size(at_, v);
  }
  static char* Size(char* to, uint64_t v) {
    while (v >= 0x80) {
      *to++ = static_cast<char>(v | 0x80);
      v >>= 7;
    }
    *to++ = static_cast<char>(v);
    return to;
  }
  void Bytes(const char* data, qsizetype n) {
    std::memcpy(at_, data, size_t(n));
    at_ += n;
  }

  QByteArray& out_;
  char* begin_ = nullptr;
  char* at_ = nullptr;
  char* end_ = nullptr;
  HeldParts held_;
  int held_parts_ = 0;
};

class Reader {
 public:
  Reader(const char* data, qsizetype size, SpareElements* spares)
      : at_(data), end_(data + size), spares_(spares) {}
  bool ok() const { return ok_; }
  [[gnu::always_inline]] void Value(QString& s) {
    const uint64_t head = Size();
    const auto n = static_cast<qsizetype>(head >> 1);
    const bool narrow = head & 1;
    if (!Has(narrow ? n : n * 2)) return;
    // The position moved past the text first, and the text read through a local pointer: a unit
    // written into the string could be at_ itself as far as the compiler knows.
    const char* const from = at_;
    at_ += narrow ? n : n * 2;
    if (n == 0) {
      Clear(s);
      return;
    }
    // A string still shared (with the merged contact an older entry's values went into) is let
    // go rather than resized: resizing would copy what it holds first.
    // Made anew with room for a longer text than this one (the next entry's may be): made
    // again each time a text grows, a string costs more than the rest of its reading.
    if (!Resize(s, n)) {
      s = QString(std::max<qsizetype>(n, 32), Qt::Uninitialized);
      Resize(s, n);
    }
    char16_t* to = reinterpret_cast<char16_t*>(s.data());
    if (!narrow) {
      std::memcpy(to, from, size_t(n) * 2);
      return;
    }
    qsizetype i = 0;
#ifdef __SSE2__
    if (n >= 8) {
      // Eight at a time, the last eight overlapping those before where n is no multiple.
      for (;; i += 8) {
        if (i + 8 > n) i = n - 8;
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                         _mm_unpacklo_epi8(v, _mm_setzero_si128()));
        if (i + 8 == n) break;
      }
      return;
    }
    if (n >= 4) {
      // Four and four, the two overlapping where n is below eight.
      for (const qsizetype at : {qsizetype(0), n - 4}) {
        int four;
        std::memcpy(&four, from + at, 4);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to + at),
                         _mm_unpacklo_epi8(_mm_cvtsi32_si128(four), _mm_setzero_si128()));
      }
      return;
    }
#endif
    for (; i < n; ++i) to[i] = static_cast<unsigned char>(from[i]);
  }
  template <size_t N>
  void Texts(const std::array<QString*, N>& texts) {
    uint32_t present = 0;
    if (!Has(sizeof present)) return;
    std::memcpy(&present, at_, sizeof present);
    at_ += sizeof present;
    for (size_t i = 0; i < N; ++i) {
      QString& s = *texts[i];
      if (present & (uint32_t(1) << i))
        Value(s);
      else if (!s.isEmpty())
        Clear(s);
    }
  }
  void Value(QByteArray& b) {
    const auto n = static_cast<qsizetype>(Size());
    if (!Has(n)) return;
    if (n == 0)
      b.clear();
    else
      b = QByteArray(at_, n);
    at_ += n;
  }
  [[gnu::always_inline]] void Value(QStringList& list) {
    const auto n = static_cast<qsizetype>(Size());
    if (!Has(n)) return;
    if (n == 0 && list.isEmpty()) return;
    list.resize(n);
    for (QString& s : list) Value(s);
  }
  [[gnu::always_inline]] void Value(QDateTime& t) {
    int64_t ms = 0;
    if (!Has(sizeof ms)) return;
    std::memcpy(&ms, at_, sizeof ms);
    at_ += sizeof ms;
    // Set in place where the time there is one of UTC already (as a time taken back is): no
    // time made and let go.
    if (ms == INT64_MIN)
      t = QDateTime();
    else if (t.isValid() && t.timeSpec() == Qt::UTC)
      t.setMSecsSinceEpoch(ms);
    else
      t = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
  }
  void Value(bool& b) {
    if (!Has(1)) return;
    b = *at_++ != 0;
  }
  void Value(contact::Date& d) {
    d.year = static_cast<int>(Size());
    d.month = static_cast<int>(Size());
    d.day = static_cast<int>(Size());
  }
  template <typename E>
  requires std::is_enum_v<E>
  void Value(E& e) {
    e = static_cast<E>(Size());
  }
  void HeldFrom() {}
  void HeldTo() {}
  void Skip(qsizetype n) {
    if (Has(n)) at_ += n;
  }
  qsizetype Offset(const char* data) const {
    return at_ - data;
  }
  template <typename T>
  void List(std::vector<T>& list) {
    const auto n = static_cast<qsizetype>(Size());
    if (!Has(n)) return;  // every element takes a byte at least
    if (spares_) {
      std::vector<T>& spare = Spares(*spares_, static_cast<T*>(nullptr));
      // A few at most: a merged contact's lists grow by merging, not by decoding, and what
      // they give up would otherwise pile up here with every group.
      for (; list.size() > size_t(n); list.pop_back())
        if (spare.size() < 8) spare.push_back(std::move(list.back()));
      for (; list.size() < size_t(n) && !spare.empty(); spare.pop_back())
        list.push_back(std::move(spare.back()));
    }
    list.resize(size_t(n));
    for (T& t : list) Fields(*this, t);
  }
  uint64_t Size() {
    // Most values are below 0x80: one byte.
    if (at_ < end_ && !(static_cast<unsigned char>(*at_) & 0x80))
      return static_cast<unsigned char>(*at_++);
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (!Has(1)) return 0;
      const auto b = static_cast<unsigned char>(*at_++);
      v |= uint64_t(b & 0x7F) << shift;
      if (!(b & 0x80)) return v;
    }
    Fail();
    return 0;
  }

 private:
  // Emptied where it may be, keeping its room for a later entry.
  static void Clear(QString& s) {
    if (!Resize(s, 0)) s = QString();
  }
  // `s` made `n` units long, as QString::resize makes it, where it is not shared and has the
  // room; false otherwise. Without resize's call: every text of every entry taken back is sized
  // so, and the call was a quarter of the reading.
  static bool Resize(QString& s, qsizetype n) {
    QString::DataPointer& d = s.data_ptr();
    if (d.needsDetach() || n > d.size + d.freeSpaceAtEnd()) return false;
    d.size = n;
    d.data()[n] = u'\0';  // room for the terminating zero is always kept beyond the capacity
    return true;
  }
  // Whether `n` more bytes are there; a failure moves to the end, so that every read after it
  // fails too (a negative n is a size past any end).
  bool Has(qsizetype n) {
    if (size_t(n) <= size_t(end_ - at_)) return true;
    Fail();
    return false;
  }
  void Fail() {
    ok_ = false;
    at_ = end_;
  }
  static std::vector<contact::Email>& Spares(SpareElements& s, contact::Email*) {
    return s.emails;
  }
  static std::vector<contact::Phone>& Spares(SpareElements& s, contact::Phone*) {
    return s.phones;
  }
  static std::vector<contact::Address>& Spares(SpareElements& s, contact::Address*) {
    return s.addresses;
  }
  static std::vector<contact::Member>& Spares(SpareElements& s, contact::Member*) {
    return s.members;
  }
  const char* at_;
  const char* end_;
  SpareElements* spares_;
  bool ok_ = true;
};

// Each of the members named, in the order named: the one list the writing and the reading both
// go by.
template <typename V, typename T, typename... M>
void Members(V& v, T& t, M T::*... members) {
  (v.Value(t.*members), ...);
}
template <typename V>
void Fields(V& v, contact::Email& e) {
  using E = contact::Email;
  Members(v, e, &E::address, &E::displayName, &E::type);
}
template <typename V>
void Fields(V& v, contact::Phone& p) {
  Members(v, p, &contact::Phone::kind, &contact::Phone::number);
}
template <typename V>
void Fields(V& v, contact::Address& a) {
  using A = contact::Address;
  Members(v, a, &A::kind, &A::street, &A::poBox, &A::city, &A::state, &A::postalCode, &A::country,
          &A::mailing);
}
template <typename V>
void Fields(V& v, contact::Member& m) {
  Members(v, m, &contact::Member::name, &contact::Member::address);
}
// Every field of the contact model, in one order for writing and reading. The uid comes first,
// apart from the texts, and the times just before the members: the bytes between, and those
// after the times, are what the entry holds (Writer::Held).
template <typename V>
void Fields(V& v, Contact& c) {
  v.Value(c.uid);
  v.HeldFrom();
  v.Value(c.isGroup);
  // The uid's place among the texts stays, always empty: the texts' bits are as they were.
  static const size_t kUid = [] {
    Contact any;
    const auto texts = TextFields(any);
    return size_t(std::find(texts.begin(), texts.end(), &any.uid) - texts.begin());
  }();
  QString none;
  auto texts = TextFields(c);
  texts[kUid] = &none;
  v.Texts(texts);
  v.List(c.emails);
  v.List(c.phones);
  v.List(c.addresses);
  v.Value(c.birthday);
  v.Value(c.anniversary);
  v.Value(c.gender);
  v.Value(c.children);
  v.Value(c.categories);
  v.Value(c.moreWebPages);
  v.Value(c.earlierCompanies);
  v.Value(c.earlierDepartments);
  v.Value(c.earlierOffices);
  v.Value(c.earlierTitles);
  v.Value(c.photo.data);
  v.HeldTo();
  v.Value(c.lastModified);
  v.Value(c.created);
  v.HeldFrom();
  v.List(c.members);
  v.HeldTo();
}

// Hashes what Encode writes of an entry but its uid and times (what EntryBytes gives), value by
// value, with nothing written: entries alike in every other field have the same hash. Each
// value is hashed on its own (a text sixteen bytes at a time, multiplied and folded as wyhash
// does) and then mixed into the hash so far by one multiplication: the values' own hashes do
// not wait for one another.
class Hasher {
 public:
  uint64_t Hash() const { return Multiply(hash_, kNumber); }
  void Value(const QString& s) { Add(s.constData(), size_t(s.size()) * 2); }
  // Texts of which most are empty: each that is not, after its place among them.
  template <size_t N>
  void Texts(const std::array<QString*, N>& texts) {
    for (size_t i = 0; i < N; ++i)
      if (!texts[i]->isEmpty()) {
        Number(i);
        Value(*texts[i]);
      }
    Number(N);
  }
  void Value(const QByteArray& b) { Add(b.constData(), size_t(b.size())); }
  [[gnu::always_inline]] void Value(const QStringList& list) {
    Number(uint64_t(list.size()));
    for (const QString& s : list) Value(s);
  }
  void Value(const QDateTime&) {}  // the times are no part of what an entry holds
  void Value(bool b) { Number(b ? 1 : 0); }
  void Value(const contact::Date& d) {
    Number(uint64_t(uint32_t(d.year)));
    Number(uint64_t(uint32_t(d.month)) << 32 | uint32_t(d.day));
  }
  template <typename E>
  requires std::is_enum_v<E>
  void Value(const E& e) { Number(static_cast<uint64_t>(e)); }
  template <typename T>
  void List(const std::vector<T>& list) {
    Number(uint64_t(list.size()));
    for (const T& t : list) Fields(*this, const_cast<T&>(t));
  }
  void HeldFrom() { held_ = true; }
  void HeldTo() { held_ = false; }

 private:
  // Only the values in the held parts count: not the uid, which comes before them.
  void Number(uint64_t n) {
    if (held_) Mix(n ^ kNumber);
  }
  void Add(const void* data, size_t n) {
    if (!held_) return;
    if (n == 0) {  // many values of an element are empty: the address's, the e-mail's name
      Mix(kText);
      return;
    }
    const char* at = static_cast<const char*>(data);
    uint64_t words[2];
    uint64_t own = n ^ kText;
    for (; n > 16; n -= 16, at += 16) {
      std::memcpy(words, at, sizeof words);
      own = Multiply(words[0] ^ kText, words[1] ^ own);
    }
    // The last bytes as two words that may overlap (the length tells such apart), read whole
    // rather than copied byte by byte.
    if (n >= 8) {
      std::memcpy(&words[0], at, 8);
      std::memcpy(&words[1], at + n - 8, 8);
    } else if (n >= 4) {
      uint32_t a, b;
      std::memcpy(&a, at, 4);
      std::memcpy(&b, at + n - 4, 4);
      words[0] = a;
      words[1] = b;
    } else {
      words[0] = static_cast<unsigned char>(at[0]) |
                 uint64_t(static_cast<unsigned char>(at[n / 2])) << 8 |
                 uint64_t(static_cast<unsigned char>(at[n - 1])) << 16;
      words[1] = 0;
    }
    Mix(Multiply(words[0] ^ kText, words[1] ^ own));
  }
  // A value's hash into the hash so far: multiplied, then turned so that its high bits, which
  // the multiplication spread best, reach the low ones too.
  void Mix(uint64_t v) { hash_ = std::rotl((hash_ ^ v) * kMix, 29); }
  static uint64_t Multiply(uint64_t a, uint64_t b) {
    __extension__ using Wide = unsigned __int128;
    const Wide product = Wide(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
  }
  static constexpr uint64_t kNumber = 0x9e3779b97f4a7c15ull;
  static constexpr uint64_t kText = 0xa0761d6478bd642full;
  static constexpr uint64_t kMix = 0xe7037ed1a0b428dbull;
  uint64_t hash_ = 0x243f6a8885a308d3ull;
  bool held_ = false;
};

constexpr qsizetype kBlock = 1 << 20;

// The bytes of `contact` (appended to `out`) and back.
HeldParts Encode(const Contact& contact, QByteArray& out) {
  Writer w(out);
  Fields(w, const_cast<Contact&>(contact));  // the writer only reads
  return w.Held();
}

bool Decode(const char* data, qsizetype size, Contact& out, SpareElements* spares) {
  Reader r(data, size, spares);
  Fields(r, out);
  return r.ok();
}

}  // namespace

EntrySpool::EntrySpool(int64_t memoryCap)
    : file_(QStringLiteral("lumivex-merge")), memory_cap_(memoryCap) {}

void EntrySpool::Open() {
  file_.Open();
  buffer_.reserve(kBlock * 2);
}

EntryBytes EntrySpool::Add(const Contact& contact) {
  // In memory while there is room: a chunk is filled, and the next begun, up to the cap. Then
  // in the file, each entry encoded straight into the buffer that is written out; a full buffer
  // is written when the next entry comes, so that the last one's bytes can be given back.
  const auto bytes = [](const QByteArray& in, const HeldParts& held) {
    return EntryBytes{QByteArrayView(in.constData() + held.from[0], held.to[0] - held.from[0]),
                      QByteArrayView(in.constData() + held.from[1], held.to[1] - held.from[1])};
  };
  if (!file_.IsOpen()) {
    encoded_.resize(0);  // keeps its room
    const HeldParts held = Encode(contact, encoded_);
    Keep(encoded_);
    return bytes(encoded_, held);
  }
  if (buffer_.size() >= kBlock) Flush();
  offsets_.push_back(kFileBase + file_.Size() + buffer_.size());
  return bytes(buffer_, Encode(contact, buffer_));
}

void EntrySpool::Flush() {
  file_.Append(buffer_.constData(), buffer_.size());
  buffer_.resize(0);  // keeps its room
}

void EntrySpool::Finish() {
  encoded_ = {};
  if (!file_.IsOpen()) return;
  Flush();
  buffer_at_ = 0;
}

int64_t EntrySpool::SizeOf(uint32_t index) const {
  // Entries follow one another in a chunk and in the file; the last of a chunk ends with it.
  const int64_t at = offsets_[index];
  const int64_t next = index + 1 < offsets_.size() ? offsets_[index + 1] : -1;
  if (at >= kFileBase) return (next >= 0 ? next : kFileBase + file_.Size()) - at;
  if (next >= 0 && next < kFileBase && next / kChunk == at / kChunk) return next - at;
  return chunks_[size_t(at / kChunk)].size() - at % kChunk;
}

const char* EntrySpool::TakeApart(int64_t at, int64_t size) {
  // A run goes on where an entry starts at most kGap after the last one ended. Its window is
  // read ahead from that entry, 16 KiB the first time and twice as much each next time up to
  // 256 KiB: entries that only happen to lie close cost a small read, a long run few reads.
  constexpr int64_t kGap = 4 << 10;
  constexpr int64_t kFirstWindow = 16 << 10;
  constexpr int64_t kLastWindow = 256 << 10;
  ++takes_;
  Run* oldest = &runs_[0];
  for (Run& run : runs_) {
    if (at >= run.at && at + size <= run.at + run.window.size()) {
      run.next = at + size;
      run.used = takes_;
      return run.window.constData() + (at - run.at);
    }
    if (run.next >= 0 && at >= run.next && at - run.next <= kGap) {
      run.ahead = run.ahead == 0 ? kFirstWindow : std::min(run.ahead * 2, kLastWindow);
      file_.Read(run.window, at, std::max(run.ahead, size));
      run.at = at;
      run.next = at + size;
      run.used = takes_;
      return run.window.size() >= size ? run.window.constData() : nullptr;
    }
    if (run.used < oldest->used) oldest = &run;
  }
  // Maybe the start of a run: remembered in the place of the one unused the longest.
  oldest->next = at + size;
  oldest->at = 0;
  oldest->ahead = 0;
  oldest->window.resize(0);
  oldest->used = takes_;
  file_.Read(single_, at, size);
  return single_.size() == size ? single_.constData() : nullptr;
}

namespace {

// The bytes of an entry but its uid, the first value written: what it holds, with its times.
void Held(const char* data, qsizetype size, QByteArray& out) {
  Reader r(data, size, nullptr);
  const uint64_t head = r.Size();
  const auto n = static_cast<qsizetype>(head >> 1);
  r.Skip(head & 1 ? n : 2 * n);
  const qsizetype from = r.ok() ? r.Offset(data) : size;
  out = QByteArray(data + from, size - from);
}

}  // namespace

QByteArray EntryContent(const Contact& contact) {
  QByteArray encoded, content;
  Encode(contact, encoded);
  Held(encoded.constData(), encoded.size(), content);
  return content;
}

const char* EntrySpool::Locate(uint32_t index, int64_t size, bool inOrder, bool& inMemory) {
  inMemory = offsets_[index] < kFileBase;
  if (inMemory) {
    const int64_t at = offsets_[index];
    return chunks_[size_t(at / kChunk)].constData() + at % kChunk;
  }
  const int64_t at = offsets_[index] - kFileBase;
  const int64_t window_end = buffer_at_ + buffer_.size();
  if (at >= buffer_at_ && at + size <= window_end) return buffer_.constData() + (at - buffer_at_);
  if (inOrder) {
    file_.Read(buffer_, at, std::max<int64_t>(kBlock, size));
    buffer_at_ = at;
    return buffer_.size() >= size ? buffer_.constData() : nullptr;
  }
  return TakeApart(at, size);
}

void EntrySpool::Take(uint32_t index, Contact& out, bool inOrder, QByteArray* held) {
  const int64_t size = SizeOf(index);
  bool inMemory = false;
  const char* data = Locate(index, size, inOrder, inMemory);
  if (!data || !Decode(data, size, out, &spares_)) {
    if (inMemory) throw StoreError("An entry kept for the merge cannot be read back");
    file_.ReadFailed();
  }
  if (held) Held(data, size, *held);
}

void EntrySpool::TakeWritten(uint32_t index, QByteArray& written, bool inOrder) {
  const int64_t size = SizeOf(index);
  bool inMemory = false;
  const char* data = Locate(index, size, inOrder, inMemory);
  if (!data) {
    if (inMemory) throw StoreError("An entry kept for the merge cannot be read back");
    file_.ReadFailed();
  }
  // Not copied: the bytes where they lie, until the spool is read again.
  written.setRawData(data, qsizetype(size));
}

uint64_t EqualHash(const Contact& contact) {
  Hasher h;
  Fields(h, const_cast<Contact&>(contact));  // the hasher only reads
  return h.Hash();
}

void EntrySpool::AddWritten() {
  if (!file_.IsOpen()) {
    // Written at the start of buffer_, which holds nothing else: moved to memory where there is
    // room, else the file's first bytes.
    if (KeepInMemory(QByteArrayView(buffer_))) {
      buffer_.resize(0);  // keeps its room
      return;
    }
    Open();
  }
  offsets_.push_back(kFileBase + file_.Size() + written_at_);
  if (buffer_.size() >= kBlock) Flush();
}

bool EntrySpool::KeepInMemory(QByteArrayView record) {
  const auto size = record.size();
  const int64_t used = chunks_.empty() ? 0 : chunks_.back().size();
  const bool fits = !chunks_.empty() && used + size <= kChunk;
  if (!fits && (int64_t(chunks_.size() + 1) * kChunk > memory_cap_ || size > kChunk)) return false;
  if (!fits) {
    chunks_.emplace_back();
    chunks_.back().reserve(kChunk);
  }
  offsets_.push_back(int64_t(chunks_.size() - 1) * kChunk + chunks_.back().size());
  contact::AppendBytes(chunks_.back(), record);
  return true;
}

void EntrySpool::Keep(QByteArrayView record) {
  if (!file_.IsOpen()) {
    if (KeepInMemory(record)) return;
    Open();
  } else if (buffer_.size() >= kBlock) {
    Flush();
  }
  offsets_.push_back(kFileBase + file_.Size() + buffer_.size());
  contact::AppendBytes(buffer_, record);
}

}  // namespace lumivex::merge
