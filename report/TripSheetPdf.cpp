// The trip sheet on A4 pages: a header, the trips, and per chosen trip its map and entry tables.
#include "AtomicFile.h"
#include "MapScene.h"
#include "MapStyle.h"
#include "TripSheet.h"
#include "VantrelError.h"

#include <QBuffer>
#include <QLocale>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <cmath>

namespace tripsheet {
namespace {

// Writes down the page, starting a new one (with its number at the foot) when full.
class Pages {
public:
    Pages(QPagedPaintDevice& writer, QPainter& painter) : writer_(writer), painter_(painter) {
        area_ = QRectF(QPointF(0, 0), QSizeF(writer.width(), writer.height()));
        footer();
    }
    double width() const { return area_.width(); }
    double room() const { return area_.height() - footerHeight() - y_; }
    void need(double height) {
        if (height > room())
            newPage();
    }
    void newPage() {
        writer_.newPage();
        ++page_;
        y_ = 0;
        footer();
    }
    void text(const QString& line, double points, bool bold = false) {
        QFont font = baseFont(points, bold);
        painter_.setFont(font);
        const double height = QFontMetricsF(font, &writer_).height() * 1.25;
        need(height);
        painter_.drawText(QRectF(0, y_, width(), height), Qt::AlignLeft | Qt::AlignVCenter, line);
        y_ += height;
    }
    void gap(double fraction = 0.5) {
        y_ += QFontMetricsF(baseFont(10, false), &writer_).height() * fraction;
    }
    void table(const TripSheet::Table& table) {
        const QFont font = baseFont(8.5, false), bold = baseFont(8.5, true);
        const double rowHeight = QFontMetricsF(font, &writer_).height() * 1.35;
        // Each column as wide as its widest text; all of them narrowed alike when the page is not.
        const QFontMetricsF boldMetrics(bold, &writer_), metrics(font, &writer_);
        std::vector<double> weights;
        for (int c = 0; c < table.header.size(); ++c) {
            double widest = boldMetrics.horizontalAdvance(table.header[c]);
            for (const QStringList& cells : table.rows)
                widest = std::max(widest, metrics.horizontalAdvance(cells.value(c)));
            weights.push_back(widest + rowHeight * 0.8);
        }
        double total = 0;
        for (double w : weights)
            total += w;
        total = std::max(total, width());
        const auto row = [&](const QStringList& cells, const QFont& f, bool shaded) {
            need(rowHeight);
            double x = 0;
            if (shaded)
                painter_.fillRect(QRectF(0, y_, width(), rowHeight), QColor(235, 235, 235));
            painter_.setFont(f);
            for (int c = 0; c < cells.size() && c < int(weights.size()); ++c) {
                const double w = width() * weights[size_t(c)] / total;
                painter_.drawText(QRectF(x + rowHeight * 0.2, y_, w - rowHeight * 0.4, rowHeight),
                                  Qt::AlignLeft | Qt::AlignVCenter, cells[c]);
                x += w;
            }
            painter_.setPen(QColor(200, 200, 200));
            painter_.drawLine(QPointF(0, y_ + rowHeight), QPointF(width(), y_ + rowHeight));
            painter_.setPen(Qt::black);
            y_ += rowHeight;
        };
        text(table.title, 11, true);
        row(table.header, bold, true);
        for (const QStringList& cells : table.rows) {
            if (rowHeight > room()) {
                newPage();
                row(table.header, bold, true); // the header again on the new page
            }
            row(cells, font, false);
        }
        gap();
    }
    // «Составил», «Проверил» and the date, each with a line to sign on.
    void signatures() {
        const QFont font = baseFont(10, false);
        const double height = QFontMetricsF(font, &writer_).height() * 2.2;
        need(height * 3);
        painter_.setFont(font);
        for (const QString& who :
             {QStringLiteral("Составил"), QStringLiteral("Проверил"), QStringLiteral("Дата")}) {
            const QRectF line(0, y_, width() * 0.6, height);
            painter_.drawText(line, Qt::AlignLeft | Qt::AlignBottom, who);
            painter_.drawLine(QPointF(width() * 0.18, y_ + height - 2),
                              QPointF(width() * 0.6, y_ + height - 2));
            y_ += height;
        }
        gap();
    }
    void image(const QImage& picture, const QString& caption) {
        const double height = width() * picture.height() / picture.width();
        need(height + 40);
        painter_.drawImage(QRectF(0, y_, width(), height), picture);
        painter_.setPen(QColor(120, 120, 120));
        painter_.drawRect(QRectF(0, y_, width(), height));
        painter_.setPen(Qt::black);
        y_ += height;
        if (!caption.isEmpty())
            text(caption, 7);
        gap();
    }

private:
    static QFont baseFont(double points, bool bold) {
        QFont font;
        font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
        font.setPointSizeF(points);
        font.setBold(bold);
        return font;
    }
    double footerHeight() const { return QFontMetricsF(baseFont(8, false), &writer_).height() * 2; }
    void footer() {
        painter_.save();
        painter_.setFont(baseFont(8, false));
        painter_.drawText(QRectF(0, area_.height() - footerHeight(), width(), footerHeight()),
                          Qt::AlignRight | Qt::AlignBottom,
                          QStringLiteral("Страница %1").arg(page_));
        painter_.restore();
    }
    QPagedPaintDevice& writer_;
    QPainter& painter_;
    QRectF area_;
    double y_ = 0;
    int page_ = 1;
};

QString span(double days) {
    const long long total = std::llround(std::max(days, 0.0) * 86400);
    return QStringLiteral("%1:%2:%3")
        .arg(total / 3600, 2, 10, QLatin1Char('0'))
        .arg(total % 3600 / 60, 2, 10, QLatin1Char('0'))
        .arg(total % 60, 2, 10, QLatin1Char('0'));
}

// The period's totals as the first page shows them, one line a figure.
TripSheet::Table totalsTable(const TripSheet::Totals& totals) {
    const auto number = [](double value, int decimals = 1) {
        return QLocale().toString(value, 'f', decimals);
    };
    TripSheet::Table table;
    table.title = QStringLiteral("Итоги за период");
    table.header = {QStringLiteral("Показатель"), QStringLiteral("Значение")};
    const double hours = totals.drivingDays * 24;
    table.rows = {
        {QStringLiteral("Рейсов"), QString::number(totals.trips)},
        {QStringLiteral("Пробег, км"), number(totals.metres / 1000)},
        {QStringLiteral("Время в движении"), span(totals.drivingDays)},
        {QStringLiteral("Время остановок в рейсах"), span(totals.stoppedDays)},
        {QStringLiteral("Наибольшая скорость, км/ч"), number(totals.topSpeed)},
        {QStringLiteral("Средняя скорость в движении, км/ч"),
         number(hours > 0 ? totals.metres / 1000 / hours : 0)},
        {QStringLiteral("Время превышения скорости"), span(totals.overSpeedDays)},
    };
    for (int tank = 0; tank < 2; ++tank)
        if (totals.filled[tank] > 0 || totals.drained[tank] > 0)
            table.rows.push_back({QStringLiteral("Бак %1: заправлено / слито, л").arg(tank + 1),
                                  number(totals.filled[tank]) + QStringLiteral(" / ") +
                                      number(totals.drained[tank])});
    for (const auto& [name, count] : totals.kindCounts)
        table.rows.push_back({name, QString::number(count)});
    return table;
}

// The trail over the base map, fitted to the trail, with the checkpoints as red circles.
QImage tripMap(const BaseMap& baseMap, const TripSheet::Trip& trip,
               const std::vector<TripSheet::Checkpoint>& checkpoints) {
    MapScene scene;
    scene.setBaseMap(baseMap);
    MapTable* table = scene.createTable();
    table->AddField(QStringLiteral("TEXT"), QStringLiteral("metr"), QStringLiteral("metr"));
    table->AddRecord();
    table->SetValue(QStringLiteral("L E ") + trip.trail, 0);
    scene.addLayer(QStringLiteral("name=outline;metrics=[metr]"), QStringLiteral("l rgb(0,0,0) 5"),
                   table);
    scene.addLayer(QStringLiteral("name=trail;metrics=[metr]"), QStringLiteral("l rgb(255,0,0) 3"),
                   table);
    const auto geometry = parseGeometry(QStringLiteral("L E ") + trip.trail);
    Viewport view;
    view.size = QSize(1600, 1000);
    if (geometry && !geometry->empty()) {
        QRectF bounds;
        for (const QPointF& p : *geometry) {
            const QPointF m = mercator::project(p.x(), p.y());
            bounds = bounds.isNull() ? QRectF(m, QSizeF(1e-6, 1e-6))
                                     : bounds.united(QRectF(m, QSizeF(1e-6, 1e-6)));
        }
        view.centre = bounds.center();
        view.scale = 1;
        const double wanted = std::max({bounds.width() / view.size.width(),
                                        bounds.height() / view.size.height(), 0.5}) *
                              1.15;
        view.scale = wanted / view.metresPerPixel();
    }
    QImage image(view.size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(painter, view);
    const double mpp = view.metresPerPixel();
    for (const TripSheet::Checkpoint& checkpoint : checkpoints) {
        const QPointF at = view.toScreen(mercator::project(checkpoint.lon, checkpoint.lat));
        const double r = checkpoint.radius / mpp / std::cos(checkpoint.lat * M_PI / 180);
        painter.setPen(QPen(QColor(200, 0, 0), 2));
        painter.setBrush(QColor(255, 0, 0, 70));
        painter.drawEllipse(at, r, r);
        draw::label(painter, at, checkpoint.name, 9, QColor(120, 0, 0));
    }
    return image;
}

} // namespace

void paint(const TripSheet& sheet, QPagedPaintDevice& device, const BaseMap& baseMap) {
    QPainter painter;
    if (!painter.begin(&device))
        throw VantrelError(QStringLiteral("Не удалось начать печать листа рейсов: устройство печати не открылось"));
    Pages pages(device, painter);
    pages.text(QStringLiteral("Рейсы машины"), 16, true);
    pages.text(QStringLiteral("Машина: %1, номер %2, прибор %3")
                   .arg(sheet.car, sheet.number)
                   .arg(sheet.device),
               11);
    pages.text(QStringLiteral("Группа: %1").arg(sheet.group), 11);
    pages.text(QStringLiteral("Период: с %1 по %2").arg(sheet.from, sheet.to), 11);
    pages.gap();
    pages.table(sheet.trips);
    pages.table(totalsTable(sheet.totals));
    pages.signatures();
    for (const TripSheet::Trip& trip : sheet.chosen) {
        pages.newPage();
        const QStringList& row = sheet.trips.rows[size_t(trip.number - 1)];
        pages.text(QStringLiteral("Рейс %1: с %2 по %3, %4 км")
                       .arg(trip.number)
                       .arg(row[1], row[2], row[4]),
                   13, true);
        pages.image(tripMap(baseMap, trip, sheet.checkpoints), baseMap.attribution());
        if (trip.entries.empty())
            pages.text(QStringLiteral("Информационных точек в рейсе нет"), 10);
        for (const TripSheet::Table& table : trip.entries)
            pages.table(table);
    }
    if (!painter.end())
        throw VantrelError(QStringLiteral("Не удалось завершить печать листа рейсов"));
}

void writePdf(const TripSheet& sheet, const QString& path, const QString& mapPath,
              const QStringList& mapFolders) {
    BaseMap baseMap;
    if (!mapPath.isEmpty())
        baseMap.load(mapPath, mapFolders); // without a map the trail is drawn on plain land
    // A special file or a link out of the folder is refused before the pages are laid out.
    AtomicFile::checkTarget(path);
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        writer.setResolution(150);
        writer.setTitle(QStringLiteral("Рейсы машины %1").arg(sheet.car));
        writer.setCreator(QStringLiteral("Плеер Vantrel"));
        paint(sheet, writer, baseMap);
    }
    if (!pdf.data().endsWith("%%EOF\n"))
        throw VantrelError(QStringLiteral("Не удалось записать файл %1: лист рейсов не сложился в PDF").arg(path));
    AtomicFile::save(path, pdf.data());
}

} // namespace tripsheet
