// The window's controls at their design values.
#include "Anchors.h"
#include "GlyphButton.h"
#include "ImageLists.h"
#include "PlaybackTimer.h"
#include "TForm1.h"

#include "EventRibbon.h"
#include "UpDown.h"
#include "ValueLabel.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QSplitter>
#include <QTimeEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

namespace {

const QDate kDesignDate(2009, 2, 6);

QFont sansFont(int pixelSize, bool bold = false, bool arialFirst = false) {
    QFont font;
    font.setFamilies(arialFirst ? QStringList{"Arial", "Liberation Sans", "Tahoma", "DejaVu Sans"}
                                : QStringList{"Tahoma", "Arial", "Liberation Sans", "DejaVu Sans"});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

template <typename T> T* named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, bool bold = false) {
    auto* result = named(new QLabel(text, parent), name);
    result->setTextFormat(Qt::PlainText); // texts from the server or the clock are never markup
    if (bold)
        result->setFont(sansFont(12, true));
    return result;
}

QFrame* bevel(QWidget* parent, const char* name, bool horizontal) {
    auto* frame = named(new QFrame(parent), name);
    frame->setFrameShape(horizontal ? QFrame::HLine : QFrame::VLine);
    frame->setFrameShadow(QFrame::Sunken);
    return frame;
}

QGroupBox* groupBox(QWidget* parent, const char* name, const QString& title) {
    auto* box = named(new QGroupBox(title, parent), name);
    QFont titleFont = sansFont(11, false, true);
    box->setFont(titleFont);
    return box;
}

QComboBox* dropDownList(QWidget* parent, const char* name) {
    auto* combo = named(new QComboBox(parent), name);
    combo->setEditable(false);
    combo->setFont(sansFont(11));
    return combo;
}

QToolButton* toolButton(QWidget* parent, const char* name, int image, const QString& hint,
                        bool checkable) {
    auto* button = named(new QToolButton(parent), name);
    button->setIcon(imagelists::toolBarImage(image));
    button->setIconSize(QSize(16, 16));
    button->setToolTip(hint);
    button->setCheckable(checkable);
    button->setChecked(checkable);
    button->setAutoRaise(true);
    button->setFixedSize(22, 22);
    return button;
}

} // namespace

void TForm1::createControls() {
    setWindowTitle(QStringLiteral("Плеер \"Vantrel\" для программы \"Tessarin\""));
    setFont(sansFont(11));
    resize(873, 668);

    Splitter1 = named(new QSplitter(Qt::Horizontal, this), "Splitter1");
    Splitter1->setHandleWidth(5);
    Splitter1->setChildrenCollapsible(false);
    setCentralWidget(Splitter1);

    Panel2 = named(new QWidget(Splitter1), "Panel2");
    Panel2->setMinimumWidth(266);
    Panel1 = named(new QWidget(Splitter1), "Panel1");
    Splitter1->addWidget(Panel2);
    Splitter1->addWidget(Panel1);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({266, 873 - 266 - 5});

    createSelectionBox();
    createInfoPointsBox();
    createPlayerBox();
    createInfoPanel();

    auto* panel = new Anchors(Panel2, 266);
    panel->place(GroupBox3, {6, 6, 255, 171}, Anchors::Stretch);
    panel->place(GroupBox2, {7, 179, 254, 213}, Anchors::Stretch);
    panel->place(GroupBox4, {6, 398, 254, 154}, Anchors::Stretch);
    panel->place(GroupBox5, {6, 545, 254, 86}, Anchors::Stretch);
    Label10 = named(new ValueLabel(QStringLiteral("Label10"), Panel2), "Label10");
    Label10->setAutoFillBackground(true);
    panel->place(Label10, {147, 645, 100, 14});

    Timer1 = named(new PlaybackTimer(this), "Timer1");
    createPopupMenu1();
}

void TForm1::createSelectionBox() {
    GroupBox3 = groupBox(Panel2, "GroupBox3", QStringLiteral("Выбор периода и ТС"));
    auto* a = new Anchors(GroupBox3, 255);
    Label12 = label(GroupBox3, "Label12", QStringLiteral("с"));
    a->place(Label12, {9, 22, 16, 14});
    DateBegin = named(new QDateEdit(kDesignDate, GroupBox3), "DateBegin");
    DateBegin->setCalendarPopup(true);
    DateBegin->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    a->place(DateBegin, {29, 17, 156, 21}, Anchors::Stretch);
    TimeBegin = named(new QTimeEdit(QTime(0, 0), GroupBox3), "TimeBegin");
    TimeBegin->setDisplayFormat(QStringLiteral("H:mm"));
    a->place(TimeBegin, {186, 17, 56, 21}, Anchors::Right);
    Label14 = label(GroupBox3, "Label14", QStringLiteral("по"));
    a->place(Label14, {9, 41, 18, 14});
    DateEnd = named(new QDateEdit(kDesignDate, GroupBox3), "DateEnd");
    DateEnd->setCalendarPopup(true);
    DateEnd->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    a->place(DateEnd, {29, 37, 156, 21}, Anchors::Stretch);
    TimeEnd = named(new QTimeEdit(QTime(0, 0), GroupBox3), "TimeEnd");
    TimeEnd->setDisplayFormat(QStringLiteral("H:mm"));
    a->place(TimeEnd, {186, 37, 56, 21}, Anchors::Right);
    Bevel4 = bevel(GroupBox3, "Bevel4", true);
    a->place(Bevel4, {9, 64, 237, 2}, Anchors::Stretch);

    const struct {
        QLabel** label;
        const char* labelName;
        const char* text;
        QComboBox** combo;
        const char* comboName;
        int top;
    } rows[] = {
        {&Label2, "Label2", "Группа:", &cmbGroupName, "cmbGroupName", 70},
        {&Label4, "Label4", "Название:", &cmbCarName, "cmbCarName", 90},
        {&Label5, "Label5", "Номер ТС:", &cmbCarNum, "cmbCarNum", 110},
        {&Label6, "Label6", "№ прибора:", &cmbCarDevice, "cmbCarDevice", 130},
    };
    for (const auto& row : rows) {
        *row.label = label(GroupBox3, row.labelName, QString::fromUtf8(row.text), true);
        a->place(*row.label, {9, row.top + 2, 80, 15});
        *row.combo = dropDownList(GroupBox3, row.comboName);
        a->place(*row.combo, {91, row.top, 151, 21}, Anchors::Stretch);
    }
    cmbGroupName->setMaxVisibleItems(5);
    Label13 = label(GroupBox3, "Label13", QStringLiteral("№ рейса:"), true);
    a->place(Label13, {9, 153, 80, 15});
    lblTripNum = label(GroupBox3, "lblTripNum", QStringLiteral("N/A"), true);
    a->place(lblTripNum, {95, 153, 100, 15});
}

void TForm1::createInfoPointsBox() {
    GroupBox2 = groupBox(Panel2, "GroupBox2", QStringLiteral("Информационные точки"));
    auto* a = new Anchors(GroupBox2, 254);
    cmbInfoPoints = dropDownList(GroupBox2, "cmbInfoPoints");
    cmbInfoPoints->addItem(QStringLiteral("Список рейсов"), 0);
    cmbInfoPoints->setCurrentIndex(0);
    a->place(cmbInfoPoints, {14, 14, 229, 22}, Anchors::Stretch);

    ListView1 = named(new QTreeWidget(GroupBox2), "ListView1");
    ListView1->setFont(sansFont(11));
    ListView1->setColumnCount(4);
    ListView1->setHeaderLabels({QStringLiteral("ID"), QStringLiteral("Начало"),
                                QStringLiteral("Конец"), QStringLiteral("Прод-ть")});
    const int widths[] = {25, 80, 80, 75};
    for (int c = 0; c < 4; ++c)
        ListView1->setColumnWidth(c, widths[c]);
    ListView1->header()->setSectionsClickable(false);
    ListView1->header()->setStretchLastSection(false);
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setAllColumnsShowFocus(true);
    a->place(ListView1, {1, 42, 251, 141}, Anchors::Stretch);

    Label15 = label(GroupBox2, "Label15", QStringLiteral("Продолжительность от, с:"));
    a->place(Label15, {28, 188, 160, 16}, Anchors::Centre);
    txtCont = named(new QLineEdit(QStringLiteral("6"), GroupBox2), "txtCont");
    a->place(txtCont, {193, 187, 30, 22}, Anchors::Centre);
    UpDown2 = named(new UpDown(0, 9999, 6, GroupBox2), "UpDown2");
    a->place(UpDown2, {223, 187, 16, 22}, Anchors::Centre);
}

void TForm1::createPlayerBox() {
    GroupBox4 = groupBox(Panel2, "GroupBox4", QStringLiteral("Управление плеером треков"));
    auto* a = new Anchors(GroupBox4, 254);
    btnPlay = named(new GlyphButton(QStringLiteral("4"), 20, GroupBox4), "btnPlay");
    a->place(btnPlay, {17, 17, 24, 24}, Anchors::Centre);
    btnStop = named(new GlyphButton(QStringLiteral("<"), 19, GroupBox4), "btnStop");
    a->place(btnStop, {57, 17, 24, 24}, Anchors::Centre);
    Bevel2 = bevel(GroupBox4, "Bevel2", false);
    a->place(Bevel2, {90, 15, 2, 34}, Anchors::Centre);

    ToolBar1 = named(new QToolBar(GroupBox4), "ToolBar1");
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setMovable(false); // no handle: the six items fill the bar's design width
    ToolBar1->setFloatable(false);
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar { spacing: 0px; padding: 0px; border: none; }"));
    ToolBar1->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setSpacing(0);
    ToolButton4 = toolButton(ToolBar1, "ToolButton4", 28, QStringLiteral("Трэк"), true);
    ToolButton1 = toolButton(ToolBar1, "ToolButton1", 9, QStringLiteral("Контрольные точки"), true);
    ToolButton2 =
        toolButton(ToolBar1, "ToolButton2", 10, QStringLiteral("Информационные точки"), true);
    SpeedButton1 = named(new GlyphButton(QStringLiteral("6"), 12, ToolBar1), "SpeedButton1");
    SpeedButton1->setFlat(true);
    SpeedButton1->setFixedSize(16, 22);
    ToolButton3 = toolButton(ToolBar1, "ToolButton3", 29, QStringLiteral("Пропуск остановок"), true);
    btnSettings = toolButton(ToolBar1, "btnSettings", 30, QStringLiteral("Настройки"), false);
    for (QWidget* item : {static_cast<QWidget*>(ToolButton4), static_cast<QWidget*>(ToolButton1),
                          static_cast<QWidget*>(ToolButton2), static_cast<QWidget*>(SpeedButton1),
                          static_cast<QWidget*>(ToolButton3), static_cast<QWidget*>(btnSettings)})
        ToolBar1->addWidget(item);
    a->place(ToolBar1, {109, 18, 132, 25}, Anchors::Centre);

    Bevel3 = bevel(GroupBox4, "Bevel3", true);
    a->place(Bevel3, {9, 50, 236, 2}, Anchors::Stretch);
    Label8 = label(GroupBox4, "Label8", QStringLiteral("Скорость воспроизведения:"));
    a->place(Label8, {22, 64, 170, 15}, Anchors::Centre);
    cmbSpeed = named(new QComboBox(GroupBox4), "cmbSpeed");
    cmbSpeed->setEditable(true);
    cmbSpeed->setInsertPolicy(QComboBox::NoInsert);
    cmbSpeed->setCompleter(nullptr);
    cmbSpeed->setStyleSheet(
        QStringLiteral("QComboBox::drop-down { width: 0px; border: none; } "
                       "QComboBox { padding-right: 0px; }"));
    for (const char* speed : {"600x", "300x", "100x", "60x", "30x", "10x", "6x", "3x", "1x"})
        cmbSpeed->addItem(QString::fromLatin1(speed));
    cmbSpeed->setCurrentIndex(0);
    a->place(cmbSpeed, {193, 60, 35, 21}, Anchors::Centre);
    UpDown1 = named(new UpDown(0, 100, 50, GroupBox4), "UpDown1");
    a->place(UpDown1, {228, 60, 17, 21}, Anchors::Centre);
    Bevel1 = bevel(GroupBox4, "Bevel1", true);
    a->place(Bevel1, {9, 90, 236, 2}, Anchors::Stretch);
    Label9 = label(GroupBox4, "Label9", QStringLiteral("Полоса прокрутки трека"));
    a->place(Label9, {68, 97, 150, 15}, Anchors::Centre);
    TrackBar = named(new QSlider(Qt::Horizontal, GroupBox4), "TrackBar");
    TrackBar->setRange(0, 10);
    TrackBar->setValue(0);
    TrackBar->setTickPosition(QSlider::TicksBelow);
    a->place(TrackBar, {1, 114, 250, 28}, Anchors::Stretch);
    // The trip's events on the track bar's time axis, in the strip below its ticks.
    eventRibbon = new EventRibbon(*TrackBar, GroupBox4);
    eventRibbon->setObjectName(QStringLiteral("eventRibbon"));
    a->place(eventRibbon, {1, 141, 250, 5}, Anchors::Stretch);
}

void TForm1::createInfoPanel() {
    GroupBox5 = groupBox(Panel2, "GroupBox5", QStringLiteral("Информационная панель"));
    auto* a = new Anchors(GroupBox5, 254);
    Label1 = label(GroupBox5, "Label1", QStringLiteral("Дата:"));
    a->place(Label1, {16, 20, 50, 15});
    lblDate = named(new ValueLabel(QStringLiteral("0"), GroupBox5), "lblDate");
    a->place(lblDate, {72, 20, 175, 15});
    Label7 = label(GroupBox5, "Label7", QStringLiteral("Скорость:"));
    a->place(Label7, {16, 42, 55, 15});
    lblSpeed = named(new ValueLabel(QStringLiteral("0 км/ч"), GroupBox5), "lblSpeed");
    a->place(lblSpeed, {72, 42, 175, 15});
    Label3 = label(GroupBox5, "Label3", QStringLiteral("Пробег:"));
    a->place(Label3, {16, 63, 55, 15});
    lblDistance = named(new ValueLabel(QStringLiteral("0 м"), GroupBox5), "lblDistance");
    a->place(lblDistance, {72, 63, 175, 15});
}

void TForm1::createPopupMenu1() {
    PopupMenu1 = named(new QMenu(this), "PopupMenu1");
    const struct {
        const char* name;
        const char* caption;
        int image; // -1: a separator
    } items[] = {
        {"mnu2", "Остановки", 0}, {"mnu3", "Сигнал", 1},    {"mnu4", "Питание", 2},
        {"mnu5", "Скорость", 3},  {"N5", "", -1},           {"mnu6", "Бак 1", 4},
        {"mnu7", "Бак 2", 5},     {"N6", "", -1},           {"mnu8", "Датчик 1", 6},
        {"mnu9", "Датчик 2", 7},  {"mnu10", "Датчик 3", 8}, {"mnu11", "Датчик 4", 9},
        {"mnu12", "Датчик 5", 10}, {"mnu13", "Датчик 6", 11},
    };
    for (const auto& item : items) {
        QAction* action = item.image < 0 ? PopupMenu1->addSeparator()
                                         : PopupMenu1->addAction(QString::fromUtf8(item.caption));
        action->setObjectName(QString::fromLatin1(item.name));
        if (item.image >= 0) {
            action->setCheckable(true);
            action->setChecked(true);
            action->setIcon(imagelists::menuImage(item.image));
        }
    }
}
