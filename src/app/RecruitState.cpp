#include "app/RecruitState.h"

#include "app/RecruitABContainerController.h"
#include "app/RecruitABTableViewController.h"

#include "kit/Object.h"

#include <cmath>

namespace street {

namespace {

// Length of the well-formed UTF-8 sequence starting at bytes[i]; 0 when there is none.
size_t sequenceLength(std::string_view bytes, size_t i)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > bytes.size())
        return 0;
    for (size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    unsigned char second = byte(i + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90)
        || (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

} // namespace

bool isValidUTF8(std::string_view bytes)
{
    for (size_t i = 0; i < bytes.size();) {
        size_t length = sequenceLength(bytes, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string printableUTF8(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        size_t length = sequenceLength(bytes, i);
        if (length == 0) {
            text += "\xEF\xBF\xBD";
            ++i;
        } else {
            text.append(bytes.substr(i, length));
            i += length;
        }
    }
    return text;
}

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
            titles.push_back(printableUTF8(title));
        for (size_t k = 0; k < sections.size(); ++k) {
            auto section = nlohmann::json::array();
            for (size_t r = 0; r < sections[k].size(); ++r) {
                auto tick = ticks.find(kit::IndexPath{static_cast<int>(k), static_cast<int>(r)});
                section.push_back({{"name", printableUTF8(RecruitABTableViewController::textBeforeHash(sections[k][r]))},
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
        nameLabel = printableUTF8(*label->text());
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
