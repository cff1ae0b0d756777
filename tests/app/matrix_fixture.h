// The routing page in the real main window, against the switcher model on the virtual clock.
#pragma once

#include "panel/pages/matrix_dlg.h"
#include "tests/app/app_fixture.h"

namespace corvane::test {

class MatrixFixture : public AppFixture {
protected:
    // Connects, starts the switcher with these routes and opens the Matrix tab; the replies to
    // the page-opening queries are delivered.
    void Open(uint8_t route1 = 1, uint8_t route2 = 2)
    {
        sim::SwitcherSettings s;
        s.route = {route1, route2};
        port->device = sim::CSwitcher(s);
        Connect();
        port->writes.clear();
        dlg->PressTab(1012);
        page = dlg->findChild<CMatrixDlg*>();
        ASSERT_NE(page, nullptr);
        port->Run(0);
    }
    // Which IN button of the output is checked: 0 none, -1 more than one.
    int Checked(int output) const
    {
        int found = 0;
        for (int i = 1; i <= 4; ++i)
            if (page->InputButton(output, i)->isChecked())
                found = found ? -1 : i;
        return found;
    }
    // Both outputs as the operator sees them: {digit, checked button} per output.
    std::vector<int> Display() const
    {
        return {page->DigitShown(1), Checked(1), page->DigitShown(2), Checked(2)};
    }
    void Route(int output, int input)
    {
        page->InputButton(output, input)->click();
        port->Run(0);
        ASSERT_EQ(Checked(output), input);
    }

    CMatrixDlg* page = nullptr;
};

}  // namespace corvane::test
