#pragma once

#include "kit/TableView.h"
#include "kit/ViewController.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace street {

// The Recruit contact list: reads the address book once into 26 letter sections ("A" to "Z")
// of display names, phone numbers, e-mail addresses and tick flags, and serves them to the
// table on the invite screen, whose rows the player ticks.
class RecruitABTableViewController : public kit::ViewController,
                                     public kit::TableViewDataSource,
                                     public kit::TableViewDelegate {
public:
    using Texts = std::vector<std::vector<std::string>>;
    using Flags = std::vector<std::vector<bool>>;

    static constexpr const char* cellIdentifier = "any-cell";
    static constexpr int nameLabelTag = 1002;
    static constexpr int tickIconTag = 1003;
    static constexpr const char* tickedImage = "invited_icon.png";
    static constexpr const char* untickedImage = "none.png";

    RecruitABTableViewController() = default;

    // Plain table style, title "Recruit".
    RecruitABTableViewController* init();
    // Keeps the table the interface file connected (or makes one, as a table controller
    // does), empties the ticks and rebuilds every list from the address book.
    void loadView() override;
    void createSectionList();

    // The table this controller serves: its own view.
    std::shared_ptr<kit::TableView> tableView();
    kit::TableViewStyle style() const { return style_; }

    const Texts& sectionArray() const { return sectionArray_; }
    void setSectionArray(Texts lists) { sectionArray_ = std::move(lists); }
    const Texts& sectionNumberArray() const { return sectionNumberArray_; }
    void setSectionNumberArray(Texts lists) { sectionNumberArray_ = std::move(lists); }
    const Texts& sectionEmailArray() const { return sectionEmailArray_; }
    void setSectionEmailArray(Texts lists) { sectionEmailArray_ = std::move(lists); }
    const Flags& boolArray() const { return boolArray_; }
    void setBoolArray(Flags flags) { boolArray_ = std::move(flags); }
    // Read-only views for the screen's state report.
    const std::vector<std::string>& sectionTitles() const { return sectionTitles_; }
    const std::map<kit::IndexPath, bool>& boolDict() const { return boolDict_; }

    // Table data source and delegate.
    int numberOfSectionsInTableView(kit::TableView&) override;
    int numberOfRowsInSection(kit::TableView&, int section) override;
    std::optional<std::string> titleForHeaderInSection(kit::TableView&, int section) override;
    std::vector<std::string> sectionIndexTitlesForTableView(kit::TableView&) override;
    std::shared_ptr<kit::TableViewCell> cellForRowAtIndexPath(kit::TableView&, kit::IndexPath indexPath) override;
    void didSelectRowAtIndexPath(kit::TableView&, kit::IndexPath indexPath) override;

    // Deselects the selected row, animated. Nothing calls it.
    void deselect();

    // The section (0 = "A" ... 25 = "Z") of a display name: its first character upper-cased
    // must be one of those letters. -1 when it is not listed.
    static int letterSectionOfName(std::string_view name);
    // An entry as rows and invitations use it: the text before its first "#".
    static std::string_view textBeforeHash(std::string_view entry);

private:
    kit::TableViewStyle style_ = kit::TableViewStyle::Plain;
    bool providingView_ = false;
    Texts sectionArray_;
    Texts sectionNumberArray_;
    Texts sectionEmailArray_;
    std::vector<std::string> sectionTitles_;
    std::map<kit::IndexPath, bool> boolDict_;
    Flags boolArray_;
};

} // namespace street
