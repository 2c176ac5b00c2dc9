#include "TForm1.h"

#include "GlyphButton.h"
#include "IMapvexControl.h"
#include "IVantrelAutomation.h"
#include "InfoPointsController.h"
#include "MapController.h"
#include "MapLayers.h"
#include "MessageSink.h"
#include "PlaybackController.h"
#include "PlaybackTimer.h"
#include "SelectionController.h"
#include "SettingsController.h"
#include "UpDown.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// Typing limits of a line edit: at most `maxTyped` characters typed, and a character filter.
// Text set by the program keeps its length.
class TypingFilter : public QObject {
public:
    TypingFilter(QLineEdit* edit, int maxTyped, std::function<bool(QChar)> accepts)
        : QObject(edit), edit_(edit), maxTyped_(maxTyped), accepts_(std::move(accepts)) {
        edit->installEventFilter(this);
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
    : QMainWindow(parent), clock(environment.now), environment_(std::move(environment)) {
    setObjectName(QStringLiteral("Form1"));
    clock.PlaySpeed = 600;
    createControls();

    auto* mapLayout = new QVBoxLayout(Panel1);
    mapLayout->setContentsMargins(0, 0, 0, 0);
    const PlayerEnvironment::MapParts parts = environment_.createMap(Panel1);
    mapControl = parts.control;
    if (parts.widget) {
        MapvexCtrl = parts.widget;
        MapvexCtrl->setObjectName(QStringLiteral("MapvexCtrl"));
        mapLayout->addWidget(MapvexCtrl);
    }
    mapLayers = std::make_unique<MapLayers>(*mapControl);

    selection_ = std::make_unique<SelectionController>(*this);
    playback_ = std::make_unique<PlaybackController>(*this);
    infoPoints_ = std::make_unique<InfoPointsController>(*this);
    map_ = std::make_unique<MapController>(*this);
    settings_ = std::make_unique<SettingsController>(*this);
    connectHandlers();
    setWindowState(windowState() | Qt::WindowMaximized);
}

TForm1::~TForm1() { FormDestroy(); }

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
    connect(TrackBar, &QSlider::valueChanged, this, [this] { playback_->onTrackBarValueChanged(); });
    connect(cmbSpeed->lineEdit(), &QLineEdit::textEdited, this,
            [this] { guarded([this] { playback_->cmbSpeedChange(); }); });
    connect(cmbSpeed, &QComboBox::activated, this,
            [this] { guarded([this] { playback_->cmbSpeedChange(); }); });
    new TypingFilter(cmbSpeed->lineEdit(), 4,
                     [this](QChar key) { return playback_->cmbSpeedKeyPress(key); });
    connect(UpDown1, &UpDown::changingEx, this, [this](UpDown::Direction direction) {
        guarded([this, direction] { playback_->UpDown1ChangingEx(direction); });
    });

    new TypingFilter(txtCont, 4, [](QChar) { return true; });
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
}

void TForm1::setLabel(QLabel* label, const QString& text) {
    if (label->text() != text)
        label->setText(text);
}

void TForm1::guarded(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& error) {
        reportError(error);
    }
}

void TForm1::reportError(const std::exception& error) {
    environment_.messages->showMessage(QString::fromUtf8(error.what()),
                                       QCoreApplication::applicationName());
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
    for (QLabel* label : {lblDate, lblSpeed, lblDistance})
        shadeBehind(label, {label->geometry().right() - 2, label->geometry().center().y()});
    shadeBehind(TrackBar, TrackBar->geometry().topRight() + QPoint(-1, 1));
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_)
        return;
    makePlaybackControlsOpaque();
    shown_ = true;
    // Start-up runs once the window is on the screen, from the message loop.
    QTimer::singleShot(0, this, [this] { FormShow(); });
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormDestroy();
    QMainWindow::closeEvent(event);
}

void TForm1::FormShow() {
    shown_ = true;
    try {
        server = environment_.createServer();
        server->StartServer();
    } catch (const std::exception&) {
        environment_.messages->showMessage(QStringLiteral("Ошибка запуска ПО Vantrel"),
                                           QStringLiteral("Ошибка"));
    }
    if (server) {
        server->RegisterHandler(AutomationEvent::OnEndComputing, this, [this] {
            guarded([this] { selection_->ServerEndComputing(); });
        });
        server->RegisterHandler(AutomationEvent::OnCloseServer, this, [this] { ServerClosed(); });
        server->RegisterHandler(AutomationEvent::OnReceiveOnlineData, this, [this] {
            guarded([this] { selection_->ServerReceiveOnlineData(); });
        });
    }
    guarded([this] {
        map_->CreateMapTables();
        try {
            infoPoints_->FillTripList();
        } catch (const std::exception&) {
            // A server without a result yet has no trips to list.
        }
        selection_->LoadGroups();
        settings_->LoadSettings();
        settings_->FillInfoPointKinds();
        CarMarkerTexts = QStringList{QString(), QString(), QString()};
        OpenMap(MapPath);
    });
}

void TForm1::FormDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    playback_->btnStopClick();
    settings_->SaveSettings();
}

void TForm1::ServerClosed() {
    server = nullptr;
    ListView1->setEnabled(false);
}

bool TForm1::OpenMap(const QString& path) {
    const int code = mapControl->LoadMap(path, QString());
    if (code != 0)
        environment_.messages->showMessage(mapLoadFailureText(path, code), QString());
    return code == 0;
}
