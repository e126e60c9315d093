#include "tools/pstgen/Description.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <map>

#include "tools/pstgen/Synthetic.h"

namespace lumivex::pstgen {

namespace {

using pst::PstError;

std::string Std(const QString& s) {
  return s.toStdString();
}

[[noreturn]] void Bad(const std::string& where, const std::string& what) {
  throw PstError(where + ": " + what);
}

uint64_t ParseNumber(const QJsonValue& v, const std::string& where) {
  if (v.isDouble()) {
    const double d = v.toDouble();
    if (d < 0 || d != static_cast<double>(static_cast<uint64_t>(d)))
      Bad(where, "not a whole number of zero or more");
    return static_cast<uint64_t>(d);
  }
  if (v.isString()) {
    bool ok = false;
    const qulonglong n = v.toString().toULongLong(&ok, 0);
    if (ok) return n;
  }
  Bad(where, "expected a number (like 42 or \"0x3A06\")");
}

pst::Guid ParseSet(const QString& s, const std::string& where) {
  static const std::map<std::string, pst::Guid> known = {
      {"PS_MAPI", pst::kPsMapi},
      {"PS_PUBLIC_STRINGS", pst::kPsPublicStrings},
      {"PSETID_Address", pst::kPsetidAddress},
      {"PSETID_Common", pst::kPsetidCommon},
      {"PSETID_Appointment", pst::Guid::Parse("{00062002-0000-0000-C000-000000000046}")},
      {"PSETID_Task", pst::Guid::Parse("{00062003-0000-0000-C000-000000000046}")},
      {"PSETID_Note", pst::Guid::Parse("{0006200E-0000-0000-C000-000000000046}")},
  };
  auto it = known.find(Std(s));
  if (it != known.end()) return it->second;
  try {
    return pst::Guid::Parse(Std(s));
  } catch (const PstError&) {
    Bad(where, "\"set\" is neither a known property set nor a GUID: \"" + Std(s) + "\"");
  }
}

uint16_t ParseType(const QString& name, const std::string& where) {
  static const std::map<std::string, uint16_t> types = {
      {"int16", pst::kPtInt16},   {"int32", pst::kPtInt32},   {"int64", pst::kPtInt64},
      {"bool", pst::kPtBoolean},  {"double", pst::kPtDouble}, {"time", pst::kPtTime},
      {"string", pst::kPtString}, {"binary", pst::kPtBinary}, {"guid", pst::kPtGuid},
  };
  QString base = name;
  uint16_t multi = 0;
  if (base.endsWith("[]")) {
    base.chop(2);
    multi = pst::kPtMultiFlag;
  }
  auto it = types.find(Std(base));
  if (it != types.end() && !(multi && it->second == pst::kPtBoolean)) return it->second | multi;
  bool ok = false;
  const uint32_t code = name.toUInt(&ok, 0);
  if (ok && code <= 0xFFFF) return static_cast<uint16_t>(code);
  Bad(where, "unknown type \"" + Std(name) +
                 "\" (int16, int32, int64, bool, double, time, string, binary, guid, with [] for "
                 "several values)");
}

pst::Bytes ParseHex(const QString& s, const std::string& where) {
  const QByteArray raw = QByteArray::fromHex(s.toLatin1());
  if (raw.size() * 2 != s.size()) Bad(where, "binary values are written in hex, like \"0a1b2c\"");
  return pst::Bytes(raw.begin(), raw.end());
}

pst::Bytes EncodeOne(uint16_t type, const QJsonValue& v, const std::string& where) {
  switch (type) {
    case pst::kPtString:
      if (!v.isString()) Bad(where, "expected a string");
      return pst::value::Utf16(Std(v.toString()));
    case pst::kPtInt16:
      return pst::value::Int16(static_cast<int16_t>(ParseNumber(v, where)));
    case pst::kPtInt32:
      if (v.isDouble()) return pst::value::Int32(static_cast<int32_t>(v.toDouble()));
      return pst::value::Int32(static_cast<int32_t>(ParseNumber(v, where)));
    case pst::kPtInt64:
      if (v.isDouble()) return pst::value::Int64(static_cast<int64_t>(v.toDouble()));
      return pst::value::Int64(static_cast<int64_t>(ParseNumber(v, where)));
    case pst::kPtBoolean:
      if (!v.isBool()) Bad(where, "expected true or false");
      return pst::value::Boolean(v.toBool());
    case pst::kPtDouble:
      if (!v.isDouble()) Bad(where, "expected a number");
      return pst::value::Double(v.toDouble());
    case pst::kPtTime: {
      int p[6];
      if (!v.isString() || !ParseDateTime(Std(v.toString()), p))
        Bad(where, "expected a date, \"YYYY-MM-DD\" or \"YYYY-MM-DDThh:mm:ssZ\"");
      return pst::value::Time(pst::FileTime(p[0], p[1], p[2], p[3], p[4], p[5]));
    }
    case pst::kPtBinary:
      if (!v.isString()) Bad(where, "expected a hex string");
      return ParseHex(v.toString(), where);
    case pst::kPtGuid: {
      if (!v.isString()) Bad(where, "expected a GUID string");
      try {
        const pst::Guid g = pst::Guid::Parse(Std(v.toString()));
        return pst::Bytes(g.bytes.begin(), g.bytes.end());
      } catch (const PstError& e) {
        Bad(where, e.what());
      }
    }
    default:
      Bad(where, "values of type 0x" + Std(QString::number(type, 16)) + " cannot be given");
  }
}

pst::MessageProperty PropertyFrom(const QJsonObject& o, const std::string& where) {
  pst::MessageProperty p;
  if (o.contains("tag")) {
    const uint64_t tag = ParseNumber(o.value("tag"), where + ".tag");
    if (tag > 0xFFFFFFFF || (tag >> 16) >= 0x8000)
      Bad(where,
          "\"tag\" is a 32-bit property tag below 0x80000000 (named properties take "
          "\"set\" with \"lid\" or \"name\")");
    p.key = pst::PropertyKey::Tagged(static_cast<uint16_t>(tag >> 16));
    p.type = static_cast<uint16_t>(tag);
  } else if (o.contains("set")) {
    const pst::Guid set = ParseSet(o.value("set").toString(), where);
    if (o.contains("lid"))
      p.key = pst::PropertyKey::Numbered(
          set, static_cast<uint32_t>(ParseNumber(o.value("lid"), where + ".lid")));
    else if (o.value("name").isString())
      p.key = pst::PropertyKey::Named(set, Std(o.value("name").toString()));
    else
      Bad(where, "a named property takes \"lid\" (a number) or \"name\" (a string)");
    if (!o.contains("type")) Bad(where, "a named property needs \"type\"");
    p.type = ParseType(o.value("type").toString(), where);
  } else if (o.contains("id")) {
    const uint64_t id = ParseNumber(o.value("id"), where + ".id");
    if (id >= 0x8000) Bad(where, "\"id\" is below 0x8000; named properties take \"set\"");
    p.key = pst::PropertyKey::Tagged(static_cast<uint16_t>(id));
    if (!o.contains("type")) Bad(where, "a property given by \"id\" needs \"type\"");
    p.type = ParseType(o.value("type").toString(), where);
  } else {
    Bad(where,
        "a property needs \"tag\", \"id\" and \"type\", or \"set\" with \"lid\" or \"name\"");
  }
  if (o.contains("type") && o.contains("tag"))
    p.type = ParseType(o.value("type").toString(), where);
  const QJsonValue v = o.value("value");
  if (p.type & pst::kPtMultiFlag) {
    if (!v.isArray()) Bad(where, "a multi-valued property takes a list as \"value\"");
    const uint16_t base = p.type & ~pst::kPtMultiFlag;
    std::vector<pst::Bytes> values;
    for (const QJsonValue& e : v.toArray()) values.push_back(EncodeOne(base, e, where));
    const bool variable = base == pst::kPtString || base == pst::kPtBinary;
    p.value = variable ? pst::value::MultiBinary(values) : pst::value::MultiFixed(values);
  } else {
    p.value = EncodeOne(p.type, v, where);
  }
  return p;
}

std::vector<std::string> PathFrom(const QJsonValue& v, const std::string& where) {
  std::vector<std::string> path;
  if (v.isString()) {
    for (const QString& part : v.toString().split('/', Qt::SkipEmptyParts))
      path.push_back(Std(part));
  } else if (v.isArray()) {
    for (const QJsonValue& part : v.toArray()) {
      if (!part.isString() || part.toString().isEmpty())
        Bad(where, "a folder path given as a list holds non-empty names");
      path.push_back(Std(part.toString()));
    }
  }
  if (path.empty())
    Bad(where, "\"path\" names a folder below \"Top of Personal Folders\", like \"Contacts\"");
  return path;
}

// The bytes a description names: a file (relative to the description's folder) or a data: URI
// holding them in base64.
pst::Bytes FileBytes(const QJsonValue& v, const std::string& where, const QString& base_dir,
                     std::string* media_type = nullptr) {
  if (!v.isString() || v.toString().isEmpty())
    Bad(where, "expected a file name or a data: URI (\"data:image/jpeg;base64,...\")");
  const QString ref = v.toString();
  QByteArray bytes;
  if (ref.startsWith("data:")) {
    const qsizetype comma = ref.indexOf(',');
    if (comma < 0 || !ref.left(comma).endsWith(";base64"))
      Bad(where, "a data: URI holds base64 bytes: \"data:image/png;base64,iVBORw0...\"");
    const auto decoded = QByteArray::fromBase64Encoding(ref.mid(comma + 1).toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) Bad(where, "the data: URI is not valid base64");
    bytes = *decoded;
    if (media_type) *media_type = Std(ref.mid(5, comma - 5 - 7));  // between "data:" and ";base64"
  } else {
    const QString path = QDir(base_dir.isEmpty() ? QDir::currentPath() : base_dir).filePath(ref);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
      Bad(where, "cannot read " + Std(path) + ": " + Std(file.errorString()));
    bytes = file.readAll();
  }
  if (bytes.isEmpty()) Bad(where, "the file is empty");
  return pst::Bytes(bytes.begin(), bytes.end());
}

Item ItemFrom(const QJsonObject& o, const std::string& where, const QString& base_dir) {
  Item item;
  item.message_class = Std(o.value("messageClass").toString("IPM.Contact"));
  for (auto it = o.begin(); it != o.end(); ++it) {
    const std::string key = Std(it.key());
    const std::string at = where + "." + key;
    if (key == "messageClass") continue;
    if (key == "label") {
      if (!it.value().isString() || it.value().toString().isEmpty())
        Bad(at, "a label is a non-empty name, like \"anna\"");
      item.label = Std(it.value().toString());
      continue;
    }
    if (key == "members") {
      const QJsonArray list = it.value().toArray();
      for (qsizetype i = 0; i < list.size(); ++i) {
        const std::string in = at + "[" + std::to_string(i) + "]";
        const QJsonObject o = list[i].toObject();
        for (const QString& k : o.keys())
          if (!QStringList{"contact", "email", "name", "address", "addressType"}.contains(k))
            Bad(in + "." + Std(k), "unknown setting of a member");
        Item::Member member;
        if (o.contains("contact")) {
          member.label = Std(o.value("contact").toString());
          if (member.label.empty()) Bad(in, "\"contact\" is the label of a contact");
          if (o.contains("email")) member.email = o.value("email").toInt(0);
          if (member.email < 1 || member.email > 3) Bad(in, "\"email\" is 1, 2 or 3");
        } else {
          member.name = Std(o.value("name").toString());
          member.address = Std(o.value("address").toString());
          member.address_type = Std(o.value("addressType").toString("SMTP"));
          if (member.address.empty())
            Bad(in, "a member is {\"contact\": LABEL} or {\"name\": ..., \"address\": ...}");
        }
        item.members.push_back(std::move(member));
      }
      continue;
    }
    if (key == "picture") {
      item.picture = FileBytes(it.value(), at, base_dir);
      continue;
    }
    if (key == "attachments") {
      const QJsonArray list = it.value().toArray();
      for (qsizetype i = 0; i < list.size(); ++i) {
        const std::string in = at + "[" + std::to_string(i) + "]";
        const QJsonObject a = list[i].toObject();
        for (const QString& k : a.keys())
          if (!QStringList{"name", "file", "data", "mimeType", "hidden"}.contains(k))
            Bad(in + "." + Std(k), "unknown setting of an attachment");
        FileAttachment file;
        std::string media_type;
        file.data = FileBytes(a.contains("data") ? a.value("data") : a.value("file"), in, base_dir,
                              &media_type);
        const QString name = a.value("name").toString(
            a.contains("file") ? QFileInfo(a.value("file").toString()).fileName() : QString());
        if (name.isEmpty()) Bad(in, "an attachment needs \"name\" (or a \"file\" to take it from)");
        file.name = Std(name);
        file.mime_type = Std(a.value("mimeType").toString(QString::fromStdString(media_type)));
        file.hidden = a.value("hidden").toBool(false);
        item.attachments.push_back(std::move(file));
      }
      continue;
    }
    if (key == "properties") {
      const QJsonArray props = it.value().toArray();
      for (qsizetype i = 0; i < props.size(); ++i)
        item.properties.push_back(
            PropertyFrom(props[i].toObject(), at + "[" + std::to_string(i) + "]"));
      continue;
    }
    if (!IsKnownField(key)) Bad(at, "unknown field (see the list in lumivex-pstgen --help)");
    if (it.value().isString()) {
      item.fields.emplace_back(key, Std(it.value().toString()));
    } else if (it.value().isArray()) {
      std::vector<std::string> list;
      for (const QJsonValue& e : it.value().toArray()) {
        if (!e.isString()) Bad(at, "a list of strings holds strings only");
        list.push_back(Std(e.toString()));
      }
      item.fields.emplace_back(key, list);
    } else {
      Bad(at, "expected a string or a list of strings");
    }
  }
  return item;
}

}  // namespace

pst::MessageProperty ParseProperty(const std::string& json_utf8) {
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json_utf8));
  return PropertyFrom(doc.object(), "property");
}

StorePlan ParseDescription(const std::string& json_utf8, const std::string& base_dir) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json_utf8), &error);
  if (doc.isNull())
    throw PstError("not valid JSON at byte " + std::to_string(error.offset) + ": " +
                   Std(error.errorString()));
  if (!doc.isObject()) throw PstError("the description is a JSON object ({ ... })");
  const QJsonObject root = doc.object();
  StorePlan plan;
  static const QStringList kKeys = {"encoding",        "displayName", "utcOffsetMinutes",
                                    "defaultContacts", "folders",     "comment"};
  for (const QString& key : root.keys())
    if (!kKeys.contains(key)) Bad(Std(key), "unknown setting of the store");
  const QString encoding = root.value("encoding").toString("compressible");
  if (encoding == "none")
    plan.store.encoding = pst::Encoding::None;
  else if (encoding == "compressible")
    plan.store.encoding = pst::Encoding::Compressible;
  else if (encoding == "cyclic")
    plan.store.encoding = pst::Encoding::Cyclic;
  else
    Bad("encoding", "is \"none\", \"compressible\" or \"cyclic\"");
  if (root.contains("displayName"))
    plan.store.display_name = Std(root.value("displayName").toString());
  plan.contacts.utc_offset_minutes = root.value("utcOffsetMinutes").toInt(0);
  if (root.contains("defaultContacts"))
    plan.default_contacts = PathFrom(root.value("defaultContacts"), "defaultContacts");
  const QJsonArray folders = root.value("folders").toArray();
  for (qsizetype i = 0; i < folders.size(); ++i) {
    const std::string where = "folders[" + std::to_string(i) + "]";
    const QJsonObject f = folders[i].toObject();
    FolderPlan folder;
    folder.path = PathFrom(f.value("path"), where + ".path");
    folder.container_class = Std(f.value("containerClass").toString());
    const QJsonArray items = f.value("items").toArray();
    for (qsizetype k = 0; k < items.size(); ++k)
      folder.items.push_back(ItemFrom(items[k].toObject(),
                                      where + ".items[" + std::to_string(k) + "]",
                                      QString::fromStdString(base_dir)));
    if (f.contains("generate")) {
      const QJsonObject g = f.value("generate").toObject();
      folder.generate = ParseNumber(g.value("contacts"), where + ".generate.contacts");
      folder.seed = g.contains("seed") ? ParseNumber(g.value("seed"), where + ".generate.seed") : 1;
    }
    plan.folders.push_back(std::move(folder));
  }
  return plan;
}

namespace {

using Labelled = std::map<std::string, std::pair<const Item*, pst::Nid>>;
using Folders = std::map<std::vector<std::string>, pst::Nid>;

// The default folders, by their one-part paths.
Folders DefaultFolders(pst::StoreWriter& writer) {
  Folders folders;
  const std::pair<const char*, pst::DefaultFolder> defaults[] = {
      {"Deleted Items", pst::DefaultFolder::kDeletedItems},
      {"Inbox", pst::DefaultFolder::kInbox},
      {"Outbox", pst::DefaultFolder::kOutbox},
      {"Sent Items", pst::DefaultFolder::kSentItems},
      {"Calendar", pst::DefaultFolder::kCalendar},
      {"Contacts", pst::DefaultFolder::kContacts},
      {"Journal", pst::DefaultFolder::kJournal},
      {"Notes", pst::DefaultFolder::kNotes},
      {"Tasks", pst::DefaultFolder::kTasks},
      {"Drafts", pst::DefaultFolder::kDrafts},
  };
  for (const auto& [name, which] : defaults) folders[{name}] = writer.Folder(which);
  return folders;
}

// The folder at `path`, made (its last part of class `cls`, the others IPF.Note) when missing.
pst::Nid FolderOf(pst::StoreWriter& writer, Folders& folders, const std::vector<std::string>& path,
                  const std::string& cls, BuildReport& report) {
  std::vector<std::string> prefix;
  pst::Nid parent = writer.TopOfPersonalFolders();
  for (const std::string& part : path) {
    prefix.push_back(part);
    auto it = folders.find(prefix);
    if (it == folders.end()) {
      const bool last = prefix.size() == path.size();
      it =
          folders.emplace(prefix, writer.CreateFolder(parent, part, last ? cls : "IPF.Note")).first;
      ++report.folders;
    }
    parent = it->second;
  }
  return parent;
}

// Items are written in order, each under the next message node id: the node id of every
// labelled item is known before it is written, so a list may name contacts written after it.
Labelled LabelledItems(const StorePlan& plan, pst::StoreWriter& writer) {
  Labelled labelled;
  const pst::Nid first = writer.NextMessageNid();
  uint64_t position = 0;
  for (const FolderPlan& f : plan.folders) {
    for (const Item& item : f.items) {
      const pst::Nid nid = pst::MakeNid(pst::kNidTypeNormalMessage,
                                        pst::NidIndexOf(first) + static_cast<uint32_t>(position++));
      if (!item.label.empty() && !labelled.emplace(item.label, std::pair(&item, nid)).second)
        throw PstError("two items are labelled \"" + item.label + "\"");
    }
    position += f.generate;
  }
  return labelled;
}

// The described items of folder `f` into the folder `nid`.
void WriteItems(pst::StoreWriter& writer, const StorePlan& plan, const FolderPlan& f, pst::Nid nid,
                const Labelled& labelled, const ContactLookup& lookup,
                const std::function<void()>& tick) {
  for (size_t i = 0; i < f.items.size(); ++i) {
    try {
      const pst::Message message = f.items[i].members.empty()
                                       ? ToMessage(f.items[i], plan.contacts)
                                       : ToMessage(f.items[i], plan.contacts, lookup);
      const pst::Nid written = writer.AddMessage(nid, message);
      if (!f.items[i].label.empty() && labelled.at(f.items[i].label).second != written)
        throw PstError("the store gave \"" + f.items[i].label +
                       "\" another node id than its list members point at");
    } catch (const PstError& e) {
      std::string path;
      for (const std::string& p : f.path) path += (path.empty() ? "" : "/") + p;
      throw PstError("folder \"" + path + "\", item " + std::to_string(i + 1) + ": " + e.what());
    }
    tick();
  }
}

// The synthetic contacts of folder `f` (its people, else its count) into the folder `nid`.
void WriteSynthetic(pst::StoreWriter& writer, const StorePlan& plan, const FolderPlan& f,
                    pst::Nid nid, const std::function<void()>& tick) {
  if (!f.people.empty()) {
    for (const auto& [first, last] : f.people)
      for (uint64_t n = first; n <= last; ++n) {
        writer.AddMessage(
            nid, ToMessage(SyntheticContacts::Person(f.seed, n, f.variant), plan.contacts));
        tick();
      }
    return;
  }
  SyntheticContacts synthetic(f.seed);
  for (uint64_t n = 1; n <= f.generate; ++n) {
    writer.AddMessage(nid, ToMessage(synthetic.Next(n), plan.contacts));
    tick();
  }
}

}  // namespace

BuildReport BuildStore(const StorePlan& plan, const std::string& out_path,
                       const std::function<void(uint64_t, uint64_t)>& progress) {
  pst::StoreWriter writer(out_path, plan.store);
  BuildReport report;
  Folders folders = DefaultFolders(writer);
  report.folders = folders.size() + 2;

  uint64_t total = 0;
  for (const FolderPlan& f : plan.folders) total += f.items.size() + f.generate;
  const Labelled labelled = LabelledItems(plan, writer);
  const ContactLookup lookup = [&](const std::string& label) {
    auto it = labelled.find(label);
    if (it == labelled.end()) throw PstError("no item is labelled \"" + label + "\"");
    const Item& contact = *it->second.first;
    if (contact.message_class.rfind("IPM.Contact", 0) != 0)
      throw PstError("\"" + label + "\" is not a contact");
    return LinkedContactOf(ToMessage(contact, plan.contacts), writer.EntryId(it->second.second));
  };
  const std::function<void()> tick = [&] {
    ++report.items;
    if (progress && (report.items % 1000 == 0 || report.items == total))
      progress(report.items, total);
  };
  for (const FolderPlan& f : plan.folders) {
    const pst::Nid nid =
        FolderOf(writer, folders, f.path,
                 f.container_class.empty() ? "IPF.Note" : f.container_class, report);
    WriteItems(writer, plan, f, nid, labelled, lookup, tick);
    WriteSynthetic(writer, plan, f, nid, tick);
  }
  if (plan.default_contacts) {
    auto it = folders.find(*plan.default_contacts);
    if (it == folders.end())
      throw PstError("defaultContacts names a folder the description does not hold");
    writer.SetDefaultContactsFolder(it->second);
  }
  writer.Finish();
  report.bytes = writer.BytesWritten();
  return report;
}

}  // namespace lumivex::pstgen
