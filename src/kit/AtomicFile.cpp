#include "kit/AtomicFile.h"

#include <cerrno>
#include <ctime>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kit::AtomicFile {

namespace {

bool writeAll(int fd, const std::string& text)
{
    for (std::size_t done = 0; done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

// mkdir -p, with private permissions for every directory created.
int makeDirectories(const std::string& dir)
{
    for (std::size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        std::string partial = dir.substr(0, slash);
        if (!partial.empty() && ::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
        if (slash == std::string::npos)
            break;
    }
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

std::optional<std::string> read(const std::string& path, std::size_t maxBytes, int& error)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = errno == ENOTDIR ? ENOENT : errno;
        return std::nullopt;
    }
    struct stat st;
    error = ::fstat(fd, &st) != 0 ? errno : !S_ISREG(st.st_mode) ? EINVAL : 0;
    std::string text;
    char buffer[16384];
    while (error == 0) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : 0;
            break;
        }
        if (text.size() + static_cast<std::size_t>(n) > maxBytes)
            error = EFBIG;
        else
            text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (error)
        return std::nullopt;
    return text;
}

int write(const std::string& path, const std::string& text)
{
    std::size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (int err = makeDirectories(directory))
        return err;
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on `path + "literal"` here.
    std::string temp = path;
    temp.append(".XXXXXX");
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return errno;
    int err = writeAll(fd, text) && ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        err = errno;
    if (err) {
        ::unlink(temp.c_str());
        return err;
    }
    // Make the rename itself durable.
    int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return 0;
}

namespace {

// mkstemp's random part mixes letters with digits, or lower with upper case, almost always.
bool looksGenerated(std::string_view suffix)
{
    if (suffix.size() != 6)
        return false;
    bool lower = false, upper = false, digit = false, upperAfterFirst = false;
    for (size_t i = 0; i < suffix.size(); ++i) {
        char c = suffix[i];
        if (c >= 'a' && c <= 'z') {
            lower = true;
        } else if (c >= 'A' && c <= 'Z') {
            upper = true;
            upperAfterFirst = upperAfterFirst || i > 0;
        } else if (c >= '0' && c <= '9') {
            digit = true;
        } else {
            return false;
        }
    }
    return (digit && (lower || upper)) || (lower && upperAfterFirst);
}

void tighten(const std::string& path, const struct stat& st)
{
    if (st.st_uid == ::geteuid() && (st.st_mode & 077) && !(st.st_mode & S_ISVTX))
        ::chmod(path.c_str(), st.st_mode & 07700);
}

void tightenTree(const std::string& dir, int depth)
{
    DIR* listing = ::opendir(dir.c_str());
    if (!listing)
        return;
    while (dirent* entry = ::readdir(listing)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = dir + "/" + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode))
            continue;
        tighten(path, st);
        if (S_ISDIR(st.st_mode) && depth < 16)
            tightenTree(path, depth + 1);
    }
    ::closedir(listing);
}

} // namespace

void makePrivate(const std::string& dir, Depth depth)
{
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    tighten(dir, st);
    if (depth == Depth::WholeTree && st.st_uid == ::geteuid() && !(st.st_mode & S_ISVTX))
        tightenTree(dir, 0);
}

void removeLeftovers(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    if (file.empty())
        return;
    std::string prefix = file + ".";
    DIR* listing = ::opendir(directory.c_str());
    if (!listing)
        return;
    std::time_t now = std::time(nullptr);
    while (dirent* entry = ::readdir(listing)) {
        std::string_view name = entry->d_name;
        if (!name.starts_with(prefix) || !looksGenerated(name.substr(prefix.size())))
            continue;
        std::string leftover = directory + "/" + std::string(name);
        struct stat st;
        if (::lstat(leftover.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()
            && now - st.st_mtime >= 60)
            ::unlink(leftover.c_str());
    }
    ::closedir(listing);
}

std::string asideName(const std::string& path)
{
    std::time_t now = std::time(nullptr);
    std::tm parts {};
    ::localtime_r(&now, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &parts);
    return path + ".corrupt-" + stamp;
}

} // namespace kit::AtomicFile
