#pragma once

#include "kit/View.h"

#include <string>

namespace kit {

enum class TableViewCellSelectionStyle { None = 0, Blue = 1, Gray = 2 };

class TableViewCell : public View {
public:
    TableViewCell(Rect frame, std::string reuseIdentifier)
        : View(frame)
        , reuseIdentifier_(std::move(reuseIdentifier))
    {
    }
    const std::string& reuseIdentifier() const { return reuseIdentifier_; }
    TableViewCellSelectionStyle selectionStyle() const { return selectionStyle_; }
    void setSelectionStyle(TableViewCellSelectionStyle style) { selectionStyle_ = style; }
    int indentationLevel() const { return indentationLevel_; }
    void setIndentationLevel(int level) { indentationLevel_ = level; }

private:
    std::string reuseIdentifier_;
    TableViewCellSelectionStyle selectionStyle_ = TableViewCellSelectionStyle::Blue;
    int indentationLevel_ = 0;
};

} // namespace kit
