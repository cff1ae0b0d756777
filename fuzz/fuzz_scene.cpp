// Scene files come from anyone: the JSON reader and the scene checks take any bytes without
// crashing or recursing without bound, and whatever they accept is a scene this program can
// write and read back to the same settings.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/scene/json.h"
#include "core/scene/scene.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto json = ParseJson(text, error);
    if (json.has_value() != error.empty())
        std::abort();  // a document is either accepted or refused with a reason
    const auto scene = ParseScene(text, error);
    if (!scene) {
        if (error.empty())
            std::abort();
        return 0;
    }
    if (!json)
        std::abort();  // a scene is a JSON document first
    for (int o = 0; o < 2; ++o)
        if (scene->routes[o] < 1 || scene->routes[o] > 4)
            std::abort();
    const std::string written = SceneJson(*scene);
    const auto again = ParseScene(written, error);
    if (!again || !(*again == *scene))
        std::abort();
    return 0;
}
