#include "panel/page_factories.h"


#include "panel/corvane_dlg.h"
#include "panel/pages/edid_dlg.h"
#include "panel/pages/firmware_dlg.h"
#include "panel/pages/matrix_dlg.h"

namespace corvane {

namespace {

// A page window (routing, EDID, firmware) as the main window keeps it.
template <class Dlg>
class CPageHost final : public IPage {
public:
    explicit CPageHost(CCorvaneDlg& dlg) : m_dlg(std::make_unique<Dlg>(dlg.Link(), &dlg)) {}
    QWidget* Widget() override { return m_dlg.get(); }
    void OnReply(const Frame& frame) override { m_dlg->OnReply(frame); }
    std::string CloseQuestion() const override
    {
        if constexpr (requires { m_dlg->CloseQuestion(); })
            return m_dlg->CloseQuestion();
        return {};
    }
    void ForgetSwitcher() override
    {
        if constexpr (requires { m_dlg->ForgetSwitcher(); })
            m_dlg->ForgetSwitcher();
    }
    bool LinkLost() override { return m_dlg->Page().OnLinkLost(); }
    std::vector<QWidget*> FocusOrder() const override { return m_dlg->FocusOrder(); }

private:
    std::unique_ptr<Dlg> m_dlg;
};

template <class Dlg>
void Register(CCorvaneDlg& dlg, uint8_t page)
{
    dlg.SetPageFactory(page, [](CCorvaneDlg& d) { return std::make_unique<CPageHost<Dlg>>(d); });
}

}  // namespace

void RegisterPages(CCorvaneDlg& dlg)
{
    Register<CMatrixDlg>(dlg, PAGE_MATRIX);
    Register<CEDIDDlg>(dlg, PAGE_EDID);
    Register<CFWDlg>(dlg, PAGE_FIRMWARE);
}

}  // namespace corvane
