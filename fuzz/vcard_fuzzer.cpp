// The address book reader on any file, and the contact list the Recruit screen builds from it:
// the sections, every row's cell, and the invitation data and form body for every contact ticked.
#include "FuzzSupport.h"
#include "app/RecruitABContainerController.h"
#include "app/RecruitABTableViewController.h"
#include "kit/Platform.h"
#include "kit/AddressBook.h"
#include "kit/Bundle.h"
#include "kit/RunLoop.h"
#include "kit/Text.h"
#include "kit/VCard.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

namespace {

using fuzz::check;

struct Setup {
    kit::PlatformSession session;
    std::string dir;
    std::string file;

    Setup()
    {
        dir = fuzz::scratchDirectory("vcard-");
        file = dir + "/contacts.vcf";
        kit::Bundle::setResourceDirectory(STREET_RESOURCES_DIR);
        kit::AddressBook::setPath(file);
        // "not a vCard file" for most inputs: true, and noise here.
        std::cerr.rdbuf(nullptr);
    }
    ~Setup()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

void checkText(const std::string& text, const char* what)
{
    check(kit::Text::isValidUTF8(text), what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Setup setup;
    std::string_view input(reinterpret_cast<const char*>(data), size);

    std::string diagnostic;
    auto people = kit::VCard::parse(input, &diagnostic);
    for (const auto& person : people) {
        if (person.firstName)
            checkText(*person.firstName, "first names are UTF-8");
        if (person.lastName)
            checkText(*person.lastName, "last names are UTF-8");
        for (const auto& phone : person.phones)
            checkText(phone.value, "numbers are UTF-8");
        for (const auto& email : person.emails)
            checkText(email.value, "addresses are UTF-8");
    }

    // The decoding steps on their own.
    check(kit::Text::isValidUTF8(kit::VCard::latin1ToUtf8(input)), "Latin-1 becomes UTF-8");
    check(kit::VCard::decodeQuotedPrintable(input).size() <= input.size(), "quoted-printable only shrinks");
    check(kit::VCard::unescapeText(input).size() <= input.size(), "unescaping only shrinks");
    std::string joined;
    auto pieces = kit::VCard::splitComponents(input);
    for (size_t i = 0; i < pieces.size(); ++i)
        joined.append(i ? ";" : "").append(pieces[i]);
    check(joined == input, "components are the text cut at its separators");

    // The Recruit screen's list from the same text, read from the file as the client reads it.
    {
        std::ofstream out(setup.file, std::ios::binary | std::ios::trunc);
        out.write(input.data(), static_cast<std::streamsize>(input.size()));
    }
    auto list = std::make_shared<street::RecruitABTableViewController>();
    list->init();
    list->loadView();
    auto table = list->tableView();
    check(table != nullptr, "the list has a table");
    size_t rows = 0;
    street::RecruitABTableViewController::Flags all;
    int sections = list->numberOfSectionsInTableView(*table);
    for (int section = 0; section < sections; ++section) {
        int count = list->numberOfRowsInSection(*table, section);
        all.emplace_back(static_cast<size_t>(count), true);
        for (int row = 0; row < count; ++row, ++rows)
            list->cellForRowAtIndexPath(*table, kit::IndexPath{section, row});
    }
    check(rows <= people.size(), "one row at most per person");
    list->setBoolArray(all);
    bool anyTicked = false;
    auto invite = street::RecruitABContainerController::inviteData(*list, &anyTicked);
    auto body = street::RecruitABContainerController::generateFormData(
        {{"fromUdid", "fuzz-device"}, {"data", invite}, {"fromName", "Fuzz"}});
    check(body.size() > invite.size(), "the form holds the data");
    return 0;
}
