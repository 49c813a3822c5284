#include "kit/AddressBook.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kit/VCard.h"

namespace kit {

namespace {

std::string& chosenPath()
{
    static std::string path;
    return path;
}

AddressBook::Source& chosenSource()
{
    static AddressBook::Source source;
    return source;
}

enum class ReadResult { Ok, Missing, Failed };

// The whole file in one buffer. On failure `problem` says why.
ReadResult readFile(const std::string& path, std::string& out, std::string& problem)
{
    // Never block on what sits at the path: a FIFO or a device is no address book.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        problem = std::strerror(error);
        return (error == ENOENT || error == ENOTDIR) ? ReadResult::Missing : ReadResult::Failed;
    }
    auto fail = [&](std::string why) {
        ::close(fd);
        out.clear();
        problem = std::move(why);
        return ReadResult::Failed;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return fail("not a regular file");
    const std::string tooLarge = "larger than " + std::to_string(AddressBook::maxFileSize >> 20) + " MiB";
    if (static_cast<std::uintmax_t>(st.st_size) > AddressBook::maxFileSize)
        return fail(tooLarge);
    // Read straight into the buffer; the size is a hint, the file may grow or shrink meanwhile.
    size_t used = 0;
    out.resize(st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 1 << 16);
    for (;;) {
        if (used == out.size()) {
            if (used > AddressBook::maxFileSize)
                return fail(tooLarge);
            out.resize(std::min(out.size() * 2, AddressBook::maxFileSize + 1));
        }
        ssize_t n = ::read(fd, out.data() + used, out.size() - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(std::strerror(errno));
        if (n == 0)
            break;
        used += static_cast<size_t>(n);
    }
    out.resize(used);
    ::close(fd);
    return ReadResult::Ok;
}

std::string homeDirectory()
{
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return ".";
}

} // namespace

std::string AddressBook::defaultPath()
{
    // Relative XDG values are invalid and must be ignored.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    std::string base = (dataHome && dataHome[0] == '/') ? std::string(dataHome) : homeDirectory() + "/.local/share";
    return base + "/street-client/contacts.vcf";
}

void AddressBook::setPath(std::string path) { chosenPath() = std::move(path); }

std::string AddressBook::path() { return chosenPath().empty() ? defaultPath() : chosenPath(); }

void AddressBook::setSource(Source source) { chosenSource() = std::move(source); }

void AddressBook::orderByName(std::vector<ABPerson>& people)
{
    auto shownName = [](const ABPerson& person) {
        std::string name;
        if (person.firstName)
            name += *person.firstName + ' ';
        if (person.lastName)
            name += *person.lastName;
        return name;
    };
    std::vector<std::pair<std::string, size_t>> keys;
    keys.reserve(people.size());
    for (size_t i = 0; i < people.size(); ++i)
        keys.emplace_back(shownName(people[i]), i);
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ABPerson> ordered;
    ordered.reserve(people.size());
    for (const auto& key : keys)
        ordered.push_back(std::move(people[key.second]));
    people = std::move(ordered);
}

static AddressBook::ReadObserver& readObserver()
{
    static auto* observer = new AddressBook::ReadObserver();
    return *observer;
}

void AddressBook::setReadObserver(ReadObserver observer) { readObserver() = std::move(observer); }

std::shared_ptr<AddressBook> AddressBook::create()
{
    auto book = read();
    if (readObserver())
        readObserver()(book->people_);
    return book;
}

std::shared_ptr<AddressBook> AddressBook::read()
{
    std::shared_ptr<AddressBook> book(new AddressBook());
    if (chosenPath().empty() && chosenSource()) {
        if (auto people = chosenSource()()) {
            orderByName(*people);
            book->people_ = std::move(*people);
            return book;
        }
    }
    const std::string file = path();
    std::string text;
    std::string problem;
    switch (readFile(file, text, problem)) {
    case ReadResult::Missing:
        return book;
    case ReadResult::Failed:
        std::cerr << "street-client: cannot read the address book " << file << ": " << problem
                  << "; no contacts are listed\n";
        return book;
    case ReadResult::Ok:
        break;
    }
    std::string diagnostic;
    book->people_ = parse(text, &diagnostic);
    if (!diagnostic.empty())
        std::cerr << "street-client: address book " << file << ": " << diagnostic << '\n';
    return book;
}

std::vector<ABPerson> AddressBook::parse(std::string_view text, std::string* diagnostic)
{
    return VCard::parse(text, diagnostic);
}

} // namespace kit
