// A session recorded with --record plays again from its script alone: the lines only recordings
// need, the stand-ins that keep a player's texts out, the comparison of replay-check, and whole
// sessions against the demo server recorded on the real clock and replayed on the virtual one.

#include "shell/Recorder.h"
#include "shell/Script.h"
#include "support/Scenario.h"
#include "support/Timeline.h"
#include "tools/ReplayCheck.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using nlohmann::json;
using scenario::Transcript;
using shell::Redactor;
using shell::Script;
using Kind = shell::ScriptCommand::Kind;
using street::tools::ReplayCheck;
using timeline::fieldOf;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(RecordScript, TheLinesARecordingAddsAndTheirMistakes)
{
    auto parsed = Script::parse("navigate-frame http://h/ad.php?x=1\nredirect \"http://h/b c.php\"\nreply 200 \"Sent%To \\\"2\\\"\\r\\nfriends\\x7f\"\n"
                                "reply 0 \"\"\nreply 404\ntype-redacted 3\ntype-redacted 0\n");
    ASSERT_FALSE(parsed.errorLine) << parsed.error;
    const auto& c = parsed.commands;
    ASSERT_EQ(c.size(), 7u);
    const Kind kinds[] = {Kind::NavigateFrame, Kind::Redirect, Kind::Reply, Kind::Reply, Kind::Reply, Kind::TypeRedacted, Kind::TypeRedacted};
    for (size_t i = 0; i < c.size(); ++i)
        EXPECT_EQ(c[i].kind, kinds[i]) << c[i].source;
    EXPECT_EQ(c[0].text, "http://h/ad.php?x=1");
    EXPECT_EQ(c[1].text, "http://h/b c.php");
    EXPECT_EQ(c[2].code, 200);
    EXPECT_EQ(c[2].text, "Sent%To \"2\"\r\nfriends\x7f");
    EXPECT_EQ(c[3].code, 0);
    EXPECT_EQ(c[4].text, "");
    EXPECT_EQ(c[5].count, 3u);
    EXPECT_EQ(c[6].count, 0u);

    for (const char* line : {"navigate-frame", "redirect", "redirect \"\"", "reply", "reply ok body", "reply -1 x", "reply 1000 x",
                             "reply 200 \"\\q\"", "reply 200 \"\\x4\"", "reply 200 \"open", "type-redacted", "type-redacted x",
                             "type-redacted -2", "type-redacted 3 4"}) {
        auto bad = Script::parse(std::string("state\n") + line + "\n");
        EXPECT_EQ(bad.errorLine, 2) << line;
    }

    // What the recorder writes reads back as it was, whatever the bytes.
    for (std::string text : {std::string(""), std::string("plain"), std::string("q\"uo\\te"), std::string("a\r\nb\tc\x01\x7f"),
                             std::string("Zo\xC3\xAB%Done")}) {
        EXPECT_EQ(Script::parseEscapedText(Script::quoteEscaped(text), nullptr), text);
        auto plain = Script::parse("type " + Script::quote(text) + "\n");
        ASSERT_FALSE(plain.errorLine) << text;
    }
}

TEST(RecordRedaction, StandInsKeepFirstLettersOrderAndSections)
{
    std::vector<kit::ABPerson> people = {
        {"Ann", "Lee", {{kit::kABPersonPhoneMobileLabel, "+1 (555) 010-7788"}}, {{kit::kABHomeLabel, "ann@home.example"}}},
        {"Al", "Zed", {}, {}},
        {std::nullopt, "Alvarez", {}, {}},
        {"Bob", "Lee", {}, {}},
        {"Ann", "Lee", {}, {}},  // the same name twice stays the same
        {"Émile", std::nullopt, {}, {}},
    };
    Redactor redactor;
    auto standIns = redactor.people(people);
    ASSERT_EQ(standIns.size(), people.size());
    auto shown = [](const kit::ABPerson& p) {
        return p.firstName ? *p.firstName + (p.lastName ? " " + *p.lastName : "") : p.lastName.value_or("");
    };
    for (size_t i = 0; i < people.size(); ++i) {
        EXPECT_EQ(shown(standIns[i]).substr(0, 1), shown(people[i]).substr(0, 1)) << shown(people[i]);
        EXPECT_NE(shown(standIns[i]), shown(people[i]));
        for (size_t j = 0; j < people.size(); ++j)
            EXPECT_EQ(shown(people[i]) < shown(people[j]), shown(standIns[i]) < shown(standIns[j])) << i << " " << j;
    }
    EXPECT_EQ(shown(standIns[0]), shown(standIns[4]));
    EXPECT_EQ(standIns[0].phones[0].label, kit::kABPersonPhoneMobileLabel);
    EXPECT_EQ(standIns[5].firstName->substr(0, 2), "\xC3\x89") << "a letter outside ASCII is kept whole";

    // Events are rewritten with the same stand-ins, only where a name stands on its own.
    const std::string ann = shown(standIns[0]), number = standIns[0].phones[0].value;
    const std::pair<std::string, std::string> cases[] = {
        {"Ann Lee", ann},
        {"Ann ,15550107788,ann@home.example,", *standIns[0].firstName + " ," + number + "," + standIns[0].emails[0].value + ","},
        {"+1 (555) 010-7788", number},
        {"Annual Leeway", "Annual Leeway"},
        {"Invited Bob Lee!", "Invited " + shown(standIns[3]) + "!"},
    };
    for (const auto& [text, rewritten] : cases)
        EXPECT_EQ(redactor.rewrite(text), rewritten) << text;
    EXPECT_EQ(redactor.typed("Zed Q"), "xxxxx");
    EXPECT_EQ(redactor.typed("Zoë"), "xxx") << "letters, not bytes";
    EXPECT_EQ(redactor.rewrite(json{{"a", {"Zed Q", 3, true}}, {"b", {{"c", "from Zoë"}}}}),
              (json{{"a", {"xxxxx", 3, true}}, {"b", {{"c", "from xxx"}}}}));
}

TEST(ReplayCheckCompare, FindsTheFirstDifferenceInOrder)
{
    auto ev = [](double t, const char* name, json fields = json::object()) {
        fields["t"] = t;
        fields["ev"] = name;
        return fields;
    };
    const std::vector<json> recorded = {ev(0.1, "decide", {{"url", "u"}, {"allow", true}}), ev(0.2, "window", {{"event", "mapped"}}),
                                        ev(1.0, "state", {{"state", {{"alpha", 0.501}}}}), ev(2.0, "post", {{"body", "b"}, {"framesDrawn", 7}})};
    struct Case {
        std::vector<json> replayed;
        std::optional<size_t> at;
        const char* what;
    };
    const Case cases[] = {
        {{ev(0.15, "decide", {{"url", "u"}, {"allow", true}}), ev(1.1, "state", {{"state", {{"alpha", 0.53}}}}), ev(2.2, "post", {{"body", "b"}})},
         std::nullopt, ""},
        // Times count from each side's first event.
        {{ev(0.0, "decide", {{"url", "u"}, {"allow", true}}), ev(0.9, "state", {{"state", {{"alpha", 0.5}}}}), ev(1.9, "post", {{"body", "b"}})},
         std::nullopt, ""},
        {{ev(0.1, "decide", {{"url", "u"}, {"allow", false}})}, 0, "the field allow"},
        {{ev(0.5, "decide", {{"url", "u"}, {"allow", true}}), ev(2.5, "state", {{"state", {{"alpha", 0.501}}}})}, 1, "the time"},
        {{ev(0.1, "decide", {{"url", "u"}, {"allow", true}}), ev(1.0, "state", {{"state", {{"alpha", 0.7}}}})}, 1, "the field state.alpha"},
        {{ev(0.1, "decide", {{"url", "u"}, {"allow", true}}), ev(1.0, "alert")}, 1, "another event"},
        {{ev(0.1, "decide", {{"url", "u"}, {"allow", true}}), ev(1.0, "state", {{"state", {{"alpha", 0.5}}}})}, 2, "stopped short"},
        {{ev(0.1, "decide", {{"url", "u"}, {"allow", true}}), ev(1.0, "state", {{"state", {{"alpha", 0.5}}}}), ev(2.0, "post", {{"body", "b"}}),
          ev(3.0, "vibrate")},
         3, "did more"},
    };
    for (const auto& c : cases) {
        auto difference = ReplayCheck::compare(ReplayCheck::comparable(recorded), ReplayCheck::comparable(c.replayed));
        ASSERT_EQ(difference.has_value(), c.at.has_value()) << json(c.replayed).dump();
        if (difference) {
            EXPECT_EQ(difference->index, *c.at) << json(c.replayed).dump();
            EXPECT_TRUE(contains(difference->what, c.what)) << difference->what;
        }
    }
}

// The recording's own lines played on the virtual clock: a redirect of the load in flight, a
// frame's load beside the main one, the post's reply given in advance, a text typed redacted.
TEST(RecordLines, RedirectAndFrameLoadsOnTheVirtualClock)
{
    const std::string home = timeline::kBase + "home.php?showHomeBg=true", bank = timeline::kBase + "bank.php",
                      ad = timeline::kBase + "ad.php";
    auto t = timeline::run(timeline::kFirstPageShownIntroOff + "navigate " + home + "\nredirect " + bank + "\nnavigate-frame " + ad +
                               "\nwait 0.5\nfinish\nnavigate " + home + "\nredirect file:///etc/passwd\nredirect " + bank + "\nstate\n",
                           timeline::Intro::Off);
    ASSERT_EQ(t.exitCode, 0) << t.dump();
    auto decided = fieldOf(t, "decide", "url");
    EXPECT_EQ(std::vector<json>(decided.end() - 5, decided.end()), (std::vector<json>{home, bank, ad, home, "file:///etc/passwd"}))
        << t.dump();
    // The frame's load neither started nor cancelled the main one, which ended at the hop.
    auto started = fieldOf(t, "load-start", "url");
    EXPECT_EQ(std::count(started.begin(), started.end(), json(ad)), 0) << t.dump();
    auto finished = fieldOf(t, "load-finish", "url");
    ASSERT_FALSE(finished.empty());
    EXPECT_EQ(finished.back(), bank) << t.dump();
    // A refused hop ends its load as cancelled; with no load in flight a redirect reaches nothing.
    auto failed = fieldOf(t, "load-fail", "code");
    ASSERT_FALSE(failed.empty());
    EXPECT_EQ(failed.back(), -999) << t.dump();
    EXPECT_EQ(fieldOf(t, "ignored", "command"), std::vector<json>{"redirect " + bank}) << t.dump();
}

TEST(RecordLines, RepliesGivenInAdvanceAnswerThePostsAndRedactedTypingTypesLetters)
{
    scenario::TempDir data("street-record"), dir("street-record");
    scenario::writeFile(data.path() + "/defaults.json", R"({"introAnimationEnabled": false})");
    scenario::writeFile(dir.path() + "/contacts.vcf", scenario::kOneContact);
    // Nothing listens at the server: only the replies answer.
    const std::string server = "127.0.0.1:" + std::to_string(scenario::closedLoopbackPort());
    std::string script = scenario::openRecruitScript("http://" + server, "1");
    script.replace(script.find("type Zed"), 8, "type-redacted 4");
    script += "reply 200 \"Sent%To \\\"Ann\\\"\"\ntoolbar Send Invites\npress OK\nreply 0 \"\"\ntoolbar Send Invites\npress OK\n"
              "toolbar Send Invites\nstate\n";
    auto t = timeline::runIn(script, data.path(), {"--server", server, "--contacts", dir.path() + "/contacts.vcf"});
    ASSERT_EQ(t.exitCode, 0) << t.dump();
    ASSERT_EQ(t.count("post"), 3u) << t.dump();
    EXPECT_TRUE(contains(t.first("post")->at("body").get<std::string>(), "name=\"fromName\"\r\n\r\nxxxx\r\n")) << t.dump();
    auto titles = fieldOf(t, "alert", "title"), messages = fieldOf(t, "alert", "message");
    ASSERT_GE(titles.size(), 3u) << t.dump();
    EXPECT_EQ(std::vector<json>(titles.end() - 3, titles.end()), (std::vector<json>{"Sent", "Fail", "Fail"})) << t.dump();
    EXPECT_EQ(messages[messages.size() - 3], "To \"Ann\"");
    // A failed exchange (status 0) and one with no reply left both say the invites could not go.
    EXPECT_EQ(messages[messages.size() - 2], messages.back());
    EXPECT_EQ(t.states().back()["settings"]["nameString"], "xxxx");
}

// A replay of a window's session moves the movie on at the recorded moments only.
TEST(RecordLines, AScriptedMovieWaitsForTheScript)
{
    auto t = timeline::run("wait 5\nmovie preloaded\nwait 7\nstate\nmovie finished\nstate\n", timeline::Intro::On, {"--movie-scripted"});
    ASSERT_EQ(t.exitCode, 0) << t.dump();
    auto movies = t.events("movie");
    ASSERT_EQ(movies.size(), 2u) << t.dump();
    EXPECT_EQ(movies[0]["event"], "prepare");
    EXPECT_EQ(movies[1]["event"], "play");
    EXPECT_DOUBLE_EQ(movies[1]["t"].get<double>(), 5.0);
    auto states = t.states();
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0]["page"]["introSequenceCompleted"], false) << "longer than any movie, still playing";
    EXPECT_NE(states[0], states[1]);
}

// ---- whole sessions ----

const std::string kUdid = "record-test-udid-0001";
const std::string kContacts =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nFN:Ann Lee\r\nTEL;TYPE=CELL:+1 555 0101\r\nEMAIL:ann@lee.example\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Fox;Amy;;;\r\nFN:Amy Fox\r\nTEL:555 0102\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ray;Bob;;;\r\nFN:Bob Ray\r\nTEL:555 0103\r\nEND:VCARD\r\n";

struct Recording {
    Transcript run;
    std::string script, transcript, contacts;  // paths
};

// Plays `input` on the real clock against the server, recording it into `dir`.
Recording record(const std::string& input, const scenario::DemoServer& server, const scenario::TempDir& dir,
                 std::vector<std::string> extra = {})
{
    Recording r;
    r.script = dir.path() + "/session.script";
    r.transcript = dir.path() + "/session.jsonl";
    r.contacts = dir.path() + "/session.vcf";
    scenario::writeFile(dir.path() + "/book.vcf", kContacts);
    std::vector<std::string> args = {"--clock", "real", "--engine", "http", "--server", server.hostPort(), "--movie-seconds", "0.2",
                                     "--udid", kUdid, "--model", "Linux PC", "--system-version", "12", "--contacts",
                                     dir.path() + "/book.vcf", "--record", r.script};
    args.insert(args.end(), extra.begin(), extra.end());
    scenario::ScenarioOptions options;
    options.timeoutSeconds = 60;
    r.run = scenario::runScenario(input, args, options);
    return r;
}

Transcript replayCheck(const std::vector<std::string>& args)
{
    scenario::ScenarioOptions options;
    options.rawCommandLine = true;
    options.timeoutSeconds = 60;
    std::vector<std::string> all = {"replay-check"};
    all.insert(all.end(), args.begin(), args.end());
    return scenario::runScenario("", all, options);
}

std::string session(const scenario::DemoServer& server)
{
    const std::string base = server.baseURL();
    const std::string gone = "http://127.0.0.1:" + std::to_string(scenario::closedLoopbackPort()) + "/missions.php";
    return "wait 3.5\nstate\ntap Cars\nwait 2.5\nstate\ntap Street\nwait 1\n"
           "navigate " + base + "/commands.php?invokeAlertOneBtnTitle=Garage&invokeAlertOneBtnBody=Ready&invokeAlertOneBtnName=Great"
           "&invokeAlertOneBtnJS=document.title%3D%27pressed%27\nwait 1\npress Great\nwait 0.5\n"
           "navigate " + gone + "\nwait 1.5\nstate\npress OK\nwait 0.5\n"
           "navigate " + base + "/commands.php?showABRecruit=true\nwait 1\npress Continue\ntype Zed\npress Done\n"
           "row 0 0\nrow 0 1\nstate\ntoolbar Send Invites\nwait 0.5\nstate\npress OK\nwait 0.5\nstate\n";
}

size_t lineCount(const std::string& text, const std::string& start)
{
    size_t count = 0, at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (text.compare(at, start.size(), start) == 0)
            ++count;
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return count;
}

TEST(RecordReplay, ASessionPlaysAgainFromItsScriptAloneRedactedByDefault)
{
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    scenario::TempDir dir("street-record");
    Recording r = record(session(server), server, dir);
    ASSERT_EQ(r.run.exitCode, 0) << r.run.stderrText << r.run.dump();
    const std::string script = scenario::readFile(r.script), transcript = scenario::readFile(r.transcript),
                      contacts = scenario::readFile(r.contacts);

    // What came from outside is all there: the server's redirect and the ends of loads, the
    // page's loads, the input, the post's reply; the client's own loads are not.
    EXPECT_TRUE(contains(script, "# replay-options: ")) << script;
    EXPECT_TRUE(contains(script, "street-client replay-check session.script session.jsonl")) << script;
    EXPECT_GE(lineCount(script, "redirect \"" + server.baseURL() + "/home.php"), 1u) << script;
    EXPECT_EQ(lineCount(script, "navigate "), 3u) << script;
    EXPECT_EQ(lineCount(script, "navigate \"" + server.baseURL() + "/points.php"), 0u) << script;
    EXPECT_EQ(lineCount(script, "fail -1004 "), 1u) << script;
    EXPECT_GE(lineCount(script, "finish"), 3u) << script;
    EXPECT_EQ(lineCount(script, "reply 200 "), 1u) << script;
    EXPECT_EQ(lineCount(script, "tap "), 2u) << script;
    EXPECT_EQ(lineCount(script, "row 0 "), 2u) << script;
    EXPECT_EQ(lineCount(script, "type-redacted 3"), 1u) << script;
    // The reply goes before the input that sent the post.
    EXPECT_LT(script.find("reply 200 "), script.find("toolbar Send Invites")) << script;

    // Nothing private in any of the three files; the stand-ins keep the first letters.
    for (const std::string* text : {&script, &transcript, &contacts})
        for (const char* secret : {"Zed", "Ann", "Amy", "Lee", "Fox", "555 0101", "555 0102", "15550101", "ann@lee.example"})
            EXPECT_FALSE(contains(*text, secret)) << secret << " in\n" << *text;
    EXPECT_EQ(lineCount(contacts, "N:L"), 1u) << contacts;
    EXPECT_EQ(lineCount(contacts, "N:F"), 1u) << contacts;
    EXPECT_EQ(lineCount(contacts, "N:R"), 1u) << contacts;
    EXPECT_TRUE(contains(transcript, "\"nameString\":\"xxx\"")) << transcript;

    // The replay agrees, event for event.
    Transcript check = replayCheck({r.script, r.transcript});
    EXPECT_EQ(check.exitCode, 0) << check.stdoutText << check.stderrText;
    EXPECT_TRUE(contains(check.stdoutText, "no difference")) << check.stdoutText;

    // A tab's load that now ends after the 2.0 s indicator timer: the indicator shows, and that
    // is the first difference.
    std::string seeded = scenario::readFile(r.script);
    size_t tap = seeded.find("tap Cars\n");
    ASSERT_NE(tap, std::string::npos);
    size_t finish = seeded.find("finish\n", tap);
    ASSERT_LT(finish, seeded.find("state\n", tap)) << seeded;
    seeded.erase(finish, std::string("finish\n").size());
    seeded.insert(seeded.find("state\n", tap) + std::string("state\n").size(), "finish\n");
    scenario::writeFile(r.script, seeded);
    Transcript changed = replayCheck({r.script, r.transcript});
    EXPECT_EQ(changed.exitCode, 1) << changed.stdoutText << changed.stderrText;
    EXPECT_TRUE(contains(changed.stdoutText, "first difference")) << changed.stdoutText;
    EXPECT_TRUE(contains(changed.stdoutText, "recorded: {\"ev\":\"load-finish\""))
        << changed.stdoutText;
    EXPECT_TRUE(contains(changed.stdoutText, "\"animating\":true")) << changed.stdoutText;
}

TEST(RecordReplay, RecordPrivateKeepsTheTexts)
{
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    scenario::TempDir dir("street-record");
    Recording r = record("wait 3.5\nnavigate-frame " + server.baseURL() + "/ad.php\nwait 0.2\nnavigate " + server.baseURL() +
                         "/commands.php?showABRecruit=true\nwait 1\npress Continue\n"
                         "type Zed\npress Done\nrow 0 0\nstate\n",
                         server, dir, {"--record-private"});
    ASSERT_EQ(r.run.exitCode, 0) << r.run.stderrText << r.run.dump();
    const std::string script = scenario::readFile(r.script), transcript = scenario::readFile(r.transcript),
                      contacts = scenario::readFile(r.contacts);
    EXPECT_EQ(lineCount(script, "type \"Zed\""), 1u) << script;
    // A page's load that did not become the main load was a frame's.
    EXPECT_EQ(lineCount(script, "navigate-frame \"" + server.baseURL() + "/ad.php\""), 1u) << script;
    EXPECT_EQ(lineCount(script, "navigate \"" + server.baseURL() + "/commands.php"), 1u) << script;
    EXPECT_TRUE(contains(transcript, "\"nameString\":\"Zed\"")) << transcript;
    EXPECT_TRUE(contains(transcript, "Amy Fox")) << transcript;
    EXPECT_TRUE(contains(contacts, "N:Lee;Ann;;;")) << contacts;
    EXPECT_TRUE(contains(contacts, "+1 555 0101")) << contacts;
    Transcript check = replayCheck({r.script, r.transcript});
    EXPECT_EQ(check.exitCode, 0) << check.stdoutText << check.stderrText;
}

TEST(RecordReplay, BadCommandLinesSaySoWithStatusTwo)
{
    scenario::TempDir dir("street-record");
    scenario::writeFile(dir.path() + "/plain.script", "wait 1\nstate\n");
    scenario::writeFile(dir.path() + "/t.jsonl", "");
    const std::vector<std::vector<std::string>> checks = {
        {}, {dir.path() + "/plain.script"}, {dir.path() + "/plain.script", dir.path() + "/t.jsonl"},
        {dir.path() + "/missing.script", dir.path() + "/t.jsonl"}, {"--tolerance", "x", "a", "b"}, {"--nope", "a", "b"},
    };
    for (const auto& args : checks) {
        Transcript t = replayCheck(args);
        EXPECT_EQ(t.exitCode, 2) << json(args).dump() << t.stdoutText;
        EXPECT_FALSE(t.stderrText.empty()) << json(args).dump();
    }
    scenario::ScenarioOptions raw;
    raw.rawCommandLine = true;
    const std::vector<std::vector<std::string>> runs = {
        {"--headless", "--script", dir.path() + "/plain.script", "--record", dir.path() + "/r.script"},  // the virtual clock
        {"--headless", "--clock", "real", "--record-private"},
        {"--headless", "--clock", "real", "--record", ""},
        {"--headless", "--clock", "real", "--record", dir.path() + "/no/such/dir/r.script"},
    };
    for (const auto& args : runs) {
        Transcript t = scenario::runScenario("", args, raw);
        EXPECT_EQ(t.exitCode, 2) << json(args).dump();
        EXPECT_TRUE(contains(t.stderrText, "record")) << t.stderrText;
    }
}

}  // namespace
