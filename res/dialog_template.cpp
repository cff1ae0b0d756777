#include "res/dialog_template.h"

#include <map>

namespace corvane {

#if defined(__GNUC__)
// The main window's table, should its file define it without registering it.
extern const DialogTemplate kDialog102 __attribute__((weak));
#endif

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
    if (it != Registry().end())
        return it->second;
#if defined(__GNUC__)
    if (id == 102 && &kDialog102 != nullptr)
        return &kDialog102;
#endif
    return nullptr;
}

}  // namespace corvane
