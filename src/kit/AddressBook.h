#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kit {

// Labels as the contact list compares them; values of other labels are kept as read.
inline constexpr const char* kABPersonPhoneMobileLabel = "_$!<Mobile>!$_";
inline constexpr const char* kABHomeLabel = "_$!<Home>!$_";
inline constexpr const char* kABWorkLabel = "_$!<Work>!$_";
inline constexpr const char* kABOtherLabel = "_$!<Other>!$_";

struct ABMultiValueEntry {
    std::string label;
    std::string value;
    bool operator==(const ABMultiValueEntry&) const = default;
};

struct ABPerson {
    std::optional<std::string> firstName;   // none when the record has none
    std::optional<std::string> lastName;
    std::vector<ABMultiValueEntry> phones;  // in file order
    std::vector<ABMultiValueEntry> emails;  // in file order
    bool operator==(const ABPerson&) const = default;
};

// The user's address book: a vCard file, read once when the book is created.
class AddressBook {
public:
    // $XDG_DATA_HOME/street-client/contacts.vcf, else $HOME/.local/share/street-client/contacts.vcf
    static std::string defaultPath();
    // Chosen with --contacts FILE; an empty path goes back to the default.
    static void setPath(std::string path);
    static std::string path();

    // A platform's own address book, asked by create() unless a file was chosen with setPath:
    // the people it holds, in no order of its own, or none when it cannot be had (the default
    // file is read then).
    using Source = std::function<std::optional<std::vector<ABPerson>>()>;
    static void setSource(Source source);

    // How a book without an order of its own is listed: by the name the contact list shows
    // (the first name and a blank when there is one, then the last name), compared byte by
    // byte; people of the same name keep the order they came in.
    static void orderByName(std::vector<ABPerson>& people);

    // Only a regular file up to this size is read.
    static constexpr size_t maxFileSize = size_t{256} << 20;

    // Asks the source (its people ordered by name), else reads path() now (in the file's order).
    // A missing file is an empty book without a word; an unreadable file, one that is not a
    // regular file or is larger than maxFileSize, or one that is not a vCard is an empty book
    // and one line on stderr naming the file.
    static std::shared_ptr<AddressBook> create();
    // Told of the people of every book create() makes, in the book's order (a session recorder).
    using ReadObserver = std::function<void(const std::vector<ABPerson>&)>;
    static void setReadObserver(ReadObserver observer);

    // In the book's order: the file's, or by name for a source.
    const std::vector<ABPerson>& allPeople() const { return people_; }

    // The parser on its own: the records that parse, in order. *diagnostic is cleared, and gets
    // one message when the text holds no vCard at all.
    static std::vector<ABPerson> parse(std::string_view text, std::string* diagnostic = nullptr);

private:
    AddressBook() = default;
    static std::shared_ptr<AddressBook> read();
    std::vector<ABPerson> people_;
};

} // namespace kit
