#pragma once

#include <atk/atk.h>
#include <gtk/gtk.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// What the window tells a screen reader (AT-SPI, through GTK's accessible objects). GTK's own
// objects say what its widgets are; these helpers add what only the peers know: the role a
// widget plays in the game (a tab, an alert), states that no GTK widget has for it (a selected
// tab, a modal alert, a checked row), the rows a table only draws, and which widgets are mere
// decoration.
namespace backend::gtk::accessibility {

// Widgets whose accessible objects take states and children from what is set below. They are
// their GTK types in every other way.
GtkWidget* newButton();
GtkWidget* newDrawingArea();
GtkWidget* newEventBox();

// The role, name and description of a widget's accessible object (none leaves GTK's own).
void describe(GtkWidget* widget, AtkRole role, const std::optional<std::string>& name = std::nullopt,
              const std::optional<std::string>& description = std::nullopt);
// Decoration: nothing to speak and nothing to act on.
void hide(GtkWidget* widget);
// A state the widget's accessible object adds to what GTK reports (`on`), or no longer adds.
// Only for widgets made above.
void setState(GtkWidget* widget, AtkStateType state, bool on);

// Something drawn that a screen reader should see as an object of its own (a table's row).
struct Item {
    std::string name;
    std::string description;
    std::vector<AtkStateType> states;
};
// The items a drawing area shows, in order; asked whenever a reader looks. Only for
// newDrawingArea() widgets. Objects for the items are kept while their count holds.
void setItems(GtkWidget* widget, AtkRole role, std::function<std::vector<Item>()> items);
// Tells a reader that the item at `index` took focus (or, with none, that none has it).
void focusItem(GtkWidget* widget, std::optional<size_t> index);

} // namespace backend::gtk::accessibility
