#include "CommandStates.h"

#include <stdexcept>

const std::vector<std::string>& ToolButtonNames()
{
    static const std::vector<std::string> names = {
        "bouvrir", "Bparcourir", "benr", "Benrsous", "",
        "bsourcescan", "bscan", "",
        "bimprimer", "bimpv", "",
        "bannuler", "",
        "bcopier", "bcoller", "bduplique", "",
        "bcontraste", "baccentuer", "baccentuerdav", "badoucir", "badoucirdav", "bfiltrep", "",
        "bgris", "btrame", "",
        "brotateG", "brotateD", "brecadrer", "Bkavrel", "bkavrelc", "",
        "blplus", "blmoins", "",
        "baide", "ToolButton10",
    };
    return names;
}

const std::vector<std::string>& MenuItemNames()
{
    static const std::vector<std::string> names = {
        "FileOpenItem", "FileCloseItem", "FileSaveItem", "FileSaveAsItem", "Parcourir1",
        "Imprimer1", "Imprimerlesvignettes1", "Numriser1", "Choixduscanneur1", "FileExitItem",
        "Copierdanslepressepapier1", "Collerdepuislepressepapier1", "Dupliquer1", "Annulerladernireaction1",
        "WindowCascadeItem", "WindowTileItem", "WindowTileItem2",
        "HelpAboutItem", "AideCorvinel1",
    };
    return names;
}

const std::vector<std::string>& ImageCommandNames()
{
    static const std::vector<std::string> names = {
        "bimprimer", "bcontraste", "baccentuer", "baccentuerdav", "badoucir", "badoucirdav", "bgris",
        "btrame", "brotateG", "brotateD", "brecadrer", "Bkavrel", "bduplique", "bfiltrep", "Benrsous",
        "benr", "blplus", "blmoins", "bcopier",
        "FileCloseItem", "FileSaveItem", "FileSaveAsItem", "Imprimer1", "Copierdanslepressepapier1", "Dupliquer1",
    };
    return names;
}

int StatusPanel0Width(int clientWidth)
{
    return clientWidth - 264;
}

TCommandStates::TCommandStates()
{
    for (const std::string& name : ToolButtonNames())
        if (!name.empty())
            FEnabled[name] = true;
    for (const std::string& name : MenuItemNames())
        FEnabled[name] = true;
    for (const char* name : {"benr", "bimpv", "bannuler", "bduplique", "Imprimerlesvignettes1"})
        FEnabled[name] = false;
    FChecked["Bparcourir"] = false;
    FChecked["Parcourir1"] = false;
    FPanels = {"texte état", "0 x 0", "x=0 y=0", "0 x 0"};
}

bool TCommandStates::Enabled(const std::string& name) const
{
    const auto it = FEnabled.find(name);
    if (it == FEnabled.end())
        throw std::out_of_range("unknown command " + name);
    return it->second;
}

void TCommandStates::SetEnabled(const std::string& name, bool enabled)
{
    const auto it = FEnabled.find(name);
    if (it == FEnabled.end())
        throw std::out_of_range("unknown command " + name);
    if (it->second == enabled)
        return;
    it->second = enabled;
    if (OnCommandChanged)
        OnCommandChanged(name);
}

bool TCommandStates::Checked(const std::string& name) const
{
    const auto it = FChecked.find(name);
    return it != FChecked.end() && it->second;
}

void TCommandStates::SetChecked(const std::string& name, bool checked)
{
    bool& value = FChecked[name];
    if (value == checked)
        return;
    value = checked;
    if (OnCommandChanged)
        OnCommandChanged(name);
}

void TCommandStates::SetPanel(int index, const std::string& text)
{
    std::string& panel = FPanels.at(static_cast<std::size_t>(index));
    if (panel == text)
        return;
    panel = text;
    if (OnPanelChanged)
        OnPanelChanged(index);
}

void EnableImageCommands(TCommandStates& states, bool enabled)
{
    for (const std::string& name : ImageCommandNames())
        states.SetEnabled(name, enabled);
}
