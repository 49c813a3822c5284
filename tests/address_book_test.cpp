#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "kit/AddressBook.h"
#include "kit/VCard.h"

using kit::ABMultiValueEntry;
using kit::ABPerson;
using kit::AddressBook;
using namespace std::string_literals;

namespace {

const std::string kMobile = kit::kABPersonPhoneMobileLabel;
const std::string kHome = kit::kABHomeLabel;
const std::string kWork = kit::kABWorkLabel;
const std::string kOther = kit::kABOtherLabel;

std::string joinLines(const std::vector<std::string>& lines, const std::string& eol = "\r\n")
{
    std::string out;
    for (const auto& line : lines)
        out += line + eol;
    return out;
}

// One record of the given version with the given property lines.
std::string card(const std::string& version, const std::vector<std::string>& body, const std::string& eol = "\r\n")
{
    std::vector<std::string> lines { "BEGIN:VCARD", "VERSION:" + version };
    lines.insert(lines.end(), body.begin(), body.end());
    lines.push_back("END:VCARD");
    return joinLines(lines, eol);
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
    return people.size() == 1 ? people[0] : ABPerson {};
}

const std::optional<std::string> none = std::nullopt;

struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        char pattern[] = "/tmp/address-book-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        path = made ? made : "/nonexistent-address-book-test";
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string write(const std::string& name, const std::string& content) const
    {
        auto file = path / name;
        std::ofstream(file, std::ios::binary) << content;
        return file.string();
    }
};

} // namespace

// --- Names -----------------------------------------------------------------------------------

TEST(VCardNames, ComponentsOfN)
{
    struct Case {
        std::string n;
        std::optional<std::string> first;
        std::optional<std::string> last;
    };
    const Case cases[] = {
        { "N:Berg;Anna;;;", "Anna", "Berg" },
        { "N:Berg;Anna", "Anna", "Berg" },             // 2.1 writers stop after the given name
        { "N:Berg", none, "Berg" },
        { "N:;Anna;;;", "Anna", none },
        { "N:Berg;;;;", none, "Berg" },
        { "N:Berg; ;;;", " ", "Berg" },                 // a blank is a name, not a missing one
        { "N:;;;;", none, none },
        { "N:", none, none },
        { "N:Berg;Anna;Maria;Dr.;PhD", "Anna", "Berg" }, // additional names, prefix, suffix unused
        { "N:van der Berg;Anna Lena;;;", "Anna Lena", "van der Berg" },
        { "n:berg;anna;;;", "anna", "berg" },            // property names are case-insensitive
        { "N;LANGUAGE=de:Berg;Anna;;;", "Anna", "Berg" },
        { "N:Ortiz\\, Jr.;Luis;;;", "Luis", "Ortiz, Jr." },
        { "N:A\\;B;C;;;", "C", "A;B" },                   // escaped ';' does not split
        { "N:A\\\\;B;;;", "B", "A\\" },                   // escaped backslash, then a real split
        { "N:Line\\nTwo;X", "X", "Line\nTwo" },
        { "N:Nash;Ben#2;;;", "Ben#2", "Nash" },
        { "N:Dubois;Émile;;;", "Émile", "Dubois" },
    };
    for (const auto& c : cases) {
        ABPerson p = only(card("3.0", { c.n, "FN:whatever" }));
        EXPECT_EQ(p.firstName, c.first) << c.n;
        EXPECT_EQ(p.lastName, c.last) << c.n;
    }
}

TEST(VCardNames, FormattedNameAloneGivesNoNames)
{
    ABPerson p = only(card("3.0", { "FN:Harbor Motors", "ORG:Harbor Motors", "TEL;TYPE=WORK:555-0113" }));
    EXPECT_EQ(p.firstName, none);
    EXPECT_EQ(p.lastName, none);
    ASSERT_EQ(p.phones.size(), 1u);
    EXPECT_EQ(p.phones[0].value, "555-0113");
}

TEST(VCardNames, FirstNLineWins)
{
    ABPerson p = only(card("3.0", { "N:Berg;Anna;;;", "N:Other;Name;;;" }));
    EXPECT_EQ(p.firstName, "Anna");
    EXPECT_EQ(p.lastName, "Berg");
}

// --- Line ends and folding -------------------------------------------------------------------

TEST(VCardFolding, ContinuationLines)
{
    struct Case {
        const char* what;
        std::string text;
        std::optional<std::string> first;
        std::optional<std::string> last;
        std::string email;
    };
    const Case cases[] = {
        { "3.0 blank continuation", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ber\r\n g;Anna;;;\r\nEMAIL:a@exa\r\n mple.org\r\nEND:VCARD\r\n",
            "Anna", "Berg", "a@example.org" },
        { "tab continuation", "BEGIN:VCARD\nVERSION:3.0\nN:Berg;An\n\tna;;;\nEMAIL:a@example.org\nEND:VCARD\n", "Anna", "Berg",
            "a@example.org" },
        { "several continuations", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:B\r\n e\r\n r\r\n g;Anna\r\nEMAIL:x@example.org\r\nEND:VCARD\r\n",
            "Anna", "Berg", "x@example.org" },
        { "fold inside a UTF-8 character", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Dubois;\xC3\r\n \x89mile\r\nEMAIL:e@example.org\r\nEND:VCARD\r\n",
            "Émile", "Dubois", "e@example.org" },
        { "folded header", "BEGIN:VCARD\r\nVERSION:3.0\r\nN;LANGU\r\n AGE=en:Berg;Anna\r\nEMAIL;TYPE=\r\n HOME:h@example.org\r\nEND:VCARD\r\n",
            "Anna", "Berg", "h@example.org" },
        { "2.1 quoted-printable soft break",
            "BEGIN:VCARD\r\nVERSION:2.1\r\nN;ENCODING=QUOTED-PRINTABLE:Be=\r\nrg;An=\r\nna\r\nEMAIL;INTERNET:a@example.org\r\nEND:VCARD\r\n", "Anna",
            "Berg", "a@example.org" },
        { "2.1 bare QUOTED-PRINTABLE with UTF-8 bytes split by a soft break",
            "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=UTF-8;QUOTED-PRINTABLE:Dubois;=C3=\n=89mile\nEMAIL:e@example.org\nEND:VCARD\n", "Émile", "Dubois",
            "e@example.org" },
        { "a trailing '=' is a soft break only in quoted-printable",
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berg;Anna=\r\nEMAIL:a@example.org\r\nEND:VCARD\r\n", "Anna=", "Berg", "a@example.org" },
    };
    for (const auto& c : cases) {
        ABPerson p = only(c.text);
        EXPECT_EQ(p.firstName, c.first) << c.what;
        EXPECT_EQ(p.lastName, c.last) << c.what;
        ASSERT_EQ(p.emails.size(), 1u) << c.what;
        EXPECT_EQ(p.emails[0].value, c.email) << c.what;
    }
}

TEST(VCardFolding, LineEndsDoNotChangeTheResult)
{
    std::vector<std::string> lines;
    for (int i = 0; i < 3; ++i) {
        auto part = std::vector<std::string> { "BEGIN:VCARD", "VERSION:3.0", "N:Berg;Anna" + std::to_string(i) + ";;;",
            "TEL;TYPE=CELL:555-010" + std::to_string(i), "EMAIL:a@exam", " ple.org", "END:VCARD" };
        lines.insert(lines.end(), part.begin(), part.end());
    }
    auto crlf = parseOk(joinLines(lines, "\r\n"));
    ASSERT_EQ(crlf.size(), 3u);
    EXPECT_EQ(crlf[2].firstName, "Anna2");
    EXPECT_EQ(crlf[2].emails[0].value, "a@example.org");
    EXPECT_EQ(parseOk(joinLines(lines, "\n")), crlf);
    EXPECT_EQ(parseOk(joinLines(lines, "\r")), crlf);
    // No line end after END:VCARD, a byte-order mark in front.
    std::string text = "\xEF\xBB\xBF" + joinLines(lines, "\r\n");
    text.resize(text.size() - 2);
    EXPECT_EQ(parseOk(text), crlf);
}

// --- The three versions -----------------------------------------------------------------------

TEST(VCardVersions, SamePersonInEveryVersion)
{
    const ABPerson expected {
        "Émile",
        "Dubois",
        { { kHome, "555-0101" }, { kMobile, "+1-555-0102" } },
        { { kWork, "emile@example.org" } },
    };
    const std::string versions[] = {
        card("2.1", { "N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:Dubois;=C9mile", "TEL;HOME;VOICE:555-0101", "TEL;CELL:+1-555-0102",
                        "EMAIL;INTERNET;WORK:emile@example.org" }),
        card("3.0", { "N:Dubois;Émile;;;", "FN:Émile Dubois", "TEL;TYPE=HOME,VOICE:555-0101", "TEL;TYPE=CELL:+1-555-0102",
                        "EMAIL;TYPE=INTERNET;TYPE=WORK:emile@example.org" }),
        card("4.0", { "N:Dubois;Émile;;;", "FN:Émile Dubois", "TEL;VALUE=uri;TYPE=\"voice,home\":tel:555-0101",
                        "TEL;VALUE=uri;TYPE=cell:tel:+1-555-0102", "EMAIL;TYPE=work:emile@example.org" }),
    };
    for (const auto& text : versions)
        EXPECT_EQ(only(text), expected) << text;
}

// --- Labels -----------------------------------------------------------------------------------

TEST(VCardLabels, PhoneLabelFromTypes)
{
    struct Case {
        std::string line;
        std::string label;
    };
    const Case cases[] = {
        { "TEL;TYPE=CELL:555-0100", kMobile },
        { "TEL;type=cell:555-0100", kMobile },
        { "TEL;CELL:555-0100", kMobile },
        { "TEL;CELL;VOICE:555-0100", kMobile },
        { "TEL;TYPE=cell,voice:555-0100", kMobile },
        { "TEL;TYPE=voice,CELL:555-0100", kMobile },
        { "TEL;TYPE=\"cell\":555-0100", kMobile },
        { "TEL;TYPE=\"voice,cell\":555-0100", kMobile },
        { "TEL;TYPE=VOICE;TYPE=CELL:555-0100", kMobile },
        { "tel;Type=Cell:555-0100", kMobile },
        { "TEL;TYPE=HOME:555-0100", kHome },
        { "TEL;HOME;VOICE:555-0100", kHome },
        { "TEL;TYPE=WORK,VOICE:555-0100", kWork },
        { "TEL;WORK:555-0100", kWork },
        { "TEL:555-0100", kOther },
        { "TEL;TYPE=VOICE:555-0100", kOther },
        { "TEL;TYPE=FAX:555-0100", kOther },
        { "TEL;TYPE=cellular:555-0100", kOther }, // only the whole word counts
        { "TEL;PREF=1:555-0100", kOther },
    };
    for (const auto& c : cases) {
        ABPerson p = only(card("3.0", { "N:Berg;Anna", c.line }));
        ASSERT_EQ(p.phones.size(), 1u) << c.line;
        EXPECT_EQ(p.phones[0].label, c.label) << c.line;
        EXPECT_EQ(p.phones[0].value, "555-0100") << c.line;
    }
}

TEST(VCardLabels, EmailLabelFromTypes)
{
    struct Case {
        std::string line;
        std::string label;
    };
    const Case cases[] = {
        { "EMAIL;TYPE=HOME:a@example.org", kHome },
        { "EMAIL;TYPE=INTERNET,WORK:a@example.org", kWork },
        { "EMAIL;INTERNET;HOME:a@example.org", kHome },
        { "EMAIL;TYPE=INTERNET:a@example.org", kOther },
        { "EMAIL:a@example.org", kOther },
        { "EMAIL;TYPE=CELL:a@example.org", kOther }, // mobile is a phone label only
    };
    for (const auto& c : cases) {
        ABPerson p = only(card("3.0", { "N:Berg;Anna", c.line }));
        ASSERT_EQ(p.emails.size(), 1u) << c.line;
        EXPECT_EQ(p.emails[0].label, c.label) << c.line;
    }
}

TEST(VCardLabels, GroupedLabelAppliesToItsGroupInEitherOrder)
{
    struct Case {
        const char* what;
        std::vector<std::string> body;
        std::vector<ABMultiValueEntry> phones;
        std::vector<ABMultiValueEntry> emails;
    };
    const Case cases[] = {
        { "label after the number", { "TEL;TYPE=HOME:555-0101", "item1.TEL:555-0102", "item1.X-ABLabel:_$!<Mobile>!$_" },
            { { kHome, "555-0101" }, { kMobile, "555-0102" } }, {} },
        { "label before the number", { "item1.X-ABLabel:_$!<Mobile>!$_", "TEL;TYPE=HOME:555-0101", "item1.TEL:555-0102" },
            { { kHome, "555-0101" }, { kMobile, "555-0102" } }, {} },
        { "label overrides the type", { "item2.TEL;TYPE=HOME:555-0101", "item2.X-ABLabel:_$!<Mobile>!$_" }, { { kMobile, "555-0101" } },
            {} },
        { "group names ignore case", { "ITEM1.TEL:555-0101", "item1.x-ablabel:_$!<Mobile>!$_" }, { { kMobile, "555-0101" } }, {} },
        { "other groups are untouched",
            { "item1.TEL;TYPE=CELL:555-0101", "item2.TEL:555-0102", "item3.X-ABLabel:_$!<Mobile>!$_", "item2.X-ABLabel:Garage" },
            { { kMobile, "555-0101" }, { "Garage", "555-0102" } }, {} },
        { "custom label text, escaped", { "item1.EMAIL:a@example.org", "item1.X-ABLabel:Club\\, racing" }, {},
            { { "Club, racing", "a@example.org" } } },
        { "an ungrouped label belongs to nothing", { "TEL:555-0101", "X-ABLabel:_$!<Mobile>!$_" }, { { kOther, "555-0101" } }, {} },
    };
    for (const auto& c : cases) {
        std::vector<std::string> body { "N:Berg;Anna;;;" };
        body.insert(body.end(), c.body.begin(), c.body.end());
        ABPerson p = only(card("3.0", body));
        EXPECT_EQ(p.phones, c.phones) << c.what;
        EXPECT_EQ(p.emails, c.emails) << c.what;
    }
}

TEST(VCardLabels, ValuesKeptInFileOrder)
{
    ABPerson p = only(card("3.0", { "N:Adler;Anna;;;", "TEL;TYPE=HOME:555-0101", "TEL;TYPE=CELL:555-0102", "TEL;TYPE=CELL:555-0103",
                                      "EMAIL;TYPE=WORK:w@example.com", "EMAIL;TYPE=HOME:h@example.org" }));
    const std::vector<ABMultiValueEntry> phones { { kHome, "555-0101" }, { kMobile, "555-0102" }, { kMobile, "555-0103" } };
    const std::vector<ABMultiValueEntry> emails { { kWork, "w@example.com" }, { kHome, "h@example.org" } };
    EXPECT_EQ(p.phones, phones);
    EXPECT_EQ(p.emails, emails);
}

// --- Values -----------------------------------------------------------------------------------

TEST(VCardValues, DecodedAsWritten)
{
    struct Case {
        std::string line;
        std::string value;
    };
    const Case cases[] = {
        { "TEL:(555) 010-0100", "(555) 010-0100" },
        { "TEL:+1 555 0100 ", "+1 555 0100 " },
        { "TEL:555\\,0100", "555,0100" },
        { "TEL;VALUE=uri:tel:+1-555-0100", "+1-555-0100" },
        { "TEL;VALUE=uri:TEL:+1-555-0100;ext=7", "+1-555-0100;ext=7" },
        { "TEL;ENCODING=QUOTED-PRINTABLE:555=2D0100", "555-0100" },
        { "TEL;ENCODING=QUOTED-PRINTABLE:555=ZZ=4", "555=ZZ=4" }, // broken escapes stay as they are
        { "TEL;ENCODING=QUOTED-PRINTABLE:555-0100=", "555-0100" },  // a stray soft break before END:VCARD
        { "EMAIL:first\\;last@example.org", "first;last@example.org" },
        { "EMAIL:back\\\\slash@example.org", "back\\slash@example.org" },
        { "EMAIL:odd\\xescape@example.org", "odd\\xescape@example.org" },
    };
    for (const auto& c : cases) {
        ABPerson p = only(card("3.0", { "N:Berg;Anna", c.line }));
        const auto& entries = c.line.starts_with("TEL") ? p.phones : p.emails;
        ASSERT_EQ(entries.size(), 1u) << c.line;
        EXPECT_EQ(entries[0].value, c.value) << c.line;
    }
}

TEST(VCardValues, EmptyValuesAreNotKept)
{
    ABPerson p = only(card("3.0", { "N:Berg;Anna", "TEL;TYPE=CELL:", "TEL;VALUE=uri:tel:", "TEL:555-0101", "EMAIL:" }));
    EXPECT_EQ(p.phones, (std::vector<ABMultiValueEntry> { { kOther, "555-0101" } }));
    EXPECT_TRUE(p.emails.empty());
}

TEST(VCardCharsets, ConvertedOrDropped)
{
    struct Case {
        const char* what;
        std::string nLine;
        std::optional<std::string> first; // none with `dropped` means the whole record is dropped
        bool dropped;
    };
    const Case cases[] = {
        { "latin1, quoted-printable", "N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=FCrgen", "Jürgen", false },
        { "latin1, raw bytes", "N;CHARSET=latin1:M\xFCller;J\xFCrgen", "Jürgen", false },
        { "charset names ignore case", "N;charset=iso-8859-1:M\xFCller;\xC9mile", "Émile", false },
        { "UTF-8 declared", "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=BCrgen", "Jürgen", false },
        { "other charset, valid UTF-8 kept", "N;CHARSET=SHIFT_JIS:Sato;Ken", "Ken", false },
        { "other charset, not UTF-8", "N;CHARSET=WINDOWS-1251:\xCF\xE5\xF2\xF0\xEE\xE2;Ken", none, true },
        { "no charset, invalid UTF-8 name", "N:M\xFCller;J\xFCrgen", none, true },
        { "quoted-printable bytes that are not UTF-8", "N;ENCODING=QUOTED-PRINTABLE:Berg;=FF", none, true },
    };
    for (const auto& c : cases) {
        std::string text = card("2.1", { "N:Before;One" }) + card("2.1", { c.nLine, "TEL:555-0100" }) + card("2.1", { "N:After;Two" });
        auto people = parseOk(text);
        ASSERT_EQ(people.size(), c.dropped ? 2u : 3u) << c.what;
        EXPECT_EQ(people.front().lastName, "Before") << c.what;
        EXPECT_EQ(people.back().lastName, "After") << c.what;
        if (!c.dropped) {
            EXPECT_EQ(people[1].firstName, c.first) << c.what;
            EXPECT_EQ(people[1].phones.size(), 1u) << c.what;
        }
    }
}

TEST(VCardCharsets, InvalidValueDropsOnlyThatValue)
{
    ABPerson p = only(card("3.0", { "N:Berg;Anna", "TEL:555-0101", "TEL:555-\xFF", "EMAIL:\xC3\x28@example.org", "EMAIL:ok@example.org",
                                      "EMAIL;CHARSET=ISO-8859-1:j\xFCrgen@example.org" }));
    EXPECT_EQ(p.phones, (std::vector<ABMultiValueEntry> { { kOther, "555-0101" } }));
    EXPECT_EQ(p.emails, (std::vector<ABMultiValueEntry> { { kOther, "ok@example.org" }, { kOther, "jürgen@example.org" } }));
}

TEST(VCardCharsets, Utf8Validation)
{
    struct Case {
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        { "", true },
        { "plain", true },
        { "\xC3\x89", true },             // É
        { "\xE2\x82\xAC", true },         // €
        { "\xF0\x9F\x8F\x8E", true },     // racing car
        { "\xF4\x8F\xBF\xBF", true },     // U+10FFFF
        { "\xC3", false },                // cut short
        { "\xE2\x82", false },
        { "\x89", false },                // stray continuation byte
        { "\xC0\xAF", false },            // overlong '/'
        { "\xE0\x80\xAF", false },        // overlong
        { "\xF0\x80\x80\xAF", false },    // overlong
        { "\xED\xA0\x80", false },        // surrogate
        { "\xF4\x90\x80\x80", false },    // past U+10FFFF
        { "\xFF", false },
        { "ab\xC3\x28", false },          // lead byte without continuation
    };
    for (const auto& c : cases)
        EXPECT_EQ(kit::VCard::isValidUtf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
    EXPECT_EQ(kit::VCard::latin1ToUtf8("M\xFCller \xC9\xFF"), "Müller Éÿ");
}

// --- Broken input -----------------------------------------------------------------------------

TEST(VCardRecovery, BrokenRecordAmongGoodOnesIsSkipped)
{
    struct Case {
        const char* what;
        std::string broken;
    };
    const Case cases[] = {
        { "BEGIN without END before the next BEGIN", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Broken;Bad;;;\r\nTEL:555-0199\r\n" },
        { "a line that is no property", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Broken;Bad;;;\r\nthis is not a property\r\nEND:VCARD\r\n" },
        { "a property name with blanks", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Broken;Bad;;;\r\nsome garbage: here\r\nEND:VCARD\r\n" },
        { "binary junk", "BEGIN:VCARD\r\nN:Broken;Bad\r\n\x01\x02\x00\xFF\r\nEND:VCARD\r\n"s },
        { "parameters without a value", "BEGIN:VCARD\r\nN:Broken;Bad\r\nTEL;TYPE=CELL\r\nEND:VCARD\r\n" },
        { "END of something else", "BEGIN:VCARD\r\nN:Broken;Bad\r\nEND:VCALENDAR\r\nEND:VCARD\r\n" },
        { "garbage between records", "garbage\r\nEND:VCARD\r\nN:Stray;Line\r\n" },
    };
    for (const auto& c : cases) {
        std::string text = card("3.0", { "N:Adler;Anna;;;" }) + c.broken + card("3.0", { "N:Brandt;Bruno;;;" });
        auto people = parseOk(text);
        ASSERT_EQ(people.size(), 2u) << c.what;
        EXPECT_EQ(people[0].firstName, "Anna") << c.what;
        EXPECT_EQ(people[1].firstName, "Bruno") << c.what;
    }
}

TEST(VCardRecovery, UnfinishedLastRecordIsSkipped)
{
    auto people = parseOk(card("3.0", { "N:Adler;Anna;;;" }) + "BEGIN:VCARD\r\nN:Cut;Off\r\nTEL:555-01");
    ASSERT_EQ(people.size(), 1u);
    EXPECT_EQ(people[0].firstName, "Anna");
}

TEST(VCardRecovery, DuplicatesAreKeptInOrder)
{
    std::string text = card("3.0", { "N:Diaz;Carla;;;", "TEL;TYPE=CELL:555-0109" }) + card("3.0", { "N:Adler;Anna;;;" })
        + card("3.0", { "N:Diaz;Carla;;;", "TEL;TYPE=CELL:555-0110" });
    auto people = parseOk(text);
    ASSERT_EQ(people.size(), 3u);
    EXPECT_EQ(people[0].phones[0].value, "555-0109");
    EXPECT_EQ(people[1].firstName, "Anna");
    EXPECT_EQ(people[2].phones[0].value, "555-0110");
}

TEST(VCardRecovery, WhatCountsAsAVCard)
{
    struct Case {
        const char* what;
        std::string text;
        bool message;
    };
    const Case cases[] = {
        { "empty", "", false },
        { "only blank lines", "\r\n\n  \r\n", false },
        { "plain text", "Anna Adler, 555-0101\nBruno Brandt, 555-0108\n", true },
        { "CSV export", "First Name,Last Name,Phone\nAnna,Adler,555-0101\n", true },
        { "properties without BEGIN", "N:Adler;Anna;;;\nTEL:555-0101\nEND:VCARD\n", true },
        { "binary", "\x89PNG\r\n\x1A\n\0\0\0\rIHDR"s, true },
        { "a vCard whose only record is broken", "BEGIN:VCARD\nN:Adler;Anna\n", false },
        { "lower-case BEGIN", "begin:vcard\nn:Adler;Anna\nend:vcard\n", false },
    };
    for (const auto& c : cases) {
        std::string diagnostic;
        auto people = AddressBook::parse(c.text, &diagnostic);
        if (c.message) {
            EXPECT_TRUE(people.empty()) << c.what;
            EXPECT_NE(diagnostic.find("not a vCard"), std::string::npos) << c.what << ": " << diagnostic;
        } else {
            EXPECT_EQ(diagnostic, "") << c.what;
        }
    }
    EXPECT_TRUE(AddressBook::parse("no vCard here").empty()); // no diagnostic wanted
}

// --- The address book file --------------------------------------------------------------------

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

    TempDir dir;
};

TEST_F(AddressBookFile, ReadsTheChosenFile)
{
    std::string path = dir.write("contacts.vcf", card("3.0", { "N:Adler;Anna;;;" }) + card("2.1", { "N:Brandt;Bruno" }));
    std::shared_ptr<AddressBook> book;
    EXPECT_EQ(createFrom(path, book), "");
    EXPECT_EQ(AddressBook::path(), path);
    ASSERT_EQ(book->allPeople().size(), 2u);
    EXPECT_EQ(book->allPeople()[1].lastName, "Brandt");
}

TEST_F(AddressBookFile, EmptyBookWhenTheFileCannotServe)
{
    struct Case {
        const char* what;
        std::string path;
        bool message;
    };
    const Case cases[] = {
        { "missing file", (dir.path / "none.vcf").string(), false },
        { "missing directory", (dir.path / "none" / "contacts.vcf").string(), false },
        { "empty file", dir.write("empty.vcf", ""), false },
        { "not a vCard", dir.write("notes.txt", "Anna Adler 555-0101\n"), true },
        { "a directory", dir.path.string(), true },
    };
    for (const auto& c : cases) {
        std::shared_ptr<AddressBook> book;
        std::string err = createFrom(c.path, book);
        ASSERT_TRUE(book) << c.what;
        EXPECT_TRUE(book->allPeople().empty()) << c.what;
        if (!c.message) {
            EXPECT_EQ(err, "") << c.what;
            continue;
        }
        // One line, naming the file.
        EXPECT_NE(err.find(c.path), std::string::npos) << c.what << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.what << ": " << err;
    }
}

TEST_F(AddressBookFile, DefaultPathFollowsTheEnvironment)
{
    auto saved = [](const char* name) -> std::optional<std::string> {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    auto restore = [](const char* name, const std::optional<std::string>& v) {
        if (v)
            ::setenv(name, v->c_str(), 1);
        else
            ::unsetenv(name);
    };
    auto home = saved("HOME");
    auto data = saved("XDG_DATA_HOME");

    ::setenv("HOME", "/home/racer", 1);
    ::setenv("XDG_DATA_HOME", "/data/racer", 1);
    EXPECT_EQ(AddressBook::defaultPath(), "/data/racer/street-client/contacts.vcf");
    ::setenv("XDG_DATA_HOME", "", 1);
    EXPECT_EQ(AddressBook::defaultPath(), "/home/racer/.local/share/street-client/contacts.vcf");
    ::setenv("XDG_DATA_HOME", "relative/dir", 1);
    EXPECT_EQ(AddressBook::defaultPath(), "/home/racer/.local/share/street-client/contacts.vcf");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(AddressBook::defaultPath(), "/home/racer/.local/share/street-client/contacts.vcf");
    AddressBook::setPath("");
    EXPECT_EQ(AddressBook::path(), AddressBook::defaultPath());

    restore("HOME", home);
    restore("XDG_DATA_HOME", data);
}

TEST_F(AddressBookFile, SampleBookOfTheDemo)
{
    std::shared_ptr<AddressBook> book;
    EXPECT_EQ(createFrom(STREET_TESTS_DIR "/../tools/sample-contacts.vcf", book), "");
    const auto& people = book->allPeople();
    ASSERT_EQ(people.size(), 32u);

    auto find = [&](const std::optional<std::string>& first, const std::optional<std::string>& last) -> std::vector<const ABPerson*> {
        std::vector<const ABPerson*> found;
        for (const auto& p : people) {
            if (p.firstName == first && p.lastName == last)
                found.push_back(&p);
        }
        return found;
    };
    ASSERT_EQ(find("Jürgen", "Müller").size(), 1u); // 2.1, latin1, quoted-printable with a soft break
    EXPECT_EQ(find("Jürgen", "Müller")[0]->phones[1], (ABMultiValueEntry { kMobile, "555-0116" }));
    EXPECT_EQ(find(none, "Berg").size(), 1u);
    EXPECT_EQ(find(" ", "Berg").size(), 1u);
    EXPECT_EQ(find("Carla", "Diaz").size(), 2u);
    EXPECT_EQ(find("Luis", "Ortiz, Jr.").size(), 1u);
    EXPECT_EQ(find(none, none).size(), 1u); // the company
    ASSERT_EQ(find("Igor", "Ito").size(), 1u);
    EXPECT_EQ(find("Igor", "Ito")[0]->phones[1].label, kMobile);
    ASSERT_EQ(find("Kai", "Kato").size(), 1u);
    EXPECT_EQ(find("Kai", "Kato")[0]->phones[0], (ABMultiValueEntry { kMobile, "+1-555-0124" }));
    ASSERT_EQ(find("Omar", "Patel").size(), 1u);
    EXPECT_TRUE(find("Omar", "Patel")[0]->phones.empty());
}
