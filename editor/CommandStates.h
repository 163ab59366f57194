#pragma once
// The state of the frame's commands and status panels, kept apart from the
// widgets: documents and commands write it, the frame's window mirrors it
// into its tool buttons, menu items and status bar.

#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

// The tool buttons, left to right; "" stands for a separator.
const std::vector<std::string>& ToolButtonNames();
// The menu items that carry a command, menu by menu.
const std::vector<std::string>& MenuItemNames();
// The 19 tool buttons and 6 menu items that EnableImageCommands switches.
const std::vector<std::string>& ImageCommandNames();

// The width of status panel 0 for a frame client width: the three fixed
// panels of 86 keep the right end.
int StatusPanel0Width(int clientWidth);

class TCommandStates {
public:
    // Every command enabled but those the frame's form starts disabled;
    // panels at their first texts.
    TCommandStates();

    // Whether a name is one of the frame's commands.
    bool Known(const std::string& name) const { return FEnabled.count(name) != 0; }
    bool Enabled(const std::string& name) const;
    void SetEnabled(const std::string& name, bool enabled);
    // Check buttons (the browser toggle and its menu item).
    bool Checked(const std::string& name) const;
    void SetChecked(const std::string& name, bool checked);

    static constexpr int PanelCount = 4;
    const std::string& Panel(int index) const { return FPanels.at(static_cast<std::size_t>(index)); }
    void SetPanel(int index, const std::string& text);

    // Told after each change that really changes something.
    std::function<void(const std::string& name)> OnCommandChanged;
    std::function<void(int index)> OnPanelChanged;

private:
    std::map<std::string, bool> FEnabled;
    std::map<std::string, bool> FChecked;
    std::array<std::string, PanelCount> FPanels;
};

// Switches the image commands of a frame on or off: exactly the commands of
// ImageCommandNames.
void EnableImageCommands(TCommandStates& states, bool enabled);
