#include "FleetWindow.h"

#include "DateTimeValue.h"
#include "ErrorReporter.h"
#include "GlyphButton.h"
#include "SpeedText.h"
#include "TMapvexControl.h"
#include "VantrelError.h"
#include "Viewport.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kFrameMs = 25;      // 40 frames a second while playing
constexpr int kListEveryMs = 250; // the list's texts follow four times a second

QDateTimeEdit* dateTimeEdit(QWidget* parent) {
    auto* edit = new QDateTimeEdit(parent);
    edit->setTimeSpec(Qt::UTC); // date-time values are wall-clock values, shown as they are
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    return edit;
}

void setMoment(QDateTimeEdit* edit, double moment) {
    edit->setDateTime(datetime::toQDateTime(moment));
}

double momentOf(const QDateTimeEdit* edit) {
    const QDateTime value = edit->dateTime();
    return datetime::fromDateAndTime(value.date(), value.time());
}

} // namespace

FleetWindow::FleetWindow(Setup setup, ErrorReporter& errors, QWidget* parent)
    : QWidget(parent, Qt::Window), setup_(std::move(setup)), errors_(errors), replay_(setup_.now) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Весь парк"));
    buildControls();
    frameTimer_.setTimerType(Qt::PreciseTimer);
    frameTimer_.setInterval(kFrameMs);
    connect(&frameTimer_, &QTimer::timeout, this, [this] { errors_.guarded([this] { frame(); }); });
    connect(&loadWatcher_, &QFutureWatcher<Loaded>::finished, this, [this] {
        errors_.guarded([this] {
            loading_ = false;
            progress_->hide();
            cancel_->hide();
            const Loaded loaded = loadWatcher_.result();
            if (!loaded.error.isEmpty()) {
                setStatus(loaded.error);
                if (loaded.error != QStringLiteral("Чтение отменено"))
                    throw VantrelError(loaded.error);
                return;
            }
            if (loaded.fleet)
                showFleet(loaded.fleet);
        });
    });
    connect(&visitWatcher_, &QFutureWatcher<std::vector<AreaVisit>>::finished, this, [this] {
        errors_.guarded([this] {
            const std::vector<AreaVisit> visits = visitWatcher_.result();
            const Fleet* fleet = replay_.fleet();
            visits_->clear();
            if (!fleet)
                return;
            for (const AreaVisit& v : visits) {
                auto* row = new QTreeWidgetItem(visits_);
                row->setText(0, fleet->vehicles[v.vehicle].name);
                row->setToolTip(0, fleet->vehicles[v.vehicle].name);
                // A stay cut by either end of the asked span says so; its first and last
                // positions inside within the span are in the tooltip.
                row->setText(1, v.insideAtFrom ? QStringLiteral("уже внутри")
                                               : datetime::formatLabel(v.entry));
                row->setText(2, v.insideAtTo ? QStringLiteral("ещё внутри")
                                             : datetime::formatLabel(v.exit));
                const QString span =
                    QStringLiteral("внутри с %1 по %2")
                        .arg(datetime::formatLabel(v.entry), datetime::formatLabel(v.exit));
                row->setToolTip(1, span);
                row->setToolTip(2, span);
                row->setData(0, Qt::UserRole, qulonglong(v.vehicle));
                row->setData(1, Qt::UserRole, v.entry);
            }
            std::vector<bool> seen(fleet->vehicles.size());
            int vehicles = 0;
            for (const AreaVisit& v : visits)
                if (!seen[v.vehicle]) {
                    seen[v.vehicle] = true;
                    ++vehicles;
                }
            setStatus(QStringLiteral("В области (%1) побывало машин: %2, заездов: %3")
                          .arg(area_ ? area_->description() : QString())
                          .arg(vehicles)
                          .arg(visits.size()));
        });
    });
    resize(1280, 800);
}

FleetWindow::~FleetWindow() {
    ++*generation_; // whatever is being read stops at its next check
    frameTimer_.stop();
    loadWatcher_.waitForFinished();
    visitWatcher_.waitForFinished();
}

void FleetWindow::buildControls() {
    auto* whole = new QHBoxLayout(this);
    whole->setContentsMargins(4, 4, 4, 4);
    auto* left = new QVBoxLayout;
    whole->addLayout(left, 1);
    map_ = new TMapvexControl(this);
    map_->setObjectName(QStringLiteral("fleetMap"));
    map_->setMinimumSize(400, 300);
    left->addWidget(map_, 1);
    canvas_ = new FleetCanvas(*map_, replay_);
    canvas_->drawn = [this](FleetCanvas::Tool tool, QPointF from, QPointF to) {
        errors_.guarded([this, tool, from, to] { areaDrawn(tool, from, to); });
        rectangle_->setChecked(false);
        circle_->setChecked(false);
    };
    auto* timeRow = new QHBoxLayout;
    left->addLayout(timeRow);
    clock_ = new QLabel(this);
    clock_->setMinimumWidth(150);
    timeRow->addWidget(clock_);
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName(QStringLiteral("fleetSlider"));
    timeRow->addWidget(slider_, 1);
    connect(slider_, &QSlider::sliderMoved, this, [this](int value) {
        errors_.guarded([this, value] {
            replay_.seekSeconds(value);
            showMoment();
        });
    });
    connect(slider_, &QSlider::actionTriggered, this, [this](int action) {
        if (action == QAbstractSlider::SliderMove)
            return;
        QTimer::singleShot(0, this, [this] {
            replay_.seekSeconds(slider_->value());
            showMoment();
        });
    });
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    auto* statusRow = new QHBoxLayout;
    left->addLayout(statusRow);
    statusRow->addWidget(status_, 1);
    progress_ = new QProgressBar(this);
    progress_->setMaximumWidth(260);
    progress_->hide();
    statusRow->addWidget(progress_);
    cancel_ = new QPushButton(QStringLiteral("Отмена"), this);
    cancel_->hide();
    statusRow->addWidget(cancel_);
    connect(cancel_, &QPushButton::clicked, this, [this] { ++*generation_; });

    auto* panel = new QWidget(this);
    panel->setFixedWidth(400);
    whole->addWidget(panel);
    auto* right = new QVBoxLayout(panel);
    right->setContentsMargins(0, 0, 0, 0);
    title_ = new QLabel(panel);
    title_->setWordWrap(true);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    right->addWidget(title_);

    auto* playRow = new QHBoxLayout;
    right->addLayout(playRow);
    play_ = new GlyphButton(QStringLiteral("4"), 12, panel);
    play_->setToolTip(QStringLiteral("Воспроизвести"));
    pause_ = new GlyphButton(QStringLiteral(";"), 12, panel);
    pause_->setToolTip(QStringLiteral("Пауза"));
    stop_ = new GlyphButton(QStringLiteral("<"), 12, panel);
    stop_->setToolTip(QStringLiteral("Стоп: в начало периода"));
    for (GlyphButton* b : {play_, pause_, stop_}) {
        b->setFixedSize(28, 24);
        playRow->addWidget(b);
    }
    speed_ = new QComboBox(panel);
    for (const int factor : FleetReplay::speeds())
        speed_->addItem(speedtext::format(factor), factor);
    speed_->setToolTip(QStringLiteral("Скорость воспроизведения"));
    playRow->addWidget(speed_);
    playRow->addStretch(1);
    connect(play_, &QPushButton::clicked, this, [this] { setPlaying(true); });
    connect(pause_, &QPushButton::clicked, this, [this] { setPlaying(false); });
    connect(stop_, &QPushButton::clicked, this, [this] {
        replay_.stop();
        setPlaying(false);
    });
    connect(speed_, &QComboBox::activated, this,
            [this](int index) { replay_.setSpeed(speed_->itemData(index).toInt()); });

    auto* jumpRow = new QHBoxLayout;
    right->addLayout(jumpRow);
    jump_ = dateTimeEdit(panel);
    jump_->setObjectName(QStringLiteral("fleetJump"));
    jumpRow->addWidget(jump_, 1);
    auto* go = new QPushButton(QStringLiteral("Перейти"), panel);
    go->setToolTip(QStringLiteral("Показать весь парк в этот момент"));
    jumpRow->addWidget(go);
    const auto jump = [this] {
        errors_.guarded([this] {
            const Fleet* fleet = replay_.fleet();
            if (!fleet)
                return;
            const double moment = momentOf(jump_);
            if (moment < fleet->begin || moment > fleet->end)
                throw VantrelError(QStringLiteral("Момент %1 вне периода %2 — %3")
                                       .arg(datetime::formatLabel(moment),
                                            datetime::formatLabel(fleet->begin),
                                            datetime::formatLabel(fleet->end)));
            replay_.seekMoment(moment);
            showMoment();
        });
    };
    connect(go, &QPushButton::clicked, this, jump);
    connect(jump_, &QAbstractSpinBox::editingFinished, this, [this, jump] {
        if (jump_->hasFocus())
            jump();
    });

    vehicles_ = new QTreeWidget(panel);
    vehicles_->setObjectName(QStringLiteral("fleetVehicles"));
    vehicles_->setHeaderLabels(
        {QStringLiteral("Машина"), QStringLiteral("Скорость"), QStringLiteral("Где")});
    vehicles_->setRootIsDecorated(false);
    vehicles_->setUniformRowHeights(true);
    vehicles_->header()->resizeSection(0, 135);
    vehicles_->header()->resizeSection(1, 62);
    right->addWidget(vehicles_, 3);
    connect(vehicles_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        errors_.guarded([this, item] { centreOn(vehicles_->indexOfTopLevelItem(item)); });
    });
    connect(vehicles_, &QTreeWidget::itemChanged, this, [this] {
        std::vector<bool> shown(size_t(vehicles_->topLevelItemCount()));
        for (int i = 0; i < vehicles_->topLevelItemCount(); ++i)
            shown[size_t(i)] = vehicles_->topLevelItem(i)->checkState(0) == Qt::Checked;
        canvas_->setShown(std::move(shown));
        canvas_->update();
    });

    auto* areaBox = new QGroupBox(QStringLiteral("Кто был в области"), panel);
    right->addWidget(areaBox, 2);
    auto* areaLayout = new QVBoxLayout(areaBox);
    auto* toolRow = new QHBoxLayout;
    areaLayout->addLayout(toolRow);
    rectangle_ = new QToolButton(areaBox);
    rectangle_->setText(QStringLiteral("Прямоугольник"));
    circle_ = new QToolButton(areaBox);
    circle_->setText(QStringLiteral("Круг"));
    for (QToolButton* b : {rectangle_, circle_}) {
        b->setCheckable(true);
        b->setToolTip(QStringLiteral("Нарисовать на карте мышью"));
        toolRow->addWidget(b);
    }
    toolRow->addStretch(1);
    connect(rectangle_, &QToolButton::toggled, this, [this](bool on) {
        if (on)
            circle_->setChecked(false);
        canvas_->setTool(on                     ? FleetCanvas::Tool::Rectangle
                         : circle_->isChecked() ? FleetCanvas::Tool::Circle
                                                : FleetCanvas::Tool::None);
    });
    connect(circle_, &QToolButton::toggled, this, [this](bool on) {
        if (on)
            rectangle_->setChecked(false);
        canvas_->setTool(on                        ? FleetCanvas::Tool::Circle
                         : rectangle_->isChecked() ? FleetCanvas::Tool::Rectangle
                                                   : FleetCanvas::Tool::None);
    });
    auto* between = new QHBoxLayout;
    areaLayout->addLayout(between);
    areaFrom_ = dateTimeEdit(areaBox);
    areaTo_ = dateTimeEdit(areaBox);
    between->addWidget(new QLabel(QStringLiteral("с"), areaBox));
    between->addWidget(areaFrom_, 1);
    between->addWidget(new QLabel(QStringLiteral("по"), areaBox));
    between->addWidget(areaTo_, 1);
    auto* findRow = new QHBoxLayout;
    areaLayout->addLayout(findRow);
    areaText_ = new QLabel(QStringLiteral("Нарисуйте прямоугольник или круг"), areaBox);
    findRow->addWidget(areaText_, 1);
    auto* find = new QPushButton(QStringLiteral("Найти"), areaBox);
    findRow->addWidget(find);
    connect(find, &QPushButton::clicked, this, [this] {
        errors_.guarded([this] {
            if (!area_)
                throw VantrelError(
                    QStringLiteral("Сначала нарисуйте на карте прямоугольник или круг"));
            askArea(*area_);
        });
    });
    visits_ = new QTreeWidget(areaBox);
    visits_->setObjectName(QStringLiteral("fleetVisits"));
    visits_->setHeaderLabels(
        {QStringLiteral("Машина"), QStringLiteral("Въезд"), QStringLiteral("Выезд")});
    visits_->setRootIsDecorated(false);
    visits_->header()->resizeSection(0, 86);
    visits_->header()->resizeSection(1, 140);
    areaLayout->addWidget(visits_, 1);
    connect(visits_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        errors_.guarded([this, item] {
            const int vehicle = int(item->data(0, Qt::UserRole).toULongLong());
            replay_.seekMoment(item->data(1, Qt::UserRole).toDouble());
            vehicles_->setCurrentItem(vehicles_->topLevelItem(vehicle));
            showMoment();
            centreOn(vehicle);
        });
    });

    openMain_ = new QPushButton(QStringLiteral("Открыть в главном окне"), panel);
    openMain_->setToolTip(QStringLiteral(
        "Выбранная в списке машина, этот период и этот момент — в главном окне плеера"));
    right->addWidget(openMain_);
    connect(openMain_, &QPushButton::clicked, this,
            [this] { errors_.guarded([this] { openSelectedInMain(); }); });
}

void FleetWindow::load(const FleetRequest& request, double moment) {
    setPlaying(false);
    startMoment_ = moment;
    const quint64 mine = ++*generation_;
    loadWatcher_.waitForFinished(); // the cancelled one ends at its next check
    loading_ = true;
    progress_->setRange(0, 0);
    progress_->show();
    cancel_->show();
    setStatus(QStringLiteral("Читаю позиции группы «%1» за %2 — %3…")
                  .arg(request.group, datetime::formatLabel(request.from),
                       datetime::formatLabel(request.to)));
    QPointer<QProgressBar> bar = progress_;
    const auto progress = [bar](int done, int total) {
        QMetaObject::invokeMethod(
            bar,
            [bar, done, total] {
                if (bar) {
                    bar->setRange(0, total);
                    bar->setValue(done);
                    bar->setFormat(QStringLiteral("машин %v из %m"));
                }
            },
            Qt::QueuedConnection);
    };
    const QString store = setup_.storePath;
    const vserver::CancelToken cancel(generation_, mine);
    loadWatcher_.setFuture(QtConcurrent::run([store, request, progress, cancel]() -> Loaded {
        try {
            return {
                std::make_shared<const Fleet>(FleetLoader::load(store, request, progress, cancel)),
                {}};
        } catch (const vserver::Cancelled&) {
            return {nullptr, QStringLiteral("Чтение отменено")};
        } catch (const std::exception& error) {
            return {nullptr, QString::fromUtf8(error.what())};
        }
    }));
}

void FleetWindow::showFleet(std::shared_ptr<const Fleet> fleet) {
    replay_.setFleet(fleet);
    const int speed = speed_->findData(replay_.speed());
    speed_->setCurrentIndex(std::max(0, speed));
    setWindowTitle(QStringLiteral("Весь парк — %1").arg(fleet->groupName));
    title_->setText(
        QStringLiteral("%1 — машин: %2, %3 — %4")
            .arg(fleet->groupName)
            .arg(fleet->vehicles.size())
            .arg(datetime::formatLabel(fleet->begin), datetime::formatLabel(fleet->end)));
    slider_->setRange(0, int(std::min(replay_.length(), 2e9)));
    slider_->setPageStep(600);
    for (QDateTimeEdit* edit : {jump_, areaFrom_, areaTo_}) {
        edit->setDateTimeRange(datetime::toQDateTime(fleet->begin),
                               datetime::toQDateTime(fleet->end));
    }
    setMoment(areaFrom_, fleet->begin);
    setMoment(areaTo_, fleet->end);
    const QSignalBlocker blocker(vehicles_);
    vehicles_->clear();
    for (size_t v = 0; v < fleet->vehicles.size(); ++v) {
        auto* row = new QTreeWidgetItem(vehicles_);
        row->setText(0, fleet->vehicles[v].name);
        row->setCheckState(0, Qt::Checked);
        QPixmap swatch(10, 10);
        swatch.fill(FleetCanvas::colourOf(v));
        row->setIcon(0, QIcon(swatch));
        row->setToolTip(0, fleet->vehicles[v].number);
    }
    canvas_->setShown({});
    QString loaded = QStringLiteral("Загружено позиций: %1")
                         .arg(QLocale().toString(qlonglong(fleet->positionCount())));
    if (map_->LoadMap(setup_.mapPath, QString()) != 0)
        loaded += QStringLiteral(". ") + map_->loadFailure();
    fitView();
    setStatus(loaded);
    if (std::isfinite(startMoment_))
        replay_.seekMoment(startMoment_);
    showMoment();
}

void FleetWindow::fitView() {
    const Fleet* fleet = replay_.fleet();
    QRectF box;
    for (const VehicleTrack& v : fleet->vehicles)
        for (size_t i = 0; i < v.size(); i += std::max<size_t>(1, v.size() / 64)) {
            const QPointF p = mercator::project(v.lon(i), v.lat(i));
            box = box.isNull() ? QRectF(p, QSizeF(1, 1)) : box.united(QRectF(p, QSizeF(1, 1)));
        }
    if (box.isNull())
        return;
    const QPointF centre = mercator::unproject(box.center());
    map_->CenterOn(centre.y(), centre.x());
    const Viewport view = map_->viewport();
    const double mpp = std::max(box.width() / std::max(1, view.size.width()),
                                box.height() / std::max(1, view.size.height())) *
                       1.15;
    map_->SetCurScale(
        std::max(2000.0, mpp * view.dpi / 0.0254 * std::cos(centre.y() * M_PI / 180)));
}

void FleetWindow::setPlaying(bool playing) {
    if (playing && replay_.fleet()) {
        replay_.play();
        frameTimer_.start();
    } else {
        replay_.pause();
        frameTimer_.stop();
    }
    showMoment();
}

void FleetWindow::frame() {
    const bool moved = replay_.tick();
    if (!replay_.playing())
        frameTimer_.stop();
    if (!moved)
        return;
    const bool list = !listShown_.isValid() || listShown_.elapsed() >= kListEveryMs;
    showMoment(list);
}

void FleetWindow::showMoment(bool withList) {
    const Fleet* fleet = replay_.fleet();
    canvas_->update();
    if (!fleet)
        return;
    const double seconds = replay_.seconds();
    {
        const QSignalBlocker blocker(slider_);
        slider_->setValue(int(seconds));
    }
    clock_->setText(datetime::formatLabel(replay_.moment()) + QStringLiteral("  ") +
                    speedtext::format(replay_.speed()));
    if (!withList)
        return;
    listShown_.start();
    if (!jump_->hasFocus())
        setMoment(jump_, replay_.moment());
    vehicles_->setUpdatesEnabled(false);
    for (int i = 0; i < vehicles_->topLevelItemCount() && size_t(i) < fleet->vehicles.size(); ++i) {
        const VehicleTrack::Place place = fleet->vehicles[size_t(i)].at(seconds, fleet->maxGap);
        QTreeWidgetItem* row = vehicles_->topLevelItem(i);
        row->setText(1, replay_.speedText(place));
        row->setText(2, replay_.placeText(place));
        row->setForeground(2, place.presence == VehicleTrack::Presence::Moving ? palette().text()
                                                                               : QBrush(Qt::gray));
    }
    vehicles_->setUpdatesEnabled(true);
}

void FleetWindow::centreOn(int row) {
    const Fleet* fleet = replay_.fleet();
    if (!fleet || row < 0 || size_t(row) >= fleet->vehicles.size())
        return;
    const VehicleTrack& track = fleet->vehicles[size_t(row)];
    VehicleTrack::Place place = track.at(replay_.seconds(), fleet->maxGap);
    if (place.presence == VehicleTrack::Presence::BeforeFirst) {
        if (track.empty())
            throw VantrelError(
                QStringLiteral("У машины «%1» нет позиций за период").arg(track.name));
        place.lon = track.lon(0), place.lat = track.lat(0);
    }
    map_->CenterOn(place.lat, place.lon);
}

void FleetWindow::areaDrawn(FleetCanvas::Tool tool, QPointF from, QPointF to) {
    area_.reset();
    canvas_->setArea(std::nullopt);
    const Area area = tool == FleetCanvas::Tool::Circle
                          ? Area::circle(from.x(), from.y(),
                                         Area::metresBetween(from.x(), from.y(), to.x(), to.y()))
                          : Area::rectangle(from.x(), from.y(), to.x(), to.y());
    area_ = area;
    canvas_->setArea(area);
    areaText_->setText(area.description());
    askArea(area);
}

void FleetWindow::askArea(const Area& area) {
    const std::shared_ptr<const Fleet> fleet = replay_.sharedFleet();
    if (!fleet)
        return;
    const double from = momentOf(areaFrom_), to = momentOf(areaTo_);
    if (!(to > from))
        throw VantrelError(QStringLiteral("Конец промежутка должен быть позже его начала"));
    visitWatcher_.waitForFinished();
    setStatus(QStringLiteral("Ищу, кто был в области…"));
    visitWatcher_.setFuture(
        QtConcurrent::run([fleet, area, from, to] { return areaVisits(*fleet, area, from, to); }));
}

void FleetWindow::openSelectedInMain() {
    const Fleet* fleet = replay_.fleet();
    QTreeWidgetItem* row = vehicles_->currentItem();
    if (!fleet || !row)
        throw VantrelError(QStringLiteral("Выберите машину в списке"));
    const VehicleTrack& track = fleet->vehicles[size_t(vehicles_->indexOfTopLevelItem(row))];
    if (setup_.openInMain)
        setup_.openInMain(fleet->groupId, track.device, fleet->begin, fleet->end, replay_.moment());
}

void FleetWindow::setStatus(const QString& text) {
    status_->setText(text);
}

QString FleetWindow::statusText() const {
    return status_->text();
}
