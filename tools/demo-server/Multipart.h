#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace demo {

// A strict reader of the invite post. It accepts exactly what the client writes
// (no preamble, no per-part headers beyond Content-Disposition, no epilogue) so
// that a client bug shows up as a refused post instead of being papered over.

struct FormField {
    std::string name;
    std::string value;
};

struct FormData {
    std::vector<FormField> fields; // in body order
    std::string error;             // empty when the body was accepted
    bool ok() const { return error.empty(); }
};

// The boundary of a "multipart/form-data; boundary=B" header; nothing for any other header.
std::optional<std::string> multipartBoundary(std::string_view contentType);

FormData parseFormData(std::string_view contentType, std::string_view body);

// Number of contacts in a "data" value: "name,number,email," repeated, every field
// followed by a comma. Nothing when the value does not have that shape.
std::optional<size_t> countInvitations(std::string_view data);

struct Invite {
    std::string fromUdid;
    std::string fromName;
    size_t invitations = 0;
};

struct InviteParse {
    std::optional<Invite> invite;
    std::string error;
};

// The three fields fromUdid, data and fromName, each exactly once, in any order.
InviteParse parseInvite(std::string_view contentType, std::string_view body);

} // namespace demo
