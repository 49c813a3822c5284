#include "support/Processes.h"

#include "support/Scenario.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

namespace scenario {

namespace {

pid_t parentOf(const std::string& pid)
{
    // "PID (COMMAND) STATE PPID ...": the command may hold spaces and parentheses.
    std::string stat = readFile("/proc/" + pid + "/stat");
    auto close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    pid_t parent = 0;
    rest >> state >> parent;
    return parent;
}

} // namespace

std::vector<pid_t> processTree(pid_t root)
{
    std::multimap<pid_t, pid_t> children;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") == std::string::npos)
            children.emplace(parentOf(name), static_cast<pid_t>(std::atoi(name.c_str())));
    }
    std::vector<pid_t> tree{root};
    for (size_t i = 0; i < tree.size(); ++i) {
        auto [from, to] = children.equal_range(tree[i]);
        for (auto it = from; it != to; ++it)
            tree.push_back(it->second);
    }
    return tree;
}

std::string statusField(pid_t pid, const std::string& name)
{
    std::istringstream status(readFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, name.size() + 1, name + ":") != 0)
            continue;
        auto value = line.find_first_not_of(" \t", name.size() + 1);
        return value == std::string::npos ? std::string() : line.substr(value);
    }
    return {};
}

long residentKB(pid_t pid) { return std::atol(statusField(pid, "VmRSS").c_str()); }

std::string programOf(pid_t pid)
{
    std::string line = readFile("/proc/" + std::to_string(pid) + "/cmdline");
    return line.substr(0, line.find('\0'));
}

bool mapsFile(pid_t pid, const std::string& part)
{
    std::istringstream maps(readFile("/proc/" + std::to_string(pid) + "/maps"));
    for (std::string line; std::getline(maps, line);)
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

std::string namespaceOf(pid_t pid, const std::string& kind)
{
    std::error_code error;
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/ns/" + kind, error).string();
}

} // namespace scenario
