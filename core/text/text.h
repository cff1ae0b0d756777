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
// A file path as typed ("dir.fw/../notes.txt"), tidied to name the same file: without "."
// and ".." steps. As given when the tidy path would name another file (a step
// through a symbolic link) or the file cannot be reached.
std::string TidyPath(const std::string& path);

}  // namespace corvane
