#include "Multipart.h"

#include <algorithm>
#include <cctype>

namespace demo {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool consume(std::string_view& text, std::string_view prefix)
{
    if (text.substr(0, prefix.size()) != prefix)
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

} // namespace

std::optional<std::string> multipartBoundary(std::string_view contentType)
{
    auto semicolon = contentType.find(';');
    if (semicolon == std::string_view::npos)
        return std::nullopt;
    if (!equalsIgnoringCase(trimmed(contentType.substr(0, semicolon)), "multipart/form-data"))
        return std::nullopt;
    std::string_view parameter = trimmed(contentType.substr(semicolon + 1));
    auto eq = parameter.find('=');
    if (eq == std::string_view::npos || !equalsIgnoringCase(parameter.substr(0, eq), "boundary"))
        return std::nullopt;
    std::string_view boundary = parameter.substr(eq + 1);
    if (boundary.size() >= 2 && boundary.front() == '"' && boundary.back() == '"')
        boundary = boundary.substr(1, boundary.size() - 2);
    // RFC 2046: 1 to 70 characters; a quote, semicolon or space left here means a second parameter or junk.
    if (boundary.empty() || boundary.size() > 70)
        return std::nullopt;
    if (boundary.find_first_of("\"; \t\r\n") != std::string_view::npos)
        return std::nullopt;
    return std::string(boundary);
}

FormData parseFormData(std::string_view contentType, std::string_view body)
{
    FormData form;
    auto boundary = multipartBoundary(contentType);
    if (!boundary) {
        form.error = "not multipart/form-data with a boundary";
        return form;
    }
    const std::string delimiter = "--" + *boundary;
    const std::string nextDelimiter = "\r\n" + delimiter;

    std::string_view rest = body;
    if (!consume(rest, delimiter)) {
        form.error = "body does not start with the boundary";
        return form;
    }
    for (;;) {
        if (consume(rest, "--\r\n")) {
            if (!rest.empty())
                form.error = "data after the closing boundary";
            return form;
        }
        if (!consume(rest, "\r\n")) {
            form.error = "boundary line not followed by CR LF";
            return form;
        }
        if (!consume(rest, "Content-Disposition: form-data; name=\"")) {
            form.error = "part without the expected Content-Disposition line";
            return form;
        }
        auto quote = rest.find('"');
        if (quote == std::string_view::npos || quote == 0) {
            form.error = "part without a field name";
            return form;
        }
        std::string name(rest.substr(0, quote));
        rest.remove_prefix(quote + 1);
        if (!consume(rest, "\r\n\r\n")) {
            form.error = "part header not ended by an empty line";
            return form;
        }
        auto end = rest.find(nextDelimiter);
        if (end == std::string_view::npos) {
            form.error = "part not followed by a boundary";
            return form;
        }
        form.fields.push_back({ std::move(name), std::string(rest.substr(0, end)) });
        rest.remove_prefix(end + nextDelimiter.size());
    }
}

std::optional<size_t> countInvitations(std::string_view data)
{
    if (!data.empty() && data.back() != ',')
        return std::nullopt;
    auto commas = static_cast<size_t>(std::count(data.begin(), data.end(), ','));
    if (commas % 3 != 0)
        return std::nullopt;
    return commas / 3;
}

InviteParse parseInvite(std::string_view contentType, std::string_view body)
{
    InviteParse result;
    FormData form = parseFormData(contentType, body);
    if (!form.ok()) {
        result.error = form.error;
        return result;
    }
    static constexpr std::string_view kNames[] = { "fromUdid", "data", "fromName" };
    const std::string* values[3] = {};
    for (const FormField& field : form.fields) {
        auto known = std::find(std::begin(kNames), std::end(kNames), field.name);
        if (known == std::end(kNames)) {
            result.error = "unexpected field " + field.name;
            return result;
        }
        auto index = static_cast<size_t>(known - std::begin(kNames));
        if (values[index]) {
            result.error = "field " + field.name + " given twice";
            return result;
        }
        values[index] = &field.value;
    }
    for (size_t i = 0; i < 3; ++i) {
        if (!values[i]) {
            result.error = "field " + std::string(kNames[i]) + " missing";
            return result;
        }
    }
    auto count = countInvitations(*values[1]);
    if (!count) {
        result.error = "data is not a list of name,number,email, records";
        return result;
    }
    result.invite = Invite { *values[0], *values[2], *count };
    return result;
}

} // namespace demo
