// Reading many contacts from the desktop's contacts service, beside reading the same contacts
// from a vCard file. The program starts its own session bus and service with fresh data
// directories (it runs itself again under dbus-run-session), so no real address book is touched.
#include "backend/gtk/AddressBookPeer.h"
#include "kit/AddressBook.h"

#include <benchmark/benchmark.h>
#include <libebook/libebook.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

constexpr const char* insideVariable = "STREET_BENCH_PRIVATE_BUS";

std::string cards(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Person" + std::to_string(i) + ";Name" + std::to_string(i % 97)
            + ";;;\r\nTEL;TYPE=CELL:+1 555 02" + std::to_string(i) + "\r\nEMAIL;TYPE=INTERNET:person" + std::to_string(i)
            + "@example.test\r\nEND:VCARD\r\n";
    return text;
}

// The service's own address book filled with `count` contacts, once.
bool fillService(int count)
{
    GError* error = nullptr;
    ESourceRegistry* registry = e_source_registry_new_sync(nullptr, &error);
    if (!registry) {
        std::fprintf(stderr, "bench: no contacts service: %s\n", error ? error->message : "");
        g_clear_error(&error);
        return false;
    }
    ESource* source = e_source_registry_ref_builtin_address_book(registry);
    EClient* client = e_book_client_connect_sync(source, 1, nullptr, &error);
    bool ok = client != nullptr;
    if (client) {
        std::string text = cards(count);
        GSList* contacts = nullptr;
        for (size_t start = 0; (start = text.find("BEGIN:VCARD", start)) != std::string::npos; ++start) {
            size_t end = text.find("END:VCARD\r\n", start) + 11;
            contacts = g_slist_prepend(contacts, e_contact_new_from_vcard(text.substr(start, end - start).c_str()));
        }
        ok = e_book_client_add_contacts_sync(E_BOOK_CLIENT(client), contacts, E_BOOK_OPERATION_FLAG_NONE, nullptr,
                                             nullptr, &error);
        g_slist_free_full(contacts, g_object_unref);
        g_object_unref(client);
    }
    if (error)
        std::fprintf(stderr, "bench: %s\n", error->message);
    g_clear_error(&error);
    g_object_unref(source);
    g_object_unref(registry);
    return ok;
}

void BM_ReadDesktopAddressBook(benchmark::State& state)
{
    static bool filled = fillService(static_cast<int>(state.range(0)));
    if (!filled) {
        state.SkipWithError("the contacts service could not be filled");
        return;
    }
    for (auto _ : state) {
        auto people = backend::gtk::AddressBookPeer::readAll();
        if (!people || people->size() != static_cast<size_t>(state.range(0))) {
            state.SkipWithError("the service did not hand over every contact");
            return;
        }
    }
}
BENCHMARK(BM_ReadDesktopAddressBook)->Arg(10'000)->Unit(benchmark::kMillisecond);

void BM_ReadVCardFile(benchmark::State& state)
{
    std::string path = std::filesystem::temp_directory_path() / ("street-bench-eds-" + std::to_string(::getpid()) + ".vcf");
    std::ofstream(path, std::ios::binary) << cards(static_cast<int>(state.range(0)));
    kit::AddressBook::setPath(path);
    for (auto _ : state)
        benchmark::DoNotOptimize(kit::AddressBook::create()->allPeople().size());
    kit::AddressBook::setPath("");
    std::filesystem::remove(path);
}
BENCHMARK(BM_ReadVCardFile)->Arg(10'000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv(insideVariable)) {
        // Again, inside a private bus whose service keeps its data in a scratch directory.
        std::string scratch = std::filesystem::temp_directory_path() / ("street-bench-eds-" + std::to_string(::getpid()));
        std::filesystem::create_directories(scratch);
        std::string command = std::string("env ") + insideVariable + "=1 XDG_DATA_HOME=" + scratch + "/data XDG_CONFIG_HOME="
            + scratch + "/config XDG_CACHE_HOME=" + scratch + "/cache dbus-run-session -- '" + argv[0] + "'";
        for (int i = 1; i < argc; ++i)
            command += std::string(" '") + argv[i] + "'";
        int status = std::system(command.c_str());
        std::filesystem::remove_all(scratch);
        return status == 0 ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
