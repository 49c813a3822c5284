#include "app/RecruitABContainerController.h"

#include "app/GameServer.h"

#include "kit/Device.h"
#include "kit/Text.h"
#include "kit/URL.h"
#include "kit/URLConnection.h"
#include "kit/UserDefaults.h"

#include <algorithm>

namespace street {

namespace {

constexpr const char* invitePath = "/postback/invite_postback.php";
constexpr const char* failTitle = "Fail";
constexpr const char* nothingTickedMessage = "You have not selected any friends to invite.";
constexpr const char* couldNotSendMessage = "Invites could not be sent at this time.  Please try again later.";
constexpr const char* unknownErrorMessage = "Unknown error occurred.  Please try again later.";
constexpr const char* infoMessage
    = "A Racer cannot dominate the streets without building up a large crew.  Expand your circle and own the "
      "roads by recruiting other iPhone or iPod Touch users to join your crew.  Once they accept your invitation "
      "they'll become a member of your crew and you'll become part of theirs.  Get your friends to join you and "
      "see how fast you'll be owning the streets!";

// One field of a contact record: the entry up to its first "#", dropped entirely when it holds a
// comma (it would shift every later field of the record).
std::string_view recordField(const std::vector<std::vector<std::string>>& lists, size_t section, size_t row)
{
    if (section >= lists.size() || row >= lists[section].size())
        return {};
    // One scan for both marks: entries are short, and there may be a few hundred thousand.
    std::string_view entry = lists[section][row];
    size_t end = 0;
    for (; end < entry.size() && entry[end] != '#'; ++end)
        if (entry[end] == ',')
            return {};
    return entry.substr(0, end);
}

} // namespace

bool RecruitABContainerController::setOutlet(const std::string& name, const std::shared_ptr<kit::Object>& target)
{
    if (name == "tableViewController")
        return kit::connectOutlet(tableViewController_, target);
    if (name == "tableView")
        return kit::connectOutlet(tableView_, target);
    if (name == "inviteTabBar")
        return kit::connectOutlet(inviteTabBar_, target);
    if (name == "infoButton")
        return kit::connectOutlet(infoButton_, target);
    if (name == "nameLabel")
        return kit::connectOutlet(nameLabel_, target);
    if (name == "changeNameButton")
        return kit::connectOutlet(changeNameButton_, target);
    return kit::ViewController::setOutlet(name, target);
}

void RecruitABContainerController::loadView()
{
    kit::ViewController::loadView();

    // The file's controls outlive no screen: they must not keep it alive either.
    std::weak_ptr<RecruitABContainerController> weak = sharedAs<RecruitABContainerController>();
    auto action = [weak](void (RecruitABContainerController::*method)(kit::Object*)) {
        return [weak, method] {
            if (auto self = weak.lock())
                ((*self).*method)(nullptr);
        };
    };
    if (inviteTabBar_) {
        for (const auto& item : inviteTabBar_->items()) {
            if (item->title() == "Send Invites")
                item->setAction(action(&RecruitABContainerController::onInviteButtonClicked));
            else if (item->title() == "Back")
                item->setAction(action(&RecruitABContainerController::doBack));
        }
    }
    if (infoButton_)
        infoButton_->addTarget(action(&RecruitABContainerController::doInfo), kit::ControlEvent::TouchUpInside);
    if (changeNameButton_)
        changeNameButton_->addTarget(action(&RecruitABContainerController::doPopupNameChange),
                                     kit::ControlEvent::TouchUpInside);

    auto alert = std::make_shared<kit::AlertView>("Recruit", "Can we pull up your contacts? We will never store them.",
                                                  sharedAs<kit::Object>(), "Cancel",
                                                  std::vector<std::optional<std::string>>{"Continue"});
    alert->setTag(permissionAlertTag);
    alert->show();
}

void RecruitABContainerController::clickedButtonAtIndex(kit::AlertView& alert, int index)
{
    if (alert.tag() == permissionAlertTag) {
        if (index == 0) {
            close();
        } else if (index == 1) {
            if (auto contacts = tableViewController_) {
                contacts->init();
                contacts->loadView();
                // The visible table is the list controller's view: show what was just read.
                if (auto table = contacts->tableView())
                    table->reloadData();
            }
            doCheckNameSet();
        }
    } else if (alert.tag() == namePromptTag) {
        auto* field = alert.textFieldAtIndex(0);
        std::string name = field ? field->text : std::string();
        auto& defaults = kit::UserDefaults::standardUserDefaults();
        defaults.setObject(name, nameKey);
        defaults.synchronize();
        updateNameLabel(name);
    }
}

void RecruitABContainerController::close()
{
    auto keep = sharedAs<RecruitABContainerController>();
    dismissModalViewControllerAnimated(true);
    if (parentTabBar_)
        parentTabBar_->setSelectedItem(nullptr);
}

void RecruitABContainerController::showAlert(const std::optional<std::string>& title,
                                             const std::optional<std::string>& message)
{
    auto alert = std::make_shared<kit::AlertView>(title, message, sharedAs<kit::Object>(), std::nullopt,
                                                  std::vector<std::optional<std::string>>{"OK"});
    alert->show();
}

void RecruitABContainerController::doInfo(kit::Object*)
{
    showAlert("Recruit", infoMessage);
}

void RecruitABContainerController::doPopupNameChange(kit::Object*)
{
    popupNameChange();
}

void RecruitABContainerController::doCheckNameSet()
{
    // The empty text is a name too: once "Done" was pressed the player is not asked again.
    if (auto name = kit::UserDefaults::standardUserDefaults().stringForKey(nameKey))
        updateNameLabel(*name);
    else
        popupNameChange();
}

void RecruitABContainerController::popupNameChange()
{
    auto name = kit::UserDefaults::standardUserDefaults().stringForKey(nameKey).value_or("");
    auto alert = std::make_shared<kit::AlertView>(
        "Your Name", "Please enter your real name. This name will appear in the invites.", sharedAs<kit::Object>(),
        std::nullopt, std::vector<std::optional<std::string>>{"Done"});
    alert->addTextFieldWithValue(name, "Firstname  Lastname");
    alert->setTag(namePromptTag);
    alert->show();
}

void RecruitABContainerController::updateNameLabel(const std::string& name)
{
    if (nameLabel_)
        nameLabel_->setText(name);
}

void RecruitABContainerController::onInviteButtonClicked(kit::Object*)
{
    doInvite();
}

void RecruitABContainerController::doBack(kit::Object*)
{
    close();
}

std::string RecruitABContainerController::inviteData(const RecruitABTableViewController& contacts, bool* anyTicked)
{
    const auto& names = contacts.sectionArray();
    const auto& flags = contacts.boolArray();
    const std::vector<std::vector<std::string>>* lists[] = {&names, &contacts.sectionNumberArray(),
                                                            &contacts.sectionEmailArray()};
    auto ticked = [&](size_t i, size_t j) { return i < flags.size() && j < flags[i].size() && flags[i][j]; };
    // Room for the whole entries first (fields only get shorter): the list may hold many
    // thousands of contacts, and growing the text step by step costs more than the walk.
    size_t room = 0;
    for (size_t i = 0; i < names.size(); ++i)
        for (size_t j = 0; j < names[i].size(); ++j)
            if (ticked(i, j))
                for (const auto* list : lists)
                    room += (i < list->size() && j < (*list)[i].size() ? (*list)[i][j].size() : 0) + 1;
    std::string data;
    data.reserve(room);
    for (size_t i = 0; i < names.size(); ++i) {
        for (size_t j = 0; j < names[i].size(); ++j) {
            if (!ticked(i, j))
                continue;
            for (const auto* list : lists) {
                data += recordField(*list, i, j);
                data += ',';
            }
        }
    }
    if (anyTicked)
        *anyTicked = room > 0;
    return data;
}

std::string RecruitABContainerController::generateFormData(const FormFields& fields)
{
    const std::string separator = std::string("--") + boundary + "\r\n";
    size_t size = 0;
    for (const auto& [name, value] : fields)
        size += separator.size() + name.size() + value.size() + 48;
    std::string body;
    body.reserve(size + 32);
    for (const auto& [name, value] : fields) {
        body += separator;
        body += "Content-Disposition: form-data; name=\"";
        body += name;
        body += "\"\r\n\r\n";
        // Carried as they are (text outside ASCII goes out as its UTF-8 bytes), except that a
        // line break would let a value forge a boundary and a part of its own.
        size_t start = body.size();
        body += value;
        std::replace_if(body.begin() + static_cast<std::ptrdiff_t>(start), body.end(),
                        [](char c) { return c == '\r' || c == '\n'; }, ' ');
        body += "\r\n";
    }
    body += "--";
    body += boundary;
    body += "--\r\n";
    return body;
}

void RecruitABContainerController::doInvite()
{
    std::string url = GameServer::baseURL() + invitePath;
    std::string udid = kit::Device::currentDevice().uniqueIdentifier();

    bool anyTicked = false;
    std::string data = tableViewController_ ? inviteData(*tableViewController_, &anyTicked) : std::string();
    if (!anyTicked) {
        showAlert(failTitle, nothingTickedMessage);
        return;
    }

    auto name = kit::UserDefaults::standardUserDefaults().stringForKey(nameKey).value_or("");
    auto body = generateFormData({{"fromUdid", udid}, {"data", data}, {"fromName", name}});

    auto checkedURL = kit::URL::URLWithString(url);
    if (!checkedURL) {
        showAlert(failTitle, couldNotSendMessage);
        return;
    }
    kit::URLRequest request{*checkedURL, "POST",
                            {{"Content-Type", std::string("multipart/form-data; boundary=") + boundary}},
                            std::move(body)};

    auto keep = sharedAs<RecruitABContainerController>();
    auto reply = kit::URLConnection::sendSynchronousRequest(request);
    // No reply at all is a failed connection: the same answer as an unreadable one.
    if (!reply) {
        showAlert(failTitle, couldNotSendMessage);
        return;
    }
    // Cut short at the cap: not a reply this client can read.
    if (reply->size() > kit::URLConnection::maxReplyBytes) {
        showAlert(failTitle, unknownErrorMessage);
        return;
    }
    if (!kit::Text::isValidUTF8(*reply)) {
        showAlert(failTitle, couldNotSendMessage);
        return;
    }
    auto percent = reply->find('%');
    if (percent == std::string::npos || reply->find('%', percent + 1) != std::string::npos) {
        showAlert(failTitle, unknownErrorMessage);
        return;
    }
    showAlert(reply->substr(0, percent), reply->substr(percent + 1));
}

} // namespace street
