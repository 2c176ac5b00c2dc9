// The trip sheet on A4 pages: a header, the trips, and per chosen trip its map and entry tables.
#include "BaseMap.h"
#include "PdfDocumentInfo.h"
#include "PdfFile.h"
#include "TripMap.h"
#include "TripSheet.h"
#include "VantrelError.h"

#include <QLocale>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <cmath>
#include <numeric>

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
        // A long name wraps within the page instead of running off it.
        const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWrapAnywhere;
        const QFontMetricsF metrics(font, &writer_);
        const double height =
            std::max(metrics.height() * 1.25,
                     metrics.boundingRect(QRectF(0, 0, width(), 1e9), flags, line).height() +
                         metrics.height() * 0.25);
        need(std::min(height, area_.height() / 2));
        painter_.drawText(QRectF(0, y_, width(), height), flags, line);
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
            weights.push_back(widest + rowHeight * 0.5);
        }
        double total = 0;
        for (double w : weights)
            total += w;
        if (total > width()) {
            // Too wide: the narrow columns keep their width, the wide ones share what is left.
            std::vector<size_t> order(weights.size());
            std::iota(order.begin(), order.end(), size_t(0));
            std::sort(order.begin(), order.end(),
                      [&](size_t a, size_t b) { return weights[a] < weights[b]; });
            double left = width();
            for (size_t k = 0; k < order.size(); ++k) {
                weights[order[k]] = std::min(weights[order[k]], left / double(order.size() - k));
                left -= weights[order[k]];
            }
            total = width();
        }
        const auto row = [&](const QStringList& cells, const QFont& f, bool shaded) {
            need(rowHeight);
            double x = 0;
            if (shaded)
                painter_.fillRect(QRectF(0, y_, width(), rowHeight), QColor(235, 235, 235));
            painter_.setFont(f);
            for (int c = 0; c < cells.size() && c < int(weights.size()); ++c) {
                const double w = width() * weights[size_t(c)] / total;
                const double room = w - rowHeight * 0.4;
                painter_.drawText(
                    QRectF(x + rowHeight * 0.2, y_, room, rowHeight),
                    Qt::AlignLeft | Qt::AlignVCenter,
                    QFontMetricsF(f, &writer_).elidedText(cells[c], Qt::ElideRight, room));
                x += w;
            }
            painter_.setPen(QColor(200, 200, 200));
            painter_.drawLine(QPointF(0, y_ + rowHeight), QPointF(width(), y_ + rowHeight));
            painter_.setPen(Qt::black);
            y_ += rowHeight;
        };
        need(rowHeight * 5); // the title, the header and a first row stay together
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
    // The rest of the page's width for a map `ratio` as high as wide, at most `share` of the page.
    QRectF mapArea(double ratio, double share) {
        const double height = std::min(width() * ratio, area_.height() * share);
        need(height);
        const QRectF area(0, y_, width(), height);
        y_ += height;
        gap();
        return area;
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

// A trip's events in one table in time order; the first column is the number of its marker.
TripSheet::Table eventsTable(const TripSheet::Trip& trip) {
    TripSheet::Table table;
    table.title = QStringLiteral("События рейса");
    table.header = {QStringLiteral("№"),
                    QStringLiteral("Событие"),
                    QStringLiteral("Начало"),
                    QStringLiteral("Конец"),
                    QStringLiteral("Длительность"),
                    QStringLiteral("Место / значение")};
    for (size_t e = 0; e < trip.events.size(); ++e) {
        const TripSheet::Event& event = trip.events[e];
        QString place = event.value;
        if (place.isEmpty())
            place = std::isfinite(event.lon)
                        ? QStringLiteral("%1, %2").arg(QLocale().toString(event.lat, 'f', 5),
                                                       QLocale().toString(event.lon, 'f', 5))
                        : QStringLiteral("нет координат");
        // The end's date only when it is not the begin's: the kind's name keeps its room.
        const QString end =
            event.end.left(11) == event.begin.left(11) ? event.end.mid(11) : event.end;
        table.rows.push_back(
            {QString::number(e + 1), event.kind, event.begin, end, event.duration, place});
    }
    return table;
}

} // namespace

void paint(const TripSheet& sheet, QPagedPaintDevice& device, const BaseMap& baseMap,
           const TripReader& trips, const Progress& progress) {
    QPainter painter;
    if (!painter.begin(&device))
        throw VantrelError(QStringLiteral(
            "Не удалось начать печать листа рейсов: устройство печати не открылось"));
    Pages pages(device, painter);
    pages.text(QStringLiteral("Рейсы машины"), 16, true);
    pages.text(QStringLiteral("Машина: %1, номер %2, прибор %3")
                   .arg(sheet.car, sheet.number)
                   .arg(sheet.device),
               11);
    pages.text(QStringLiteral("Группа: %1").arg(sheet.group), 11);
    pages.text(QStringLiteral("Период: с %1 по %2").arg(sheet.from, sheet.to), 11);
    pages.gap();
    pages.table(totalsTable(sheet.totals));
    pages.signatures();
    pages.table(sheet.trips);
    const bool landscape = device.width() > device.height();
    const int total = int(sheet.chosen.size());
    for (int done = 0; done < total; ++done) {
        if (progress && !progress(done, total))
            throw Cancelled();
        const TripSheet::Trip trip =
            trips(sheet.chosen[size_t(done)]); // one trip's points at a time
        pages.newPage();
        const QStringList& row = sheet.trips.rows[size_t(trip.number - 1)];
        pages.text(QStringLiteral("Рейс %1: с %2 по %3, %4 км")
                       .arg(trip.number)
                       .arg(row[1], row[2], row[4]),
                   13, true);
        tripmap::draw(painter, pages.mapArea(landscape ? 0.62 : 0.8, landscape ? 0.72 : 0.55),
                      device.logicalDpiX(), baseMap, trip, sheet.checkpoints);
        if (trip.events.empty())
            pages.text(QStringLiteral("Событий в рейсе нет"), 10);
        else
            pages.table(eventsTable(trip));
    }
    if (!painter.end())
        throw VantrelError(QStringLiteral("Не удалось завершить печать листа рейсов"));
}

void writePdf(const TripSheet& sheet, const QString& path, const QString& mapPath,
              const TripReader& trips, const PageOptions& options, const QStringList& mapFolders,
              const Progress& progress) {
    BaseMap baseMap;
    if (!mapPath.isEmpty())
        baseMap.load(mapPath, mapFolders); // without a map the trail is drawn on plain land
    PdfDocumentInfo info;
    info.title = QStringLiteral("Рейсы машины %1").arg(sheet.car);
    info.author = options.author.isEmpty() ? QStringLiteral("Vantrel") : options.author;
    info.subject = QStringLiteral("%1, номер %2: с %3 по %4")
                       .arg(sheet.car, sheet.number, sheet.from, sheet.to);
    info.creator = QStringLiteral("Плеер Vantrel");
    // A special file or a link out of the folder is refused before the pages are laid out.
    PdfFile file(path);
    {
        QPdfWriter writer(&file);
        writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
        writer.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4),
                        options.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                        QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
        writer.setResolution(300);
        writer.setTitle(info.title);
        writer.setCreator(info.creator);
        writer.setDocumentXmpMetadata(info.xmp());
        paint(sheet, writer, baseMap, trips, progress);
    }
    file.finish(info);
}

} // namespace tripsheet
