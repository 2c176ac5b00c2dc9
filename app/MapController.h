#pragma once

class TForm1;

// The map redraws of the player: trail (1), vehicle marker (2), checkpoints (4).
class MapController {
public:
    explicit MapController(TForm1& form) : f(form) {}

    void CreateMapTables();
    void RefreshLayers(int mode);
    void ShowCheckpoints();
    void ToolButton1Click();

private:
    TForm1& f;
};
