// The drop-down list of ports as the port-list logic sees it: the few list operations it uses.
#pragma once

#include <string>

namespace corvane {

class IPortCombo {
public:
    virtual ~IPortCombo() = default;
    // The text shown in the list's edit part (the selected item's text); empty when none.
    virtual std::string GetText() const = 0;
    // The selected position, or -1.
    virtual int GetCurSel() const = 0;
    virtual void ResetContent() = 0;
    // Inserts before `pos` (pos == Count() appends). The selection follows its item.
    virtual void InsertString(int pos, const std::string& text) = 0;
    // Removes the item at `pos`; a position outside the list is ignored. The selection follows
    // its item and is cleared when the selected item itself is removed.
    virtual void DeleteString(int pos) = 0;
    virtual void SetCurSel(int pos) = 0;
    virtual int Count() const = 0;
};

}  // namespace corvane
