#include "backend/gtk/AddressBookPeer.h"

#include <libebook/libebook.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <tuple>

namespace backend::gtk {

namespace {

// One asynchronous request waited for on a private context. The library answers every request,
// a cancelled one too; should it not (a hung service), the pending state is left behind rather
// than freed under its callback.
struct Pending {
    bool done = false;
    GAsyncResult* result = nullptr;
};

void finished(GObject*, GAsyncResult* result, gpointer data)
{
    auto* pending = static_cast<Pending*>(data);
    pending->result = G_ASYNC_RESULT(g_object_ref(result));
    pending->done = true;
}

class PrivateContext {
public:
    PrivateContext() : context_(g_main_context_new()) { g_main_context_push_thread_default(context_); }
    ~PrivateContext()
    {
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    PrivateContext(const PrivateContext&) = delete;
    PrivateContext& operator=(const PrivateContext&) = delete;

    // Starts a request with `start(cancellable, callback, data)` and waits for its answer for at
    // most `seconds`; a late request is cancelled and then given a moment to wind up.
    template<typename Start>
    GAsyncResult* wait(double seconds, Start start)
    {
        auto* pending = new Pending();
        GCancellable* cancellable = g_cancellable_new();
        start(cancellable, &finished, pending);
        gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(seconds * 1e6);
        gint64 windUp = deadline + 500'000;
        while (!pending->done && g_get_monotonic_time() < windUp) {
            if (g_get_monotonic_time() >= deadline && !g_cancellable_is_cancelled(cancellable))
                g_cancellable_cancel(cancellable);
            iterate(g_get_monotonic_time() < deadline ? deadline : windUp);
        }
        g_object_unref(cancellable);
        if (!pending->done)
            return nullptr; // abandoned to the callback that may still come
        GAsyncResult* result = pending->result;
        delete pending;
        return result;
    }

private:
    // One iteration, waking by `until` at the latest.
    void iterate(gint64 until)
    {
        gint64 left = std::max<gint64>(until - g_get_monotonic_time(), 0);
        GSource* timer = g_timeout_source_new(static_cast<guint>(left / 1000 + 1));
        g_source_set_callback(timer, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(timer, context_);
        g_main_context_iteration(context_, TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
    }

    GMainContext* context_;
};

void report(const char* what, GError* error)
{
    std::fprintf(stderr, "street-client: desktop address book: %s: %s\n", what, error ? error->message : "no answer");
    g_clear_error(&error);
}

} // namespace

std::optional<std::vector<kit::ABPerson>> AddressBookPeer::readAll()
{
    PrivateContext context;
    GError* error = nullptr;

    GAsyncResult* answer = context.wait(answerSeconds, [](GCancellable* cancellable, GAsyncReadyCallback done, gpointer data) {
        e_source_registry_new(cancellable, done, data);
    });
    ESourceRegistry* registry = answer ? e_source_registry_new_finish(answer, &error) : nullptr;
    if (answer)
        g_object_unref(answer);
    if (!registry) {
        report("the contacts service does not answer", error);
        return std::nullopt;
    }

    std::vector<kit::ABPerson> people;
    GList* sources = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_ADDRESS_BOOK);
    bool anyAnswered = sources == nullptr;
    EBookQuery* everyone = e_book_query_any_field_contains("");
    char* query = e_book_query_to_string(everyone);
    e_book_query_unref(everyone);
    for (GList* item = sources; item; item = item->next) {
        ESource* source = E_SOURCE(item->data);
        answer = context.wait(connectSeconds, [source](GCancellable* cancellable, GAsyncReadyCallback done, gpointer data) {
            e_book_client_connect(source, 1, cancellable, done, data);
        });
        EClient* client = answer ? e_book_client_connect_finish(answer, &error) : nullptr;
        if (answer)
            g_object_unref(answer);
        if (!client) {
            report(e_source_get_display_name(source), error);
            continue;
        }
        anyAnswered = true;
        answer = context.wait(readSeconds, [client, query](GCancellable* cancellable, GAsyncReadyCallback done, gpointer data) {
            e_book_client_get_contacts(E_BOOK_CLIENT(client), query, cancellable, done, data);
        });
        GSList* contacts = nullptr;
        bool read = answer && e_book_client_get_contacts_finish(E_BOOK_CLIENT(client), answer, &contacts, &error);
        if (answer)
            g_object_unref(answer);
        if (!read) {
            report(e_source_get_display_name(source), error);
        } else {
            // Each contact as the vCard it is: the file reader maps it, so both sources agree.
            std::string text;
            for (GSList* c = contacts; c; c = c->next) {
                char* card = e_vcard_to_string(E_VCARD(c->data), EVC_FORMAT_VCARD_30);
                text += card;
                text += "\r\n";
                g_free(card);
            }
            auto book = kit::AddressBook::parse(text);
            people.insert(people.end(), std::make_move_iterator(book.begin()), std::make_move_iterator(book.end()));
        }
        g_slist_free_full(contacts, g_object_unref);
        g_object_unref(client);
    }
    g_free(query);
    g_list_free_full(sources, g_object_unref);
    g_object_unref(registry);
    if (!anyAnswered)
        return std::nullopt;
    return people;
}

} // namespace backend::gtk
