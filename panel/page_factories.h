// Registers the pages this build has with the main window; each is created the first time its
// tab is chosen.
#pragma once

namespace corvane {

class CCorvaneDlg;

void RegisterPages(CCorvaneDlg& dlg);

}  // namespace corvane
