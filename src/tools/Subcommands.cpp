#include "tools/Subcommands.h"

#include "app/GameServer.h"
#include "kit/CertificateAuthorities.h"
#include "kit/Text.h"
#include "kit/URL.h"
#include "kit/URLConnection.h"
#include "tools/PageLinks.h"
#include "tools/PageSandbox.h"
#include "tools/ReplayCheck.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace street::tools {

namespace {

constexpr const char* kUsage =
    "usage: street-client explain URL [--phase first-load|started] [--json]\n"
    "       street-client check-page FILE|URL [--server SERVER] [--ca-file FILE.pem] [--phase first-load|started]\n"
    "                                [--json]\n"
    "       street-client replay-check RECORDED.script RECORDED.jsonl [--tolerance S]  (see replay-check --help)\n"
    "\n"
    "explain     what the client does with a URL a page loads: allowed or refused, the commands it\n"
    "            runs with their values, the page's background and tab, the alert it shows, and\n"
    "            warnings for near-misses that make a command silently do nothing\n"
    "check-page  explains every URL an HTML page can load without running scripts, as that page\n"
    "            loads it; a FILE is read as if the game server served it (--server: HOST[:PORT],\n"
    "            http://HOST[:PORT] or https://HOST[:PORT]; default: the client's own); a URL over\n"
    "            https is checked against the system's certificate authorities and those of --ca-file\n"
    "\n"
    "Both take the game server as the client does: --server (check-page), else STREET_SERVER,\n"
    "else server= in client.ini, else the one this build was made with.\n"
    "\n"
    "  --phase first-load|started  before or after the first page has been shown (default: started)\n"
    "  --json                      one JSON object instead of plain words\n"
    "\n"
    "Exit status: 0, 1 when there is a warning, 2 for a bad command line or a page that cannot be read.\n";

struct Arguments {
    std::string subject;  // the URL, or the page's file or URL
    Explanation::Phase phase = Explanation::Phase::Started;
    bool json = false;
    std::optional<kit::URL::ServerAddress> server;
    std::optional<std::string> serverText;  // --server as given
};

// Parses the arguments after the subcommand; a message, or none when they are good.
std::optional<std::string> parse(int argc, char** argv, bool allowServer, Arguments& out, bool& help)
{
    bool haveSubject = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            return std::nullopt;
        }
        if (arg == "--json") {
            out.json = true;
            continue;
        }
        if (arg.starts_with("--")) {
            auto [flag, value] = kit::Text::splitOption(arg);
            if (flag != "--phase" && !(allowServer && (flag == "--server" || flag == "--ca-file")))
                return "unknown option '" + flag + "'";
            if (!value) {
                if (i + 1 >= argc)
                    return flag + " needs a value";
                value = argv[++i];
            }
            if (flag == "--phase") {
                if (*value == "first-load")
                    out.phase = Explanation::Phase::FirstLoad;
                else if (*value == "started")
                    out.phase = Explanation::Phase::Started;
                else
                    return "--phase must be first-load or started, not '" + *value + "'";
            } else if (flag == "--server") {
                out.server = kit::URL::serverAddress(*value);
                if (!out.server)
                    return "--server takes HOST[:PORT], http://HOST[:PORT] or https://HOST[:PORT], not '" + *value + "'";
                out.serverText = *value;
            } else {
                std::string error;
                if (!kit::CertificateAuthorities::setFile(*value, &error))
                    return "--ca-file: " + error;
            }
            continue;
        }
        if (haveSubject)
            return "one " + std::string(allowServer ? "page" : "URL") + " at a time, not also '" + arg + "'";
        out.subject = arg;
        haveSubject = true;
    }
    if (!haveSubject || out.subject.empty())
        return allowServer ? "check-page needs a FILE or URL" : "explain needs a URL";
    return std::nullopt;
}

std::string dump(const nlohmann::json& json) { return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace); }

int explainCommand(const Arguments& args)
{
    PageSandbox sandbox;
    if (!sandbox.ready()) {
        std::fprintf(stderr, "street-client: cannot make a temporary directory\n");
        return 2;
    }
    Explanation explanation = sandbox.explain(args.subject, args.phase);
    std::string out = args.json ? dump(explanation.json()) + "\n" : explanation.text();
    std::fwrite(out.data(), 1, out.size(), stdout);
    return explanation.warnings().empty() ? 0 : 1;
}

bool isWebAddress(std::string_view text)
{
    return kit::Text::startsWithIgnoringASCIICase(text, "http://") || kit::Text::startsWithIgnoringASCIICase(text, "https://");
}

int checkPageCommand(const Arguments& args)
{
    // Links to the game server are the game's own, as they would be in the client.
    if (args.server)
        GameServer::setServer(args.server->scheme, args.server->authority);
    std::string html;
    std::string address;
    if (isWebAddress(args.subject)) {
        auto body = kit::URLConnection::sendSynchronousRequest(kit::URLRequest::requestWithURL(args.subject));
        if (!body) {
            std::fprintf(stderr, "street-client: cannot fetch %s\n", args.subject.c_str());
            return 2;
        }
        html = std::move(*body);
        address = args.subject;
    } else {
        std::ifstream in(args.subject, std::ios::binary);
        std::ostringstream text;
        if (!in || !(text << in.rdbuf())) {
            std::fprintf(stderr, "street-client: cannot read %s\n", args.subject.c_str());
            return 2;
        }
        html = text.str();
        address = GameServer::baseURL() + "/" + std::filesystem::path(args.subject).filename().string();
    }

    PageSandbox sandbox;
    if (!sandbox.ready()) {
        std::fprintf(stderr, "street-client: cannot make a temporary directory\n");
        return 2;
    }
    size_t commands = 0;
    size_t warnings = 0;
    auto links = PageLinks::find(html, address);
    nlohmann::json urls = nlohmann::json::array();
    std::string out;
    for (const auto& link : links) {
        Explanation explanation = sandbox.explain(link.url, args.phase, address);
        commands += explanation.commands().size();
        warnings += explanation.warnings().size();
        if (args.json) {
            nlohmann::json entry = explanation.json();
            entry["source"] = link.source;
            entry["line"] = link.line;
            urls.push_back(std::move(entry));
        } else {
            out += "line " + std::to_string(link.line) + ", " + link.source + ":\n" + explanation.text("  ") + "\n";
        }
    }
    if (args.json) {
        nlohmann::json summary = {{"urls", links.size()}, {"commands", commands}, {"warnings", warnings}};
        out = dump({{"page", address}, {"urls", urls}, {"summary", summary}}) + "\n";
    } else {
        out += std::to_string(links.size()) + " URLs, " + std::to_string(commands) + " commands, " + std::to_string(warnings)
             + " warnings\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return warnings == 0 ? 0 : 1;
}

} // namespace

std::optional<int> runSubcommand(int argc, char** argv, const ServerChooser& chooseServer)
{
    if (argc < 2)
        return std::nullopt;
    std::string_view name = argv[1];
    if (name == "replay-check")
        return ReplayCheck::run(argc, argv);
    bool checkPage = name == "check-page";
    if (name != "explain" && !checkPage)
        return std::nullopt;
    Arguments args;
    bool help = false;
    if (auto error = parse(argc, argv, checkPage, args, help)) {
        std::fprintf(stderr, "street-client: %s\nTry 'street-client %s --help' for more information.\n", error->c_str(),
                     checkPage ? "check-page" : "explain");
        return 2;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // The game's own pages are those of the server the client would talk to.
    if (chooseServer)
        if (int status = chooseServer(args.serverText))
            return status;
    return checkPage ? checkPageCommand(args) : explainCommand(args);
}

} // namespace street::tools
