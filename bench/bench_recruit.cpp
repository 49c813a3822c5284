// The Recruit screen's heavy steps: reading and sectioning the address book when the player
// says "Continue", and building the invite post's body for many ticked contacts.
#include "app/RecruitABContainerController.h"
#include "app/RecruitABTableViewController.h"

#include "kit/AddressBook.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// Names spread over every letter and some that are left out; two phones, one e-mail each.
std::string contactsFile(int count)
{
    static const char* firsts[] = {"Anna", "bob", "Carl", "Dora", "Émile", "Fay", "gus", "Hana", "Ivo", "Jo", "Kim",
                                   "Lea", "Max", "Nia", "Oz", "Pia", "Quinn", "Rae", "Sol", "Tom", "Uma", "Vic",
                                   "Wes", "Xia", "Yan", "Zoe", "3M"};
    std::string path = std::filesystem::temp_directory_path() / ("street-bench-contacts-" + std::to_string(::getpid())
                                                                  + "-" + std::to_string(count) + ".vcf");
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < count; ++i) {
        const char* first = firsts[i % 27];
        out << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" << first << " Person" << i << "\r\nN:Person" << i << ";" << first
            << ";;;\r\nTEL;TYPE=HOME:+1 555 01" << i << "\r\nTEL;TYPE=CELL:+1 555 02" << i
            << "\r\nEMAIL;TYPE=INTERNET:person" << i << "@example.test\r\nEND:VCARD\r\n";
    }
    return path;
}

void BM_ReadAndSectionContacts(benchmark::State& state)
{
    std::string path = contactsFile(static_cast<int>(state.range(0)));
    kit::AddressBook::setPath(path);
    for (auto _ : state) {
        auto controller = std::make_shared<street::RecruitABTableViewController>();
        controller->init();
        controller->loadView();
        benchmark::DoNotOptimize(controller->sectionArray().data());
    }
    kit::AddressBook::setPath("");
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadAndSectionContacts)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_InviteBody(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    street::RecruitABTableViewController::Texts names(26), numbers(26), emails(26);
    street::RecruitABTableViewController::Flags flags(26);
    for (int i = 0; i < count; ++i) {
        int k = i % 26;
        names[k].push_back(std::string(1, static_cast<char>('A' + k)) + "lex Person" + std::to_string(i)
                           + (i % 10 == 0 ? "#note" : ""));
        numbers[k].push_back("+1 555 02" + std::to_string(i));
        emails[k].push_back(i % 3 == 0 ? "" : "person" + std::to_string(i) + "@example.test");
        flags[k].push_back(true);
    }
    auto contacts = std::make_shared<street::RecruitABTableViewController>();
    contacts->setSectionArray(std::move(names));
    contacts->setSectionNumberArray(std::move(numbers));
    contacts->setSectionEmailArray(std::move(emails));
    contacts->setBoolArray(std::move(flags));
    for (auto _ : state) {
        std::string data = street::RecruitABContainerController::inviteData(*contacts);
        std::string body = street::RecruitABContainerController::generateFormData(
            {{"fromUdid", "0123456789abcdef0123456789abcdef01234567"}, {"data", std::move(data)}, {"fromName", "Racer"}});
        benchmark::DoNotOptimize(body.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_InviteBody)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
