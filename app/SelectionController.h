#pragma once

class QComboBox;
class TForm1;

// Choosing group and vehicle, following computations started elsewhere, requesting a track
// and loading a trip's track into the store.
class SelectionController {
public:
    explicit SelectionController(TForm1& form) : f(form) {}

    void LoadGroups();
    void cmbGroupNameChange();
    // One handler for the three car boxes; `sender` is the box that changed.
    void cmbChange(QComboBox* sender);
    void RefreshGroup();
    void ServerEndComputing();
    void ServerReceiveOnlineData() { RefreshGroup(); }

    void RequestTrack();
    void LoadTrack(int tripNumber);

private:
    TForm1& f;
};
