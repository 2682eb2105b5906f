#pragma once
// The setup dialog's logic without its widgets: the settings it edits (TSetupFields), its controls as
// values (TSetupControls) with WriteControls and ReadControls, and acSetupExecute, which runs the dialog
// and applies an OK at once: a new HTTP port restarts the listener, the settings are saved, and a new Q-link
// adapter replaces the request service.
#include <functional>
#include <string>
#include <vector>

#include "app/fMain.h"
#include "net/uEthernetUtils.h"

namespace zelto {

// What the main window hands the dialog and takes back from it after OK.
struct TSetupFields {
    std::string fHttpServerPort;         // decimal text
    std::string fQLinkNetworkAdapterID;  // empty: none chosen (the default adapter)
    std::string fQLinkPassword;
    bool fLogToFile = false;
};

// The dialog's controls as values.
struct TSetupControls {
    std::string HttpServerPort;
    std::vector<std::string> AdapterItems;  // one line per adapter, in the adapter list's order
    int AdapterIndex = -1;                  // selected item; -1 none
    std::string AdapterText;                // the drop-down's text field
    std::string AdapterHint;                // its tool tip: the whole text, for long adapter names
    std::string QLinkPassword;
    bool LogToFile = false;
};

// Fills the controls from the fields. With an adapter list, the list is read anew from the host, its lines
// fill the drop-down, and the adapter with the fields' ID is selected (none when no adapter has it).
void WriteControls(const TSetupFields& fields, TEthernetAdapterInfoList* adapters, TSetupControls& controls);

// Copies the controls into the fields. The adapter is the list item at the selected index; nothing selected,
// no list, or an index outside it gives an empty ID (text typed into the field selects nothing).
void ReadControls(const TSetupControls& controls, const TEthernetAdapterInfoList* adapters, TSetupFields& fields);

// The port an OK asks for: the text as a whole number cut to its low 16 bits, or currentPort when the text
// is not a number (for example empty).
uint16_t SetupPort(const std::string& text, uint16_t currentPort);

// What an acSetupExecute did.
struct TSetupOutcome {
    bool Accepted = false;          // the dialog ended with OK
    bool ListenerRestarted = false; // the port changed (ListenerError tells whether it opened)
    std::string ListenerError;
    bool ServiceReplaced = false;   // the adapter changed
};

// Runs the setup dialog for the main window and applies an OK. showModal gets the fields filled from the
// window and returns true for OK (with the fields as the user left them). beforeSave runs right before the
// settings are written (the window records its geometry there). A port that cannot be opened and settings
// that cannot be written are reported through fmMain.OnShowMessage. The dialog gets the adapter in use
// (QLinkAdapterInUse); an adapter other than that one is stored and replaces the request service, the same
// one leaves the stored adapter as it is.
TSetupOutcome acSetupExecute(TfmMain& fmMain, const std::function<bool(TSetupFields&)>& showModal,
                             const std::function<void()>& beforeSave = {});

}  // namespace zelto
