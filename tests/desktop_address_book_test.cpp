// The desktop's address books (the contacts service, Evolution Data Server) read as the Recruit
// screen reads them. The test starts its own session bus (dbus-run-session) with fresh data
// directories, so the service starts empty; it adds the contacts itself through libebook.

#include "app/RecruitABTableViewController.h"
#include "backend/gtk/AddressBookPeer.h"
#include "kit/AddressBook.h"
#include "support/Desktop.h"

#include <gtest/gtest.h>
#include <libebook/libebook.h>

#include <cstdlib>
#include <unistd.h>

namespace {

constexpr const char* innerVariable = "STREET_TEST_CONTACTS_SERVICE";

std::string card(const std::string& first, const std::string& last, const std::string& more)
{
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + first + " " + last + "\r\nN:" + last + ";" + first + ";;;\r\n" + more
        + "END:VCARD\r\n";
}

// Runs this test again in a child, with the variable set to `mode` and the environment given.
int runInner(const std::string& mode, const std::string& prefix)
{
    char self[4096] = {};
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return -1;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string command = "env " + std::string(innerVariable) + "=" + mode + " " + prefix + " '" + self
        + "' --gtest_filter=" + test->test_suite_name() + "." + test->name() + " >&2";
    return std::system(command.c_str());
}

class DesktopAddressBookTest : public ::testing::Test {
protected:
    const char* mode() const { return std::getenv(innerVariable); }
};

void check(GError* error, const char* what)
{
    ASSERT_EQ(error, nullptr) << what << ": " << (error ? error->message : "");
}

ESource* newBook(ESourceRegistry* registry, const char* name, bool enabled)
{
    GError* error = nullptr;
    ESource* source = e_source_new(nullptr, nullptr, &error);
    e_source_set_parent(source, "local-stub");
    e_source_set_display_name(source, name);
    e_source_set_enabled(source, enabled);
    e_source_backend_set_backend_name(E_SOURCE_BACKEND(e_source_get_extension(source, E_SOURCE_EXTENSION_ADDRESS_BOOK)),
                                      "local");
    e_source_registry_commit_source_sync(registry, source, nullptr, &error);
    check(error, "create a book");
    // The registry learns of the new book a little later; connecting before that finds no book.
    ESource* known = nullptr;
    for (gint64 deadline = g_get_monotonic_time() + 10'000'000; !known && g_get_monotonic_time() < deadline;) {
        g_main_context_iteration(nullptr, FALSE);
        known = e_source_registry_ref_source(registry, e_source_get_uid(source));
        if (!known)
            g_usleep(10'000);
    }
    EXPECT_TRUE(known) << name;
    if (!known)
        return source;
    g_object_unref(source);
    return known;
}

void addContacts(ESource* source, const std::string& cards)
{
    GError* error = nullptr;
    EClient* client = e_book_client_connect_sync(source, 1, nullptr, &error);
    check(error, "connect");
    ASSERT_TRUE(client);
    GSList* contacts = nullptr;
    for (size_t start = 0; (start = cards.find("BEGIN:VCARD", start)) != std::string::npos; ++start) {
        size_t end = cards.find("END:VCARD\r\n", start) + 11;
        contacts = g_slist_append(contacts, e_contact_new_from_vcard(cards.substr(start, end - start).c_str()));
    }
    e_book_client_add_contacts_sync(E_BOOK_CLIENT(client), contacts, E_BOOK_OPERATION_FLAG_NONE, nullptr, nullptr, &error);
    g_slist_free_full(contacts, g_object_unref);
    g_object_unref(client);
    check(error, "add contacts");
}

struct Lists {
    street::RecruitABTableViewController::Texts names, numbers, emails;
    bool operator==(const Lists&) const = default;
};

Lists recruitLists()
{
    auto controller = std::make_shared<street::RecruitABTableViewController>();
    controller->init();
    controller->loadView();
    return {controller->sectionArray(), controller->sectionNumberArray(), controller->sectionEmailArray()};
}

TEST_F(DesktopAddressBookTest, EveryEnabledBookReadsAsTheSameContactsFromAFile)
{
    if (!mode()) {
        if (std::system("command -v dbus-run-session >/dev/null") != 0
            || ::access("/usr/libexec/evolution-source-registry", X_OK) != 0)
            GTEST_SKIP() << "needs dbus-run-session and evolution-data-server";
        scenario::TempDir dir;
        std::string xdg = "XDG_DATA_HOME=" + dir.path() + "/data XDG_CONFIG_HOME=" + dir.path()
            + "/config XDG_CACHE_HOME=" + dir.path() + "/cache";
        // With the service: its books. Without a bus: no answer, and the default file instead.
        EXPECT_EQ(runInner("books", xdg + " dbus-run-session --"), 0);
        EXPECT_EQ(runInner("none", xdg + " DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir.path() + "/no-bus"), 0);
        return;
    }
    kit::AddressBook::setPath("");
    kit::AddressBook::setSource(&backend::gtk::AddressBookPeer::readAll);
    const std::string mine = card("Anna", "Able", "TEL;TYPE=HOME:+1 555 0100\r\nTEL;TYPE=CELL:+1 555 0101\r\nEMAIL;TYPE=INTERNET:anna@example.test\r\n")
        + card("zoe", "Zed", "TEL;TYPE=WORK:+1 555 0102\r\n")
        + card("Émile", "Éclair", "EMAIL;TYPE=INTERNET:emile@example.test\r\nEMAIL;TYPE=INTERNET:e2@example.test\r\n")
        + card("Carl", "Cole", "");
    const std::string work = card("Bea", "Bold", "TEL;TYPE=CELL:+1 555 0200\r\n") + card("Adam", "Ant", "TEL;TYPE=VOICE:+1 555 0201\r\n");
    const std::string disabled = card("Dan", "Dropped", "TEL;TYPE=CELL:+1 555 0300\r\n");

    if (std::string(mode()) == "none") {
        // The file the desktop falls back to.
        std::string path = kit::AddressBook::defaultPath();
        std::system(("mkdir -p \"$(dirname '" + path + "')\"").c_str());
        scenario::writeFile(path, mine);
        gint64 start = g_get_monotonic_time();
        EXPECT_FALSE(backend::gtk::AddressBookPeer::readAll());
        EXPECT_LT(g_get_monotonic_time() - start, 3'000'000);
        EXPECT_EQ(kit::AddressBook::create()->allPeople(), kit::AddressBook::parse(mine));
        kit::AddressBook::setSource(nullptr);
        return;
    }

    GError* error = nullptr;
    ESourceRegistry* registry = e_source_registry_new_sync(nullptr, &error);
    check(error, "registry");
    ASSERT_TRUE(registry);
    // An empty service is an empty book, not a missing one.
    auto none = backend::gtk::AddressBookPeer::readAll();
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());

    ESource* system = e_source_registry_ref_builtin_address_book(registry);
    addContacts(system, mine);
    ESource* second = newBook(registry, "Work", true);
    addContacts(second, work);
    ESource* third = newBook(registry, "Old", false);
    addContacts(third, disabled);

    // The same contacts from a file, in the order the desktop lists them (by name).
    scenario::TempDir dir;
    std::string file = dir.path() + "/same.vcf";
    scenario::writeFile(file, work.substr(work.find("BEGIN:VCARD", 1)) + mine.substr(0, mine.find("BEGIN:VCARD", 1))
                                  + work.substr(0, work.find("BEGIN:VCARD", 1)) + card("Carl", "Cole", "")
                                  + card("zoe", "Zed", "TEL;TYPE=WORK:+1 555 0102\r\n")
                                  + card("Émile", "Éclair", "EMAIL;TYPE=INTERNET:emile@example.test\r\nEMAIL;TYPE=INTERNET:e2@example.test\r\n"));
    auto fromService = kit::AddressBook::create()->allPeople();
    Lists serviceLists = recruitLists();
    kit::AddressBook::setPath(file);
    EXPECT_EQ(fromService, kit::AddressBook::create()->allPeople());
    Lists fileLists = recruitLists();
    EXPECT_TRUE(serviceLists == fileLists);
    ASSERT_EQ(serviceLists.names[0].size(), 2u);
    EXPECT_EQ(serviceLists.numbers[0][1], "+1 555 0101");  // the mobile number is the one listed

    // The client in its window: the service's contacts, unless --contacts names a file.
    if (scenario::haveDisplay()) {
        scenario::DemoServer server;
        ASSERT_TRUE(server.started());
        std::string only = dir.path() + "/only.vcf";
        scenario::writeFile(only, card("Olga", "Only", ""));
        std::string script = "wait 4\nnavigate " + server.baseURL() + "/commands.php?showABRecruit=true\nwait 1.5\n"
                             "press Continue\ntype Me\npress Done\nstate\n";
        scenario::ScenarioOptions options;
        options.desktop = true;
        options.timeoutSeconds = 60;
        for (bool chosen : {false, true}) {
            std::vector<std::string> args{"--scale", "1", "--movie-seconds", "0.5", "--open-urls", "record", "--server",
                                          server.hostPort()};
            if (chosen)
                args.insert(args.end(), {"--contacts", only});
            auto t = scenario::runScenario(script, args, options);
            auto states = t.states();
            ASSERT_EQ(states.size(), 1u) << t.stderrText << t.dump();
            const auto& rows = states[0]["recruit"]["rows"];
            ASSERT_EQ(rows.size(), 26u) << t.dump();
            for (size_t k = 0; k < 26; ++k) {
                std::vector<std::string> names;
                for (const auto& row : rows[k])
                    names.push_back(row["name"]);
                EXPECT_EQ(names, chosen ? (k == 'O' - 'A' ? std::vector<std::string>{"Olga Only"} : std::vector<std::string>{})
                                        : fileLists.names[k]) << "section " << k;
            }
        }
    }

    kit::AddressBook::setPath("");
    kit::AddressBook::setSource(nullptr);
    g_object_unref(third);
    g_object_unref(second);
    g_object_unref(system);
    g_object_unref(registry);
}

} // namespace
