#pragma once

class ErrorReporter;
class PlayerSession;
class QComboBox;
struct WindowControls;

// Choosing group and vehicle, following computations started elsewhere, and requesting a track.
class SelectionController {
public:
    SelectionController(PlayerSession& session, WindowControls& ui) : s(session), ui(ui) {}

    void LoadGroups();
    void cmbGroupNameChange();
    // One handler for the three car boxes; `sender` is the box that changed.
    void cmbChange(QComboBox* sender);
    void RefreshGroup();
    // A computation ended; one started elsewhere is followed to its group and car.
    void followComputation(bool ownRequest);
    void ServerReceiveOnlineData() { RefreshGroup(); }

    void RequestTrack();

private:
    PlayerSession& s;
    WindowControls& ui;
};
