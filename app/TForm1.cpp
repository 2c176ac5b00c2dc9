#include "TForm1.h"

#include "DateTimeValue.h"
#include "EventRibbon.h"
#include "ExportController.h"
#include "FileOpening.h"
#include "FramePacer.h"
#include "GlyphButton.h"
#include "IMapvexControl.h"
#include "IVantrelAutomation.h"
#include "ImageLists.h"
#include "InfoPointsController.h"
#include "LoadProgress.h"
#include "LocalAutomation.h"
#include "MapController.h"
#include "MapLayers.h"
#include "MapStyles.h"
#include "MessageSink.h"
#include "PlaybackController.h"
#include "PlaybackTimer.h"
#include "PlayerKeys.h"
#include "PlayerSession.h"
#include "RecentMaps.h"
#include "SelectionController.h"
#include "SettingsController.h"
#include "SpeedChart.h"
#include "UpDown.h"
#include "ValueLabel.h"
#include "VantrelError.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QSlider>
#include <QSplitter>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <utility>

namespace {

// Typing limits of a line edit: at most `maxTyped` characters typed, and a character filter.
// Text set by the program keeps its length.
class TypingFilter : public QObject {
public:
    TypingFilter(QWidget* receiver, QLineEdit* edit, int maxTyped,
                 std::function<bool(QChar)> accepts)
        : QObject(receiver), edit_(edit), maxTyped_(maxTyped), accepts_(std::move(accepts)) {
        receiver->installEventFilter(this);
        if (edit != receiver)
            edit->installEventFilter(this); // keys sent to the edit itself obey the same rules
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (text.isEmpty() || !text.at(0).isPrint())
            return key->key() == Qt::Key_Backspace ? !accepts_(QChar(8)) : false;
        if (!accepts_(text.at(0)))
            return true;
        return edit_->text().size() - edit_->selectedText().size() >= maxTyped_;
    }

private:
    QLineEdit* edit_;
    int maxTyped_;
    std::function<bool(QChar)> accepts_;
};

} // namespace

TForm1::TForm1(PlayerEnvironment environment, QWidget* parent)
    : QMainWindow(parent), environment_(std::move(environment)), errors_(*environment_.messages),
      session_(std::make_unique<PlayerSession>(environment_.now, this)) {
    setObjectName(QStringLiteral("Form1"));
    createControls();

    auto* mapLayout = new QVBoxLayout(Panel1);
    mapLayout->setContentsMargins(0, 0, 0, 0);
    ChartSplitter = new QSplitter(Qt::Vertical, Panel1);
    ChartSplitter->setObjectName(QStringLiteral("ChartSplitter"));
    ChartSplitter->setChildrenCollapsible(false);
    mapLayout->addWidget(ChartSplitter);
    const PlayerEnvironment::MapParts parts = environment_.createMap(ChartSplitter);
    mapControl_ = parts.control;
    if (parts.widget) {
        MapvexCtrl = parts.widget;
        MapvexCtrl->setObjectName(QStringLiteral("MapvexCtrl"));
        ChartSplitter->addWidget(MapvexCtrl);
    }
    mapLayers_ = std::make_unique<MapLayers>(*mapControl_);
    session_->trailLinePrefix = mapstyles::kGeometryPrefix;
    session_->reportError = [this](const std::exception& error) { errors_.report(error); };
    selection_ = std::make_unique<SelectionController>(*session_, ui());
    playback_ =
        std::make_unique<PlaybackController>(*session_, ui(), errors_, environment_.skipRestMs);
    infoPoints_ = std::make_unique<InfoPointsController>(*session_, ui(), *mapLayers_);
    map_ = std::make_unique<MapController>(*session_, ui(), *mapLayers_, *mapControl_);
    settings_ = std::make_unique<SettingsController>(*session_, ui(), *environment_.messages,
                                                     environment_.settingsDirectory);
    createSpeedChart();
    connectHandlers();
    connectSession();
    qApp->installEventFilter(this); // the player's keys, wherever the focus is in the window
    new FramePacer(this);
    setWindowState(windowState() | Qt::WindowMaximized);
}

TForm1::~TForm1() {
    FormDestroy();
}

void TForm1::connectHandlers() {
    // Only the user's choice runs a box's handler; code that sets an index runs nothing.
    connect(cmbGroupName, &QComboBox::activated, this,
            [this] { guarded([this] { selection_->cmbGroupNameChange(); }); });
    for (QComboBox* car : {cmbCarName, cmbCarNum, cmbCarDevice})
        connect(car, &QComboBox::activated, this,
                [this, car] { guarded([this, car] { selection_->cmbChange(car); }); });
    connect(cmbInfoPoints, &QComboBox::activated, this,
            [this] { guarded([this] { infoPoints_->cmbInfoPointsChange(); }); });
    connect(ListView1, &QTreeWidget::itemClicked, this,
            [this] { guarded([this] { infoPoints_->ListView1Click(); }); });

    connect(btnPlay, &QPushButton::clicked, this,
            [this] { guarded([this] { playback_->btnPlayClick(); }); });
    connect(btnStop, &QPushButton::clicked, this,
            [this] { guarded([this] { playback_->btnStopClick(); }); });
    connect(Timer1, &PlaybackTimer::timeout, this,
            [this] { guarded([this] { playback_->Timer1Timer(); }); });
    connect(TrackBar, &QSlider::valueChanged, this,
            [this] { playback_->onTrackBarValueChanged(); });
    // Playing on from where the handle was let go, not from where it was last moved.
    connect(TrackBar, &QSlider::sliderReleased, this,
            [this] { session_->clock.rebase(session_->clock.PlayTime); });
    connect(cmbSpeed->lineEdit(), &QLineEdit::textEdited, this,
            [this] { guarded([this] { playback_->cmbSpeedChange(); }); });
    connect(cmbSpeed, &QComboBox::activated, this,
            [this] { guarded([this] { playback_->cmbSpeedChange(); }); });
    // On the box itself: an editable box hands its keys to its line edit directly, past any filter.
    new TypingFilter(cmbSpeed, cmbSpeed->lineEdit(), 4,
                     [this](QChar key) { return playback_->cmbSpeedKeyPress(key); });
    connect(UpDown1, &UpDown::changingEx, this, [this](UpDown::Direction direction) {
        guarded([this, direction] { playback_->UpDown1ChangingEx(direction); });
    });

    new TypingFilter(txtCont, txtCont, 4, [](QChar) { return true; });
    connect(UpDown2, &UpDown::changingEx, this, [this](UpDown::Direction direction, int position) {
        if (direction != UpDown::Direction::None)
            txtCont->setText(QString::number(position));
    });
    connect(txtCont, &QLineEdit::textChanged, this, [this](const QString& text) {
        bool ok = false;
        const int value = text.toInt(&ok);
        if (ok)
            UpDown2->setPosition(value);
    });

    connect(ToolButton1, &QToolButton::clicked, this,
            [this] { guarded([this] { map_->ToolButton1Click(); }); });
    // The session follows the two buttons from their design state on.
    session_->checkpointsButton = ToolButton1->isChecked();
    session_->infoPointsShown = ToolButton2->isChecked();
    connect(ToolButton1, &QToolButton::toggled, this,
            [this](bool down) { session_->checkpointsButton = down; });
    connect(ToolButton2, &QToolButton::toggled, this,
            [this](bool down) { session_->infoPointsShown = down; });
    connectEventHandlers();

    settings_->hooks.groupRestored = [this] { selection_->cmbGroupNameChange(); };
    settings_->hooks.carRestored = [this] { selection_->cmbChange(cmbCarDevice); };
    settings_->hooks.chartShown = [this] { return chartShown(); };
    settings_->hooks.setChartShown = [this](bool shown) { setChartShown(shown); };
}

void TForm1::connectSession() {
    PlayerSession& s = *session_;
    s.computationEnded.observe([this](bool own) { selection_->followComputation(own); });
    s.resultReady.observe([this] { infoPoints_->FillTripList(); });
    s.resultReady.observe([this] {
        if (std::exchange(liveResult_, false))
            showLiveEnd();
    });
    s.resultReady.observe([this] {
        if (const std::optional<double> moment = std::exchange(fleetMoment_, std::nullopt))
            showFleetMoment(*moment);
    });
    s.onlineData.observe([this] {
        selection_->ServerReceiveOnlineData();
        followLive();
    });
    s.serverClosed.observe([this] { ServerClosed(); });
    s.checkpointsWanted.observe([this] { map_->ShowCheckpoints(); });
    // A loaded trip: the chart, then the track bar and playback at its start, then the map's
    // trail and view, then the events of its kinds.
    s.trackLoaded.observe([this](int) {
        speedChart->setTrack(session_->track);
        playback_->showTrack();
        map_->showTrack();
        infoPoints_->loadTripEvents();
    });
    s.emptyTrackLoaded.observe([this] {
        speedChart->setTrack(session_->track);
        infoPoints_->loadTripEvents();
    });
    s.stopRequested.observe([this] { playback_->btnStopClick(); });
    s.rewound.observe([this](double start) { speedChart->setPlayTime(start); });
    s.seekRequested.observe([this](double playTime) { playback_->seekTo(playTime); });
    s.positionChanged.observe([this](double playTime) {
        map_->RefreshLayers(2);
        speedChart->setPlayTime(playTime);
    });
    // The window stays free while a trip travels: a busy pointer and the points coming.
    connect(&s, &PlayerSession::busy, this, [this](bool waiting) {
        if (waiting)
            QGuiApplication::setOverrideCursor(Qt::BusyCursor);
        else
            QGuiApplication::restoreOverrideCursor();
        showWork();
    });
    connect(&s, &PlayerSession::computing, this, [this] { showWork(); });
}

// The load under way, else the computation the window waits for.
void TForm1::showWork() {
    if (loadProgress_)
        loadProgress_->showWork(session_->loadingPoints(), session_->selection.RequestPending);
}

void TForm1::connectEventHandlers() {
    // Icons appear and go with the info-points button and with each kind's menu item.
    connect(ToolButton2, &QToolButton::clicked, this,
            [this] { guarded([this] { infoPoints_->loadTripEvents(); }); });
    connect(SpeedButton1, &QPushButton::clicked, this, [this] {
        PopupMenu1->popup(SpeedButton1->mapToGlobal(QPoint(0, SpeedButton1->height())));
    });
    for (int kind = 2; kind <= 13; ++kind) {
        QAction* item = PopupMenu1->findChild<QAction*>(QStringLiteral("mnu%1").arg(kind));
        if (!item)
            continue;
        connect(item, &QAction::triggered, this, [this, item, kind](bool shown) {
            item->setIcon(imagelists::menuImage(shown ? kind - 2 : kind + 10));
            if (size_t(kind) <= session_->definitions.size())
                session_->definitions[size_t(kind - 1)].VisibleIcon = shown;
            guarded([this] { infoPoints_->loadTripEvents(); });
        });
    }
    eventRibbon->onClick = [this](const TripEvent& event) {
        guarded([this, event] { infoPoints_->jumpToEvent(event); });
    };
    for (const QString& name : imagelists::eventIconNames())
        mapControl_->SetSymbolImage(name, imagelists::eventIcon(name));
    mapControl_->SetPictureClickHandler([this](const QString& layer, int record) {
        if (layer == QLatin1String("ipIcons"))
            guarded([this, record] { infoPoints_->clickIcon(record); });
    });
}

void TForm1::createSpeedChart() {
    speedChart = new SpeedChart(ChartSplitter);
    speedChart->setObjectName(QStringLiteral("speedChart"));
    ChartSplitter->addWidget(speedChart);
    ChartSplitter->setStretchFactor(0, 1);
    ChartSplitter->setStretchFactor(1, 0);
    ChartSplitter->setSizes({4000, 130});
    speedChart->onSeek = [this](double time) {
        guarded([this, time] { playback_->seekTo(time); });
    };
    if (MapvexCtrl) {
        loadProgress_ = new LoadProgress(MapvexCtrl);
        mapProgress_ = new LoadProgress(MapvexCtrl);
    }
    createLiveButton();
    createOpenButton();
    createMapButton();
    createFleetButton();
    // Its button, too, on the map's corner.
    exporter_ =
        new ExportController(*session_, ui(), errors_, *this, environment_.createSheetServer);
    if (!MapvexCtrl)
        return;
    // On the map's corner: the map and the panel beside it keep their places.
    btnChart = new QToolButton(MapvexCtrl);
    btnChart->setObjectName(QStringLiteral("btnChart"));
    btnChart->setText(QStringLiteral("График скорости"));
    btnChart->setToolTip(QStringLiteral("Показать или скрыть график скорости под картой"));
    btnChart->setCheckable(true);
    btnChart->setChecked(true);
    btnChart->setAutoRaise(false);
    connect(btnChart, &QToolButton::toggled, this,
            [this](bool shown) { speedChart->setVisible(shown); });
    MapvexCtrl->installEventFilter(this);
    placeChartButton();
}

void TForm1::createLiveButton() {
    btnLive_ = new QToolButton(MapvexCtrl ? MapvexCtrl : Panel1);
    btnLive_->setObjectName(QStringLiteral("btnLive"));
    btnLive_->setText(QStringLiteral("В реальном времени"));
    btnLive_->setToolTip(QStringLiteral(
        "Пересчитывать рейсы, когда от машины приходят новые позиции, и показывать её "
        "последнее место (пока период доходит до сегодняшнего дня)"));
    btnLive_->setCheckable(true);
    btnLive_->setAutoRaise(false);
    connect(btnLive_, &QToolButton::toggled, this, [this](bool on) { live_.setEnabled(on); });
}

void TForm1::createOpenButton() {
    btnOpen_ = new QToolButton(MapvexCtrl ? MapvexCtrl : Panel1);
    btnOpen_->setObjectName(QStringLiteral("btnOpen"));
    btnOpen_->setText(QStringLiteral("Открыть файл…"));
    btnOpen_->setToolTip(QStringLiteral(
        "Показать трек из файла GPX, KML или GeoJSON (его можно и перетащить на окно)"));
    btnOpen_->setAutoRaise(false);
    connect(btnOpen_, &QToolButton::clicked, this, [this] {
        QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (!QFileInfo(folder).isDir()) // a name of a folder that is not there reads as a file name
            folder = QDir::homePath();
        const QStringList paths = QFileDialog::getOpenFileNames(
            this, QStringLiteral("Открыть трек"), folder,
            QStringLiteral("Треки (*.gpx *.GPX *.kml *.KML *.geojson *.json);;GPX (*.gpx "
                           "*.GPX);;KML (*.kml *.KML);;"
                           "GeoJSON (*.geojson *.json)"));
        openFiles(paths);
    });
    setAcceptDrops(true);
}

void TForm1::createMapButton() {
    btnMap_ = new QToolButton(MapvexCtrl ? MapvexCtrl : Panel1);
    btnMap_->setObjectName(QStringLiteral("btnMap"));
    btnMap_->setText(QStringLiteral("Карта…"));
    btnMap_->setToolTip(QStringLiteral(
        "Открыть другую карту: OpenStreetMap, GeoPackage, Shapefile, GeoJSON, GeoTIFF, "
        "MBTiles, папку тайлов или описание карты .chart"));
    btnMap_->setPopupMode(QToolButton::InstantPopup);
    btnMap_->setAutoRaise(false);
    auto* menu = new QMenu(btnMap_);
    // The recent maps are read again each time the menu opens.
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        menu->clear();
        connect(menu->addAction(QStringLiteral("Открыть карту…")), &QAction::triggered, this,
                [this] {
                    const QString path = QFileDialog::getOpenFileName(
                        this, QStringLiteral("Открыть карту"),
                        QFileInfo(session_->MapPath).absolutePath(),
                        QStringLiteral("Карты (*.osm.pbf *.pbf *.osm *.gpkg *.shp *.geojson *.json "
                                       "*.tif *.tiff *.mbtiles *.chart);;"
                                       "Все файлы (*)"));
                    if (!path.isEmpty())
                        guarded([this, path] { chooseMap(path); });
                });
        const QStringList recent = RecentMaps(environment_.settingsDirectory).paths();
        if (!recent.isEmpty())
            menu->addSeparator();
        for (const QString& path : recent)
            connect(menu->addAction(QFileInfo(path).fileName()), &QAction::triggered, this,
                    [this, path] { guarded([this, path] { chooseMap(path); }); });
    });
    btnMap_->setMenu(menu);
}

void TForm1::chooseMap(const QString& path) {
    OpenMap(path, [this, path] {
        session_->MapPath = path; // saved as MapPath at the close, as the settings always kept it
        RecentMaps(environment_.settingsDirectory).add(path);
    });
}

void TForm1::openFiles(const QStringList& paths) {
    for (const QString& path : paths)
        guarded([this, &path] {
            QString store = session_->storePath();
            if (store.isEmpty())
                store = LocalAutomation::defaultStorePath();
            showOpened(fileopening::importShowingProgress(*this, store, path));
        });
}

void TForm1::showOpened(const OpenedFile& file) {
    if (!session_->hasServer())
        throw VantrelError(
            QStringLiteral("Файл сохранён, но показать его нельзя: нет связи с сервером Vantrel"));
    cmbGroupName->clear(); // the group «Файлы» may be new
    selection_->LoadGroups();
    const int group = cmbGroupName->findText(OpenedFile::kGroupName);
    if (group < 0)
        throw VantrelError(
            QStringLiteral("Сервер не знает группы «%1»").arg(OpenedFile::kGroupName));
    cmbGroupName->setCurrentIndex(group);
    selection_->cmbGroupNameChange();
    const int car = cmbCarDevice->findText(QString::number(file.device));
    if (car < 0)
        throw VantrelError(QStringLiteral("Сервер не знает машины «%1»").arg(file.car));
    // The file's own span, its last moment included.
    const QDateTime begin = datetime::toQDateTime(file.begin);
    const QDateTime end = datetime::toQDateTime(file.end + 1 / datetime::kSecondsPerDay);
    DateBegin->setDate(begin.date());
    TimeBegin->setTime(begin.time());
    DateEnd->setDate(end.date());
    TimeEnd->setTime(end.time());
    cmbCarDevice->setCurrentIndex(car);
    session_->selection.RequestPending = false; // the operator's newest choice is asked for
    selection_->cmbChange(cmbCarDevice);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (!fileopening::trackFiles(event->mimeData()->urls()).isEmpty())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QStringList files = fileopening::trackFiles(event->mimeData()->urls());
    event->acceptProposedAction();
    // Opened after the drop has ended, so that the file manager is not kept waiting.
    QTimer::singleShot(0, this, [this, files] { openFiles(files); });
}

void TForm1::followLive() {
    const double end = datetime::fromDateAndTime(DateEnd->date(), TimeEnd->time());
    const double now = environment_.now();
    if (!live_.wantsRecompute(end, now, cmbCarDevice->currentIndex() >= 0,
                              session_->selection.RequestPending))
        return;
    live_.requested(now);
    liveResult_ = true;
    selection_->RequestTrack();
}

void TForm1::showLiveEnd() {
    const int last = ListView1->topLevelItemCount();
    if (last < 1)
        return;
    if (last != session_->selection.CurrentTrip) {
        ListView1->setCurrentItem(ListView1->topLevelItem(last - 1));
        session_->chooseTrip(last);
        lblTripNum->setText(QString::number(last));
    }
    // A second before the last point: the track bar's end itself stops and rewinds playback.
    session_->afterLoad([this] {
        if (session_->track.PointCount >= 1)
            playback_->seekTo(session_->track.time(session_->track.PointCount) -
                              1 / datetime::kSecondsPerDay);
    });
}

void TForm1::placeChartButton() {
    if (!btnChart || !MapvexCtrl)
        return;
    // The map's corner buttons, right to left, 6 px from the edges and 4 px apart.
    int left = MapvexCtrl->width() - 2;
    for (QToolButton* button :
         {btnChart, exporter_ ? exporter_->button() : nullptr, btnLive_, btnOpen_, btnMap_}) {
        if (!button)
            break;
        button->adjustSize();
        button->move(left - 4 - button->width(), 6);
        button->raise();
        left = button->x();
    }
    placeFleetButton();
}

bool TForm1::chartShown() const {
    return speedChart && !speedChart->isHidden();
}

void TForm1::setChartShown(bool shown) {
    if (btnChart)
        btnChart->setChecked(shown);
    else if (speedChart)
        speedChart->setVisible(shown);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == MapvexCtrl && event->type() == QEvent::Resize)
        placeChartButton();
    if (event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this &&
            playerKey(widget, *static_cast<QKeyEvent*>(event)))
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TForm1::playerKey(QWidget* receiver, const QKeyEvent& key) {
    // Wherever text is typed the keys are the editor's: line edits, spin and date boxes, and
    // editable combo boxes such as the speed box, which keep the focus for their line edit.
    const auto editor = [](QWidget* w) {
        const auto* combo = qobject_cast<QComboBox*>(w);
        return qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
               (combo && combo->isEditable());
    };
    const bool editing = editor(QApplication::focusWidget()) || editor(receiver);
    const playerkeys::Action action = playerkeys::actionFor(key.key(), key.modifiers(), editing);
    switch (action.command) {
    case playerkeys::Command::None:
        return false;
    case playerkeys::Command::PlayPause:
        if (!key.isAutoRepeat()) // a held Space toggles once, not at the keyboard's repeat rate
            btnPlay->click();
        break;
    case playerkeys::Command::Stop:
        btnStop->click();
        break;
    case playerkeys::Command::Seek:
        guarded([this, &action] { playback_->seekBy(action.seconds); });
        break;
    case playerkeys::Command::Faster:
    case playerkeys::Command::Slower:
        guarded([this, &action] {
            playback_->UpDown1ChangingEx(action.command == playerkeys::Command::Faster
                                             ? UpDown::Direction::Up
                                             : UpDown::Direction::Down);
        });
        break;
    }
    return true;
}

void TForm1::makePlaybackControlsOpaque() {
    // Playback rewrites these controls many times a second. Painting their own background spares
    // the group box behind them a repaint each time; the colour is the box's as drawn, since the
    // style shades the inside of its frame.
    const auto shadeBehind = [](QWidget* control, QPoint probe) {
        const QImage box = control->parentWidget()->grab().toImage();
        QPalette palette = control->palette();
        palette.setColor(QPalette::Window, box.pixelColor(probe));
        control->setPalette(palette);
        control->setAutoFillBackground(true);
    };
    for (QWidget* label : std::initializer_list<QWidget*>{lblDate, lblSpeed, lblDistance})
        shadeBehind(label, {label->geometry().right() - 2, label->geometry().center().y()});
    shadeBehind(TrackBar, TrackBar->geometry().topRight() + QPoint(-1, 1));
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_)
        return;
    shown_ = true;
    // Start-up runs once the window is on the screen, from the message loop; the playback
    // controls' backgrounds are taken after it has asked the server, while the server works.
    QTimer::singleShot(0, this, [this] {
        FormShow();
        makePlaybackControlsOpaque();
    });
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormDestroy();
    QMainWindow::closeEvent(event);
}

void TForm1::FormShow() {
    shown_ = true;
    IVantrelAutomation* server = nullptr;
    try {
        server = environment_.createServer();
        if (!server)
            throw VantrelError(QStringLiteral("Нет сервера Vantrel"));
        server->StartServer();
    } catch (const std::exception&) {
        environment_.messages->showMessage(QStringLiteral("Ошибка запуска ПО Vantrel"),
                                           QStringLiteral("Ошибка"));
    }
    session_->attach(server);
    guarded([this] {
        map_->CreateMapTables();
        try {
            infoPoints_->FillTripList();
        } catch (const std::exception&) {
            // A server without a result yet has no trips to list.
        }
        selection_->LoadGroups();
        settings_->LoadSettings();
        infoPoints_->FillInfoPointKinds();
        session_->CarMarkerTexts = QStringList{QString(), QString(), QString()};
        OpenMap(session_->MapPath);
    });
    // The first key goes where Space plays: the trip list, not the period's first box.
    ListView1->setFocus(Qt::OtherFocusReason);
    if (!environment_.filesToOpen.isEmpty() || environment_.fleetAtStart)
        QTimer::singleShot(0, this, [this] {
            openRequested(environment_.filesToOpen, environment_.fleetAtStart);
        });
}

void TForm1::openRequested(const QStringList& files,
                           const std::optional<PlayerEnvironment::FleetStart>& fleet) {
    if (!files.isEmpty())
        openFiles(files);
    if (fleet)
        guarded([this, &fleet] { openFleet(fleet->group, fleet->from, fleet->to, fleet->at); });
    else {
        raise();
        activateWindow();
    }
}

void TForm1::FormDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    playback_->btnStopClick();
    settings_->SaveSettings();
}

void TForm1::ServerClosed() {
    session_->attach(nullptr);
    ListView1->setEnabled(false);
}

void TForm1::OpenMap(const QString& path, std::function<void()> opened) {
    const int opening = ++mapOpenings_;
    mapUnderWay_ = opening;
    // A read that lasts says so; a short one shows nothing.
    constexpr int kQuietMs = 300;
    QTimer::singleShot(kQuietMs, this, [this, opening, path] {
        if (mapProgress_ && mapUnderWay_ == opening)
            mapProgress_->showText(
                QStringLiteral("Открывается карта «%1»…").arg(QFileInfo(path).fileName()), 1);
    });
    mapControl_->LoadMapLater(path, QString(),
                              [this, path, opening, opened = std::move(opened)](int code) {
                                  mapOpened(path, opening, code, opened);
                              });
}

void TForm1::mapOpened(const QString& path, int opening, int code,
                       const std::function<void()>& opened) {
    if (mapUnderWay_ == opening)
        mapUnderWay_ = 0;
    if (mapProgress_)
        mapProgress_->showText(QString());
    if (code == 0) {
        if (opened)
            opened();
        return;
    }
    // For a file that is there but does not read, the control's own reason where it has one
    // (a corrupt tile package, an image without georeference…).
    const QString reason = mapControl_->LoadFailure();
    const bool unreadable =
        code != IMapvexControl::kMapNotFound && code != IMapvexControl::kMapNotAFile;
    environment_.messages->showMessage(unreadable && !reason.isEmpty()
                                           ? QStringLiteral("Не удалось открыть карту: ") + reason
                                           : mapLoadFailureText(path, code),
                                       QString());
}
