#pragma once

class IMapvexControl;
class MapLayers;
class PlayerSession;
struct WindowControls;

// The map redraws of the player: trail (1), vehicle marker (2), checkpoints (4).
class MapController {
public:
    MapController(PlayerSession& session, WindowControls& ui, MapLayers& layers,
                  IMapvexControl& control)
        : s(session), ui(ui), layers_(layers), control_(control) {}

    void CreateMapTables();
    void RefreshLayers(int mode);
    void ShowCheckpoints();
    void ToolButton1Click();
    // A trip's track was loaded: its trail drawn, the view at its start.
    void showTrack();

private:
    PlayerSession& s;
    WindowControls& ui;
    MapLayers& layers_;
    IMapvexControl& control_;
};
