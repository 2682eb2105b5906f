#include "app/uSetup.h"

#include "base/NumberText.h"
#include "log/uLog.h"

namespace zelto {

void WriteControls(const TSetupFields& fields, TEthernetAdapterInfoList* adapters, TSetupControls& controls) {
    controls.HttpServerPort = fields.fHttpServerPort;
    if (adapters) {
        controls.AdapterItems.clear();
        adapters->Refresh();
        adapters->WriteToCombo(controls.AdapterItems);
        controls.AdapterIndex = adapters->IndexOf(fields.fQLinkNetworkAdapterID);
        const bool selected = controls.AdapterIndex >= 0 &&
                              controls.AdapterIndex < static_cast<int>(controls.AdapterItems.size());
        controls.AdapterText = selected ? controls.AdapterItems[static_cast<std::size_t>(controls.AdapterIndex)] : "";
        controls.AdapterHint = controls.AdapterText;
    }
    controls.QLinkPassword = fields.fQLinkPassword;
    controls.LogToFile = fields.fLogToFile;
}

void ReadControls(const TSetupControls& controls, const TEthernetAdapterInfoList* adapters, TSetupFields& fields) {
    fields.fHttpServerPort = controls.HttpServerPort;
    fields.fQLinkNetworkAdapterID.clear();
    if (adapters && controls.AdapterIndex >= 0 && controls.AdapterIndex < adapters->Count()) {
        fields.fQLinkNetworkAdapterID = adapters->GetItem(controls.AdapterIndex)->ID();
    }
    fields.fQLinkPassword = controls.QLinkPassword;
    fields.fLogToFile = controls.LogToFile;
}

uint16_t SetupPort(const std::string& text, uint16_t currentPort) {
    int32_t value = 0;
    if (!TryParseWholeNumber(text, value)) return currentPort;
    return static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu);
}

TSetupOutcome acSetupExecute(TfmMain& fmMain, const std::function<bool(TSetupFields&)>& showModal,
                             const std::function<void()>& beforeSave) {
    TSetupOutcome outcome;
    // The dialog shows the adapter the service runs on (an --adapter of this run before the stored one), and
    // only a choice that differs from it is a change.
    const std::string adapterInUse = fmMain.QLinkAdapterInUse();
    const uint16_t currentPort = fmMain.ListenerActive() ? fmMain.ListenerPort() : fmMain.ListenerDefaultPort();

    TSetupFields fields;
    fields.fHttpServerPort = std::to_string(currentPort);
    fields.fQLinkNetworkAdapterID = adapterInUse;
    fields.fQLinkPassword = fmMain.QLinkPassword();
    fields.fLogToFile = MyLog.Enabled;
    if (!showModal(fields)) return outcome;
    outcome.Accepted = true;

    const uint16_t port = SetupPort(fields.fHttpServerPort, currentPort);
    if (port != currentPort) {
        fmMain.SetHttpPort(port);
        outcome.ListenerRestarted = true;
        outcome.ListenerError = fmMain.RestartListener(port);
        // Without a listener the program runs on; the status display shows the inactive client picture.
        if (!outcome.ListenerError.empty() && fmMain.OnShowMessage) fmMain.OnShowMessage(outcome.ListenerError);
    }

    const bool adapterChanged = fields.fQLinkNetworkAdapterID != adapterInUse;
    if (adapterChanged) fmMain.SetQLinkNetworkAdapter(fields.fQLinkNetworkAdapterID);
    fmMain.SetQLinkPassword(fields.fQLinkPassword);  // reaches the service with the next variable request
    MyLog.Enabled = fields.fLogToFile;

    if (beforeSave) beforeSave();
    try {
        fmMain.SaveSettings();
    } catch (const std::exception& e) {
        if (fmMain.OnShowMessage) fmMain.OnShowMessage(e.what());
    }

    if (adapterChanged) {
        fmMain.ReplaceZeltoServer();
        outcome.ServiceReplaced = true;
    }
    return outcome;
}

}  // namespace zelto
