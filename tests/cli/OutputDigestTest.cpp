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
     "2ad7c40d71bb8615bb0ecefd37e596f378d1968d8e7b921a5fa10dc2e52c2345"},
    {"sample.pst", "vcards", 1252,
     "8ee2c79da0ff4cfb5e7fcd9916a9da21d188e83fa687550c1bcaca71572f830b"},
    {"sample.pst", "xls", 1252, "0701b7eda6f4bbd141bd553dc276342706ae934e205bef9c7b2ed1c23a7bd3eb"},
    {"sample.pst", "wab", 1252, "0998f1eef9c11c731dc8f1d4d6c7c4ff641632ec83493903909c08996096c417"},
    {"sample.pst", "vcard", 1250,
     "5271d2e560d61d465b412f485a841ece51bbdf653eb5abfc376a6d4883180471"},
    {"sample.pst", "vcard", 1251,
     "c0ff8e177a282986348a2bfdb5a5365fd40a3c7a4cbd2f1acf081cb648a8794c"},
    {"sample.pst", "vcard", 1253,
     "82bed13d50be005ff028fc28fa086f8386f9bccb6ddece7cdf26c13de7d3facd"},
    {"sample.pst", "vcard", 1258,
     "29fb11f81a79484c2d5eec725819bc060e828450e8d72e39719ac2253aec8213"},
    {"sample.pst", "vcard", 932,
     "f29bb04cb500f7c81a2e1b4c22dcd9b7715abcd269b6407fc9e98797b51ad676"},
    {"sample.pst", "xls", 1251, "8bfa046c227ea13de2806ba4ef525e9db5e951edf9e0b57479d2a9d706dbcc8c"},
    {"sample.pst", "xls", 932, "87c1bcac796fc223d93e21119453d108d72b7e6e3154edd1d8998d6f2cd3be4b"},
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
     "cacf6e714af426e14b6376489392cacc9fd78322c48e650b587e5aac35972e31"},
    {"six-contacts.pst", "xls", 932,
     "5f9686fb33353e003c46894b733743c14783cccb0eb22680f238b39d3a0352c3"},
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
     "58aa941440862143fb51c1bdda7a47ef6de342fd740418fab3abcd947e9bf96e"},
    {"contact-and-distlist.pst", "xls", 932,
     "765774d5346ad9fd748336dfec035e7546ec1870afaab7eccc97fb14303fe14b"},
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
     "d748de22f7c57721e9a3658871596f16a88e0539d06d02010b79228650b7fd84"},
    {"mail-and-one-contact.pst", "xls", 932,
     "09ea8eeffc5000e1691e40428e9ead1519ae4fdf0c2f9a2d645cba81eb77d56f"},
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
     "c84c5bf5702c0e762dbab1e96fc2882603b2f5a907a8cca6cd494ead1b2050e1"},
    {"72-contacts-in-mail-folder.pst", "xls", 932,
     "bb18e5b9eede27d2c03d2445c9f1b93ed85ead2f916db837ff945fb3c7fc7c14"},
    {"japanese-contact-unicode.pst", "vcard", 1252,
     "ae2fa224c539cd3691447dee5c5fba7463bf624ed98f9ed5774003f9cf7577f7"},
    {"japanese-contact-unicode.pst", "vcards", 1252,
     "736d42091a04e2aeb8f5934c963c86cc86419fd3d3243957bd10593cbc090321"},
    {"japanese-contact-unicode.pst", "xls", 1252,
     "404011bb70b8d66b30ff84e5ca38381004b4238c720c5a9601599a7311e024ec"},
    {"japanese-contact-unicode.pst", "wab", 1252,
     "75111a52d0caec0845a508300eb7d8842069624c0892f1847d5d1ca4c2f10ebb"},
    {"japanese-contact-unicode.pst", "vcard", 1250,
     "ae2fa224c539cd3691447dee5c5fba7463bf624ed98f9ed5774003f9cf7577f7"},
    {"japanese-contact-unicode.pst", "vcard", 1251,
     "ae2fa224c539cd3691447dee5c5fba7463bf624ed98f9ed5774003f9cf7577f7"},
    {"japanese-contact-unicode.pst", "vcard", 1253,
     "ae2fa224c539cd3691447dee5c5fba7463bf624ed98f9ed5774003f9cf7577f7"},
    {"japanese-contact-unicode.pst", "vcard", 1258,
     "ae2fa224c539cd3691447dee5c5fba7463bf624ed98f9ed5774003f9cf7577f7"},
    {"japanese-contact-unicode.pst", "vcard", 932,
     "f209231ec9b37b20a8c962939b5abf8f3f9b0efc0e1dce6cc8cfb192b39da774"},
    {"japanese-contact-unicode.pst", "xls", 1251,
     "3c0bad0731eab1c6d057ad2a2b3dab0103e1dcea0727ce501fbb369a4f893b3f"},
    {"japanese-contact-unicode.pst", "xls", 932,
     "e81f3715934a53f760e88c699c74f7122d16c1891bbd680464599457a9420295"},
    {"japanese-contact-ansi-cp932.pst", "vcard", 1252,
     "ae2fa224c539cd3691447dee5c5fba7463bf624ed98f9ed5774003f9cf7577f7"},
    {"japanese-contact-ansi-cp932.pst", "vcards", 1252,
     "736d42091a04e2aeb8f5934c963c86cc86419fd3d3243957bd10593cbc090321"},
    {"japanese-contact-ansi-cp932.pst", "xls", 1252,
     "404011bb70b8d66b30ff84e5ca38381004b4238c720c5a9601599a7311e024ec"},
    {"japanese-contact-ansi-cp932.pst", "wab", 1252,
     "75111a52d0caec0845a508300eb7d8842069624c0892f1847d5d1ca4c2f10ebb"},
    {"japanese-contact-ansi-cp932.pst", "vcard", 1250,
     "ae2fa224c539cd3691447dee5c5fba7463bf624ed98f9ed5774003f9cf7577f7"},
    {"japanese-contact-ansi-cp932.pst", "vcard", 1251,
     "ae2fa224c539cd3691447dee5c5fba7463bf624ed98f9ed5774003f9cf7577f7"},
    {"japanese-contact-ansi-cp932.pst", "vcard", 1253,
     "ae2fa224c539cd3691447dee5c5fba7463bf624ed98f9ed5774003f9cf7577f7"},
    {"japanese-contact-ansi-cp932.pst", "vcard", 1258,
     "ae2fa224c539cd3691447dee5c5fba7463bf624ed98f9ed5774003f9cf7577f7"},
    {"japanese-contact-ansi-cp932.pst", "vcard", 932,
     "f209231ec9b37b20a8c962939b5abf8f3f9b0efc0e1dce6cc8cfb192b39da774"},
    {"japanese-contact-ansi-cp932.pst", "xls", 1251,
     "3c0bad0731eab1c6d057ad2a2b3dab0103e1dcea0727ce501fbb369a4f893b3f"},
    {"japanese-contact-ansi-cp932.pst", "xls", 932,
     "e81f3715934a53f760e88c699c74f7122d16c1891bbd680464599457a9420295"},
    {"pstgen --contacts 10000 --seed 1", "vcard", 1252,
     "31af2bd899c5d8bc9ee662f812f40c9982cdbb9100602d1027e75740bd517bb5"},
    {"pstgen --contacts 10000 --seed 1", "vcards", 1252,
     "336d48a7f686978598a6e653d947b0f9f0a31876b3badea436207dee0d712c25"},
    {"pstgen --contacts 10000 --seed 1", "xls", 1252,
     "f7b3e58eaba9b71f10f23cdc09863810caf9a897d4b9d33eab88daa9b2daeeb3"},
    {"pstgen --contacts 10000 --seed 1", "wab", 1252,
     "cd8ab825188a8502e855265af202fb09d5f800ecafb6cfc41c431c61046e6850"},
    {"pstgen --contacts 10000 --seed 1", "vcard", 1250,
     "06a9b302175bdd1047d348106bad4142282b9eaf5f635c20958ad41b86f8f766"},
    {"pstgen --contacts 10000 --seed 1", "vcard", 1251,
     "a101178900ad6aaae8a8a224df1dcae965c8c608dbf44d4f91c3aa3c28b6894a"},
    {"pstgen --contacts 10000 --seed 1", "vcard", 1253,
     "058d88e2aab3897503af14378a148c4d675044426dc13b7e828c2e7d57fa2713"},
    {"pstgen --contacts 10000 --seed 1", "vcard", 1258,
     "dfd4471955cced1d38af64e74f2df564d0cefe185116d748a257208fcb9e3ab4"},
    {"pstgen --contacts 10000 --seed 1", "vcard", 932,
     "16f96dceb210c857e2b14f353b71f821c418b3dcb5027641ad2f45d91392b060"},
    {"pstgen --contacts 10000 --seed 1", "xls", 1251,
     "b23e941b3eeec98e8246d73fd868680ee5293546807ea7e56a4bde57dc7cc578"},
    {"pstgen --contacts 10000 --seed 1", "xls", 932,
     "b2708400134d86990ce06e4ddcec21f97240f218c8bc6ed3a7b6a808a26288d2"},
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
