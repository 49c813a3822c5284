#include "app/RecruitABTableViewController.h"

#include "kit/AddressBook.h"
#include "kit/Events.h"
#include "kit/Image.h"
#include "kit/ImageView.h"
#include "kit/Label.h"
#include "kit/Screen.h"
#include "kit/Text.h"

namespace street {

namespace {

constexpr std::string_view letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr int sectionCount = 26;

} // namespace

RecruitABTableViewController* RecruitABTableViewController::init()
{
    // The style applies to a table this controller makes itself; a table from the interface
    // file keeps the style the file gave it.
    style_ = kit::TableViewStyle::Plain;
    setTitle("Recruit");
    return this;
}

std::shared_ptr<kit::TableView> RecruitABTableViewController::tableView()
{
    return std::dynamic_pointer_cast<kit::TableView>(view());
}

void RecruitABTableViewController::loadView()
{
    // view() below calls back here when there is no view yet: the outer call supplies it.
    if (providingView_)
        return;
    // A table controller's own view is its table. The interface file normally supplies it (the
    // table the player sees); keep that one, or make a fresh one served by this controller.
    providingView_ = true;
    if (!std::dynamic_pointer_cast<kit::TableView>(view())) {
        auto table = std::make_shared<kit::TableView>(kit::Screen::mainScreen().bounds());
        table->setStyle(style_);
        table->setDataSource(sharedAs<kit::Object>());
        table->setDelegate(sharedAs<kit::Object>());
        setView(table);
    }
    providingView_ = false;
    boolDict_.clear();
    createSectionList();
}

int RecruitABTableViewController::letterSectionOfName(std::string_view name)
{
    auto cp = kit::Text::firstCodePoint(name);
    if (!cp)
        return -1;
    if (*cp >= 'a' && *cp <= 'z')
        return static_cast<int>(*cp - 'a');
    if (*cp >= 'A' && *cp <= 'Z')
        return static_cast<int>(*cp - 'A');
    // The only other characters whose upper case is found in "A...Z": dotless i -> "I",
    // long s -> "S", and the ligatures long s t and s t -> "ST" (found where "S" stands).
    switch (*cp) {
    case 0x0131:
        return 'I' - 'A';
    case 0x017F:
    case 0xFB05:
    case 0xFB06:
        return 'S' - 'A';
    default:
        return -1;
    }
}

std::string_view RecruitABTableViewController::textBeforeHash(std::string_view entry)
{
    return entry.substr(0, entry.find('#'));
}

void RecruitABTableViewController::createSectionList()
{
    auto addressBook = kit::AddressBook::create();
    const auto& people = addressBook->allPeople();

    // One name, number and e-mail per person who has a first or a last name.
    std::vector<std::string> names;
    std::vector<std::string> numbers;
    std::vector<std::string> emails;
    names.reserve(people.size());
    numbers.reserve(people.size());
    emails.reserve(people.size());
    for (const auto& person : people) {
        if (!person.firstName && !person.lastName)
            continue;
        std::string name;
        if (person.firstName) {
            name += *person.firstName;
            name += ' ';
        }
        if (person.lastName)
            name += *person.lastName;
        names.push_back(std::move(name));

        std::string number;
        if (!person.phones.empty()) {
            number = person.phones.front().value;
            for (const auto& phone : person.phones) {
                if (phone.label == kit::kABPersonPhoneMobileLabel) {
                    number = phone.value;
                    break;
                }
            }
        }
        numbers.push_back(std::move(number));
        emails.push_back(person.emails.empty() ? std::string() : person.emails.front().value);
    }

    // Working lists of 26 empty lists each; the table's own lists start empty.
    Texts namesByLetter(sectionCount);
    Texts numbersByLetter(sectionCount);
    Texts emailsByLetter(sectionCount);
    Flags flagsByLetter(sectionCount);
    sectionArray_.clear();
    sectionNumberArray_.clear();
    sectionTitles_.clear();
    sectionEmailArray_.clear();
    boolArray_.clear();

    // Each name under its first letter, in address-book order within a letter; a name whose
    // first letter has no place in A-Z is left out.
    int listed = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].empty())
            continue;
        int k = letterSectionOfName(names[i]);
        if (k < 0)
            continue;
        namesByLetter[k].push_back(std::move(names[i]));
        numbersByLetter[k].push_back(std::move(numbers[i]));
        emailsByLetter[k].push_back(std::move(emails[i]));
        flagsByLetter[k].push_back(false);
        ++listed;
    }

    // A letter's title only where it has names; the lists become the table's.
    for (int k = 0; k < sectionCount; ++k)
        sectionTitles_.push_back(namesByLetter[k].empty() ? std::string() : std::string(1, letters[k]));
    sectionArray_ = std::move(namesByLetter);
    sectionNumberArray_ = std::move(numbersByLetter);
    sectionEmailArray_ = std::move(emailsByLetter);
    boolArray_ = std::move(flagsByLetter);

    kit::emit("contacts", {{"count", listed}});
}

int RecruitABTableViewController::numberOfSectionsInTableView(kit::TableView&)
{
    return static_cast<int>(sectionArray_.size());
}

int RecruitABTableViewController::numberOfRowsInSection(kit::TableView&, int section)
{
    if (section < 0 || section >= static_cast<int>(sectionArray_.size()))
        return 0;
    return static_cast<int>(sectionArray_[section].size());
}

std::optional<std::string> RecruitABTableViewController::titleForHeaderInSection(kit::TableView&, int section)
{
    if (section < 0 || section >= static_cast<int>(sectionTitles_.size()))
        return std::nullopt;
    return sectionTitles_[section];
}

std::vector<std::string> RecruitABTableViewController::sectionIndexTitlesForTableView(kit::TableView&)
{
    std::vector<std::string> titles;
    for (char letter : letters)
        titles.emplace_back(1, letter);
    return titles;
}

std::shared_ptr<kit::TableViewCell> RecruitABTableViewController::cellForRowAtIndexPath(kit::TableView& table,
                                                                                      kit::IndexPath indexPath)
{
    auto cell = table.dequeueReusableCellWithIdentifier(cellIdentifier);
    std::string name;
    if (indexPath.section >= 0 && indexPath.section < static_cast<int>(sectionArray_.size())) {
        const auto& rows = sectionArray_[indexPath.section];
        if (indexPath.row >= 0 && indexPath.row < static_cast<int>(rows.size()))
            name = textBeforeHash(rows[indexPath.row]);
    }

    if (!cell) {
        cell = std::make_shared<kit::TableViewCell>(kit::Rect(), cellIdentifier);
        cell->setSelectionStyle(kit::TableViewCellSelectionStyle::Blue);
        cell->setIndentationLevel(5);

        auto label = std::make_shared<kit::Label>(kit::Rect(4, 16, 260, 24));
        label->setTag(nameLabelTag);
        label->setText(name);
        label->setFont(kit::Font::fontWithName("Arial-BoldMT", 19));
        cell->insertSubviewAtIndex(label, 0);

        auto icon = std::make_shared<kit::ImageView>(kit::Rect(260, 7, 30, 30));
        icon->setTag(tickIconTag);
        icon->setImage(kit::Image::imageNamed(tickedImage));
        cell->insertSubviewAtIndex(icon, 2);
    }

    if (auto label = std::dynamic_pointer_cast<kit::Label>(cell->viewWithTag(nameLabelTag)))
        label->setText(name);
    auto found = boolDict_.find(indexPath);
    bool ticked = found != boolDict_.end() && found->second;
    if (auto icon = std::dynamic_pointer_cast<kit::ImageView>(cell->viewWithTag(tickIconTag)))
        icon->setImage(kit::Image::imageNamed(ticked ? tickedImage : untickedImage));
    // A screen reader hears the row as the contact, ticked or not.
    cell->setAccessibilityLabel(name);
    cell->setAccessibilityChecked(ticked);
    return cell;
}

void RecruitABTableViewController::didSelectRowAtIndexPath(kit::TableView&, kit::IndexPath indexPath)
{
    if (indexPath.section < 0 || indexPath.section >= static_cast<int>(boolArray_.size()))
        return;
    auto& flags = boolArray_[indexPath.section];
    if (indexPath.row < 0 || indexPath.row >= static_cast<int>(flags.size()))
        return;
    auto found = boolDict_.find(indexPath);
    bool ticked = found == boolDict_.end() ? true : !found->second;
    boolDict_[indexPath] = ticked;
    flags[indexPath.row] = ticked;
    if (auto table = tableView())
        table->reloadData();
}

void RecruitABTableViewController::deselect()
{
    auto table = tableView();
    if (!table)
        return;
    if (auto selected = table->indexPathForSelectedRow())
        table->deselectRowAtIndexPath(*selected, true);
}

} // namespace street
