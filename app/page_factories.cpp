#include "app/page_factories.h"

#include "app/corvane_dlg.h"
#include "pages/edid_dlg.h"
#include "pages/firmware_dlg.h"
#include "pages/matrix_dlg.h"

namespace corvane {

namespace {

// The routing page as the main window keeps it.
class CMatrixPageHost final : public IPage {
public:
    explicit CMatrixPageHost(CCorvaneDlg& dlg) : m_dlg(std::make_unique<CMatrixDlg>(dlg.Link(), &dlg)) {}
    QWidget* Widget() override { return m_dlg.get(); }
    void OnReply(const Frame& frame) override { m_dlg->OnReply(frame); }

private:
    std::unique_ptr<CMatrixDlg> m_dlg;
};

// The EDID page as the main window keeps it.
class CEdidPageHost final : public IPage {
public:
    explicit CEdidPageHost(CCorvaneDlg& dlg) : m_dlg(std::make_unique<CEDIDDlg>(dlg.Link(), &dlg)) {}
    QWidget* Widget() override { return m_dlg.get(); }
    void OnReply(const Frame& frame) override { m_dlg->OnReply(frame); }

private:
    std::unique_ptr<CEDIDDlg> m_dlg;
};

// The firmware page as the main window keeps it.
class CFirmwarePageHost final : public IPage {
public:
    explicit CFirmwarePageHost(CCorvaneDlg& dlg) : m_dlg(std::make_unique<CFWDlg>(dlg.Link(), &dlg)) {}
    QWidget* Widget() override { return m_dlg.get(); }
    void OnReply(const Frame& frame) override { m_dlg->OnReply(frame); }

private:
    std::unique_ptr<CFWDlg> m_dlg;
};

}  // namespace

void RegisterPages(CCorvaneDlg& dlg)
{
    dlg.SetPageFactory(PAGE_MATRIX, [](CCorvaneDlg& d) { return std::make_unique<CMatrixPageHost>(d); });
    dlg.SetPageFactory(PAGE_EDID, [](CCorvaneDlg& d) { return std::make_unique<CEdidPageHost>(d); });
    dlg.SetPageFactory(PAGE_FIRMWARE, [](CCorvaneDlg& d) { return std::make_unique<CFirmwarePageHost>(d); });
}

}  // namespace corvane
