// Small text helpers for words typed by people: command-line words, configuration lines, MQTT
// payloads. ASCII only: names and keywords here are ASCII, and a byte above 0x7F stays as it is.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// Without blanks, tabs, carriage returns and line feeds at either end.
std::string Trim(std::string_view text);
// With the ASCII capitals A-Z made small.
std::string Lower(std::string_view text);

}  // namespace corvane
