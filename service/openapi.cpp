// The API document, served at /api/openapi.json; a test holds it against the real answers.
#include "service/api.h"

#include "core/edid/edid_names.h"

namespace corvane::service {

// What every command answers.
#define COMMAND_RESPONSES R"JSON({"200":{"description":"carried out (ok) or refused by the switcher, with its state after the read-back","content":{"application/json":{"schema":{"$ref":"#/components/schemas/Result"}}}},"400":{"$ref":"#/components/responses/Error"},"401":{"$ref":"#/components/responses/Error"},"403":{"$ref":"#/components/responses/Error"},"404":{"$ref":"#/components/responses/Error"},"405":{"$ref":"#/components/responses/Error"},"408":{"$ref":"#/components/responses/Error"},"413":{"$ref":"#/components/responses/Error"},"415":{"$ref":"#/components/responses/Error"},"421":{"$ref":"#/components/responses/Error"},"429":{"$ref":"#/components/responses/Error"},"503":{"$ref":"#/components/responses/Error"}})JSON"

const char kOpenApi[] = R"JSON({
"openapi":"3.0.3",
"info":{"title":"corvaned","version":")JSON" CORVANE_VERSION R"JSON(","description":"The switchers of a site: their state, commands that answer after the switcher's read-back, and a WebSocket stream of changes at /api/events (one JSON object per change, with the switcher's id and time; commands may be sent on it as {\"id\",\"command\",...the command's fields}, and with \"ref\" (a string of at most 64 bytes) the sender gets the command's answer as HTTP gives it, after {\"ref\":...). Off loopback every call needs Authorization: Bearer TOKEN (on the WebSocket also ?access_token=TOKEN)."},
"paths":{
"/api/switchers":{"get":{"summary":"every switcher","responses":{"200":{"description":"the switchers","content":{"application/json":{"schema":{"type":"array","items":{"$ref":"#/components/schemas/Summary"}}}}},"401":{"$ref":"#/components/responses/Error"},"405":{"$ref":"#/components/responses/Error"},"421":{"$ref":"#/components/responses/Error"}}}},
"/api/switchers/{id}":{"parameters":[{"$ref":"#/components/parameters/Id"}],"get":{"summary":"one switcher's state as last read","responses":{"200":{"description":"the state","content":{"application/json":{"schema":{"$ref":"#/components/schemas/Switcher"}}}},"404":{"$ref":"#/components/responses/Error"},"503":{"$ref":"#/components/responses/Error"}}}},
"/api/switchers/{id}/route":{"parameters":[{"$ref":"#/components/parameters/Id"}],"post":{"summary":"an input to an output","requestBody":{"required":true,"content":{"application/json":{"schema":{"type":"object","additionalProperties":false,"required":["output","input"],"properties":{"output":{"type":"integer","minimum":1,"maximum":2},"input":{"type":"integer","minimum":1,"maximum":4}}}}}},"responses":)JSON" COMMAND_RESPONSES R"JSON(}},
"/api/switchers/{id}/beep":{"parameters":[{"$ref":"#/components/parameters/Id"}],"post":{"summary":"the beeper","requestBody":{"required":true,"content":{"application/json":{"schema":{"type":"object","additionalProperties":false,"required":["beep"],"properties":{"beep":{"type":"boolean"}}}}}},"responses":)JSON" COMMAND_RESPONSES R"JSON(}},
"/api/switchers/{id}/dvi":{"parameters":[{"$ref":"#/components/parameters/Id"}],"post":{"summary":"DVI compatibility","requestBody":{"required":true,"content":{"application/json":{"schema":{"type":"object","additionalProperties":false,"required":["dvi"],"properties":{"dvi":{"type":"boolean"}}}}}},"responses":)JSON" COMMAND_RESPONSES R"JSON(}},
"/api/switchers/{id}/edid":{"parameters":[{"$ref":"#/components/parameters/Id"}],"post":{"summary":"a built-in EDID to an input","requestBody":{"required":true,"content":{"application/json":{"schema":{"type":"object","additionalProperties":false,"required":["input","edid"],"properties":{"input":{"type":"integer","minimum":1,"maximum":4},"edid":{"$ref":"#/components/schemas/EdidName"}}}}}},"responses":)JSON" COMMAND_RESPONSES R"JSON(}},
"/api/switchers/{id}/scene":{"parameters":[{"$ref":"#/components/parameters/Id"}],"post":{"summary":"a scene of the scenes folder","requestBody":{"required":true,"content":{"application/json":{"schema":{"type":"object","additionalProperties":false,"required":["scene"],"properties":{"scene":{"type":"string"}}}}}},"responses":)JSON" COMMAND_RESPONSES R"JSON(}},
"/api/switchers/{id}/refresh":{"parameters":[{"$ref":"#/components/parameters/Id"}],"post":{"summary":"read the switcher now","responses":)JSON" COMMAND_RESPONSES R"JSON(}},
"/api/scenes":{"get":{"summary":"the scenes, and the one each switcher matches","responses":{"200":{"description":"the scenes","content":{"application/json":{"schema":{"$ref":"#/components/schemas/Scenes"}}}}}}},
"/api/events":{"get":{"summary":"the WebSocket stream of changes","responses":{"101":{"description":"switched to WebSocket"},"426":{"$ref":"#/components/responses/Error"}}}},
"/api/openapi.json":{"get":{"summary":"this document","responses":{"200":{"description":"OpenAPI 3"}}}}
},
"components":{
"parameters":{"Id":{"name":"id","in":"path","required":true,"schema":{"type":"string"}}},
"responses":{"Error":{"description":"refused, with the reason","content":{"application/json":{"schema":{"$ref":"#/components/schemas/Error"}}}}},
"schemas":{
"EdidName":{"description":"a built-in EDID, as the switcher names it","type":"string","enum":["@EDID_NAMES@"]},
"Error":{"type":"object","additionalProperties":false,"required":["error"],"properties":{"error":{"type":"string"}}},
"Summary":{"type":"object","additionalProperties":false,"required":["id","name","link","online"],"properties":{"id":{"type":"string"},"name":{"type":"string"},"link":{"type":"string"},"online":{"type":"boolean"}}},
"Input":{"type":"object","additionalProperties":false,"required":["input","signal","edid"],"properties":{"input":{"type":"integer"},"signal":{"type":"boolean"},"edid":{"type":"string"}}},
"Output":{"type":"object","additionalProperties":false,"required":["output","signal","input"],"properties":{"output":{"type":"integer"},"signal":{"type":"boolean"},"input":{"type":"integer"}}},
"Device":{"type":"object","nullable":true,"additionalProperties":false,"required":["line","type","size","version","build"],"properties":{"line":{"type":"string"},"type":{"type":"string"},"size":{"type":"string"},"version":{"type":"string"},"build":{"type":"string"}}},
"Switcher":{"type":"object","additionalProperties":false,"required":["id","online","inputs","outputs","beep","dvi","device"],"properties":{"id":{"type":"string"},"online":{"type":"boolean"},"error":{"type":"string"},"inputs":{"type":"array","items":{"$ref":"#/components/schemas/Input"}},"outputs":{"type":"array","items":{"$ref":"#/components/schemas/Output"}},"beep":{"type":"boolean"},"dvi":{"type":"boolean"},"device":{"$ref":"#/components/schemas/Device"}}},
"Result":{"type":"object","additionalProperties":false,"required":["ok","command","switcher"],"properties":{"ok":{"type":"boolean"},"command":{"type":"string"},"error":{"type":"string"},"report":{"type":"object"},"switcher":{"$ref":"#/components/schemas/Switcher"}}},
"Scenes":{"type":"object","additionalProperties":false,"required":["scenes","switchers"],"properties":{"scenes":{"type":"array","items":{"type":"string"}},"switchers":{"type":"array","items":{"type":"object","additionalProperties":false,"required":["id","scene"],"properties":{"id":{"type":"string"},"scene":{"type":"string","nullable":true}}}}}}
}}
})JSON";

std::string OpenApiDocument()
{
    std::string names;
    for (int k = 0; k < kEdidNames; ++k)
        names += (k ? "\",\"" : "") + std::string(EdidListName(k));
    std::string doc = kOpenApi;
    const std::string mark = "@EDID_NAMES@";
    doc.replace(doc.find(mark), mark.size(), names);
    return doc;
}

}  // namespace corvane::service
