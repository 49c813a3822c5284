#include "shell/Recorder.h"

#include "kit/Application.h"
#include "kit/AudioServices.h"
#include "kit/Device.h"
#include "kit/MoviePlayerController.h"
#include "kit/NetworkError.h"
#include "kit/RunLoop.h"
#include "kit/URLConnection.h"
#include "kit/UserDefaults.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace shell {

namespace {

constexpr const char* kVersion = "1.53";

// A byte that may be part of a word: letters, digits and every byte of a character outside ASCII.
bool wordByte(char c)
{
    auto byte = static_cast<unsigned char>(c);
    return byte >= 0x80 || std::isalnum(byte) || c == '_';
}

// The first UTF-8 character of a text.
std::string firstLetter(std::string_view text)
{
    if (text.empty())
        return {};
    size_t length = 1;
    while (length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        ++length;
    return std::string(text.substr(0, length));
}

std::string padded(size_t number, size_t width)
{
    std::string digits = std::to_string(number);
    return std::string(width > digits.size() ? width - digits.size() : 0, '0') + digits;
}

std::string digitsOf(std::string_view text)
{
    std::string out;
    for (char c : text)
        if (c >= '0' && c <= '9')
            out += c;
    return out;
}

std::string base(const std::string& path)
{
    std::filesystem::path p(path);
    if (p.has_extension())
        p.replace_extension();
    return p.string();
}

// vCard text: a backslash before \ , ; and line breaks.
std::string vcardEscape(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == ',' || c == ';')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        if (c != '\r')
            out += c;
    }
    return out;
}

std::string vcardOf(const std::vector<kit::ABPerson>& people)
{
    std::string out;
    for (const auto& person : people) {
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
        out += "N:" + vcardEscape(person.lastName.value_or("")) + ";" + vcardEscape(person.firstName.value_or("")) + ";;;\r\n";
        std::string full = person.firstName.value_or("");
        if (person.lastName)
            full += (full.empty() ? "" : " ") + *person.lastName;
        out += "FN:" + vcardEscape(full) + "\r\n";
        int group = 0;
        auto entries = [&](const std::vector<kit::ABMultiValueEntry>& list, const char* property) {
            for (const auto& entry : list) {
                std::string type;
                if (entry.label == kit::kABPersonPhoneMobileLabel)
                    type = ";TYPE=CELL";
                else if (entry.label == kit::kABHomeLabel)
                    type = ";TYPE=HOME";
                else if (entry.label == kit::kABWorkLabel)
                    type = ";TYPE=WORK";
                if (type.empty() && entry.label != kit::kABOtherLabel && !entry.label.empty()) {
                    // A label of the person's own rides on a group, as exports write it.
                    std::string name = "item" + std::to_string(++group);
                    out += name + "." + property + ":" + vcardEscape(entry.value) + "\r\n";
                    out += name + ".X-ABLabel:" + vcardEscape(entry.label) + "\r\n";
                    continue;
                }
                out += std::string(property) + type + ":" + vcardEscape(entry.value) + "\r\n";
            }
        };
        entries(person.phones, "TEL");
        entries(person.emails, "EMAIL");
        out += "END:VCARD\r\n";
    }
    return out;
}

std::string seconds(kit::RunLoop::Micros micros)
{
    char text[40];
    std::snprintf(text, sizeof text, "%" PRId64 ".%06" PRId64, micros / 1000000, micros % 1000000);
    return text;
}

std::string shellQuoted(const std::string& word)
{
    if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_./:=+,@") == std::string::npos)
        return word;
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace

// ---- Redactor ----

std::string Redactor::typedStandIn(size_t letters) { return std::string(letters, 'x'); }

size_t Redactor::letterCount(std::string_view text)
{
    size_t count = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++count;
    return count;
}

void Redactor::remember(const std::string& original, const std::string& standIn)
{
    if (original.empty() || original == standIn)
        return;
    for (const auto& [known, _] : replacements_)
        if (known == original)
            return;
    replacements_.emplace_back(original, standIn);
    std::stable_sort(replacements_.begin(), replacements_.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
}

std::string Redactor::typed(const std::string& text)
{
    std::string standIn = typedStandIn(letterCount(text));
    remember(text, standIn);
    return standIn;
}

std::vector<kit::ABPerson> Redactor::people(const std::vector<kit::ABPerson>& people)
{
    // One pool for first and last names: the list compares "first last" texts, so a stand-in
    // ranks among all names as its name did. Same width throughout, so ranks compare as texts.
    std::set<std::string> names;
    for (const auto& person : people) {
        if (person.firstName)
            names.insert(*person.firstName);
        if (person.lastName)
            names.insert(*person.lastName);
    }
    std::map<std::string, std::string> standIns;
    size_t width = std::to_string(names.size()).size() + 1, rank = 0;
    for (const auto& name : names) {
        ++rank;
        if (name.empty()) {
            standIns[name] = name;
            continue;
        }
        standIns[name] = firstLetter(name) + padded(rank, width);
        remember(name, standIns[name]);
    }
    std::vector<kit::ABPerson> out;
    for (const auto& person : people) {
        kit::ABPerson copy = person;
        if (copy.firstName)
            copy.firstName = standIns[*copy.firstName];
        if (copy.lastName)
            copy.lastName = standIns[*copy.lastName];
        // The whole name as the list shows it, so that a name with blanks in it is caught whole.
        if (person.firstName && person.lastName)
            remember(*person.firstName + " " + *person.lastName, *copy.firstName + " " + *copy.lastName);
        for (auto& phone : copy.phones) {
            std::string original = phone.value;
            phone.value = "555" + padded(++numbers_, 7);
            remember(original, phone.value);
            remember(digitsOf(original), phone.value);
        }
        for (auto& email : copy.emails) {
            std::string original = email.value;
            email.value = "contact" + std::to_string(++addresses_) + "@example.invalid";
            remember(original, email.value);
        }
        out.push_back(std::move(copy));
    }
    return out;
}

std::string Redactor::rewrite(const std::string& text) const
{
    if (replacements_.empty())
        return text;
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        bool replaced = false;
        bool atWordStart = i == 0 || !wordByte(text[i - 1]);
        if (atWordStart) {
            for (const auto& [original, standIn] : replacements_) {
                if (text.compare(i, original.size(), original) != 0)
                    continue;
                size_t end = i + original.size();
                if (end < text.size() && wordByte(text[end]) && wordByte(original.back()))
                    continue;
                out += standIn;
                i = end;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            out += text[i++];
    }
    return out;
}

nlohmann::json Redactor::rewrite(const nlohmann::json& value) const
{
    if (value.is_string())
        return rewrite(value.get<std::string>());
    if (value.is_array()) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& item : value)
            out.push_back(rewrite(item));
        return out;
    }
    if (value.is_object()) {
        nlohmann::json out = nlohmann::json::object();
        for (const auto& [key, item] : value.items())
            out[key] = rewrite(item);
        return out;
    }
    return value;
}

// ---- Recorder ----

std::string Recorder::transcriptPathFor(const std::string& path) { return base(path) + ".jsonl"; }
std::string Recorder::contactsPathFor(const std::string& path) { return base(path) + ".vcf"; }

std::unique_ptr<Recorder> Recorder::open(const Options& options, kit::EventSink* next, std::string* error)
{
    const std::string& path = *options.record;
    std::unique_ptr<Recorder> recorder(new Recorder(options, next));
    recorder->file_ = std::fopen(path.c_str(), "w");
    if (!recorder->file_) {
        if (error)
            *error = "cannot write the recording " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    recorder->transcript_ = TranscriptWriter::open(transcriptPathFor(path), error);
    if (!recorder->transcript_)
        return nullptr;
    return recorder;
}

bool Recorder::openFor(const Options& options, kit::EventSink* transcript, std::unique_ptr<Recorder>& recorder)
{
    if (!options.record)
        return true;
    std::string error;
    recorder = open(options, transcript, &error);
    if (!recorder)
        std::fprintf(stderr, "street-client: %s\n", error.c_str());
    return recorder != nullptr;
}

AppHooks Recorder::watching(const AppHooks& hooks)
{
    AppHooks watched = hooks;
    server_ = options_.server.value_or("");
    watched.setServer = [this, setServer = hooks.setServer](const std::string& chosen) {
        server_ = chosen;
        if (setServer)
            setServer(chosen);
    };
    return watched;
}

Recorder::~Recorder()
{
    end();
    if (file_)
        std::fclose(file_);
}

std::string Recorder::header(const std::string& settings) const
{
    const std::string& server = server_;
    const auto& device = kit::Device::currentDevice();
    std::string contacts = std::filesystem::path(contactsPathFor(*options_.record)).filename().string();
    std::vector<std::string> arguments = {"--server", server, "--udid", device.uniqueIdentifier(), "--model", device.model(),
                                          "--system-version", device.systemVersion(),
                                          "--audio-route", kit::AudioServices::audioRoute().value_or("none"),
                                          "--push", options_.push ? "yes" : "no", "--icon-badge", options_.iconBadge ? "yes" : "no",
                                          "--contacts", contacts};
    if (recordsMovie_) {
        arguments.push_back("--movie-scripted");
    } else {
        arguments.push_back("--movie-seconds");
        arguments.push_back(std::to_string(options_.movieSeconds));
    }
    for (const auto& host : options_.trustedHosts) {
        arguments.push_back("--trusted-host");
        arguments.push_back(host);
    }
    std::string script = std::filesystem::path(*options_.record).filename().string();
    std::string line = "street-client --headless --clock virtual --engine scripted --script " + shellQuoted(script);
    for (const auto& argument : arguments)
        line += " " + shellQuoted(argument);
    std::string text;
    text += "# A session of street-client " + std::string(kVersion) + " with the game server " + server + ", recorded "
        + (options_.recordPrivate ? "with every text as typed" : "with private texts replaced") + ".\n";
    text += "# Settings at start (defaults.json in the data directory): " + settings + "\n";
    text += "# Check it: street-client replay-check " + shellQuoted(script) + " "
        + shellQuoted(std::filesystem::path(transcriptPathFor(*options_.record)).filename().string()) + "\n";
    text += "# Play it alone (in this folder, with those settings in DIR/defaults.json): " + line + " --data-dir DIR\n";
    text += "# replay-options: " + nlohmann::json(arguments).dump() + "\n";
    text += "# replay-settings: " + settings + "\n";
    return text;
}

void Recorder::begin(Movie movie)
{
    if (begun_)
        return;
    begun_ = true;
    recordsMovie_ = movie == Movie::AsPlayed;
    std::string settings = "{}";
    std::ifstream in(kit::UserDefaults::dataDirectory() + "/defaults.json", std::ios::binary);
    if (in) {
        std::ostringstream text;
        text << in.rdbuf();
        auto parsed = nlohmann::json::parse(text.str(), nullptr, false);
        if (parsed.is_object()) {
            // The player's name is a typed text like any other.
            auto name = parsed.find("nameString");
            if (!options_.recordPrivate && name != parsed.end() && name->is_string())
                *name = redactor_.typed(name->get<std::string>());
            settings = parsed.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        }
    }
    // Written with the first line: a backend may settle the platform (its audio route) after this.
    settings_ = settings;
    last_ = kit::RunLoop::main().now();

    kit::WebView::setObserver(this);
    kit::URLConnection::setPostObserver([this](int status, const std::optional<std::string>& body) { postEnded(status, body); });
    kit::AddressBook::setReadObserver([this](const std::vector<kit::ABPerson>& people) { addressBookRead(people); });
    if (recordsMovie_)
        kit::MoviePlayerController::setPostObserver([this](kit::MoviePlayerController::Posted posted) {
            write(posted == kit::MoviePlayerController::Posted::PreloadDidFinish ? "movie preloaded" : "movie finished");
        });
}

void Recorder::end()
{
    if (!begun_)
        return;
    begun_ = false;
    kit::WebView::setObserver(nullptr);
    kit::URLConnection::setPostObserver({});
    kit::AddressBook::setReadObserver({});
    kit::MoviePlayerController::setPostObserver({});
    flush();
}

void Recorder::write(const std::string& line, bool isInput, const std::string* mayBeFrame)
{
    resolvePendingNavigation();
    if (isInput)
        flush();
    auto now = kit::RunLoop::main().now();
    if (isInput) {
        holdingInput_ = true;
        inputAt_ = held_.size();
    }
    if (now > last_)
        held_.push_back("wait " + seconds(now - last_));
    last_ = std::max(last_, now);
    held_.push_back(line);
    if (mayBeFrame) {
        // Held back until it is known whether the main frame's load began.
        pending_ = Pending{*mayBeFrame, held_.size() - 1};
        return;
    }
    if (!holdingInput_)
        flush();
}

void Recorder::flush()
{
    resolvePendingNavigation();
    if (settings_) {
        std::string text = header(*settings_);
        std::fwrite(text.data(), 1, text.size(), file_);
        settings_.reset();
    }
    for (const auto& line : held_) {
        std::fwrite(line.data(), 1, line.size(), file_);
        std::fputc('\n', file_);
    }
    std::fflush(file_);
    held_.clear();
    holdingInput_ = false;
    inputAt_ = 0;
}

void Recorder::resolvePendingNavigation()
{
    if (!pending_)
        return;
    // Allowed, yet no load of the main frame began: a frame's own load.
    if (!pending_->started && pending_->at < held_.size())
        held_[pending_->at] = "navigate-frame " + Script::quote(pending_->url);
    pending_.reset();
}

void Recorder::played(const ScriptCommand& command)
{
    using Kind = ScriptCommand::Kind;
    switch (command.kind) {
    case Kind::Wait:
    case Kind::Navigate:
    case Kind::NavigateFrame:
    case Kind::Redirect:
    case Kind::Finish:
    case Kind::Fail:
    case Kind::Reply:
    case Kind::Snapshot:
    case Kind::Quit:
        // Time, the page's loads and their ends and the replies reach the recording as they
        // happen; a picture is not an event.
        return;
    case Kind::MoviePreloaded:
    case Kind::MovieFinished:
        if (!recordsMovie_)  // else written as the movie posts it
            input(command);
        return;
    default:
        input(command);
    }
}

void Recorder::input(const ScriptCommand& command)
{
    using Kind = ScriptCommand::Kind;
    if (command.kind == Kind::Type) {
        if (options_.recordPrivate)
            write("type " + Script::quote(command.text), true);
        else
            write("type-redacted " + std::to_string(redactor_.typed(command.text).size()), true);
        return;
    }
    if (command.kind == Kind::State) {
        // A look at the state: the replay takes it at the same moment, for comparison.
        write("state");
        return;
    }
    bool platform = command.kind == Kind::Token || command.kind == Kind::PushFail || command.kind == Kind::MoviePreloaded
        || command.kind == Kind::MovieFinished;
    write(command.source, !platform);
}

void Recorder::event(const std::string& name, nlohmann::json fields)
{
    // The first wait counts from the client's first event: what a window does before it
    // launches the client is not the session's.
    if (!started_) {
        started_ = true;
        if (begun_ && held_.empty())
            last_ = kit::RunLoop::main().now();
    }
    if (name == "load-start" && pending_ && fields.value("url", std::string()) == pending_->url)
        pending_->started = true;
    if (transcript_)
        transcript_->event(name, options_.recordPrivate ? fields : redactor_.rewrite(fields));
    if (next_)
        next_->event(name, std::move(fields));
}

void Recorder::webViewDecided(kit::WebView&, const kit::URLRequest& request, bool allow)
{
    refusedHop_ = false;
    const auto& led = request.navigation;
    if (led.byClient && !led.redirect)
        return;  // the client's own loads: the replay makes them itself
    if (led.redirect) {
        // A hop of the client's own load is the server's answer all the same.
        write("redirect " + Script::quote(request.url));
        refusedHop_ = !allow;
        return;
    }
    write("navigate " + Script::quote(request.url), false, allow ? &request.url : nullptr);
}

void Recorder::webViewEngineFinished(kit::WebView&, const std::string&)
{
    refusedHop_ = false;
    write("finish");
}

void Recorder::webViewEngineFailed(kit::WebView&, const std::string&, const kit::Error& error)
{
    // A refused hop ends the load as cancelled: the replay's redirect does that itself.
    if (refusedHop_ && error.code == kit::NetworkError::Cancelled) {
        refusedHop_ = false;
        return;
    }
    write("fail " + std::to_string(error.code) + " " + Script::quote(options_.recordPrivate ? error.description : redactor_.rewrite(error.description)));
}

void Recorder::addressBookRead(const std::vector<kit::ABPerson>& people)
{
    auto written = options_.recordPrivate ? people : redactor_.people(people);
    std::ofstream out(contactsPathFor(*options_.record), std::ios::binary | std::ios::trunc);
    out << vcardOf(written);
}

void Recorder::postEnded(int status, const std::optional<std::string>& body)
{
    std::string text = body.value_or("");
    std::string line = "reply " + std::to_string(status) + " " + Script::quoteEscaped(options_.recordPrivate ? text : redactor_.rewrite(text));
    resolvePendingNavigation();
    // It answers the post that the input just played sent: it goes before that input.
    size_t at = holdingInput_ ? inputAt_ : held_.size();
    held_.insert(held_.begin() + static_cast<std::ptrdiff_t>(at), line);
    if (holdingInput_)
        ++inputAt_;
    else
        flush();
}

} // namespace shell
