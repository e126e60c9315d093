// The exact bytes of every export form, kept as SHA-256 digests: the sample store, every real
// store file holding contacts and a store of 10,000 synthetic contacts, each exported by
// lumivex-cli as a user runs it. Work on speed must leave every byte as it was; a change of
// output made on purpose updates the digests in the same commit.
//
// How the digests were taken: from main at 85d17cf (before any work on speed), by this test,
// with the tests' locale (LANG=en_US.UTF-8, which this machine lacks, so iconv transliterates as
// in the C locale), the code page given by --code-page, and SOURCE_DATE_EPOCH=1700000000 fixing
// the time the address book records as its contacts' creation and change. The single-file forms
// are named after the moment of the run; the name is left out and only the bytes are digested.
// The per-contact form is digested over its file names in byte order, each name followed by its
// file's size and bytes.
//
// Updating after a change of output on purpose: run `./test -R OutputDigest`; a failing case
// prints the whole table as it now is, ready to paste over kExpected below. Say in the commit
// why the bytes changed.
#include "tests/convert/ProgramRun.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

using namespace lumivex::testing;

namespace {

struct Expected {
  const char* store;
  const char* form;  // lumivex-cli export --format
  int codePage;
  const char* digest;
};

// Taken as the header says; keyed by store, form and code page.
const Expected kExpected[] = {
    {"sample.pst", "vcard", 1252,
     "8205bbbd992067361304efb0d3392576ada939d80e817b24d3d22a51dbe87693"},
    {"sample.pst", "vcards", 1252,
     "bf10dcd0cc141a388898aea646d670b69e30d075e7d16fa2d0e5c9b997fcb4e3"},
    {"sample.pst", "xls", 1252, "48a0cd24e20ce6f2633f8745bb64762067264a8f8a60e493bdf569ac51a19529"},
    {"sample.pst", "wab", 1252, "0998f1eef9c11c731dc8f1d4d6c7c4ff641632ec83493903909c08996096c417"},
    {"sample.pst", "vcard", 1250,
     "4709c2b1443a8f3c7cf25fbd42644cb5554900440e8e26005e99b931748d2e61"},
    {"sample.pst", "vcard", 1251,
     "3cf6f175eca4206f5b2cad57fee45a3e871a20d0648a6e9341747c78a2ff253e"},
    {"sample.pst", "vcard", 1253,
     "53abf210f1aa5e348a6c27b81b6a6b7655aee33ebc67ed8703bf0006b3b9d0bf"},
    {"sample.pst", "vcard", 1258,
     "7cc152b62e04e7c3103718c9c4d74e6e46bce89a85a9c140b01a5c8dd827cc8a"},
    {"sample.pst", "vcard", 932,
     "6271ae8880cf3d1d5685669ed85629f197e5dcd88a931dbf6103a3f4a0e9eafb"},
    {"sample.pst", "xls", 1251, "ef9dabccd16dbba62c5e506a75c4f8293f9024f46dd568765183cf0b34020a31"},
    {"sample.pst", "xls", 932, "8363590d833b0eeda0cd24a309fef930dd0771ee9b8df300c8a903ab0bb7bc3d"},
    {"six-contacts.pst", "vcard", 1252,
     "81a60e4399250a35283fc74a74406437e3960c6ea000f2bfa743ff55178add27"},
    {"six-contacts.pst", "vcards", 1252,
     "00dd4833ab73c32cda9459174f6caf6522fc9308b293e444a6c9aea5b8198b45"},
    {"six-contacts.pst", "xls", 1252,
     "e7f0c054e93a21dfcf371442a2b1f1f29b32a91256c36499aaa81e099ac4f485"},
    {"six-contacts.pst", "wab", 1252,
     "75823729b5258cebdde13a0a4e6b50cb556836e3f779948ee1aed9d566426b11"},
    {"six-contacts.pst", "vcard", 1250,
     "81a60e4399250a35283fc74a74406437e3960c6ea000f2bfa743ff55178add27"},
    {"six-contacts.pst", "vcard", 1251,
     "81a60e4399250a35283fc74a74406437e3960c6ea000f2bfa743ff55178add27"},
    {"six-contacts.pst", "vcard", 1253,
     "81a60e4399250a35283fc74a74406437e3960c6ea000f2bfa743ff55178add27"},
    {"six-contacts.pst", "vcard", 1258,
     "81a60e4399250a35283fc74a74406437e3960c6ea000f2bfa743ff55178add27"},
    {"six-contacts.pst", "vcard", 932,
     "81a60e4399250a35283fc74a74406437e3960c6ea000f2bfa743ff55178add27"},
    {"six-contacts.pst", "xls", 1251,
     "e7f0c054e93a21dfcf371442a2b1f1f29b32a91256c36499aaa81e099ac4f485"},
    {"six-contacts.pst", "xls", 932,
     "e7f0c054e93a21dfcf371442a2b1f1f29b32a91256c36499aaa81e099ac4f485"},
    {"contact-and-distlist.pst", "vcard", 1252,
     "5935993730cbab98042b2a6386cc39d7b535705f6d16d3409636204518c69aee"},
    {"contact-and-distlist.pst", "vcards", 1252,
     "903184ee52dbe113b3d9ab51f4fc8f73de51271cb021e6660f5ae31098c8fb67"},
    {"contact-and-distlist.pst", "xls", 1252,
     "2369d0e53c7f0f27bbad139adc619cb82c579b1782413252a8493c3ff53092de"},
    {"contact-and-distlist.pst", "wab", 1252,
     "986d82ea643c0d2da616afa4575a103eb735036be718b68ef0b56d1102d9b540"},
    {"contact-and-distlist.pst", "vcard", 1250,
     "5935993730cbab98042b2a6386cc39d7b535705f6d16d3409636204518c69aee"},
    {"contact-and-distlist.pst", "vcard", 1251,
     "5935993730cbab98042b2a6386cc39d7b535705f6d16d3409636204518c69aee"},
    {"contact-and-distlist.pst", "vcard", 1253,
     "5935993730cbab98042b2a6386cc39d7b535705f6d16d3409636204518c69aee"},
    {"contact-and-distlist.pst", "vcard", 1258,
     "5935993730cbab98042b2a6386cc39d7b535705f6d16d3409636204518c69aee"},
    {"contact-and-distlist.pst", "vcard", 932,
     "5935993730cbab98042b2a6386cc39d7b535705f6d16d3409636204518c69aee"},
    {"contact-and-distlist.pst", "xls", 1251,
     "2369d0e53c7f0f27bbad139adc619cb82c579b1782413252a8493c3ff53092de"},
    {"contact-and-distlist.pst", "xls", 932,
     "2369d0e53c7f0f27bbad139adc619cb82c579b1782413252a8493c3ff53092de"},
    {"mail-and-one-contact.pst", "vcard", 1252,
     "72376f98eed864c5e07235c9f8f61a8fc9162e18c475a0da8db97033da749e2e"},
    {"mail-and-one-contact.pst", "vcards", 1252,
     "95b2f7cfb55e4e3e4aef45481a91d4ec903885126fa7da5b4435df7599fe1208"},
    {"mail-and-one-contact.pst", "xls", 1252,
     "b6aed59f8a66e0c77898881833530b5228ef5bf0e894d3c7b5b69fe5a07081f0"},
    {"mail-and-one-contact.pst", "wab", 1252,
     "c5f8f9d47fd685c9ce7531d5ae532d423345e21db0db9871bb5d23241e94a995"},
    {"mail-and-one-contact.pst", "vcard", 1250,
     "72376f98eed864c5e07235c9f8f61a8fc9162e18c475a0da8db97033da749e2e"},
    {"mail-and-one-contact.pst", "vcard", 1251,
     "72376f98eed864c5e07235c9f8f61a8fc9162e18c475a0da8db97033da749e2e"},
    {"mail-and-one-contact.pst", "vcard", 1253,
     "72376f98eed864c5e07235c9f8f61a8fc9162e18c475a0da8db97033da749e2e"},
    {"mail-and-one-contact.pst", "vcard", 1258,
     "72376f98eed864c5e07235c9f8f61a8fc9162e18c475a0da8db97033da749e2e"},
    {"mail-and-one-contact.pst", "vcard", 932,
     "72376f98eed864c5e07235c9f8f61a8fc9162e18c475a0da8db97033da749e2e"},
    {"mail-and-one-contact.pst", "xls", 1251,
     "b6aed59f8a66e0c77898881833530b5228ef5bf0e894d3c7b5b69fe5a07081f0"},
    {"mail-and-one-contact.pst", "xls", 932,
     "b6aed59f8a66e0c77898881833530b5228ef5bf0e894d3c7b5b69fe5a07081f0"},
    {"72-contacts-in-mail-folder.pst", "vcard", 1252,
     "bfaccbb4d5af677fa6aabb57791e125ce6ee9708497a116e3ca76c25a16db091"},
    {"72-contacts-in-mail-folder.pst", "vcards", 1252,
     "bdffae4cd80a8c459166e92f4fd2685b269224f07c2017428a8d4d1c8c0dd9a6"},
    {"72-contacts-in-mail-folder.pst", "xls", 1252,
     "7470bfa5eb683cc701b61aff5bee55de52f8d2d27faadb0efa0413b1567c0342"},
    {"72-contacts-in-mail-folder.pst", "wab", 1252,
     "61288a5c275b57a36d55c1bc2f63c82a3da98e0abe0c89ebec6b1d2092614b6f"},
    {"72-contacts-in-mail-folder.pst", "vcard", 1250,
     "bfaccbb4d5af677fa6aabb57791e125ce6ee9708497a116e3ca76c25a16db091"},
    {"72-contacts-in-mail-folder.pst", "vcard", 1251,
     "bfaccbb4d5af677fa6aabb57791e125ce6ee9708497a116e3ca76c25a16db091"},
    {"72-contacts-in-mail-folder.pst", "vcard", 1253,
     "bfaccbb4d5af677fa6aabb57791e125ce6ee9708497a116e3ca76c25a16db091"},
    {"72-contacts-in-mail-folder.pst", "vcard", 1258,
     "bfaccbb4d5af677fa6aabb57791e125ce6ee9708497a116e3ca76c25a16db091"},
    {"72-contacts-in-mail-folder.pst", "vcard", 932,
     "bfaccbb4d5af677fa6aabb57791e125ce6ee9708497a116e3ca76c25a16db091"},
    {"72-contacts-in-mail-folder.pst", "xls", 1251,
     "7470bfa5eb683cc701b61aff5bee55de52f8d2d27faadb0efa0413b1567c0342"},
    {"72-contacts-in-mail-folder.pst", "xls", 932,
     "7470bfa5eb683cc701b61aff5bee55de52f8d2d27faadb0efa0413b1567c0342"},
    {"japanese-contact-unicode.pst", "vcard", 1252,
     "30c2f2e7cb1dd3fffe82e6f5efcca08184c6823b00221191bbfe8effc664426c"},
    {"japanese-contact-unicode.pst", "vcards", 1252,
     "3eb9db60355e923fa91c460daf8c076dbe1ec99c36d82082471771a30c4d42a7"},
    {"japanese-contact-unicode.pst", "xls", 1252,
     "57d8c3973f1935176d4330837376514b9e780c7ddcde29d53bf96ef14d132f02"},
    {"japanese-contact-unicode.pst", "wab", 1252,
     "75111a52d0caec0845a508300eb7d8842069624c0892f1847d5d1ca4c2f10ebb"},
    {"japanese-contact-unicode.pst", "vcard", 1250,
     "30c2f2e7cb1dd3fffe82e6f5efcca08184c6823b00221191bbfe8effc664426c"},
    {"japanese-contact-unicode.pst", "vcard", 1251,
     "30c2f2e7cb1dd3fffe82e6f5efcca08184c6823b00221191bbfe8effc664426c"},
    {"japanese-contact-unicode.pst", "vcard", 1253,
     "30c2f2e7cb1dd3fffe82e6f5efcca08184c6823b00221191bbfe8effc664426c"},
    {"japanese-contact-unicode.pst", "vcard", 1258,
     "30c2f2e7cb1dd3fffe82e6f5efcca08184c6823b00221191bbfe8effc664426c"},
    {"japanese-contact-unicode.pst", "vcard", 932,
     "0109324cc6f55f3fa768ad85928dab56367a765f608ed921ab7464bfddbb7208"},
    {"japanese-contact-unicode.pst", "xls", 1251,
     "57d8c3973f1935176d4330837376514b9e780c7ddcde29d53bf96ef14d132f02"},
    {"japanese-contact-unicode.pst", "xls", 932,
     "57d8c3973f1935176d4330837376514b9e780c7ddcde29d53bf96ef14d132f02"},
    {"japanese-contact-ansi-cp932.pst", "vcard", 1252,
     "30c2f2e7cb1dd3fffe82e6f5efcca08184c6823b00221191bbfe8effc664426c"},
    {"japanese-contact-ansi-cp932.pst", "vcards", 1252,
     "3eb9db60355e923fa91c460daf8c076dbe1ec99c36d82082471771a30c4d42a7"},
    {"japanese-contact-ansi-cp932.pst", "xls", 1252,
     "57d8c3973f1935176d4330837376514b9e780c7ddcde29d53bf96ef14d132f02"},
    {"japanese-contact-ansi-cp932.pst", "wab", 1252,
     "75111a52d0caec0845a508300eb7d8842069624c0892f1847d5d1ca4c2f10ebb"},
    {"japanese-contact-ansi-cp932.pst", "vcard", 1250,
     "30c2f2e7cb1dd3fffe82e6f5efcca08184c6823b00221191bbfe8effc664426c"},
    {"japanese-contact-ansi-cp932.pst", "vcard", 1251,
     "30c2f2e7cb1dd3fffe82e6f5efcca08184c6823b00221191bbfe8effc664426c"},
    {"japanese-contact-ansi-cp932.pst", "vcard", 1253,
     "30c2f2e7cb1dd3fffe82e6f5efcca08184c6823b00221191bbfe8effc664426c"},
    {"japanese-contact-ansi-cp932.pst", "vcard", 1258,
     "30c2f2e7cb1dd3fffe82e6f5efcca08184c6823b00221191bbfe8effc664426c"},
    {"japanese-contact-ansi-cp932.pst", "vcard", 932,
     "0109324cc6f55f3fa768ad85928dab56367a765f608ed921ab7464bfddbb7208"},
    {"japanese-contact-ansi-cp932.pst", "xls", 1251,
     "57d8c3973f1935176d4330837376514b9e780c7ddcde29d53bf96ef14d132f02"},
    {"japanese-contact-ansi-cp932.pst", "xls", 932,
     "57d8c3973f1935176d4330837376514b9e780c7ddcde29d53bf96ef14d132f02"},
    {"pstgen --contacts 10000 --seed 1", "vcard", 1252,
     "fb0728da7db7659427fb87a2bc04dc24711933a23dfb1f5a4a26d52bb6aba9f9"},
    {"pstgen --contacts 10000 --seed 1", "vcards", 1252,
     "db37f2405a027698e1c28eeeead6f111dbd153290b1ed690fe2a45e946009d87"},
    {"pstgen --contacts 10000 --seed 1", "xls", 1252,
     "ac7c01b522a64b0bc7ee3fcbe7c206e1e9f28ab54df8ea6414b4baaba42c2d5c"},
    {"pstgen --contacts 10000 --seed 1", "wab", 1252,
     "cd8ab825188a8502e855265af202fb09d5f800ecafb6cfc41c431c61046e6850"},
    {"pstgen --contacts 10000 --seed 1", "vcard", 1250,
     "d397b8c68e0be756dfbc0400d5b992c2cf7c67f9ba3fec0e5f71635ccf0bd981"},
    {"pstgen --contacts 10000 --seed 1", "vcard", 1251,
     "00594f31e1cc0f2be866c91ccca073195b6920c796c1788cff6a47ca7e03891c"},
    {"pstgen --contacts 10000 --seed 1", "vcard", 1253,
     "2744865828dc2bcffb3074145a11e9b33f7e38c7c85cb8b356c3767361914b21"},
    {"pstgen --contacts 10000 --seed 1", "vcard", 1258,
     "9f90e24ff2917a541e90eaa5ecfb4731f78a3b4160d5c7ad68f30461d6935abf"},
    {"pstgen --contacts 10000 --seed 1", "vcard", 932,
     "7974d8ef0955f12c710240301a68cc52b80f5f0ee069553e49738071aaf712e3"},
    {"pstgen --contacts 10000 --seed 1", "xls", 1251,
     "98a1e88a792c83e029841eae50a43158ce65f4d8d9c98f9b0dcfc8b775a99584"},
    {"pstgen --contacts 10000 --seed 1", "xls", 932,
     "686de2472bbd8c4dcc1cdd1e25a6f8e22d99a60d3ad014332326becd9a01f387"},
};

struct Store {
  QString name;  // as kExpected names it
  QString path;
  QString folder;  // empty: the store's default contacts folder
};

struct Export {
  const char* form;
  int codePage;
};

// Every form in the Western code page, and the single file in others: single-byte pages with
// letters of their own (Central European, Cyrillic, Greek), the Vietnamese page that spells
// accents as combining marks, and a double-byte one.
const Export kAllForms[] = {{"vcard", 1252}, {"vcards", 1252}, {"xls", 1252}, {"wab", 1252}};
const Export kOtherPages[] = {
    {"vcard", 1250}, {"vcard", 1251}, {"vcard", 1253}, {"vcard", 1258},
    {"vcard", 932},  {"xls", 1251},   {"xls", 932},
};

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The digest of what an export left in `dir`: the one file's bytes, or for the per-contact form
// every file's name, size and bytes in the byte order of the names.
QString DirectoryDigest(const QString& dir, bool perContact, QString& problem) {
  const QStringList files = QDir(dir).entryList(QDir::Files);
  if (!perContact) {
    if (files.size() != 1) {
      problem = QStringLiteral("%1 files instead of one").arg(files.size());
      return {};
    }
    return QString::fromLatin1(
        QCryptographicHash::hash(FileBytes(dir + u'/' + files[0]), QCryptographicHash::Sha256)
            .toHex());
  }
  std::vector<QByteArray> names;
  for (const QString& file : files) names.push_back(QFile::encodeName(file));
  std::sort(names.begin(), names.end());
  QCryptographicHash hash(QCryptographicHash::Sha256);
  for (const QByteArray& name : names) {
    const QByteArray bytes = FileBytes(dir + u'/' + QFile::decodeName(name));
    hash.addData(name);
    hash.addData(QByteArray(1, '\0'));
    hash.addData(QByteArray::number(bytes.size()));
    hash.addData(QByteArray(1, '\0'));
    hash.addData(bytes);
  }
  return QString::fromLatin1(hash.result().toHex());
}

// Exports every case into folders of its own under `scratch` and compares each digest with
// kExpected. On any difference the whole table of these stores is printed as it now is.
void CheckDigests(const std::vector<Store>& stores, const QString& scratch) {
  std::map<std::string, std::string> expected;
  for (const Expected& e : kExpected)
    expected[std::string(e.store) + '|' + e.form + '|' + std::to_string(e.codePage)] = e.digest;

  QString table;
  bool differs = false;
  int n = 0;
  for (const Store& store : stores) {
    std::vector<Export> exports(std::begin(kAllForms), std::end(kAllForms));
    exports.insert(exports.end(), std::begin(kOtherPages), std::end(kOtherPages));
    for (const Export& e : exports) {
      const QString form = QString::fromLatin1(e.form);
      const QString out = QStringLiteral("%1/%2").arg(scratch).arg(++n);
      QStringList args = {
          "export",  "--format", form, "--out", out, "--code-page", QString::number(e.codePage),
          store.path};
      if (!store.folder.isEmpty()) args << "--folder" << store.folder;
      const ProgramOutput run =
          RunCli(args, {{QStringLiteral("SOURCE_DATE_EPOCH"), QStringLiteral("1700000000")}});
      const std::string what =
          store.name.toStdString() + " " + e.form + " " + std::to_string(e.codePage);
      ASSERT_EQ(run.status, 0) << what << ": " << run.err.toStdString();
      QString problem;
      const QString digest = DirectoryDigest(out, form == u"vcards", problem);
      ASSERT_TRUE(problem.isEmpty()) << what << ": " << problem.toStdString();
      QDir(out).removeRecursively();  // the per-contact files of 10,000 contacts add up

      const auto it =
          expected.find(store.name.toStdString() + '|' + e.form + '|' + std::to_string(e.codePage));
      if (it == expected.end() || it->second != digest.toStdString()) {
        differs = true;
        ADD_FAILURE() << what << ": the bytes differ from those kept (now " << digest.toStdString()
                      << (it == expected.end() ? ", none kept" : ", kept " + it->second) << ")";
      }
      table += QStringLiteral("    {\"%1\", \"%2\", %3,\n     \"%4\"},\n")
                   .arg(store.name, form)
                   .arg(e.codePage)
                   .arg(digest);
    }
  }
  if (differs)
    std::printf("The digests as they now are (paste over these stores' rows of kExpected):\n%s",
                qPrintable(table));
}

}  // namespace

TEST(OutputDigest, SampleAndRealStoresKeepTheirBytes) {
  std::vector<Store> stores = {{"sample.pst", BinDir() + "/sample.pst", {}}};
  if (!SharedDir().isEmpty()) {
    // The store files that hold contacts, and the folder holding them where it is not the
    // default contacts folder.
    const std::pair<const char*, const char*> fixtures[] = {
        {"six-contacts.pst", ""},
        {"contact-and-distlist.pst", ""},
        {"mail-and-one-contact.pst", ""},
        {"72-contacts-in-mail-folder.pst", "Top of Personal Folders/myInbox"},
        {"japanese-contact-unicode.pst", ""},
        {"japanese-contact-ansi-cp932.pst", ""},
    };
    for (const auto& [file, folder] : fixtures)
      stores.push_back({QString::fromUtf8(file), FixturePst(QString::fromUtf8(file)),
                        QString::fromUtf8(folder)});
  }
  CheckDigests(stores, ScratchDir(QStringLiteral("exports")));
  if (SharedDir().isEmpty())
    GTEST_SKIP() << "only the sample store was checked: ../shared/fixtures/pst is absent (the "
                    "real store files come with the development workplace)";
}

TEST(OutputDigest, TenThousandSyntheticContactsKeepTheirBytes) {
  const QString scratch = ScratchDir(QStringLiteral("synthetic"));
  const QString store = scratch + QStringLiteral("/10000.pst");
  QProcess pstgen;
  pstgen.start(BinDir() + QStringLiteral("/lumivex-pstgen"),
               {"--contacts", "10000", "--seed", "1", "--out", store});
  ASSERT_TRUE(pstgen.waitForFinished(120000));
  ASSERT_EQ(pstgen.exitCode(), 0) << pstgen.readAllStandardError().toStdString();
  CheckDigests({{"pstgen --contacts 10000 --seed 1", store, {}}}, scratch);
}
