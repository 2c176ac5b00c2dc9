#include "MapController.h"

#include "IVantrelAutomation.h"
#include "MapLayers.h"
#include "TForm1.h"

#include <QLabel>
#include <QToolButton>

void MapController::CreateMapTables() { f.mapLayers->createTables(); }

void MapController::RefreshLayers(int mode) {
    switch (mode) {
    case 1:
        if (f.server)
            f.mapLayers->refreshTrail(*f.server, f.selectionState.CurrentTrip);
        break;
    case 2:
        f.mapLayers->refreshMarker(f.CarMarkerTexts);
        f.Label10->setText(f.CarMarkerTexts.value(2));
        break;
    case 4:
        f.mapLayers->refreshCheckpoints();
        break;
    default:
        break;
    }
}

void MapController::ShowCheckpoints() {
    if (!f.server || f.server->ComputeStatus() == 1)
        return;
    if (f.checkpointsShown)
        f.mapLayers->readCheckpoints(*f.server);
    RefreshLayers(4);
}

void MapController::ToolButton1Click() {
    if (f.ToolButton1->isChecked()) {
        f.checkpointsShown = true;
        ShowCheckpoints();
    } else {
        f.checkpointsShown = false;
        f.mapLayers->clearCheckpoints();
    }
}
