#include "panel/res/dialog_template.h"

#include <map>

namespace corvane {

namespace {
// Filled by the static initialisers of the dialog_NNN.cpp files; built on first use so the
// order in which those files initialise does not matter.
std::map<int, const DialogTemplate*>& Registry()
{
    static std::map<int, const DialogTemplate*> registry;
    return registry;
}
}  // namespace

bool RegisterTemplate(const DialogTemplate& dialog)
{
    return Registry().emplace(dialog.id, &dialog).second;
}

const DialogTemplate* Template(int id)
{
    auto it = Registry().find(id);
    return it == Registry().end() ? nullptr : it->second;
}

}  // namespace corvane
