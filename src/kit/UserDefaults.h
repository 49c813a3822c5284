#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace kit {

// The persisted key/value store: one JSON object in "defaults.json" inside the data
// directory. Reads come from memory; changes are written (atomically) by synchronize() or
// by resetStandardUserDefaults(). A failed write keeps every value in memory, so nothing
// the user set is lost while the disk is unwritable.
class UserDefaults {
public:
    // A file beyond these limits, or one that is not a regular file, is treated as corrupt:
    // kept aside, reported once, and the store starts empty.
    static constexpr std::size_t maxFileSize = 1 << 20;
    static constexpr std::size_t maxNestingDepth = 8;

    // Created on first use from the file.
    static UserDefaults& standardUserDefaults();
    // Writes pending changes, then drops the shared object so the next access reads the file
    // afresh. When the write fails the object is kept, with its values, instead.
    static void resetStandardUserDefaults();
    // Where the file lives; an empty text returns to the default location. Pending changes
    // are written to the old place first; the shared object is dropped either way.
    static void setDataDirectory(std::string dir);
    // $XDG_CONFIG_HOME/street-client, else $HOME/.config/street-client, unless set above.
    static std::string dataDirectory();
    // The player's configuration directory, whatever --data-dir says:
    // $XDG_CONFIG_HOME/street-client, else ~/.config/street-client.
    static std::string configDirectory();

    std::optional<nlohmann::json> objectForKey(const std::string& key) const;
    // True for a stored true, a non-zero number, or a text that reads as yes (see the .cpp).
    bool boolForKey(const std::string& key) const;
    void setBool(bool value, const std::string& key);
    // None when absent or not a text.
    std::optional<std::string> stringForKey(const std::string& key) const;
    void setObject(const std::string& value, const std::string& key);
    void removeObjectForKey(const std::string& key);
    // Writes now (only when something changed). False, with a message on stderr, on failure.
    bool synchronize();

    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;
    ~UserDefaults() = default;

private:
    explicit UserDefaults(std::string directory);
    void load();
    bool write();
    bool setAsideUnreadableFile();

    std::string directory_;
    std::string path_;
    nlohmann::json values_ = nlohmann::json::object();
    bool dirty_ = false;
    // The file on disk could not be used; it must be moved out of the way, not overwritten.
    bool unreadableFileOnDisk_ = false;
    std::string asidePath_;
};

}
