#include "kit/VCard.h"
#include "kit/Hex.h"
#include "kit/Text.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <unordered_map>

namespace kit {

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string_view unquoted(std::string_view text)
{
    text = trimmed(text);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    return text;
}

// The part of a line before its value, or all of it when there is no ':'.
std::string_view headerOf(std::string_view line)
{
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return line.substr(0, i);
    }
    return line;
}

// Turns physical lines into logical ones: a line that starts with a blank or a tab continues the
// previous one, and so does the line after a quoted-printable line that ends in a soft break "=".
// Unfolded lines are built in one buffer, so a file costs time in proportion to its size.
class LineReader {
public:
    explicit LineReader(std::string_view text)
        : text_(text)
    {
    }

    // The view lasts until the next call.
    std::optional<std::string_view> next()
    {
        if (pos_ >= text_.size())
            return std::nullopt;
        std::string_view line = physical();
        bool joined = false;
        // Whether the line is quoted-printable is known once its ':' is seen; the header is
        // scanned only once however many pieces the line has.
        size_t scanned = 0;
        bool quoted = false;
        bool headerSeen = false;
        bool quotedPrintable = false;
        auto isQuotedPrintable = [&] {
            for (; !headerSeen && scanned < line.size(); ++scanned) {
                if (line[scanned] == '"') {
                    quoted = !quoted;
                } else if (line[scanned] == ':' && !quoted) {
                    headerSeen = true;
                    quotedPrintable = Text::containsIgnoringASCIICase(line.substr(0, scanned), "QUOTED-PRINTABLE");
                }
            }
            return quotedPrintable;
        };
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            bool blankFold = c == ' ' || c == '\t';
            bool softBreak = !blankFold && !line.empty() && line.back() == '=' && isQuotedPrintable()
                && !startsRecordBoundary();
            if (!blankFold && !softBreak)
                break;
            std::string_view more = physical();
            if (!joined) {
                joined_.assign(line);
                joined = true;
            }
            if (blankFold)
                more.remove_prefix(1);
            else
                joined_.pop_back();
            joined_.append(more);
            line = joined_;
        }
        return line;
    }

private:
    // Some writers end the last quoted-printable line with a stray "="; joining END:VCARD to it
    // would lose the whole record.
    bool startsRecordBoundary() const
    {
        std::string_view rest = text_.substr(pos_);
        return Text::startsWithIgnoringASCIICase(rest, "END:VCARD") || Text::startsWithIgnoringASCIICase(rest, "BEGIN:VCARD");
    }

    // CRLF, LF and a lone CR all end a line.
    std::string_view physical()
    {
        // Two memchr calls beat find_first_of, which tests the set byte by byte.
        const char* begin = text_.data() + pos_;
        size_t left = text_.size() - pos_;
        const void* lf = std::memchr(begin, '\n', left);
        size_t span = lf ? static_cast<size_t>(static_cast<const char*>(lf) - begin) : left;
        const void* cr = std::memchr(begin, '\r', span);
        size_t end = pos_ + (cr ? static_cast<size_t>(static_cast<const char*>(cr) - begin) : span);
        std::string_view line = text_.substr(pos_, end - pos_);
        pos_ = end;
        if (pos_ < text_.size() && text_[pos_++] == '\r' && pos_ < text_.size() && text_[pos_] == '\n')
            ++pos_;
        return line;
    }

    std::string_view text_;
    size_t pos_ = 0;
    std::string joined_;
};

struct ContentLine {
    std::string_view group;
    std::string_view name;
    std::string_view params; // everything between the name and the ':' (without the first ';')
    std::string_view value;
};

bool isNameChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// "[group.]name[;params]:value"; none when the line is not a property at all.
std::optional<ContentLine> splitContentLine(std::string_view line)
{
    size_t i = 0;
    size_t lastDot = std::string_view::npos;
    while (i < line.size() && (isNameChar(line[i]) || line[i] == '.')) {
        if (line[i] == '.')
            lastDot = i;
        ++i;
    }
    if (i == line.size() || (line[i] != ';' && line[i] != ':'))
        return std::nullopt;
    ContentLine out;
    std::string_view token = line.substr(0, i);
    if (lastDot != std::string_view::npos) {
        out.group = token.substr(0, lastDot);
        out.name = token.substr(lastDot + 1);
    } else {
        out.name = token;
    }
    if (out.name.empty())
        return std::nullopt;
    if (line[i] == ';') {
        std::string_view rest = line.substr(i + 1);
        std::string_view header = headerOf(rest);
        if (header.size() == rest.size())
            return std::nullopt;
        out.params = header;
        out.value = rest.substr(header.size() + 1);
    } else {
        out.value = line.substr(i + 1);
    }
    return out;
}

enum class Property { Begin, End, N, Tel, Email, Label, Other };

// Looked up once per line: most lines (FN, ORG, NOTE, PHOTO...) are of no interest.
Property propertyOf(std::string_view name)
{
    switch (name.size()) {
    case 1:
        return Text::equalsIgnoringASCIICase(name, "N") ? Property::N : Property::Other;
    case 3:
        if (Text::equalsIgnoringASCIICase(name, "TEL"))
            return Property::Tel;
        return Text::equalsIgnoringASCIICase(name, "END") ? Property::End : Property::Other;
    case 5:
        if (Text::equalsIgnoringASCIICase(name, "EMAIL"))
            return Property::Email;
        return Text::equalsIgnoringASCIICase(name, "BEGIN") ? Property::Begin : Property::Other;
    case 9:
        return Text::equalsIgnoringASCIICase(name, "X-ABLabel") ? Property::Label : Property::Other;
    default:
        return Property::Other;
    }
}

enum class Charset { Utf8, Latin1, Other };

struct Params {
    bool quotedPrintable = false;
    bool uri = false;
    Charset charset = Charset::Utf8;
    bool cell = false;
    bool home = false;
    bool work = false;

    void addType(std::string_view type)
    {
        type = unquoted(type);
        if (Text::equalsIgnoringASCIICase(type, "cell") || Text::equalsIgnoringASCIICase(type, "mobile"))
            cell = true;
        else if (Text::equalsIgnoringASCIICase(type, "home"))
            home = true;
        else if (Text::equalsIgnoringASCIICase(type, "work"))
            work = true;
    }
};

// Splits at `separator` outside double quotes.
template<typename F>
void forEachPiece(std::string_view text, char separator, F&& f)
{
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] == '"') {
            quoted = !quoted;
        } else if (i == text.size() || (text[i] == separator && !quoted)) {
            f(text.substr(start, i - start));
            start = i + 1;
        }
    }
}

Params parseParams(std::string_view text)
{
    Params p;
    if (text.empty())
        return p;
    forEachPiece(text, ';', [&p](std::string_view param) {
        size_t eq = param.find('=');
        if (eq == std::string_view::npos) {
            // vCard 2.1 writes bare values: "TEL;CELL;VOICE:", "N;QUOTED-PRINTABLE:".
            if (Text::equalsIgnoringASCIICase(trimmed(param), "QUOTED-PRINTABLE"))
                p.quotedPrintable = true;
            else
                p.addType(param);
            return;
        }
        std::string_view name = trimmed(param.substr(0, eq));
        std::string_view value = param.substr(eq + 1);
        if (Text::equalsIgnoringASCIICase(name, "TYPE")) {
            forEachPiece(unquoted(value), ',', [&p](std::string_view type) { p.addType(type); });
        } else if (Text::equalsIgnoringASCIICase(name, "ENCODING")) {
            p.quotedPrintable = Text::equalsIgnoringASCIICase(unquoted(value), "QUOTED-PRINTABLE");
        } else if (Text::equalsIgnoringASCIICase(name, "VALUE")) {
            p.uri = Text::equalsIgnoringASCIICase(unquoted(value), "uri");
        } else if (Text::equalsIgnoringASCIICase(name, "CHARSET")) {
            std::string_view cs = unquoted(value);
            if (Text::equalsIgnoringASCIICase(cs, "UTF-8") || Text::equalsIgnoringASCIICase(cs, "UTF8"))
                p.charset = Charset::Utf8;
            else if (Text::equalsIgnoringASCIICase(cs, "ISO-8859-1") || Text::equalsIgnoringASCIICase(cs, "ISO8859-1") || Text::equalsIgnoringASCIICase(cs, "ISO_8859-1")
                || Text::equalsIgnoringASCIICase(cs, "LATIN1") || Text::equalsIgnoringASCIICase(cs, "LATIN-1") || Text::equalsIgnoringASCIICase(cs, "L1"))
                p.charset = Charset::Latin1;
            else
                p.charset = Charset::Other;
        }
    });
    return p;
}

// The text of a value in UTF-8, or none when its bytes cannot be trusted.
std::optional<std::string> decodeValue(std::string_view raw, const Params& p)
{
    std::string text;
    if (p.quotedPrintable)
        text = VCard::decodeQuotedPrintable(raw);
    else
        text.assign(raw);
    if (text.find('\\') != std::string::npos)
        text = VCard::unescapeText(text);
    if (p.charset == Charset::Latin1)
        return VCard::latin1ToUtf8(text);
    // Text in another charset is kept when it happens to be UTF-8 (plain ASCII mostly).
    if (!Text::isValidUTF8(text))
        return std::nullopt;
    return text;
}

// One record between BEGIN:VCARD and END:VCARD.
class RecordBuilder {
public:
    void reset()
    {
        person_ = ABPerson {};
        haveName_ = false;
        broken_ = false;
        grouped_.clear();
        groupLabels_.clear();
    }

    void markBroken() { broken_ = true; }
    bool broken() const { return broken_; }

    void add(Property property, const ContentLine& line)
    {
        if (property == Property::N) {
            if (!haveName_)
                readName(line);
        } else if (property == Property::Tel) {
            addValue(line, true);
        } else if (property == Property::Email) {
            addValue(line, false);
        } else if (property == Property::Label && !line.group.empty()) {
            std::optional<std::string> label = decodeValue(line.value, parseParams(line.params));
            if (label && !label->empty())
                groupLabels_.try_emplace(Text::asciiLowercase(line.group), std::move(*label));
        }
    }

    // The finished person; a label given to a group applies whether it came before or after.
    ABPerson finish()
    {
        for (const Grouped& g : grouped_) {
            auto it = groupLabels_.find(g.group);
            if (it == groupLabels_.end())
                continue;
            auto& entries = g.phone ? person_.phones : person_.emails;
            entries[g.index].label = it->second;
        }
        return std::move(person_);
    }

private:
    struct Grouped {
        bool phone;
        size_t index;
        std::string group;
    };

    void readName(const ContentLine& line)
    {
        haveName_ = true;
        Params params = parseParams(line.params);
        std::vector<std::string_view> parts = VCard::splitComponents(line.value);
        auto component = [&](size_t index, std::optional<std::string>& into) {
            if (index >= parts.size() || parts[index].empty())
                return;
            std::optional<std::string> text = decodeValue(parts[index], params);
            if (!text) {
                // A name we cannot read would show as garbage, so the person is left out.
                broken_ = true;
                return;
            }
            if (!text->empty())
                into = std::move(*text);
        };
        component(0, person_.lastName);
        component(1, person_.firstName);
    }

    void addValue(const ContentLine& line, bool phone)
    {
        Params params = parseParams(line.params);
        std::optional<std::string> value = decodeValue(line.value, params);
        if (!value)
            return;
        // vCard 4.0 gives numbers as URIs ("VALUE=uri:tel:+1-555-0100"); the number is what counts.
        if (phone && Text::startsWithIgnoringASCIICase(*value, "tel:"))
            value->erase(0, 4);
        if (value->empty())
            return;
        const char* label = kABOtherLabel;
        if (phone && params.cell)
            label = kABPersonPhoneMobileLabel;
        else if (params.home)
            label = kABHomeLabel;
        else if (params.work)
            label = kABWorkLabel;
        auto& entries = phone ? person_.phones : person_.emails;
        if (!line.group.empty())
            grouped_.push_back(Grouped { phone, entries.size(), Text::asciiLowercase(line.group) });
        entries.push_back(ABMultiValueEntry { label, std::move(*value) });
    }

    ABPerson person_;
    bool haveName_ = false;
    bool broken_ = false;
    std::vector<Grouped> grouped_;
    std::unordered_map<std::string, std::string> groupLabels_;
};

} // namespace

std::vector<ABPerson> VCard::parse(std::string_view text, std::string* diagnostic)
{
    if (diagnostic)
        diagnostic->clear();
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);

    std::vector<ABPerson> people;
    RecordBuilder record;
    bool inside = false;
    bool sawBegin = false;
    bool sawText = false;
    LineReader reader(text);
    while (std::optional<std::string_view> physicalLine = reader.next()) {
        std::string_view line = *physicalLine;
        if (trimmed(line).empty())
            continue;
        sawText = true;
        std::optional<ContentLine> content = splitContentLine(line);
        if (!content) {
            if (inside)
                record.markBroken();
            continue;
        }
        const Property property = propertyOf(content->name);
        if (property == Property::Begin) {
            if (Text::equalsIgnoringASCIICase(trimmed(content->value), "VCARD")) {
                // A record still open here never ended: drop it and start over with this one.
                sawBegin = true;
                inside = true;
                record.reset();
            } else if (inside) {
                record.markBroken();
            }
            continue;
        }
        if (!inside)
            continue;
        if (property == Property::End) {
            if (!Text::equalsIgnoringASCIICase(trimmed(content->value), "VCARD")) {
                record.markBroken();
                continue;
            }
            if (!record.broken())
                people.push_back(record.finish());
            inside = false;
            continue;
        }
        if (property != Property::Other)
            record.add(property, *content);
    }

    if (!sawBegin && sawText && diagnostic)
        *diagnostic = "not a vCard file (no BEGIN:VCARD line)";
    return people;
}

std::string VCard::latin1ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char ch : bytes) {
        auto b = static_cast<uint8_t>(ch);
        if (b < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

std::string VCard::decodeQuotedPrintable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=' && i + 2 < text.size() && kit::hexDigitValue(text[i + 1]) >= 0 && kit::hexDigitValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(kit::hexDigitValue(text[i + 1]) * 16 + kit::hexDigitValue(text[i + 2])));
            i += 2;
        } else if (text[i] == '=' && i + 1 == text.size()) {
            // A soft break with nothing after it.
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string VCard::unescapeText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        char next = text[i + 1];
        switch (next) {
        case ',':
        case ';':
        case ':':
        case '\\':
            out.push_back(next);
            ++i;
            break;
        case 'n':
        case 'N':
            out.push_back('\n');
            ++i;
            break;
        default:
            out.push_back('\\');
            break;
        }
    }
    return out;
}

std::vector<std::string_view> VCard::splitComponents(std::string_view value)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\') {
            ++i;
        } else if (value[i] == ';') {
            parts.push_back(value.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(value.substr(start));
    return parts;
}

} // namespace kit
