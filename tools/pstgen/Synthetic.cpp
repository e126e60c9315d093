#include "tools/pstgen/Synthetic.h"

#include <string>
#include <vector>

namespace lumivex::pstgen {

namespace {

struct Locale {
  std::vector<const char*> first;
  std::vector<const char*> last;
  std::vector<const char*> streets;
  std::vector<const char*> cities;
  const char* country;
  const char* phone_prefix;
  const char* mail_domain;
  bool family_name_first;
};

const std::vector<Locale>& Locales() {
  static const std::vector<Locale> locales = {
      {{"Amélie", "François", "Hélène", "Jérôme", "Loïc", "Noémie", "Zoé", "Gaëlle"},
       {"Lefèvre", "Dubois", "Mercier", "Girard", "Bérenger", "Faure", "Roussel", "Gauthier"},
       {"rue de la Paix", "avenue Jean-Jaurès", "boulevard Saint-Michel", "place de l'Église"},
       {"Paris", "Lyon", "Besançon", "Orléans", "Nîmes"},
       "France",
       "+33 1 ",
       "exemple.fr",
       false},
      {{"Jürgen", "Björn", "Käthe", "Günther", "Lena", "Maximilian", "Sören", "Jörg"},
       {"Müller", "Schäfer", "Weiß", "Groß", "Böhm", "Krüger", "Hoffmann", "Schröder"},
       {"Hauptstraße", "Königsallee", "Schloßstraße", "Mühlenweg"},
       {"München", "Köln", "Düsseldorf", "Nürnberg", "Lübeck"},
       "Deutschland",
       "+49 89 ",
       "beispiel.de",
       false},
      {{"José", "María", "Íñigo", "Begoña", "Ramón", "Lucía", "Martín", "Nuria"},
       {"García", "Fernández", "Núñez", "Ibáñez", "Muñoz", "Gómez", "Peña", "Sánchez"},
       {"calle Mayor", "avenida de la Constitución", "plaza de España", "paseo del Prado"},
       {"Madrid", "Córdoba", "Málaga", "León", "Cádiz"},
       "España",
       "+34 91 ",
       "ejemplo.es",
       false},
      {{"Łukasz", "Małgorzata", "Paweł", "Zofia", "Michał", "Agnieszka", "Wojciech", "Żaneta"},
       {"Kowalski", "Wiśniewska", "Wójcik", "Kamiński", "Łęcka", "Zieliński", "Szymańska"},
       {"ulica Długa", "aleja Róż", "ulica Świętojańska", "plac Wolności"},
       {"Kraków", "Łódź", "Wrocław", "Gdańsk", "Poznań"},
       "Polska",
       "+48 12 ",
       "przyklad.pl",
       false},
      {{"Александр", "Мария", "Дмитрий", "Екатерина", "Сергей", "Ольга", "Иван", "Наталья"},
       {"Иванов", "Смирнова", "Кузнецов", "Попова", "Соколов", "Лебедева", "Новиков"},
       {"улица Ленина", "Невский проспект", "улица Пушкина", "Садовая улица"},
       {"Москва", "Санкт-Петербург", "Новосибирск", "Казань", "Екатеринбург"},
       "Россия",
       "+7 495 ",
       "primer.ru",
       false},
      {{"Γιώργος", "Μαρία", "Νίκος", "Ελένη", "Δημήτρης", "Κατερίνα", "Κώστας", "Σοφία"},
       {"Παπαδόπουλος", "Παππά", "Οικονόμου", "Γεωργίου", "Νικολάου", "Βασιλείου"},
       {"οδός Ερμού", "λεωφόρος Συγγρού", "οδός Αθηνάς", "πλατεία Συντάγματος"},
       {"Αθήνα", "Θεσσαλονίκη", "Πάτρα", "Ηράκλειο", "Λάρισα"},
       "Ελλάδα",
       "+30 21 ",
       "paradeigma.gr",
       false},
      {{"伟", "芳", "娜", "敏", "静", "强", "磊", "洋"},
       {"王", "李", "张", "刘", "陈", "杨", "黄", "赵"},
       {"长安街", "南京路", "中山路", "人民大道"},
       {"北京", "上海", "广州", "深圳", "成都"},
       "中国",
       "+86 10 ",
       "shili.cn",
       true},
      {{"翔太", "さくら", "大輔", "陽子", "健一", "美咲", "拓也", "由美"},
       {"佐藤", "鈴木", "高橋", "田中", "渡辺", "伊藤", "山本", "中村"},
       {"銀座一丁目", "本町二丁目", "栄三丁目", "梅田一丁目"},
       {"東京", "大阪", "名古屋", "札幌", "福岡"},
       "日本",
       "+81 3 ",
       "rei.jp",
       true},
      {{"민준", "서연", "지훈", "하은", "도윤", "수아"},
       {"김", "이", "박", "최", "정", "강"},
       {"세종대로", "테헤란로", "강남대로"},
       {"서울", "부산", "인천", "대구"},
       "대한민국",
       "+82 2 ",
       "yesi.kr",
       true},
      {{"محمد", "فاطمة", "أحمد", "مريم", "علي", "ليلى"},
       {"الحسن", "العلي", "المصري", "الخطيب", "حداد"},
       {"شارع الملك فيصل", "شارع التحرير", "طريق المطار"},
       {"القاهرة", "عمّان", "دبي", "الرياض"},
       "مصر",
       "+20 2 ",
       "mithal.eg",
       false},
      {{"John", "Mary", "Robert", "Patricia", "Michael", "Linda", "David", "Susan"},
       {"Smith", "Johnson", "O'Brien", "Williams", "Brown", "Davis", "Miller", "Wilson"},
       {"Main Street", "Oak Avenue", "Maple Drive", "Elm Street", "Park Road"},
       {"Springfield", "Portland", "Austin", "Denver", "Boston"},
       "United States",
       "+1 555 ",
       "example.com",
       false},
  };
  return locales;
}

const char* kCompanies[] = {"Northwind Traders", "Contoso Ltd", "Fabrikam",  "Adventure Works",
                            "Tailspin Toys",     "Litware",     "Proseware", "Wingtip Toys"};
const char* kJobs[] = {"Engineer",   "Accountant", "Sales Manager", "Designer",
                       "Consultant", "Director",   "Buyer",         "Technician"};
const char* kDepartments[] = {"Sales", "Finance", "Research", "Support", "Purchasing", "Legal"};
const char* kCategories[] = {"Business", "Personal", "VIP", "Suppliers", "Family", "Holiday Cards"};

std::string Digits(uint64_t v, int n) {
  std::string s = std::to_string(v);
  while (static_cast<int>(s.size()) < n) s = "0" + s;
  return s.substr(s.size() - static_cast<size_t>(n));
}

}  // namespace

uint64_t SyntheticContacts::Random() {
  // splitmix64
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

Item SyntheticContacts::Next(uint64_t number) {
  const Locale& loc = Locales()[Pick(Locales().size())];
  Item item;
  auto add = [&](const char* name, std::string value) { item.fields.emplace_back(name, value); };
  const std::string first = loc.first[Pick(loc.first.size())];
  const std::string last = loc.last[Pick(loc.last.size())];
  add("FirstName", first);
  add("LastName", last);
  if (loc.family_name_first) add("FullName", last + first);
  auto phone = [&] {
    return std::string(loc.phone_prefix) + Digits(Random(), 3) + " " + Digits(Random(), 4);
  };
  const bool works = Pick(10) < 7;
  if (works) {
    add("CompanyName", kCompanies[Pick(std::size(kCompanies))]);
    add("JobTitle", kJobs[Pick(std::size(kJobs))]);
    if (Pick(2)) add("Department", kDepartments[Pick(std::size(kDepartments))]);
    add("BusinessTelephoneNumber", phone());
    if (Pick(4) == 0) add("BusinessFaxNumber", phone());
    add("BusinessAddressStreet",
        std::to_string(1 + Pick(200)) + " " + loc.streets[Pick(loc.streets.size())]);
    add("BusinessAddressCity", loc.cities[Pick(loc.cities.size())]);
    add("BusinessAddressPostalCode", Digits(Random(), 5));
    add("BusinessAddressCountry", loc.country);
  }
  if (Pick(3)) add("MobileTelephoneNumber", phone());
  if (Pick(2)) {
    add("HomeTelephoneNumber", phone());
    add("HomeAddressStreet",
        std::to_string(1 + Pick(200)) + " " + loc.streets[Pick(loc.streets.size())]);
    add("HomeAddressCity", loc.cities[Pick(loc.cities.size())]);
    add("HomeAddressPostalCode", Digits(Random(), 5));
    add("HomeAddressCountry", loc.country);
  }
  add("Email1Address", "contact" + std::to_string(number) + "@" + loc.mail_domain);
  if (Pick(5) == 0) {
    // Appended to a named string: GCC 12 at -O3 takes "c" + a temporary for an overlapping copy
    // (a false -Wrestrict).
    std::string home = "c";
    home += std::to_string(number);
    home += ".home@example.net";
    add("Email2Address", home);
  }
  if (Pick(6) == 0) {
    const int year = 1940 + static_cast<int>(Pick(65));
    add("Birthday",
        std::to_string(year) + "-" + Digits(1 + Pick(12), 2) + "-" + Digits(1 + Pick(28), 2));
  }
  if (Pick(8) == 0) add("WebPage", std::string("https://www.") + loc.mail_domain + "/");
  if (Pick(10) == 0)
    add("Body", "Met at the " + std::string(loc.cities[Pick(loc.cities.size())]) +
                    " fair.\r\nCall back about the offer.");
  if (Pick(7) == 0)
    item.fields.emplace_back("Categories",
                             std::vector<std::string>{kCategories[Pick(std::size(kCategories))]});
  return item;
}

Item SyntheticContacts::Person(uint64_t seed, uint64_t number, uint64_t variant) {
  SyntheticContacts person(seed * 0x9E3779B97F4A7C15ull ^ (number * 0xD1B54A32D192ED03ull));
  Item item = person.Next(number);
  const std::string initials = {static_cast<char>('A' + person.Pick(26)), '.', ' ',
                                static_cast<char>('A' + person.Pick(26)), '.'};
  item.fields.emplace(item.fields.begin() + 1, "MiddleName", initials);
  // A name written family name first is given whole: the initials go into it too.
  for (auto& [name, value] : item.fields)
    if (name == "FullName") value = std::get<std::string>(value) + " " + initials;
  if (variant == 0) return item;
  SyntheticContacts other(person.Random() ^ (variant * 0xA24BAED4963EE407ull));
  const bool ownAddress = other.Pick(4) == 0, noHomePhone = other.Pick(5) == 0,
             capitals = other.Pick(10) == 0;
  std::vector<std::pair<std::string, FieldValue>> changed;
  for (auto& [name, value] : item.fields) {
    std::string text =
        std::holds_alternative<std::string>(value) ? std::get<std::string>(value) : std::string();
    if (name == "JobTitle") {
      value = std::string(kJobs[other.Pick(std::size(kJobs))]);
    } else if (name == "Email1Address" && ownAddress) {
      const auto at = text.find('@');
      value = text.substr(0, at) + ".v" + std::to_string(variant) + text.substr(at);
    } else if (name == "HomeTelephoneNumber" && noHomePhone) {
      continue;
    } else if ((name == "FirstName" || name == "LastName") && capitals) {
      for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      value = text;
    }
    changed.emplace_back(name, value);
  }
  item.fields = std::move(changed);
  return item;
}

}  // namespace lumivex::pstgen
