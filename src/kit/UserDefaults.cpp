#include "kit/UserDefaults.h"

#include "kit/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <map>
#include <set>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kit {

namespace {

constexpr const char* kFileName = "defaults.json";

std::unique_ptr<UserDefaults>& sharedSlot()
{
    static std::unique_ptr<UserDefaults> shared;
    return shared;
}

std::string& directoryOverride()
{
    static std::string dir;
    return dir;
}

void complain(const std::string& message)
{
    std::fprintf(stderr, "street-client: %s\n", message.c_str());
}

std::string errorText(int err) { return std::strerror(err); }

bool pathExists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// True when the JSON text opens more than `limit` arrays and objects inside one another; text
// that is not JSON is left for the real parse to reject.
bool nestingExceeds(const std::string& text, std::size_t limit)
{
    struct DepthCheck : nlohmann::json_sax<nlohmann::json> {
        std::size_t depth = 0;
        std::size_t limit = 0;
        bool exceeded = false;
        bool open()
        {
            exceeded = ++depth > limit;
            return !exceeded;
        }
        bool null() override { return true; }
        bool boolean(bool) override { return true; }
        bool number_integer(number_integer_t) override { return true; }
        bool number_unsigned(number_unsigned_t) override { return true; }
        bool number_float(number_float_t, const string_t&) override { return true; }
        bool string(string_t&) override { return true; }
        bool binary(binary_t&) override { return true; }
        bool start_object(std::size_t) override { return open(); }
        bool key(string_t&) override { return true; }
        bool end_object() override { return --depth, true; }
        bool start_array(std::size_t) override { return open(); }
        bool end_array() override { return --depth, true; }
        bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }
    } check;
    check.limit = limit;
    nlohmann::json::sax_parse(text, &check);
    return check.exceeded;
}

}

UserDefaults::UserDefaults(std::string directory)
    : directory_(std::move(directory))
    , path_(directory_ + "/" + kFileName)
{
    load();
}

UserDefaults& UserDefaults::standardUserDefaults()
{
    auto& slot = sharedSlot();
    if (!slot)
        slot.reset(new UserDefaults(dataDirectory()));
    return *slot;
}

void UserDefaults::resetStandardUserDefaults()
{
    auto& slot = sharedSlot();
    if (!slot)
        return;
    // A failed write keeps the object: its values are the only copy of the user's changes.
    if (!slot->synchronize())
        return;
    slot.reset();
}

void UserDefaults::setDataDirectory(std::string dir)
{
    auto& slot = sharedSlot();
    if (slot)
        slot->synchronize();
    slot.reset();
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    directoryOverride() = std::move(dir);
}

std::string UserDefaults::dataDirectory()
{
    if (!directoryOverride().empty())
        return directoryOverride();
    return configDirectory();
}

std::string UserDefaults::configDirectory()
{
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/street-client";
    const char* home = std::getenv("HOME");
    std::string homeDir = home && home[0] ? home : "";
    if (homeDir.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
            homeDir = pw->pw_dir;
    }
    if (homeDir.empty())
        homeDir = ".";
    return homeDir + "/.config/street-client";
}

void UserDefaults::load()
{
    // The first read of a process: what the settings' directory holds is the player's alone, and
    // saves that were cut short have left their temporaries behind. A directory named on the
    // command line may hold the player's other files (a home, say): it is closed, but what it
    // holds keeps its modes.
    static std::set<std::string> tidied;
    if (tidied.insert(directory_).second) {
        AtomicFile::makePrivate(directory_, directoryOverride().empty() ? AtomicFile::Depth::WholeTree
                                                                        : AtomicFile::Depth::DirectoryOnly);
        AtomicFile::removeLeftovers(path_);
    }
    // Never block on what sits at the path: a FIFO or a device is no settings file.
    int readError = 0;
    auto text = AtomicFile::read(path_, maxFileSize, readError);
    if (readError == ENOENT)
        return;
    std::string problem;
    if (readError == EINVAL) {
        problem = "is not a regular file";
    } else if (readError == EFBIG) {
        problem = "is larger than " + std::to_string(maxFileSize) + " bytes";
    } else if (readError) {
        problem = "cannot be read (" + errorText(readError) + ")";
    } else {
        // Every copy, comparison and write of a value recurses once per level, so a deeply
        // nested file would overflow the stack or grow without bound when saved.
        if (nestingExceeds(*text, maxNestingDepth)) {
            problem = "is nested deeper than " + std::to_string(maxNestingDepth) + " levels";
        } else {
            auto parsed = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
            if (parsed.is_object()) {
                values_ = std::move(parsed);
                return;
            }
            problem = parsed.is_discarded() ? "is not valid JSON" : "does not hold a JSON object";
        }
    }

    unreadableFileOnDisk_ = true;
    // One report per file and process, however often the store is reopened; the name
    // given in it stays the one used.
    static std::map<std::string, std::string> reported;
    auto [it, isNew] = reported.try_emplace(path_, AtomicFile::asideName(path_));
    asidePath_ = it->second;
    if (isNew)
        complain("settings file " + path_ + " " + problem + "; starting with empty settings. "
                 "The file will be kept as " + asidePath_ + " when settings are next saved.");
}

std::optional<nlohmann::json> UserDefaults::objectForKey(const std::string& key) const
{
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return *it;
}

bool UserDefaults::boolForKey(const std::string& key) const
{
    auto it = values_.find(key);
    if (it == values_.end())
        return false;
    if (it->is_boolean())
        return it->get<bool>();
    if (it->is_number_integer())
        return it->get<std::int64_t>() != 0;
    if (it->is_number_unsigned())
        return it->get<std::uint64_t>() != 0;
    if (it->is_number_float())
        return it->get<double>() != 0.0;
    if (it->is_string()) {
        // As the platform reads a text: blanks, one optional sign and leading zeros are passed
        // over; then Y, y, T, t or a digit 1-9 means YES.
        const auto& text = it->get_ref<const std::string&>();
        size_t i = text.find_first_not_of(" \t");
        if (i != std::string::npos && (text[i] == '+' || text[i] == '-'))
            ++i;
        i = text.find_first_not_of('0', i);
        return i < text.size() && std::string_view("YyTt123456789").find(text[i]) != std::string_view::npos;
    }
    return false;
}

void UserDefaults::setBool(bool value, const std::string& key)
{
    values_[key] = value;
    dirty_ = true;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const
{
    auto it = values_.find(key);
    if (it == values_.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

void UserDefaults::setObject(const std::string& value, const std::string& key)
{
    values_[key] = value;
    dirty_ = true;
}

void UserDefaults::removeObjectForKey(const std::string& key)
{
    values_.erase(key);
    dirty_ = true;
}

bool UserDefaults::synchronize()
{
    if (!dirty_)
        return true;
    if (!write())
        return false;
    dirty_ = false;
    return true;
}

bool UserDefaults::setAsideUnreadableFile()
{
    if (!pathExists(path_)) {
        unreadableFileOnDisk_ = false;
        return true;
    }
    std::string aside = asidePath_;
    for (int n = 2; pathExists(aside); ++n)
        aside = asidePath_ + "-" + std::to_string(n);
    if (::rename(path_.c_str(), aside.c_str()) != 0) {
        complain("cannot save settings: the unreadable file " + path_ + " could not be moved to "
                 + aside + " (" + errorText(errno) + "), and it is not overwritten");
        return false;
    }
    unreadableFileOnDisk_ = false;
    return true;
}

bool UserDefaults::write()
{
    if (int err = AtomicFile::makeDirectories(directory_)) {
        complain("cannot save settings: directory " + directory_ + " cannot be created ("
                 + errorText(err) + ")");
        return false;
    }
    if (unreadableFileOnDisk_ && !setAsideUnreadableFile())
        return false;

    // Invalid UTF-8 in a stored text must not make the whole file unwritable.
    std::string text = values_.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    if (int err = AtomicFile::write(path_, text)) {
        complain("cannot save settings to " + path_ + " (" + errorText(err) + ")");
        return false;
    }
    return true;
}

}
