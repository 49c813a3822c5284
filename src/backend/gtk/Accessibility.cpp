#include "backend/gtk/Accessibility.h"

#include <gtk/gtk-a11y.h>

#include <cstdint>
#include <cstring>
#include <utility>

namespace backend::gtk::accessibility {

namespace {

constexpr const char* extraKey = "street-accessibility";

std::uint64_t bit(int state) { return state >= 0 && state < 64 ? std::uint64_t{1} << state : 0; }

// What a widget's accessible object adds to GTK's account of it.
struct Extra {
    std::uint64_t on = 0;
    AtkRole itemRole = ATK_ROLE_LIST_ITEM;
    std::function<std::vector<Item>()> items;
    std::vector<AtkObject*> objects;  // ours, one per item
    ~Extra()
    {
        for (AtkObject* object : objects)
            g_object_unref(object);
    }
};

Extra& extraOf(GtkWidget* widget)
{
    auto* extra = static_cast<Extra*>(g_object_get_data(G_OBJECT(widget), extraKey));
    if (!extra) {
        extra = new Extra;
        g_object_set_data_full(G_OBJECT(widget), extraKey, extra, [](gpointer data) { delete static_cast<Extra*>(data); });
    }
    return *extra;
}

Extra* extraOf(AtkObject* accessible)
{
    GtkWidget* widget = gtk_accessible_get_widget(GTK_ACCESSIBLE(accessible));
    return widget ? static_cast<Extra*>(g_object_get_data(G_OBJECT(widget), extraKey)) : nullptr;
}

AtkStateSet* adjusted(AtkObject* accessible, AtkStateSet* set)
{
    if (Extra* extra = extraOf(accessible)) {
        for (int state = 0; state < ATK_STATE_LAST_DEFINED && state < 64; ++state) {
            if (extra->on & bit(state))
                atk_state_set_add_state(set, static_cast<AtkStateType>(state));
        }
    }
    return set;
}

} // namespace

} // namespace backend::gtk::accessibility

// GObject types, in C's manner: the accessible objects that consult the peers' additions, the
// widgets that make them, and the objects of drawn items.
extern "C" {

struct StreetItem {
    AtkObject parent;
    guint64 states;
    gint index;
};
struct StreetItemClass {
    AtkObjectClass parent_class;
};
G_DEFINE_TYPE(StreetItem, street_item, ATK_TYPE_OBJECT)

static AtkStateSet* street_item_ref_state_set(AtkObject* object)
{
    AtkStateSet* set = atk_state_set_new();
    auto* item = reinterpret_cast<StreetItem*>(object);
    for (int state = 0; state < ATK_STATE_LAST_DEFINED && state < 64; ++state)
        if (item->states & backend::gtk::accessibility::bit(state))
            atk_state_set_add_state(set, static_cast<AtkStateType>(state));
    return set;
}
static gint street_item_get_index_in_parent(AtkObject* object) { return reinterpret_cast<StreetItem*>(object)->index; }
static void street_item_class_init(StreetItemClass* klass)
{
    ATK_OBJECT_CLASS(klass)->ref_state_set = street_item_ref_state_set;
    ATK_OBJECT_CLASS(klass)->get_index_in_parent = street_item_get_index_in_parent;
}
static void street_item_init(StreetItem* item)
{
    item->states = 0;
    item->index = -1;
}

struct StreetAreaAccessible {
    GtkWidgetAccessible parent;
};
struct StreetAreaAccessibleClass {
    GtkWidgetAccessibleClass parent_class;
};
G_DEFINE_TYPE(StreetAreaAccessible, street_area_accessible, GTK_TYPE_WIDGET_ACCESSIBLE)

static AtkStateSet* street_area_accessible_ref_state_set(AtkObject* object)
{
    return backend::gtk::accessibility::adjusted(
        object, ATK_OBJECT_CLASS(street_area_accessible_parent_class)->ref_state_set(object));
}
static void street_area_accessible_refresh(AtkObject* object);
static gint street_area_accessible_get_n_children(AtkObject* object)
{
    street_area_accessible_refresh(object);
    auto* extra = backend::gtk::accessibility::extraOf(object);
    return extra ? static_cast<gint>(extra->objects.size()) : 0;
}
static AtkObject* street_area_accessible_ref_child(AtkObject* object, gint index)
{
    street_area_accessible_refresh(object);
    auto* extra = backend::gtk::accessibility::extraOf(object);
    if (!extra || index < 0 || static_cast<size_t>(index) >= extra->objects.size())
        return nullptr;
    return ATK_OBJECT(g_object_ref(extra->objects[index]));
}
static void street_area_accessible_class_init(StreetAreaAccessibleClass* klass)
{
    ATK_OBJECT_CLASS(klass)->ref_state_set = street_area_accessible_ref_state_set;
    ATK_OBJECT_CLASS(klass)->get_n_children = street_area_accessible_get_n_children;
    ATK_OBJECT_CLASS(klass)->ref_child = street_area_accessible_ref_child;
}
static void street_area_accessible_init(StreetAreaAccessible*) {}

// An accessible object of GTK's kind PARENT that adds the peer's states to GTK's.
#define STREET_ACCESSIBLE(Type, type, ParentStruct, PARENT_TYPE)                                                  \
    struct Type {                                                                                                 \
        ParentStruct parent;                                                                                      \
    };                                                                                                            \
    struct Type##Class {                                                                                          \
        ParentStruct##Class parent_class;                                                                         \
    };                                                                                                            \
    G_DEFINE_TYPE(Type, type, PARENT_TYPE)                                                                        \
    static AtkStateSet* type##_ref_state_set(AtkObject* object)                                                   \
    {                                                                                                             \
        return backend::gtk::accessibility::adjusted(object, ATK_OBJECT_CLASS(type##_parent_class)->ref_state_set(object)); \
    }                                                                                                             \
    static void type##_class_init(Type##Class* klass) { ATK_OBJECT_CLASS(klass)->ref_state_set = type##_ref_state_set; } \
    static void type##_init(Type*) {}

// A widget of GTK's kind PARENT whose accessible object is ACCESSIBLE.
#define STREET_WIDGET(Type, type, ParentStruct, PARENT_TYPE, accessibleType)                                      \
    struct Type {                                                                                                 \
        ParentStruct parent;                                                                                      \
    };                                                                                                            \
    struct Type##Class {                                                                                          \
        ParentStruct##Class parent_class;                                                                         \
    };                                                                                                            \
    G_DEFINE_TYPE(Type, type, PARENT_TYPE)                                                                        \
    static void type##_class_init(Type##Class* klass)                                                             \
    {                                                                                                             \
        gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(klass), accessibleType());                          \
    }                                                                                                             \
    static void type##_init(Type*) {}

STREET_ACCESSIBLE(StreetButtonAccessible, street_button_accessible, GtkButtonAccessible, GTK_TYPE_BUTTON_ACCESSIBLE)
STREET_ACCESSIBLE(StreetBoxAccessible, street_box_accessible, GtkContainerAccessible, GTK_TYPE_CONTAINER_ACCESSIBLE)
STREET_WIDGET(StreetButton, street_button, GtkButton, GTK_TYPE_BUTTON, street_button_accessible_get_type)
STREET_WIDGET(StreetDrawingArea, street_drawing_area, GtkDrawingArea, GTK_TYPE_DRAWING_AREA, street_area_accessible_get_type)
STREET_WIDGET(StreetEventBox, street_event_box, GtkEventBox, GTK_TYPE_EVENT_BOX, street_box_accessible_get_type)

// The items' objects follow what the peer draws now: one per item, named and in its states.
static void street_area_accessible_refresh(AtkObject* object)
{
    auto* extra = backend::gtk::accessibility::extraOf(object);
    if (!extra || !extra->items)
        return;
    auto items = extra->items();
    if (items.size() != extra->objects.size()) {
        for (AtkObject* old : extra->objects)
            g_object_unref(old);
        extra->objects.clear();
        for (size_t i = 0; i < items.size(); ++i) {
            auto* item = ATK_OBJECT(g_object_new(street_item_get_type(), nullptr));
            atk_object_set_parent(item, object);
            atk_object_set_role(item, extra->itemRole);
            extra->objects.push_back(item);
        }
    }
    for (size_t i = 0; i < items.size(); ++i) {
        AtkObject* item = extra->objects[i];
        reinterpret_cast<StreetItem*>(item)->index = static_cast<gint>(i);
        const char* name = atk_object_get_name(item);
        if (!name || items[i].name != name)
            atk_object_set_name(item, items[i].name.c_str());
        const char* description = atk_object_get_description(item);
        if (!description || items[i].description != description)
            atk_object_set_description(item, items[i].description.c_str());
        guint64 states = 0;
        for (AtkStateType state : items[i].states)
            states |= backend::gtk::accessibility::bit(state);
        guint64 before = std::exchange(reinterpret_cast<StreetItem*>(item)->states, states);
        for (int state = 0; state < ATK_STATE_LAST_DEFINED && state < 64; ++state) {
            guint64 mask = backend::gtk::accessibility::bit(state);
            if ((before & mask) != (states & mask))
                atk_object_notify_state_change(item, static_cast<AtkStateType>(state), (states & mask) != 0);
        }
    }
}

} // extern "C"

namespace backend::gtk::accessibility {

GtkWidget* newButton() { return GTK_WIDGET(g_object_new(street_button_get_type(), nullptr)); }
GtkWidget* newDrawingArea() { return GTK_WIDGET(g_object_new(street_drawing_area_get_type(), nullptr)); }
GtkWidget* newEventBox() { return GTK_WIDGET(g_object_new(street_event_box_get_type(), nullptr)); }

void describe(GtkWidget* widget, AtkRole role, const std::optional<std::string>& name,
              const std::optional<std::string>& description)
{
    AtkObject* accessible = gtk_widget_get_accessible(widget);
    if (!accessible)
        return;
    if (atk_object_get_role(accessible) != role)
        atk_object_set_role(accessible, role);
    if (name) {
        const char* now = atk_object_get_name(accessible);
        if (!now || *name != now)
            atk_object_set_name(accessible, name->c_str());
    }
    if (description) {
        const char* now = atk_object_get_description(accessible);
        if (!now || *description != now)
            atk_object_set_description(accessible, description->c_str());
    }
}

void hide(GtkWidget* widget) { describe(widget, ATK_ROLE_REDUNDANT_OBJECT, std::string(), std::string()); }

void setState(GtkWidget* widget, AtkStateType state, bool on)
{
    Extra& extra = extraOf(widget);
    if (((extra.on & bit(state)) != 0) == on)
        return;
    extra.on = on ? extra.on | bit(state) : extra.on & ~bit(state);
    if (AtkObject* accessible = gtk_widget_get_accessible(widget))
        atk_object_notify_state_change(accessible, state, on);
}

void setItems(GtkWidget* widget, AtkRole role, std::function<std::vector<Item>()> items)
{
    Extra& extra = extraOf(widget);
    extra.itemRole = role;
    extra.items = std::move(items);
}

void focusItem(GtkWidget* widget, std::optional<size_t> index)
{
    AtkObject* accessible = gtk_widget_get_accessible(widget);
    if (!accessible)
        return;
    street_area_accessible_refresh(accessible);
    Extra& extra = extraOf(widget);
    if (index && *index < extra.objects.size())
        g_signal_emit_by_name(accessible, "active-descendant-changed", extra.objects[*index]);
}

} // namespace backend::gtk::accessibility
