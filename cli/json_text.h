#pragma once

#include <string>
#include <string_view>

// `text` as a quoted JSON string; control characters escaped as \u00XX.
std::string JsonString(std::string_view text);
