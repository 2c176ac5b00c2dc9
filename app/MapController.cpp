#include "MapController.h"

#include "IMapvexControl.h"
#include "IVantrelAutomation.h"
#include "MapLayers.h"
#include "PlayerSession.h"
#include "ValueLabel.h"
#include "WindowControls.h"

#include <QLabel>
#include <QToolButton>

void MapController::CreateMapTables() {
    layers_.createTables();
}

void MapController::RefreshLayers(int mode) {
    switch (mode) {
    case 1:
        if (s.hasServer())
            layers_.refreshTrail(s.server(), s.selection.CurrentTrip);
        break;
    case 2:
        layers_.refreshMarker(s.CarMarkerTexts);
        ui.Label10->setText(s.CarMarkerTexts.value(2));
        break;
    case 4:
        layers_.refreshCheckpoints();
        break;
    default:
        break;
    }
}

void MapController::ShowCheckpoints() {
    if (!s.hasServer() || s.computeStatus() == 1)
        return;
    if (s.checkpointsShown)
        layers_.readCheckpoints(s.server());
    RefreshLayers(4);
}

void MapController::ToolButton1Click() {
    if (ui.ToolButton1->isChecked()) {
        s.checkpointsShown = true;
        ShowCheckpoints();
    } else {
        s.checkpointsShown = false;
        layers_.clearCheckpoints();
    }
}

void MapController::showTrack() {
    layers_.shapes.count = 0;
    ui.ToolButton4->setChecked(true);
    RefreshLayers(1);
    control_.SetCurScale(20000.0);
    control_.CenterOn(s.track.data(3), s.track.data(2));
}
