#pragma once
// Hints of commands: "short|long". The short part is the tool tip, the long
// part goes to the status bar; a hint without "|" serves as both.

#include <string>
#include <utility>

struct THintParts {
    std::string Short;
    std::string Long;
};

inline THintParts SplitHint(const std::string& hint)
{
    const auto bar = hint.find('|');
    if (bar == std::string::npos)
        return {hint, hint};
    return {hint.substr(0, bar), hint.substr(bar + 1)};
}
