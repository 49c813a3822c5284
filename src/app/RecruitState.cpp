#include "app/RecruitState.h"

#include "app/RecruitABContainerController.h"
#include "app/RecruitABTableViewController.h"

#include "kit/Object.h"
#include "kit/Text.h"

#include <cmath>

namespace street {

void registerRecruitClasses()
{
    kit::ClassRegistry::registerClass("RecruitABTableViewController",
                                      [] { return std::make_shared<RecruitABTableViewController>(); });
    kit::ClassRegistry::registerClass("RecruitABContainerController",
                                      [] { return std::make_shared<RecruitABContainerController>("RecruitABContainer"); });
}

nlohmann::json recruitStateJson()
{
    auto screen = std::dynamic_pointer_cast<RecruitABContainerController>(kit::ViewController::frontmostModal());
    if (!screen)
        return nullptr;

    auto titles = nlohmann::json::array();
    auto rows = nlohmann::json::array();
    if (const auto& contacts = screen->tableViewController()) {
        const auto& sectionTitles = contacts->sectionTitles();
        const auto& sections = contacts->sectionArray();
        const auto& ticks = contacts->boolDict();
        for (const auto& title : sectionTitles)
            titles.push_back(kit::Text::printableUTF8(title));
        for (size_t k = 0; k < sections.size(); ++k) {
            auto section = nlohmann::json::array();
            for (size_t r = 0; r < sections[k].size(); ++r) {
                auto tick = ticks.find(kit::IndexPath{static_cast<int>(k), static_cast<int>(r)});
                section.push_back({{"name", kit::Text::printableUTF8(RecruitABTableViewController::textBeforeHash(sections[k][r]))},
                                   {"ticked", tick != ticks.end() && tick->second}});
            }
            rows.push_back(std::move(section));
        }
    }
    if (titles.size() != 26) {
        titles = nlohmann::json::array();
        for (int k = 0; k < 26; ++k)
            titles.push_back("");
    }

    nlohmann::json nameLabel = nullptr;
    if (const auto& label = screen->nameLabel(); label && label->text())
        nameLabel = kit::Text::printableUTF8(*label->text());
    return {{"titles", std::move(titles)}, {"rows", std::move(rows)}, {"nameLabel", std::move(nameLabel)}};
}

nlohmann::json recruitTableStateJson()
{
    auto screen = std::dynamic_pointer_cast<RecruitABContainerController>(kit::ViewController::frontmostModal());
    const auto& table = screen ? screen->tableView() : nullptr;
    if (!table)
        return nullptr;
    nlohmann::json top = nullptr;
    if (auto path = table->topRow())
        top = {path->section, path->row};
    return {{"offset", std::round(table->contentOffset() * 10) / 10}, {"top", std::move(top)}};
}

} // namespace street
