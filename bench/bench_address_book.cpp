// Reading the address book: vCard 3.0 files of 10,000 and 100,000 contacts, from file to list.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "kit/AddressBook.h"

namespace {

// A temporary file of `count` contacts shaped like a phone's export: folded lines, grouped
// labels, several numbers and addresses, the odd escaped or accented name.
class ContactsFile {
public:
    explicit ContactsFile(int count)
    {
        char pattern[] = "/tmp/bench-contacts-XXXXXX";
        int fd = ::mkstemp(pattern);
        if (fd >= 0)
            ::close(fd);
        path_ = pattern;
        static const char* const firsts[] = { "Anna", "bruno", "Carla", "Émile", "Greta", "Igor", "Kai", "lena", "Omar", "Zoe" };
        static const char* const lasts[] = { "Adler", "Berg", "Diaz", "Dubois", "Fischer", "Ito", "Kato", "Ortiz\\, Jr.", "Patel", "Zimmer" };
        std::string text;
        text.reserve(static_cast<size_t>(count) * 330);
        for (int i = 0; i < count; ++i) {
            std::string n = std::to_string(i);
            std::string number = "555-" + std::to_string(1000 + i % 9000);
            text += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
            text += std::string("N:") + lasts[i % 10] + ";" + firsts[(i / 10) % 10] + n + ";;;\r\n";
            text += std::string("FN:") + firsts[(i / 10) % 10] + n + " " + lasts[i % 10] + "\r\n";
            text += "ORG:Street Racing Club " + n + "\r\n";
            text += "TEL;TYPE=HOME,VOICE:" + number + "\r\n";
            text += "item1.TEL:+1 " + number + "\r\nitem1.X-ABLabel:_$!<Mobile>!$_\r\n";
            text += "TEL;TYPE=CELL:" + number + "9\r\n";
            text += "EMAIL;TYPE=INTERNET,HOME:contact" + n + "@example.org\r\n";
            text += "EMAIL;TYPE=INTERNET,WORK:a.rather.long.address.for.contact." + n + "@exam\r\n ple.com\r\n";
            text += "NOTE:Met at the Saturday night meet\\, drives a tuned coupe.\\nAsk about the\r\n  spare turbo.\r\n";
            text += "END:VCARD\r\n";
        }
        std::ofstream(path_, std::ios::binary) << text;
        bytes_ = text.size();
    }
    ~ContactsFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }
    size_t bytes() const { return bytes_; }

private:
    std::string path_;
    size_t bytes_ = 0;
};

void BM_CreateAddressBook(benchmark::State& state)
{
    const auto count = static_cast<int>(state.range(0));
    ContactsFile file(count);
    kit::AddressBook::setPath(file.path());
    for (auto _ : state) {
        auto book = kit::AddressBook::create();
        const auto& people = book->allPeople();
        if (people.size() != static_cast<size_t>(count))
            state.SkipWithError("wrong number of contacts");
        benchmark::DoNotOptimize(people.data());
    }
    kit::AddressBook::setPath("");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.bytes()));
    state.counters["contacts"] = count;
}

} // namespace

BENCHMARK(BM_CreateAddressBook)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
