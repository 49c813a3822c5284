#include "tools/PageLinks.h"

#include "kit/Hex.h"
#include "kit/Text.h"
#include "kit/URL.h"

#include <gumbo.h>

#include <cctype>
#include <cstring>

namespace street::tools {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool isIdentifier(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }

std::string_view trim(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

std::string escapeForURL(std::string_view text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c <= ' ' || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

// A JavaScript string literal starting at `i` (after blanks), when nothing but a statement's end
// follows it; none for anything built at run time.
std::optional<std::string> literalAt(std::string_view js, size_t i)
{
    while (i < js.size() && isBlank(js[i]))
        ++i;
    if (i >= js.size() || (js[i] != '\'' && js[i] != '"' && js[i] != '`'))
        return std::nullopt;
    char quote = js[i++];
    std::string out;
    for (; i < js.size() && js[i] != quote; ++i) {
        char c = js[i];
        if (c == '\n' && quote != '`')
            return std::nullopt;
        if (quote == '`' && c == '$' && i + 1 < js.size() && js[i + 1] == '{')
            return std::nullopt;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= js.size())
            return std::nullopt;
        switch (char e = js[i]) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'x':
        case 'u': {
            size_t digits = e == 'x' ? 2 : 4;
            if (i + digits >= js.size())
                return std::nullopt;
            unsigned value = 0;
            for (size_t k = 1; k <= digits; ++k) {
                int digit = kit::hexDigitValue(js[i + k]);
                if (digit < 0)
                    return std::nullopt;
                value = value * 16 + static_cast<unsigned>(digit);
            }
            // Only what stays one byte; a URL with anything else is escaped later anyway.
            if (value >= 0x80)
                return std::nullopt;
            out += static_cast<char>(value);
            i += digits;
            break;
        }
        default:
            out += e;
        }
    }
    if (i >= js.size())
        return std::nullopt;
    for (++i; i < js.size() && (js[i] == ' ' || js[i] == '\t'); ++i) {
    }
    if (i < js.size() && !std::strchr(";,)}\r\n", js[i]))
        return std::nullopt;
    return out;
}

size_t skipBlanks(std::string_view js, size_t i)
{
    while (i < js.size() && isBlank(js[i]))
        ++i;
    return i;
}

std::string textOf(const GumboNode* node)
{
    std::string text;
    const GumboVector& children = node->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
        auto* child = static_cast<const GumboNode*>(children.data[i]);
        if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE || child->type == GUMBO_NODE_CDATA)
            text += child->v.text.text;
    }
    return text;
}

const char* attribute(const GumboNode* node, const char* name)
{
    const GumboAttribute* a = gumbo_get_attribute(&node->v.element.attributes, name);
    return a ? a->value : nullptr;
}

// Elements below `root` (itself included) in document order, without recursion: pages nest deep.
template <class Visit>
void walk(const GumboNode* root, Visit visit)
{
    std::vector<const GumboNode*> stack{root};
    while (!stack.empty()) {
        const GumboNode* node = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;
        visit(node);
        const GumboVector& children = node->v.element.children;
        for (unsigned i = children.length; i > 0; --i)
            stack.push_back(static_cast<const GumboNode*>(children.data[i - 1]));
    }
}

// The fields of a form as a GET sends them (successful controls only).
std::string formQuery(const GumboNode* form)
{
    std::string query;
    auto add = [&](const char* name, std::string_view value) {
        if (!query.empty())
            query += '&';
        query += PageLinks::formEncode(name);
        query += '=';
        query += PageLinks::formEncode(value);
    };
    walk(form, [&](const GumboNode* node) {
        const char* name = attribute(node, "name");
        if (!name || !*name || attribute(node, "disabled"))
            return;
        switch (node->v.element.tag) {
        case GUMBO_TAG_INPUT: {
            std::string type = kit::Text::asciiLowercase(attribute(node, "type") ? attribute(node, "type") : "text");
            if (type == "submit" || type == "button" || type == "reset" || type == "image" || type == "file")
                return;
            const char* value = attribute(node, "value");
            if (type == "checkbox" || type == "radio") {
                if (attribute(node, "checked"))
                    add(name, value ? value : "on");
                return;
            }
            add(name, value ? value : "");
            return;
        }
        case GUMBO_TAG_TEXTAREA:
            add(name, textOf(node));
            return;
        case GUMBO_TAG_SELECT: {
            std::vector<std::string> chosen;
            std::optional<std::string> first;
            walk(node, [&](const GumboNode* option) {
                if (option->v.element.tag != GUMBO_TAG_OPTION || attribute(option, "disabled"))
                    return;
                const char* value = attribute(option, "value");
                std::string text = value ? value : std::string(trim(textOf(option)));
                if (!first)
                    first = text;
                if (attribute(option, "selected"))
                    chosen.push_back(text);
            });
            if (chosen.empty() && first && !attribute(node, "multiple"))
                chosen.push_back(*first);
            for (const auto& value : chosen)
                add(name, value);
            return;
        }
        default:
            return;
        }
    });
    return query;
}

// The address a meta refresh names: "5; url=/next.php", quotes allowed.
std::optional<std::string> refreshTarget(std::string_view content)
{
    size_t separator = content.find_first_of(";,");
    if (separator == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = trim(content.substr(separator + 1));
    if (kit::Text::startsWithIgnoringASCIICase(rest, "url")) {
        std::string_view afterWord = trim(rest.substr(3));
        if (afterWord.starts_with('='))
            rest = trim(afterWord.substr(1));
    }
    if (!rest.empty() && (rest.front() == '\'' || rest.front() == '"')) {
        size_t end = rest.find(rest.front(), 1);
        rest = rest.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1);
    }
    if (rest.empty())
        return std::nullopt;
    return std::string(rest);
}

} // namespace

std::string PageLinks::formEncode(std::string_view text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || c == '*' || c == '-' || c == '.' || c == '_') {
            out += ch;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}

std::string PageLinks::resolve(std::string_view base, std::string_view reference)
{
    // Browsers drop tabs and line breaks inside a link and blanks around it.
    std::string ref;
    for (char c : trim(reference))
        if (c != '\t' && c != '\n' && c != '\r')
            ref += c;
    ref = escapeForURL(ref);
    // A reference libcurl cannot read ("mailto:", "javascript:", a base that is no URL) stands as written.
    return kit::URL::resolve(escapeForURL(base), ref).value_or(ref);
}

std::vector<std::string> PageLinks::fromScript(std::string_view js)
{
    std::vector<std::string> found;
    auto keep = [&](std::optional<std::string> literal) {
        if (literal)
            found.push_back(std::move(*literal));
    };
    for (size_t at = js.find("location"); at != std::string_view::npos; at = js.find("location", at + 1)) {
        size_t end = at + 8;
        if ((at > 0 && isIdentifier(js[at - 1])) || (end < js.size() && isIdentifier(js[end])))
            continue;
        size_t i = skipBlanks(js, end);
        if (i < js.size() && js[i] == '.') {
            i = skipBlanks(js, i + 1);
            size_t wordEnd = i;
            while (wordEnd < js.size() && isIdentifier(js[wordEnd]))
                ++wordEnd;
            std::string_view word = js.substr(i, wordEnd - i);
            i = skipBlanks(js, wordEnd);
            if (word == "href" && i + 1 < js.size() && js[i] == '=' && js[i + 1] != '=')
                keep(literalAt(js, i + 1));
            else if ((word == "assign" || word == "replace") && i < js.size() && js[i] == '(')
                keep(literalAt(js, i + 1));
        } else if (i + 1 < js.size() && js[i] == '=' && js[i + 1] != '=') {
            keep(literalAt(js, i + 1));
        }
    }
    for (size_t at = js.find("window.open"); at != std::string_view::npos; at = js.find("window.open", at + 1)) {
        size_t end = at + 11;
        if ((at > 0 && isIdentifier(js[at - 1])) || (end < js.size() && isIdentifier(js[end])))
            continue;
        size_t i = skipBlanks(js, end);
        if (i < js.size() && js[i] == '(')
            keep(literalAt(js, i + 1));
    }
    return found;
}

std::vector<PageLinks::Link> PageLinks::find(std::string_view html, const std::string& address)
{
    struct Found {
        std::string source;
        int line;
        std::string reference;
        std::optional<std::string> formQuery;  // a GET form: the fields that replace the query
    };
    std::vector<Found> found;
    std::optional<std::string> baseHref;

    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
    walk(output->root, [&](const GumboNode* node) {
        const GumboElement& element = node->v.element;
        int line = static_cast<int>(element.start_pos.line);
        auto add = [&](std::string source, std::string reference, std::optional<std::string> query = std::nullopt) {
            found.push_back({std::move(source), line, std::move(reference), std::move(query)});
        };
        auto addScript = [&](const std::string& source, std::string_view script) {
            for (auto& url : fromScript(script))
                add(source, std::move(url));
        };

        // Script in event attributes.
        for (unsigned i = 0; i < element.attributes.length; ++i) {
            auto* a = static_cast<const GumboAttribute*>(element.attributes.data[i]);
            if (kit::Text::startsWithIgnoringASCIICase(a->name, "on"))
                addScript(a->name, a->value);
        }
        switch (element.tag) {
        case GUMBO_TAG_BASE:
            if (!baseHref && attribute(node, "href"))
                baseHref = attribute(node, "href");
            break;
        case GUMBO_TAG_A:
        case GUMBO_TAG_AREA:
            if (const char* href = attribute(node, "href")) {
                std::string_view target = trim(href);
                if (kit::Text::startsWithIgnoringASCIICase(target, "javascript:"))
                    addScript("javascript: link", target.substr(11));
                else
                    add(element.tag == GUMBO_TAG_A ? "a" : "area", href);
            }
            break;
        case GUMBO_TAG_FORM: {
            const char* method = attribute(node, "method");
            bool post = method && kit::Text::startsWithIgnoringASCIICase(trim(method), "post");
            const char* action = attribute(node, "action");
            if (post)
                add("form (post)", action ? action : "");
            else
                add("form (get)", action ? action : "", formQuery(node));
            break;
        }
        case GUMBO_TAG_META: {
            const char* equiv = attribute(node, "http-equiv");
            const char* content = attribute(node, "content");
            if (equiv && content && kit::Text::startsWithIgnoringASCIICase(trim(equiv), "refresh") && trim(equiv).size() == 7)
                if (auto target = refreshTarget(content))
                    add("meta refresh", *target);
            break;
        }
        case GUMBO_TAG_IFRAME:
        case GUMBO_TAG_FRAME:
            if (const char* src = attribute(node, "src"))
                add(element.tag == GUMBO_TAG_IFRAME ? "iframe" : "frame", src);
            break;
        case GUMBO_TAG_SCRIPT:
            if (!attribute(node, "src"))
                addScript("script", textOf(node));
            break;
        default:
            break;
        }
    });
    gumbo_destroy_output(&kGumboDefaultOptions, output);

    std::string base = baseHref ? resolve(address, *baseHref) : address;
    std::vector<Link> links;
    links.reserve(found.size());
    for (Found& f : found) {
        std::string url = resolve(base, f.reference);
        if (f.formQuery) {
            // A GET form replaces the action's query with its fields and keeps its fragment.
            size_t hash = url.find('#');
            std::string fragment = hash == std::string::npos ? "" : url.substr(hash);
            url = url.substr(0, std::min(url.find('?'), hash)) + "?" + *f.formQuery + fragment;
        }
        links.push_back({std::move(f.source), f.line, std::move(url)});
    }
    return links;
}

} // namespace street::tools
