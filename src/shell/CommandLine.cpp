#include "shell/Options.h"

#include "kit/CertificateAuthorities.h"
#include "kit/Text.h"
#include "kit/URL.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace shell {

namespace {

constexpr const char* kVersion = "street-client 1.53\n";

constexpr const char* kHeadlessOnlyUsage =
    "usage: street-client --headless [options]\n"
    "\n"
    "  --headless                 run without a display (the only backend of this build)\n";

constexpr const char* kDesktopUsage =
    "usage: street-client [--headless] [options]\n"
    "\n"
    "  --headless                 run without a display (default: the game in a window)\n"
    "  --scale N                  window: N times 320 x 480 (default: the largest that fits)\n"
    "  --load-timeout S           window: fail a page load after S seconds (default: 60)\n"
    "  --open-urls open|record    window: open outside links in the browser, or only record them\n"
    "                             (pages run in WebKit's sandbox, or not at all; the variable\n"
    "                             WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1 runs them without it)\n";

constexpr const char* kUsage =
    "  --script FILE|-            play a scenario script (- reads standard input)\n"
    "  --transcript FILE|-        write what happens as JSON Lines (- is standard output)\n"
    "  --server SERVER            the game server: HOST[:PORT] (http), http://HOST[:PORT] or\n"
    "                             https://HOST[:PORT] (default: $STREET_SERVER, else server= in\n"
    "                             $XDG_CONFIG_HOME/street-client/client.ini, else this build's)\n"
    "  --trusted-host SERVER      a further server whose pages may give commands (repeatable): a\n"
    "                             bare HOST[:PORT] for http and https, a scheme for that one alone;\n"
    "                             without a port, the scheme's default port\n"
    "  --ca-file FILE.pem         certificate authorities to trust for https besides the system's\n"
    "  --engine scripted|http     how pages load: played by the script, or fetched over HTTP\n"
    "                             (default: scripted with the virtual clock, http with the real one)\n"
    "  --clock virtual|real       virtual time moves only with the script's waits\n"
    "                             (default: virtual with a script, real without)\n"
    "  --data-dir DIR             where the user defaults and the lasting cookies live\n"
    "                             (default: $XDG_CONFIG_HOME/street-client)\n"
    "  --resources DIR            the application's resources\n"
    "  --contacts FILE.vcf        the address book\n"
    "  --udid TEXT                the device identifier (default: derived from the machine id)\n"
    "  --model TEXT               the device model (default: the machine's product name)\n"
    "  --system-version TEXT      the system version (default: the OS release's VERSION_ID)\n"
    "  --audio-route TEXT|none    the audio route; none means silent (default: Speaker; in a\n"
    "                             window, the sound server's default output)\n"
    "  --push yes|no              whether push registration is offered (default: yes)\n"
    "  --icon-badge yes|no        whether the icon badge is offered (default: yes)\n"
    "  --movie-seconds S          the intro movie's length (default: 3); in a window, the most of\n"
    "                             the movie that plays\n"
    "  --movie-scripted           headless: the movie is preloaded and ends only when the script\n"
    "                             says so (a replayed recording)\n"
    "  --record FILE              write the session as a scenario script that plays it again\n"
    "                             (with FILE's transcript and address book beside it: the same\n"
    "                             name ending .jsonl and .vcf); texts typed and contacts are\n"
    "                             replaced unless --record-private is given\n"
    "  --record-private           keep the texts typed and the contacts in a recording\n"
    "  --help                     show this text\n"
    "  --version                  show the version\n";

ParseResult failure(const std::string& message)
{
    ParseResult result;
    result.exitCode = 2;
    result.message = "street-client: " + message + "\nTry 'street-client --help' for more information.\n";
    return result;
}

std::optional<bool> yesNo(std::string_view value)
{
    if (value == "yes")
        return true;
    if (value == "no")
        return false;
    return std::nullopt;
}

std::optional<double> seconds(std::string_view value)
{
    double number = 0;
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || error != std::errc() || end != value.data() + value.size() || !std::isfinite(number) || number < 0)
        return std::nullopt;
    return number;
}

std::string badServer(const std::string& flag, const std::string& value)
{
    return flag + " takes HOST[:PORT], http://HOST[:PORT] or https://HOST[:PORT], not '" + value + "'";
}

} // namespace

ParseResult parseCommandLine(int argc, char** argv, bool desktop)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            ParseResult result;
            result.message = std::string(desktop ? kDesktopUsage : kHeadlessOnlyUsage) + kUsage;
            return result;
        }
        if (arg == "--version") {
            ParseResult result;
            result.message = kVersion;
            return result;
        }
        if (arg == "--headless") {
            options.headless = true;
            continue;
        }
        if (arg == "--movie-scripted") {
            options.movieScripted = true;
            continue;
        }
        if (arg == "--record-private") {
            options.recordPrivate = true;
            continue;
        }
        if (arg.substr(0, 2) != "--")
            return failure("unexpected argument '" + std::string(arg) + "'");

        // Every other flag takes a value: "--flag value" or "--flag=value".
        auto [flag, value] = kit::Text::splitOption(arg);
        static const char* const valued[] = {"--script", "--transcript", "--server", "--engine", "--clock",
                                             "--data-dir", "--resources", "--contacts", "--udid", "--model",
                                             "--system-version", "--audio-route", "--push", "--icon-badge",
                                             "--movie-seconds", "--trusted-host", "--scale", "--load-timeout",
                                             "--open-urls", "--ca-file", "--record"};
        if (std::find(std::begin(valued), std::end(valued), flag) == std::end(valued))
            return failure("unknown option '" + flag + "'");
        if (!value) {
            if (i + 1 >= argc)
                return failure(flag + " needs a value");
            value = argv[++i];
        }
        const std::string& v = *value;
        auto needsText = [&](std::optional<std::string>& slot) -> bool {
            if (v.empty())
                return false;
            slot = v;
            return true;
        };

        if (flag == "--script") {
            if (!needsText(options.script))
                return failure("--script needs a file name (or - for standard input)");
        } else if (flag == "--transcript") {
            if (!needsText(options.transcript))
                return failure("--transcript needs a file name (or - for standard output)");
        } else if (flag == "--record") {
            if (!needsText(options.record) || v == "-")
                return failure("--record needs a file name");
        } else if (flag == "--server") {
            if (!kit::URL::serverAddress(v))
                return failure(badServer(flag, v));
            options.server = v;
        } else if (flag == "--trusted-host") {
            if (!kit::URL::serverAddress(v))
                return failure(badServer(flag, v));
            options.trustedHosts.push_back(v);
        } else if (flag == "--ca-file") {
            std::string error;
            if (!kit::CertificateAuthorities::check(v, &error))
                return failure("--ca-file: " + error);
            options.caFile = v;
        } else if (flag == "--engine") {
            if (v == "scripted")
                options.engine = Engine::Scripted;
            else if (v == "http")
                options.engine = Engine::Http;
            else
                return failure("--engine must be scripted or http, not '" + v + "'");
        } else if (flag == "--clock") {
            if (v == "virtual")
                options.clock = ClockKind::Virtual;
            else if (v == "real")
                options.clock = ClockKind::Real;
            else
                return failure("--clock must be virtual or real, not '" + v + "'");
        } else if (flag == "--data-dir") {
            if (!needsText(options.dataDir))
                return failure("--data-dir needs a directory");
        } else if (flag == "--resources") {
            if (!needsText(options.resources))
                return failure("--resources needs a directory");
        } else if (flag == "--contacts") {
            if (!needsText(options.contacts))
                return failure("--contacts needs a file name");
        } else if (flag == "--udid") {
            options.udid = v;
        } else if (flag == "--model") {
            options.model = v;
        } else if (flag == "--system-version") {
            options.systemVersion = v;
        } else if (flag == "--audio-route") {
            options.audioRoute = v;
        } else if (flag == "--push" || flag == "--icon-badge") {
            auto answer = yesNo(v);
            if (!answer)
                return failure(flag + " must be yes or no, not '" + v + "'");
            (flag == "--push" ? options.push : options.iconBadge) = *answer;
        } else if (flag == "--movie-seconds") {
            auto number = seconds(v);
            if (!number)
                return failure("--movie-seconds needs a number of seconds (0 or more), not '" + v + "'");
            options.movieSeconds = *number;
        } else if (flag == "--scale") {
            int scale = 0;
            auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), scale);
            if (v.empty() || error != std::errc() || end != v.data() + v.size() || scale < 1 || scale > 8)
                return failure("--scale needs a whole number from 1 to 8, not '" + v + "'");
            options.scale = scale;
        } else if (flag == "--load-timeout") {
            auto number = seconds(v);
            if (!number || *number <= 0)
                return failure("--load-timeout needs a number of seconds above 0, not '" + v + "'");
            options.loadTimeout = *number;
        } else if (flag == "--open-urls") {
            if (v != "open" && v != "record")
                return failure("--open-urls must be open or record, not '" + v + "'");
            options.recordOpenURLs = v == "record";
        }
    }

    if (options.recordPrivate && !options.record)
        return failure("--record-private needs --record FILE");
    if (!options.headless && desktop) {
        if (options.clock == ClockKind::Virtual)
            return failure("the window runs on the real clock: --clock virtual needs --headless");
        if (options.engine == Engine::Scripted)
            return failure("the window fetches its pages: --engine scripted needs --headless");
        ParseResult result;
        result.options = std::move(options);
        return result;
    }
    if (!options.headless) {
        ParseResult result;
        result.exitCode = 2;
        result.message = "street-client: this build has only the headless backend; run it with --headless\n";
        return result;
    }
    ClockKind clock = options.clock.value_or(options.script ? ClockKind::Virtual : ClockKind::Real);
    if (options.engine == Engine::Http && clock == ClockKind::Virtual)
        return failure("--engine http fetches pages in real time: use it with --clock real");
    if (options.record && clock == ClockKind::Virtual)
        return failure("--record writes a session as it happens: use it with --clock real");

    ParseResult result;
    result.options = std::move(options);
    return result;
}

} // namespace shell
