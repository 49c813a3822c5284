// The vCard reader behind the address book: names, folded lines, the three versions, labels,
// value decoding, character sets, recovery from broken records, and the file itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "kit/AddressBook.h"
#include "kit/VCard.h"
#include "support/Scenario.h"

using kit::ABMultiValueEntry;
using kit::ABPerson;
using kit::AddressBook;
using namespace std::string_literals;
using Entries = std::vector<ABMultiValueEntry>;

namespace {

const std::string kMobile = kit::kABPersonPhoneMobileLabel, kHome = kit::kABHomeLabel, kWork = kit::kABWorkLabel,
                  kOther = kit::kABOtherLabel;
const std::optional<std::string> none = std::nullopt;

// One record of the given version with the given property lines.
std::string card(const std::string& version, const std::vector<std::string>& body, const std::string& eol = "\r\n")
{
    std::string text = "BEGIN:VCARD" + eol + "VERSION:" + version + eol;
    for (const auto& line : body)
        text += line + eol;
    return text + "END:VCARD" + eol;
}

std::vector<ABPerson> parseOk(const std::string& text)
{
    std::string diagnostic = "stale";
    auto people = AddressBook::parse(text, &diagnostic);
    EXPECT_EQ(diagnostic, "");
    return people;
}

// The single person of a one-record text; an empty person when there is not exactly one.
ABPerson only(const std::string& text)
{
    auto people = parseOk(text);
    EXPECT_EQ(people.size(), 1u) << text;
    return people.size() == 1 ? people[0] : ABPerson{};
}

} // namespace

TEST(VCard, NamesComeFromTheFirstNLineOnly)
{
    const std::tuple<std::string, std::optional<std::string>, std::optional<std::string>> cases[] = { // N line, first, last
        {"N:Berg;Anna;;;", "Anna", "Berg"}, {"N:Berg;Anna", "Anna", "Berg"}, {"N:Berg", none, "Berg"}, {"N:;Anna;;;", "Anna", none},
        {"N:Berg;;;;", none, "Berg"}, {"N:Berg; ;;;", " ", "Berg"}, // a blank is a name, not a missing one
        {"N:;;;;", none, none}, {"N:", none, none}, {"N:Berg;Anna;Maria;Dr.;PhD", "Anna", "Berg"},
        {"N:van der Berg;Anna Lena;;;", "Anna Lena", "van der Berg"}, {"n:berg;anna;;;", "anna", "berg"},
        {"N;LANGUAGE=de:Berg;Anna;;;", "Anna", "Berg"}, {"N:Ortiz\\, Jr.;Luis;;;", "Luis", "Ortiz, Jr."},
        {"N:A\\;B;C;;;", "C", "A;B"}, {"N:A\\\\;B;;;", "B", "A\\"}, {"N:Line\\nTwo;X", "X", "Line\nTwo"},
        {"N:Nash;Ben#2;;;", "Ben#2", "Nash"}, {"N:Dubois;Émile;;;", "Émile", "Dubois"},
    };
    for (const auto& [n, first, last] : cases) {
        ABPerson p = only(card("3.0", {n, "FN:whatever", "N:Other;Name;;;"}));
        EXPECT_EQ(p.firstName, first) << n;
        EXPECT_EQ(p.lastName, last) << n;
    }
    // A formatted name alone gives no names; the rest of the record is still read.
    EXPECT_EQ(only(card("3.0", {"FN:Harbor Motors", "ORG:Harbor Motors", "TEL;TYPE=WORK:555-0113"})),
              (ABPerson{none, none, {{kWork, "555-0113"}}, {}}));
}

TEST(VCard, FoldedLinesAndLineEnds)
{
    const std::tuple<std::string, std::optional<std::string>, std::string> cases[] = { // text, first name, e-mail
        {"BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ber\r\n g;Anna;;;\r\nEMAIL:a@exa\r\n mple.org\r\nEND:VCARD\r\n", "Anna", "a@example.org"},
        {"BEGIN:VCARD\nVERSION:3.0\nN:Berg;An\n\tna;;;\nEMAIL:a@example.org\nEND:VCARD\n", "Anna", "a@example.org"},
        {"BEGIN:VCARD\r\nVERSION:3.0\r\nN:B\r\n e\r\n r\r\n g;Anna\r\nEMAIL:x@example.org\r\nEND:VCARD\r\n", "Anna", "x@example.org"},
        {"BEGIN:VCARD\r\nVERSION:3.0\r\nN:Dubois;\xC3\r\n \x89mile\r\nEMAIL:e@example.org\r\nEND:VCARD\r\n", "Émile", "e@example.org"},
        {"BEGIN:VCARD\r\nVERSION:3.0\r\nN;LANGU\r\n AGE=en:Berg;Anna\r\nEMAIL;TYPE=\r\n HOME:h@example.org\r\nEND:VCARD\r\n", "Anna",
         "h@example.org"},
        // Quoted-printable soft breaks, also inside a UTF-8 character; elsewhere '=' is text.
        {"BEGIN:VCARD\r\nVERSION:2.1\r\nN;ENCODING=QUOTED-PRINTABLE:Be=\r\nrg;An=\r\nna\r\nEMAIL;INTERNET:a@example.org\r\nEND:VCARD\r\n",
         "Anna", "a@example.org"},
        {"BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=UTF-8;QUOTED-PRINTABLE:Dubois;=C3=\n=89mile\nEMAIL:e@example.org\nEND:VCARD\n", "Émile",
         "e@example.org"},
        {"BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berg;Anna=\r\nEMAIL:a@example.org\r\nEND:VCARD\r\n", "Anna=", "a@example.org"},
    };
    for (const auto& [text, first, email] : cases) {
        ABPerson p = only(text);
        EXPECT_EQ(p.firstName, first) << text;
        ASSERT_EQ(p.emails.size(), 1u) << text;
        EXPECT_EQ(p.emails[0].value, email) << text;
    }

    std::string records;
    for (int i = 0; i < 3; ++i)
        records += "BEGIN:VCARD\nVERSION:3.0\nN:Berg;Anna" + std::to_string(i) + ";;;\nTEL;TYPE=CELL:555-010" + std::to_string(i) +
                   "\nEMAIL:a@exam\n ple.org\nEND:VCARD\n";
    auto lf = parseOk(records);
    ASSERT_EQ(lf.size(), 3u);
    EXPECT_EQ(lf[2], (ABPerson{"Anna2", "Berg", {{kMobile, "555-0102"}}, {{kOther, "a@example.org"}}}));
    auto with = [&](const std::string& eol) {
        std::string text = records;
        for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + eol.size()))
            text.replace(at, 1, eol);
        return text;
    };
    EXPECT_EQ(parseOk(with("\r\n")), lf);
    EXPECT_EQ(parseOk(with("\r")), lf);
    // A byte-order mark in front, no line end after the last END:VCARD.
    EXPECT_EQ(parseOk("\xEF\xBB\xBF" + records.substr(0, records.size() - 1)), lf);
}

TEST(VCard, SamePersonInEveryVersion)
{
    const ABPerson expected{"Émile", "Dubois", {{kHome, "555-0101"}, {kMobile, "+1-555-0102"}}, {{kWork, "emile@example.org"}}};
    for (const auto& text : {card("2.1", {"N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:Dubois;=C9mile", "TEL;HOME;VOICE:555-0101",
                                          "TEL;CELL:+1-555-0102", "EMAIL;INTERNET;WORK:emile@example.org"}),
                             card("3.0", {"N:Dubois;Émile;;;", "FN:Émile Dubois", "TEL;TYPE=HOME,VOICE:555-0101", "TEL;TYPE=CELL:+1-555-0102",
                                          "EMAIL;TYPE=INTERNET;TYPE=WORK:emile@example.org"}),
                             card("4.0", {"N:Dubois;Émile;;;", "FN:Émile Dubois", "TEL;VALUE=uri;TYPE=\"voice,home\":tel:555-0101",
                                          "TEL;VALUE=uri;TYPE=cell:tel:+1-555-0102", "EMAIL;TYPE=work:emile@example.org"})})
        EXPECT_EQ(only(text), expected) << text;
}

TEST(VCard, LabelsFromTypesAndGroupedLabels)
{
    const std::pair<std::string, std::string> phones[] = {
        {"TEL;TYPE=CELL", kMobile}, {"TEL;type=cell", kMobile}, {"TEL;CELL", kMobile}, {"TEL;CELL;VOICE", kMobile},
        {"TEL;TYPE=cell,voice", kMobile}, {"TEL;TYPE=voice,CELL", kMobile}, {"TEL;TYPE=\"cell\"", kMobile},
        {"TEL;TYPE=\"voice,cell\"", kMobile}, {"TEL;TYPE=VOICE;TYPE=CELL", kMobile}, {"tel;Type=Cell", kMobile},
        {"TEL;TYPE=HOME", kHome}, {"TEL;HOME;VOICE", kHome}, {"TEL;TYPE=WORK,VOICE", kWork}, {"TEL;WORK", kWork}, {"TEL", kOther},
        {"TEL;TYPE=VOICE", kOther}, {"TEL;TYPE=FAX", kOther}, {"TEL;TYPE=cellular", kOther}, // only the whole word counts
        {"TEL;PREF=1", kOther},
    };
    for (const auto& [property, label] : phones)
        EXPECT_EQ(only(card("3.0", {"N:Berg;Anna", property + ":555-0100"})).phones, (Entries{{label, "555-0100"}})) << property;
    const std::pair<std::string, std::string> emails[] = {
        {"EMAIL;TYPE=HOME", kHome}, {"EMAIL;TYPE=INTERNET,WORK", kWork}, {"EMAIL;INTERNET;HOME", kHome}, {"EMAIL;TYPE=INTERNET", kOther},
        {"EMAIL", kOther}, {"EMAIL;TYPE=CELL", kOther}, // mobile is a phone label only
    };
    for (const auto& [property, label] : emails)
        EXPECT_EQ(only(card("3.0", {"N:Berg;Anna", property + ":a@example.org"})).emails, (Entries{{label, "a@example.org"}})) << property;

    // A grouped label applies to its own group, before or after the value, whatever the case.
    const std::tuple<std::vector<std::string>, Entries, Entries> grouped[] = { // lines, phones, e-mails
        {{"TEL;TYPE=HOME:555-0101", "item1.TEL:555-0102", "item1.X-ABLabel:_$!<Mobile>!$_"}, {{kHome, "555-0101"}, {kMobile, "555-0102"}}, {}},
        {{"item1.X-ABLabel:_$!<Mobile>!$_", "TEL;TYPE=HOME:555-0101", "item1.TEL:555-0102"}, {{kHome, "555-0101"}, {kMobile, "555-0102"}}, {}},
        {{"item2.TEL;TYPE=HOME:555-0101", "item2.X-ABLabel:_$!<Mobile>!$_"}, {{kMobile, "555-0101"}}, {}},
        {{"ITEM1.TEL:555-0101", "item1.x-ablabel:_$!<Mobile>!$_"}, {{kMobile, "555-0101"}}, {}},
        {{"item1.TEL;TYPE=CELL:555-0101", "item2.TEL:555-0102", "item3.X-ABLabel:_$!<Mobile>!$_", "item2.X-ABLabel:Garage"},
         {{kMobile, "555-0101"}, {"Garage", "555-0102"}}, {}},
        {{"item1.EMAIL:a@example.org", "item1.X-ABLabel:Club\\, racing"}, {}, {{"Club, racing", "a@example.org"}}},
        {{"TEL:555-0101", "X-ABLabel:_$!<Mobile>!$_"}, {{kOther, "555-0101"}}, {}}, // an ungrouped label belongs to nothing
        // Several values stay in file order.
        {{"TEL;TYPE=HOME:1", "TEL;TYPE=CELL:2", "TEL;TYPE=CELL:3", "EMAIL;TYPE=WORK:w@x", "EMAIL;TYPE=HOME:h@x"},
         {{kHome, "1"}, {kMobile, "2"}, {kMobile, "3"}}, {{kWork, "w@x"}, {kHome, "h@x"}}},
    };
    for (const auto& [lines, phonesExpected, emailsExpected] : grouped) {
        std::vector<std::string> body{"N:Berg;Anna;;;"};
        body.insert(body.end(), lines.begin(), lines.end());
        ABPerson p = only(card("3.0", body));
        EXPECT_EQ(p.phones, phonesExpected) << lines[0];
        EXPECT_EQ(p.emails, emailsExpected) << lines[0];
    }
}

TEST(VCard, ValuesAreDecodedAndEmptyOrUndecodableOnesLeftOut)
{
    const std::pair<std::string, std::string> cases[] = {
        {"TEL:(555) 010-0100", "(555) 010-0100"}, {"TEL:+1 555 0100 ", "+1 555 0100 "}, {"TEL:555\\,0100", "555,0100"},
        {"TEL;VALUE=uri:tel:+1-555-0100", "+1-555-0100"}, {"TEL;VALUE=uri:TEL:+1-555-0100;ext=7", "+1-555-0100;ext=7"},
        {"TEL;ENCODING=QUOTED-PRINTABLE:555=2D0100", "555-0100"},
        {"TEL;ENCODING=QUOTED-PRINTABLE:555=ZZ=4", "555=ZZ=4"}, // broken escapes stay as they are
        {"TEL;ENCODING=QUOTED-PRINTABLE:555-0100=", "555-0100"}, // a stray soft break before END:VCARD
        {"EMAIL:first\\;last@example.org", "first;last@example.org"}, {"EMAIL:back\\\\slash@example.org", "back\\slash@example.org"},
        {"EMAIL:odd\\xescape@example.org", "odd\\xescape@example.org"},
    };
    for (const auto& [line, value] : cases) {
        ABPerson p = only(card("3.0", {"N:Berg;Anna", line}));
        const auto& entries = line.starts_with("TEL") ? p.phones : p.emails;
        ASSERT_EQ(entries.size(), 1u) << line;
        EXPECT_EQ(entries[0].value, value) << line;
    }
    ABPerson p = only(card("3.0", {"N:Berg;Anna", "TEL;TYPE=CELL:", "TEL;VALUE=uri:tel:", "TEL:555-0101", "EMAIL:", "TEL:555-\xFF",
                                   "EMAIL:\xC3\x28@example.org", "EMAIL:ok@example.org", "EMAIL;CHARSET=ISO-8859-1:j\xFCrgen@example.org"}));
    EXPECT_EQ(p.phones, (Entries{{kOther, "555-0101"}}));
    EXPECT_EQ(p.emails, (Entries{{kOther, "ok@example.org"}, {kOther, "jürgen@example.org"}}));
}

TEST(VCard, CharsetsConvertedOrTheRecordDropped)
{
    const std::pair<std::string, std::optional<std::string>> cases[] = { // N line, first name (none: record dropped)
        {"N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=FCrgen", "Jürgen"}, {"N;CHARSET=latin1:M\xFCller;J\xFCrgen", "Jürgen"},
        {"N;charset=iso-8859-1:M\xFCller;\xC9mile", "Émile"}, {"N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=BCrgen", "Jürgen"},
        {"N;CHARSET=SHIFT_JIS:Sato;Ken", "Ken"}, // another charset: kept when it is valid UTF-8
        {"N;CHARSET=WINDOWS-1251:\xCF\xE5\xF2\xF0\xEE\xE2;Ken", none}, {"N:M\xFCller;J\xFCrgen", none},
        {"N;ENCODING=QUOTED-PRINTABLE:Berg;=FF", none},
    };
    for (const auto& [n, first] : cases) {
        auto people = parseOk(card("2.1", {"N:Before;One"}) + card("2.1", {n, "TEL:555-0100"}) + card("2.1", {"N:After;Two"}));
        ASSERT_EQ(people.size(), first ? 3u : 2u) << n;
        EXPECT_EQ(people.front().lastName, "Before") << n;
        EXPECT_EQ(people.back().lastName, "After") << n;
        if (first) {
            EXPECT_EQ(people[1], (ABPerson{first, people[1].lastName, {{kOther, "555-0100"}}, {}})) << n;
        }
    }

    EXPECT_EQ(kit::VCard::latin1ToUtf8("M\xFCller \xC9\xFF"), "Müller Éÿ");
}

TEST(VCard, BrokenRecordsAreSkippedAndOtherTextIsNoVCard)
{
    for (const std::string& broken : std::vector<std::string>{"BEGIN:VCARD\r\nVERSION:3.0\r\nN:Broken;Bad;;;\r\nTEL:555-0199\r\n", // no END before the next BEGIN
                                     "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Broken;Bad;;;\r\nthis is not a property\r\nEND:VCARD\r\n",
                                     "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Broken;Bad;;;\r\nsome garbage: here\r\nEND:VCARD\r\n",
                                     "BEGIN:VCARD\r\nN:Broken;Bad\r\n\x01\x02\x00\xFF\r\nEND:VCARD\r\n"s,
                                     "BEGIN:VCARD\r\nN:Broken;Bad\r\nTEL;TYPE=CELL\r\nEND:VCARD\r\n",
                                     "BEGIN:VCARD\r\nN:Broken;Bad\r\nEND:VCALENDAR\r\nEND:VCARD\r\n", "garbage\r\nEND:VCARD\r\nN:Stray;Line\r\n"}) {
        auto people = parseOk(card("3.0", {"N:Adler;Anna;;;"}) + broken + card("3.0", {"N:Brandt;Bruno;;;"}));
        ASSERT_EQ(people.size(), 2u) << broken;
        EXPECT_EQ(people[0].firstName, "Anna") << broken;
        EXPECT_EQ(people[1].firstName, "Bruno") << broken;
    }
    auto cut = parseOk(card("3.0", {"N:Adler;Anna;;;"}) + "BEGIN:VCARD\r\nN:Cut;Off\r\nTEL:555-01");
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].firstName, "Anna");
    // Duplicates are kept, in order.
    auto twice = parseOk(card("3.0", {"N:Diaz;Carla;;;", "TEL:1"}) + card("3.0", {"N:Adler;Anna;;;"}) + card("3.0", {"N:Diaz;Carla;;;", "TEL:2"}));
    ASSERT_EQ(twice.size(), 3u);
    EXPECT_EQ(twice[0].phones[0].value + twice[1].firstName.value_or("") + twice[2].phones[0].value, "1Anna2");

    const std::pair<std::string, bool> texts[] = { // text, reported as no vCard
        {"", false}, {"\r\n\n  \r\n", false}, {"Anna Adler, 555-0101\nBruno Brandt, 555-0108\n", true},
        {"First Name,Last Name,Phone\nAnna,Adler,555-0101\n", true}, {"N:Adler;Anna;;;\nTEL:555-0101\nEND:VCARD\n", true},
        {"\x89PNG\r\n\x1A\n\0\0\0\rIHDR"s, true}, {"BEGIN:VCARD\nN:Adler;Anna\n", false}, {"begin:vcard\nn:Adler;Anna\nend:vcard\n", false},
    };
    for (const auto& [text, reported] : texts) {
        std::string diagnostic;
        auto people = AddressBook::parse(text, &diagnostic);
        EXPECT_EQ(diagnostic.find("not a vCard") != std::string::npos, reported) << text << ": " << diagnostic;
        EXPECT_TRUE(!reported || people.empty()) << text;
    }
    EXPECT_TRUE(AddressBook::parse("no vCard here").empty()); // no diagnostic wanted
}

class AddressBookFile : public testing::Test {
protected:
    void TearDown() override { AddressBook::setPath(""); }

    // Creates the book from `path` and returns what went to stderr.
    std::string createFrom(const std::string& path, std::shared_ptr<AddressBook>& book)
    {
        AddressBook::setPath(path);
        testing::internal::CaptureStderr();
        book = AddressBook::create();
        return testing::internal::GetCapturedStderr();
    }
    std::string write(const std::string& name, const std::string& content)
    {
        scenario::writeFile(dir.path() + "/" + name, content);
        return dir.path() + "/" + name;
    }

    scenario::TempDir dir{"address-book-test"};
};

TEST_F(AddressBookFile, ReadsTheChosenFileOrServesAnEmptyBook)
{
    std::string path = write("contacts.vcf", card("3.0", {"N:Adler;Anna;;;"}) + card("2.1", {"N:Brandt;Bruno"}));
    std::shared_ptr<AddressBook> book;
    EXPECT_EQ(createFrom(path, book), "");
    EXPECT_EQ(AddressBook::path(), path);
    ASSERT_EQ(book->allPeople().size(), 2u);
    EXPECT_EQ(book->allPeople()[1].lastName, "Brandt");

    const std::pair<std::string, bool> unusable[] = { // path, reported (one line naming the file)
        {dir.path() + "/none.vcf", false}, {dir.path() + "/none/contacts.vcf", false}, {write("empty.vcf", ""), false},
        {write("notes.txt", "Anna Adler 555-0101\n"), true}, {dir.path(), true},
    };
    for (const auto& [file, reported] : unusable) {
        std::string err = createFrom(file, book);
        ASSERT_TRUE(book) << file;
        EXPECT_TRUE(book->allPeople().empty()) << file;
        EXPECT_EQ(err.find(file) != std::string::npos && std::count(err.begin(), err.end(), '\n') == 1, reported) << file << ": " << err;
        EXPECT_TRUE(reported || err.empty()) << err;
    }
}

TEST_F(AddressBookFile, DefaultPathFollowsTheEnvironment)
{
    auto saved = [](const char* name) { const char* v = std::getenv(name); return v ? std::optional<std::string>(v) : std::nullopt; };
    auto restore = [](const char* name, const std::optional<std::string>& v) { v ? ::setenv(name, v->c_str(), 1) : ::unsetenv(name); };
    auto home = saved("HOME"), data = saved("XDG_DATA_HOME");
    ::setenv("HOME", "/home/racer", 1);
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {"/data/racer", "/data/racer/street-client/contacts.vcf"}, {"", "/home/racer/.local/share/street-client/contacts.vcf"},
        {"relative/dir", "/home/racer/.local/share/street-client/contacts.vcf"}, {none, "/home/racer/.local/share/street-client/contacts.vcf"}};
    for (const auto& [value, expected] : cases) {
        restore("XDG_DATA_HOME", value);
        EXPECT_EQ(AddressBook::defaultPath(), expected) << value.value_or("(unset)");
    }
    AddressBook::setPath("");
    EXPECT_EQ(AddressBook::path(), AddressBook::defaultPath());
    restore("HOME", home);
    restore("XDG_DATA_HOME", data);
}

// A platform's book comes in no order of its own and is listed by the name the list shows; a
// file keeps its order, unless --contacts chose none and the source answered.
TEST_F(AddressBookFile, ASourceIsListedByNameAndAFileInItsOwnOrder)
{
    auto person = [](std::optional<std::string> first, std::optional<std::string> last, std::string phone = "") {
        ABPerson p{std::move(first), std::move(last), {}, {}};
        if (!phone.empty())
            p.phones.push_back({kMobile, phone});
        return p;
    };
    const std::vector<ABPerson> delivered = {
        person("Bea", "Bold"), person(none, "Berg"), person("Adam", "Ant", "1"), person("Adam", "Ant", "2"),
        person("adam", "Zed"), person("Ann", none), person("", "Zed"), person("Anna", "Able"),
    };
    auto names = [](const std::vector<ABPerson>& people) {
        std::vector<std::string> out;
        for (const auto& p : people)
            out.push_back((p.firstName ? *p.firstName + ' ' : "") + p.lastName.value_or("") + (p.phones.empty() ? "" : "#" + p.phones[0].value));
        return out;
    };
    const std::vector<std::string> byName = {" Zed", "Adam Ant#1", "Adam Ant#2", "Ann ", "Anna Able", "Bea Bold", "Berg", "adam Zed"};

    AddressBook::setPath("");
    AddressBook::setSource([&] { return std::optional(delivered); });
    EXPECT_EQ(names(AddressBook::create()->allPeople()), byName);

    // A file as it is written, however its names sort.
    std::string path = write("contacts.vcf", card("3.0", {"N:Bold;Bea;;;"}) + card("3.0", {"N:Ant;Adam;;;"}) + card("3.0", {"N:Able;Anna;;;"}));
    AddressBook::setPath(path);
    EXPECT_EQ(names(AddressBook::create()->allPeople()), (std::vector<std::string>{"Bea Bold", "Adam Ant", "Anna Able"}));
    AddressBook::setSource(nullptr);
}
