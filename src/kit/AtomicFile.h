#pragma once

#include <optional>
#include <string>

namespace kit {

// Small files that the client keeps in its data directory and must never leave half written.
namespace AtomicFile {

// The whole file, when it is a regular file of at most `maxBytes`; none, with `error` set to
// an errno value, otherwise (ENOENT when there is no file, EFBIG when it is too large, EINVAL
// when it is not a regular file). Opening never blocks, whatever the path names.
std::optional<std::string> read(const std::string& path, std::size_t maxBytes, int& error);

// Writes `text` to a private temporary beside `path`, flushes it to disk and renames it over
// `path`, creating the directory (private) if needed: a crash leaves the old file or the new
// one, never a torn one. 0, or the errno value of the step that failed.
int write(const std::string& path, const std::string& text);

// mkdir -p, with private permissions for every directory created. 0, or an errno value.
int makeDirectories(const std::string& dir);

enum class Depth { DirectoryOnly, WholeTree };
// Takes group and other permissions away from `dir` (when it is ours and not a shared one such
// as /tmp) and, with WholeTree, from everything ours inside it; symbolic links are not followed.
// A missing directory is left missing.
void makePrivate(const std::string& dir, Depth depth);

// Removes the temporaries that write() leaves beside `path` when it is interrupted (a crash, a
// power cut): `path` + "." + six random letters and digits, regular files of ours not touched
// for a minute (so a save under way in another run is left alone). A name that reads as a word
// or a number ("defaults.json.backup", ".Backup", ".202401") is never one of them.
void removeLeftovers(const std::string& path);

// `path` + ".corrupt-" + the local time, the name an unusable file is kept under.
std::string asideName(const std::string& path);

} // namespace AtomicFile

} // namespace kit
