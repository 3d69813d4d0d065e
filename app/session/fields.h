// Field models of a session window.  The session reads its settings from
// these and the window binds its widgets to them, so a test or the
// windowless mode drives exactly the code the window drives.
#pragma once

#include <string>
#include <vector>

namespace lintrel {

struct Field {
    bool enabled = true;
    bool visible = true;
};

// A drop-down list: its items in display order and the selected index
// (-1 when nothing is selected).
struct ListField : Field {
    std::vector<std::string> items;
    int index = -1;

    std::string text() const
    {
        return index >= 0 && index < int(items.size()) ? items[std::size_t(index)] : std::string();
    }
    // Selects the item with this exact text; false (selection unchanged)
    // when there is none.
    bool select(const std::string& item)
    {
        for (std::size_t i = 0; i < items.size(); ++i)
            if (items[i] == item) {
                index = int(i);
                return true;
            }
        return false;
    }
};

struct TextField : Field {
    std::string text;
};

struct CheckField : Field {
    std::string caption;
    bool checked = false;
};

// One button of an option group; the session keeps the pair consistent.
struct OptionField : Field {
    std::string caption;
    bool value = false;
};

struct LabelField : Field {
    std::string text;
};

// Activity indicator; colours in the Windows encoding (0x00BBGGRR).
struct IndicatorField : Field {
    static constexpr int kRed = 255;
    static constexpr int kGreen = 65280;
    int fillColor = kGreen;
};

}  // namespace lintrel
